// One-off accuracy sweep, too long for the test suite: the sine's error in
// ulps against the x87 long double sine over many millions of arguments in
// [-TwoPi, TwoPi] plus dense runs around every multiple of pi/2 there, and
// FillBuffer's words against the straightforward reference over minutes of
// audio at large counts. Prints the figures; exits 1 if the sine reaches one
// ulp or any word differs.
//
// Usage: accuracy_sweep [uniform-arguments (default 100000000)] [frames per case (default 2646000)]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "engine/precise_sine.h"
#include "tests/engine/synthesis_reference.h"

namespace {

constexpr double kTwoPi = 6.28318530717959;

struct SineStats {
  double worst = 0.0;
  double worst_at = 0.0;
  long long count = 0;
  long long not_nearest = 0;  // results other than the double nearest the truth
};

void CheckSine(double x, SineStats& st) {
  const long double truth = std::sin(static_cast<long double>(x));
  const double got = PreciseSine(x);
  ++st.count;
  st.not_nearest += got != static_cast<double>(truth);
  double e = 0.0;
  if (truth != 0.0L) {
    const int exponent = std::max(std::ilogb(static_cast<double>(truth)) - 52, -1074);
    e = static_cast<double>(std::fabs(static_cast<long double>(got) - truth) / std::ldexp(1.0L, exponent));
  } else if (got != 0.0) {
    e = std::numeric_limits<double>::infinity();
  }
  if (!(e <= st.worst)) {
    st.worst = e;
    st.worst_at = x;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long long uniform = argc > 1 ? std::atoll(argv[1]) : 100000000LL;
  const int frames = argc > 2 ? std::atoi(argv[2]) : 2646000;  // one minute

  SineStats st;
  std::mt19937_64 gen(1);
  for (long long i = 0; i < uniform; ++i) {
    CheckSine((static_cast<double>(gen() >> 11) * 0x1p-53 * 2.0 - 1.0) * kTwoPi, st);
  }
  const long double half_pi = 1.57079632679489661923132169163975144L;
  for (int k = -4; k <= 4; ++k) {
    double x = static_cast<double>(k * half_pi);
    for (int i = 0; i < 500000; ++i) x = std::nextafter(x, -10.0);
    for (int i = 0; i < 1000000; ++i, x = std::nextafter(x, 10.0)) CheckSine(x, st);
  }
  std::printf(
      "sine: %lld arguments in [-TwoPi, TwoPi], max error %.4f ulp at %a, %lld (%.3f%%) not the nearest double\n",
      st.count, st.worst, st.worst_at, st.not_nearest, 100.0 * static_cast<double>(st.not_nearest) / st.count);
  // Beyond the synthesis' range: random doubles from 2^20 to the largest.
  SineStats wide;
  for (long long i = 0; i < uniform / 10; ++i) {
    const std::uint64_t bits = ((1043 + gen() % 1004) << 52) | (gen() >> 12);
    double x;
    std::memcpy(&x, &bits, sizeof x);
    CheckSine(x, wide);
  }
  std::printf("sine: %lld arguments in [2^20, 2^1024), max error %.4f ulp at %a\n", wide.count, wide.worst,
              wide.worst_at);
  st.worst = std::max(st.worst, wide.worst);

  // Word sweep: the benchmark's four tones and harder ones, at large counts.
  const double tones[][4] = {{440.0, 445.0, 200.0, 210.0}, {1000.0, -1000.0, 11025.0, 19999.99}};
  const long long starts[] = {0, 1000000000LL, 44100LL * 86400 * 365};
  long long words = 0, mismatched = 0;
  std::vector<unsigned char> buffer(4 * 2048);
  for (const auto& f : tones) {
    for (long long start : starts) {
      ToneSettings s;
      for (int ch = 0; ch < 4; ++ch) {
        s.freq[ch] = f[ch];
        s.volume[ch] = 1.0;
        s.counter[ch] = start;
      }
      ApplySettings(s);
      const std::vector<std::int16_t> expected = ReferenceWords(s, frames);
      for (int done = 0; done < frames; done += 2048) {
        const int n = std::min(2048, frames - done);
        FillBuffer(buffer.data(), n);
        for (int i = 0; i < 2 * n; ++i) {
          const auto w =
              static_cast<std::int16_t>(static_cast<std::uint16_t>(buffer[2 * i] | (buffer[2 * i + 1] << 8)));
          mismatched += w != expected[static_cast<std::size_t>(2 * done + i)];
          ++words;
        }
      }
    }
  }
  std::printf("words: %lld compared with the reference, %lld differ\n", words, mismatched);
  return st.worst < 1.0 && mismatched == 0 ? 0 : 1;
}
