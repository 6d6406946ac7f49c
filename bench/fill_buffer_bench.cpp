// FillBuffer throughput: one 2048-frame call per iteration, four channels
// sounding, counters held near a chosen count so the phase arguments keep
// their magnitude. Frames per second appear as items_per_second.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_settings.h"
#include "engine/fill_buffer.h"

namespace {

void BM_FillBuffer(benchmark::State& state) {
  ApplyBenchSettings();
  const std::int64_t start = state.range(0);
  std::vector<unsigned char> buffer(4 * kBenchFrames);
  std::int64_t calls = 0;
  for (auto _ : state) {
    // Restart every 1024 calls (about 47 s of sound) to stay near `start`.
    if ((calls++ & 1023) == 0) SetBenchCounters(start);
    FillBuffer(buffer.data(), kBenchFrames);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kBenchFrames);
}
BENCHMARK(BM_FillBuffer)->Arg(0)->Arg(1000000000)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
