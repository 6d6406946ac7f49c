// How far FillBuffer's words are from an ideal sine after long playing. The
// phase is computed from the whole count, (TwoPi * f * n) / R, so its
// rounding error grows with n. For each frequency and playing time, the
// counters are set to that count and a stretch of words is compared with
// the ideal sine's words: the phase f * n / R reduced exactly in integers
// (the frequencies are whole hertz), the sine in long double, then the same
// mix gain, scale and truncation as the synthesis. Also reported: the
// largest error of the phase the formula hands to the sine, against that
// exact phase.
//
// Prints a Markdown table (docs/actions.md holds it).
// Usage: accuracy_over_time [seconds of audio per cell (default 10)]
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "tests/support/channels.h"

namespace {

constexpr std::int64_t Rate = 44100;
constexpr long double TwoPiExact = 6.283185307179586476925286766559005768L;

struct Duration {
  const char* name;
  std::int64_t seconds;
};
const Duration Durations[] = {
    {"1 hour", 3600}, {"1 day", 86400}, {"1 week", 7 * 86400}, {"30 days", 30 * 86400}, {"1 year", 365 * 86400}};
const std::int64_t Frequencies[] = {20, 1000, 15000, 20000};

struct CellError {
  int wordLsb = 0;                  // largest |word - ideal word|
  long double phaseDegrees = 0.0L;  // largest |phase - ideal phase|
};

// One channel (Generator 1 left) at full gain, the others silent, from count n0.
CellError Measure(std::int64_t hz, std::int64_t n0, std::int64_t frames) {
  GeneratorStateRecord& s = GeneratorState;
  LoadDefaults();
  Store(s.Gen1FreqLeft, static_cast<double>(hz));
  Store(s.Gen1VolumeLeft, 1.0);
  StoreCounters(n0);

  const double f = static_cast<double>(hz);
  CellError worst;
  std::vector<std::int16_t> words(2 * 2048);
  for (std::int64_t done = 0; done < frames; done += 2048) {
    FillBuffer(words.data(), 2048);
    for (std::int64_t i = 0; i < 2048; ++i) {
      const std::int64_t n = n0 + done + i;
      // The exact phase in cycles is (hz * n mod R) / R.
      const std::int64_t m = (hz % Rate) * (n % Rate) % Rate;
      const long double ideal = TwoPiExact * static_cast<long double>(m) / static_cast<long double>(Rate);
      const long double idealValue = std::sin(ideal) * 0.2L * 32767.0L;
      const auto idealWord = static_cast<std::int32_t>(idealValue);  // truncation, as the synthesis
      const int error = std::abs(words[static_cast<std::size_t>(2 * i)] - idealWord);
      if (error > worst.wordLsb) worst.wordLsb = error;
      // The phase the formula hands to the sine, in its written grouping.
      const double t = ((s.TwoPi * f) * static_cast<double>(n)) / s.SampleRate;
      const double p = std::fmod(t, s.TwoPi);
      long double d = std::remainder(static_cast<long double>(p) - ideal, TwoPiExact);
      d = std::fabs(d) * 180.0L / (TwoPiExact / 2.0L);
      if (d > worst.phaseDegrees) worst.phaseDegrees = d;
    }
  }
  return worst;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
  const std::int64_t frames = std::max<std::int64_t>(2048, static_cast<std::int64_t>(seconds * Rate) / 2048 * 2048);
  std::printf(
      "Largest word error (LSB) / largest phase error (degrees) against an ideal sine, over %.1f s of\n"
      "audio from the count reached after each playing time; one channel at full volume (peak 6553).\n\n",
      static_cast<double>(frames) / Rate);
  std::printf("| Frequency |");
  for (const Duration& d : Durations) std::printf(" %s |", d.name);
  std::printf("\n|---|");
  for (std::size_t i = 0; i < std::size(Durations); ++i) std::printf("---|");
  std::printf("\n");
  for (std::int64_t hz : Frequencies) {
    std::printf("| %lld Hz |", static_cast<long long>(hz));
    for (const Duration& d : Durations) {
      const CellError e = Measure(hz, d.seconds * Rate, frames);
      std::printf(" %d / %.2Lg° |", e.wordLsb, e.phaseDegrees);
      std::fflush(stdout);
    }
    std::printf("\n");
  }
  return 0;
}
