#include "test_signals.h"

#include <fftw3.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>

#include <gtest/gtest.h>

std::vector<std::int16_t> SynthesiseSide(const TestSignal& signal, int side) {
  std::vector<std::int16_t> out(static_cast<std::size_t>(signal.Frames));
  std::mt19937 rng(1234u + static_cast<unsigned>(side));
  std::uniform_real_distribution<double> u(-0.5, 0.5);
  std::size_t span = 0;
  for (std::int64_t n = 0; n < signal.Frames; ++n) {
    while (span + 1 < signal.Spans.size() && signal.Spans[span + 1].From <= n) ++span;
    const std::vector<TestTone>& tones = side == 0 ? signal.Spans[span].Left : signal.Spans[span].Right;
    double v = 0.0;
    for (const TestTone& t : tones)
      v += 32767.0 * std::pow(10.0, t.Dbfs / 20.0) *
           std::sin(2.0 * M_PI * t.Hz * static_cast<double>(n) / signal.Rate + t.Phase);
    if (signal.Dither && !signal.Truncate) v += u(rng) + u(rng);
    const double word = signal.Truncate ? std::trunc(v) : std::round(v);
    out[static_cast<std::size_t>(n)] = static_cast<std::int16_t>(std::clamp(word, -32768.0, 32767.0));
  }
  return out;
}

std::string TempPath(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("kq-tools-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

std::string WriteTestWav(const TestSignal& signal, const std::string& name) {
  return WriteWordsWav(SynthesiseSide(signal, 0), SynthesiseSide(signal, 1), signal.Rate, name);
}

std::string WriteWordsWav(const std::vector<std::int16_t>& left, const std::vector<std::int16_t>& right, double rate,
                          const std::string& name) {
  std::vector<short> frames(left.size() * 2);
  for (std::size_t i = 0; i < left.size(); ++i) {
    frames[2 * i] = left[i];
    frames[2 * i + 1] = right[i];
  }
  const std::string path = TempPath(name);
  SF_INFO info{};
  info.samplerate = static_cast<int>(rate);
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f != nullptr) {
    sf_writef_short(f, frames.data(), static_cast<sf_count_t>(left.size()));
    sf_close(f);
  }
  return path;
}

LineTruth PeriodicTruth(const std::vector<std::int16_t>& samples, std::int64_t period, std::int64_t fundamental) {
  const auto n = static_cast<std::size_t>(period);
  std::vector<double> in(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(n));
  std::vector<fftw_complex> out(n / 2 + 1);
  fftw_plan plan = fftw_plan_dft_r2c_1d(static_cast<int>(n), in.data(), out.data(), FFTW_ESTIMATE);
  fftw_execute(plan);
  fftw_destroy_plan(plan);
  // Sine amplitude of line k (the Nyquist line, when there is one, counts once).
  auto amplitude = [&](std::size_t k) {
    const double a = std::hypot(out[k][0], out[k][1]) / static_cast<double>(n);
    return 2 * k == n ? a : 2.0 * a;
  };
  const auto f = static_cast<std::size_t>(fundamental);
  double others = 0.0, strongest = 0.0;
  for (std::size_t k = 1; k <= n / 2; ++k) {
    if (k == f) continue;
    const double a = amplitude(k);
    others += 2 * k == n ? a * a : a * a / 2.0;
    strongest = std::max(strongest, a);
  }
  const double a1 = amplitude(f);
  LineTruth t;
  t.LevelDbfs = 20.0 * std::log10(a1 / 32767.0);
  t.SfdrDb = 20.0 * std::log10(a1 / strongest);
  t.ThdNDb = 10.0 * std::log10(others / (a1 * a1 / 2.0));
  return t;
}

namespace {
// Removes this process's temporary folder once all tests have run.
struct TempFolderCleanup : ::testing::Environment {
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::temp_directory_path() / ("kq-tools-test-" + std::to_string(getpid())),
                                ec);
  }
};
[[maybe_unused]] ::testing::Environment* const kCleanup = ::testing::AddGlobalTestEnvironment(new TempFolderCleanup);
}  // namespace
