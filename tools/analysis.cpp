#include "tools/analysis.h"

#include <fftw3.h>
#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr double kFullScale = 32767.0;
constexpr double kPi = 3.14159265358979323846;
// The 7-term window's main lobe reaches its first zero 7 bins from the peak.
constexpr int kLobeBins = 8;
// Longest stretch transformed at once; longer segments are measured on their
// middle part, which is already far more than the accuracy needs.
constexpr std::int64_t kMaxTransformed = std::int64_t{1} << 21;
// Refined components per stretch; weaker peaks keep their interpolated values.
constexpr std::size_t kMaxRefined = 32;
// Components kept in the models that place a boundary.
constexpr std::size_t kMaxModelled = 12;
constexpr std::int64_t kModelSpan = 16384;
// Longest recording first tested as a whole for having no change at all.
constexpr std::int64_t kMaxSteadyCheck = std::int64_t{1} << 20;
constexpr double kDerivedMarginDb = 9.0;   // a clipped sine's 3rd harmonic is at most -9.5 dBc
constexpr double kSilentDb = -400.0;
constexpr int kMaxHarmonic = 4096;
constexpr double kQuantisationDbfs = -84.0;   // a sine of about two words

// 7-term Blackman-Harris coefficients (side lobes near -180 dB).
constexpr double kBh7[7] = {0.27105140069342, 0.43329793923448, 0.21812299954311,
                            0.06592544638803, 0.01081174209837, 0.00077658482522,
                            0.00001388721735};

std::vector<double> Bh7Window(std::int64_t n) {
  std::vector<double> w(static_cast<std::size_t>(n), 1.0);
  if (n < 2) return w;
  for (std::int64_t i = 0; i < n; ++i) {
    const double x = 2.0 * kPi * static_cast<double>(i) / static_cast<double>(n - 1);
    double v = 0.0;
    for (int k = 0; k < 7; ++k) {
      const double sign = (k % 2 == 0) ? 1.0 : -1.0;
      v += sign * kBh7[k] * std::cos(static_cast<double>(k) * x);
    }
    w[static_cast<std::size_t>(i)] = v;
  }
  return w;
}

// Smallest 2^a 3^b 5^c 7^d not below n: sizes FFTW transforms quickly.
std::int64_t SmoothSize(std::int64_t n) {
  for (std::int64_t m = std::max<std::int64_t>(n, 2);; ++m) {
    std::int64_t r = m;
    for (std::int64_t p : {2, 3, 5, 7})
      while (r % p == 0) r /= p;
    if (r == 1) return m;
  }
}

double PowerToDbfs(double power, double gain) {
  if (!(power > 0.0) || !(gain > 0.0)) return kSilentDb;
  const double amplitude = 2.0 * std::sqrt(power) / gain;
  return 20.0 * std::log10(amplitude / kFullScale);
}

double DbfsToPower(double dbfs, double gain) {
  const double amplitude = kFullScale * std::pow(10.0, dbfs / 20.0);
  const double half = amplitude * gain / 2.0;
  return half * half;
}

// One stretch, mean removed and windowed, with its zero-padded power spectrum.
struct WindowedStretch {
  std::int64_t Count = 0;       // samples
  std::int64_t Length = 0;      // transform length
  double Rate = 0.0;
  double Gain = 0.0;            // sum of the window
  double WindowPower = 0.0;     // sum of the squared window
  std::vector<double> Weighted; // window * (x - mean)
  std::vector<double> Power;    // |Y[k]|^2 for k = 0..Length/2
  std::int64_t FirstBin = 0;    // usable padded bins, away from DC and Nyquist
  std::int64_t LastBin = 0;
  double NoisePower = 0.0;      // mean noise power per padded bin
};

WindowedStretch MakeWindowed(const std::int16_t* x, std::int64_t count, double rate) {
  WindowedStretch s;
  s.Count = count;
  s.Rate = rate;
  if (count < 4 * kLobeBins) return s;
  double sum = 0.0;
  for (std::int64_t i = 0; i < count; ++i) sum += x[i];
  const double mean = sum / static_cast<double>(count);
  const std::vector<double> w = Bh7Window(count);
  s.Weighted.resize(static_cast<std::size_t>(count));
  for (std::int64_t i = 0; i < count; ++i) {
    s.Weighted[static_cast<std::size_t>(i)] = w[static_cast<std::size_t>(i)] * (x[i] - mean);
    s.Gain += w[static_cast<std::size_t>(i)];
    s.WindowPower += w[static_cast<std::size_t>(i)] * w[static_cast<std::size_t>(i)];
  }
  s.Length = SmoothSize(2 * count);
  double* in = fftw_alloc_real(static_cast<std::size_t>(s.Length));
  fftw_complex* out = fftw_alloc_complex(static_cast<std::size_t>(s.Length / 2 + 1));
  fftw_plan plan = fftw_plan_dft_r2c_1d(static_cast<int>(s.Length), in, out, FFTW_ESTIMATE);
  std::copy(s.Weighted.begin(), s.Weighted.end(), in);
  std::fill(in + count, in + s.Length, 0.0);
  fftw_execute(plan);
  s.Power.resize(static_cast<std::size_t>(s.Length / 2 + 1));
  for (std::size_t k = 0; k < s.Power.size(); ++k)
    s.Power[k] = out[k][0] * out[k][0] + out[k][1] * out[k][1];
  fftw_destroy_plan(plan);
  fftw_free(out);
  fftw_free(in);

  const std::int64_t guard = (kLobeBins * s.Length + count - 1) / count;
  s.FirstBin = guard;
  s.LastBin = s.Length / 2 - guard;
  if (s.LastBin > s.FirstBin) {
    std::vector<double> band(s.Power.begin() + s.FirstBin, s.Power.begin() + s.LastBin + 1);
    auto mid = band.begin() + static_cast<std::ptrdiff_t>(band.size() / 2);
    std::nth_element(band.begin(), mid, band.end());
    s.NoisePower = *mid / std::log(2.0);
  }
  return s;
}

// A component found in a stretch: angular frequency in radians per sample.
struct Found {
  double Omega = 0.0;
  double LevelDbfs = 0.0;
  double Hz = 0.0;
};

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
    const double re = y[i] * zr, im = y[i] * zi;
    t.Re0 += re;
    t.Im0 += im;
    t.Re1 += m * re;
    t.Im1 += m * im;
    t.Re2 += m * m * re;
    t.Im2 += m * m * im;
  }
  return t;
}

// Moves omega to the maximum of |X(omega)|^2 by safeguarded Newton steps.
// Answers the start value when the search leaves the starting bin's lobe.
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

// Every component of a stretch, strongest first.
std::vector<Found> FindComponents(const WindowedStretch& s, const AnalysisSettings& settings,
                                  std::size_t maxRefined = kMaxRefined) {
  std::vector<Found> found;
  if (s.LastBin <= s.FirstBin) return found;
  const double threshold = std::max(s.NoisePower * std::pow(10.0, settings.ThresholdDb / 10.0),
                                    DbfsToPower(settings.FloorDbfs, s.Gain));
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

double FoldHz(double hz, double rate) {
  double f = std::fmod(std::fabs(hz), rate);
  if (f > rate / 2.0) f = rate - f;
  return f;
}

// True when `c` lies on a harmonic or a low-order intermodulation product of
// tones at least kDerivedMarginDb stronger than it, or is quantisation error.
// Samples in one period of a tone's waveform when it repeats within
// kMaxHarmonic samples (its frequency lies within tolHz of p * rate / q), else 0.
std::int64_t WaveformPeriod(double hz, double rate, double tolHz) {
  for (std::int64_t q = 1; q <= kMaxHarmonic; ++q) {
    const double grid = rate / static_cast<double>(q);
    if (std::fabs(hz - grid * std::round(hz / grid)) <= tolHz) return q;
  }
  return 0;
}

// True when c lies on one of the frequencies the caller says were played and
// is louder than a tone's quantisation lines: an expected frequency from
// another segment must not lift such a line to a tone.
bool IsExpected(const Found& c, const std::vector<double>& expected, double tolHz) {
  if (c.LevelDbfs <= kQuantisationDbfs) return false;
  for (double e : expected)
    if (std::fabs(std::fabs(e) - c.Hz) <= std::max(tolHz, 0.01)) return true;
  return false;
}

bool IsDerived(const Found& c, const std::vector<Found>& tones, double rate, double tolHz, double periodTolHz) {
  std::vector<const Found*> parents;
  for (const Found& t : tones)
    if (t.LevelDbfs - c.LevelDbfs >= kDerivedMarginDb) parents.push_back(&t);
  // Quantisation error of a tone whose period is a whole number of samples
  // is periodic too; its lines are aliased harmonics of high order.
  // A component on harmonic k of a louder tone is distortion when it is at
  // least 20 log10(k) dB below it (a square wave's own harmonics sit on that
  // line), beyond k = 10 falling twice as fast (harmonics of clipping
  // corners). A louder wanted tone that falls on a high-order aliased
  // harmonic stays a tone.
  for (const Found* t : parents) {
    const double below = t->LevelDbfs - c.LevelDbfs;
    for (int k = 2; k <= kMaxHarmonic; ++k) {
      if (std::fabs(FoldHz(k * t->Hz, rate) - c.Hz) > tolHz * (1.0 + k / 1000.0)) continue;
      const double order = 20.0 * std::log10(static_cast<double>(k));
      if (below >= std::max(kDerivedMarginDb, order - 1.0 + std::max(0.0, order - 20.0))) return true;
    }
  }
  // A tone whose waveform repeats every q samples leaves its quantisation
  // error on multiples of rate/q: lines of at most a couple of words.
  if (c.LevelDbfs <= kQuantisationDbfs)
    for (const Found* t : parents) {
      const std::int64_t q = WaveformPeriod(t->Hz, rate, periodTolHz);
      if (q == 0) continue;
      const double grid = rate / static_cast<double>(q);
      if (std::fabs(c.Hz - grid * std::round(c.Hz / grid)) <= tolHz) return true;
    }
  static const int kOrders[][2] = {{1, 1}, {1, -1}, {2, 1}, {2, -1}, {1, 2}, {1, -2}};
  for (std::size_t i = 0; i < parents.size(); ++i)
    for (std::size_t j = i + 1; j < parents.size(); ++j)
      for (const auto& o : kOrders) {
        const double hz = o[0] * parents[i]->Hz + o[1] * parents[j]->Hz;
        if (std::fabs(FoldHz(hz, rate) - c.Hz) <= tolHz) return true;
      }
  return false;
}

// cos(w m) and sin(w m) for consecutive m, by rotation, re-seeded exactly
// every 1024 steps so that rounding cannot build up.
struct Rotor {
  double Omega, Cos, Sin, StepCos, StepSin;
};

std::vector<Rotor> MakeRotors(const std::vector<double>& omegas) {
  std::vector<Rotor> r;
  for (double w : omegas) r.push_back({w, 1.0, 0.0, std::cos(w), std::sin(w)});
  return r;
}

// Moves every rotor to phase origin offset m; `step` counts calls from 0.
void StepRotors(std::vector<Rotor>& rotors, std::int64_t step, double m) {
  for (Rotor& r : rotors) {
    if (step % 1024 == 0) {
      r.Cos = std::cos(r.Omega * m);
      r.Sin = std::sin(r.Omega * m);
    } else {
      const double c = r.Cos * r.StepCos - r.Sin * r.StepSin;
      r.Sin = r.Sin * r.StepCos + r.Cos * r.StepSin;
      r.Cos = c;
    }
  }
}

// Least-squares fit of DC plus a cosine and a sine per angular frequency over
// samples [a, b), with the phase origin at sample `origin`. Answers false when
// the system is singular. coef: dc, then (cos, sin) per frequency.
bool FitSines(const std::int16_t* x, std::int64_t a, std::int64_t b, double origin,
              const std::vector<double>& omegas, std::vector<double>& coef) {
  const std::size_t p = 1 + 2 * omegas.size();
  std::vector<double> ata(p * p, 0.0), atx(p, 0.0), basis(p);
  std::vector<Rotor> rotors = MakeRotors(omegas);
  for (std::int64_t n = a; n < b; ++n) {
    StepRotors(rotors, n - a, static_cast<double>(n) - origin);
    basis[0] = 1.0;
    for (std::size_t k = 0; k < rotors.size(); ++k) {
      basis[1 + 2 * k] = rotors[k].Cos;
      basis[2 + 2 * k] = rotors[k].Sin;
    }
    const double v = x[n];
    for (std::size_t i = 0; i < p; ++i) {
      atx[i] += basis[i] * v;
      for (std::size_t j = i; j < p; ++j) ata[i * p + j] += basis[i] * basis[j];
    }
  }
  for (std::size_t i = 0; i < p; ++i)
    for (std::size_t j = 0; j < i; ++j) ata[i * p + j] = ata[j * p + i];
  // Gaussian elimination with partial pivoting.
  for (std::size_t col = 0; col < p; ++col) {
    std::size_t piv = col;
    for (std::size_t r = col + 1; r < p; ++r)
      if (std::fabs(ata[r * p + col]) > std::fabs(ata[piv * p + col])) piv = r;
    if (!(std::fabs(ata[piv * p + col]) > 1e-9 * static_cast<double>(b - a))) return false;
    if (piv != col) {
      for (std::size_t j = 0; j < p; ++j) std::swap(ata[col * p + j], ata[piv * p + j]);
      std::swap(atx[col], atx[piv]);
    }
    for (std::size_t r = col + 1; r < p; ++r) {
      const double f = ata[r * p + col] / ata[col * p + col];
      for (std::size_t j = col; j < p; ++j) ata[r * p + j] -= f * ata[col * p + j];
      atx[r] -= f * atx[col];
    }
  }
  coef.assign(p, 0.0);
  for (std::size_t i = p; i-- > 0;) {
    double v = atx[i];
    for (std::size_t j = i + 1; j < p; ++j) v -= ata[i * p + j] * coef[j];
    coef[i] = v / ata[i * p + i];
  }
  return true;
}

// Sum of squared differences between the samples [a, b) and the fitted
// sines; per-sample squares go to `each` (indexed from a) when given.
double FitResidual(const std::int16_t* x, std::int64_t a, std::int64_t b, double origin,
                   const std::vector<double>& omegas, const std::vector<double>& coef, double* each = nullptr) {
  std::vector<Rotor> rotors = MakeRotors(omegas);
  double sum = 0.0;
  for (std::int64_t n = a; n < b; ++n) {
    StepRotors(rotors, n - a, static_cast<double>(n) - origin);
    double v = coef[0];
    for (std::size_t k = 0; k < rotors.size(); ++k) v += coef[1 + 2 * k] * rotors[k].Cos + coef[2 + 2 * k] * rotors[k].Sin;
    const double e = x[n] - v;
    sum += e * e;
    if (each != nullptr) each[n - a] = e * e;
  }
  return sum;
}

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

bool ReadWavRecording(const std::string& path, WavRecording& out, std::string& error) {
  out = WavRecording{};
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    error = "cannot read '" + path + "': " + sf_strerror(nullptr);
    return false;
  }
  bool ok = false;
  if (info.channels != 2) {
    error = "expected 2 channels, found " + std::to_string(info.channels);
  } else if ((info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_16) {
    error = "expected 16-bit PCM samples";
  } else if (info.samplerate < 1000 || info.samplerate > 384000) {
    error = "unsupported sample rate " + std::to_string(info.samplerate);
  } else if (info.frames < 0 || info.frames > static_cast<sf_count_t>(info.samplerate) * 3600) {
    error = "recording longer than one hour";
  } else {
    std::vector<short> buf(static_cast<std::size_t>(info.frames) * 2);
    const sf_count_t got = sf_readf_short(file, buf.data(), info.frames);
    if (got != info.frames) {
      error = "file ends early: " + std::to_string(got) + " of " + std::to_string(info.frames) + " frames";
    } else {
      out.SampleRate = info.samplerate;
      out.Left.resize(static_cast<std::size_t>(got));
      out.Right.resize(static_cast<std::size_t>(got));
      for (std::size_t i = 0; i < out.Left.size(); ++i) {
        out.Left[i] = buf[2 * i];
        out.Right[i] = buf[2 * i + 1];
      }
      ok = true;
    }
  }
  sf_close(file);
  if (!ok) out = WavRecording{};
  return ok;
}

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

namespace {

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

struct FrameAnalyser {
  std::int64_t Length = 0;
  std::int64_t Padded = 0;
  std::vector<double> Window;
  double Gain = 0.0;
  double* In = nullptr;
  fftw_complex* Out = nullptr;
  fftw_plan Plan = nullptr;
};

FrameAnalyser MakeFrameAnalyser(std::int64_t length) {
  FrameAnalyser f;
  f.Length = length;
  f.Padded = 2 * length;
  f.Window = Bh7Window(length);
  for (double w : f.Window) f.Gain += w;
  f.In = fftw_alloc_real(static_cast<std::size_t>(f.Padded));
  f.Out = fftw_alloc_complex(static_cast<std::size_t>(f.Padded / 2 + 1));
  f.Plan = fftw_plan_dft_r2c_1d(static_cast<int>(f.Padded), f.In, f.Out, FFTW_ESTIMATE);
  return f;
}

void FreeFrameAnalyser(FrameAnalyser& f) {
  fftw_destroy_plan(f.Plan);
  fftw_free(f.Out);
  fftw_free(f.In);
  f = FrameAnalyser{};
}

FramePeaks AnalyseFrame(FrameAnalyser& f, const std::int16_t* x, double rate, const AnalysisSettings& settings) {
  FramePeaks r;
  double sum = 0.0;
  for (std::int64_t i = 0; i < f.Length; ++i) sum += x[i];
  const double mean = sum / static_cast<double>(f.Length);
  for (std::int64_t i = 0; i < f.Length; ++i) f.In[i] = f.Window[static_cast<std::size_t>(i)] * (x[i] - mean);
  std::fill(f.In + f.Length, f.In + f.Padded, 0.0);
  fftw_execute(f.Plan);
  const std::size_t bins = static_cast<std::size_t>(f.Padded / 2 + 1);
  std::vector<double> p(bins);
  for (std::size_t k = 0; k < bins; ++k) p[k] = f.Out[k][0] * f.Out[k][0] + f.Out[k][1] * f.Out[k][1];
  const std::size_t first = 2 * kLobeBins, last = bins - 1 - 2 * kLobeBins;
  std::vector<double> band(p.begin() + static_cast<std::ptrdiff_t>(first), p.begin() + static_cast<std::ptrdiff_t>(last) + 1);
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
      if (std::fabs(q.Hz - p.Hz) < 2.0 * binHz && (match == nullptr || std::fabs(q.Hz - p.Hz) < std::fabs(match->Hz - p.Hz)))
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
  double NoiseVariance = 0.0;   // per sample, from the spectrum's noise floor
  bool Valid = false;
};

ToneModel FitModel(const std::int16_t* x, std::int64_t a, std::int64_t b, double rate, const AnalysisSettings& settings) {
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

// True when one tone model per side explains every block of the whole
// recording down to its noise: nothing changes. Close tones that beat within
// a short-time frame are resolved here by the length of the whole recording.
bool IsSteady(const WavRecording& wav, std::int64_t total, const AnalysisSettings& settings) {
  if (total > kMaxSteadyCheck) return false;
  constexpr std::int64_t kBlock = 4096;
  for (const std::vector<std::int16_t>* side : {&wav.Left, &wav.Right}) {
    const std::int16_t* x = side->data();
    const ToneModel m = FitModel(x, 0, total, wav.SampleRate, settings);
    if (!m.Valid) return false;
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

  FrameAnalyser fa = MakeFrameAnalyser(length);
  std::vector<FramePeaks> peaks[2];
  for (std::int64_t j = 0; j < frames; ++j) {
    peaks[0].push_back(AnalyseFrame(fa, wav.Left.data() + j * hop, wav.SampleRate, settings));
    peaks[1].push_back(AnalyseFrame(fa, wav.Right.data() + j * hop, wav.SampleRate, settings));
  }
  FreeFrameAnalyser(fa);

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

bool ParseSegmentSpan(const std::string& text, const WavRecording& wav, SegmentSpan& out, std::string& error) {
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
    error = "segment '" + text + "' is not START:END";
    return false;
  }
  double t[2];
  const std::string parts[2] = {text.substr(0, colon), text.substr(colon + 1)};
  for (int i = 0; i < 2; ++i) {
    const char* begin = parts[i].c_str();
    char* end = nullptr;
    errno = 0;
    t[i] = std::strtod(begin, &end);
    if (parts[i].empty() || end == begin || *end != '\0' || errno != 0 || !std::isfinite(t[i]) || t[i] < 0.0) {
      error = "segment '" + text + "': '" + parts[i] + "' is not a time in seconds";
      return false;
    }
  }
  const auto total = static_cast<std::int64_t>(std::min(wav.Left.size(), wav.Right.size()));
  const double start = std::round(t[0] * wav.SampleRate), end = std::round(t[1] * wav.SampleRate);
  if (!(end > start)) {
    error = "segment '" + text + "' ends before it starts";
    return false;
  }
  if (end > static_cast<double>(total)) {
    error = "segment '" + text + "' goes beyond the recording's end";
    return false;
  }
  out = {static_cast<std::int64_t>(start), static_cast<std::int64_t>(end)};
  return true;
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

SpectrumCurve ComputeSpectrumCurve(const std::int16_t* samples, std::int64_t count, double rate, int bands) {
  SpectrumCurve curve;
  if (samples == nullptr || count <= 0 || !(rate > 0.0) || bands < 1) return curve;
  const std::int64_t used = std::min(count, kMaxTransformed);
  const WindowedStretch s = MakeWindowed(samples + (count - used) / 2, used, rate);
  if (s.LastBin <= s.FirstBin) return curve;
  const double binHz = rate / static_cast<double>(s.Length);
  const double lowHz = static_cast<double>(s.FirstBin) * binHz, highHz = rate / 2.0;
  const double span = std::log(highHz / lowHz);
  std::vector<double> bestHz(static_cast<std::size_t>(bands), 0.0), bestPower(static_cast<std::size_t>(bands), -1.0);
  for (std::int64_t k = s.FirstBin; k <= s.LastBin; ++k) {
    const double hz = static_cast<double>(k) * binHz;
    const auto band = static_cast<std::size_t>(
        std::clamp(std::floor(std::log(hz / lowHz) / span * bands), 0.0, static_cast<double>(bands - 1)));
    if (s.Power[static_cast<std::size_t>(k)] > bestPower[band]) {
      bestPower[band] = s.Power[static_cast<std::size_t>(k)];
      bestHz[band] = hz;
    }
  }
  for (std::size_t b = 0; b < bestHz.size(); ++b) {
    if (bestPower[b] < 0.0) continue;
    curve.FrequencyHz.push_back(bestHz[b]);
    curve.LevelDbfs.push_back(std::max(PowerToDbfs(bestPower[b], s.Gain), -200.0));
  }
  return curve;
}
