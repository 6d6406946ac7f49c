#include "tools/report.h"

#include <cstdarg>
#include <cstdio>

namespace {

const char* const kSideNames[2] = {"left", "right"};

void Append(std::string& out, const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (n > 0) out.append(buf, static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1);
}

double Seconds(std::int64_t frame, double rate) { return rate > 0.0 ? static_cast<double>(frame) / rate : 0.0; }

nlohmann::json ComponentsToJson(const std::vector<SpectralComponent>& list) {
  nlohmann::json a = nlohmann::json::array();
  for (const SpectralComponent& c : list) a.push_back({{"frequency_hz", c.FrequencyHz}, {"level_dbfs", c.LevelDbfs}});
  return a;
}

}  // namespace

std::string FormatReportTable(const AnalysisReport& report) {
  std::string out;
  Append(out, "File: %s  (%.0f Hz, %lld frames, %.3f s)\n", report.FileName.c_str(), report.SampleRate,
         static_cast<long long>(report.Frames), Seconds(report.Frames, report.SampleRate));
  out += "Levels in dBFS: 0 dBFS = sine of peak 32767\n";
  if (report.Segments.empty()) out += "\nNo samples.\n";
  for (std::size_t i = 0; i < report.Segments.size(); ++i) {
    const SegmentReport& seg = report.Segments[i];
    Append(out, "\nSegment %zu: %.3f-%.3f s (frames %lld-%lld)\n", i + 1, Seconds(seg.Span.Start, report.SampleRate),
           Seconds(seg.Span.End, report.SampleRate), static_cast<long long>(seg.Span.Start),
           static_cast<long long>(seg.Span.End));
    for (int s = 0; s < 2; ++s) {
      const SideReport& side = seg.Side[s];
      Append(out, "  %-5s  peak word %d  DC %.2f", kSideNames[s], side.PeakWord, side.DcWord);
      if (side.HasSfdr)
        Append(out, "  SFDR %.2f dB", side.SfdrDb);
      else
        out += "  SFDR -";
      if (side.HasThdN)
        Append(out, "  THD+N %.2f dB\n", side.ThdNDb);
      else
        out += "  THD+N -\n";
      if (side.Tones.empty()) out += "         no tone\n";
      for (const SpectralComponent& c : side.Tones)
        Append(out, "         tone  %10.2f Hz  %8.2f dBFS\n", c.FrequencyHz, c.LevelDbfs);
      for (const SpectralComponent& c : side.Spurs)
        Append(out, "         spur  %10.2f Hz  %8.2f dBFS\n", c.FrequencyHz, c.LevelDbfs);
    }
  }
  return out;
}

nlohmann::json ReportToJson(const AnalysisReport& report) {
  nlohmann::json doc;
  doc["file"] = report.FileName;
  doc["sample_rate"] = report.SampleRate;
  doc["frames"] = report.Frames;
  doc["level_convention"] = "0 dBFS = sine of peak 32767";
  doc["warnings"] = report.Warnings;
  doc["segments"] = nlohmann::json::array();
  for (const SegmentReport& seg : report.Segments) {
    nlohmann::json j;
    j["start_frame"] = seg.Span.Start;
    j["end_frame"] = seg.Span.End;
    j["start_s"] = Seconds(seg.Span.Start, report.SampleRate);
    j["end_s"] = Seconds(seg.Span.End, report.SampleRate);
    for (int s = 0; s < 2; ++s) {
      const SideReport& side = seg.Side[s];
      nlohmann::json k;
      k["tones"] = ComponentsToJson(side.Tones);
      k["spurs"] = ComponentsToJson(side.Spurs);
      k["sfdr_db"] = side.HasSfdr ? nlohmann::json(side.SfdrDb) : nlohmann::json(nullptr);
      k["thd_n_db"] = side.HasThdN ? nlohmann::json(side.ThdNDb) : nlohmann::json(nullptr);
      k["peak_word"] = side.PeakWord;
      k["min_word"] = side.MinWord;
      k["max_word"] = side.MaxWord;
      k["dc_word"] = side.DcWord;
      k["noise_floor_dbfs_per_bin"] =
          side.NoiseFloorDbfs > -400.0 ? nlohmann::json(side.NoiseFloorDbfs) : nlohmann::json(nullptr);
      j[kSideNames[s]] = k;
    }
    doc["segments"].push_back(j);
  }
  return doc;
}

std::string FormatReportJson(const AnalysisReport& report) {
  return ReportToJson(report).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}
