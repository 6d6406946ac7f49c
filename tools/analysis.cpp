// Measuring one side of a segment: its components, which of them are tones,
// SFDR, THD+N and the peak words; and a whole recording segment by segment.
#include "tools/analysis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tools/checks.h"
#include "tools/classify.h"
#include "tools/peaks.h"
#include "tools/sine_fit.h"
#include "tools/fourier.h"

using namespace analysis_detail;

namespace {

// Extremes start from the first sample: a side held at +5 has minimum 5.
void MeasurePeakWords(const std::int16_t* x, std::int64_t count, SideReport& r) {
  if (count <= 0) return;
  int lo = x[0], hi = x[0];
  double sum = 0.0;
  for (std::int64_t i = 0; i < count; ++i) {
    lo = std::min<int>(lo, x[i]);
    hi = std::max<int>(hi, x[i]);
    sum += x[i];
  }
  r.DcWord = count > 0 ? sum / static_cast<double>(count) : 0.0;
  r.MinWord = lo;
  r.MaxWord = hi;
  r.PeakWord = std::max(-lo, hi);
}

SpectralComponent ToComponent(const Found& f) { return {f.Hz, f.LevelDbfs}; }

}  // namespace

SideReport AnalyseSide(const std::int16_t* samples, std::int64_t count, double rate, const AnalysisSettings& settings,
                       int side) {
  const std::vector<double>& expected = settings.ExpectedHz[side == 1 ? 1 : 0];
  SideReport r;
  r.NoiseFloorDbfs = kSilentDb;
  if (samples == nullptr || count <= 0 || !(rate > 0.0)) return r;
  MeasurePeakWords(samples, count, r);
  // Long segments: measure the middle part.
  const std::int64_t used = std::min(count, kMaxTransformed);
  const std::int16_t* x = samples + (count - used) / 2;

  const WindowedStretch s = MakeWindowed(x, used, rate);
  r.NoiseFloorDbfs = PowerToDbfs(s.NoisePower, s.Gain);
  const std::vector<Found> all = FindComponents(s, settings);
  ClassifyContext ctx;
  ctx.Rate = rate;
  ctx.BinHz = rate / static_cast<double>(used);
  ctx.NoiseDbfs = r.NoiseFloorDbfs;
  ctx.TolHz = 0.1 * ctx.BinHz;
  ctx.PeriodTolHz = 0.002 * ctx.BinHz;

  std::vector<Found> tones, spurs;
  ClassifyComponents(all, settings, expected, ctx, tones, spurs);
  const bool excluded = CheckExcludedBands(s, settings, r.Warnings);
  CheckSteadyLines(x, used, rate, all, tones, excluded, r.Warnings);
  for (const Found& t : tones) r.Tones.push_back(ToComponent(t));
  for (std::size_t i = 0; i < spurs.size() && static_cast<int>(i) < settings.MaxSpursListed; ++i)
    r.Spurs.push_back(ToComponent(spurs[i]));
  if (tones.empty()) return r;

  // SFDR: against the strongest spur or, failing that, the highest noise bin
  // outside every component's main lobe.
  double other = kSilentDb;
  if (!spurs.empty()) other = spurs.front().LevelDbfs;
  const double lobe = kLobeBins * static_cast<double>(s.Length) / static_cast<double>(used);
  std::vector<char> inLobe(s.Power.size(), 0);
  for (const Found& c : all) {
    const double ck = c.Omega * static_cast<double>(s.Length) / (2.0 * kPi);
    const auto from = static_cast<std::int64_t>(std::max(0.0, std::ceil(ck - lobe)));
    const auto to =
        std::min(static_cast<std::int64_t>(std::floor(ck + lobe)), static_cast<std::int64_t>(inLobe.size()) - 1);
    for (std::int64_t k = from; k <= to; ++k) inLobe[static_cast<std::size_t>(k)] = 1;
  }
  double noisePeak = 0.0;
  for (std::int64_t k = s.FirstBin; k <= s.LastBin; ++k)
    if (!inLobe[static_cast<std::size_t>(k)]) noisePeak = std::max(noisePeak, s.Power[static_cast<std::size_t>(k)]);
  other = std::max(other, PowerToDbfs(noisePeak, s.Gain));
  r.HasSfdr = other > kSilentDb;
  r.SfdrDb = tones.front().LevelDbfs - other;

  // THD+N: everything the tones do not explain, relative to the tones.
  std::vector<double> omegas, coef;
  for (const Found& t : tones) omegas.push_back(t.Omega);
  const double origin = (static_cast<double>(used) - 1.0) / 2.0;
  if (FitSines(x, 0, used, origin, omegas, coef)) {
    double tonePower = 0.0;
    for (std::size_t k = 0; k < omegas.size(); ++k)
      tonePower += 0.5 * (coef[1 + 2 * k] * coef[1 + 2 * k] + coef[2 + 2 * k] * coef[2 + 2 * k]);
    const double residual = FitResidual(x, 0, used, origin, omegas, coef) / static_cast<double>(used);
    if (tonePower > 0.0) {
      r.HasThdN = true;
      r.ThdNDb = 10.0 * std::log10(std::max(residual, 1e-30) / tonePower);
    }
  }
  return r;
}

AnalysisReport AnalyseRecording(const WavRecording& wav, const std::string& fileName, std::vector<SegmentSpan> spans,
                                const AnalysisSettings& settings) {
  AnalysisReport report;
  report.FileName = fileName;
  report.SampleRate = wav.SampleRate;
  report.Frames = static_cast<std::int64_t>(std::min(wav.Left.size(), wav.Right.size()));
  report.Warnings = wav.Warnings;
  if (spans.empty()) spans = DetectSegments(wav, settings);
  for (const SegmentSpan& span : spans) {
    if (span.Start < 0 || span.End > report.Frames || span.End <= span.Start) continue;
    SegmentReport seg;
    seg.Span = span;
    seg.Side[0] = AnalyseSide(wav.Left.data() + span.Start, span.End - span.Start, wav.SampleRate, settings, 0);
    seg.Side[1] = AnalyseSide(wav.Right.data() + span.Start, span.End - span.Start, wav.SampleRate, settings, 1);
    report.Segments.push_back(seg);
    char where[96];
    std::snprintf(where, sizeof where, "segment %zu (%.3f-%.3f s)", report.Segments.size(),
                  static_cast<double>(span.Start) / wav.SampleRate, static_cast<double>(span.End) / wav.SampleRate);
    if (span.End - span.Start < kMinSpectrumFrames) {
      report.Warnings.push_back(std::string(where) + ": only " + std::to_string(span.End - span.Start) +
                                " frames, too short for a spectrum (" + std::to_string(kMinSpectrumFrames) +
                                " at least): no tone is measured");
      continue;
    }
    for (int side = 0; side < 2; ++side)
      for (const std::string& w : seg.Side[side].Warnings)
        report.Warnings.push_back(std::string(where) + (side == 0 ? ", left: " : ", right: ") + w);
  }
  return report;
}
