// The packed kernels against the scalar one: the same words and counters for
// any settings, their remainder and sine bit for bit, and the scalar
// fallback inside them confined to the lanes that need it.
#include <gtest/gtest.h>

#include <cmath>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/exact_remainder.h"
#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "engine/precise_sine.h"
#include "engine/synthesis_kernels.h"
#include "tests/engine/double_bits.h"
#include "tests/engine/synthesis_reference.h"
#include "tests/support/channels.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTwoPi = 6.28318530717959;
constexpr std::int64_t k2To53 = std::int64_t{1} << 53;
constexpr std::int64_t kYear = 44100LL * 3600 * 24 * 365;

// The packed kernels this processor runs.
std::vector<SynthesisKernel> PackedKernels() {
  std::vector<SynthesisKernel> kernels = {SynthesisKernel::kSse2};
  if (SynthesisKernelAvailable(SynthesisKernel::kAvx)) kernels.push_back(SynthesisKernel::kAvx);
  return kernels;
}

const char* Name(SynthesisKernel k) {
  return k == SynthesisKernel::kAvx ? "avx" : k == SynthesisKernel::kSse2 ? "sse2" : "scalar";
}

// Words (raw bytes) and counters after filling `frames` frames twice in a
// row from `s` with `kernel`: the second call continues from the counters the
// first one left.
struct FillResult {
  std::vector<unsigned char> bytes;
  std::vector<std::int64_t> counters;
  bool operator==(const FillResult&) const = default;
};

FillResult FillTwice(SynthesisKernel kernel, const ToneSettings& s, int frames) {
  ApplySettings(s);
  FillResult r;
  r.bytes.assign(8 * static_cast<std::size_t>(frames), 0xA5);
  EXPECT_EQ(FillBufferWith(kernel, r.bytes.data(), frames), 0);
  EXPECT_EQ(FillBufferWith(kernel, r.bytes.data() + 4 * static_cast<std::size_t>(frames), frames), 0);
  const std::array<std::int64_t, 4> counters = LoadCounters();
  r.counters.assign(counters.begin(), counters.end());
  return r;
}

std::string Describe(const ToneSettings& s, int frames) {
  std::string d = "frames " + std::to_string(frames);
  for (int ch = 0; ch < 4; ++ch) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "; ch%d f=%a vol=%a count=%lld", ch, s.freq[ch], s.volume[ch],
                  static_cast<long long>(s.counter[ch]));
    d += buf;
  }
  char buf[120];
  std::snprintf(buf, sizeof buf, "; master %a %a muted %d %d", s.master[0], s.master[1], s.muted[0], s.muted[1]);
  return d + buf;
}

// Random settings from raw generator words (the same on every platform),
// mixing ordinary values with the ones that take the unusual paths.
class SettingsSource {
 public:
  explicit SettingsSource(std::uint64_t seed) : gen_(seed) {}

  ToneSettings Next() {
    ToneSettings s;
    for (int ch = 0; ch < 4; ++ch) {
      s.freq[ch] = Frequency();
      s.volume[ch] = Gain();
    }
    for (int gen = 0; gen < 2; ++gen) {
      s.master[gen] = Gain();
      const std::uint64_t m = gen_() % 8;
      s.muted[gen] = m == 0 ? 1 : m == 1 ? 7 : 0;
      const std::int64_t count = Count();
      s.counter[2 * gen] = count;
      // The two counters of a generator are equal in playback; the kernels
      // must not depend on it.
      s.counter[2 * gen + 1] = gen_() % 6 == 0 ? Count() : count;
    }
    return s;
  }

  int Frames() {
    const std::uint64_t k = gen_() % 10;
    return k == 0 ? 2048 : k == 1 ? 1 + static_cast<int>(gen_() % 3) : 1 + static_cast<int>(gen_() % 700);
  }

 private:
  double Unit() { return static_cast<double>(gen_() >> 11) * 0x1p-53; }

  double Frequency() {
    static constexpr double kSpecial[] = {0.0,     -0.0, kNaN,  -kNaN,   kInf,   -kInf,    1e300,   -1e300,
                                          1e200,   1e20, -3e15, 1e12,    5e-324, 1e-300,   11025.0, 22050.0,
                                          44100.0, 1e6,  -1e6,  88200.5, 0.1,    -19999.99};
    switch (gen_() % 5) {
      case 0: return kSpecial[gen_() % std::size(kSpecial)];
      case 1: return (Unit() * 2.0 - 1.0) * 1e7;  // far beyond hearing
      default: return (Unit() * 2.0 - 1.0) * 22050.0;
    }
  }

  double Gain() {
    static constexpr double kSpecial[] = {0.0, -0.0, 1.0, 1.5, 100.0, -0.5, -2.0, kNaN, kInf, -kInf, 1e-300, 1e300};
    return gen_() % 4 == 0 ? kSpecial[gen_() % std::size(kSpecial)] : Unit();
  }

  std::int64_t Count() {
    const auto near = [&](std::int64_t centre) {
      return static_cast<std::int64_t>(static_cast<std::uint64_t>(centre) + gen_() % 6000 - 3000);
    };
    switch (gen_() % 10) {
      case 0: return 0;
      case 1: return static_cast<std::int64_t>(gen_() % 100000);
      case 2: return near(1000000000);
      case 3: return near(kYear);
      case 4: return near(k2To53);
      case 5: return near(-k2To53);
      case 6: return near(std::numeric_limits<std::int64_t>::max());  // wraps within the call
      case 7: return static_cast<std::int64_t>(gen_());
      default: return static_cast<std::int64_t>(gen_() >> (11 + gen_() % 40));
    }
  }

  std::mt19937_64 gen_;
};

TEST(SynthesisKernels, PackedKernelsGiveTheScalarWordsOnRandomSettings) {
  SettingsSource source(0x5eed2048);
  int compared = 0;
  for (int trial = 0; trial < 600; ++trial) {
    const ToneSettings s = source.Next();
    const int frames = source.Frames();
    const FillResult scalar = FillTwice(SynthesisKernel::kScalar, s, frames);
    for (SynthesisKernel kernel : PackedKernels()) {
      const FillResult packed = FillTwice(kernel, s, frames);
      ++compared;
      if (!(packed == scalar)) {
        std::size_t first = 0;
        while (first < scalar.bytes.size() && packed.bytes[first] == scalar.bytes[first]) ++first;
        ADD_FAILURE() << Name(kernel) << " differs from the scalar kernel at byte " << first
                      << " (counters equal: " << (packed.counters == scalar.counters) << ") for "
                      << Describe(s, frames);
      }
    }
  }
  EXPECT_GE(compared, 600);
}

// The pinned words of the large-count cases from every kernel, in every
// build (FillBuffer's own kernel is pinned by the FillBuffer tests).
TEST(SynthesisKernels, EveryKernelGivesThePinnedLargeCountWords) {
  std::vector<SynthesisKernel> kernels = PackedKernels();
  kernels.insert(kernels.begin(), SynthesisKernel::kScalar);
  for (SynthesisKernel kernel : kernels) {
    std::vector<std::int16_t> all;
    for (const ToneSettings& s : LargeCountCases()) {
      ApplySettings(s);
      std::vector<unsigned char> bytes(4 * 1500);
      FillBufferWith(kernel, bytes.data(), 1500);
      for (std::size_t i = 0; i < bytes.size(); i += 2) {
        all.push_back(static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8))));
      }
    }
    EXPECT_EQ(HashWords(all), kLargeCountWordsHash) << Name(kernel);
  }
}

struct FallbackCase {
  const char* name;
  ToneSettings settings;
  int frames;
  std::uint64_t expected;  // channel-samples computed partly one lane at a time
};

ToneSettings Tones(double f0, double f1, double f2, double f3, std::int64_t count1, std::int64_t count2) {
  ToneSettings s;
  const double f[4] = {f0, f1, f2, f3};
  for (int ch = 0; ch < 4; ++ch) {
    s.freq[ch] = f[ch];
    s.volume[ch] = 1.0;
    s.counter[ch] = ch < 2 ? count1 : count2;
  }
  return s;
}

TEST(SynthesisKernels, ScalarFallbackOnlyForLanesThatNeedIt) {
  ToneSettings muted_far = Tones(440.0, 445.0, 200.0, 210.0, std::int64_t{1} << 60, 5);
  muted_far.muted[0] = 1;
  const FallbackCase cases[] = {
      {"audible tones from the start", Tones(440.0, 445.0, 200.0, 210.0, 0, 0), 2048, 0},
      {"20 kHz after ten years", Tones(20000.0, -20000.0, 19999.5, 3.5, 10 * kYear, 10 * kYear), 2048, 0},
      {"half the rate just below 2^53 counts", Tones(22050.0, -22050.0, 1.0, 2.0, k2To53 - 5000, 0), 2048, 0},
      {"NaN and infinite frequencies", Tones(kNaN, kInf, -kInf, 440.0, 1000, 1000), 2048, 0},
      {"a phase beyond the double range", Tones(1e300, -1e300, 440.0, 1e300, 1000000000, 1000000000), 2048, 0},
      {"a terahertz tone after 1e9 frames", Tones(1e12, 440.0, 440.0, 440.0, 1000000000, 0), 2048, 0},
      {"a 1e15 Hz tone after 1e9 frames", Tones(1e15, 440.0, 440.0, 440.0, 1000000000, 0), 2048, 2048},
      {"counts past 2^53 on Generator 2", Tones(440.0, 445.0, 200.0, 210.0, 0, k2To53 + 5), 300, 2 * 300},
      {"counts reaching 2^53 within the call", Tones(440.0, 445.0, 200.0, 210.0, k2To53 - 100, 0), 300, 2 * 300},
      {"a muted generator at any count", muted_far, 2048, 0},
  };
  for (SynthesisKernel kernel : PackedKernels()) {
    for (const FallbackCase& c : cases) {
      SCOPED_TRACE(std::string(Name(kernel)) + ": " + c.name);
      const FillResult scalar = FillTwice(SynthesisKernel::kScalar, c.settings, c.frames);
      const std::uint64_t before = ScalarFallbackChannelSamples();
      const FillResult packed = FillTwice(kernel, c.settings, c.frames);
      EXPECT_EQ(ScalarFallbackChannelSamples() - before, 2 * c.expected);  // two calls
      EXPECT_TRUE(packed == scalar);
    }
  }
}

// Every audible frequency, either sign, at counts from the start to the
// largest exact count: the packed kernels never fall back.
TEST(SynthesisKernels, NoScalarFallbackForAudibleTonesAtAnyExactCount) {
  const std::int64_t counts[] = {0, 1000000000, kYear, 100 * kYear, k2To53 - 2048};
  for (SynthesisKernel kernel : PackedKernels()) {
    const std::uint64_t before = ScalarFallbackChannelSamples();
    for (double f = 20.0; f <= 22050.0; f *= 1.37) {
      for (std::int64_t count : counts) {
        ToneSettings s = Tones(f, -f, f * 0.999, -f * 1.001, count, count);
        ApplySettings(s);
        std::vector<unsigned char> bytes(4 * 64);
        FillBufferWith(kernel, bytes.data(), 64);
      }
    }
    EXPECT_EQ(ScalarFallbackChannelSamples() - before, 0u) << Name(kernel);
  }
}

// Dividends of every kind: phase arguments, the doubles next to multiples of
// the period around each quotient the packed remainder treats apart (2^31,
// 2^61), random bit patterns of every magnitude, zeros, NaN and infinities.
std::vector<double> RemainderArguments() {
  std::vector<double> args;
  std::mt19937_64 gen(31);
  for (int i = 0; i < 100000; ++i) {
    const double f = static_cast<double>(gen() % 4000000) / 100.0 - 20000.0;
    const double n = static_cast<double>(gen() % (std::uint64_t{1} << 53));
    args.push_back(((kTwoPi * f) * n) / 44100.0);
  }
  const double quotients[] = {1.0,          2.0,        3.0,    4097.0,         2147483647.0, 2147483648.0,
                              2147483649.0, 0x1p40 + 1, 0x1p52, 0x1p61 - 0x1p9, 0x1p61,       0x1p61 + 0x1p10,
                              0x1p70};
  for (double k : quotients) {
    double x = k * kTwoPi;
    for (int i = 0; i < 4; ++i) x = std::nextafter(x, 0.0);
    for (int i = 0; i < 9; ++i, x = std::nextafter(x, kInf)) {
      args.push_back(x);
      args.push_back(-x);
    }
  }
  for (int i = 0; i < 100000; ++i) args.push_back(FromBits(gen()));
  for (double x : {0.0, -0.0, 5e-324, -5e-324, kTwoPi, -kTwoPi, kNaN, kInf, -kInf, 1.7e308}) args.push_back(x);
  return args;
}

TEST(SynthesisKernels, PackedRemainderIsTheExactRemainder) {
  const auto args = RemainderArguments();
  const RemainderDivisor period = PrepareDivisor(kTwoPi);
  for (SynthesisKernel kernel : PackedKernels()) {
    std::vector<double> got(args.size());
    PackedRemainders(kernel, period, args.data(), got.data(), static_cast<std::int32_t>(args.size()));
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (!SameResult(got[i], ExactRemainder(args[i], kTwoPi)) && wrong++ == 0) {
        ADD_FAILURE() << Name(kernel) << ": remainder of " << std::hexfloat << args[i] << " gave " << got[i];
      }
    }
    EXPECT_EQ(wrong, 0u) << Name(kernel);
  }
}

// Arguments around every multiple of pi/2 within a period either side (where
// the reduction's second and third stages run), a few far multiples within
// the packed sine's range, the kernel boundaries, and uniform ones.
std::vector<double> SineArguments() {
  std::vector<double> args;
  const long double half_pi = 1.57079632679489661923132169163975144L;
  std::vector<long double> centres;
  for (int k = -4; k <= 4; ++k) centres.push_back(k * half_pi);
  for (long double k : {5.0L, 4097.0L, 1000003.0L}) centres.push_back(k * half_pi);
  centres.push_back(half_pi / 2);
  centres.push_back(-half_pi / 2);
  for (long double c : centres) {
    double x = static_cast<double>(c);
    for (int i = 0; i < 300; ++i) x = std::nextafter(x, -kInf);
    for (int i = 0; i < 600; ++i, x = std::nextafter(x, kInf)) args.push_back(x);
  }
  for (double x : {0x1p-26, 0x1.fffffffffffffp-27, 1e-300, 5e-324, 0.0, kTwoPi, 0x1.921fb5p+20}) {
    args.push_back(x);
    args.push_back(-x);
  }
  args.push_back(kNaN);
  std::mt19937_64 gen(20261211);
  for (int i = 0; i < 200000; ++i) args.push_back((static_cast<double>(gen() >> 11) * 0x1p-53 * 2.0 - 1.0) * kTwoPi);
  return args;
}

TEST(SynthesisKernels, PackedSineHasTheScalarBits) {
  const auto args = SineArguments();
  for (SynthesisKernel kernel : PackedKernels()) {
    std::vector<double> got(args.size());
    PackedSines(kernel, args.data(), got.data(), static_cast<std::int32_t>(args.size()));
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (!SameResult(got[i], PreciseSine(args[i])) && wrong++ == 0) {
        ADD_FAILURE() << Name(kernel) << ": sine of " << std::hexfloat << args[i] << " gave " << got[i]
                      << " instead of " << PreciseSine(args[i]);
      }
    }
    EXPECT_EQ(wrong, 0u) << Name(kernel);
  }
}

}  // namespace
