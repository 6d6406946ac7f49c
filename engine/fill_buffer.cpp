#include "engine/fill_buffer.h"

#include <cstdint>

#include "engine/exact_remainder.h"
#include "engine/generator_state.h"
#include "engine/precise_sine.h"

namespace {

// Channel values are made in blocks so that each channel's loop runs on its
// own without the others' branches in between; the block lives on the stack.
constexpr int kBlockFrames = 256;
// Below this magnitude every integer count, and every count plus a block
// offset, is exactly a double.
constexpr std::int64_t kExactCountLimit = (std::int64_t{1} << 53) - kBlockFrames;

struct ChannelPlan {
  double step;       // TwoPi * f, rounded: the first product of the phase
  double gain;       // channel gain times master gain, rounded
  std::int64_t count;  // the counter at entry
  bool muted;
};

// One channel value for count n: the phase formula in its written grouping,
// the exact remainder, the sine, the gain and the limit (NaN becomes -1).
inline double ChannelValue(double step, double n, double rate, const RemainderDivisor& period,
                           double gain) {
  const double t = (step * n) / rate;
  const double p = FastRemainder(period, t);
  double v = PreciseSine(p) * gain;
  if (v > 1.0) v = 1.0;
  if (!(v >= -1.0)) v = -1.0;
  return v;
}

void ChannelBlock(const ChannelPlan& c, std::int64_t first_offset, int len, double rate,
                  const RemainderDivisor& period, double* out) {
  if (c.muted) {
    for (int i = 0; i < len; ++i) out[i] = 0.0;
    return;
  }
  // Counts advance with 64-bit wrap-around; nobody reaches 2^63 frames, but
  // a stored counter of any value still gives a defined result.
  const std::int64_t first =
      static_cast<std::int64_t>(static_cast<std::uint64_t>(c.count) + static_cast<std::uint64_t>(first_offset));
  if (first > -kExactCountLimit && first < kExactCountLimit) {
    const double n0 = static_cast<double>(first);
    for (int i = 0; i < len; ++i) {
      out[i] = ChannelValue(c.step, n0 + static_cast<double>(i), rate, period, c.gain);
    }
  } else {
    for (int i = 0; i < len; ++i) {
      const std::int64_t n =
          static_cast<std::int64_t>(static_cast<std::uint64_t>(first) + static_cast<std::uint64_t>(i));
      out[i] = ChannelValue(c.step, static_cast<double>(n), rate, period, c.gain);
    }
  }
}

inline void StoreWord(unsigned char* at, std::int32_t word) {
  const auto bits = static_cast<std::uint16_t>(static_cast<std::int16_t>(word));
  at[0] = static_cast<unsigned char>(bits & 0xff);
  at[1] = static_cast<unsigned char>(bits >> 8);
}

}  // namespace

std::int32_t FillBuffer(void* buffer, std::int32_t frames) {
  if (frames <= 0 || buffer == nullptr) return 0;
  GeneratorStateRecord& s = GeneratorState;

  // The snapshot: settings and mute flags once per call.
  const bool muted1 = Load(s.Gen1Muted) != 0;
  const bool muted2 = Load(s.Gen2Muted) != 0;
  const double master1 = Load(s.Gen1MasterVolume);
  const double master2 = Load(s.Gen2MasterVolume);
  const double rate = s.SampleRate;
  const double two_pi = s.TwoPi;
  const RemainderDivisor period = PrepareDivisor(two_pi);

  std::atomic<std::int64_t>* counters[4] = {&s.Gen1CounterLeft, &s.Gen1CounterRight, &s.Gen2CounterLeft,
                                            &s.Gen2CounterRight};
  const ChannelPlan plan[4] = {
      {two_pi * Load(s.Gen1FreqLeft), Load(s.Gen1VolumeLeft) * master1, Load(*counters[0]), muted1},
      {two_pi * Load(s.Gen1FreqRight), Load(s.Gen1VolumeRight) * master1, Load(*counters[1]), muted1},
      {two_pi * Load(s.Gen2FreqLeft), Load(s.Gen2VolumeLeft) * master2, Load(*counters[2]), muted2},
      {two_pi * Load(s.Gen2FreqRight), Load(s.Gen2VolumeRight) * master2, Load(*counters[3]), muted2},
  };

  auto* out = static_cast<unsigned char*>(buffer);
  double values[4][kBlockFrames];
  // `start + len` never passes `frames`, so the index cannot overflow.
  for (std::int32_t start = 0, len = 0; start < frames; start += len) {
    len = frames - start < kBlockFrames ? frames - start : kBlockFrames;
    for (int ch = 0; ch < 4; ++ch) ChannelBlock(plan[ch], start, len, rate, period, values[ch]);
    for (int i = 0; i < len; ++i) {
      const double left = (values[0][i] + values[2][i]) * 0.2;
      const double right = (values[1][i] + values[3][i]) * 0.2;
      // Conversion truncates toward zero; the limits keep |word| <= 13106.
      StoreWord(out, static_cast<std::int32_t>(left * 32767.0));
      StoreWord(out + 2, static_cast<std::int32_t>(right * 32767.0));
      out += 4;
    }
  }

  // Counters: only an unmuted generator's advance, each by `frames`.
  for (int ch = 0; ch < 4; ++ch) {
    if (plan[ch].muted) continue;
    Store(*counters[ch], static_cast<std::int64_t>(static_cast<std::uint64_t>(plan[ch].count) +
                                                   static_cast<std::uint64_t>(frames)));
  }
  return 0;
}
