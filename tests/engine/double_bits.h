// A double's bits, for tests that compare results bit for bit.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

inline std::uint64_t Bits(double v) {
  std::uint64_t u;
  std::memcpy(&u, &v, sizeof u);
  return u;
}

inline double FromBits(std::uint64_t u) {
  double v;
  std::memcpy(&v, &u, sizeof v);
  return v;
}

// Same value and same sign, NaN matching NaN.
inline bool SameResult(double a, double b) { return (std::isnan(a) && std::isnan(b)) || Bits(a) == Bits(b); }
