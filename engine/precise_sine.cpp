#include "engine/precise_sine.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace precise_sine_detail {

void RefineReduction(double x, double n, double& head, double& tail) {
  const double ax = __builtin_fabs(x);  // no x87 round trip, as in PreciseSine
  // Second stage: take away n * P2 (exact); the rounding error of that
  // subtraction is recovered exactly and folded into the next tail.
  double r = x - n * P1;
  double t = r;
  double w = n * P2;
  r = t - w;
  w = n * P2Tail - ((t - r) - w);
  head = r - w;
  if (__builtin_fabs(head) < ax * 0x1p-49) {
    // Third stage: still more than 49 bits cancelled; the closest a double
    // below the reduction limit comes to a multiple of pi/2 leaves enough.
    t = r;
    w = n * P3;
    r = t - w;
    w = n * P3Tail - ((t - r) - w);
    head = r - w;
  }
  tail = (r - head) - w;
}

namespace {

// 2/pi in 32-bit words, most significant first: 2/pi = sum W[j] * 2^(-32(j+1)).
// 1280 bits reach past the largest double's need (exponent 971 plus a
// 224-bit window).
constexpr std::uint32_t kTwoOverPiWords[40] = {
    0xa2f9836e, 0x4e441529, 0xfc2757d1, 0xf534ddc0, 0xdb629599, 0x3c439041, 0xfe5163ab, 0xdebbc561,
    0xb7246e3a, 0x424dd2e0, 0x06492eea, 0x09d1921c, 0xfe1deb1c, 0xb129a73e, 0xe88235f5, 0x2ebb4484,
    0xe99c7026, 0xb45f7e41, 0x3991d639, 0x835339f4, 0x9c845f8b, 0xbdf9283b, 0x1ff897ff, 0xde05980f,
    0xef2f118b, 0x5a0a6d1f, 0x6d367ecf, 0x27cb09b7, 0x4f463f66, 0x9e5fea2d, 0x7527bac7, 0xebe5f17b,
    0x3d0739f7, 0x8a5292ea, 0x6bfb5fb1, 0x1f8d5d08, 0x56033046, 0xfc7b6bab, 0xf0cfbc20, 0x9af4361d,
};
constexpr double kHalfPiHi = 0x1.921fb54442d18p+0;
constexpr double kHalfPiLo = 0x1.1a62633145c07p-54;
constexpr int kWindowWords = 7;                  // 224 bits of 2/pi per argument
constexpr int kProductWords = kWindowWords + 2;  // times a 53-bit significand

// a * b == p + e exactly (Veltkamp splitting; no fused multiply-add).
void TwoProduct(double a, double b, double& p, double& e) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1
  const double ca = kSplitter * a;
  const double a_hi = ca - (ca - a);
  const double a_lo = a - a_hi;
  const double cb = kSplitter * b;
  const double b_hi = cb - (cb - b);
  const double b_lo = b - b_hi;
  p = a * b;
  e = ((a_hi * b_hi - p) + a_hi * b_lo + a_lo * b_hi) + a_lo * b_lo;
}

// Bit `i` of a little-endian array of 32-bit words; 0 outside it.
unsigned BitAt(const std::uint32_t* words, int i) {
  if (i < 0 || i >= 32 * kProductWords) return 0;
  return (words[i / 32] >> (i % 32)) & 1u;
}

// The 64 bits at positions top .. top - 63, zeros below position 0.
std::uint64_t BitsBelow(const std::uint32_t* words, int top) {
  std::uint64_t v = 0;
  for (int i = top; i > top - 64; --i) v = (v << 1) | BitAt(words, i);
  return v;
}

// Payne-Hanek reduction of ax (finite, >= 2^20): ax = k * pi/2 + (head + tail)
// with |head + tail| <= pi/4; returns k mod 4.
int WideReduce(double ax, double& head, double& tail) {
  std::uint64_t bits;
  std::memcpy(&bits, &ax, sizeof bits);
  const int e = static_cast<int>((bits >> 52) & 0x7ff) - 1075;
  const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  // ax * 2/pi = m * 2^e * sum W[j] 2^(-32(j+1)). Words whose terms are whole
  // multiples of 4 do not change the quadrant or the fraction: skip them.
  const int first = e >= 34 ? (e - 34) / 32 + 1 : 0;
  const int s = e - 32 * (first + 1);  // scale of the first kept word's term
  std::uint32_t window[kWindowWords];  // little-endian
  for (int i = 0; i < kWindowWords; ++i) window[i] = kTwoOverPiWords[first + kWindowWords - 1 - i];
  std::uint32_t product[kProductWords] = {};
  const std::uint32_t m_parts[2] = {static_cast<std::uint32_t>(m), static_cast<std::uint32_t>(m >> 32)};
  for (int h = 0; h < 2; ++h) {
    std::uint64_t carry = 0;
    for (int i = 0; i < kWindowWords; ++i) {
      const std::uint64_t t = static_cast<std::uint64_t>(m_parts[h]) * window[i] + product[i + h] + carry;
      product[i + h] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
    for (int i = kWindowWords + h; i < kProductWords && carry != 0; ++i) {
      const std::uint64_t t = static_cast<std::uint64_t>(product[i]) + carry;
      product[i] = static_cast<std::uint32_t>(t);
      carry = t >> 32;
    }
  }
  // The product carries the binary point at bit `point`: bits above it are
  // the integer part (two of them give the quadrant), bits below the fraction.
  const int point = 32 * (kWindowWords - 1) - s;
  int quadrant = static_cast<int>(BitAt(product, point) | (BitAt(product, point + 1) << 1));
  std::uint64_t f[3] = {BitsBelow(product, point - 1), BitsBelow(product, point - 65), BitsBelow(product, point - 129)};
  bool negative = false;
  if (f[0] >> 63) {
    // Fraction >= 1/2: round the quotient up and take 1 - fraction.
    negative = true;
    quadrant += 1;
    f[2] = ~f[2] + 1;
    f[1] = ~f[1] + (f[2] == 0 ? 1 : 0);
    f[0] = ~f[0] + (f[2] == 0 && f[1] == 0 ? 1 : 0);
  }
  // Normalise the 192-bit fraction and take 106 bits of it as hi + lo.
  int lz = 0;
  while (lz < 128 && f[0] == 0) {
    f[0] = f[1];
    f[1] = f[2];
    f[2] = 0;
    lz += 64;
  }
  const int shift = std::countl_zero(f[0]);
  if (shift == 64) {
    head = tail = 0.0;  // a whole multiple of pi/2 cannot be a double
    return quadrant & 3;
  }
  if (shift > 0) {
    f[0] = (f[0] << shift) | (f[1] >> (64 - shift));
    f[1] = (f[1] << shift) | (f[2] >> (64 - shift));
  }
  lz += shift;
  const double hi = std::ldexp(static_cast<double>(f[0] >> 11), -lz - 53);
  const double lo = std::ldexp(static_cast<double>(((f[0] & 0x7ff) << 42) | (f[1] >> 22)), -lz - 106);
  // (hi + lo) * pi/2 in double-double.
  double p, err;
  TwoProduct(hi, kHalfPiHi, p, err);
  err += hi * kHalfPiLo + lo * kHalfPiHi;
  head = p + err;
  tail = err - (head - p);
  if (negative) {
    head = -head;
    tail = -tail;
  }
  return quadrant & 3;
}

}  // namespace

double WideSine(double x) {
  if (std::isnan(x) || std::isinf(x)) return x - x;  // NaN
  double head, tail;
  const int quadrant = WideReduce(std::fabs(x), head, tail);
  double r;
  switch (quadrant) {
    case 0: r = SinKernel(head, tail); break;
    case 1: r = CosKernel(head, tail); break;
    case 2: r = -SinKernel(head, tail); break;
    default: r = -CosKernel(head, tail); break;
  }
  return x < 0.0 ? -r : r;
}

}  // namespace precise_sine_detail
