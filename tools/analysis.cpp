// Measuring one side of a segment: its components, which of them are tones,
// SFDR, THD+N and the peak words; and a whole recording segment by segment.
#include "tools/analysis.h"

#include <algorithm>
#include <cmath>

#include "tools/classify.h"
#include "tools/peaks.h"
#include "tools/sine_fit.h"
#include "tools/spectrum.h"

using namespace analysis_detail;

namespace {

void MeasurePeakWords(const std::int16_t* x, std::int64_t count, SideReport& r) {
  int lo = 0, hi = 0;
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

SideReport AnalyseSide(const std::int16_t* samples, std::int64_t count, double rate,
                       const AnalysisSettings& settings, int side) {
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
  const double tolHz = 0.1 * rate / static_cast<double>(used);
  const double periodTolHz = 0.002 * rate / static_cast<double>(used);

  std::vector<Found> tones, spurs;
  for (const Found& c : all) {
    bool tone = static_cast<int>(tones.size()) < settings.MaxTones;
    if (tone && settings.ToneRangeDb > 0.0 && !tones.empty() &&
        c.LevelDbfs < tones.front().LevelDbfs - settings.ToneRangeDb)
      tone = false;
    if (tone && !IsExpected(c, expected, tolHz) && IsDerived(c, tones, rate, tolHz, periodTolHz))
      tone = false;
    (tone ? tones : spurs).push_back(c);
  }
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
    const auto to = std::min(static_cast<std::int64_t>(std::floor(ck + lobe)), static_cast<std::int64_t>(inLobe.size()) - 1);
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

AnalysisReport AnalyseRecording(const WavRecording& wav, const std::string& fileName,
                                std::vector<SegmentSpan> spans, const AnalysisSettings& settings) {
  AnalysisReport report;
  report.FileName = fileName;
  report.SampleRate = wav.SampleRate;
  report.Frames = static_cast<std::int64_t>(std::min(wav.Left.size(), wav.Right.size()));
  if (spans.empty()) spans = DetectSegments(wav, settings);
  for (const SegmentSpan& span : spans) {
    if (span.Start < 0 || span.End > report.Frames || span.End <= span.Start) continue;
    SegmentReport seg;
    seg.Span = span;
    seg.Side[0] = AnalyseSide(wav.Left.data() + span.Start, span.End - span.Start, wav.SampleRate, settings, 0);
    seg.Side[1] = AnalyseSide(wav.Right.data() + span.Start, span.End - span.Start, wav.SampleRate, settings, 1);
    report.Segments.push_back(seg);
  }
  return report;
}
