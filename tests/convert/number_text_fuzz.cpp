// libFuzzer target for the number conversions. Input: one mode byte, then
// either raw little-endian UTF-16 units or bytes that each pick a character
// the scanner cares about (digits of several blocks, signs, points, exponent
// letters, the letters of INFINITY and NAN, parentheses, spaces).
// Invariants checked on every input:
// - every NaN ParseNumber returns has the bit pattern FFF8000000000000;
// - replacing Unicode digits by ASCII digits and Unicode spaces by U+0020
//   does not change the result;
// - an ASCII text that the C library's strtod reads to its very end reads
//   the same (strtod is correctly rounded, and a complete number is read
//   alike by both);
// - the round trip: FormatNumber of the result with 1 and 2 decimals equals
//   printf's %.1f/%.2f (zero without its minus sign) and reads back as
//   strtod reads that text; infinities and NaN come back;
// - FormatNumber of the input's first 8 bytes as a double, with the next 4 as
//   the decimals count, equals printf with the count clamped to 0-712.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "convert/number_text.h"

namespace {

constexpr std::uint64_t kParsedNanBits = 0xFFF8000000000000u;

constexpr char16_t kAlphabet[] = {
    u'0',   u'1',   u'2',   u'5',   u'7',   u'9',   u'0',   u'0',   u'.',   u'.',   u'e',   u'E',   u'x',
    u'X',   u'p',   u'P',   u'+',   u'-',   u'i',   u'I',   u'n',   u'N',   u'f',   u'F',   u'a',   u'A',
    u't',   u'y',   u'(',   u')',   u'_',   u' ',   u'\t',  u'b',   u'c',   u'd',   u'z',   u',',   0x0660,
    0x0669, 0x06F5, 0x0966, 0x0E59, 0x1810, 0xFF10, 0xFF19, 0x00A0, 0x0085, 0x3000, 0x2028, 0x200B, 0xFEFF};

constexpr char16_t kDigitZeros[] = {0x0660, 0x06F0, 0x0966, 0x09E6, 0x0A66, 0x0AE6, 0x0B66, 0x0C66, 0x0CE6,
                                    0x0D66, 0x0E50, 0x0ED0, 0x0F20, 0x1040, 0x17E0, 0x1810, 0xFF10};

bool IsWideSpace(char16_t c) {
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

std::uint64_t Bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) {
    out += static_cast<char>(c);
  }
  return out;
}

[[noreturn]] void Fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "invariant broken: %s: %s\n", what, detail.c_str());
  std::abort();
}

void CheckFormat(double value, std::int32_t decimals) {
  const std::string text = Narrow(FormatNumber(value, decimals));
  if (std::isinf(value)) {
    if (text != (value > 0 ? "+Infinity" : "-Infinity")) Fail("infinity text", text);
    return;
  }
  if (std::isnan(value)) {
    if (text != "NaN") Fail("NaN text", text);
    return;
  }
  const int precision = decimals < 0 ? 0 : decimals > 712 ? 712 : decimals;
  static char reference[2048];
  std::snprintf(reference, sizeof reference, "%.*f", precision, value == 0.0 ? 0.0 : value);
  if (text != reference) Fail("differs from printf", text + " vs " + reference);
}

void CheckRoundTrip(double value) {
  for (std::int32_t decimals : {1, 2}) {
    CheckFormat(value, decimals);
    const std::u16string text = FormatNumber(value, decimals);
    const double back = ParseNumber(text.c_str());
    if (std::isnan(value)) {
      if (Bits(back) != kParsedNanBits) Fail("NaN round trip", Narrow(text));
    } else if (std::isinf(value)) {
      if (back != value) Fail("infinity round trip", Narrow(text));
    } else if (Bits(back) != Bits(std::strtod(Narrow(text).c_str(), nullptr))) {
      Fail("round trip differs from strtod", Narrow(text));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  if (size >= 13) {
    double raw_value;
    std::int32_t raw_decimals;
    std::memcpy(&raw_value, data + 1, sizeof raw_value);
    std::memcpy(&raw_decimals, data + 9, sizeof raw_decimals);
    CheckFormat(raw_value, raw_decimals);
  }
  std::u16string text;
  if (data[0] & 1) {
    for (std::size_t i = 1; i + 1 < size; i += 2) {
      text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    }
  } else {
    for (std::size_t i = 1; i < size; ++i) {
      text.push_back(kAlphabet[data[i] % (sizeof kAlphabet / sizeof kAlphabet[0])]);
    }
  }
  text.resize(std::char_traits<char16_t>::length(text.c_str()));  // zero ends the text

  const double value = ParseNumber(text.c_str());
  if (std::isnan(value) && Bits(value) != kParsedNanBits) Fail("NaN pattern", Narrow(text));

  std::u16string plain = text;
  bool ascii = true;
  for (char16_t& c : plain) {
    for (char16_t zero : kDigitZeros) {
      if (c >= zero && c <= zero + 9) c = static_cast<char16_t>(u'0' + (c - zero));
    }
    if (IsWideSpace(c)) c = u' ';
    ascii = ascii && c < 0x80;
  }
  if (Bits(ParseNumber(plain.c_str())) != Bits(value)) Fail("Unicode digits or spaces", Narrow(plain));

  if (ascii && !plain.empty()) {
    const std::string narrow = Narrow(plain);
    char* end = nullptr;
    const double reference = std::strtod(narrow.c_str(), &end);
    if (end == narrow.c_str() + narrow.size() && end != narrow.c_str()) {
      const bool same = std::isnan(reference) ? std::isnan(value) : Bits(reference) == Bits(value);
      if (!same) Fail("differs from strtod", narrow);
    }
  }

  CheckRoundTrip(value);
  return 0;
}
