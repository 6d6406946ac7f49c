// Settings changed while the real DLL plays: the host changes a frequency or
// a volume every millisecond (mute flags alone, so every counter equals the
// frame's position in the capture). The sound must never stall, and every
// buffer filled after the last change must equal FillBuffer's words for the
// final settings at that buffer's count. Size: KQ_SOAK_CHANGE_SECONDS.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>

#include "tests/soak/soak_support.h"

namespace {

using namespace soak;

// How many buffers past the one the device is consuming may already have been
// filled when a setting changes: the ring's four, one being filled, and what
// the audio system holds of the queued buffers.
constexpr std::int64_t MaxBuffersAhead = 8;

// Zero frames in a row that only the audio system makes: every channel
// sounds at 1 % of full scale or more, so the tone never rests this long.
constexpr std::int64_t MinGapFrames = 64;

TEST(LiveSettings, BuffersAfterTheLastChangeAreExact) {
  ASSERT_FALSE(CapturePath().empty()) << "KQ_CAPTURE is not set";
  const std::int64_t seconds = SizeFromEnv("KQ_SOAK_CHANGE_SECONDS", 10);

  LoadedPlugin p = LoadAndRegister();
  ASSERT_NE(p.module, nullptr) << "the DLL did not load: " << GetLastError();
  Host.keepPublished = false;

  Tone tone = {{300.0, 400.0, 500.0, 600.0}, {50, 50, 50, 50}, {100, 100}};
  ASSERT_TRUE(SendTone(p, tone));
  ASSERT_TRUE(PlayAtLeast(p, FramesPerBuffer, 10000)) << "playback did not begin";

  // One setting per change, in turn, to a new value: frequencies in quarter
  // hertz from 20 to 15,000 Hz, volumes 10-100 %, so that every change is
  // audible in the words and every value is exact in text and in binary.
  std::mt19937 rng(4242);
  auto below = [&](std::uint32_t n) { return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(rng); };
  double leastLead = 1e9;
  std::int64_t changes = 0, bytes = CaptureBytes(), lastBytes = bytes;
  const ULONGLONG t0 = GetTickCount64();
  const std::int64_t bytesAtFirstChange = bytes;
  ULONGLONG lastGrowth = t0, longestStill = 0, longestStillEnd = 0, now = t0;
  while ((now = GetTickCount64()) - t0 < static_cast<ULONGLONG>(seconds) * 1000) {
    const int which = static_cast<int>(changes % 10);
    std::int32_t id;
    double value;
    if (which < 4) {
      value = (80 + below(59921)) / 4.0;
      tone.freq[which] = value;
      id = FreqIds[which];
    } else if (which < 8) {
      value = 10 + below(91);
      tone.volume[which - 4] = value;
      id = VolumeIds[which - 4];
    } else {
      value = 10 + below(91);
      tone.master[which - 8] = value;
      id = MasterIds[which - 8];
    }
    ASSERT_EQ(Exec(p, id, NumberText(value).c_str()), 1);
    ++changes;
    if (changes % 16 == 0) {
      bytes = CaptureBytes();
      if (bytes != lastBytes) {
        if (now - lastGrowth > longestStill) {
          longestStill = now - lastGrowth;
          longestStillEnd = now - t0;
        }
        lastGrowth = now;
        lastBytes = bytes;
      }
      // The capture device consumes faster than real time and may pause
      // while it is ahead; a stall is audio falling behind the clock.
      const double lead = (bytes - bytesAtFirstChange) / double(BytesPerFrame) / FramesPerSecond - (now - t0) / 1000.0;
      leastLead = std::min(leastLead, lead);
      ASSERT_LT(now - lastGrowth, 5000u) << "the capture stopped growing";
    }
    Sleep(1);
  }
  const double changeSeconds = (GetTickCount64() - t0) / 1000.0;
  // Frames the device had consumed when the last change was made: the
  // buffers that hold them were filled before it.
  const std::int64_t atLastChange = CaptureBytes() / BytesPerFrame;
  const double audioPerSecond = (atLastChange - bytesAtFirstChange / BytesPerFrame) / FramesPerSecond / changeSeconds;
  constexpr std::int64_t BuffersAfter = 32;
  const bool grew = WaitForCapture((atLastChange + BuffersAfter * FramesPerBuffer) * BytesPerFrame, 20000);
  ASSERT_EQ(StopWithin(p), 1);
  ASSERT_TRUE(grew) << "the capture stopped growing after the last change";
  longestStill = std::max(longestStill, GetTickCount64() - lastGrowth);

  // The first buffer from which every later one is exact for the final
  // settings; the buffers before it were filled before the last change.
  // The audio system's silence while the device ran dry (see
  // CompareCaptureWithTone) comes out first, so that every frame's position
  // is its count again.
  std::vector<Gap> gaps;
  const std::vector<std::int16_t> words = CaptureWithoutGaps(MinGapFrames, gaps);
  std::int64_t gapFrames = 0, gapFramesBeforeLastChange = 0;
  for (const Gap& g : gaps) {
    gapFrames += g.length;
    if (g.frame < atLastChange) gapFramesBeforeLastChange += std::min(g.length, atLastChange - g.frame);
  }
  const std::int64_t firstCandidate = (atLastChange - gapFramesBeforeLastChange) / FramesPerBuffer;
  std::string pattern;  // one mark per buffer from the one playing at the last change: = exact, x not, p partial
  std::int64_t firstExact = -1, exactBuffers = 0, k = firstCandidate;
  for (std::size_t at = static_cast<std::size_t>(2 * firstCandidate * FramesPerBuffer); at < words.size();
       at += 2 * FramesPerBuffer, ++k) {
    const std::size_t n = std::min<std::size_t>(2 * FramesPerBuffer, words.size() - at);
    std::vector<std::int16_t> expected = ReferenceWords(tone, k * FramesPerBuffer, FramesPerBuffer);
    const bool exact = std::equal(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(n),
                                  words.begin() + static_cast<std::ptrdiff_t>(at));
    pattern += exact ? '=' : (n < 2u * FramesPerBuffer ? 'p' : 'x');
    if (exact) {
      if (firstExact < 0) firstExact = k;
      ++exactBuffers;
    } else {
      firstExact = -1;
      exactBuffers = 0;
    }
  }
  const std::int64_t lag = firstExact - firstCandidate;
  std::printf(
      "live settings: %lld changes in %.1f s (%.2f ms apart), longest wait without growth %llu ms "
      "(ending %llu ms into the changes), audio ahead of the clock by at least %.2f s, "
      "%.2f s of audio per second; "
      "%lld gaps of the device's own silence (%lld frames); "
      "%lld buffers after the last change exact, the first %lld buffers after the one playing\n",
      static_cast<long long>(changes), changeSeconds, 1000.0 * changeSeconds / changes, longestStill, longestStillEnd,
      leastLead, audioPerSecond, static_cast<long long>(gaps.size()), static_cast<long long>(gapFrames),
      static_cast<long long>(exactBuffers), static_cast<long long>(lag));
  EXPECT_GT(leastLead, -0.5) << "the sound fell behind real time";
  ASSERT_GE(firstExact, 0) << "the last buffers are not the final settings' words: " << pattern;
  EXPECT_EQ(k - firstExact, exactBuffers);
  EXPECT_GE(exactBuffers, BuffersAfter - MaxBuffersAhead);
  EXPECT_LE(lag, MaxBuffersAhead) << "the final settings were heard too late";
  EXPECT_TRUE(FreeLibrary(p.module));
}

}  // namespace
