#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "tests/engine/synthesis_reference.h"
#include "tests/support/channels.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Runs FillBuffer on a fresh buffer and decodes its little-endian words.
std::vector<std::int16_t> Fill(int frames) {
  std::vector<unsigned char> bytes(4 * static_cast<std::size_t>(frames), 0xA5);
  EXPECT_EQ(FillBuffer(bytes.data(), frames), 0);
  std::vector<std::int16_t> words(2 * static_cast<std::size_t>(frames));
  for (std::size_t i = 0; i < words.size(); ++i) {
    words[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
  }
  return words;
}

std::vector<std::int16_t> Side(const std::vector<std::int16_t>& words, int side) {
  std::vector<std::int16_t> out;
  for (std::size_t i = static_cast<std::size_t>(side); i < words.size(); i += 2) out.push_back(words[i]);
  return out;
}

std::vector<std::int64_t> Counters() {
  const std::array<std::int64_t, 4> counters = LoadCounters();
  return {counters.begin(), counters.end()};
}

ToneSettings LeftTone(double freq) {
  ToneSettings s;
  s.freq[0] = freq;
  s.volume[0] = 1.0;
  return s;
}

struct WordCase {
  const char* name;
  ToneSettings settings;
  std::vector<std::int16_t> left;  // the first left words; every right word is 0
};

TEST(FillBuffer, KnownWordSequences) {
  ToneSettings both = LeftTone(1000.0);
  both.freq[2] = 1000.0;
  both.volume[2] = 1.0;
  const WordCase cases[] = {
      {"1000 Hz", LeftTone(1000.0), {0, 930, 1842, 2716, 3535, 4283, 4944, 5505}},
      {"both generators in phase", both, {0, 1861, 3684, 5433, 7071, 8567, 9888, 11010}},
      {"11025 Hz", LeftTone(11025.0), {0, 6553, 0, -6553, 0, 6553, 0, -6553, 0, 6553, 0, -6553}},
      {"-1000 Hz", LeftTone(-1000.0), {0, -930, -1842, -2716, -3535, -4283, -4944, -5505}},
  };
  for (const WordCase& c : cases) {
    SCOPED_TRACE(c.name);
    ApplySettings(c.settings);
    const auto words = Fill(static_cast<int>(c.left.size()));
    EXPECT_EQ(Side(words, 0), c.left);
    EXPECT_EQ(Side(words, 1), std::vector<std::int16_t>(c.left.size(), 0));
  }
}

TEST(FillBuffer, SilentAfterLoad) {
  LoadDefaults();
  const auto words = Fill(2048);
  for (std::int16_t w : words) ASSERT_EQ(w, 0);
  EXPECT_EQ(Counters(), (std::vector<std::int64_t>{2048, 2048, 2048, 2048}));
}

TEST(FillBuffer, LoadTimeGainKeepsEveryWordAtSixOrBelow) {
  // One sounding channel per side; gains stay at 0.001, masters at 1.0.
  ToneSettings s;
  s.freq[0] = 11025.0;  // reaches the sine's peak exactly
  s.freq[3] = -1000.0;
  ApplySettings(s);
  int peak = 0;
  for (std::int16_t w : Fill(4096)) peak = std::max(peak, std::abs(static_cast<int>(w)));
  EXPECT_EQ(peak, 6);  // 0.001 * 0.2 * 32767 = 6.55, truncated
}

TEST(FillBuffer, NonFiniteFrequencyGivesMinusOneAtAnyGain) {
  const double freqs[] = {kNaN, kInf, -kInf};
  const double gains[] = {1.0, 0.5, 0.0};
  for (double f : freqs) {
    for (double g : gains) {
      SCOPED_TRACE(testing::Message() << "f=" << f << " gain=" << g);
      ToneSettings s = LeftTone(f);
      s.volume[0] = g;
      ApplySettings(s);
      const auto words = Fill(300);  // spans more than one internal block
      EXPECT_EQ(Side(words, 0), std::vector<std::int16_t>(300, -6553));
      EXPECT_EQ(Side(words, 1), std::vector<std::int16_t>(300, 0));
      EXPECT_EQ(Counters(), (std::vector<std::int64_t>{300, 300, 300, 300}));

      Store(GeneratorState.Gen1Muted, 1);
      const auto muted = Fill(10);
      EXPECT_EQ(muted, std::vector<std::int16_t>(20, 0));
      EXPECT_EQ(Counters(), (std::vector<std::int64_t>{300, 300, 310, 310}));
    }
  }
}

TEST(FillBuffer, MutedGeneratorStandsStillAndResumesWhereItStopped) {
  // Generator 1 sounds on the left only, Generator 2 on the right only.
  ToneSettings s = LeftTone(1000.0);
  s.freq[3] = 440.0;
  s.volume[3] = 1.0;

  ApplySettings(s);
  const auto continuous = Fill(300 + 333 + 70);

  ApplySettings(s);
  const auto before = Fill(300);
  Store(GeneratorState.Gen1Muted, 7);  // any nonzero value mutes
  const auto during = Fill(70);
  EXPECT_EQ(Counters(), (std::vector<std::int64_t>{300, 300, 370, 370}));
  Store(GeneratorState.Gen1Muted, 0);
  const auto after = Fill(333);
  EXPECT_EQ(Counters(), (std::vector<std::int64_t>{633, 633, 703, 703}));

  EXPECT_EQ(Side(during, 0), std::vector<std::int16_t>(70, 0));
  // Generator 1 continues with the sample after the last one before muting.
  auto left = Side(before, 0);
  const auto left_after = Side(after, 0);
  left.insert(left.end(), left_after.begin(), left_after.end());
  auto expected_left = Side(continuous, 0);
  expected_left.resize(633);
  EXPECT_EQ(left, expected_left);
  // Generator 2 never noticed.
  auto right = Side(before, 1);
  for (const auto* part : {&during, &after}) {
    const auto r = Side(*part, 1);
    right.insert(right.end(), r.begin(), r.end());
  }
  EXPECT_EQ(right, Side(continuous, 1));
}

TEST(FillBuffer, BothMutedWritesZerosAndKeepsCounters) {
  ToneSettings s = LeftTone(1000.0);
  s.freq[3] = kNaN;
  s.volume[3] = 1.0;
  s.muted[0] = s.muted[1] = 1;
  for (auto& c : s.counter) c = 12345;
  ApplySettings(s);
  EXPECT_EQ(Fill(500), std::vector<std::int16_t>(1000, 0));
  EXPECT_EQ(Counters(), (std::vector<std::int64_t>{12345, 12345, 12345, 12345}));
}

TEST(FillBuffer, NoFramesWritesNothingAndKeepsCounters) {
  ApplySettings(LeftTone(kNaN));  // would write -6553 if anything were made
  const std::int32_t frame_counts[] = {0, -1, -2048, std::numeric_limits<std::int32_t>::min()};
  for (std::int32_t frames : frame_counts) {
    SCOPED_TRACE(frames);
    std::vector<unsigned char> guard(64, 0x5A);
    EXPECT_EQ(FillBuffer(guard.data(), frames), 0);
    EXPECT_EQ(guard, std::vector<unsigned char>(64, 0x5A));
    EXPECT_EQ(Counters(), (std::vector<std::int64_t>{0, 0, 0, 0}));
  }
  // Exactly the frames asked for are written, nothing beyond.
  std::vector<unsigned char> guard(4 * 10, 0x5A);
  EXPECT_EQ(FillBuffer(guard.data(), 7), 0);
  EXPECT_EQ(guard[4 * 6], 0x67);  // -6553 = 0xE667, little-endian at byte 24
  EXPECT_EQ(guard[4 * 6 + 1], 0xE6);
  EXPECT_EQ(guard[4 * 6 + 2], 0x00);
  for (std::size_t i = 4 * 7; i < guard.size(); ++i) EXPECT_EQ(guard[i], 0x5A) << i;
  EXPECT_EQ(FillBuffer(nullptr, 16), 0);  // no buffer: nothing happens
  EXPECT_EQ(Counters(), (std::vector<std::int64_t>{7, 7, 7, 7}));
}

TEST(FillBuffer, CounterAtTheTopOfItsRangeWrapsInsteadOfFailing) {
  ToneSettings s = LeftTone(440.0);
  for (auto& c : s.counter) c = std::numeric_limits<std::int64_t>::max() - 9;
  ApplySettings(s);
  const auto words = Fill(20);
  for (std::int16_t w : words) EXPECT_LE(std::abs(static_cast<int>(w)), 13106);
  const std::int64_t wrapped = std::numeric_limits<std::int64_t>::min() + 10;
  EXPECT_EQ(Counters(), (std::vector<std::int64_t>{wrapped, wrapped, wrapped, wrapped}));
}

TEST(FillBuffer, LargeCountsMatchTheReferenceWordForWord) {
  std::vector<std::int16_t> all;
  for (const ToneSettings& s : LargeCountCases()) {
    ApplySettings(s);
    const auto words = Fill(1500);
#ifndef _WIN32
    const auto expected = ReferenceWords(s, 1500);
    std::size_t mismatches = 0;
    for (std::size_t i = 0; i < words.size(); ++i) mismatches += words[i] != expected[i];
    EXPECT_EQ(mismatches, 0u) << "count " << s.counter[0] << " freq " << s.freq[0];
    EXPECT_EQ(Counters()[0], s.counter[0] + 1500);
    all.insert(all.end(), expected.begin(), expected.end());
#else
    all.insert(all.end(), words.begin(), words.end());
#endif
  }
  // Natively this pins the reference's words; in the Windows build, the
  // engine's own words must hash the same.
  EXPECT_EQ(HashWords(all), kLargeCountWordsHash);
}

}  // namespace
