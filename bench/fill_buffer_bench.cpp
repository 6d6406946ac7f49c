// FillBuffer throughput: one 2048-frame call per iteration, four channels
// sounding, counters held near a chosen count so the phase arguments keep
// their magnitude. Frames per second appear as items_per_second.
// BM_FillBuffer is what playback runs (the kernel chosen for this
// processor); BM_Kernel/<kernel>/<count> times each kernel by name:
// 0 scalar, 1 SSE2, 2 AVX (skipped where unavailable).
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_settings.h"
#include "engine/fill_buffer.h"
#include "engine/synthesis_kernels.h"

namespace {

template <class Fill>
void Run(benchmark::State& state, std::int64_t start, Fill fill) {
  ApplyBenchSettings();
  std::vector<unsigned char> buffer(4 * kBenchFrames);
  std::int64_t calls = 0;
  for (auto _ : state) {
    // Restart every 1024 calls (about 47 s of sound) to stay near `start`.
    if ((calls++ & 1023) == 0) SetBenchCounters(start);
    fill(buffer.data());
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * kBenchFrames);
}

void BM_FillBuffer(benchmark::State& state) {
  state.SetLabel(KernelName(SelectedSynthesisKernel()));
  Run(state, state.range(0), [](unsigned char* b) { FillBuffer(b, kBenchFrames); });
}
BENCHMARK(BM_FillBuffer)->Arg(0)->Arg(1000000000)->MinTime(1.0);

void BM_Kernel(benchmark::State& state) {
  const auto kernel = static_cast<SynthesisKernel>(state.range(0));
  if (!SynthesisKernelAvailable(kernel)) {
    state.SkipWithError("kernel not available on this processor");
    for (auto _ : state) {
    }
    return;
  }
  state.SetLabel(KernelName(kernel));
  Run(state, state.range(1), [kernel](unsigned char* b) { FillBufferWith(kernel, b, kBenchFrames); });
}
BENCHMARK(BM_Kernel)->ArgsProduct({{0, 1, 2}, {0, 1000000000}})->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
