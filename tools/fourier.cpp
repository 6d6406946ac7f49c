#include "tools/fourier.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "tools/analysis.h"

namespace analysis_detail {

namespace {

// 7-term Blackman-Harris coefficients (side lobes near -180 dB).
constexpr double kBh7[7] = {0.27105140069342, 0.43329793923448, 0.21812299954311, 0.06592544638803,
                            0.01081174209837, 0.00077658482522, 0.00001388721735};

}  // namespace

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

RealFft::RealFft(std::int64_t length)
    : length_(length),
      in_(fftw_alloc_real(static_cast<std::size_t>(length))),
      out_(fftw_alloc_complex(static_cast<std::size_t>(length / 2 + 1))),
      plan_(nullptr) {
  if (in_ != nullptr && out_ != nullptr)
    plan_ = fftw_plan_dft_r2c_1d(static_cast<int>(length), in_, out_, FFTW_ESTIMATE);
  if (plan_ == nullptr) {
    fftw_free(out_);
    fftw_free(in_);
    throw std::bad_alloc();
  }
}

RealFft::~RealFft() {
  fftw_destroy_plan(plan_);
  fftw_free(out_);
  fftw_free(in_);
}

void RealFft::PowerSpectrum(std::vector<double>& power) {
  fftw_execute(plan_);
  power.resize(static_cast<std::size_t>(length_ / 2 + 1));
  for (std::size_t k = 0; k < power.size(); ++k) power[k] = out_[k][0] * out_[k][0] + out_[k][1] * out_[k][1];
}

WindowedStretch MakeWindowed(const std::int16_t* x, std::int64_t count, double rate) {
  WindowedStretch s;
  s.Count = count;
  s.Rate = rate;
  if (count < kMinSpectrumFrames) return s;
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
  RealFft fft(s.Length);
  std::copy(s.Weighted.begin(), s.Weighted.end(), fft.Input());
  std::fill(fft.Input() + count, fft.Input() + s.Length, 0.0);
  fft.PowerSpectrum(s.Power);

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

}  // namespace analysis_detail

using namespace analysis_detail;

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
