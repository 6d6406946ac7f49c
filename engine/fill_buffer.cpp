#include "engine/fill_buffer.h"

#include <atomic>
#include <cstdint>

#include "engine/exact_remainder.h"
#include "engine/generator_state.h"
#include "engine/precise_sine.h"
#include "engine/synthesis_kernels.h"

using synthesis_detail::SynthesisPlan;

namespace {

// Channel values are made in blocks so that each channel's loop runs on its
// own without the others' branches in between; the block lives on the stack
// (under 4 KB, so the 32-bit build calls no stack probe).
constexpr int kBlockFrames = 64;
// Below this magnitude every integer count, and every count plus a block
// offset, is exactly a double.
constexpr std::int64_t kBlockExactLimit = synthesis_detail::kExactCountLimit - kBlockFrames;

// One channel value for count n: the phase formula in its written grouping,
// the exact remainder, the sine, the gain and the limit (NaN becomes -1).
inline double ChannelValue(double step, double n, double rate, const RemainderDivisor& period, double gain) {
  const double t = (step * n) / rate;
  const double p = FastRemainder(period, t);
  double v = PreciseSine(p) * gain;
  if (v > 1.0) v = 1.0;
  if (!(v >= -1.0)) v = -1.0;
  return v;
}

void ChannelBlock(const SynthesisPlan& plan, int ch, std::int64_t first_offset, int len, double* out) {
  if (plan.muted[ch]) {
    for (int i = 0; i < len; ++i) out[i] = 0.0;
    return;
  }
  const double step = plan.step[ch];
  const double gain = plan.gain[ch];
  // Counts advance with 64-bit wrap-around; nobody reaches 2^63 frames, but
  // a stored counter of any value still gives a defined result.
  const std::int64_t first =
      static_cast<std::int64_t>(static_cast<std::uint64_t>(plan.count[ch]) + static_cast<std::uint64_t>(first_offset));
  if (first > -kBlockExactLimit && first < kBlockExactLimit) {
    const double n0 = static_cast<double>(first);
    for (int i = 0; i < len; ++i) {
      out[i] = ChannelValue(step, n0 + static_cast<double>(i), plan.rate, plan.period, gain);
    }
  } else {
    for (int i = 0; i < len; ++i) {
      const std::int64_t n =
          static_cast<std::int64_t>(static_cast<std::uint64_t>(first) + static_cast<std::uint64_t>(i));
      out[i] = ChannelValue(step, static_cast<double>(n), plan.rate, plan.period, gain);
    }
  }
}

inline void StoreWord(unsigned char* at, std::int32_t word) {
  const auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(word));
  at[0] = static_cast<unsigned char>(bits & 0xff);
  at[1] = static_cast<unsigned char>(bits >> 8);
}

std::atomic<std::uint64_t> g_scalar_fallback{0};
std::atomic<std::int32_t> g_selected_kernel{-1};  // -1: not yet decided

}  // namespace

namespace synthesis_detail {

void FillScalar(const SynthesisPlan& plan, unsigned char* out, std::int32_t frames) {
  double values[4][kBlockFrames];
  // `start + len` never passes `frames`, so the index cannot overflow.
  for (std::int32_t start = 0, len = 0; start < frames; start += len) {
    len = frames - start < kBlockFrames ? frames - start : kBlockFrames;
    for (int ch = 0; ch < 4; ++ch) ChannelBlock(plan, ch, start, len, values[ch]);
    for (int i = 0; i < len; ++i) {
      const double left = (values[0][i] + values[2][i]) * MixGain;
      const double right = (values[1][i] + values[3][i]) * MixGain;
      // Conversion truncates toward zero; the limits keep |word| <= 13106.
      StoreWord(out, static_cast<std::int32_t>(left * WordScale));
      StoreWord(out + 2, static_cast<std::int32_t>(right * WordScale));
      out += 4;
    }
  }
}

void AddScalarFallback(std::uint64_t channel_samples) {
  g_scalar_fallback.fetch_add(channel_samples, std::memory_order_relaxed);
}

}  // namespace synthesis_detail

std::uint64_t ScalarFallbackChannelSamples() { return g_scalar_fallback.load(std::memory_order_relaxed); }

bool SynthesisKernelAvailable(SynthesisKernel kernel) {
  switch (kernel) {
    case SynthesisKernel::kScalar:
    case SynthesisKernel::kSse2: return true;
    case SynthesisKernel::kAvx: return synthesis_detail::AvxUsable();
  }
  return false;
}

SynthesisKernel SelectedSynthesisKernel() {
  // A plain atomic rather than a function-local static: its first use takes
  // no lock. Two threads deciding at once store the same answer.
  std::int32_t k = g_selected_kernel.load(std::memory_order_relaxed);
  if (k < 0) {
    k = static_cast<std::int32_t>(synthesis_detail::AvxUsable() ? SynthesisKernel::kAvx : SynthesisKernel::kSse2);
    g_selected_kernel.store(k, std::memory_order_relaxed);
  }
  return static_cast<SynthesisKernel>(k);
}

std::int32_t FillBufferWith(SynthesisKernel kernel, void* buffer, std::int32_t frames) {
  if (frames <= 0 || buffer == nullptr) return 0;
  GeneratorStateRecord& s = GeneratorState;

  // The snapshot: settings and mute flags once per call.
  const bool muted1 = Load(s.Gen1Muted) != 0;
  const bool muted2 = Load(s.Gen2Muted) != 0;
  const double master1 = Load(s.Gen1MasterVolume);
  const double master2 = Load(s.Gen2MasterVolume);
  const double two_pi = s.TwoPi;
  std::atomic<std::int64_t>* counters[4] = {&s.Gen1CounterLeft, &s.Gen1CounterRight, &s.Gen2CounterLeft,
                                            &s.Gen2CounterRight};
  const double freq[4] = {Load(s.Gen1FreqLeft), Load(s.Gen1FreqRight), Load(s.Gen2FreqLeft), Load(s.Gen2FreqRight)};
  const double gain[4] = {Load(s.Gen1VolumeLeft) * master1, Load(s.Gen1VolumeRight) * master1,
                          Load(s.Gen2VolumeLeft) * master2, Load(s.Gen2VolumeRight) * master2};
  SynthesisPlan plan;
  for (int ch = 0; ch < 4; ++ch) {
    const bool muted = ch < 2 ? muted1 : muted2;
    plan.muted[ch] = muted;
    plan.step[ch] = muted ? 0.0 : two_pi * freq[ch];
    plan.gain[ch] = muted ? 0.0 : gain[ch];
    plan.count[ch] = muted ? 0 : Load(*counters[ch]);
  }
  plan.rate = s.SampleRate;
  plan.period = PrepareDivisor(two_pi);

  auto* out = static_cast<unsigned char*>(buffer);
  if (kernel == SynthesisKernel::kAvx && !synthesis_detail::AvxUsable()) kernel = SynthesisKernel::kSse2;
  switch (kernel) {
    case SynthesisKernel::kScalar: synthesis_detail::FillScalar(plan, out, frames); break;
    case SynthesisKernel::kAvx: synthesis_detail::FillAvx(plan, out, frames); break;
    default: synthesis_detail::FillSse2(plan, out, frames); break;
  }

  // Counters: only an unmuted generator's advance, each by `frames`.
  for (int ch = 0; ch < 4; ++ch) {
    if (plan.muted[ch]) continue;
    Store(*counters[ch],
          static_cast<std::int64_t>(static_cast<std::uint64_t>(plan.count[ch]) + static_cast<std::uint64_t>(frames)));
  }
  return 0;
}

void PackedRemainders(SynthesisKernel kernel, const RemainderDivisor& period, const double* t, double* p,
                      std::int32_t count) {
  if (kernel == SynthesisKernel::kAvx && synthesis_detail::AvxUsable()) {
    synthesis_detail::RemaindersAvx(period, t, p, count);
  } else {
    synthesis_detail::RemaindersSse2(period, t, p, count);
  }
}

void PackedSines(SynthesisKernel kernel, const double* x, double* s, std::int32_t count) {
  if (kernel == SynthesisKernel::kAvx && synthesis_detail::AvxUsable()) {
    synthesis_detail::SinesAvx(x, s, count);
  } else {
    synthesis_detail::SinesSse2(x, s, count);
  }
}

std::int32_t FillBuffer(void* buffer, std::int32_t frames) {
  return FillBufferWith(SelectedSynthesisKernel(), buffer, frames);
}
