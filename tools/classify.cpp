#include "tools/classify.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tools/fourier.h"

namespace analysis_detail {

namespace {

constexpr double kDerivedMarginDb = 9.0;  // a clipped sine's 3rd harmonic is at most -9.5 dBc
constexpr std::int64_t kMaxHarmonic = 4096;
// Harmonics a square wave puts at most this far down (up to about the 10th)
// count as distortion without the tone's low harmonics showing.
constexpr double kLowHarmonicsDb = 20.0;
// Harmonic orders searched for quantisation lines of a tone without a short
// period; keeps the search bounded for full-scale tones.
constexpr double kMaxQuantisationOrder = 1e6;

double Amplitude(double dbfs) { return kFullScale * std::pow(10.0, dbfs / 20.0); }

// Frequency uncertainty of a measured component, from how far it stands above
// the noise floor (a few times the spread such a line's estimate shows).
double FrequencySpreadHz(const Found& f, const ClassifyContext& ctx) {
  return 4.0 * ctx.BinHz * std::pow(10.0, -(f.LevelDbfs - ctx.NoiseDbfs) / 20.0);
}

bool IsExpected(const Found& c, const std::vector<double>& expected, double tolHz) {
  for (double e : expected)
    if (std::fabs(std::fabs(e) - c.Hz) <= std::max(tolHz, 0.01)) return true;
  return false;
}

// True when c lies on an aliased harmonic k >= 2 of tone t within the bound
// that t's quantisation error leaves there.
bool OnQuantisationHarmonic(const Found& c, const Found& t, const ClassifyContext& ctx) {
  const double a = Amplitude(c.LevelDbfs), x = 2.0 * kPi * Amplitude(t.LevelDbfs);
  if (!(a > 0.0) || !(x > 0.0) || !(t.Hz > 0.0)) return false;
  // Highest order whose bound still reaches a: from the Bessel term and the
  // 1/k term of a truncating quantiser.
  const double mMax = std::floor(std::pow(2.0 * std::pow(x, -1.0 / 3.0) / a, 0.75));
  const double kMax = std::min(kMaxQuantisationOrder, std::max(2.0 / a, mMax * x));
  if (kMax < 2.0) return false;
  const double spread = FrequencySpreadHz(t, ctx), tol = std::max(ctx.TolHz, FrequencySpreadHz(c, ctx));
  // k t.Hz = j rate +- c.Hz for some fold j: walk the folds, not the orders.
  const auto folds = static_cast<std::int64_t>(std::ceil(kMax * t.Hz / ctx.Rate)) + 1;
  for (std::int64_t j = 0; j <= folds; ++j) {
    for (const double sign : {1.0, -1.0}) {
      const double target = static_cast<double>(j) * ctx.Rate + sign * c.Hz;
      const double k = std::round(target / t.Hz);
      if (k < 2.0 || k > kMax) continue;
      if (std::fabs(k * t.Hz - target) > tol + k * spread) continue;
      const double m = std::max(1.0, std::ceil(k / x));
      const double bound = 2.0 * std::max(std::pow(x, -1.0 / 3.0) * std::pow(m, -4.0 / 3.0), 1.0 / k);
      if (a <= bound) return true;
    }
  }
  return false;
}

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

double SquareHarmonicDb(std::int64_t k, std::int64_t q) {
  if (q <= 0) return 20.0 * std::log10(static_cast<double>(k));
  std::int64_t folded = k % q;
  folded = std::min(folded, q - folded);
  if (folded == 0) return -std::numeric_limits<double>::infinity();
  const double qd = static_cast<double>(q);
  return 20.0 * std::log10(std::sin(kPi * static_cast<double>(folded) / qd) / std::sin(kPi / qd));
}

double HarmonicMarginDb(std::int64_t k, std::int64_t q) {
  return std::max(kDerivedMarginDb, SquareHarmonicDb(k, q) - 1.0);
}

bool IsDistortion(const Found& c, const std::vector<Found>& tones, const std::vector<Found>& all,
                  const ClassifyContext& ctx) {
  std::vector<const Found*> parents;
  for (const Found& t : tones)
    if (t.LevelDbfs - c.LevelDbfs >= kDerivedMarginDb) parents.push_back(&t);
  // A memoryless distortion of a sampled tone (clipping, a converter's
  // steps) puts harmonic k of the continuous wave on the folded frequency;
  // when the tone repeats every q samples all harmonics share q lines. A
  // sampled square wave of that period, the hardest clipping, is the bound.
  // Every frequency on a short period's grid is some harmonic, so beyond the
  // first ones the tone's own low harmonics must show the distortion too.
  auto onHarmonic = [&](const Found& f, const Found& t, std::int64_t k) {
    return std::fabs(FoldHz(static_cast<double>(k) * t.Hz, ctx.Rate) - f.Hz) <=
           ctx.TolHz * (1.0 + static_cast<double>(k) / 1000.0);
  };
  for (const Found* t : parents) {
    const double below = t->LevelDbfs - c.LevelDbfs;
    const std::int64_t q = WaveformPeriod(t->Hz, ctx.Rate, ctx.PeriodTolHz);
    for (std::int64_t k = 2; k <= kMaxHarmonic; ++k) {
      if (!onHarmonic(c, *t, k) || below < HarmonicMarginDb(k, q)) continue;
      if (SquareHarmonicDb(k, q) <= kLowHarmonicsDb) return true;
      for (const Found& low : all)
        if (low.LevelDbfs >= c.LevelDbfs && &low != &c && (onHarmonic(low, *t, 2) || onHarmonic(low, *t, 3)))
          return true;
    }
  }
  static const int kOrders[][2] = {{1, 1}, {1, -1}, {2, 1}, {2, -1}, {1, 2}, {1, -2}};
  for (std::size_t i = 0; i < parents.size(); ++i)
    for (std::size_t j = i + 1; j < parents.size(); ++j)
      for (const auto& o : kOrders) {
        const double hz = o[0] * parents[i]->Hz + o[1] * parents[j]->Hz;
        if (std::fabs(FoldHz(hz, ctx.Rate) - c.Hz) <= ctx.TolHz) return true;
      }
  return false;
}

bool IsQuantisationLine(const Found& c, const std::vector<Found>& tones, const ClassifyContext& ctx) {
  if (c.LevelDbfs > kQuantisationDbfs) return false;
  for (const Found& t : tones) {
    if (t.LevelDbfs < c.LevelDbfs) continue;
    const std::int64_t q = WaveformPeriod(t.Hz, ctx.Rate, ctx.PeriodTolHz);
    if (q > 0) {
      const double grid = ctx.Rate / static_cast<double>(q);
      if (std::fabs(c.Hz - grid * std::round(c.Hz / grid)) <= ctx.TolHz) return true;
    } else if (OnQuantisationHarmonic(c, t, ctx)) {
      return true;
    }
  }
  return false;
}

void ClassifyComponents(const std::vector<Found>& all, const AnalysisSettings& settings,
                        const std::vector<double>& expected, const ClassifyContext& ctx, std::vector<Found>& tones,
                        std::vector<Found>& spurs) {
  for (const Found& c : all) {
    bool tone = static_cast<int>(tones.size()) < settings.MaxTones;
    if (tone && !tones.empty()) {
      if (IsQuantisationLine(c, tones, ctx))
        tone = false;
      else if (!IsExpected(c, expected, ctx.TolHz))
        tone = !(settings.ToneRangeDb > 0.0 && c.LevelDbfs < tones.front().LevelDbfs - settings.ToneRangeDb) &&
               !IsDistortion(c, tones, all, ctx);
    }
    (tone ? tones : spurs).push_back(c);
  }
}

}  // namespace analysis_detail
