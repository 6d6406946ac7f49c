// Start/stop storm on the real DLL: many start/stop cycles with the settings
// changed between them. The process's handles and committed memory must come
// back to where they were after the first cycle, and the next run must still
// play exact words. Size: KQ_SOAK_CYCLES cycles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/soak/soak_support.h"

namespace {

using namespace soak;

// The settings of cycle i: every channel moves, gains stay audible.
Tone CycleTone(std::int64_t i) {
  const double step = static_cast<double>(i % 1000);
  return {{100.0 + step, 200.25 + step, 3000.5 - step, 40.0 + step / 4.0},
          {static_cast<double>(10 + i % 90), 50, static_cast<double>(100 - i % 90), 70},
          {static_cast<double>(20 + i % 80), 90}};
}

struct Sample {
  std::int64_t cycle;
  ProcessFigures figures;
};

TEST(StartStopStorm, HandlesAndMemoryReturnAndTheNextRunIsExact) {
  ASSERT_FALSE(CapturePath().empty()) << "KQ_CAPTURE is not set";
  const std::int64_t cycles = SizeFromEnv("KQ_SOAK_CYCLES", 1000);
  // Every so many cycles one waits for sound, so the storm mixes stops
  // during the prefill with stops of a stream that plays.
  constexpr std::int64_t PlayEvery = 50;
  const std::int64_t samples = 10;

  LoadedPlugin p = LoadAndRegister();
  ASSERT_NE(p.module, nullptr) << "the DLL did not load: " << GetLastError();
  Host.keepPublished = false;

  std::vector<Sample> series;
  std::int64_t played = 0, stalls = 0;
  const ULONGLONG t0 = GetTickCount64();
  for (std::int64_t i = 0; i < cycles; ++i) {
    ASSERT_TRUE(SendTone(p, CycleTone(i))) << "cycle " << i;
    if (i % PlayEvery == 0) {
      if (PlayAtLeast(p, 2 * FramesPerBuffer, 10000)) {
        ++played;
      } else {
        ++stalls;
      }
    } else {
      ASSERT_EQ(Exec(p, 1000), 1) << "cycle " << i;
    }
    ASSERT_EQ(StopWithin(p), 1) << "the stop of cycle " << i << " did not return";
    if (i == 0 || (i + 1) % std::max<std::int64_t>(1, cycles / samples) == 0 || i + 1 == cycles) {
      series.push_back({i + 1, SettledFigures()});
    }
  }
  const double seconds = (GetTickCount64() - t0) / 1000.0;
  EXPECT_EQ(stalls, 0) << "cycles that did not play";
  EXPECT_EQ(Host.badBlocks, 0);

  std::printf("start/stop storm: %lld cycles in %.1f s (%.2f ms per cycle), %lld of them played sound\n",
              static_cast<long long>(cycles), seconds, 1000.0 * seconds / cycles, static_cast<long long>(played));
  PrintFiguresHeading("after cycle");
  for (const Sample& s : series) PrintFigures(s.cycle, s.figures);
  ASSERT_GE(series.size(), 2u);
  const ProcessFigures& first = series.front().figures;
  const ProcessFigures& last = series.back().figures;
  // Wine reports neither GetProcessHandleCount nor PrivateUsage (both 0);
  // the system's handle table and the committed private pages are counted
  // instead, and they are what these checks hold to.
  // The audio system keeps a thread of its own between opens of a device,
  // whose handle comes and goes; a few handles of slack for it, none that
  // grows with the cycles.
  constexpr std::int64_t HandleSlack = 3;
  ASSERT_GE(first.handles, 0) << "the handle table is not available";
  EXPECT_LE(last.handles, first.handles + HandleSlack) << "handles grew over the storm";
  EXPECT_LE(last.handleCount, first.handleCount + HandleSlack) << "handles grew over the storm";
  // Committed memory: measured settled, it grows once while the process's
  // heaps reach their working size (64 KB here) and then stays put. Slack for
  // that once, and a tighter bound for the later cycles, where nothing may
  // grow with the count.
  constexpr std::int64_t Slack = 256 * 1024, LaterSlack = 64 * 1024;
  EXPECT_LE(last.committed, first.committed + Slack) << "committed memory grew over the storm";
  EXPECT_LE(last.committed, series[1].figures.committed + LaterSlack) << "committed memory grew with the cycles";
  EXPECT_LE(static_cast<std::int64_t>(last.privateUsage), static_cast<std::int64_t>(first.privateUsage) + Slack)
      << "committed memory grew over the storm";

  // One more run with new settings still plays exact words from count 0.
  const Tone after = {{523.25, 659.25, 783.75, 1046.5}, {80, 70, 60, 50}, {90, 100}};
  ASSERT_TRUE(SendTone(p, after));
  ASSERT_TRUE(PlayAtLeast(p, 16 * FramesPerBuffer, 20000));
  ASSERT_EQ(StopWithin(p), 1);
  Comparison c = CompareCaptureWithTone(after);
  std::printf("  run after the storm: %lld frames compared\n", static_cast<long long>(c.framesCompared));
  EXPECT_EQ(c.firstMismatch, -1) << "first different frame: " << c.firstMismatch;
  EXPECT_GE(c.framesCompared, 16 * FramesPerBuffer);
  EXPECT_TRUE(FreeLibrary(p.module));
}

}  // namespace
