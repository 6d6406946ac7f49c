// kq-rawwav on small raw captures: the words come back unchanged in a WAV
// whose header carries the rate and channel count asked for, a partial frame
// at the end is dropped, and only a closing silence short enough to be the
// audio pipeline's own (every channel zero) is dropped.
#include <sndfile.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

struct Case {
  const char* what;
  int rate;                       // --rate (0: the default, 44100)
  int channels;                   // --channels (0: the default, 2)
  std::size_t toneFrames;         // frames of a non-zero pattern
  std::size_t firstSilentFrames;  // then frames zero on the first channel only
  std::size_t zeroFrames;         // then frames zero on every channel
  std::size_t strayBytes;         // bytes of an unfinished frame at the end
  bool trim;                      // --trim-closing-silence
  std::size_t keptFrames;         // frames the WAV must hold
};

const Case Cases[] = {
    {"without the option every frame is kept", 0, 0, 3000, 0, 441, 0, false, 3441},
    {"one closing period is dropped", 0, 0, 3000, 0, 441, 0, true, 3000},
    {"up to 100 ms of closing silence is dropped", 0, 0, 3000, 0, 4410, 0, true, 3000},
    {"longer silence is the plug-in's own and is kept", 0, 0, 3000, 0, 4411, 0, true, 7411},
    {"a capture of silence alone is kept when long", 0, 0, 0, 0, 9000, 0, true, 9000},
    // Silence needs every channel: a tail still sounding on the right stays.
    {"a tail silent on the left alone is kept", 0, 0, 3000, 100, 0, 0, true, 3100},
    {"only the frames silent on both sides go", 0, 0, 3000, 100, 441, 0, true, 3100},
    {"a capture cut mid-word drops the partial frame", 0, 0, 3000, 0, 0, 1, false, 3000},
    {"a capture cut after one word of a frame drops it", 0, 0, 3000, 0, 0, 2, false, 3000},
    {"a capture cut mid-word of the last channel drops the frame", 0, 0, 3000, 0, 0, 3, false, 3000},
    {"the rate reaches the header", 48000, 0, 3000, 0, 0, 0, false, 3000},
    {"one channel", 22050, 1, 3000, 0, 441, 1, true, 3000},
    {"four channels, cut mid-frame", 0, 4, 3000, 0, 0, 6, false, 3000},
};

// Every word distinct and both signs, so a shifted or swapped word shows.
std::int16_t Word(std::size_t frame, int channel) {
  return static_cast<std::int16_t>(channel % 2 == 0 ? static_cast<int>((frame * 7 + channel) % 20001) - 10000
                                                    : -static_cast<int>((frame + 3 * channel) % 32768));
}

TEST(RawToWav, KeepsTheWordsAndDropsOnlyThePipelinesClosingSilence) {
  std::string pattern = (fs::temp_directory_path() / "kq-rawwav-test.XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  for (const Case& c : Cases) {
    SCOPED_TRACE(c.what);
    const int channels = c.channels > 0 ? c.channels : 2;
    std::vector<std::int16_t> words;
    for (std::size_t i = 0; i < c.toneFrames + c.firstSilentFrames; ++i)
      for (int ch = 0; ch < channels; ++ch)
        words.push_back(i >= c.toneFrames && ch == 0 ? std::int16_t{0} : Word(i, ch));
    words.resize(words.size() + channels * c.zeroFrames, 0);
    const fs::path raw = folder / "in.raw";
    const fs::path wav = folder / "out.wav";
    {
      std::ofstream out(raw, std::ios::binary);
      for (std::int16_t w : words) {
        const auto u = static_cast<std::uint16_t>(w);
        out.put(static_cast<char>(u & 0xff)).put(static_cast<char>(u >> 8));
      }
      for (std::size_t b = 0; b < c.strayBytes; ++b) out.put('\x55');
    }
    std::string command =
        std::string("timeout 30 '") + KQ_RAWWAV_PATH + "' " + (c.trim ? "--trim-closing-silence " : "");
    if (c.rate > 0) command += "--rate " + std::to_string(c.rate) + " ";
    if (c.channels > 0) command += "--channels " + std::to_string(c.channels) + " ";
    command += "'" + raw.string() + "' '" + wav.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    SF_INFO info{};
    SNDFILE* f = sf_open(wav.string().c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<short> got(static_cast<std::size_t>(info.frames) * static_cast<std::size_t>(info.channels));
    const sf_count_t read = sf_readf_short(f, got.data(), info.frames);
    sf_close(f);
    EXPECT_EQ(info.samplerate, c.rate > 0 ? c.rate : 44100);
    EXPECT_EQ(info.channels, channels);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    ASSERT_EQ(read, info.frames);
    ASSERT_EQ(static_cast<std::size_t>(info.frames), c.keptFrames);
    for (std::size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], words[i]) << "word " << i;
  }
  EXPECT_NE(std::system(("timeout 30 '" KQ_RAWWAV_PATH "' '" + (folder / "missing.raw").string() + "' '" +
                         (folder / "x.wav").string() + "' 2>/dev/null")
                            .c_str()),
            0)
      << "a missing capture must fail";
  fs::remove_all(folder);
}

}  // namespace
