#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/precise_sine.h"

namespace {

constexpr double kTwoPi = 6.28318530717959;

std::uint64_t Bits(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

// Arguments that stress the reduction: the doubles around every multiple of
// pi/2 within one period either side (where the result cancels to a few
// bits), around a few far multiples, and around the kernel's boundaries.
std::vector<double> HardArguments() {
  std::vector<double> args;
  const long double half_pi = 1.57079632679489661923132169163975144L;
  std::vector<long double> multiples;
  for (int k = -4; k <= 4; ++k) multiples.push_back(k * half_pi);
  for (long double k : {5.0L, 7.0L, 100.0L, 4097.0L, 65535.0L, 1000003.0L}) multiples.push_back(k * half_pi);
  multiples.push_back(0.785398163397448309615660845819875721L);  // pi/4
  multiples.push_back(-0.785398163397448309615660845819875721L);
  for (long double m : multiples) {
    double x = static_cast<double>(m);
    for (int i = 0; i < 300; ++i) x = std::nextafter(x, -std::numeric_limits<double>::infinity());
    for (int i = 0; i < 600; ++i, x = std::nextafter(x, std::numeric_limits<double>::infinity())) args.push_back(x);
  }
  for (double tiny : {0x1p-26, 0x1p-27, 0x1.8p-26, 1e-300, 4.9e-324}) {
    args.push_back(tiny);
    args.push_back(-tiny);
    args.push_back(std::nextafter(tiny, 1.0));
  }
  return args;
}

// Arguments beyond the Cody-Waite range, up to the largest double: random
// ones of every exponent, the double known to come closest to a multiple of
// pi/2 (6381956970095103 * 2^797) and its neighbours, and both sides of the
// switch between the two reductions.
std::vector<double> WideArguments(std::size_t count) {
  std::mt19937_64 gen(1074);
  std::vector<double> args;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint64_t exponent = 1043 + gen() % (2046 - 1043 + 1);  // 2^20 .. 2^1023
    const std::uint64_t bits = (exponent << 52) | (gen() >> 12) | ((i & 1) ? 0x8000000000000000ull : 0);
    double x;
    std::memcpy(&x, &bits, sizeof x);
    args.push_back(x);
  }
  for (double centre : {std::ldexp(6381956970095103.0, 797), 0x1.921fb5p+20, 0x1.fffffffffffffp+1023}) {
    double x = centre;
    for (int i = 0; i < 50; ++i) x = std::nextafter(x, 0.0);
    for (int i = 0; i < 100 && std::isfinite(x); ++i, x = std::nextafter(x, 2 * centre)) {
      args.push_back(x);
      args.push_back(-x);
    }
  }
  return args;
}

// Uniform arguments in [-TwoPi, TwoPi] from a fixed seed, built from raw
// generator words so every platform sees the same sequence.
std::vector<double> UniformArguments(std::size_t count) {
  std::mt19937_64 gen(20261211);
  std::vector<double> args(count);
  for (double& x : args) x = (static_cast<double>(gen() >> 11) * 0x1p-53 * 2.0 - 1.0) * kTwoPi;
  return args;
}

TEST(PreciseSine, SpecialArguments) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  for (double x : {nan, -nan, inf, -inf}) {
    EXPECT_TRUE(std::isnan(PreciseSine(x))) << x;
  }
  // Zero keeps its sign; tiny arguments are their own sine.
  for (double x : {0.0, -0.0, 1e-300, -4.9e-324, 0x1.fffffffffffffp-27}) {
    EXPECT_EQ(Bits(PreciseSine(x)), Bits(x)) << x;
  }
  // Values the synthesis meets at the period's landmarks.
  EXPECT_EQ(PreciseSine(0x1.921fb54442d18p+0), 1.0);
  EXPECT_EQ(PreciseSine(-0x1.921fb54442d18p+0), -1.0);
  EXPECT_EQ(PreciseSine(0.5), 0x1.eaee8744b05fp-2);  // correctly rounded value
}

#ifndef _WIN32
// Error of PreciseSine(x) in units in the last place of the true result,
// taking the x87 long double sine as the truth (64-bit significand: its own
// error is some 2^-11 of a double ulp).
double UlpError(double x) {
  const long double truth = std::sin(static_cast<long double>(x));
  const double got = PreciseSine(x);
  if (truth == 0.0L) return got == 0.0 ? 0.0 : std::numeric_limits<double>::infinity();
  const int exponent = std::max(std::ilogb(static_cast<double>(truth)) - 52, -1074);
  return static_cast<double>(std::fabs(static_cast<long double>(got) - truth) / std::ldexp(1.0L, exponent));
}

TEST(PreciseSine, ErrorBelowOneUlpAgainstLongDouble) {
  double worst = 0.0;
  double worst_at = 0.0;
  auto check = [&](const std::vector<double>& args) {
    for (double x : args) {
      const double e = UlpError(x);
      if (!(e <= worst)) {
        worst = e;
        worst_at = x;
      }
    }
  };
  check(HardArguments());
  check(UniformArguments(3000000));
  check(WideArguments(200000));
  RecordProperty("max_ulp_error", std::to_string(worst));
  std::printf("max error %.4f ulp at %a\n", worst, worst_at);
  EXPECT_LT(worst, 1.0) << "at " << std::hexfloat << worst_at;
}
#endif

// The bits every build must give: this pins the native results (checked
// above against the reference) so that the Windows build can prove it
// computes the very same values.
constexpr std::uint64_t kSineBitsHash = 1133512117417599697ull;

TEST(PreciseSine, SameBitsOnEveryBuild) {
  std::vector<double> args = HardArguments();
  const auto uniform = UniformArguments(200000);
  args.insert(args.end(), uniform.begin(), uniform.end());
  const auto wide = WideArguments(20000);
  args.insert(args.end(), wide.begin(), wide.end());
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (double x : args) {
    h ^= Bits(PreciseSine(x));
    h *= 0x100000001b3ull;
  }
  EXPECT_EQ(h, kSineBitsHash);
}

}  // namespace
