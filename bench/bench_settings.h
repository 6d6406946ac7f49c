// The tone settings every throughput figure is taken with: all four channels
// sounding at the frequencies of the comparison run, full gains.
#pragma once

#include <cstdint>

#include "engine/generator_state.h"
#include "engine/synthesis_kernels.h"
#include "tests/support/channels.h"

inline constexpr std::int32_t kBenchFrames = 2048;

// Loads the defaults and sets 440, 445, 200 and 210 Hz at full gain.
inline void ApplyBenchSettings() {
  LoadDefaults();
  SetChannels({440.0, 445.0, 200.0, 210.0}, {1.0, 1.0, 1.0, 1.0});
}

// Puts all four counters at `count`.
inline void SetBenchCounters(std::int64_t count) { StoreCounters(count); }

// The kernel's name in printed figures.
inline const char* KernelName(SynthesisKernel kernel) {
  switch (kernel) {
    case SynthesisKernel::kScalar: return "scalar";
    case SynthesisKernel::kSse2: return "sse2";
    case SynthesisKernel::kAvx: return "avx";
  }
  return "?";
}
