// Windowing and transforms shared by every measurement of the analyser: the
// 7-term Blackman-Harris window, an owned FFTW real transform, one windowed
// stretch with its zero-padded power spectrum, and the conversions between
// bin power and the sine-equivalent level in dBFS.
#pragma once

#include <fftw3.h>

#include <cstdint>
#include <vector>

namespace analysis_detail {

constexpr double kFullScale = 32767.0;
constexpr double kPi = 3.14159265358979323846;
// The 7-term window's main lobe reaches its first zero 7 bins from the peak.
constexpr int kLobeBins = 8;
// Longest stretch transformed at once; longer segments are measured on their
// middle part, which is already far more than the accuracy needs.
constexpr std::int64_t kMaxTransformed = std::int64_t{1} << 21;
constexpr double kSilentDb = -400.0;
// Shortest stretch with a spectrum: four main lobes.
constexpr std::int64_t kMinSpectrumFrames = 4 * kLobeBins;

// Window of n points, symmetric (both ends near zero).
std::vector<double> Bh7Window(std::int64_t n);

// Smallest 2^a 3^b 5^c 7^d not below n: sizes FFTW transforms quickly.
std::int64_t SmoothSize(std::int64_t n);

// Sine-equivalent level of a bin power under a window of sum `gain`, and back.
double PowerToDbfs(double power, double gain);
double DbfsToPower(double dbfs, double gain);

// A real-to-complex transform of a fixed length with its own aligned buffers
// and plan, all freed with it. Planning is not thread-safe in FFTW: make one
// on one thread at a time.
class RealFft {
 public:
  explicit RealFft(std::int64_t length);
  ~RealFft();
  RealFft(const RealFft&) = delete;
  RealFft& operator=(const RealFft&) = delete;

  std::int64_t Length() const { return length_; }
  double* Input() { return in_; }
  // Transforms the input and answers |Y[k]|^2 for k = 0..Length/2.
  void PowerSpectrum(std::vector<double>& power);

 private:
  std::int64_t length_;
  double* in_;
  fftw_complex* out_;
  fftw_plan plan_;
};

// One stretch, mean removed and windowed, with its zero-padded power spectrum.
struct WindowedStretch {
  std::int64_t Count = 0;   // samples
  std::int64_t Length = 0;  // transform length
  double Rate = 0.0;
  double Gain = 0.0;             // sum of the window
  double WindowPower = 0.0;      // sum of the squared window
  std::vector<double> Weighted;  // window * (x - mean)
  std::vector<double> Power;     // |Y[k]|^2 for k = 0..Length/2
  std::int64_t FirstBin = 0;     // usable padded bins, away from DC and Nyquist
  std::int64_t LastBin = 0;
  double NoisePower = 0.0;  // mean noise power per padded bin
};

// A stretch shorter than kMinSpectrumFrames gives an empty spectrum.
WindowedStretch MakeWindowed(const std::int16_t* x, std::int64_t count, double rate);

}  // namespace analysis_detail
