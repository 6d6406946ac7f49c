#include "tools/plot.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace {

constexpr int kBands = 1500;

// A gnuplot single-quoted string: only the quote itself needs escaping, by
// doubling it.
std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    if (c == '\n' || c == '\r') c = ' ';
    out += c;
  }
  return out + "'";
}

// Runs gnuplot on `script` with its output discarded. Answers its exit
// status, or -1 when it could not be started.
int RunGnuplot(const std::string& script) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::string prog = "gnuplot";
  char* argv[] = {prog.data(), const_cast<char*>(script.c_str()), nullptr};
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, "gnuplot", &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string WriteScript(const std::string& terminal, const std::string& pngPath, const std::string& dataPath,
                        const AnalysisReport& report) {
  std::string s;
  s += "set terminal " + terminal + " size 1200,900\n";
  s += "set output " + Quoted(pngPath) + "\n";
  s += "set multiplot layout 2,1 title " + Quoted("Spectrum of " + report.FileName) + " noenhanced\n";
  s += "set logscale x\nset grid\nset key outside right top noenhanced\n";
  char range[128];
  std::snprintf(range, sizeof range, "set xrange [10:%g]\nset yrange [-180:0]\n", report.SampleRate / 2.0);
  s += range;
  s += "set xlabel 'Frequency (Hz)'\nset ylabel 'Level (dBFS, 0 = sine of peak 32767)'\n";
  const char* const sides[2] = {"Left", "Right"};
  for (int side = 0; side < 2; ++side) {
    s += std::string("set title '") + sides[side] + "'\nplot ";
    for (std::size_t i = 0; i < report.Segments.size(); ++i) {
      const SegmentReport& seg = report.Segments[i];
      char title[96];
      std::snprintf(title, sizeof title, "segment %zu (%.3f-%.3f s)", i + 1,
                    static_cast<double>(seg.Span.Start) / report.SampleRate,
                    static_cast<double>(seg.Span.End) / report.SampleRate);
      if (i > 0) s += ", ";
      s += Quoted(dataPath) + " index " + std::to_string(2 * i + static_cast<std::size_t>(side)) +
           " using 1:2 with lines title " + Quoted(title);
    }
    s += "\n";
  }
  s += "unset multiplot\n";
  return s;
}

}  // namespace

bool DrawSpectrumPicture(const WavRecording& wav, const AnalysisReport& report, const std::string& pngPath,
                         std::string& error) {
  if (report.Segments.empty()) {
    error = "nothing to draw: the recording has no samples";
    return false;
  }
  std::error_code ec;
  std::string base = std::filesystem::temp_directory_path(ec).string();
  if (ec) base = "/tmp";
  std::string folder = base + "/kq-analyze-XXXXXX";
  if (mkdtemp(folder.data()) == nullptr) {
    error = "cannot create a temporary folder: " + std::string(std::strerror(errno));
    return false;
  }
  const std::string dataPath = folder + "/spectrum.dat";
  const std::string scriptPath = folder + "/spectrum.gp";
  bool ok = false;
  {
    // Blocks in order segment 1 left, segment 1 right, segment 2 left, ...
    std::ofstream data(dataPath);
    data.precision(10);
    for (const SegmentReport& seg : report.Segments) {
      for (const std::vector<std::int16_t>* side : {&wav.Left, &wav.Right}) {
        const SpectrumCurve c =
            ComputeSpectrumCurve(side->data() + seg.Span.Start, seg.Span.End - seg.Span.Start, wav.SampleRate, kBands);
        data << "# frequency_hz level_dbfs\n";
        if (c.FrequencyHz.empty()) data << "1 -200\n";
        for (std::size_t i = 0; i < c.FrequencyHz.size(); ++i)
          data << c.FrequencyHz[i] << ' ' << c.LevelDbfs[i] << '\n';
        data << "\n\n";
      }
    }
    ok = static_cast<bool>(data);
  }
  if (!ok) error = "cannot write the plot data";
  int status = -1;
  for (const char* terminal : {"pngcairo", "png"}) {
    if (!ok) break;
    std::ofstream script(scriptPath, std::ios::trunc);
    script << WriteScript(terminal, pngPath, dataPath, report);
    script.close();
    status = RunGnuplot(scriptPath);
    if (status == 0 || status == -1) break;
  }
  if (ok && status == -1) {
    error = "cannot run gnuplot";
    ok = false;
  } else if (ok && status != 0) {
    error = "gnuplot failed (exit status " + std::to_string(status) + ")";
    ok = false;
  }
  std::filesystem::remove_all(folder, ec);
  return ok;
}
