// kq-rawwav on small raw captures: the words come back unchanged, and only a
// closing silence short enough to be the audio pipeline's own is dropped.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/analysis.h"

namespace fs = std::filesystem;

namespace {

struct Case {
  const char* what;
  std::size_t toneFrames;   // frames of a non-zero pattern
  std::size_t zeroFrames;   // zero frames after it
  bool oddByte;             // a stray byte at the end (a cut-off write)
  bool trim;                // --trim-closing-silence
  std::size_t keptFrames;   // frames the WAV must hold
};

const Case Cases[] = {
    {"without the option every frame is kept", 3000, 441, false, false, 3441},
    {"one closing period is dropped", 3000, 441, false, true, 3000},
    {"up to 100 ms of closing silence is dropped", 3000, 4410, false, true, 3000},
    {"longer silence is the plug-in's own and is kept", 3000, 4411, false, true, 7411},
    {"a partial frame at the end is dropped", 3000, 0, true, false, 3000},
    {"a capture of silence alone is kept when long", 0, 9000, false, true, 9000},
};

TEST(RawToWav, KeepsTheWordsAndDropsOnlyThePipelinesClosingSilence) {
  std::string pattern = (fs::temp_directory_path() / "kq-rawwav-test.XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  for (const Case& c : Cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::int16_t> words;
    for (std::size_t i = 0; i < c.toneFrames; ++i) {
      // Every word distinct and both signs, so a shifted or swapped word shows.
      words.push_back(static_cast<std::int16_t>(static_cast<int>(i * 7 % 20001) - 10000));
      words.push_back(static_cast<std::int16_t>(-static_cast<int>(i % 32768)));
    }
    words.resize(words.size() + 2 * c.zeroFrames, 0);
    const fs::path raw = folder / "in.raw";
    const fs::path wav = folder / "out.wav";
    {
      std::ofstream out(raw, std::ios::binary);
      for (std::int16_t w : words) {
        const auto u = static_cast<std::uint16_t>(w);
        out.put(static_cast<char>(u & 0xff)).put(static_cast<char>(u >> 8));
      }
      if (c.oddByte) out.put('\x55');
    }
    const std::string command = std::string("timeout 30 '") + KQ_RAWWAV_PATH + "' " +
                                (c.trim ? "--trim-closing-silence " : "") + "'" + raw.string() + "' '" +
                                wav.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    WavRecording got;
    std::string error;
    ASSERT_TRUE(ReadWavRecording(wav.string(), got, error)) << error;
    EXPECT_EQ(got.SampleRate, 44100.0);
    ASSERT_EQ(got.Left.size(), c.keptFrames);
    for (std::size_t i = 0; i < c.keptFrames; ++i) {
      ASSERT_EQ(got.Left[i], words[2 * i]) << "frame " << i;
      ASSERT_EQ(got.Right[i], words[2 * i + 1]) << "frame " << i;
    }
  }
  EXPECT_NE(std::system(("timeout 30 '" KQ_RAWWAV_PATH "' '" + (folder / "missing.raw").string() + "' '" +
                         (folder / "x.wav").string() + "' 2>/dev/null")
                            .c_str()),
            0)
      << "a missing capture must fail";
  fs::remove_all(folder);
}

}  // namespace
