// Harmonic classification: which components of a side are tones and which
// are spurs. A component is a spur when a louder tone explains it (its
// harmonic distortion, an intermodulation product, its quantisation error),
// or when nothing shows that it was played (the tone range); a frequency the
// caller says was played is a tone unless it is a louder tone's quantisation
// line.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/analysis.h"
#include "tools/peaks.h"

namespace analysis_detail {

// Components louder than the margin of a tone's quantisation line: an error
// of at most one word puts at most two words (-84.3 dBFS) on any one line.
constexpr double kQuantisationDbfs = -84.0;

// The frequency an alias of hz lands on, in [0, rate/2].
double FoldHz(double hz, double rate);

// Samples in one period of a tone's waveform when it repeats within 4096
// samples (its frequency lies within tolHz of p * rate / q), else 0.
std::int64_t WaveformPeriod(double hz, double rate, double tolHz);

// How far below the fundamental (dB) a sampled square wave that repeats every
// q samples puts its harmonic k: 20 log10(sin(pi k'/q) / sin(pi/q)), with k'
// the order folded into 0..q/2 (its aliases share the line); 20 log10(k) when
// q is 0 (no period within reach). Negative infinity when k' is 0.
double SquareHarmonicDb(std::int64_t k, std::int64_t q);

// The level below its tone (dB) from which a component on harmonic k is
// distortion: max(9, s - 1), with s from SquareHarmonicDb.
double HarmonicMarginDb(std::int64_t k, std::int64_t q);

// Where a side's components are measured: sets the frequency tolerances.
struct ClassifyContext {
  double Rate = 0.0;
  double BinHz = 0.0;        // rate / samples transformed
  double NoiseDbfs = 0.0;    // noise floor per bin (sine-equivalent)
  double TolHz = 0.0;        // a component's frequency tolerance
  double PeriodTolHz = 0.0;  // tolerance for recognising a waveform's period
};

// True when c lies on harmonic k of a tone at least HarmonicMarginDb below
// it and, where a square wave puts harmonic k more than 20 dB down, the
// tone's 2nd or 3rd harmonic is among `all` at least as loud as c (a
// distortion that reaches a high harmonic is stronger on the low ones); or
// when c lies on a 2nd/3rd-order intermodulation product of two tones and at
// least 9 dB below both.
bool IsDistortion(const Found& c, const std::vector<Found>& tones, const std::vector<Found>& all,
                  const ClassifyContext& ctx);

// True when c can be a louder tone's quantisation error: at most -84 dBFS
// and either on the tone's line grid (a tone repeating every q samples puts
// its error on multiples of rate/q), or on an aliased harmonic k of the tone
// within the bound an error of under one word leaves there: amplitude at most
// 2 max(x^(-1/3) m^(-4/3), 1/k) words, with x = 2 pi A for a tone of peak A
// words and m = ceil(k / x). However close c is to the tone's level.
bool IsQuantisationLine(const Found& c, const std::vector<Found>& tones, const ClassifyContext& ctx);

// Splits a side's components (strongest first) into tones and spurs.
// The strongest is a tone. Each further one, while fewer than MaxTones
// tones are found, is a tone when it lies on an expected frequency and is no
// quantisation line, or when it is within ToneRangeDb of the strongest (0:
// no limit) and neither distortion nor a quantisation line.
void ClassifyComponents(const std::vector<Found>& all, const AnalysisSettings& settings,
                        const std::vector<double>& expected, const ClassifyContext& ctx, std::vector<Found>& tones,
                        std::vector<Found>& spurs);

}  // namespace analysis_detail
