// Text <-> double conversions written directly on the standard <charconv>
// routines: the scanner below recognises the %lf syntax on UTF-16 text and
// hands a short canonical ASCII form to std::from_chars, which does the
// correctly rounded work; the printer is std::to_chars in fixed notation.
// Neither touches the C runtime's locale or stdio, whose Windows versions
// misround or read too little.
#include "convert/number_text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <system_error>

namespace {

constexpr std::uint64_t kParsedNanBits = 0xFFF8000000000000u;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Significant digits kept of a decimal mantissa. A midpoint between two
// doubles has at most 767 significant digits, so the first 800 digits plus one
// nonzero "sticky" digit standing for any nonzero rest round exactly as the
// whole text does. Hexadecimal needs 54 bits plus sticky; 32 digits is ample.
constexpr int kDecimalDigitsKept = 800;
constexpr int kHexDigitsKept = 32;
// Room for the kept digits, the sticky digit, a point and an exponent.
constexpr int kCanonicalCapacity = kDecimalDigitsKept + 32;

// Exponents written in the text saturate here: far beyond every finite
// result, far below overflow of the 64-bit sums they enter.
constexpr std::int64_t kExponentCap = 1000000000000;

// The decimal-digit blocks besides ASCII, each holding 0-9 from its first
// code point on.
constexpr char16_t kDigitZeros[] = {0x0660, 0x06F0, 0x0966, 0x09E6, 0x0A66, 0x0AE6, 0x0B66, 0x0C66, 0x0CE6,
                                    0x0D66, 0x0E50, 0x0ED0, 0x0F20, 0x1040, 0x17E0, 0x1810, 0xFF10};

double ParsedNan() { return std::bit_cast<double>(kParsedNanBits); }

double WithSign(double magnitude, bool negative) { return negative ? -magnitude : magnitude; }

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

// 0-9 for a decimal digit of any accepted block, -1 otherwise.
int DigitValue(char16_t c) {
  if (c >= u'0' && c <= u'9') {
    return c - u'0';
  }
  if (c < kDigitZeros[0]) {
    return -1;
  }
  for (char16_t zero : kDigitZeros) {
    if (c >= zero && c <= zero + 9) {
      return c - zero;
    }
  }
  return -1;
}

int HexDigitValue(char16_t c) {
  const char16_t lower = LowerAscii(c);
  if (lower >= u'a' && lower <= u'f') {
    return lower - u'a' + 10;
  }
  return DigitValue(c);
}

// Leading white space of the scan: the C-locale spaces, NEL, no-break space,
// and the Unicode space separators, line and paragraph separators above U+00FF.
bool IsScanSpace(char16_t c) {
  return (c >= 0x0009 && c <= 0x000D) || c == 0x0020 || c == 0x0085 || c == 0x00A0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool IsNanTagChar(char16_t c) {
  const char16_t lower = LowerAscii(c);
  return (lower >= u'a' && lower <= u'z') || DigitValue(c) >= 0 || c == u'_';
}

// True when the whole text equals word, ignoring the case of ASCII letters.
bool EqualsWordIgnoringCase(const char16_t* text, const char* word) {
  for (; *word != '\0'; ++text, ++word) {
    if (LowerAscii(*text) != LowerAscii(static_cast<char16_t>(*word))) {
      return false;
    }
  }
  return *text == u'\0';
}

// True when text starts with word (lower-case ASCII), ignoring case. Stops at
// the first mismatch, so it never reads past the terminator.
bool StartsWithIgnoringCase(const char16_t* text, const char* word) {
  for (; *word != '\0'; ++text, ++word) {
    if (LowerAscii(*text) != static_cast<char16_t>(*word)) {
      return false;
    }
  }
  return true;
}

std::int64_t SaturatingAppendDigit(std::int64_t value, int digit) {
  return value >= kExponentCap ? kExponentCap : value * 10 + digit;
}

// Reads an exponent's optional sign and its digits (at least one). Returns
// false if there is no digit; otherwise the saturated value.
bool ScanExponent(const char16_t*& p, std::int64_t& exponent) {
  bool negative = false;
  if (*p == u'+' || *p == u'-') {
    negative = *p == u'-';
    ++p;
  }
  if (DigitValue(*p) < 0) {
    return false;
  }
  std::int64_t value = 0;
  for (int digit = DigitValue(*p); digit >= 0; digit = DigitValue(*++p)) {
    value = SaturatingAppendDigit(value, digit);
  }
  exponent = negative ? -value : value;
  return true;
}

// The significant digits of a mantissa, in ASCII, with the position of the
// first one: the mantissa is d1.d2d3... times base^lead_exponent.
struct Mantissa {
  char digits[kCanonicalCapacity];
  int kept = 0;
  bool sticky = false;     // a nonzero digit was dropped after the kept ones
  bool any_digit = false;  // at least one digit, zero or not, was read
  std::int64_t lead_exponent = 0;
};

// Reads digits with at most one point; value_of gives a digit's value or -1.
// Keeps up to max_kept significant digits, written with "0123456789abcdef".
template <typename ValueOf>
void ScanMantissa(const char16_t*& p, ValueOf value_of, int max_kept, Mantissa& m) {
  static constexpr char kDigitChars[] = "0123456789abcdef";
  bool after_point = false;
  bool significant = false;
  std::int64_t integer_digits = 0;     // integer-part digits from the first significant one
  std::int64_t zeros_after_point = 0;  // fraction zeros before the first significant digit
  for (;; ++p) {
    if (*p == u'.' && !after_point) {
      after_point = true;
      continue;
    }
    const int digit = value_of(*p);
    if (digit < 0) {
      break;
    }
    m.any_digit = true;
    if (!significant && digit == 0) {
      if (after_point) {
        ++zeros_after_point;
      }
      continue;
    }
    significant = true;
    if (!after_point) {
      ++integer_digits;
    }
    if (m.kept < max_kept) {
      m.digits[m.kept++] = kDigitChars[digit];
    } else if (digit != 0) {
      m.sticky = true;
    }
  }
  m.lead_exponent = integer_digits > 0 ? integer_digits - 1 : -(zeros_after_point + 1);
}

// Converts d1.d2...[sticky] times base^exponent (exponent already within a
// few steps of the double range) with std::from_chars. from_chars leaves its
// output alone on overflow and underflow, so those are resolved here: the
// magnitude is far from 1 on either side, and its exponent tells which.
double ConvertCanonical(const Mantissa& m, std::int64_t exponent, char exponent_letter, std::chars_format format) {
  char text[kCanonicalCapacity];
  char* out = text;
  *out++ = m.digits[0];
  if (m.kept > 1 || m.sticky) {
    *out++ = '.';
    out = std::copy(m.digits + 1, m.digits + m.kept, out);
    if (m.sticky) {
      *out++ = '1';
    }
  }
  *out++ = exponent_letter;
  out = std::to_chars(out, text + sizeof text, exponent).ptr;
  double value = 0.0;
  const std::from_chars_result result = std::from_chars(text, out, value, format);
  if (result.ec == std::errc::result_out_of_range) {
    return exponent > 0 ? kInfinity : 0.0;
  }
  return result.ec == std::errc{} ? value : 0.0;
}

double ScanDecimal(const char16_t* p, bool negative) {
  Mantissa m;
  ScanMantissa(p, DigitValue, kDecimalDigitsKept, m);
  if (!m.any_digit) {
    return 0.0;
  }
  std::int64_t exponent = 0;
  if (LowerAscii(*p) == u'e') {
    ++p;
    if (!ScanExponent(p, exponent)) {
      return 0.0;
    }
  }
  if (m.kept == 0) {
    return WithSign(0.0, negative);
  }
  const std::int64_t lead = m.lead_exponent + exponent;
  // 1e310 is above the largest double, 1e-326 below half the smallest.
  if (lead > 309) {
    return WithSign(kInfinity, negative);
  }
  if (lead < -326) {
    return WithSign(0.0, negative);
  }
  return WithSign(ConvertCanonical(m, lead, 'e', std::chars_format::general), negative);
}

double ScanHex(const char16_t* p, bool negative) {
  Mantissa m;
  ScanMantissa(p, HexDigitValue, kHexDigitsKept, m);
  if (!m.any_digit) {
    return 0.0;
  }
  std::int64_t exponent = 0;
  if (LowerAscii(*p) == u'p') {
    ++p;
    if (!ScanExponent(p, exponent)) {
      return 0.0;
    }
  }
  if (m.kept == 0) {
    return WithSign(0.0, negative);
  }
  // The lead hex digit is 1-15, so the value lies in [2^lead, 2^(lead+4)).
  const std::int64_t lead = 4 * m.lead_exponent + exponent;
  if (lead > 1024) {
    return WithSign(kInfinity, negative);
  }
  if (lead < -1080) {
    return WithSign(0.0, negative);
  }
  return WithSign(ConvertCanonical(m, lead, 'p', std::chars_format::hex), negative);
}

// p is at an 'i' or 'I'. INF is complete unless an I follows, which then
// must go on to INFINITY.
double ScanInfinity(const char16_t* p, bool negative) {
  if (!StartsWithIgnoringCase(p, "inf")) {
    return 0.0;
  }
  if (LowerAscii(p[3]) == u'i' && !StartsWithIgnoringCase(p + 3, "inity")) {
    return 0.0;
  }
  return WithSign(kInfinity, negative);
}

// p is at an 'n' or 'N'. NAN is complete unless "(" follows, which then must
// be closed after a run of letters, digits and underscores.
double ScanNan(const char16_t* p) {
  if (!StartsWithIgnoringCase(p, "nan")) {
    return 0.0;
  }
  p += 3;
  if (*p == u'(') {
    ++p;
    while (IsNanTagChar(*p)) {
      ++p;
    }
    if (*p != u')') {
      return 0.0;
    }
  }
  return ParsedNan();
}

// One %lf scan of the text's start; 0.0 when it converts nothing.
double ScanNumber(const char16_t* p) {
  while (IsScanSpace(*p)) {
    ++p;
  }
  bool negative = false;
  if (*p == u'+' || *p == u'-') {
    negative = *p == u'-';
    ++p;
  }
  // A digit of any block may be written wherever an ASCII one may, the zero
  // of the hexadecimal prefix included.
  if (DigitValue(p[0]) == 0 && LowerAscii(p[1]) == u'x') {
    return ScanHex(p + 2, negative);
  }
  const char16_t lower = LowerAscii(*p);
  if (lower == u'i') {
    return ScanInfinity(p, negative);
  }
  if (lower == u'n') {
    return ScanNan(p);
  }
  return ScanDecimal(p, negative);
}

// Decimals beyond this are printed as this many: the longest text, the most
// negative double with its 309 integer digits, the point and 712 decimals, is
// 1023 characters, which with its terminator fits the 1024-unit buffer that
// FormatNumber prints into.
constexpr std::int32_t kMaxDecimals = 712;
constexpr int kFormatCapacity = 1 + 309 + 1 + kMaxDecimals + 1;

}  // namespace

double ParseNumber(const char16_t* text) {
  if (text == nullptr) {
    return 0.0;
  }
  if (EqualsWordIgnoringCase(text, "+Infinity")) {
    return kInfinity;
  }
  if (EqualsWordIgnoringCase(text, "-Infinity")) {
    return -kInfinity;
  }
  if (EqualsWordIgnoringCase(text, "NaN")) {
    return ParsedNan();
  }
  return ScanNumber(text);
}

std::u16string FormatNumber(double value, std::int32_t decimals) {
  if (std::isinf(value)) {
    return value > 0 ? u"+Infinity" : u"-Infinity";
  }
  if (std::isnan(value)) {
    return u"NaN";
  }
  if (value == 0.0) {
    value = 0.0;  // minus zero prints as zero
  }
  const int precision = std::clamp<std::int32_t>(decimals, 0, kMaxDecimals);
  char text[kFormatCapacity];
  const std::to_chars_result result =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
  if (result.ec != std::errc{}) {
    return std::u16string();  // unreachable: the area holds the longest text
  }
  return std::u16string(text, result.ptr);
}
