// A double-precision sine of our own, so that every build of the engine (the
// 32-bit DLL, the native build, any processor) yields the same bits. Its
// error stays below one unit in the last place of the result.
//
// Method: Cody-Waite reduction by pi/2 in up to three stages (each adding 33
// bits of pi/2, taken only when cancellation calls for it) up to about 1.6e6,
// Payne-Hanek reduction with 2/pi to 1280 bits beyond; then minimax
// polynomials for sin and cos on [-pi/4, pi/4] that take the reduced
// argument as a head and a tail.
#pragma once

#include <cmath>

namespace precise_sine_detail {

// Minimax coefficients: sin(x) ~ x + x^3 * (S1 + x^2 * (S2 + ...)) and
// cos(x) ~ 1 - x^2/2 + x^4 * (C1 + x^2 * (C2 + ...)) on [-pi/4, pi/4].
inline constexpr double S1 = -0x1.5555555555549p-3;
inline constexpr double S2 = 0x1.111111110f8a6p-7;
inline constexpr double S3 = -0x1.a01a019c161d5p-13;
inline constexpr double S4 = 0x1.71de357b1fe7dp-19;
inline constexpr double S5 = -0x1.ae5e68a2b9cebp-26;
inline constexpr double S6 = 0x1.5d93a5acfd57cp-33;
inline constexpr double C1 = 0x1.555555555554cp-5;
inline constexpr double C2 = -0x1.6c16c16c15177p-10;
inline constexpr double C3 = 0x1.a01a019cb1590p-16;
inline constexpr double C4 = -0x1.27e4f809c52adp-22;
inline constexpr double C5 = 0x1.1ee9ebdb4b1c4p-29;
inline constexpr double C6 = -0x1.8fae9be8838d4p-37;

// pi/2 as 33-bit pieces P1, P2, P3 (each product with a quotient below 2^20
// is exact) and the rounded rest after each piece.
inline constexpr double P1 = 0x1.921fb54400000p+0;
inline constexpr double P1Tail = 0x1.0b4611a626331p-34;
inline constexpr double P2 = 0x1.0b4611a600000p-34;
inline constexpr double P2Tail = 0x1.3198a2e037073p-69;
inline constexpr double P3 = 0x1.3198a2e000000p-69;
inline constexpr double P3Tail = 0x1.b839a252049c1p-104;
inline constexpr double TwoOverPi = 0x1.45f306dc9c883p-1;
inline constexpr double PiOver4 = 0x1.921fb54442d18p-1;
// Largest argument reduced by the Cody-Waite stages: quotients stay < 2^20.
inline constexpr double ReductionLimit = 0x1.921fb5p+20;
// Adding and subtracting 1.5 * 2^52 rounds a double below 2^51 to an integer.
inline constexpr double RoundingShift = 0x1.8p52;

// sin(x + y) for |x| <= pi/4, y a tail far below ulp(x).
inline double SinKernel(double x, double y) {
  const double z = x * x;
  const double v = z * x;
  const double r = S2 + z * (S3 + z * (S4 + z * (S5 + z * S6)));
  return x - ((z * (0.5 * y - v * r) - y) - v * S1);
}

// cos(x + y) for |x| <= pi/4, y a tail far below ulp(x).
inline double CosKernel(double x, double y) {
  const double z = x * x;
  const double w = z * z;
  const double r = z * (C1 + z * (C2 + z * C3)) + w * w * (C4 + z * (C5 + z * C6));
  const double hz = 0.5 * z;
  const double one_minus_hz = 1.0 - hz;
  // 1 - hz rounded, plus what that rounding lost, plus the small terms.
  return one_minus_hz + (((1.0 - one_minus_hz) - hz) + (z * r - x * y));
}

// The second and third reduction stages, for the few arguments that lie so
// close to a multiple of pi/2 that the first stage leaves too few bits.
void RefineReduction(double x, double n, double& head, double& tail);

// Sine for arguments beyond ReductionLimit (Payne-Hanek), NaN and infinities.
double WideSine(double x);

}  // namespace precise_sine_detail

// sin(x) for any double x (radians), error below one ulp; NaN and infinities
// give NaN. The synthesis' arguments lie within one period and take the
// inline path; beyond about 1.6e6 a slower out-of-line reduction runs. Pure
// arithmetic, no allocation, any thread.
inline double PreciseSine(double x) {
  using namespace precise_sine_detail;
  // The builtin, not the C library's fabs, which on 32-bit x86 goes through
  // the x87 unit and memory on every call.
  const double ax = __builtin_fabs(x);
  if (ax <= PiOver4) {
    if (ax < 0x1p-26) return x;  // x^3/6 is below half an ulp of x
    return SinKernel(x, 0.0);
  }
  if (!(ax <= ReductionLimit)) return WideSine(x);
  const double n = (x * TwoOverPi + RoundingShift) - RoundingShift;
  // First stage: n * P1 is exact and so is x - n * P1; the tail of pi/2
  // beyond P1 is accurate to 2^-86 relative to x.
  const double r = x - n * P1;
  const double w = n * P1Tail;
  double head = r - w;
  double tail;
  if (__builtin_fabs(head) >= ax * 0x1p-16) {
    tail = (r - head) - w;
  } else {
    RefineReduction(x, n, head, tail);
  }
  const int quadrant = static_cast<int>(n) & 3;
  switch (quadrant) {
    case 0: return SinKernel(head, tail);
    case 1: return CosKernel(head, tail);
    case 2: return -SinKernel(head, tail);
    default: return -CosKernel(head, tail);
  }
}
