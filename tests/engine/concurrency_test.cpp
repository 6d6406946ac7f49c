#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"

namespace {

// The host's thread stores settings and mute flags without pause while the
// worker fills buffers, as in playback. Run under ThreadSanitizer this shows
// that every shared access is a whole-field atomic; in any build it shows
// that torn or mid-buffer changes never take a word out of range and that
// each generator's two counters stay equal.
TEST(FillBufferConcurrency, SettingsChangeWhileBuffersAreFilled) {
  LoadDefaults();
  std::atomic<bool> done{false};
  std::atomic<std::int64_t> stores{0};
  std::thread host([&] {
    GeneratorStateRecord& s = GeneratorState;
    const double freqs[] = {440.0, -1000.0, 11025.0, 0.0, 1e9};
    std::uint32_t i = 0;
    while (!done.load(std::memory_order_relaxed)) {
      Store(s.Gen1FreqLeft, freqs[i % 5]);
      Store(s.Gen2FreqRight, freqs[(i + 2) % 5]);
      Store(s.Gen1VolumeLeft, (i % 11) / 10.0);
      Store(s.Gen2MasterVolume, (i % 7) / 6.0);
      // Mute flags change more slowly than the settings, so that fills see
      // runs of each combination rather than whatever phase of a fast toggle.
      Store(s.Gen1Muted, static_cast<std::int32_t>((i >> 12) & 1));
      Store(s.Gen2Muted, static_cast<std::int32_t>((i >> 13) & 1));
      // The host may read a counter while the worker runs.
      (void)Load(s.Gen1CounterLeft);
      ++i;
      stores.fetch_add(1, std::memory_order_relaxed);
    }
  });

  // Start filling once the host's thread is storing (thread start-up can be
  // slow, under Wine especially); waits and call counts are bounded.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (stores.load(std::memory_order_relaxed) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  const std::int64_t stores_before = stores.load(std::memory_order_relaxed);
  std::vector<unsigned char> buffer(4 * 2048);
  int out_of_range = 0;
  for (int call = 0; call < 200 || (stores.load(std::memory_order_relaxed) - stores_before < 1000 && call < 20000);
       ++call) {
    FillBuffer(buffer.data(), 2048);
    for (std::size_t b = 0; b < buffer.size(); b += 2) {
      const auto w = static_cast<std::int16_t>(static_cast<std::uint16_t>(buffer[b] | (buffer[b + 1] << 8)));
      out_of_range += std::abs(static_cast<int>(w)) > 13106;
    }
  }
  done.store(true, std::memory_order_relaxed);
  host.join();

  EXPECT_EQ(out_of_range, 0);
  EXPECT_GT(stores_before, 0);
  EXPECT_GT(stores.load() - stores_before, 0);  // the stores overlapped the fills
  const GeneratorStateRecord& s = GeneratorState;
  EXPECT_EQ(Load(s.Gen1CounterLeft), Load(s.Gen1CounterRight));
  EXPECT_EQ(Load(s.Gen2CounterLeft), Load(s.Gen2CounterRight));
  EXPECT_EQ(Load(s.Gen1CounterLeft) % 2048, 0);
  EXPECT_EQ(Load(s.Gen2CounterLeft) % 2048, 0);
  // Which buffers saw a generator muted depends on scheduling; report it.
  std::printf("host stores: %lld, frames made: %lld and %lld\n", static_cast<long long>(stores.load()),
              static_cast<long long>(Load(s.Gen1CounterLeft)), static_cast<long long>(Load(s.Gen2CounterLeft)));
}

}  // namespace
