#include "tests/convert/exact_decimal.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

namespace {

// Unsigned big integer, little-endian 32-bit limbs, no leading zero limbs.
struct Big {
  std::vector<std::uint32_t> limbs;
};

void Trim(Big& a) {
  while (!a.limbs.empty() && a.limbs.back() == 0) {
    a.limbs.pop_back();
  }
}

void MulAdd(Big& a, std::uint32_t factor, std::uint32_t addend) {
  std::uint64_t carry = addend;
  for (std::uint32_t& limb : a.limbs) {
    const std::uint64_t t = std::uint64_t{limb} * factor + carry;
    limb = static_cast<std::uint32_t>(t);
    carry = t >> 32;
  }
  if (carry != 0) {
    a.limbs.push_back(static_cast<std::uint32_t>(carry));
  }
  Trim(a);
}

Big FromU64(std::uint64_t v) {
  Big a;
  a.limbs = {static_cast<std::uint32_t>(v), static_cast<std::uint32_t>(v >> 32)};
  Trim(a);
  return a;
}

Big FromDecimal(const std::string& digits) {
  // Nine digits at a time.
  Big a;
  std::size_t i = 0;
  const std::size_t head = digits.size() % 9;
  std::uint32_t chunk = 0;
  for (; i < head; ++i) {
    chunk = chunk * 10 + static_cast<std::uint32_t>(digits[i] - '0');
  }
  MulAdd(a, 1, chunk);
  while (i < digits.size()) {
    chunk = 0;
    for (const std::size_t end = i + 9; i < end; ++i) {
      chunk = chunk * 10 + static_cast<std::uint32_t>(digits[i] - '0');
    }
    MulAdd(a, 1000000000u, chunk);
  }
  return a;
}

void ShiftLeft(Big& a, std::int64_t bits) {
  if (a.limbs.empty() || bits == 0) {
    return;
  }
  const std::size_t whole = static_cast<std::size_t>(bits / 32);
  const int part = static_cast<int>(bits % 32);
  a.limbs.insert(a.limbs.begin(), whole, 0);
  if (part != 0) {
    std::uint32_t carry = 0;
    for (std::size_t i = whole; i < a.limbs.size(); ++i) {
      const std::uint32_t limb = a.limbs[i];
      a.limbs[i] = (limb << part) | carry;
      carry = limb >> (32 - part);
    }
    if (carry != 0) {
      a.limbs.push_back(carry);
    }
  }
}

void MulPow10(Big& a, std::int64_t n) {
  for (; n >= 9; n -= 9) {
    MulAdd(a, 1000000000u, 0);
  }
  for (; n > 0; --n) {
    MulAdd(a, 10, 0);
  }
}

int Compare(const Big& a, const Big& b) {
  if (a.limbs.size() != b.limbs.size()) {
    return a.limbs.size() < b.limbs.size() ? -1 : 1;
  }
  for (std::size_t i = a.limbs.size(); i-- > 0;) {
    if (a.limbs[i] != b.limbs[i]) {
      return a.limbs[i] < b.limbs[i] ? -1 : 1;
    }
  }
  return 0;
}

// Sign of digits * 10^q - m * 2^e.
int CompareDecimalDyadic(const Big& digits, std::int64_t q, std::uint64_t m, std::int64_t e) {
  Big lhs = digits;
  Big rhs = FromU64(m);
  if (q >= 0) {
    MulPow10(lhs, q);
  } else {
    MulPow10(rhs, -q);
  }
  if (e >= 0) {
    ShiftLeft(rhs, e);
  } else {
    ShiftLeft(lhs, -e);
  }
  return Compare(lhs, rhs);
}

// |value| as m * 2^e, m the integer significand (subnormals included).
void Decompose(double value, std::uint64_t& m, std::int64_t& e, int& exponent_field) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value);
  exponent_field = static_cast<int>((bits >> 52) & 0x7FF);
  m = bits & ((std::uint64_t{1} << 52) - 1);
  if (exponent_field == 0) {
    e = -1074;
  } else {
    m |= std::uint64_t{1} << 52;
    e = exponent_field - 1075;
  }
}

}  // namespace

bool IsNearestDouble(const std::string& digits, std::int64_t decimal_exponent, bool negative, double r) {
  if (std::isnan(r) || std::signbit(r) != negative) {
    return false;
  }
  const Big t = FromDecimal(digits);
  const double magnitude = std::fabs(r);
  if (std::isinf(magnitude)) {
    // At or above the midpoint between the largest double (odd) and 2^1024.
    return CompareDecimalDyadic(t, decimal_exponent, (std::uint64_t{1} << 54) - 1, 970) >= 0;
  }
  std::uint64_t m = 0;
  std::int64_t e = 0;
  int field = 0;
  Decompose(magnitude, m, e, field);
  const bool even = (m % 2) == 0;
  // Upper midpoint: toward the next double up (2^1024 past the largest).
  const int above = CompareDecimalDyadic(t, decimal_exponent, 2 * m + 1, e - 1);
  if (above > 0 || (above == 0 && !even)) {
    return false;
  }
  if (m == 0) {
    return true;  // zero: no double lies between it and the text's zero side
  }
  // Lower midpoint: a power of two above the subnormals has a finer binade below.
  const bool finer_below = m == (std::uint64_t{1} << 52) && field > 1;
  const int below = finer_below ? CompareDecimalDyadic(t, decimal_exponent, 4 * m - 1, e - 2)
                                : CompareDecimalDyadic(t, decimal_exponent, 2 * m - 1, e - 1);
  return below > 0 || (below == 0 && even);
}

bool SplitFixedText(const std::string& text, int decimals, bool& negative, std::string& digits) {
  std::size_t i = 0;
  negative = !text.empty() && text[0] == '-';
  i = negative ? 1 : 0;
  const std::size_t int_start = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    ++i;
  }
  const std::size_t int_len = i - int_start;
  if (int_len == 0 || (int_len > 1 && text[int_start] == '0')) {
    return false;
  }
  digits = text.substr(int_start, int_len);
  if (decimals == 0) {
    return i == text.size();
  }
  if (i >= text.size() || text[i] != '.') {
    return false;
  }
  const std::string fraction = text.substr(i + 1);
  if (fraction.size() != static_cast<std::size_t>(decimals) ||
      fraction.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  digits += fraction;
  return true;
}

bool IsCorrectFixedText(const std::string& text, int decimals, double value) {
  bool negative = false;
  std::string digits;
  if (!SplitFixedText(text, decimals, negative, digits) || !std::isfinite(value)) {
    return false;
  }
  const Big n = FromDecimal(digits);
  if (value == 0.0) {
    return !negative && n.limbs.empty();
  }
  if (negative != std::signbit(value)) {
    return false;
  }
  std::uint64_t m = 0;
  std::int64_t e = 0;
  int field = 0;
  Decompose(std::fabs(value), m, e, field);
  // |value| must lie within (N -+ 1/2) * 10^-decimals, a bound allowed only
  // for an even N. Those bounds are (2N -+ 1) * 5 * 10^-(decimals + 1).
  const bool even = digits.empty() || (digits.back() - '0') % 2 == 0;
  Big upper = n;
  MulAdd(upper, 2, 1);
  MulAdd(upper, 5, 0);
  const int vs_upper = CompareDecimalDyadic(upper, -(decimals + 1), m, e);
  if (vs_upper < 0 || (vs_upper == 0 && !even)) {
    return false;
  }
  if (n.limbs.empty()) {
    return true;
  }
  // 2N - 1 = 2(N - 1) + 1, built without a subtraction.
  std::string below = digits;
  for (std::size_t k = below.size(); k-- > 0;) {
    if (below[k] != '0') {
      --below[k];
      break;
    }
    below[k] = '9';
  }
  Big lower = FromDecimal(below);
  MulAdd(lower, 2, 1);
  MulAdd(lower, 5, 0);
  const int vs_lower = CompareDecimalDyadic(lower, -(decimals + 1), m, e);
  return vs_lower < 0 || (vs_lower == 0 && even);
}

void ExactDecimal(std::uint64_t m, std::int64_t e, std::string& digits, std::int64_t& decimal_exponent) {
  // m * 2^e = m * 5^-e * 10^e for negative e.
  Big a = FromU64(m);
  if (e >= 0) {
    ShiftLeft(a, e);
    decimal_exponent = 0;
  } else {
    for (std::int64_t i = 0; i < -e; ++i) {
      MulAdd(a, 5, 0);
    }
    decimal_exponent = e;
  }
  digits.clear();
  // Repeated division by 10 (quadratic, fine for a few thousand bits).
  while (!a.limbs.empty()) {
    std::uint64_t rest = 0;
    for (std::size_t i = a.limbs.size(); i-- > 0;) {
      const std::uint64_t t = (rest << 32) | a.limbs[i];
      a.limbs[i] = static_cast<std::uint32_t>(t / 10);
      rest = t % 10;
    }
    Trim(a);
    digits.push_back(static_cast<char>('0' + rest));
  }
  if (digits.empty()) {
    digits.push_back('0');
  }
  std::reverse(digits.begin(), digits.end());
}
