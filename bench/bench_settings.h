// The tone settings every throughput figure is taken with: all four channels
// sounding at the frequencies of the comparison run, full gains.
#pragma once

#include <cstdint>

#include "engine/generator_state.h"
#include "engine/synthesis_kernels.h"

inline constexpr std::int32_t kBenchFrames = 2048;

// Loads the defaults and sets 440, 445, 200 and 210 Hz at full gain.
inline void ApplyBenchSettings() {
  GeneratorStateRecord& s = GeneratorState;
  LoadDefaults();
  Store(s.Gen1FreqLeft, 440.0);
  Store(s.Gen1FreqRight, 445.0);
  Store(s.Gen2FreqLeft, 200.0);
  Store(s.Gen2FreqRight, 210.0);
  for (auto* v : {&s.Gen1VolumeLeft, &s.Gen1VolumeRight, &s.Gen2VolumeLeft, &s.Gen2VolumeRight}) Store(*v, 1.0);
}

// Puts all four counters at `count`.
inline void SetBenchCounters(std::int64_t count) {
  GeneratorStateRecord& s = GeneratorState;
  for (auto* c : {&s.Gen1CounterLeft, &s.Gen1CounterRight, &s.Gen2CounterLeft, &s.Gen2CounterRight}) {
    Store(*c, count);
  }
}

// The kernel's name in printed figures.
inline const char* KernelName(SynthesisKernel kernel) {
  switch (kernel) {
    case SynthesisKernel::kScalar: return "scalar";
    case SynthesisKernel::kSse2: return "sse2";
    case SynthesisKernel::kAvx: return "avx";
  }
  return "?";
}
