#include <cmath>
#include <filesystem>
#include <random>
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

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += line + "\n";
  return all;
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
// frequency is not a number holds -1.0, mixed to -6553 words; a positive
// hold has no negative word, so its minimum is the hold itself).
TEST(ToneMeasurement, SideWithoutToneHasNoToneAndNoFigures) {
  TestSignal s;
  s.Dither = false;
  // One generator channel at full gain peaks at 6553 words.
  s.Spans = {{0, {{1000.0, 20.0 * std::log10(6553.0 / 32767.0)}}, {}}};
  for (const std::int16_t held : {std::int16_t{0}, std::int16_t{-6553}, std::int16_t{5}}) {
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
    EXPECT_EQ(right.PeakWord, std::abs(held)) << held;
    EXPECT_EQ(right.MinWord, held) << held;
    EXPECT_EQ(right.MaxWord, held) << held;
    EXPECT_EQ(right.DcWord, held) << held;
    EXPECT_EQ(Joined(r.Warnings), "") << held;
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
      {"frequency_and_level_step",
       {{0, {{1000.0, -20.0}}, {{500.0, -20.0}}}, {65536, {{1200.0, -20.0}}, {{500.0, -26.0}}}}},
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
  // Seconds round to the nearest frame: 0.7 s is 30869.99999... frames.
  const struct {
    const char* Text;
    std::int64_t Start, End;
  } spans[] = {
      {"0.25:1.25", 11025, 55125}, {"2:3", 88200, 132300}, {"0.1:0.7", 4410, 30870}, {"1:1.00002", 44100, 44101}};
  for (const auto& c : spans) {
    SegmentSpan span;
    ASSERT_TRUE(ParseSegmentSpan(c.Text, wav, span, error)) << c.Text << ": " << error;
    EXPECT_EQ(span.Start, c.Start) << c.Text;
    EXPECT_EQ(span.End, c.End) << c.Text;
  }
  SegmentSpan first, second;
  ASSERT_TRUE(ParseSegmentSpan("0.25:1.25", wav, first, error));
  ASSERT_TRUE(ParseSegmentSpan("2:3", wav, second, error));
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
  const struct {
    const char* Text;
    const char* Reason;
  } cases[] = {
      {"", "is not START:END"},
      {"1", "is not START:END"},
      {"1:2:3", "is not START:END"},
      {"1:", "is not a time"},
      {":2", "is not a time"},
      {"a:b", "is not a time"},
      {"-1:1", "is not a time"},
      {"nan:1", "is not a time"},
      {"0:inf", "is not a time"},
      {"1x:2", "is not a time"},
      {"2:1", "ends before it starts"},
      {"1:1", "ends where it starts"},
      // A span that rounds to no frame is too short, not reversed.
      {"1:1.00001", "is shorter than one frame"},
      {"0:2.5", "goes beyond the recording's end"},
  };
  for (const auto& c : cases) {
    SegmentSpan span;
    std::string error;
    EXPECT_FALSE(ParseSegmentSpan(c.Text, wav, span, error)) << c.Text;
    EXPECT_NE(error.find(c.Reason), std::string::npos) << c.Text << ": " << error;
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
  EXPECT_EQ(r.Segments[0].Side[0].MinWord, -100);
  EXPECT_TRUE(r.Segments[0].Side[0].Tones.empty());
  ASSERT_EQ(r.Warnings.size(), 1u) << Joined(r.Warnings);
  EXPECT_NE(r.Warnings[0].find("only 3 frames, too short for a spectrum"), std::string::npos) << r.Warnings[0];
}

// Undithered tones checked against the exact spectrum of their own period,
// within the accuracy tools/README.md states: a quantisation line of a tone,
// however close to the tone's level, is a spur, and a single tone is one
// tone (97.3 Hz at -60 dBFS once listed its 201st harmonic, an error line at
// -112 dBFS, as a second tone).
TEST(Classification, QuantisedTonesAreOneToneWithTheirExactFigures) {
  struct Case {
    const char* Name;
    double Hz, Dbfs;
    bool Truncate;
    std::int64_t Period, Line;  // the waveform's period in samples; the tone's line in it
    bool LineAboveFloor;        // SFDR is against a line well above the noise floor
  };
  const Case cases[] = {
      {"1000 Hz -90 dBFS truncated", 1000.0, -90.0, true, 441, 10, true},
      {"1000 Hz -90 dBFS rounded", 1000.0, -90.0, false, 441, 10, true},
      {"20 Hz -90 dBFS truncated", 20.0, -90.0, true, 2205, 1, true},
      {"20 kHz -90 dBFS rounded", 20000.0, -90.0, false, 441, 200, true},
      {"97.3 Hz -60 dBFS truncated", 97.3, -60.0, true, 63000, 139, true},
      {"97.3 Hz -60 dBFS rounded", 97.3, -60.0, false, 63000, 139, true},
      {"97.3 Hz -30 dBFS rounded", 97.3, -30.0, false, 63000, 139, false},
      {"1000 Hz -14 dBFS truncated", 1000.0, -14.0, true, 441, 10, true},
  };
  for (const Case& c : cases) {
    TestSignal s;
    s.Dither = false;
    s.Truncate = c.Truncate;
    s.Spans = {{0, {{c.Hz, c.Dbfs}}, {{c.Hz, c.Dbfs, 0.7}}}};
    WavRecording wav;
    wav.SampleRate = s.Rate;
    for (int side = 0; side < 2; ++side) (side == 0 ? wav.Left : wav.Right) = SynthesiseSide(s, side);
    const AnalysisReport r = AnalyseRecording(wav, c.Name, {{0, s.Frames}}, AnalysisSettings{});
    ASSERT_EQ(r.Segments.size(), 1u) << c.Name;
    EXPECT_EQ(Joined(r.Warnings), "") << c.Name;
    for (int side = 0; side < 2; ++side) {
      const std::string where = std::string(c.Name) + (side == 0 ? " left" : " right");
      const LineTruth truth = PeriodicTruth(side == 0 ? wav.Left : wav.Right, c.Period, c.Line);
      const SideReport& got = r.Segments[0].Side[side];
      ASSERT_EQ(got.Tones.size(), 1u) << where << ": second tone at " << got.Tones.back().FrequencyHz;
      EXPECT_NEAR(got.Tones[0].FrequencyHz, c.Hz, 1e-4) << where;
      EXPECT_NEAR(got.Tones[0].LevelDbfs, truth.LevelDbfs, 0.001) << where;
      ASSERT_TRUE(got.HasThdN && got.HasSfdr) << where;
      EXPECT_NEAR(got.ThdNDb, truth.ThdNDb, 0.02) << where;
      if (c.LineAboveFloor) {
        EXPECT_NEAR(got.SfdrDb, truth.SfdrDb, 0.1) << where;
      }
    }
  }
}

// The level convention itself: an undithered full-scale sine (peak 32767) is
// 0 dBFS to a tenth of a thousandth of a decibel, finer than the 0.00027 dB
// that a convention of 32768 would move it.
TEST(Classification, FullScaleSineIsZeroDbfs) {
  TestSignal s;
  s.Dither = false;
  s.Spans = {{0, {{997.3, 0.0, 0.3}}, {{1000.0, 0.0, 1.0}}}};
  const AnalysisReport r = AnalyseSignal(s, "full_scale.wav");
  ASSERT_EQ(r.Segments.size(), 1u);
  for (int side = 0; side < 2; ++side) {
    const SideReport& got = r.Segments[0].Side[side];
    ASSERT_EQ(got.Tones.size(), 1u) << side;
    EXPECT_NEAR(got.Tones[0].LevelDbfs, 0.0, 1e-4) << side;
    EXPECT_EQ(got.MaxWord, 32767) << side;
  }
}

// A sampled square wave is one tone and its harmonics: every line sits where
// the sampled wave puts it (sin(pi/q) / sin(pi k/q) of the fundamental, not
// 1/k), which the harmonic rule allows for. Figures against the analytic
// spectrum of a square of q samples, +-A words.
TEST(Classification, SampledSquareWaveIsOneToneAndItsHarmonics) {
  const struct {
    std::int64_t Period;
    double Amplitude;
  } cases[] = {{44, 32767.0}, {100, 16384.0}};
  for (const auto& c : cases) {
    const std::string name = "square of " + std::to_string(c.Period) + " samples";
    WavRecording wav;
    wav.SampleRate = 44100.0;
    for (std::int64_t n = 0; n < 3 * 44100; ++n)
      wav.Left.push_back(static_cast<std::int16_t>(n % c.Period < c.Period / 2 ? c.Amplitude : -c.Amplitude));
    wav.Right.assign(wav.Left.size(), 0);
    const AnalysisReport r = AnalyseRecording(wav, name, {}, AnalysisSettings{});
    ASSERT_EQ(r.Segments.size(), 1u) << name;
    EXPECT_EQ(Joined(r.Warnings), "") << name;
    const SideReport& got = r.Segments[0].Side[0];
    const double q = static_cast<double>(c.Period);
    const double a1 = 4.0 * c.Amplitude / (q * std::sin(M_PI / q));
    ASSERT_EQ(got.Tones.size(), 1u) << name << ": second tone at " << got.Tones.back().FrequencyHz;
    EXPECT_NEAR(got.Tones[0].FrequencyHz, 44100.0 / q, 1e-4) << name;
    EXPECT_NEAR(got.Tones[0].LevelDbfs, 20.0 * std::log10(a1 / 32767.0), 0.001) << name;
    ASSERT_FALSE(got.Spurs.empty()) << name;
    EXPECT_NEAR(got.Spurs[0].FrequencyHz, 3.0 * 44100.0 / q, 1e-4) << name;
    EXPECT_NEAR(got.SfdrDb, 20.0 * std::log10(std::sin(3.0 * M_PI / q) / std::sin(M_PI / q)), 0.1) << name;
    const double p1 = a1 * a1 / 2.0;
    EXPECT_NEAR(got.ThdNDb, 10.0 * std::log10((c.Amplitude * c.Amplitude - p1) / p1), 0.02) << name;
  }
}

// The harmonic rule at its stated margin, max(9, s - 1) dB with s what a
// sampled square of the tone's period puts on that harmonic: a component a
// quarter of a decibel further down is a spur, a quarter short of it a tone.
// Beyond s = 20 dB the tone's own 2nd or 3rd harmonic must be there too, at
// least as loud.
TEST(Classification, HarmonicRuleHoldsAtItsThreshold) {
  struct Case {
    const char* Name;
    double ToneHz;
    int K;
    double MarginDb;  // from the rule, computed by hand
    bool WithThird;   // the tone's 3rd harmonic at -15 dBc as well
  };
  const Case cases[] = {
      {"2nd of 1234.5 Hz (no short period): the 9 dB floor", 1234.5, 2, 9.0, false},
      {"7th of 1234.5 Hz: 20 log10(7) - 1", 1234.5, 7, 15.902, false},
      {"5th of 1000 Hz (441 samples)", 1000.0, 5, 12.978, false},
      {"20th of 900 Hz (49 samples): sampled, not 25.0", 900.0, 20, 22.500, true},
  };
  for (const Case& c : cases) {
    for (const double offset : {0.25, -0.25}) {
      const double hz = std::fmod(c.K * c.ToneHz, 44100.0);
      const double level = -20.0 - c.MarginDb - offset;
      std::vector<TestTone> tones = {{c.ToneHz, -20.0}, {hz > 22050.0 ? 44100.0 - hz : hz, level, 0.4}};
      if (c.WithThird) tones.push_back({3.0 * c.ToneHz, -35.0, 1.3});
      TestSignal s;
      s.Spans = {{0, tones, {}}};
      AnalysisSettings settings;
      settings.MaxTones = 3;
      const std::string name = std::string(c.Name) + (offset > 0 ? " past the margin" : " short of it");
      const AnalysisReport r = AnalyseSignal(s, "threshold.wav", settings);
      ASSERT_EQ(r.Segments.size(), 1u) << name;
      const SideReport& got = r.Segments[0].Side[0];
      bool isTone = false;
      for (const SpectralComponent& t : got.Tones) isTone = isTone || std::fabs(t.FrequencyHz - tones[1].Hz) < 0.01;
      EXPECT_EQ(isTone, offset < 0) << name;
    }
  }
  // Without the low harmonics, a line on a high one stays a tone however far down.
  TestSignal s;
  s.Spans = {{0, {{900.0, -20.0}, {18000.0, -50.0, 0.4}}, {}}};
  const AnalysisReport r = AnalyseSignal(s, "high_harmonic.wav");
  ASSERT_EQ(r.Segments.size(), 1u);
  ExpectTones(r.Segments[0].Side[0], {{900.0, -20.0}, {18000.0, -50.0}}, "20th of 900 Hz alone");
}

// A further tone needs evidence: within 90 dB of the strongest, or a
// frequency the caller says was played.
TEST(Classification, AFurtherToneNeedsEvidence) {
  const struct {
    const char* Name;
    double Dbfs;
    bool Expected;
    bool IsTone;
  } cases[] = {
      {"60 dB below", -74.0, false, true},
      {"100 dB below", -114.0, false, false},
      {"100 dB below, expected", -114.0, true, true},
  };
  for (const auto& c : cases) {
    TestSignal s;
    s.Spans = {{0, {{1000.0, -14.0}, {5123.4, c.Dbfs, 0.4}}, {}}};
    AnalysisSettings settings;
    if (c.Expected) settings.ExpectedHz[0] = {1000.0, 5123.4};
    const AnalysisReport r = AnalyseSignal(s, "evidence.wav", settings);
    ASSERT_EQ(r.Segments.size(), 1u) << c.Name;
    const SideReport& got = r.Segments[0].Side[0];
    ASSERT_EQ(got.Tones.size(), c.IsTone ? 2u : 1u) << c.Name;
    if (!c.IsTone) {
      ASSERT_FALSE(got.Spurs.empty()) << c.Name;
      EXPECT_NEAR(got.Spurs[0].FrequencyHz, 5123.4, 0.01) << c.Name;
      EXPECT_NEAR(got.SfdrDb, 100.0, 1.0) << c.Name;
    }
  }
}

// Figures that cannot be trusted are said, with what would measure them.
TEST(Warnings, SayWhichFiguresCannotBeTrusted) {
  struct Case {
    const char* Name;
    std::int64_t Frames;
    std::vector<TestTone> Left;
    std::vector<std::string> Said;  // in one warning, in this order
  };
  const Case cases[] = {
      // 2.67 Hz is the resolution of 3 s; 8 bins of 2 Hz need 4 s.
      {"tones 2 Hz apart",
       3 * 44100,
       {{1000.0, -20.0}, {1002.0, -20.0, 0.5}},
       {"left: tones about 2.00 Hz apart", "near 1000.00 and 1002.00 Hz", "a steady stretch of 4.00 s"}},
      {"tones 1 Hz apart",
       3 * 44100,
       {{5000.0, -7.0}, {5001.0, -7.0, 0.3}},
       {"left: tones about 1.00 Hz apart", "near 5000.00 and 5001.00 Hz", "8.00 s would resolve them"}},
      {"a quiet partner 0.5 Hz off",
       3 * 44100,
       {{3000.0, -20.0}, {3000.5, -30.0, 0.3}},
       {"left: tones about 0.50 Hz apart", "16.00 s"}},
      // 8 bins of 1 s reach 8 Hz from either edge.
      {"5 Hz in 1 s", 44100, {{5.0, -20.0}}, {"left: a component near 5.00 Hz", "lies below 8.00 Hz"}},
      {"22049 Hz in 1 s",
       44100,
       {{1000.0, -20.0}, {22049.0, -20.0}},
       {"left: a component near 22048", "lies above 22042.00 Hz"}},
  };
  for (const Case& c : cases) {
    TestSignal s;
    s.Frames = c.Frames;
    s.Spans = {{0, c.Left, {{1000.0, -20.0}}}};
    const AnalysisReport r = AnalyseSignal(s, "warned.wav", AnalysisSettings{}, true);
    ASSERT_EQ(r.Segments.size(), 1u) << c.Name;
    const std::string all = Joined(r.Warnings);
    std::size_t at = all.find(c.Said[0]);
    ASSERT_NE(at, std::string::npos) << c.Name << ":\n" << all;
    for (const std::string& part : c.Said) {
      at = all.find(part, at);
      EXPECT_NE(at, std::string::npos) << c.Name << ": '" << part << "' in\n" << all;
    }
    EXPECT_EQ(all.find("right:"), std::string::npos) << c.Name << ": the clean side is not warned of\n" << all;
  }
}

// Content that is no set of steady lines: a sweep, noise, a level step inside
// a given span.
TEST(Warnings, SayWhenASegmentIsNoSetOfSteadyLines) {
  const std::int64_t frames = 3 * 44100;
  std::vector<std::int16_t> sweep, noise, step;
  std::mt19937 rng(7);
  std::normal_distribution<double> gauss(0.0, 1000.0);
  for (std::int64_t n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / 44100.0;
    // 100 Hz to 10 kHz, exponentially, over the 3 s.
    const double phase = 2.0 * M_PI * 100.0 * 3.0 / std::log(100.0) * (std::exp(t * std::log(100.0) / 3.0) - 1.0);
    sweep.push_back(static_cast<std::int16_t>(std::lround(3276.0 * std::sin(phase))));
    noise.push_back(static_cast<std::int16_t>(std::lround(gauss(rng))));
    step.push_back(
        static_cast<std::int16_t>(std::lround((n < frames / 2 ? 3276.0 : 1638.0) * std::sin(2.0 * M_PI * 1000.0 * t))));
  }
  const struct {
    const char* Name;
    const std::vector<std::int16_t>* Words;
    const char* Said;
  } cases[] = {{"sweep", &sweep, "no set of steady lines"},
               {"noise", &noise, "no set of steady lines"},
               {"level step in one span", &step, "the tone at 1000.00 Hz is not steady"}};
  for (const auto& c : cases) {
    WavRecording wav;
    wav.SampleRate = 44100.0;
    wav.Left = *c.Words;
    wav.Right.assign(wav.Left.size(), 0);
    const AnalysisReport r = AnalyseRecording(wav, c.Name, {{0, frames}}, AnalysisSettings{});
    const std::string all = Joined(r.Warnings);
    EXPECT_NE(all.find("left: "), std::string::npos) << c.Name << ":\n" << all;
    EXPECT_NE(all.find(c.Said), std::string::npos) << c.Name << ":\n" << all;
  }
}

// A data chunk shorter than its header declares, or ending mid-frame, is
// read as far as it goes and said to be short.
TEST(WavReading, DataChunkShorterThanDeclaredIsSaid) {
  TestSignal s;
  s.Spans = {{0, {{1000.0, -20.0}}, {{440.0, -20.0}}}};
  const struct {
    const char* Name;
    std::int64_t KeptBytes;  // of the data chunk; -1 keeps the file whole
    std::int64_t Frames;
    std::vector<std::string> Said;
  } cases[] = {
      {"whole", -1, 132300, {}},
      {"half the frames", 66150 * 4, 66150, {"the data chunk declares 132300 frames but the file holds 66150"}},
      {"half and 3 bytes",
       66150 * 4 + 3,
       66150,
       {"the data chunk declares 132300 frames but the file holds 66150", "partial frame (3 of 4 bytes)"}},
  };
  for (const auto& c : cases) {
    const std::string path = WriteTestWav(s, "short_chunk.wav");
    const auto header = static_cast<std::int64_t>(std::filesystem::file_size(path)) - 132300 * 4;
    if (c.KeptBytes >= 0) std::filesystem::resize_file(path, static_cast<std::uintmax_t>(header + c.KeptBytes));
    WavRecording wav;
    std::string error;
    ASSERT_TRUE(ReadWavRecording(path, wav, error)) << c.Name << ": " << error;
    EXPECT_EQ(static_cast<std::int64_t>(wav.Left.size()), c.Frames) << c.Name;
    ASSERT_EQ(wav.Warnings.size(), c.Said.size()) << c.Name << ":\n" << Joined(wav.Warnings);
    for (std::size_t i = 0; i < c.Said.size(); ++i)
      EXPECT_NE(wav.Warnings[i].find(c.Said[i]), std::string::npos) << c.Name << ": " << wav.Warnings[i];
    // The report carries them, and the frames present are measured.
    const AnalysisReport r = AnalyseRecording(wav, path, {}, AnalysisSettings{});
    EXPECT_EQ(r.Warnings, wav.Warnings) << c.Name;
    ASSERT_EQ(r.Segments.size(), 1u) << c.Name;
    ExpectTones(r.Segments[0].Side[0], {{1000.0, -20.0}}, c.Name);
  }
}

}  // namespace
