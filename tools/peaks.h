// Peak finding: the components of one windowed stretch, each refined to the
// maximum of the continuous windowed transform and levelled there.
#pragma once

#include <cstddef>
#include <vector>

#include "tools/analysis.h"
#include "tools/fourier.h"

namespace analysis_detail {

// Refined components per stretch; weaker peaks keep their interpolated values.
constexpr std::size_t kMaxRefined = 32;

// A component found in a stretch: angular frequency in radians per sample.
struct Found {
  double Omega = 0.0;
  double LevelDbfs = 0.0;
  double Hz = 0.0;
};

// Moves omega to the maximum of |X(omega)|^2 of the windowed samples `y` by
// safeguarded Newton steps. Answers the start value when the search leaves
// the starting bin's lobe.
double RefineOmega(const std::vector<double>& y, double omega0);

// Sine-equivalent level of the windowed samples at omega.
double LevelAt(const std::vector<double>& y, double omega, double gain);

// Every component of a stretch (a local maximum above the detection rule's
// threshold), strongest first.
std::vector<Found> FindComponents(const WindowedStretch& s, const AnalysisSettings& settings,
                                  std::size_t maxRefined = kMaxRefined);

}  // namespace analysis_detail
