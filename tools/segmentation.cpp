// Segmentation: where a recording's tone content changes. Short-time spectra
// find each change roughly; tone models fitted on either side place it on
// the sample and decide whether it is real.
#include <algorithm>
#include <cmath>
#include <limits>

#include "tools/analysis.h"
#include "tools/checks.h"
#include "tools/peaks.h"
#include "tools/sine_fit.h"
#include "tools/fourier.h"

using namespace analysis_detail;

namespace {

// Components kept in the models that place a boundary.
constexpr std::size_t kMaxModelled = 12;
constexpr std::int64_t kModelSpan = 16384;
// Longest recording first tested as a whole for having no change at all.
constexpr std::int64_t kMaxSteadyCheck = std::int64_t{1} << 20;

struct FramePeak {
  double Hz;
  double Dbfs;
};

// Peaks of one short-time frame: those clearly above its noise (strong) and
// those merely detectable (weak), for matching with hysteresis.
struct FramePeaks {
  std::vector<FramePeak> Strong;
  std::vector<FramePeak> Weak;
  double NoiseDbfs = kSilentDb;
};

// The short-time spectra's window and transform, made once per recording.
struct FrameAnalyser {
  explicit FrameAnalyser(std::int64_t length)
      : Length(length), Padded(2 * length), Window(Bh7Window(length)), Fft(2 * length) {
    for (double w : Window) Gain += w;
  }
  std::int64_t Length;
  std::int64_t Padded;
  std::vector<double> Window;
  double Gain = 0.0;
  RealFft Fft;
};

FramePeaks AnalyseFrame(FrameAnalyser& f, const std::int16_t* x, double rate, const AnalysisSettings& settings) {
  FramePeaks r;
  double sum = 0.0;
  for (std::int64_t i = 0; i < f.Length; ++i) sum += x[i];
  const double mean = sum / static_cast<double>(f.Length);
  double* in = f.Fft.Input();
  for (std::int64_t i = 0; i < f.Length; ++i) in[i] = f.Window[static_cast<std::size_t>(i)] * (x[i] - mean);
  std::fill(in + f.Length, in + f.Padded, 0.0);
  std::vector<double> p;
  f.Fft.PowerSpectrum(p);
  const std::size_t bins = p.size();
  const std::size_t first = 2 * kLobeBins, last = bins - 1 - 2 * kLobeBins;
  std::vector<double> band(p.begin() + static_cast<std::ptrdiff_t>(first),
                           p.begin() + static_cast<std::ptrdiff_t>(last) + 1);
  auto mid = band.begin() + static_cast<std::ptrdiff_t>(band.size() / 2);
  std::nth_element(band.begin(), mid, band.end());
  const double noise = *mid / std::log(2.0);
  r.NoiseDbfs = PowerToDbfs(noise, f.Gain);
  const double floorPower = DbfsToPower(settings.FloorDbfs, f.Gain);
  const double weak = std::max(noise * std::pow(10.0, settings.ThresholdDb / 10.0), floorPower);
  const double strong = std::max(noise * std::pow(10.0, (settings.ThresholdDb + 10.0) / 10.0), floorPower);
  for (std::size_t k = first; k <= last; ++k) {
    if (!(p[k] >= weak && p[k] > p[k - 1] && p[k] >= p[k + 1])) continue;
    const double a = std::log(p[k - 1]), b = std::log(p[k]), c = std::log(p[k + 1]);
    const double den = a - 2.0 * b + c;
    const double delta = den < 0.0 ? std::clamp(0.5 * (a - c) / den, -0.5, 0.5) : 0.0;
    const FramePeak peak{(static_cast<double>(k) + delta) * rate / static_cast<double>(f.Padded),
                         PowerToDbfs(std::exp(b - 0.25 * (a - c) * delta), f.Gain)};
    r.Weak.push_back(peak);
    if (p[k] >= strong) r.Strong.push_back(peak);
  }
  return r;
}

// True when a strong peak of `a` has no counterpart in `b`, or its
// counterpart moved by more than the change thresholds plus what the noise
// of either frame explains.
bool StrongPeaksDiffer(const FramePeaks& a, const FramePeaks& b, double binHz, const AnalysisSettings& settings) {
  const double noiseDb = std::max(a.NoiseDbfs, b.NoiseDbfs);
  for (const FramePeak& p : a.Strong) {
    const FramePeak* match = nullptr;
    for (const FramePeak& q : b.Weak)
      if (std::fabs(q.Hz - p.Hz) < 2.0 * binHz &&
          (match == nullptr || std::fabs(q.Hz - p.Hz) < std::fabs(match->Hz - p.Hz)))
        match = &q;
    if (match == nullptr) return true;
    const double snr = std::min(p.Dbfs, match->Dbfs) - noiseDb;
    const double noiseShare = std::pow(10.0, -snr / 20.0);
    if (std::fabs(match->Dbfs - p.Dbfs) > settings.ChangeDb + 40.0 * noiseShare) return true;
    if (std::fabs(match->Hz - p.Hz) > settings.ChangeHz + 2.0 * binHz * noiseShare) return true;
  }
  return false;
}

bool FramesDiffer(const FramePeaks& a, const FramePeaks& b, double binHz, const AnalysisSettings& settings) {
  return StrongPeaksDiffer(a, b, binHz, settings) || StrongPeaksDiffer(b, a, binHz, settings);
}

struct ToneModel {
  std::vector<double> Omegas;
  std::vector<double> Coef;
  double Origin = 0.0;
  double NoiseVariance = 0.0;  // per sample, from the spectrum's noise floor
  bool Valid = false;
};

ToneModel FitModel(const std::int16_t* x, std::int64_t a, std::int64_t b, double rate,
                   const AnalysisSettings& settings) {
  ToneModel m;
  m.Origin = static_cast<double>(a);
  const WindowedStretch s = MakeWindowed(x + a, b - a, rate);
  const std::vector<Found> found = FindComponents(s, settings, kMaxModelled);
  for (std::size_t i = 0; i < found.size() && i < kMaxModelled; ++i) m.Omegas.push_back(found[i].Omega);
  if (s.WindowPower > 0.0) m.NoiseVariance = s.NoisePower / s.WindowPower;
  m.Valid = FitSines(x, a, b, m.Origin, m.Omegas, m.Coef);
  return m;
}

// The sample in [lo, hi] where switching from the models before to the models
// after leaves the least squared residual over both sides.
std::int64_t PlaceBoundary(const WavRecording& wav, std::int64_t beforeStart, std::int64_t lo, std::int64_t hi,
                           std::int64_t afterEnd, const AnalysisSettings& settings) {
  const std::int64_t fallback = (lo + hi) / 2;
  const std::int64_t a = std::max(beforeStart, lo - kModelSpan);
  const std::int64_t b = std::min(afterEnd, hi + kModelSpan);
  if (lo - a < 1024 || b - hi < 1024) return fallback;
  const std::int64_t width = hi - lo;
  std::vector<double> before(static_cast<std::size_t>(width) + 1, 0.0), after(static_cast<std::size_t>(width) + 1, 0.0);
  for (const std::vector<std::int16_t>* side : {&wav.Left, &wav.Right}) {
    const std::int16_t* x = side->data();
    const ToneModel mb = FitModel(x, a, lo, wav.SampleRate, settings);
    const ToneModel ma = FitModel(x, hi, b, wav.SampleRate, settings);
    if (!mb.Valid || !ma.Valid) return fallback;
    std::vector<double> eb(static_cast<std::size_t>(width)), ea(static_cast<std::size_t>(width));
    FitResidual(x, lo, hi, mb.Origin, mb.Omegas, mb.Coef, eb.data());
    FitResidual(x, lo, hi, ma.Origin, ma.Omegas, ma.Coef, ea.data());
    for (std::size_t i = 0; i < eb.size(); ++i) {
      before[i + 1] += eb[i];
      after[i + 1] += ea[i];
    }
  }
  for (std::size_t i = 1; i < before.size(); ++i) {
    before[i] += before[i - 1];
    after[i] += after[i - 1];
  }
  std::int64_t best = lo;
  double bestCost = std::numeric_limits<double>::infinity();
  for (std::int64_t c = lo; c <= hi; ++c) {
    const auto i = static_cast<std::size_t>(c - lo);
    const double cost = before[i] + (after.back() - after[i]);
    if (cost < bestCost) {
      bestCost = cost;
      best = c;
    }
  }
  return best;
}

double ResidualSum(const std::int16_t* x, std::int64_t a, std::int64_t b, const ToneModel& m) {
  return FitResidual(x, a, b, m.Origin, m.Omegas, m.Coef);
}

// True when separate tone models before and after `c` explain the samples
// around it clearly better than one model across it. Tones too close for the
// short-time spectra to resolve beat, which looks like a change there but is
// explained as well by one model as by two.
bool IsRealChange(const WavRecording& wav, std::int64_t a, std::int64_t c, std::int64_t b,
                  const AnalysisSettings& settings) {
  const std::int64_t lo = std::max(a, c - kModelSpan), hi = std::min(b, c + kModelSpan);
  if (c - lo < 2048 || hi - c < 2048) return true;
  for (const std::vector<std::int16_t>* side : {&wav.Left, &wav.Right}) {
    const std::int16_t* x = side->data();
    const ToneModel before = FitModel(x, lo, c, wav.SampleRate, settings);
    const ToneModel after = FitModel(x, c, hi, wav.SampleRate, settings);
    const ToneModel across = FitModel(x, lo, hi, wav.SampleRate, settings);
    if (!before.Valid || !after.Valid || !across.Valid) return true;
    const double n = static_cast<double>(hi - lo);
    const double separate = ResidualSum(x, lo, c, before) + ResidualSum(x, c, hi, after);
    const double joint = ResidualSum(x, lo, hi, across);
    const double ratio = (joint + 0.01 * n) / (separate + 0.01 * n);
    // When the separate models leave only noise, a small but certain
    // improvement is a change too (a quiet tone's level step).
    const double noise = std::min(before.NoiseVariance, after.NoiseVariance);
    const bool wellFit = separate / n <= 4.0 * noise + 0.02;
    if (ratio > 2.0 || (wellFit && ratio > 1.1)) return true;
  }
  return false;
}

// True when the model explains every block of x[0, total) down to its noise.
bool ExplainsEveryBlock(const std::int16_t* x, std::int64_t total, const ToneModel& m) {
  constexpr std::int64_t kBlock = 4096;
  std::vector<double> each(static_cast<std::size_t>(total));
  FitResidual(x, 0, total, m.Origin, m.Omegas, m.Coef, each.data());
  // Allowance: four times the noise, plus the error of a truncating
  // converter (at most a third of a word squared) that a periodic tone
  // leaves on lines the model does not hold.
  const double allowed = 4.0 * m.NoiseVariance + 0.5;
  for (std::int64_t b = 0; b + kBlock <= total; b += kBlock) {
    double sum = 0.0;
    for (std::int64_t n = b; n < b + kBlock; ++n) sum += each[static_cast<std::size_t>(n)];
    if (sum / static_cast<double>(kBlock) > allowed) return false;
  }
  return true;
}

// True when one tone model per side explains every block of the whole
// recording down to its noise: nothing changes. Close tones that beat within
// a short-time frame are resolved here by the length of the whole recording,
// and tones closer still by the envelope they leave (they stay one line in
// the segment's report, with a warning).
bool IsSteady(const WavRecording& wav, std::int64_t total, const AnalysisSettings& settings) {
  if (total > kMaxSteadyCheck) return false;
  for (const std::vector<std::int16_t>* side : {&wav.Left, &wav.Right}) {
    const std::int16_t* x = side->data();
    ToneModel m = FitModel(x, 0, total, wav.SampleRate, settings);
    if (!m.Valid) return false;
    if (ExplainsEveryBlock(x, total, m)) continue;
    if (!RefineCloseLines(x, total, m.Origin, m.Omegas, m.Coef)) return false;
    m.Valid = FitSines(x, 0, total, m.Origin, m.Omegas, m.Coef);
    if (!m.Valid || !ExplainsEveryBlock(x, total, m)) return false;
  }
  return true;
}

}  // namespace

std::vector<SegmentSpan> DetectSegments(const WavRecording& wav, const AnalysisSettings& settings) {
  const auto total = static_cast<std::int64_t>(std::min(wav.Left.size(), wav.Right.size()));
  if (total == 0) return {};
  const std::int64_t length = std::clamp<std::int64_t>(settings.FrameLength, 256, 65536);
  const std::int64_t hop = length / 4;
  if (total < 2 * length || !(wav.SampleRate > 0.0) || IsSteady(wav, total, settings)) return {{0, total}};
  const std::int64_t frames = (total - length) / hop + 1;
  const double binHz = wav.SampleRate / static_cast<double>(length);

  std::vector<FramePeaks> peaks[2];
  {
    FrameAnalyser fa(length);
    for (std::int64_t j = 0; j < frames; ++j) {
      peaks[0].push_back(AnalyseFrame(fa, wav.Left.data() + j * hop, wav.SampleRate, settings));
      peaks[1].push_back(AnalyseFrame(fa, wav.Right.data() + j * hop, wav.SampleRate, settings));
    }
  }

  // Coarse pass: compare each frame with the first frame after the last
  // change; a mismatch bounds the change to [lo, hi].
  struct Change {
    std::int64_t Lo, Hi;
  };
  std::vector<Change> changes;
  std::int64_t ref = 0, lastHi = 0;
  for (std::int64_t j = 1; j < frames; ++j) {
    const auto r = static_cast<std::size_t>(ref), k = static_cast<std::size_t>(j);
    if (!FramesDiffer(peaks[0][r], peaks[0][k], binHz, settings) &&
        !FramesDiffer(peaks[1][r], peaks[1][k], binHz, settings))
      continue;
    const std::int64_t lo = std::max(lastHi, (j - 1) * hop - length / 2);
    const std::int64_t hi = std::min(total, j * hop + length);
    changes.push_back({lo, hi});
    lastHi = hi;
    ref = (hi + hop - 1) / hop;
    j = ref;
  }

  // Fine pass: place each boundary between the tone models on either side.
  std::vector<SegmentSpan> spans;
  std::int64_t start = 0;
  for (std::size_t i = 0; i < changes.size(); ++i) {
    const std::int64_t beforeStart = i == 0 ? 0 : changes[i - 1].Hi;
    const std::int64_t afterEnd = i + 1 < changes.size() ? changes[i + 1].Lo : total;
    const std::int64_t boundary = PlaceBoundary(wav, beforeStart, changes[i].Lo, changes[i].Hi, afterEnd, settings);
    const bool real = boundary > start && boundary < total && IsRealChange(wav, start, boundary, afterEnd, settings);
    if (real) {
      spans.push_back({start, boundary});
      start = boundary;
    }
  }
  spans.push_back({start, total});
  return spans;
}
