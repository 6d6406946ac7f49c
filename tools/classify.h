// Harmonic classification: whether a component is something a louder tone
// explains (a harmonic, an intermodulation product, its quantisation error)
// or a frequency the caller says was played.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/peaks.h"

namespace analysis_detail {

// The frequency an alias of hz lands on, in [0, rate/2].
double FoldHz(double hz, double rate);

// Samples in one period of a tone's waveform when it repeats within
// kMaxHarmonic samples (its frequency lies within tolHz of p * rate / q), else 0.
std::int64_t WaveformPeriod(double hz, double rate, double tolHz);

// True when c lies on one of the frequencies the caller says were played and
// is louder than a tone's quantisation lines.
bool IsExpected(const Found& c, const std::vector<double>& expected, double tolHz);

// True when `c` lies on a harmonic or a low-order intermodulation product of
// louder tones, or on a louder tone's quantisation grid.
bool IsDerived(const Found& c, const std::vector<Found>& tones, double rate, double tolHz, double periodTolHz);

}  // namespace analysis_detail
