#include "tools/peaks.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace analysis_detail {

namespace {

// Sums of the windowed samples against exp(-i w m), m and m^2 weighted, with
// m counted from the stretch's centre. The rotation is carried by recurrence
// and re-seeded exactly every 1024 samples.
struct TransformSums {
  double Re0 = 0, Im0 = 0, Re1 = 0, Im1 = 0, Re2 = 0, Im2 = 0;
};

TransformSums EvaluateTransform(const std::vector<double>& y, double omega) {
  TransformSums t;
  const std::size_t n = y.size();
  const double centre = (static_cast<double>(n) - 1.0) / 2.0;
  const double stepRe = std::cos(omega), stepIm = -std::sin(omega);
  double zr = 0.0, zi = 0.0;
  const double* const v = y.data();  // plain pointer: see StepRotors
  for (std::size_t i = 0; i < n; ++i) {
    const double m = static_cast<double>(i) - centre;
    if (i % 1024 == 0) {
      zr = std::cos(omega * m);
      zi = -std::sin(omega * m);
    } else {
      const double nr = zr * stepRe - zi * stepIm;
      const double ni = zr * stepIm + zi * stepRe;
      zr = nr;
      zi = ni;
    }
    const double re = v[i] * zr, im = v[i] * zi;
    t.Re0 += re;
    t.Im0 += im;
    t.Re1 += m * re;
    t.Im1 += m * im;
    t.Re2 += m * m * re;
    t.Im2 += m * m * im;
  }
  return t;
}

}  // namespace

double RefineOmega(const std::vector<double>& y, double omega0) {
  const double bin = 2.0 * kPi / static_cast<double>(y.size());
  double omega = omega0;
  for (int it = 0; it < 12; ++it) {
    const TransformSums t = EvaluateTransform(y, omega);
    // F = |S0|^2; F' = 2 Im(conj(S0) S1); F'' = 2 (|S1|^2 - Re(conj(S0) S2)).
    const double d1 = 2.0 * (t.Re0 * t.Im1 - t.Im0 * t.Re1);
    const double d2 = 2.0 * (t.Re1 * t.Re1 + t.Im1 * t.Im1 - (t.Re0 * t.Re2 + t.Im0 * t.Im2));
    double step;
    if (d2 < 0.0)
      step = -d1 / d2;
    else
      step = (d1 > 0.0 ? 0.05 : -0.05) * bin;
    step = std::clamp(step, -0.1 * bin, 0.1 * bin);
    omega += step;
    if (std::fabs(omega - omega0) > bin) return omega0;
    if (std::fabs(step) < 1e-6 * bin) break;
  }
  return omega;
}

double LevelAt(const std::vector<double>& y, double omega, double gain) {
  const TransformSums t = EvaluateTransform(y, omega);
  return PowerToDbfs(t.Re0 * t.Re0 + t.Im0 * t.Im0, gain);
}

std::vector<Found> FindComponents(const WindowedStretch& s, const AnalysisSettings& settings, std::size_t maxRefined) {
  std::vector<Found> found;
  if (s.LastBin <= s.FirstBin) return found;
  const double threshold =
      std::max(s.NoisePower * std::pow(10.0, settings.ThresholdDb / 10.0), DbfsToPower(settings.FloorDbfs, s.Gain));
  struct Peak {
    std::int64_t Bin;
    double Power;
  };
  std::vector<Peak> peaks;
  const auto& p = s.Power;
  for (std::int64_t k = s.FirstBin; k <= s.LastBin; ++k) {
    const auto i = static_cast<std::size_t>(k);
    if (p[i] >= threshold && p[i] > p[i - 1] && p[i] >= p[i + 1]) peaks.push_back({k, p[i]});
  }
  std::sort(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) { return a.Power > b.Power; });
  for (std::size_t n = 0; n < peaks.size(); ++n) {
    const auto i = static_cast<std::size_t>(peaks[n].Bin);
    // Quadratic on log power through the peak and its neighbours.
    const double a = std::log(p[i - 1]), b = std::log(p[i]), c = std::log(p[i + 1]);
    const double den = a - 2.0 * b + c;
    const double delta = den < 0.0 ? std::clamp(0.5 * (a - c) / den, -0.5, 0.5) : 0.0;
    double omega = 2.0 * kPi * (static_cast<double>(peaks[n].Bin) + delta) / static_cast<double>(s.Length);
    Found f;
    if (n < maxRefined) {
      omega = RefineOmega(s.Weighted, omega);
      f.LevelDbfs = LevelAt(s.Weighted, omega, s.Gain);
    } else {
      f.LevelDbfs = PowerToDbfs(std::exp(b - 0.25 * (a - c) * delta), s.Gain);
    }
    f.Omega = omega;
    f.Hz = omega * s.Rate / (2.0 * kPi);
    found.push_back(f);
  }
  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) { return a.LevelDbfs > b.LevelDbfs; });
  return found;
}

}  // namespace analysis_detail
