// FillBuffer throughput in the Windows build: times 2048-frame calls with
// QueryPerformanceCounter, counters near 0 and near 1e9, and prints frames
// per second for FillBuffer (the kernel playback uses) and for each kernel
// by name; also the cost of the runtime's fmod next to ours. Run under Wine
// by scripts/bench.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/bench_settings.h"
#include "engine/exact_remainder.h"
#include "engine/fill_buffer.h"
#include "engine/synthesis_kernels.h"

namespace {

double Seconds(const LARGE_INTEGER& a, const LARGE_INTEGER& b) {
  LARGE_INTEGER freq;
  QueryPerformanceFrequency(&freq);
  return static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(freq.QuadPart);
}

// Frames per second with FillBuffer or, for kernel >= 0, that kernel, from
// counter `start`: the best of five rounds of `calls` calls, so that other
// load on the machine (the timer counts wall time) skews the figure less.
double Measure(int kernel, std::int64_t start, int calls) {
  ApplyBenchSettings();
  std::vector<unsigned char> buffer(4 * kBenchFrames);
  double best = 0.0;
  for (int round = 0; round < 5; ++round) {
    SetBenchCounters(start);
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    for (int i = 0; i < calls; ++i) {
      if (kernel < 0) {
        FillBuffer(buffer.data(), kBenchFrames);
      } else {
        FillBufferWith(static_cast<SynthesisKernel>(kernel), buffer.data(), kBenchFrames);
      }
    }
    QueryPerformanceCounter(&t1);
    const double fps = static_cast<double>(calls) * kBenchFrames / Seconds(t0, t1);
    if (fps > best) best = fps;
  }
  return best;
}

// Nanoseconds per remainder by the period for the runtime's fmod and for
// ours, on phase arguments of a 445 Hz tone near a count of 1e9.
void CompareRemainders() {
  const double two_pi = 6.28318530717959;
  std::vector<double> args(1 << 20);
  for (std::size_t i = 0; i < args.size(); ++i) {
    args[i] = ((two_pi * 445.0) * (1e9 + static_cast<double>(i))) / 44100.0;
  }
  const RemainderDivisor d = PrepareDivisor(two_pi);
  LARGE_INTEGER t0, t1, t2;
  double acc = 0.0;
  QueryPerformanceCounter(&t0);
  for (double t : args) acc += std::fmod(t, two_pi);
  QueryPerformanceCounter(&t1);
  for (double t : args) acc -= FastRemainder(d, t);
  QueryPerformanceCounter(&t2);
  const double n = static_cast<double>(args.size());
  std::printf("wine remainder by TwoPi: runtime fmod %.1f ns, FastRemainder %.1f ns per call (check %g)\n",
              Seconds(t0, t1) / n * 1e9, Seconds(t1, t2) / n * 1e9, acc);
}

}  // namespace

int main() {
  const char* arch = sizeof(void*) == 8 ? "x64" : "x86";
  Measure(-1, 0, 200);  // warm-up
  for (long long start : {0LL, 1000000000LL}) {
    const double fps = Measure(-1, start, 600);
    std::printf("wine %s FillBuffer (%s) counters near %lld: %.0f frames/s (%.1fx real time)\n", arch,
                KernelName(SelectedSynthesisKernel()), start, fps, fps / 44100.0);
  }
  for (int kernel = 0; kernel <= 2; ++kernel) {
    if (!SynthesisKernelAvailable(static_cast<SynthesisKernel>(kernel))) continue;
    for (long long start : {0LL, 1000000000LL}) {
      const double fps = Measure(kernel, start, 400);
      std::printf("wine %s kernel %s counters near %lld: %.0f frames/s\n", arch,
                  KernelName(static_cast<SynthesisKernel>(kernel)), start, fps);
    }
  }
  CompareRemainders();
  return 0;
}
