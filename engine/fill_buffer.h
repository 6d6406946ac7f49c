// Synthesis: GeneratorState's tones as interleaved 16-bit stereo PCM.
#pragma once

#include <cstdint>

// Writes `frames` frames (left word, then right word, signed 16-bit
// little-endian) into buffer, which holds at least 4 * frames bytes, and
// advances the counters of each unmuted generator by `frames`. Nothing is
// written for frames <= 0. Returns 0. Worker thread only; allocates nothing,
// locks nothing, makes no system call. Runs the widest packed kernel the
// processor supports (engine/synthesis_kernels.h); every kernel writes the
// same words.
std::int32_t FillBuffer(void* buffer, std::int32_t frames);
