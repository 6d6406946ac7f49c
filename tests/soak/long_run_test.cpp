// A long run of the real DLL: all four channels sounding at unrelated
// frequencies, and every word the device consumed equal to FillBuffer's word
// for those settings from count 0. Size: KQ_SOAK_LONG_SECONDS of audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "tests/soak/soak_support.h"

namespace {

using namespace soak;

// Unrelated frequencies (no common period within the run), both generators
// and both sides audible, none of the gains at full scale or zero.
constexpr Tone LongRunTone = {{261.625, 1234.5, 97.25, 4999.75}, {90, 75, 60, 85}, {100, 80}};

TEST(LongRun, EveryCapturedWordEqualsTheSynthesis) {
  ASSERT_FALSE(CapturePath().empty()) << "KQ_CAPTURE is not set";
  const std::int64_t seconds = SizeFromEnv("KQ_SOAK_LONG_SECONDS", 40);
  const std::int64_t targetFrames = static_cast<std::int64_t>(seconds * FramesPerSecond);

  LoadedPlugin p = LoadAndRegister();
  ASSERT_NE(p.module, nullptr) << "the DLL did not load: " << GetLastError();
  ASSERT_TRUE(SendTone(p, LongRunTone));

  // The device may consume in real time or faster; a stall (no growth for
  // 5 s) ends the wait early, and the whole wait is bounded by the real time
  // of the audio plus a margin. The capture is let run a little past the
  // target, for the device's own silence if it ran dry (see
  // CompareCaptureWithTone). A stall is audio falling behind the clock from
  // the first word on; a device faster than real time may pause while ahead.
  const std::int64_t captureFrames = targetFrames + targetFrames / 100 + static_cast<std::int64_t>(FramesPerSecond);
  ResetCapture();
  const ULONGLONG t0 = GetTickCount64();
  ASSERT_EQ(Exec(p, 1000), 1);
  const ULONGLONG deadline = t0 + static_cast<ULONGLONG>(seconds) * 1000 * 101 / 100 + 30000;
  std::int64_t bytes = 0, lastBytes = 0;
  ULONGLONG firstWord = 0, lastGrowth = t0, longestStill = 0;
  double leastLead = 1e9;
  for (;;) {
    bytes = std::max<std::int64_t>(CaptureBytes(), 0);
    const ULONGLONG now = GetTickCount64();
    if (bytes != lastBytes) {
      if (firstWord == 0) firstWord = now;
      longestStill = std::max(longestStill, now - lastGrowth);
      lastGrowth = now;
      lastBytes = bytes;
    }
    if (firstWord != 0) {
      leastLead = std::min(leastLead, bytes / double(BytesPerFrame) / FramesPerSecond - (now - firstWord) / 1000.0);
    }
    if (bytes >= captureFrames * BytesPerFrame || now > deadline || now - lastGrowth > 5000) break;
    Sleep(50);
  }
  const ULONGLONG playedMs = GetTickCount64() - t0;
  ASSERT_EQ(StopWithin(p), 1) << "the stop did not return";
  ASSERT_GE(bytes, captureFrames * BytesPerFrame)
      << "the capture reached only " << bytes << " bytes in " << playedMs << " ms";
  EXPECT_GT(leastLead, -0.5) << "the sound fell behind real time";

  Comparison c = CompareCaptureWithTone(LongRunTone);
  std::printf(
      "long run: %lld frames compared (%.1f s of audio) in %.1f s, %lld frames of reset silence left out, "
      "%lld gaps of the device's own silence (%lld frames), longest wait without growth %llu ms, "
      "audio ahead of the clock by at least %.2f s\n",
      static_cast<long long>(c.framesCompared), c.framesCompared / FramesPerSecond, playedMs / 1000.0,
      static_cast<long long>(c.resetSilence), static_cast<long long>(c.gaps), static_cast<long long>(c.gapFrames),
      longestStill, leastLead);
  EXPECT_EQ(c.firstMismatch, -1) << "first different frame: " << c.firstMismatch << " of the capture, where the "
                                 << "synthesis had reached count " << c.mismatchCount;
  EXPECT_GE(c.framesCompared, targetFrames);
  EXPECT_TRUE(FreeLibrary(p.module));
}

}  // namespace
