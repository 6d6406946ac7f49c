// Least-squares sine fitting: DC plus a cosine and a sine per known angular
// frequency, over a stretch of 16-bit samples.
#pragma once

#include <cstdint>
#include <vector>

namespace analysis_detail {

// Fits over samples [a, b), with the phase origin at sample `origin`. Answers
// false when the system is singular. coef: dc, then (cos, sin) per frequency.
bool FitSines(const std::int16_t* x, std::int64_t a, std::int64_t b, double origin, const std::vector<double>& omegas,
              std::vector<double>& coef);

// Sum of squared differences between the samples [a, b) and the fitted
// sines; per-sample squares go to `each` (indexed from a) when given.
double FitResidual(const std::int16_t* x, std::int64_t a, std::int64_t b, double origin,
                   const std::vector<double>& omegas, const std::vector<double>& coef, double* each = nullptr);

// The fitted model's values for samples [a, b) into out (indexed from a).
void FitEvaluate(std::int64_t a, std::int64_t b, double origin, const std::vector<double>& omegas,
                 const std::vector<double>& coef, double* out);

}  // namespace analysis_detail
