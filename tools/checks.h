// Checks of whether one side's figures can be trusted: each finding is a
// warning text for the report. A side is measured on the assumption that it
// is a set of steady lines well inside the measured band; these checks say
// where that does not hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/analysis.h"
#include "tools/peaks.h"
#include "tools/fourier.h"

namespace analysis_detail {

// Components left out because they lie within eight bins of 0 Hz or of half
// the rate: local maxima there that pass the detection rule. Answers whether
// it warned.
bool CheckExcludedBands(const WindowedStretch& s, const AnalysisSettings& settings, std::vector<std::string>& warnings);

// Whether the samples x[0, count) are the steady lines measured in them:
// `all` holds every component (strongest first), `tones` the tones. Warns of
// tones closer than the stretch resolves (with the length that would resolve
// them), of a tone whose level or frequency moves within the stretch, and of
// a stretch whose power lies largely outside its lines (a sweep, noise;
// not said when `outsideExplained`, as for a component in an excluded band).
void CheckSteadyLines(const std::int16_t* x, std::int64_t count, double rate, const std::vector<Found>& all,
                      const std::vector<Found>& tones, bool outsideExplained, std::vector<std::string>& warnings);

// Lines fitted to x[0, count) (omegas, with FitSines' coef and origin) that
// lie closer than the resolution to another line, or whose residual envelope
// two such lines explain, are replaced in `omegas` by the two steady lines
// that fit best. Answers whether any line changed.
bool RefineCloseLines(const std::int16_t* x, std::int64_t count, double origin, std::vector<double>& omegas,
                      const std::vector<double>& coef);

}  // namespace analysis_detail
