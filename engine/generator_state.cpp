#include "engine/generator_state.h"

GeneratorStateRecord GeneratorState;

void LoadDefaults() {
  GeneratorStateRecord& s = GeneratorState;
  s.SampleRate = 44100.0;
  s.BitsPerSample = 16;
  s.ChannelCount = 2;
  // The load-time channel gain is 0.001: 0.1 on the host's percent scale.
  for (auto* gen : {&s.Gen1FreqLeft, &s.Gen1FreqRight, &s.Gen2FreqLeft, &s.Gen2FreqRight}) Store(*gen, 0.0);
  for (auto* vol : {&s.Gen1VolumeLeft, &s.Gen1VolumeRight, &s.Gen2VolumeLeft, &s.Gen2VolumeRight}) Store(*vol, 0.001);
  Store(s.Gen1MasterVolume, 1.0);
  Store(s.Gen2MasterVolume, 1.0);
  Store(s.Gen1Muted, 0);
  Store(s.Gen2Muted, 0);
  ResetCounters();
  // Not a library constant for 2*pi: the double nearest 6.28318530717959.
  s.TwoPi = 6.28318530717959;
}

void ResetCounters() {
  GeneratorStateRecord& s = GeneratorState;
  for (auto* c : {&s.Gen1CounterLeft, &s.Gen1CounterRight, &s.Gen2CounterLeft, &s.Gen2CounterRight}) {
    Store<std::int64_t>(*c, 0);
  }
}
