// The kernels behind FillBuffer. Each one turns the same snapshot into the
// same words: the scalar kernel one channel-sample at a time, the packed ones
// two (SSE2) or four (AVX) channel-samples per instruction, with the same
// operations in the same order, so every rounding is the same. FillBuffer
// uses the fastest kernel the processor and the system support; tests and
// benchmarks may name one.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/exact_remainder.h"

enum class SynthesisKernel : std::int32_t { kScalar = 0, kSse2 = 1, kAvx = 2 };

// Whether this processor and system can run the kernel (AVX needs the
// instructions and a system that saves the wider registers). Any thread.
bool SynthesisKernelAvailable(SynthesisKernel kernel);

// The kernel FillBuffer uses: AVX where available, SSE2 otherwise. Decided
// on the first call and kept.
SynthesisKernel SelectedSynthesisKernel();

// FillBuffer with a named kernel; an unavailable one falls back to SSE2.
std::int32_t FillBufferWith(SynthesisKernel kernel, void* buffer, std::int32_t frames);

// Channel-samples for which a packed kernel computed part of the value one
// lane at a time (counts too large to step exactly as doubles, phase
// quotients beyond the packed remainder's reach), since the module was
// loaded. Stays put for all ordinary settings.
std::uint64_t ScalarFallbackChannelSamples();

// The packed kernels' remainder and sine on their own, for tests. A kernel
// that is not packed or not available answers with SSE2's.
// p[i] = the remainder of t[i] by `period` (FastRemainder's result), for a
// period whose remainders the packed kernels can make (the synthesis' own).
void PackedRemainders(SynthesisKernel kernel, const RemainderDivisor& period, const double* t, double* p,
                      std::int32_t count);
// s[i] = PreciseSine(x[i]) for |x[i]| up to precise_sine_detail::ReductionLimit, and NaN.
void PackedSines(SynthesisKernel kernel, const double* x, double* s, std::int32_t count);

namespace synthesis_detail {

// The snapshot FillBuffer takes at entry, in channel order G1L, G1R, G2L,
// G2R. A muted channel has step 0, gain 0 and count 0, which yields +0.0 in
// every kernel without a test of its own.
struct SynthesisPlan {
  double step[4];           // TwoPi * f, rounded: the first product of the phase
  double gain[4];           // channel gain times master gain, rounded
  std::int64_t count[4];    // the counter at entry (0 when muted)
  bool muted[4];            // the channel's generator is muted
  double rate;              // SampleRate
  RemainderDivisor period;  // prepared TwoPi
};

// Counts within this magnitude, plus any offset within one call, are exact
// doubles and step exactly by adding 1.0.
inline constexpr std::int64_t kExactCountLimit = std::int64_t{1} << 53;

// The mix: each side is (Generator 1 + Generator 2) * MixGain, which keeps
// two full-scale channels inside the word, then * WordScale, truncated.
inline constexpr double MixGain = 0.2;
inline constexpr double WordScale = 32767.0;

// Each kernel writes `frames` > 0 frames to out; counters are not touched.
void FillScalar(const SynthesisPlan& plan, unsigned char* out, std::int32_t frames);
void FillSse2(const SynthesisPlan& plan, unsigned char* out, std::int32_t frames);
void FillAvx(const SynthesisPlan& plan, unsigned char* out, std::int32_t frames);
void RemaindersSse2(const RemainderDivisor& period, const double* t, double* p, std::int32_t count);
void RemaindersAvx(const RemainderDivisor& period, const double* t, double* p, std::int32_t count);
void SinesSse2(const double* x, double* s, std::int32_t count);
void SinesAvx(const double* x, double* s, std::int32_t count);

// CPUID and XGETBV: AVX instructions present and their state saved by the
// system.
bool AvxUsable();

void AddScalarFallback(std::uint64_t channel_samples);

}  // namespace synthesis_detail
