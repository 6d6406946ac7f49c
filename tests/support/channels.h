// The record's four channels in the order of the words they make: Generator
// 1 left, Generator 1 right, Generator 2 left, Generator 2 right. For tests
// and benchmarks that set or read the four alike.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "engine/generator_state.h"

enum Channel { Gen1Left, Gen1Right, Gen2Left, Gen2Right };

struct ChannelFields {
  std::atomic<double>* freq;
  std::atomic<double>* volume;
  std::atomic<std::int64_t>* counter;
};

inline ChannelFields FieldsOf(int channel, GeneratorStateRecord& s = GeneratorState) {
  const std::array<ChannelFields, 4> all = {{
      {&s.Gen1FreqLeft, &s.Gen1VolumeLeft, &s.Gen1CounterLeft},
      {&s.Gen1FreqRight, &s.Gen1VolumeRight, &s.Gen1CounterRight},
      {&s.Gen2FreqLeft, &s.Gen2VolumeLeft, &s.Gen2CounterLeft},
      {&s.Gen2FreqRight, &s.Gen2VolumeRight, &s.Gen2CounterRight},
  }};
  return all[static_cast<std::size_t>(channel)];
}

// One channel's frequency (Hz) and gain.
inline void SetChannel(int channel, double freq, double volume) {
  ChannelFields f = FieldsOf(channel);
  Store(*f.freq, freq);
  Store(*f.volume, volume);
}

// The four channels' frequencies and gains, in channel order.
inline void SetChannels(const double (&freq)[4], const double (&volume)[4]) {
  for (int c = 0; c < 4; ++c) SetChannel(c, freq[c], volume[c]);
}

inline std::array<std::int64_t, 4> LoadCounters() {
  std::array<std::int64_t, 4> counters{};
  for (int c = 0; c < 4; ++c) counters[static_cast<std::size_t>(c)] = Load(*FieldsOf(c).counter);
  return counters;
}

inline void StoreCounters(const std::array<std::int64_t, 4>& counters) {
  for (int c = 0; c < 4; ++c) Store(*FieldsOf(c).counter, counters[static_cast<std::size_t>(c)]);
}

// All four counters at `count`: the next FillBuffer makes the frame at `count`.
inline void StoreCounters(std::int64_t count) { StoreCounters({count, count, count, count}); }
