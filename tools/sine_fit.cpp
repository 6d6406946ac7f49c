#include "tools/sine_fit.h"

#include <cmath>
#include <utility>

namespace analysis_detail {

namespace {

// cos(w m) and sin(w m) for consecutive m, by rotation, re-seeded exactly
// every 1024 steps so that rounding cannot build up.
struct Rotor {
  double Omega, Cos, Sin, StepCos, StepSin;
};

std::vector<Rotor> MakeRotors(const std::vector<double>& omegas) {
  std::vector<Rotor> r;
  for (double w : omegas) r.push_back({w, 1.0, 0.0, std::cos(w), std::sin(w)});
  return r;
}

// Moves every rotor to phase origin offset m; `step` counts calls from 0.
// Plain pointers in the per-sample loops: unoptimised (sanitizer) builds
// would otherwise spend most of their time in checked element access.
void StepRotors(Rotor* rotors, std::size_t count, std::int64_t step, double m) {
  for (Rotor* r = rotors; r != rotors + count; ++r) {
    if (step % 1024 == 0) {
      r->Cos = std::cos(r->Omega * m);
      r->Sin = std::sin(r->Omega * m);
    } else {
      const double c = r->Cos * r->StepCos - r->Sin * r->StepSin;
      r->Sin = r->Sin * r->StepCos + r->Cos * r->StepSin;
      r->Cos = c;
    }
  }
}

}  // namespace

bool FitSines(const std::int16_t* x, std::int64_t a, std::int64_t b, double origin, const std::vector<double>& omegas,
              std::vector<double>& coef) {
  const std::size_t p = 1 + 2 * omegas.size();
  std::vector<double> ata(p * p, 0.0), atx(p, 0.0), basis(p);
  std::vector<Rotor> rotors = MakeRotors(omegas);
  double* const m = ata.data();
  double* const y = atx.data();
  double* const u = basis.data();
  Rotor* const rot = rotors.data();
  for (std::int64_t n = a; n < b; ++n) {
    StepRotors(rot, rotors.size(), n - a, static_cast<double>(n) - origin);
    u[0] = 1.0;
    for (std::size_t k = 0; k < rotors.size(); ++k) {
      u[1 + 2 * k] = rot[k].Cos;
      u[2 + 2 * k] = rot[k].Sin;
    }
    const double v = x[n];
    for (std::size_t i = 0; i < p; ++i) {
      y[i] += u[i] * v;
      double* row = m + i * p;
      for (std::size_t j = i; j < p; ++j) row[j] += u[i] * u[j];
    }
  }
  for (std::size_t i = 0; i < p; ++i)
    for (std::size_t j = 0; j < i; ++j) ata[i * p + j] = ata[j * p + i];
  // Gaussian elimination with partial pivoting.
  for (std::size_t col = 0; col < p; ++col) {
    std::size_t piv = col;
    for (std::size_t r = col + 1; r < p; ++r)
      if (std::fabs(ata[r * p + col]) > std::fabs(ata[piv * p + col])) piv = r;
    if (!(std::fabs(ata[piv * p + col]) > 1e-9 * static_cast<double>(b - a))) return false;
    if (piv != col) {
      for (std::size_t j = 0; j < p; ++j) std::swap(ata[col * p + j], ata[piv * p + j]);
      std::swap(atx[col], atx[piv]);
    }
    for (std::size_t r = col + 1; r < p; ++r) {
      const double f = ata[r * p + col] / ata[col * p + col];
      for (std::size_t j = col; j < p; ++j) ata[r * p + j] -= f * ata[col * p + j];
      atx[r] -= f * atx[col];
    }
  }
  coef.assign(p, 0.0);
  for (std::size_t i = p; i-- > 0;) {
    double v = atx[i];
    for (std::size_t j = i + 1; j < p; ++j) v -= ata[i * p + j] * coef[j];
    coef[i] = v / ata[i * p + i];
  }
  return true;
}

double FitResidual(const std::int16_t* x, std::int64_t a, std::int64_t b, double origin,
                   const std::vector<double>& omegas, const std::vector<double>& coef, double* each) {
  std::vector<Rotor> rotors = MakeRotors(omegas);
  Rotor* const rot = rotors.data();
  const double* const c = coef.data();
  double sum = 0.0;
  for (std::int64_t n = a; n < b; ++n) {
    StepRotors(rot, rotors.size(), n - a, static_cast<double>(n) - origin);
    double v = c[0];
    for (std::size_t k = 0; k < rotors.size(); ++k) v += c[1 + 2 * k] * rot[k].Cos + c[2 + 2 * k] * rot[k].Sin;
    const double e = x[n] - v;
    sum += e * e;
    if (each != nullptr) each[n - a] = e * e;
  }
  return sum;
}

void FitEvaluate(std::int64_t a, std::int64_t b, double origin, const std::vector<double>& omegas,
                 const std::vector<double>& coef, double* out) {
  std::vector<Rotor> rotors = MakeRotors(omegas);
  Rotor* const rot = rotors.data();
  const double* const c = coef.data();
  for (std::int64_t n = a; n < b; ++n) {
    StepRotors(rot, rotors.size(), n - a, static_cast<double>(n) - origin);
    double v = c[0];
    for (std::size_t k = 0; k < rotors.size(); ++k) v += c[1 + 2 * k] * rot[k].Cos + c[2 + 2 * k] * rot[k].Sin;
    out[n - a] = v;
  }
}

}  // namespace analysis_detail
