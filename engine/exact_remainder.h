// Exact floating-point remainder: x - k * y with k = trunc(x / y) taken as an
// exact integer, the result carrying the sign of x. The true remainder is
// always a representable double, so every exactly computed remainder gives
// the same bits; these routines are ours so that every build of the engine
// computes it the same way and at a known cost.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

// The exact remainder of x by y for any doubles, computed in integer
// arithmetic (slow; tens of nanoseconds, more for huge quotients). NaN when
// x is infinite or NaN or y is zero or NaN; x when y is infinite. Any thread.
double ExactRemainder(double x, double y);

// A divisor prepared for repeated fast remainders: y split into three parts
// whose products with any integer quotient below max_quotient are exact.
struct RemainderDivisor {
  double y;             // the divisor, finite and > 0
  double part1;         // top 21 significant bits of y
  double part2;         // next 21 bits
  double part3;         // remaining bits: part1 + part2 + part3 == y exactly
  double max_quotient;  // quotients at or above this take the slow path
};

// Splits y for FastRemainder; any y is accepted, but only a normal positive
// one gets the fast path. Any thread.
inline RemainderDivisor PrepareDivisor(double y) {
  auto keep_top_bits = [](double v, int bits) {
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    u &= ~((std::uint64_t{1} << (53 - bits)) - 1);
    std::memcpy(&v, &u, sizeof u);
    return v;
  };
  RemainderDivisor d;
  d.y = y;
  if (!(y >= 0x1p-1022 && y <= 0x1.fffffffffffffp+1023)) {
    // Subnormal, zero, negative, infinite or NaN: every remainder is slow.
    d.part1 = d.part2 = d.part3 = 0.0;
    d.max_quotient = 0.0;
    return d;
  }
  d.part1 = keep_top_bits(y, 21);
  const double rest = y - d.part1;  // exact: the low 32 bits of y
  d.part2 = keep_top_bits(rest, 21);
  d.part3 = rest - d.part2;  // exact: at most 11 bits remain
  // The partial differences stay below the next power of two above y, as
  // long as k * part3 (part3 < 2^(e-41) for y in [2^e, 2^(e+1))) fits in
  // the gap; for the synthesis' period the limit is 2^31. Worked out in the
  // bits rather than with frexp and floor: the synthesis prepares its period
  // on every call and calls nothing from the C library's math.
  std::uint64_t bits;
  std::memcpy(&bits, &y, sizeof bits);
  bits = (bits & ~(std::uint64_t{0x7ff} << 52)) | (std::uint64_t{1022} << 52);
  double m;  // y = m * 2^e, m in [0.5, 1)
  std::memcpy(&m, &bits, sizeof m);
  const double gap_in_part3_units = (1.0 - m) * 0x1p42;  // exact
  // Truncation is the floor of this positive value below 2^31.
  d.max_quotient = gap_in_part3_units < 2147483648.0
                       ? static_cast<double>(static_cast<std::int32_t>(gap_in_part3_units))
                       : 2147483648.0;
  return d;
}

// Same result as ExactRemainder(t, d.y). Quotients below d.max_quotient take a
// branch-light path of a division and three exact products; anything else
// (huge or non-finite t) goes to ExactRemainder. Any thread.
inline double FastRemainder(const RemainderDivisor& d, double t) {
  // The builtin, not the C library's fabs, which on 32-bit x86 goes through
  // the x87 unit and memory on every call.
  const double a = __builtin_fabs(t);
  if (a < d.y) return t;
  const double q = a / d.y;
  if (!(q < d.max_quotient)) return ExactRemainder(t, d.y);  // also NaN, inf
  // The rounded quotient truncates to the true quotient k or to k + 1.
  // With k' < 2^31 each product below is exact, a - k' * part1 is exact by
  // Sterbenz's lemma, and every later difference is a multiple of ulp(y)
  // below 2 * y in magnitude, hence exact as well.
  const double k = static_cast<double>(static_cast<std::int32_t>(q));
  double r = ((a - k * d.part1) - k * d.part2) - k * d.part3;
  if (r < 0.0) r += d.y;  // k' was k + 1; the sum is the true remainder
  return t < 0.0 ? -r : r;
}
