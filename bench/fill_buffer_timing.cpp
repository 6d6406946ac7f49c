// FillBuffer throughput in the Windows build: times 2048-frame calls with
// QueryPerformanceCounter, counters near 0 and near 1e9, and prints frames
// per second. Run under Wine by scripts/bench.
#include <windows.h>

#include <cstdio>
#include <vector>

#include "bench/bench_settings.h"
#include "engine/fill_buffer.h"

namespace {

// Frames per second over `calls` calls starting at counter `start`.
double Measure(std::int64_t start, int calls) {
  ApplyBenchSettings();
  std::vector<unsigned char> buffer(4 * kBenchFrames);
  LARGE_INTEGER freq, t0, t1;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&t0);
  for (int i = 0; i < calls; ++i) {
    if ((i & 1023) == 0) SetBenchCounters(start);
    FillBuffer(buffer.data(), kBenchFrames);
  }
  QueryPerformanceCounter(&t1);
  const double seconds = static_cast<double>(t1.QuadPart - t0.QuadPart) / static_cast<double>(freq.QuadPart);
  return static_cast<double>(calls) * kBenchFrames / seconds;
}

}  // namespace

int main() {
  Measure(0, 200);  // warm-up
  for (long long start : {0LL, 1000000000LL}) {
    const double fps = Measure(start, 3000);
    std::printf("wine FillBuffer counters near %lld: %.0f frames/s (%.1fx real time)\n", start, fps, fps / 44100.0);
  }
  return 0;
}
