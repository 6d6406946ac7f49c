#include "tools/classify.h"

#include <algorithm>
#include <cmath>

namespace analysis_detail {

namespace {

constexpr double kDerivedMarginDb = 9.0;   // a clipped sine's 3rd harmonic is at most -9.5 dBc
constexpr int kMaxHarmonic = 4096;
constexpr double kQuantisationDbfs = -84.0;   // a sine of about two words

}  // namespace

double FoldHz(double hz, double rate) {
  double f = std::fmod(std::fabs(hz), rate);
  if (f > rate / 2.0) f = rate - f;
  return f;
}

std::int64_t WaveformPeriod(double hz, double rate, double tolHz) {
  for (std::int64_t q = 1; q <= kMaxHarmonic; ++q) {
    const double grid = rate / static_cast<double>(q);
    if (std::fabs(hz - grid * std::round(hz / grid)) <= tolHz) return q;
  }
  return 0;
}

// An expected frequency from another segment must not lift a quantisation
// line to a tone.
bool IsExpected(const Found& c, const std::vector<double>& expected, double tolHz) {
  if (c.LevelDbfs <= kQuantisationDbfs) return false;
  for (double e : expected)
    if (std::fabs(std::fabs(e) - c.Hz) <= std::max(tolHz, 0.01)) return true;
  return false;
}

bool IsDerived(const Found& c, const std::vector<Found>& tones, double rate, double tolHz, double periodTolHz) {
  std::vector<const Found*> parents;
  for (const Found& t : tones)
    if (t.LevelDbfs - c.LevelDbfs >= kDerivedMarginDb) parents.push_back(&t);
  // Quantisation error of a tone whose period is a whole number of samples
  // is periodic too; its lines are aliased harmonics of high order.
  // A component on harmonic k of a louder tone is distortion when it is at
  // least 20 log10(k) dB below it (a square wave's own harmonics sit on that
  // line), beyond k = 10 falling twice as fast (harmonics of clipping
  // corners). A louder wanted tone that falls on a high-order aliased
  // harmonic stays a tone.
  for (const Found* t : parents) {
    const double below = t->LevelDbfs - c.LevelDbfs;
    for (int k = 2; k <= kMaxHarmonic; ++k) {
      if (std::fabs(FoldHz(k * t->Hz, rate) - c.Hz) > tolHz * (1.0 + k / 1000.0)) continue;
      const double order = 20.0 * std::log10(static_cast<double>(k));
      if (below >= std::max(kDerivedMarginDb, order - 1.0 + std::max(0.0, order - 20.0))) return true;
    }
  }
  // A tone whose waveform repeats every q samples leaves its quantisation
  // error on multiples of rate/q: lines of at most a couple of words.
  if (c.LevelDbfs <= kQuantisationDbfs)
    for (const Found* t : parents) {
      const std::int64_t q = WaveformPeriod(t->Hz, rate, periodTolHz);
      if (q == 0) continue;
      const double grid = rate / static_cast<double>(q);
      if (std::fabs(c.Hz - grid * std::round(c.Hz / grid)) <= tolHz) return true;
    }
  static const int kOrders[][2] = {{1, 1}, {1, -1}, {2, 1}, {2, -1}, {1, 2}, {1, -2}};
  for (std::size_t i = 0; i < parents.size(); ++i)
    for (std::size_t j = i + 1; j < parents.size(); ++j)
      for (const auto& o : kOrders) {
        const double hz = o[0] * parents[i]->Hz + o[1] * parents[j]->Hz;
        if (std::fabs(FoldHz(hz, rate) - c.Hz) <= tolHz) return true;
      }
  return false;
}

}  // namespace analysis_detail
