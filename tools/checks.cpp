#include "tools/checks.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdarg>
#include <cstdio>

#include "tools/sine_fit.h"

namespace analysis_detail {

namespace {

using Complex = std::complex<double>;

// Lines fitted to find what the spectrum's lines leave over: at most this
// many, and none further below the strongest than kModelRangeDb (weaker lines
// move neither the share of power outside the lines nor, beyond the
// steadiness allowance, a tone's envelope).
constexpr std::size_t kMaxModelled = 6;
constexpr double kModelRangeDb = 60.0;
// A tone counts as steady while its complex amplitude stays within this
// fraction of itself across the stretch (beyond the noise): 0.01 dB in level.
constexpr double kSteadyFraction = 1e-3;
// Share of the power (beyond a quantiser's noise of about one word squared)
// that may lie outside the lines before the stretch is no set of steady lines.
constexpr double kOutsideShare = 0.1;
constexpr double kOutsideWords2 = 1.0;
constexpr int kEnvelopeHops = 64;

std::string Format(const char* format, ...) {
  char buf[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  return buf;
}

double Hz(double omega, double rate) { return omega * rate / (2.0 * kPi); }

// The stretch's residual near one frequency, through overlapping Hann blocks
// of 2 hop samples: one complex value per hop, and the blocks' gains.
struct Envelope {
  std::int64_t Hop = 0;
  std::vector<Complex> Values;
  double NoiseGain = 0.0;  // sum(h^2) / sum(h)^2: white noise variance -> value variance
  std::vector<double> Window;
};

Envelope Demodulate(const std::vector<double>& r, double omega, double origin, std::int64_t hop) {
  Envelope e;
  e.Hop = hop;
  const std::int64_t width = 2 * hop;
  e.Window.resize(static_cast<std::size_t>(width));
  double sum = 0.0, sum2 = 0.0;
  for (std::int64_t j = 0; j < width; ++j) {
    const double h = 0.5 - 0.5 * std::cos(2.0 * kPi * (static_cast<double>(j) + 0.5) / static_cast<double>(width));
    e.Window[static_cast<std::size_t>(j)] = h;
    sum += h;
    sum2 += h * h;
  }
  e.NoiseGain = sum2 / (sum * sum);
  const auto n = static_cast<std::int64_t>(r.size());
  const Complex step = std::polar(1.0, -omega);
  for (std::int64_t start = 0; start + width <= n; start += hop) {
    // The rotation is seeded exactly at each block and carried within it.
    Complex rotation = std::polar(1.0, -omega * (static_cast<double>(start) - origin));
    Complex acc = 0.0;
    const double* x = r.data() + start;
    const double* h = e.Window.data();
    for (std::int64_t j = 0; j < width; ++j) {
      acc += h[j] * x[j] * rotation;
      rotation *= step;
    }
    e.Values.push_back(acc / sum);
  }
  return e;
}

// Gain of the Hann blocks for a line offset by d radians per sample.
double BlockGain(const Envelope& e, double d) {
  const double centre = (static_cast<double>(e.Window.size()) - 1.0) / 2.0;
  double num = 0.0, den = 0.0;
  for (std::size_t j = 0; j < e.Window.size(); ++j) {
    num += e.Window[j] * std::cos(d * (static_cast<double>(j) - centre));
    den += e.Window[j];
  }
  return num / den;
}

// Least-squares amplitudes of one or two steady rotations exp(i d_k b) in z,
// and the mean squared residual.
double FitRotations(const std::vector<Complex>& z, const std::vector<double>& d, std::vector<Complex>& amp) {
  const std::size_t p = d.size();
  std::vector<Complex> a(p * p, 0.0), y(p, 0.0);
  for (std::size_t b = 0; b < z.size(); ++b)
    for (std::size_t i = 0; i < p; ++i) {
      const Complex ui = std::polar(1.0, d[i] * static_cast<double>(b));
      y[i] += std::conj(ui) * z[b];
      for (std::size_t j = 0; j < p; ++j)
        a[i * p + j] += std::conj(ui) * std::polar(1.0, d[j] * static_cast<double>(b));
    }
  amp.assign(p, 0.0);
  if (p == 1) {
    amp[0] = y[0] / a[0];
  } else {
    const Complex det = a[0] * a[3] - a[1] * a[2];
    if (std::abs(det) < 1e-9 * std::abs(a[0] * a[3])) return INFINITY;
    amp[0] = (a[3] * y[0] - a[1] * y[1]) / det;
    amp[1] = (a[0] * y[1] - a[2] * y[0]) / det;
  }
  double e = 0.0;
  for (std::size_t b = 0; b < z.size(); ++b) {
    Complex v = 0.0;
    for (std::size_t i = 0; i < p; ++i) v += amp[i] * std::polar(1.0, d[i] * static_cast<double>(b));
    e += std::norm(z[b] - v);
  }
  return e / static_cast<double>(z.size());
}

// Two steady rotations that explain z (linear prediction of order two):
// their rates in radians per value, or false.
bool SplitInTwo(const std::vector<Complex>& z, double& d1, double& d2) {
  // z[b+2] = c1 z[b+1] + c2 z[b], least squares.
  Complex a11 = 0.0, a12 = 0.0, a22 = 0.0, y1 = 0.0, y2 = 0.0;
  for (std::size_t b = 0; b + 2 < z.size(); ++b) {
    a11 += std::norm(z[b + 1]);
    a12 += std::conj(z[b + 1]) * z[b];
    a22 += std::norm(z[b]);
    y1 += std::conj(z[b + 1]) * z[b + 2];
    y2 += std::conj(z[b]) * z[b + 2];
  }
  const Complex det = a11 * a22 - a12 * std::conj(a12);
  if (!(std::abs(det) > 1e-12 * std::abs(a11 * a22))) return false;
  const Complex c1 = (a22 * y1 - a12 * y2) / det;
  const Complex c2 = (a11 * y2 - std::conj(a12) * y1) / det;
  // Roots of l^2 - c1 l - c2.
  const Complex root = std::sqrt(c1 * c1 + 4.0 * c2);
  d1 = std::arg((c1 + root) / 2.0);
  d2 = std::arg((c1 - root) / 2.0);
  return std::isfinite(d1) && std::isfinite(d2);
}

// The envelope z of the residual r at omega with the given fitted lines
// (omega_k, cos/sin coefficients) added back as steady rotations.
std::vector<Complex> LineEnvelope(const Envelope& env, double omega, double origin,
                                  const std::vector<double>& lineOmegas, const std::vector<Complex>& lineAmps) {
  std::vector<Complex> z = env.Values;
  for (std::size_t j = 0; j < lineOmegas.size(); ++j) {
    const double d = lineOmegas[j] - omega;
    const Complex amp = lineAmps[j] * BlockGain(env, d);
    for (std::size_t b = 0; b < z.size(); ++b) {
      const double m = static_cast<double>(b + 1) * static_cast<double>(env.Hop) - 0.5 - origin;
      z[b] += amp * std::polar(1.0, d * m);
    }
  }
  return z;
}

// The rotation of a fitted line a cos(w m) + b sin(w m) seen through the envelope.
Complex LineAmp(const std::vector<double>& coef, std::size_t k) {
  return Complex(coef[1 + 2 * k], -coef[2 + 2 * k]) / 2.0;
}

// Variance the envelope of a steady line may show: the residual's noise
// through the blocks, and kSteadyFraction of the line itself.
double SteadyAllowance(const Envelope& env, double residualVariance, double lineAmp) {
  return 6.0 * residualVariance * env.NoiseGain + std::pow(kSteadyFraction * lineAmp, 2.0);
}

double MeanNorm(const std::vector<Complex>& z) {
  double sum = 0.0;
  for (const Complex& v : z) sum += std::norm(v);
  return z.empty() ? 0.0 : sum / static_cast<double>(z.size());
}

// Newton steps on the least-squares residual of two steady rotations in z
// over both rates d (radians per value); answers the residual and leaves
// the rotations' amplitudes in amp.
double RefinePair(const std::vector<Complex>& z, double d[2], std::vector<Complex>& amp) {
  auto cost = [&](double a, double b) { return FitRotations(z, {a, b}, amp); };
  for (int it = 0; it < 20; ++it) {
    const double h = 1e-4 * std::max(std::fabs(d[0] - d[1]), 1e-3);
    const double c0 = cost(d[0], d[1]);
    const double cxp = cost(d[0] + h, d[1]), cxm = cost(d[0] - h, d[1]);
    const double cyp = cost(d[0], d[1] + h), cym = cost(d[0], d[1] - h);
    const double cxy = cost(d[0] + h, d[1] + h) - cxp - cyp + c0;
    const double gx = (cxp - cxm) / (2.0 * h), gy = (cyp - cym) / (2.0 * h);
    const double hxx = (cxp - 2.0 * c0 + cxm) / (h * h), hyy = (cyp - 2.0 * c0 + cym) / (h * h), hxy = cxy / (h * h);
    const double det = hxx * hyy - hxy * hxy;
    if (!(det > 0.0) || !(hxx > 0.0) || !std::isfinite(det)) break;
    const double sx = -(hyy * gx - hxy * gy) / det, sy = -(hxx * gy - hxy * gx) / det;
    if (!(cost(d[0] + sx, d[1] + sy) < c0)) break;
    d[0] += sx;
    d[1] += sy;
    if (std::fabs(sx) + std::fabs(sy) < 1e-9 * std::fabs(d[0] - d[1])) break;
  }
  return cost(d[0], d[1]);
}

// Two steady lines, at least half a cycle apart over `count` samples and each
// above the allowance, that explain the envelope z (taken at omega, values
// `hop` samples apart), found from d (rates in radians per value), or by
// linear prediction when d is null: their angular frequencies, or false.
bool TwoLinesExplain(const std::vector<Complex>& z, double omega, std::int64_t hop, std::int64_t count, double allowed,
                     const double* start, double& omega1, double& omega2) {
  double d[2] = {0.0, 0.0};
  if (start != nullptr) {
    d[0] = start[0];
    d[1] = start[1];
  } else if (!SplitInTwo(z, d[0], d[1])) {
    return false;
  }
  std::vector<Complex> amp;
  if (!(RefinePair(z, d, amp) <= allowed)) return false;
  const double perSample1 = d[0] / static_cast<double>(hop), perSample2 = d[1] / static_cast<double>(hop);
  if (std::fabs(perSample1 - perSample2) < kPi / static_cast<double>(count)) return false;
  if (!(std::min(std::norm(amp[0]), std::norm(amp[1])) > allowed)) return false;
  omega1 = omega + std::min(perSample1, perSample2);
  omega2 = omega + std::max(perSample1, perSample2);
  return true;
}

std::int64_t EnvelopeHop(std::int64_t count) { return std::max<std::int64_t>(32, count / kEnvelopeHops); }

}  // namespace

bool RefineCloseLines(const std::int16_t* x, std::int64_t count, double origin, std::vector<double>& omegas,
                      const std::vector<double>& coef) {
  if (count < kMinSpectrumFrames || coef.size() != 1 + 2 * omegas.size()) return false;
  std::vector<double> r(static_cast<std::size_t>(count));
  FitEvaluate(0, count, origin, omegas, coef, r.data());
  double variance = 0.0;
  for (std::int64_t n = 0; n < count; ++n) {
    const auto i = static_cast<std::size_t>(n);
    r[i] = x[n] - r[i];
    variance += r[i] * r[i];
  }
  variance /= static_cast<double>(count);
  const std::int64_t hop = EnvelopeHop(count);
  const double resolution = 2.0 * kPi * kLobeBins / static_cast<double>(count);
  std::vector<double> result;
  std::vector<bool> used(omegas.size(), false);
  bool any = false;
  for (std::size_t k = 0; k < omegas.size(); ++k) {
    if (used[k]) continue;
    used[k] = true;
    std::size_t partner = omegas.size();
    for (std::size_t j = k + 1; j < omegas.size(); ++j)
      if (!used[j] && std::fabs(omegas[j] - omegas[k]) < resolution &&
          (partner == omegas.size() || std::fabs(omegas[j] - omegas[k]) < std::fabs(omegas[partner] - omegas[k])))
        partner = j;
    const Envelope env = Demodulate(r, omegas[k], origin, hop);
    const Complex amp = LineAmp(coef, k);
    const double allowed = SteadyAllowance(env, variance, std::abs(amp));
    double w1 = 0.0, w2 = 0.0;
    bool split = false;
    if (env.Values.size() >= 8 && partner < omegas.size()) {
      // Two lines already, but too close for the spectrum to place them.
      const double start[2] = {0.0, (omegas[partner] - omegas[k]) * static_cast<double>(hop)};
      split = TwoLinesExplain(
          LineEnvelope(env, omegas[k], origin, {omegas[k], omegas[partner]}, {amp, LineAmp(coef, partner)}), omegas[k],
          hop, count, allowed, start, w1, w2);
      if (split) used[partner] = true;
    } else if (env.Values.size() >= 8 && MeanNorm(env.Values) > allowed) {
      split = TwoLinesExplain(LineEnvelope(env, omegas[k], origin, {omegas[k]}, {amp}), omegas[k], hop, count, allowed,
                              nullptr, w1, w2);
    }
    if (split) {
      result.push_back(w1);
      result.push_back(w2);
      any = true;
    } else {
      result.push_back(omegas[k]);
    }
  }
  for (std::size_t k = 0; k < omegas.size(); ++k)
    if (!used[k]) result.push_back(omegas[k]);
  if (any) omegas = result;
  return any;
}

bool CheckExcludedBands(const WindowedStretch& s, const AnalysisSettings& settings,
                        std::vector<std::string>& warnings) {
  if (s.LastBin <= s.FirstBin) return false;
  const double threshold =
      std::max(s.NoisePower * std::pow(10.0, settings.ThresholdDb / 10.0), DbfsToPower(settings.FloorDbfs, s.Gain));
  const auto& p = s.Power;
  const auto last = static_cast<std::int64_t>(p.size()) - 1;
  const double binHz = s.Rate / static_cast<double>(s.Length);
  const double seconds = static_cast<double>(s.Count) / s.Rate;
  std::int64_t best[2] = {-1, -1};
  for (std::int64_t k = 1; k <= last; ++k) {
    const int band = k < s.FirstBin ? 0 : (k > s.LastBin ? 1 : -1);
    if (band < 0) continue;
    const auto i = static_cast<std::size_t>(k);
    const bool peak = p[i] > p[i - 1] && (k == last || p[i] >= p[i + 1]);
    if (peak && p[i] >= threshold && (best[band] < 0 || p[i] > p[static_cast<std::size_t>(best[band])])) best[band] = k;
  }
  // Eight bins of the stretch (kLobeBins) must separate a line from either edge.
  const double edge = kLobeBins * s.Rate / static_cast<double>(s.Count);
  if (best[0] >= 0) {
    const double hz = static_cast<double>(best[0]) * binHz;
    warnings.push_back(Format(
        "a component near %.2f Hz (%.2f dBFS) lies below %.2f Hz, the lowest frequency measured in %.3f s: it is "
        "no tone or spur and SFDR leaves it out, THD+N counts it as noise (a stretch of %.2f s would measure it)",
        hz, PowerToDbfs(p[static_cast<std::size_t>(best[0])], s.Gain), edge, seconds, kLobeBins / hz));
  }
  if (best[1] >= 0) {
    const double hz = static_cast<double>(best[1]) * binHz;
    const double gap = s.Rate / 2.0 - hz;
    const std::string need = gap > 0.0 ? Format("a stretch of %.2f s would measure it", kLobeBins / gap)
                                       : std::string("no stretch can measure it at half the rate");
    warnings.push_back(Format(
        "a component near %.2f Hz (%.2f dBFS) lies above %.2f Hz, the highest frequency "
        "measured in %.3f s: it is no tone or spur and SFDR leaves it out, THD+N counts it "
        "as noise (%s)",
        hz, PowerToDbfs(p[static_cast<std::size_t>(best[1])], s.Gain), s.Rate / 2.0 - edge, seconds, need.c_str()));
  }
  return best[0] >= 0 || best[1] >= 0;
}

void CheckSteadyLines(const std::int16_t* x, std::int64_t count, double rate, const std::vector<Found>& all,
                      const std::vector<Found>& tones, bool outsideExplained, std::vector<std::string>& warnings) {
  if (count < kMinSpectrumFrames) return;
  // Fit the strongest lines (tones first) and DC; r is what they leave.
  std::vector<double> omegas;
  for (const Found& t : tones) omegas.push_back(t.Omega);
  for (const Found& c : all) {
    if (omegas.size() >= kMaxModelled || c.LevelDbfs < all.front().LevelDbfs - kModelRangeDb) break;
    if (std::find(omegas.begin(), omegas.end(), c.Omega) == omegas.end()) omegas.push_back(c.Omega);
  }
  const double origin = (static_cast<double>(count) - 1.0) / 2.0;
  std::vector<double> coef;
  if (!FitSines(x, 0, count, origin, omegas, coef)) return;
  std::vector<double> r(static_cast<std::size_t>(count));
  FitEvaluate(0, count, origin, omegas, coef, r.data());
  double mean = 0.0;
  for (std::int64_t n = 0; n < count; ++n) mean += x[n];
  mean /= static_cast<double>(count);
  double total = 0.0, outside = 0.0;
  for (std::int64_t n = 0; n < count; ++n) {
    const auto i = static_cast<std::size_t>(n);
    r[i] = x[n] - r[i];
    outside += r[i] * r[i];
    total += (x[n] - mean) * (x[n] - mean);
  }
  outside /= static_cast<double>(count);
  total /= static_cast<double>(count);
  const double seconds = static_cast<double>(count) / rate;
  const double resolution = kLobeBins * rate / static_cast<double>(count);

  // Each group of tones closer than the resolution, through the envelope of
  // the residual at its strongest tone's frequency: a steady group leaves
  // nothing there that moves.
  bool warned = false;
  const std::int64_t hop = EnvelopeHop(count);
  std::vector<bool> done(tones.size(), false);
  for (std::size_t i = 0; i < tones.size(); ++i) {
    if (done[i]) continue;
    std::vector<std::size_t> group = {i};
    for (std::size_t j = i + 1; j < tones.size(); ++j)
      if (!done[j] && std::fabs(tones[j].Hz - tones[i].Hz) < resolution) group.push_back(j);
    for (std::size_t j : group) done[j] = true;
    const double omega = tones[i].Omega;
    const Envelope env = Demodulate(r, omega, origin, hop);
    if (env.Values.size() < 8) continue;
    std::vector<double> lineOmegas;
    std::vector<Complex> lineAmps;
    for (std::size_t j : group) {
      lineOmegas.push_back(tones[j].Omega);
      lineAmps.push_back(LineAmp(coef, j));
    }
    const double allowed = SteadyAllowance(env, outside, std::abs(lineAmps[0]));
    if (group.size() == 1 && MeanNorm(env.Values) <= allowed) continue;
    const std::vector<Complex> z = LineEnvelope(env, omega, origin, lineOmegas, lineAmps);

    // Two steady lines closer than the resolution explain it: say how far apart.
    double w1 = 0.0, w2 = 0.0;
    double start[2] = {0.0, 0.0};
    if (group.size() > 1) start[1] = (tones[group[1]].Omega - omega) * static_cast<double>(hop);
    if (TwoLinesExplain(z, omega, hop, count, allowed, group.size() > 1 ? start : nullptr, w1, w2)) {
      const double f1 = Hz(w1, rate), f2 = Hz(w2, rate), gap = f2 - f1;
      warnings.push_back(Format(
          "tones about %.2f Hz apart (near %.2f and %.2f Hz) are closer than the %.2f Hz that %.3f s resolve: "
          "their frequencies, levels, SFDR and THD+N are not measured; a steady stretch of %.2f s would resolve them",
          gap, f1, f2, resolution, seconds, kLobeBins / gap));
      warned = true;
      continue;
    }
    if (group.size() > 1) {
      const double gap = std::fabs(tones[group[1]].Hz - tones[i].Hz);
      warnings.push_back(Format(
          "tones at %.2f and %.2f Hz are closer than the %.2f Hz that %.3f s resolve: their frequencies, levels, "
          "SFDR and THD+N are not measured; a steady stretch of about %.2f s would resolve them",
          tones[i].Hz, tones[group[1]].Hz, resolution, seconds, kLobeBins / gap));
      warned = true;
      continue;
    }
    double lo = INFINITY, hi = 0.0;
    for (const Complex& v : z) {
      lo = std::min(lo, std::abs(v));
      hi = std::max(hi, std::abs(v));
    }
    const std::string range = lo > 0.0 ? Format("%.1f dB", 20.0 * std::log10(hi / lo)) : std::string("down to nothing");
    warnings.push_back(Format(
        "the tone at %.2f Hz is not steady within the %.3f s (its level moves over %s): a sweep, a change inside "
        "the segment, or tones too close to resolve; its figures are averages",
        tones[i].Hz, seconds, range.c_str()));
    warned = true;
  }

  if (!warned && !outsideExplained && outside > kOutsideWords2 && outside > kOutsideShare * total) {
    warnings.push_back(
        Format("%.0f%% of the power lies outside the lines measured: the spectrum is no set of steady lines (a sweep, "
               "noise, or a change inside the segment), and SFDR and THD+N do not describe it",
               100.0 * outside / total));
  }
}

}  // namespace analysis_detail
