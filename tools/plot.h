// The spectrum picture: a PNG with one panel per side, log frequency axis,
// levels in dBFS (0 dBFS = sine of peak 32767), one curve per segment.
#pragma once

#include <string>

#include "tools/analysis.h"

// Writes the picture to `pngPath` by running gnuplot (found on PATH) on a
// generated script and data file in a private temporary folder, which is
// removed afterwards. Uses the pngcairo terminal, or png when pngcairo is
// missing. Answers false with a reason when gnuplot cannot be run or fails.
bool DrawSpectrumPicture(const WavRecording& wav, const AnalysisReport& report, const std::string& pngPath,
                         std::string& error);
