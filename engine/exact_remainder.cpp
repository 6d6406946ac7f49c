#include "engine/exact_remainder.h"

#include <cstdint>
#include <cstring>

namespace {

// A finite nonzero magnitude as integer significand and power of two:
// |v| = significand * 2^exponent, significand < 2^53.
struct Unpacked {
  std::uint64_t significand;
  int exponent;
};

Unpacked Unpack(double v) {
  std::uint64_t bits;
  std::memcpy(&bits, &v, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0) return {fraction, -1074};  // subnormal
  return {fraction | (std::uint64_t{1} << 52), biased - 1075};
}

}  // namespace

double ExactRemainder(double x, double y) {
  if (std::isnan(x) || std::isnan(y) || std::isinf(x) || y == 0.0) return std::nan("");
  if (std::isinf(y) || x == 0.0) return x;
  const Unpacked ux = Unpack(x);
  const Unpacked uy = Unpack(y);
  const double ax = std::fabs(x);
  if (ax < std::fabs(y)) return x;
  // ax >= |y|, so ux.exponent >= uy.exponent. Long division of significands:
  // r = (sx * 2^shift) mod sy, ten bits at a time so r << 10 stays below 2^63.
  std::uint64_t r = ux.significand % uy.significand;
  int shift = ux.exponent - uy.exponent;
  while (shift > 0) {
    const int step = shift < 10 ? shift : 10;
    r = (r << step) % uy.significand;
    shift -= step;
  }
  // r < sy < 2^53 and r * 2^ey is a multiple of the smallest subnormal, so
  // the scaling is exact.
  const double magnitude = std::ldexp(static_cast<double>(r), uy.exponent);
  return x < 0.0 ? -magnitude : magnitude;
}
