// The one record from which the sound is made: ten tone settings, two mute
// flags, four 64-bit sample counters and the fixed format values.
//
// The host's thread writes settings and mute flags at any moment while the
// worker reads them, so every field the two share is a lock-free atomic,
// stored and loaded whole (relaxed order: there is no consistency across
// fields, only within each one). The counters belong to the worker while it
// exists; they are atomics so that the host's thread may read them too.
#pragma once

#include <atomic>
#include <cstdint>

struct GeneratorStateRecord {
  double SampleRate;
  std::int32_t BitsPerSample;
  std::int32_t ChannelCount;

  std::atomic<double> Gen1FreqLeft;
  std::atomic<double> Gen1FreqRight;
  std::atomic<double> Gen1VolumeLeft;
  std::atomic<double> Gen1VolumeRight;
  std::atomic<double> Gen1MasterVolume;
  std::atomic<std::int32_t> Gen1Muted;
  std::atomic<std::int64_t> Gen1CounterLeft;
  std::atomic<std::int64_t> Gen1CounterRight;

  std::atomic<double> Gen2FreqLeft;
  std::atomic<double> Gen2FreqRight;
  std::atomic<double> Gen2VolumeLeft;
  std::atomic<double> Gen2VolumeRight;
  std::atomic<double> Gen2MasterVolume;
  std::atomic<std::int32_t> Gen2Muted;
  std::atomic<std::int64_t> Gen2CounterLeft;
  std::atomic<std::int64_t> Gen2CounterRight;

  double TwoPi;
};

static_assert(std::atomic<double>::is_always_lock_free, "settings must be lock-free atomics");
static_assert(std::atomic<std::int64_t>::is_always_lock_free, "counters must be lock-free atomics");
static_assert(std::atomic<std::int32_t>::is_always_lock_free, "mute flags must be lock-free atomics");

extern GeneratorStateRecord GeneratorState;

// Gives every field its load-time value. Called once at module load, before
// any entry point runs and while no worker exists.
void LoadDefaults();

// Sets the four sample counters to 0 and nothing else. Called by the start of
// playback only while no worker exists.
void ResetCounters();

// Relaxed whole-field access; the shorthand every reader and writer uses.
template <class T>
inline T Load(const std::atomic<T>& field) {
  return field.load(std::memory_order_relaxed);
}
template <class T>
inline void Store(std::atomic<T>& field, T value) {
  field.store(value, std::memory_order_relaxed);
}
