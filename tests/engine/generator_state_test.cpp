#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "engine/generator_state.h"
#include "tests/support/channels.h"

namespace {

struct DoubleField {
  const char* name;
  std::atomic<double>* field;
  double at_load;
};

TEST(GeneratorState, EveryFieldHasItsLoadTimeValue) {
  GeneratorStateRecord& s = GeneratorState;
  // Scribble over everything first so that LoadDefaults must set each field.
  s.SampleRate = 1.0;
  s.BitsPerSample = 8;
  s.ChannelCount = 1;
  s.TwoPi = 3.0;
  for (auto* f : {&s.Gen1FreqLeft, &s.Gen1FreqRight, &s.Gen1VolumeLeft, &s.Gen1VolumeRight, &s.Gen1MasterVolume,
                  &s.Gen2FreqLeft, &s.Gen2FreqRight, &s.Gen2VolumeLeft, &s.Gen2VolumeRight, &s.Gen2MasterVolume}) {
    Store(*f, 0.5);
  }
  Store(s.Gen1Muted, 1);
  Store(s.Gen2Muted, 1);
  StoreCounters(77);

  LoadDefaults();

  EXPECT_EQ(s.SampleRate, 44100.0);
  EXPECT_EQ(s.BitsPerSample, 16);
  EXPECT_EQ(s.ChannelCount, 2);
  // The period is the double nearest 6.28318530717959, four ulps above 2*pi.
  EXPECT_EQ(s.TwoPi, 6.28318530717959);
  EXPECT_EQ(s.TwoPi, 0x1.921fb54442d1cp+2);
  const DoubleField doubles[] = {
      {"Gen1FreqLeft", &s.Gen1FreqLeft, 0.0},         {"Gen1FreqRight", &s.Gen1FreqRight, 0.0},
      {"Gen1VolumeLeft", &s.Gen1VolumeLeft, 0.001},   {"Gen1VolumeRight", &s.Gen1VolumeRight, 0.001},
      {"Gen1MasterVolume", &s.Gen1MasterVolume, 1.0}, {"Gen2FreqLeft", &s.Gen2FreqLeft, 0.0},
      {"Gen2FreqRight", &s.Gen2FreqRight, 0.0},       {"Gen2VolumeLeft", &s.Gen2VolumeLeft, 0.001},
      {"Gen2VolumeRight", &s.Gen2VolumeRight, 0.001}, {"Gen2MasterVolume", &s.Gen2MasterVolume, 1.0},
  };
  for (const auto& d : doubles) EXPECT_EQ(Load(*d.field), d.at_load) << d.name;
  EXPECT_EQ(Load(s.Gen1Muted), 0);
  EXPECT_EQ(Load(s.Gen2Muted), 0);
  EXPECT_EQ(LoadCounters(), (std::array<std::int64_t, 4>{0, 0, 0, 0}));
}

TEST(GeneratorState, ResetCountersTouchesOnlyTheCounters) {
  GeneratorStateRecord& s = GeneratorState;
  LoadDefaults();
  Store(s.Gen1FreqLeft, 440.0);
  Store(s.Gen1FreqRight, -5.5);
  Store(s.Gen2FreqLeft, 1e6);
  Store(s.Gen2FreqRight, 0.25);
  Store(s.Gen1VolumeLeft, 0.1);
  Store(s.Gen1VolumeRight, 0.2);
  Store(s.Gen2VolumeLeft, 0.3);
  Store(s.Gen2VolumeRight, 0.4);
  Store(s.Gen1MasterVolume, 0.6);
  Store(s.Gen2MasterVolume, 0.7);
  Store(s.Gen1Muted, 1);
  Store(s.Gen2Muted, 0);
  StoreCounters({5, 5, 1000000007, 1000000007});

  ResetCounters();

  EXPECT_EQ(LoadCounters(), (std::array<std::int64_t, 4>{0, 0, 0, 0}));
  EXPECT_EQ(Load(s.Gen1FreqLeft), 440.0);
  EXPECT_EQ(Load(s.Gen1FreqRight), -5.5);
  EXPECT_EQ(Load(s.Gen2FreqLeft), 1e6);
  EXPECT_EQ(Load(s.Gen2FreqRight), 0.25);
  EXPECT_EQ(Load(s.Gen1VolumeLeft), 0.1);
  EXPECT_EQ(Load(s.Gen1VolumeRight), 0.2);
  EXPECT_EQ(Load(s.Gen2VolumeLeft), 0.3);
  EXPECT_EQ(Load(s.Gen2VolumeRight), 0.4);
  EXPECT_EQ(Load(s.Gen1MasterVolume), 0.6);
  EXPECT_EQ(Load(s.Gen2MasterVolume), 0.7);
  EXPECT_EQ(Load(s.Gen1Muted), 1);
  EXPECT_EQ(Load(s.Gen2Muted), 0);
  EXPECT_EQ(s.SampleRate, 44100.0);
  EXPECT_EQ(s.TwoPi, 6.28318530717959);
  EXPECT_EQ(s.BitsPerSample, 16);
  EXPECT_EQ(s.ChannelCount, 2);
}

}  // namespace
