// Properties over large random samples, checked against an exact big-integer
// reference (and, natively, against the C library's correctly rounded strtod
// and printf as a second, independent reference):
// - FormatNumber(v, d) is v's exact value rounded half-even to d decimals, and
//   ParseNumber of that text is the double nearest to the printed value;
// - ParseNumber of random decimal texts is the nearest double.
#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include "convert/number_text.h"
#include "tests/convert/exact_decimal.h"

namespace {

// Under Wine, in unoptimised (sanitizer) builds and under ThreadSanitizer
// (this test has no threads to check), fewer: a few seconds.
#if defined(_WIN32) || !defined(NDEBUG) || defined(__SANITIZE_THREAD__)
constexpr int kSamplesPerKind = 25000;
#else
constexpr int kSamplesPerKind = 200000;
#endif

[[maybe_unused]] std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return out;
}

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

// Collects failures, keeping the first few descriptions.
struct Failures {
  int count = 0;
  std::string first;
  void Add(const std::string& what) {
    if (count++ < 5) {
      first += what + "\n";
    }
  }
};

enum class Kind { kAnyBits, kSubnormal, kSetting, kNearTie, kHuge, kNearInteger };

// A finite double of the given kind; decimals picks the ties aimed at.
double Sample(std::mt19937_64& rng, Kind kind, int decimals) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const double sign = (rng() & 1) ? -1.0 : 1.0;
  switch (kind) {
    case Kind::kAnyBits: {
      double v = 0;
      do {
        v = std::bit_cast<double>(rng());
      } while (!std::isfinite(v));
      return v;
    }
    case Kind::kSubnormal: return std::bit_cast<double>(rng() & 0x800FFFFFFFFFFFFFu);
    case Kind::kSetting:  // frequencies and percentages: 1e-3 to 1e6, log-uniform
      return sign * std::pow(10.0, -3.0 + 9.0 * unit(rng));
    case Kind::kNearTie: {
      // The double nearest to an odd multiple of half the last decimal place,
      // or one of its four neighbours.
      const double scale = decimals == 1 ? 20.0 : 200.0;
      const std::uint64_t k = 2 * (rng() % 200000000) + 1;
      double v = static_cast<double>(k) / scale;
      for (int step = static_cast<int>(rng() % 5) - 2; step != 0; step += step > 0 ? -1 : 1) {
        v = std::nextafter(v, step > 0 ? DBL_MAX : -DBL_MAX);
      }
      return sign * v;
    }
    case Kind::kHuge: {  // exponent field 1800-2046: 1e142 up to the largest
      const std::uint64_t field = 1800 + rng() % 247;
      return std::bit_cast<double>((rng() & 0x800FFFFFFFFFFFFFu) | (field << 52));
    }
    case Kind::kNearInteger: {
      const int power = static_cast<int>(rng() % 64);
      double v = std::ldexp(1.0, power) + static_cast<double>(rng() % 3) - 1.0;
      for (int n = static_cast<int>(rng() % 3); n > 0; --n) {
        v = std::nextafter(v, (rng() & 1) ? DBL_MAX : 0.0);
      }
      return sign * v;
    }
  }
  return 0.0;
}

void CheckRoundTrip(double v, int decimals, Failures& failures) {
  const std::u16string text = FormatNumber(v, decimals);
  const std::string narrow = Narrow(text);
  const auto where = [&] {
    char line[160];
    std::snprintf(line, sizeof line, "%a with %d decimals -> \"%.40s\"", v, decimals, narrow.c_str());
    return std::string(line);
  };
  if (!IsCorrectFixedText(narrow, decimals, v)) {
    failures.Add(std::string("printed text not correctly rounded: ") + where());
    return;
  }
  bool negative = false;
  std::string digits;
  SplitFixedText(narrow, decimals, negative, digits);
  const double back = ParseNumber(text.c_str());
  if (!IsNearestDouble(digits, -decimals, negative, back)) {
    failures.Add(std::string("read back not the nearest double: ") + where());
  }
#if !defined(_WIN32)
  // The C library's own conversions, both correctly rounded here. Its printf
  // keeps the minus sign of a zero, which FormatNumber drops.
  if (v != 0.0) {
    char reference[400];
    std::snprintf(reference, sizeof reference, "%.*f", decimals, v);
    if (narrow != reference) {
      failures.Add(std::string("differs from printf \"") + reference + "\": " + where());
    }
  }
  if (Bits(back) != Bits(std::strtod(narrow.c_str(), nullptr))) {
    failures.Add(std::string("differs from strtod: ") + where());
  }
#endif
}

TEST(RoundTrip, EveryFiniteDoubleComesBackAsTheNearestToItsText) {
  std::mt19937_64 rng(20240611);
  for (Kind kind :
       {Kind::kAnyBits, Kind::kSubnormal, Kind::kSetting, Kind::kNearTie, Kind::kHuge, Kind::kNearInteger}) {
    Failures failures;
    for (int i = 0; i < kSamplesPerKind; ++i) {
      for (int decimals : {1, 2}) {
        CheckRoundTrip(Sample(rng, kind, decimals), decimals, failures);
      }
    }
    EXPECT_EQ(failures.count, 0) << "kind " << static_cast<int>(kind) << ":\n" << failures.first;
  }
}

// The reference itself must tell a near miss: the neighbouring double, or a
// last digit one off, is rejected.
TEST(RoundTrip, ReferenceRejectsNearMisses) {
  std::mt19937_64 rng(5);
  for (Kind kind : {Kind::kAnyBits, Kind::kSetting, Kind::kNearTie, Kind::kHuge}) {
    for (int i = 0; i < 300; ++i) {
      const int decimals = 1 + i % 2;
      const double v = Sample(rng, kind, decimals);
      std::string text = Narrow(FormatNumber(v, decimals));
      bool negative = false;
      std::string digits;
      ASSERT_TRUE(SplitFixedText(text, decimals, negative, digits)) << text;
      const double back = ParseNumber(Widen(text).c_str());
      ASSERT_TRUE(IsNearestDouble(digits, -decimals, negative, back)) << text;
      EXPECT_FALSE(IsNearestDouble(digits, -decimals, negative, std::nextafter(back, HUGE_VAL))) << text;
      EXPECT_FALSE(IsNearestDouble(digits, -decimals, negative, std::nextafter(back, -HUGE_VAL))) << text;
      char& last = text.back();
      last = last == '9' ? '8' : static_cast<char>(last + 1);
      EXPECT_FALSE(IsCorrectFixedText(text, decimals, v)) << text;
    }
  }
}

TEST(RoundTrip, ExtremeValues) {
  Failures failures;
  for (double v : {DBL_MAX, -DBL_MAX, DBL_MIN, -DBL_MIN, DBL_TRUE_MIN, 0.0, -0.0, 0.005, 0.05, 0.015, 0.045, 0.25, 0.35,
                   0.95, 9007199254740993.0, 4503599627370497.5}) {
    for (int decimals : {1, 2}) {
      CheckRoundTrip(v, decimals, failures);
    }
  }
  EXPECT_EQ(failures.count, 0) << failures.first;
}

TEST(RoundTrip, NonFiniteValuesComeBack) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  for (int decimals : {1, 2}) {
    EXPECT_EQ(ParseNumber(FormatNumber(kInf, decimals).c_str()), kInf);
    EXPECT_EQ(ParseNumber(FormatNumber(-kInf, decimals).c_str()), -kInf);
    for (std::uint64_t nan : {0x7FF8000000000000u, 0xFFF0000000000001u, 0x7FFFFFFFFFFFFFFFu}) {
      EXPECT_TRUE(std::isnan(ParseNumber(FormatNumber(std::bit_cast<double>(nan), decimals).c_str())));
    }
  }
}

// Random decimal texts: up to 30 digits (leading zeros too), a point anywhere
// or none, an exponent across and beyond the double range.
TEST(RoundTrip, RandomDecimalTextsReadAsTheNearestDouble) {
  std::mt19937_64 rng(77);
  Failures failures;
  for (int i = 0; i < 3 * kSamplesPerKind; ++i) {
    const int length = 1 + static_cast<int>(rng() % 30);
    std::string digits;
    for (int k = 0; k < length; ++k) {
      digits += static_cast<char>('0' + rng() % 10);
    }
    const int point = static_cast<int>(rng() % (length + 1));
    const int exponent = static_cast<int>(rng() % 700) - 360;
    const bool negative = (rng() & 1) != 0;
    const std::string text =
        (negative ? "-" : "") + digits.substr(0, point) + "." + digits.substr(point) + "e" + std::to_string(exponent);
    const double got = ParseNumber(Widen(text).c_str());
    if (!IsNearestDouble(digits, exponent - (length - point), negative, got)) {
      failures.Add("not the nearest double: " + text);
    }
#if !defined(_WIN32)
    if (Bits(got) != Bits(std::strtod(text.c_str(), nullptr))) {
      failures.Add("differs from strtod: " + text);
    }
#endif
  }
  EXPECT_EQ(failures.count, 0) << failures.first;
}

#if !defined(_WIN32)
// Hexadecimal texts and shortest round-trip texts against the C library.
TEST(RoundTrip, HexAndShortestTextsAgreeWithStrtod) {
  std::mt19937_64 rng(99);
  Failures failures;
  static constexpr char kHex[] = "0123456789abcdefABCDEF";
  for (int i = 0; i < 3 * kSamplesPerKind; ++i) {
    std::string text = (rng() & 1) ? "-0x" : "0X";
    const int length = 1 + static_cast<int>(rng() % 20);
    const int point = static_cast<int>(rng() % (length + 1));
    for (int k = 0; k < length; ++k) {
      if (k == point) {
        text += '.';
      }
      text += kHex[rng() % 22];
    }
    text += "p" + std::to_string(static_cast<int>(rng() % 2300) - 1150);
    const double got = ParseNumber(Widen(text).c_str());
    if (Bits(got) != Bits(std::strtod(text.c_str(), nullptr))) {
      failures.Add("differs from strtod: " + text);
    }
    const double v = std::bit_cast<double>(rng());
    char shortest[64];
    std::snprintf(shortest, sizeof shortest, "%.17g", v);
    const double back = ParseNumber(Widen(shortest).c_str());
    if (std::isnan(v) ? !std::isnan(back) : Bits(back) != Bits(v)) {
      failures.Add(std::string("shortest text not read back: ") + shortest);
    }
  }
  EXPECT_EQ(failures.count, 0) << failures.first;
}
#endif

}  // namespace
