// The analyser on the generator's own synthesis: buffers of 2048 frames made
// by FillBuffer, with a script-like change of settings between two buffers.
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "tests/support/channels.h"
#include "tools/analysis.h"

namespace {

constexpr std::int32_t kBufferFrames = 2048;

void Render(WavRecording& wav, int buffers) {
  std::vector<std::int16_t> buf(2 * kBufferFrames);
  for (int b = 0; b < buffers; ++b) {
    FillBuffer(buf.data(), kBufferFrames);
    for (std::int32_t i = 0; i < kBufferFrames; ++i) {
      wav.Left.push_back(buf[2 * static_cast<std::size_t>(i)]);
      wav.Right.push_back(buf[2 * static_cast<std::size_t>(i) + 1]);
    }
  }
}

double Dbfs(double gain) { return 20.0 * std::log10(gain * 0.2); }

TEST(EngineRender, ToneChangesAreFoundOnTheBufferEdgeAndMeasured) {
  LoadDefaults();
  ResetCounters();
  GeneratorStateRecord& s = GeneratorState;
  // Left: Generator 1 at full gain, Generator 2 at its load-time gain 0.001.
  SetChannel(Gen1Left, 1000.0, 1.0);
  Store(s.Gen2FreqLeft, 440.25);
  // Right: Generator 1 alone at half gain.
  SetChannel(Gen1Right, 300.0, 0.5);

  WavRecording wav;
  wav.SampleRate = 44100.0;
  Render(wav, 32);
  Store(s.Gen1FreqLeft, 1500.0);
  Store(s.Gen1VolumeRight, 0.25);
  Render(wav, 32);

  const AnalysisReport r = AnalyseRecording(wav, "engine", {}, AnalysisSettings{});
  ASSERT_EQ(r.Segments.size(), 2u);
  EXPECT_NEAR(static_cast<double>(r.Segments[1].Span.Start), 32.0 * kBufferFrames, 2.0);

  const double loudLeft[2] = {1000.0, 1500.0}, rightGain[2] = {0.5, 0.25};
  for (int seg = 0; seg < 2; ++seg) {
    const SideReport& left = r.Segments[static_cast<std::size_t>(seg)].Side[0];
    ASSERT_EQ(left.Tones.size(), 2u) << "segment " << seg;
    EXPECT_NEAR(left.Tones[0].FrequencyHz, loudLeft[seg], 0.01);
    EXPECT_NEAR(left.Tones[0].LevelDbfs, Dbfs(1.0), 0.1);
    EXPECT_NEAR(left.Tones[1].FrequencyHz, 440.25, 0.01);
    // 6.55 words, truncated toward zero next to a loud tone.
    EXPECT_NEAR(left.Tones[1].LevelDbfs, Dbfs(0.001), 0.25);
    EXPECT_LE(left.PeakWord, 13106);

    const SideReport& right = r.Segments[static_cast<std::size_t>(seg)].Side[1];
    ASSERT_EQ(right.Tones.size(), 1u) << "segment " << seg;
    EXPECT_NEAR(right.Tones[0].FrequencyHz, 300.0, 0.01);
    EXPECT_NEAR(right.Tones[0].LevelDbfs, Dbfs(rightGain[seg]), 0.1);
    // Truncation's error is far below the tone.
    ASSERT_TRUE(right.HasThdN);
    EXPECT_LT(right.ThdNDb, -60.0);
  }
}

}  // namespace
