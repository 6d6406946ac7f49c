#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "engine/exact_remainder.h"
#include "tests/engine/double_bits.h"

namespace {

constexpr double kTwoPi = 6.28318530717959;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct RemainderCase {
  double x, y, expected;
};

TEST(ExactRemainder, DefinedForEveryKindOfOperand) {
  const RemainderCase cases[] = {
      {kInf, 1.0, kNaN},
      {-kInf, 1.0, kNaN},
      {kNaN, 1.0, kNaN},
      {1.0, 0.0, kNaN},
      {1.0, -0.0, kNaN},
      {1.0, kNaN, kNaN},
      {5.0, kInf, 5.0},
      {-5.0, -kInf, -5.0},
      {-0.0, 1.0, -0.0},
      {0.0, 3.0, 0.0},
      {-7.0, 2.0, -1.0},
      {7.0, -2.0, 1.0},
      {-4.0, 2.0, -0.0},
      {1e308, 3.0, 2.0},
      {-1e300, 0.1, -0x1.d66e81bc37800p-14},
      {1e22, kTwoPi, 0x1.c4e109aabf010p+0},
      {7 * 4.9e-324, 2 * 4.9e-324, 4.9e-324},
      {1.0, 4.9e-324, 0.0},
      {kTwoPi, kTwoPi, 0.0},
  };
  for (const RemainderCase& c : cases) {
    EXPECT_TRUE(SameResult(ExactRemainder(c.x, c.y), c.expected))
        << std::hexfloat << c.x << " mod " << c.y << " gave " << ExactRemainder(c.x, c.y);
  }
}

// Phase arguments the synthesis forms, and the doubles right next to whole
// multiples of the period, where a quotient rounded to the wrong side shows.
std::vector<double> PhaseArguments() {
  std::mt19937_64 gen(44100);
  std::vector<double> args;
  for (int i = 0; i < 200000; ++i) {
    const double f = static_cast<double>(gen() % 2000000) / 100.0 - 1000.0;
    const double n = static_cast<double>(gen() % 40000000000ull);
    args.push_back(((kTwoPi * f) * n) / 44100.0);
  }
  for (double k : {1.0, 2.0, 3.0, 1e6, 12345677.0, 2147483647.0, 2147483648.0, 3e9, 1e12}) {
    double x = k * kTwoPi;
    for (int i = 0; i < 3; ++i) x = std::nextafter(x, 0.0);
    for (int i = 0; i < 7; ++i, x = std::nextafter(x, kInf)) {
      args.push_back(x);
      args.push_back(-x);
    }
  }
  return args;
}

TEST(ExactRemainder, FastPathMatchesForTheSynthesisPeriodAndOtherDivisors) {
  const double divisors[] = {kTwoPi, 1.0, 3.0, 0x1.fffffffffffffp+2, 44100.0, 1e-300, 4.9e-324 * 3};
  const auto phases = PhaseArguments();
  std::mt19937_64 gen(7);
  for (double y : divisors) {
    const RemainderDivisor d = PrepareDivisor(y);
    if (y >= 0x1p-1022) {
      EXPECT_EQ(d.part1 + d.part2 + d.part3, y);
    }
    std::size_t wrong = 0;
    for (double t : phases)
      wrong += !SameResult(FastRemainder(d, t * (y / kTwoPi)), ExactRemainder(t * (y / kTwoPi), y));
    for (int i = 0; i < 100000; ++i) {
      // Dividends a few thousand periods wide, at random bit positions.
      const double t = y * (static_cast<double>(gen() >> 11) * 0x1p-53) * 5000.0 * ((i & 1) ? 1 : -1);
      wrong += !SameResult(FastRemainder(d, t), ExactRemainder(t, y));
    }
    EXPECT_EQ(wrong, 0u) << "divisor " << y;
  }
  const RemainderDivisor d = PrepareDivisor(kTwoPi);
  EXPECT_EQ(d.max_quotient, 2147483648.0);
  EXPECT_TRUE(std::isnan(FastRemainder(d, kNaN)));
  EXPECT_TRUE(std::isnan(FastRemainder(d, -kInf)));
}

// The C library's fmod must agree bit for bit with our exact remainder on
// the synthesis' arguments and on random operands of every magnitude. In
// the native build this checks ExactRemainder against a known exact fmod;
// in the Windows build it checks the fmod the DLL's runtime provides.
TEST(ExactRemainder, AgreesWithTheLibraryFmod) {
  std::size_t wrong = 0;
  double first_wrong = 0.0;
  auto compare = [&](double x, double y) {
    if (!SameResult(std::fmod(x, y), ExactRemainder(x, y))) {
      if (wrong++ == 0) first_wrong = x;
    }
  };
  for (double t : PhaseArguments()) compare(t, kTwoPi);
  std::mt19937_64 gen(1234);
  for (int i = 0; i < 100000; ++i) {
    const double x = FromBits(gen());
    const double y = FromBits(gen() >> (i % 3));  // smaller exponents now and then
    compare(x, y);
  }
  EXPECT_EQ(wrong, 0u) << "first at " << std::hexfloat << first_wrong;
}

}  // namespace
