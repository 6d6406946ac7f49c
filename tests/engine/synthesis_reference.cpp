#include "tests/engine/synthesis_reference.h"

#include <cmath>

#include "engine/generator_state.h"
#include "tests/support/channels.h"

void ApplySettings(const ToneSettings& s) {
  GeneratorStateRecord& g = GeneratorState;
  LoadDefaults();
  SetChannels(s.freq, s.volume);
  StoreCounters({s.counter[0], s.counter[1], s.counter[2], s.counter[3]});
  Store(g.Gen1MasterVolume, s.master[0]);
  Store(g.Gen2MasterVolume, s.master[1]);
  Store(g.Gen1Muted, s.muted[0]);
  Store(g.Gen2Muted, s.muted[1]);
}

std::vector<std::int16_t> ReferenceWords(const ToneSettings& s, int frames) {
  const double two_pi = 6.28318530717959;
  const double rate = 44100.0;
  std::vector<std::int16_t> words;
  std::int64_t counter[4] = {s.counter[0], s.counter[1], s.counter[2], s.counter[3]};
  for (int i = 0; i < frames; ++i) {
    double value[4];
    for (int ch = 0; ch < 4; ++ch) {
      const int gen = ch / 2;
      if (s.muted[gen] != 0) {
        value[ch] = 0.0;
        continue;
      }
      const double gain = s.volume[ch] * s.master[gen];
      const double n = static_cast<double>(counter[ch]);
      const double t = ((two_pi * s.freq[ch]) * n) / rate;
      const double p = std::fmod(t, two_pi);
      const double sine = static_cast<double>(std::sin(static_cast<long double>(p)));
      double v = sine * gain;
      counter[ch] += 1;
      if (v > 1.0) v = 1.0;
      if (!(v >= -1.0)) v = -1.0;
      value[ch] = v;
    }
    const double left = (value[0] + value[2]) * 0.2;
    const double right = (value[1] + value[3]) * 0.2;
    words.push_back(static_cast<std::int16_t>(static_cast<std::int32_t>(left * 32767.0)));
    words.push_back(static_cast<std::int16_t>(static_cast<std::int32_t>(right * 32767.0)));
  }
  return words;
}

std::uint64_t HashWords(const std::vector<std::int16_t>& words) {
  std::uint64_t h = 0xcbf29ce484222325ull;
  for (std::int16_t w : words) {
    const auto u = static_cast<std::uint16_t>(w);
    for (unsigned b : {u & 0xffu, static_cast<unsigned>(u >> 8)}) {
      h ^= b;
      h *= 0x100000001b3ull;
    }
  }
  return h;
}

std::vector<ToneSettings> LargeCountCases() {
  std::vector<ToneSettings> cases;
  auto add = [&](double f0, double f1, double f2, double f3, std::int64_t count, double gain) {
    ToneSettings s;
    const double f[4] = {f0, f1, f2, f3};
    for (int ch = 0; ch < 4; ++ch) {
      s.freq[ch] = f[ch];
      s.volume[ch] = gain;
      s.counter[ch] = count;
    }
    cases.push_back(s);
  };
  add(440.0, 445.0, 200.0, 210.0, 999999000, 1.0);
  add(1000.0, -1000.0, 11025.0, 22050.0, 1000000000 - 300, 1.0);
  add(19999.99, 0.1, 7919.0, 3.25, 1234567890123, 0.75);               // quotients beyond 2^31
  add(440.0, 997.0, 1e300, -2e5, (std::int64_t{1} << 53) - 700, 1.0);  // counts passing 2^53
  add(12345.678, 261.63, 0.0, 15000.0, 44100LL * 3600 * 24 * 365, 0.5);
  return cases;
}
