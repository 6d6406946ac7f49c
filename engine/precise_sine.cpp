#include "engine/precise_sine.h"

#include <limits>

namespace precise_sine_detail {

void RefineReduction(double x, double n, double& head, double& tail) {
  const double ax = std::fabs(x);
  // Second stage: take away n * P2 (exact); the rounding error of that
  // subtraction is recovered exactly and folded into the next tail.
  double r = x - n * P1;
  double t = r;
  double w = n * P2;
  r = t - w;
  w = n * P2Tail - ((t - r) - w);
  head = r - w;
  if (std::fabs(head) < ax * 0x1p-49) {
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

double WideSine(double x) {
  if (std::isnan(x)) return x;
  return std::numeric_limits<double>::quiet_NaN();
}

}  // namespace precise_sine_detail
