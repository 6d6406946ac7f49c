// Tables of texts and values for ParseNumber and FormatNumber: the syntax,
// the failure rule for unfinished numbers, special words, Unicode digits and
// spaces, range limits, exact ties and very long texts.
#include "convert/number_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tests/convert/exact_decimal.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMinSubnormal = std::numeric_limits<double>::denorm_min();
const double kNan = std::bit_cast<double>(std::uint64_t{0xFFF8000000000000u});

std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }

std::u16string Widen(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += c < 0x80 ? static_cast<char>(c) : '?';
  }
  return out;
}

struct ParseCase {
  const char16_t* text;
  double expected;  // compared bit for bit: sign of zero and NaN pattern count
};

void ExpectParses(const std::vector<ParseCase>& cases) {
  for (const ParseCase& c : cases) {
    const double got = ParseNumber(c.text);
    EXPECT_EQ(Bits(got), Bits(c.expected))
        << "text \"" << Narrow(c.text) << "\": got " << got << ", expected " << c.expected;
  }
}

TEST(ParseNumber, ReadsTheNumberAtTheStartOfTheText) {
  ExpectParses({
      {u"440", 440.0},
      {u"  440", 440.0},
      {u"440Hz", 440.0},
      {u"440.0", 440.0},
      {u"3,5", 3.0},
      {u"1,500", 1.0},
      {u"1.5.2", 1.5},
      {u"12 34", 12.0},
      {u"-20", -20.0},
      {u"+7", 7.0},
      {u".5", 0.5},
      {u"5.", 5.0},
      {u"-.5", -0.5},
      {u"1.e1", 10.0},
      {u"1.5e3", 1500.0},
      {u"1E+2", 100.0},
      {u"25e-2", 0.25},
      {u"1e2x", 100.0},
      {u"0x1A", 26.0},
      {u"0X1a", 26.0},
      {u"-0x1A", -26.0},
      {u"0x1.8p1", 3.0},
      {u"0X1P-2", 0.25},
      {u"0x.8", 0.5},
      {u"0x10g", 16.0},
      {u"0x1p1.5", 2.0},
      {u"007", 7.0},
      {u"00x1", 0.0},
      {u"0.1", 0.1},
      {u"2.675", 2.675},
      {u"12.345", 12.345},
      {u"9007199254740993", 9007199254740992.0},  // a tie: the even significand
      {u"0.30000000000000004", 0.30000000000000004},
      {u"\t\n\v\f\r 7", 7.0},
  });
}

TEST(ParseNumber, NoNumberOrAnUnfinishedNumberGivesZero) {
  ExpectParses({
      {u"", 0.0},         {u"   ", 0.0},       {u"abc", 0.0},  {u"-", 0.0},     {u".", 0.0},     {u"-.", 0.0},
      {u"- 5", 0.0},      {u"+-5", 0.0},       {u"--5", 0.0},  {u"e5", 0.0},    {u"0x", 0.0},    {u"0x.", 0.0},
      {u"0xg", 0.0},      {u"-0x", 0.0},       {u"0x1p", 0.0}, {u"0x1p-", 0.0}, {u"1e", 0.0},    {u"2.5e+", 0.0},
      {u"1ex", 0.0},      {u"-1e", 0.0},       {u"i", 0.0},    {u"in", 0.0},    {u"infin", 0.0}, {u"infinit", 0.0},
      {u"INFI", 0.0},     {u"-infinitx", 0.0}, {u"n", 0.0},    {u"na", 0.0},    {u"nan(", 0.0},  {u"nan(abc", 0.0},
      {u"nan(a b)", 0.0}, {u"nan(1.5)", 0.0},  {u"x440", 0.0},
  });
}

TEST(ParseNumber, SpecialWordsAndScannedInfinitiesAndNans) {
  ExpectParses({
      {u"+Infinity", kInf}, {u"+INFINITY", kInf},   {u"+infinity", kInf},  {u"-Infinity", -kInf}, {u"-INFINITY", -kInf},
      {u"NaN", kNan},       {u"nan", kNan},         {u"NAN", kNan},        {u" NaN", kNan},       {u"NaN ", kNan},
      {u"nan(123)", kNan},  {u"nan()", kNan},       {u"NAN(_aZ9)x", kNan}, {u"nanx", kNan},       {u"-nan", kNan},
      {u"+NaN(x)", kNan},   {u"inf", kInf},         {u"Infinity", kInf},   {u"INFx", kInf},       {u"infinityx", kInf},
      {u"-inf", -kInf},     {u" -Infinity", -kInf}, {u"+inf", kInf},
  });
}

TEST(ParseNumber, RangeLimitsAndSignedZero) {
  ExpectParses({
      {u"1e999", kInf},
      {u"-1e999", -kInf},
      {u"1e-999", 0.0},
      {u"-1e-999", -0.0},
      {u"-0", -0.0},
      {u"-0.000e5", -0.0},
      {u"-0x0p0", -0.0},
      {u"0e99999999999999999999999", 0.0},
      {u"1e99999999999999999999999", kInf},
      {u"-1e-99999999999999999999999", -0.0},
      {u"0x1p99999999999999999999", kInf},
      {u"1.7976931348623157e308", DBL_MAX},
      {u"1.7976931348623158e308", DBL_MAX},
      {u"1.7976931348623159e308", kInf},
      {u"-1.7976931348623159e308", -kInf},
      {u"2.2250738585072014e-308", DBL_MIN},
      {u"4.9406564584124654e-324", kMinSubnormal},
      {u"2.4703282292062328e-324", kMinSubnormal},
      {u"2.4703282292062327e-324", 0.0},
      {u"-2.4703282292062327e-324", -0.0},
      {u"0x1p-1074", kMinSubnormal},
      {u"0x1p-1075", 0.0},  // the tie between 0 and the smallest: even is 0
      {u"0x1.0000000000001p-1075", kMinSubnormal},
      {u"0x1.8p-1074", 2 * kMinSubnormal},
      {u"0x1.fffffffffffff7p1023", DBL_MAX},
      {u"0x1.fffffffffffff8p1023", kInf},
      {u"0x1p1024", kInf},
      {u"-0x1p-1080", -0.0},
  });
}

// Each character counts as leading white space; none of the look-alikes do.
TEST(ParseNumber, LeadingWhiteSpaceSet) {
  const std::vector<char16_t> spaces = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,  0x1680,
                                        0x2000, 0x2005, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000};
  for (char16_t space : spaces) {
    const std::u16string text = std::u16string(1, space) + u"440";
    EXPECT_EQ(ParseNumber(text.c_str()), 440.0) << "space U+" << std::hex << int{space};
    const std::u16string signed_text = u"-" + std::u16string(1, space) + u"440";
    EXPECT_EQ(Bits(ParseNumber(signed_text.c_str())), Bits(0.0)) << "after sign U+" << std::hex << int{space};
  }
  const std::vector<char16_t> not_spaces = {0x1C, 0x1F, 0xAD, 0x180E, 0x200B, 0x2060, 0xFEFF, 0xFFFE};
  for (char16_t other : not_spaces) {
    const std::u16string text = std::u16string(1, other) + u"440";
    EXPECT_EQ(Bits(ParseNumber(text.c_str())), Bits(0.0)) << "U+" << std::hex << int{other};
  }
}

TEST(ParseNumber, UnicodeDigitBlocks) {
  ExpectParses({{u"\u0664\u0664\u0660", 440.0}, {u"\uFF14\uFF14\uFF10", 440.0}});
  const std::vector<char16_t> zeros = {0x0660, 0x06F0, 0x0966, 0x09E6, 0x0A66, 0x0AE6, 0x0B66, 0x0C66, 0x0CE6,
                                       0x0D66, 0x0E50, 0x0ED0, 0x0F20, 0x1040, 0x17E0, 0x1810, 0xFF10};
  for (char16_t zero : zeros) {
    auto d = [zero](int v) { return static_cast<char16_t>(zero + v); };
    // Integer part, fraction and exponent: 9876.5e-1 and -1.25E2.
    const std::u16string a = {d(9), d(8), d(7), d(6), u'.', d(5), u'e', u'-', d(1)};
    const std::u16string b = {u'-', d(1), u'.', d(2), d(5), u'E', d(2)};
    // The prefix's zero, hexadecimal digits and binary exponent: 0x10p3 = 128.
    const std::u16string c = {d(0), u'x', d(1), d(0), u'p', d(3)};
    // Mixed with ASCII digits; in a NaN's tag.
    const std::u16string e = {u'1', d(2), u'3'};
    const std::u16string nan = {u'n', u'a', u'n', u'(', d(7), u')'};
    EXPECT_TRUE(std::isnan(ParseNumber(nan.c_str()))) << "block U+" << std::hex << int{zero};
    EXPECT_EQ(ParseNumber(a.c_str()), 987.65) << "block U+" << std::hex << int{zero};
    EXPECT_EQ(ParseNumber(b.c_str()), -125.0) << "block U+" << std::hex << int{zero};
    EXPECT_EQ(ParseNumber(c.c_str()), 128.0) << "block U+" << std::hex << int{zero};
    EXPECT_EQ(ParseNumber(e.c_str()), 123.0) << "block U+" << std::hex << int{zero};
    // The code points around a block are not digits.
    const std::u16string before = {u'7', static_cast<char16_t>(zero - 1)};
    const std::u16string after = {u'7', static_cast<char16_t>(zero + 10)};
    EXPECT_EQ(ParseNumber(before.c_str()), 7.0) << "block U+" << std::hex << int{zero};
    EXPECT_EQ(ParseNumber(after.c_str()), 7.0) << "block U+" << std::hex << int{zero};
  }
}

TEST(ParseNumber, NullTextGivesZero) { EXPECT_EQ(Bits(ParseNumber(nullptr)), Bits(0.0)); }

// Texts that lie exactly on, just above and just below the midpoint between a
// double and its successor, up to 750 significant digits and with up to a few
// thousand further zeros before the deciding digit.
TEST(ParseNumber, ExactMidpointsRoundToEven) {
  const std::vector<double> lows = {
      kMinSubnormal, 2 * kMinSubnormal, DBL_MIN - kMinSubnormal,    DBL_MIN, 0.1, 1.0, 9007199254740992.0,
      1e300,         DBL_MAX,           std::nextafter(1e-310, 0.0)};
  for (double low : lows) {
    const double high = std::nextafter(low, kInf);
    const std::uint64_t bits = Bits(low);
    const int field = static_cast<int>(bits >> 52);
    const std::uint64_t m = field == 0 ? bits : (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
    const std::int64_t e = field == 0 ? -1074 : field - 1075;
    std::string digits;
    std::int64_t q = 0;
    ExactDecimal(2 * m + 1, e - 1, digits, q);
    const double even = (m % 2 == 0) ? low : high;
    for (int zeros : {0, 60, 3000}) {
      const std::string padded = digits + std::string(zeros, '0');
      const std::string exponent = "e" + std::to_string(q - zeros);
      std::string below = padded;
      for (std::size_t k = below.size(); k-- > 0;) {
        if (below[k] != '0') {
          --below[k];
          break;
        }
        below[k] = '9';
      }
      const std::u16string tie = Widen(padded + exponent);
      const std::u16string above = Widen(padded + "1" + "e" + std::to_string(q - zeros - 1));
      const std::u16string under = Widen(below + exponent);
      EXPECT_EQ(Bits(ParseNumber(tie.c_str())), Bits(even)) << "tie above " << low << " +" << zeros;
      EXPECT_EQ(Bits(ParseNumber(above.c_str())), Bits(high)) << "above " << low << " +" << zeros;
      EXPECT_EQ(Bits(ParseNumber(under.c_str())), Bits(low)) << "below " << low << " +" << zeros;
      const std::u16string negative_tie = u"-" + tie;
      EXPECT_EQ(Bits(ParseNumber(negative_tie.c_str())), Bits(-even)) << "-tie " << low;
    }
  }
}

TEST(ParseNumber, VeryLongTexts) {
  const std::string zeros(100000, '0');
  const std::string nines(100000, '9');
  const std::string threes(100000, '3');
  const struct {
    std::string text;
    double expected;
  } cases[] = {
      {zeros + "440", 440.0},
      {"0." + zeros + "1", 0.0},
      {"-0." + zeros + "1", -0.0},
      {"1" + zeros, kInf},
      {"-1" + zeros + ".5", -kInf},
      {"1" + zeros + "e-100000", 1.0},
      {"9007199254740993." + zeros, 9007199254740992.0},
      {"9007199254740993." + zeros + "1", 9007199254740994.0},
      {"9007199254740993" + zeros + "1e-100001", 9007199254740994.0},
      {"0." + threes, 1.0 / 3.0},
      {threes + "e-99999", 10.0 / 3.0},
      {"1e" + zeros + "5", 1e5},
      {"1e-" + nines, 0.0},
      {"1e" + nines, kInf},
      {"0e" + nines, 0.0},
      {"0x" + zeros + "1p0", 1.0},
      {"0x1" + zeros, kInf},
      {"0x0." + zeros + "1p400004", 1.0},
      {"0x1.00000000000008" + zeros + "1p0", 1.0 + DBL_EPSILON},
      {"0x1.00000000000008" + zeros + "p0", 1.0},
      {"  " + zeros + "." + zeros, 0.0},
      {zeros + "e", 0.0},
  };
  for (const auto& c : cases) {
    const std::u16string text = Widen(c.text);
    EXPECT_EQ(Bits(ParseNumber(text.c_str())), Bits(c.expected))
        << "text of " << c.text.size() << " characters starting " << c.text.substr(0, 20);
  }
}

struct FormatCase {
  double value;
  std::int32_t decimals;
  const char16_t* expected;
};

TEST(FormatNumber, PrintsExactDigitsRoundedHalfToEven) {
  const FormatCase cases[] = {
      {440.0, 2, u"440.00"},
      {0.125, 2, u"0.12"},
      {0.375, 2, u"0.38"},
      {2.675, 2, u"2.67"},
      {12.345, 2, u"12.35"},
      {1e21, 2, u"1000000000000000000000.00"},
      {-20.0, 2, u"-20.00"},
      {27.5, 1, u"27.5"},
      {0.25, 1, u"0.2"},
      {0.35, 1, u"0.3"},
      {99.95, 1, u"100.0"},
      {0x1p70, 2, u"1180591620717411303424.00"},
      {-0.0, 2, u"0.00"},
      {0.0, 1, u"0.0"},
      {-0.0, 0, u"0"},
      {-0.004, 2, u"-0.00"},
      {-0.05, 1, u"-0.1"},
      {kMinSubnormal, 2, u"0.00"},
      {-kMinSubnormal, 1, u"-0.0"},
      {0.5, 0, u"0"},
      {1.5, 0, u"2"},
      {2.5, 0, u"2"},
      {440.0, -1, u"440"},
      {440.4, std::numeric_limits<std::int32_t>::min(), u"440"},
      {0.1, 20, u"0.10000000000000000555"},
      {DBL_MAX, 1,
       u"1797693134862315708145274237317043567980705675258449965989174768031572607800285387605"
       u"8955863276687817154045895351438246423432132688946418276846754670353751698604991057655"
       u"1282076245490090389328944075868508455133942304583236903222948165808559332123348274797"
       u"826204144723168738177180919299881250404026184124858368.0"},
  };
  for (const FormatCase& c : cases) {
    EXPECT_EQ(FormatNumber(c.value, c.decimals), c.expected)
        << "value " << c.value << " with " << c.decimals << " decimals";
  }
}

TEST(FormatNumber, LongestTexts) {
  const std::u16string two = FormatNumber(-DBL_MAX, 2);
  EXPECT_EQ(two.size(), 313u);
  EXPECT_TRUE(IsCorrectFixedText(Narrow(two), 2, -DBL_MAX));
  // Decimals are capped at 712: every digit of the smallest subnormal would
  // need 1074, so its text shows the exact value rounded at the 712th.
  const std::u16string widest = FormatNumber(-DBL_MAX, 712);
  EXPECT_EQ(widest.size(), 1023u);
  EXPECT_TRUE(IsCorrectFixedText(Narrow(widest), 712, -DBL_MAX));
  EXPECT_EQ(FormatNumber(-DBL_MAX, std::numeric_limits<std::int32_t>::max()), widest);
  EXPECT_EQ(FormatNumber(0.1, 100000), FormatNumber(0.1, 712));
  EXPECT_TRUE(IsCorrectFixedText(Narrow(FormatNumber(0.1, 712)), 712, 0.1));
  const std::u16string smallest = FormatNumber(kMinSubnormal, 712);
  EXPECT_EQ(smallest.size(), 714u);
  EXPECT_TRUE(IsCorrectFixedText(Narrow(smallest), 712, kMinSubnormal));
  const double tiny = 0x1.8p-1020;
  EXPECT_TRUE(IsCorrectFixedText(Narrow(FormatNumber(tiny, 400)), 400, tiny));
}

TEST(FormatNumber, NonFiniteValuesPrintAsWordsForEveryCount) {
  const std::uint64_t nan_patterns[] = {0x7FF8000000000000u, 0xFFF8000000000000u, 0x7FF0000000000001u,
                                        0xFFFFFFFFFFFFFFFFu, 0x7FF4000000000123u};
  for (std::int32_t decimals : {1, 2, 0, -3, 1000}) {
    EXPECT_EQ(FormatNumber(kInf, decimals), u"+Infinity");
    EXPECT_EQ(FormatNumber(-kInf, decimals), u"-Infinity");
    for (std::uint64_t pattern : nan_patterns) {
      EXPECT_EQ(FormatNumber(std::bit_cast<double>(pattern), decimals), u"NaN") << std::hex << pattern;
    }
  }
}

TEST(FormatNumber, WordsReadBackAsTheirValues) {
  EXPECT_EQ(ParseNumber(FormatNumber(kInf, 2).c_str()), kInf);
  EXPECT_EQ(ParseNumber(FormatNumber(-kInf, 1).c_str()), -kInf);
  const double signalling = std::bit_cast<double>(std::uint64_t{0x7FF0000000000001u});
  const double nan_back = ParseNumber(FormatNumber(signalling, 2).c_str());
  EXPECT_EQ(Bits(nan_back), 0xFFF8000000000000u);
}

}  // namespace
