#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_signals.h"
#include "tools/analysis.h"

namespace {

// Measures the written signal as one segment, or with detected segments.
AnalysisReport AnalyseSignal(const TestSignal& signal, const std::string& name,
                             const AnalysisSettings& settings = AnalysisSettings{}, bool detect = false) {
  const std::string path = WriteTestWav(signal, name);
  WavRecording wav;
  std::string error;
  EXPECT_TRUE(ReadWavRecording(path, wav, error)) << error;
  std::vector<SegmentSpan> spans;
  if (!detect) spans.push_back({0, signal.Frames});
  return AnalyseRecording(wav, path, spans, settings);
}

// Every expected tone is reported, strongest first, within 0.01 Hz and 0.1 dB,
// and no other tone is.
void ExpectTones(const SideReport& side, std::vector<TestTone> expected, const std::string& where) {
  std::sort(expected.begin(), expected.end(), [](const TestTone& a, const TestTone& b) { return a.Dbfs > b.Dbfs; });
  ASSERT_EQ(side.Tones.size(), expected.size()) << where;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(side.Tones[i].FrequencyHz, expected[i].Hz, 0.01) << where << " tone " << i;
    EXPECT_NEAR(side.Tones[i].LevelDbfs, expected[i].Dbfs, 0.1) << where << " tone " << i;
  }
}

struct ToneCase {
  const char* Name;
  std::vector<TestTone> Left;
  std::vector<TestTone> Right;
};

TEST(ToneMeasurement, FindsEachToneWithinAHundredthOfAHertzAndATenthOfADecibel) {
  const ToneCase cases[] = {
      {"two_tones_per_side", {{1000.0, -14.0}, {3150.37, -40.0, 1.0}}, {{440.25, -20.0, 2.0}, {12345.67, -74.0, 0.5}}},
      // The quietest tone is one word of amplitude; dither keeps its level unbiased.
      {"quiet_tones", {{250.5, -90.0}, {7000.12, -60.0, 0.3}}, {{16000.01, -80.0, 1.1}}},
      // Ten hertz apart (30 bins at 3 s), and tones near both band edges.
      {"close_and_edge_tones", {{1000.0, -20.0}, {1010.0, -23.0, 0.7}}, {{20000.0, -30.0}, {60.5, -30.0, 2.5}}},
  };
  for (const ToneCase& c : cases) {
    TestSignal s;
    s.Spans = {{0, c.Left, c.Right}};
    const AnalysisReport r = AnalyseSignal(s, std::string(c.Name) + ".wav");
    ASSERT_EQ(r.Segments.size(), 1u) << c.Name;
    ExpectTones(r.Segments[0].Side[0], c.Left, std::string(c.Name) + " left");
    ExpectTones(r.Segments[0].Side[1], c.Right, std::string(c.Name) + " right");
  }
}

// A side without a tone: silent, or held at a constant (a channel whose
// frequency is not a number holds -1.0, mixed to -6553 words).
TEST(ToneMeasurement, SideWithoutToneHasNoToneAndNoFigures) {
  TestSignal s;
  s.Dither = false;
  // One generator channel at full gain peaks at 6553 words.
  s.Spans = {{0, {{1000.0, 20.0 * std::log10(6553.0 / 32767.0)}}, {}}};
  for (const std::int16_t held : {std::int16_t{0}, std::int16_t{-6553}}) {
    WavRecording wav;
    wav.SampleRate = s.Rate;
    wav.Left = SynthesiseSide(s, 0);
    wav.Right.assign(wav.Left.size(), held);
    const AnalysisReport r = AnalyseRecording(wav, "held", {}, AnalysisSettings{});
    ASSERT_EQ(r.Segments.size(), 1u) << held;
    const SideReport& right = r.Segments[0].Side[1];
    EXPECT_TRUE(right.Tones.empty()) << held;
    EXPECT_TRUE(right.Spurs.empty()) << held;
    EXPECT_FALSE(right.HasSfdr) << held;
    EXPECT_FALSE(right.HasThdN) << held;
    EXPECT_EQ(right.PeakWord, -held) << held;
    EXPECT_EQ(right.DcWord, held) << held;
    EXPECT_EQ(r.Segments[0].Side[0].PeakWord, 6553);
    EXPECT_NEAR(r.Segments[0].Side[0].DcWord, 0.0, 0.01);
  }
}

// A spur 80 dB below the main tone: as a harmonic it is a spur whatever the
// tone count; elsewhere it is a spur once only one tone is expected, or once
// tones are limited to a range below the strongest.
TEST(ToneMeasurement, ReportsKnownSfdrAndThdN) {
  struct SfdrCase {
    const char* Name;
    double SpurHz;
    int MaxTones;
    double ToneRangeDb;
  };
  const SfdrCase cases[] = {
      {"third_harmonic", 2991.0, 2, 0.0}, {"unrelated_spur", 5123.4, 1, 0.0}, {"outside_tone_range", 5123.4, 2, 70.0}};
  for (const SfdrCase& c : cases) {
    TestSignal s;
    s.Spans = {{0, {{997.0, -6.0}, {c.SpurHz, -86.0, 0.4}}, {{997.0, -14.0}}}};
    AnalysisSettings settings;
    settings.MaxTones = c.MaxTones;
    settings.ToneRangeDb = c.ToneRangeDb;
    const AnalysisReport r = AnalyseSignal(s, std::string(c.Name) + ".wav", settings);
    ASSERT_EQ(r.Segments.size(), 1u) << c.Name;
    const SideReport& left = r.Segments[0].Side[0];
    ExpectTones(left, {{997.0, -6.0}}, c.Name);
    ASSERT_FALSE(left.Spurs.empty()) << c.Name;
    EXPECT_NEAR(left.Spurs[0].FrequencyHz, c.SpurHz, 0.01) << c.Name;
    ASSERT_TRUE(left.HasSfdr) << c.Name;
    EXPECT_NEAR(left.SfdrDb, 80.0, 1.0) << c.Name;
    // Spur (-80 dBc) plus dither and rounding noise (1/4 word^2, -87.3 dBc).
    ASSERT_TRUE(left.HasThdN) << c.Name;
    EXPECT_NEAR(left.ThdNDb, -79.3, 0.5) << c.Name;
    // Clean tone: only the noise, 1/4 word^2 against a -14 dBFS sine.
    const SideReport& right = r.Segments[0].Side[1];
    ASSERT_TRUE(right.HasThdN) << c.Name;
    EXPECT_NEAR(right.ThdNDb, -79.35, 0.5) << c.Name;
    EXPECT_TRUE(right.Spurs.empty()) << c.Name;
  }
}

TEST(ToneMeasurement, ClippedToneHasLargeThdNAndFullScalePeak) {
  TestSignal s;
  s.Dither = false;
  // 1.5 times full scale, clipped by the 16-bit range.
  s.Spans = {{0, {{1000.0, 20.0 * std::log10(1.5)}}, {{1000.0, -6.0}}}};
  const AnalysisReport r = AnalyseSignal(s, "clipped.wav");
  ASSERT_EQ(r.Segments.size(), 1u);
  const SideReport& left = r.Segments[0].Side[0];
  ASSERT_EQ(left.Tones.size(), 1u) << "harmonics of a clipped tone are spurs, not tones";
  EXPECT_NEAR(left.Tones[0].FrequencyHz, 1000.0, 0.01);
  EXPECT_EQ(left.PeakWord, 32768);
  EXPECT_EQ(left.MinWord, -32768);
  EXPECT_EQ(left.MaxWord, 32767);
  ASSERT_TRUE(left.HasThdN);
  EXPECT_GT(left.ThdNDb, -25.0);
  ASSERT_FALSE(left.Spurs.empty());
  EXPECT_NEAR(left.Spurs[0].FrequencyHz, 3000.0, 0.01);
  EXPECT_LT(left.SfdrDb, 25.0);
  const SideReport& right = r.Segments[0].Side[1];
  EXPECT_EQ(right.PeakWord, 16422);  // 32767 * 10^(-6/20) = 16422.5, never reached on a sample
  ASSERT_TRUE(right.HasThdN);
  EXPECT_LT(right.ThdNDb, -80.0);
}

// A quieter tone on the 5th harmonic of a louder one (200 and 1000 Hz) looks
// like distortion; told that both were played on a side, the analyser reports
// both there, and the other side, told nothing, keeps the rule.
TEST(ToneMeasurement, ExpectedToneOnAHarmonicStaysATone) {
  TestSignal s;
  const std::vector<TestTone> side = {{200.0, -20.36}, {1000.0, -40.0, 0.4}};
  s.Spans = {{0, side, side}};
  AnalysisSettings told;
  told.ExpectedHz[0] = {200.0, 1000.0};
  const AnalysisReport r = AnalyseSignal(s, "harmonic_told.wav", told);
  ASSERT_EQ(r.Segments.size(), 1u);
  ExpectTones(r.Segments[0].Side[0], side, "left, told");
  ExpectTones(r.Segments[0].Side[1], {side[0]}, "right, not told");
}

TEST(ToneMeasurement, TruncatedQuietTonesKeepTheirQuantisationErrorAsSpurs) {
  // The generator's own conversion: gain 0.001 * mix 0.2 * 32767 peaks at
  // 6.55 words (-74 dBFS), truncated toward zero; its error lies on the
  // tone's harmonics and must not pass for a second tone.
  const double quiet = 20.0 * std::log10(0.001 * 0.2), full = 20.0 * std::log10(0.2);
  TestSignal s;
  s.Truncate = true;
  s.Spans = {{0, {{440.0, quiet}}, {{1000.0, full}, {440.0, quiet}}}};
  const AnalysisReport r = AnalyseSignal(s, "truncated.wav");
  ASSERT_EQ(r.Segments.size(), 1u);
  const SideReport& left = r.Segments[0].Side[0];
  ASSERT_EQ(left.Tones.size(), 1u);
  EXPECT_NEAR(left.Tones[0].FrequencyHz, 440.0, 0.01);
  EXPECT_NEAR(left.Tones[0].LevelDbfs, quiet, 1.5);  // truncation takes up to about a word off the peak
  EXPECT_EQ(left.PeakWord, 6);
  const SideReport& right = r.Segments[0].Side[1];
  ASSERT_EQ(right.Tones.size(), 2u);
  EXPECT_NEAR(right.Tones[0].FrequencyHz, 1000.0, 0.01);
  EXPECT_NEAR(right.Tones[1].FrequencyHz, 440.0, 0.01);
}

struct ChangeCase {
  const char* Name;
  std::vector<TestSpan> Spans;
};

TEST(Segmentation, FindsStepChangesOnTheSampleAndMeasuresEachSegment) {
  const ChangeCase cases[] = {
      {"frequency_and_level_step", {{0, {{1000.0, -20.0}}, {{500.0, -20.0}}}, {65536, {{1200.0, -20.0}}, {{500.0, -26.0}}}}},
      {"start_then_quiet_level_step",
       {{0, {}, {}},
        {45056, {{440.0, -14.0}, {12000.0, -74.0}}, {{660.0, -74.0}}},
        {90112, {{440.0, -14.0}, {12000.0, -68.0}}, {{660.0, -74.0}}}}},
  };
  for (const ChangeCase& c : cases) {
    TestSignal s;
    s.Spans = c.Spans;
    const AnalysisReport r = AnalyseSignal(s, std::string(c.Name) + ".wav", AnalysisSettings{}, true);
    ASSERT_EQ(r.Segments.size(), c.Spans.size()) << c.Name;
    for (std::size_t i = 0; i < c.Spans.size(); ++i) {
      const std::string where = std::string(c.Name) + " segment " + std::to_string(i);
      EXPECT_NEAR(static_cast<double>(r.Segments[i].Span.Start), static_cast<double>(c.Spans[i].From), 2.0) << where;
      ExpectTones(r.Segments[i].Side[0], c.Spans[i].Left, where + " left");
      ExpectTones(r.Segments[i].Side[1], c.Spans[i].Right, where + " right");
    }
    EXPECT_EQ(r.Segments.back().Span.End, s.Frames) << c.Name;
  }
}

TEST(Segmentation, SteadyTonesStayOneSegment) {
  // Nothing changes, so one segment: both generators on one side 100 Hz apart
  // (just outside one short-time main lobe), or 5 Hz apart, beating inside
  // every short-time frame; a quiet and a loud tone on the other side.
  const ToneCase cases[] = {
      {"hundred_hz_apart", {{1000.0, -20.0}, {1100.0, -23.0, 1.0}}, {{5000.0, -74.0}, {5050.0, -14.0}}},
      {"beating_5_hz", {{1000.0, -20.0}, {1005.0, -23.0, 1.0}}, {{440.0, -14.0}, {445.0, -14.0, 2.0}}},
  };
  for (const ToneCase& c : cases) {
    TestSignal s;
    s.Spans = {{0, c.Left, c.Right}};
    const AnalysisReport r = AnalyseSignal(s, std::string(c.Name) + ".wav", AnalysisSettings{}, true);
    ASSERT_EQ(r.Segments.size(), 1u) << c.Name;
    ExpectTones(r.Segments[0].Side[0], c.Left, std::string(c.Name) + " left");
    ExpectTones(r.Segments[0].Side[1], c.Right, std::string(c.Name) + " right");
  }
}

TEST(Segmentation, GivenSpansAreAnalysedAsGiven) {
  TestSignal s;
  s.Spans = {{0, {{1000.0, -20.0}}, {}}, {66150, {{2000.0, -30.0}}, {}}};
  const std::string path = WriteTestWav(s, "given_spans.wav");
  WavRecording wav;
  std::string error;
  ASSERT_TRUE(ReadWavRecording(path, wav, error)) << error;
  SegmentSpan first, second;
  ASSERT_TRUE(ParseSegmentSpan("0.25:1.25", wav, first, error)) << error;
  ASSERT_TRUE(ParseSegmentSpan("2:3", wav, second, error)) << error;
  EXPECT_EQ(first.Start, 11025);
  EXPECT_EQ(first.End, 55125);
  const AnalysisReport r = AnalyseRecording(wav, path, {first, second}, AnalysisSettings{});
  ASSERT_EQ(r.Segments.size(), 2u);
  ExpectTones(r.Segments[0].Side[0], {{1000.0, -20.0}}, "first");
  ExpectTones(r.Segments[1].Side[0], {{2000.0, -30.0}}, "second");
}

TEST(Segmentation, RejectsBadSpanTexts) {
  WavRecording wav;
  wav.SampleRate = 44100.0;
  wav.Left.assign(44100 * 2, 0);
  wav.Right.assign(44100 * 2, 0);
  for (const char* text : {"", "1", "1:", ":2", "a:b", "1:2:3", "2:1", "1:1", "-1:1", "0:2.5", "nan:1", "0:inf", "1x:2"}) {
    SegmentSpan span;
    std::string error;
    EXPECT_FALSE(ParseSegmentSpan(text, wav, span, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

TEST(Segmentation, EmptyAndTinyRecordingsGiveDefinedResults) {
  WavRecording wav;
  wav.SampleRate = 44100.0;
  EXPECT_TRUE(AnalyseRecording(wav, "empty", {}, AnalysisSettings{}).Segments.empty());
  wav.Left = {100, -100, 5};
  wav.Right = {0, 0, 0};
  const AnalysisReport r = AnalyseRecording(wav, "tiny", {}, AnalysisSettings{});
  ASSERT_EQ(r.Segments.size(), 1u);
  EXPECT_EQ(r.Segments[0].Side[0].PeakWord, 100);
  EXPECT_TRUE(r.Segments[0].Side[0].Tones.empty());
}

}  // namespace
