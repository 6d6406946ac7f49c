// kq-render as a user runs it: the WAV it writes against FillBuffer's words
// with the settings the script gives at the boundaries the timeline gives
// (worked out by hand below), and its messages and exit statuses.
#include <sndfile.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "tests/support/channels.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t BufferFrames = 2048;
constexpr int RunLimitSeconds = 300;

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "kq-render-test.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path = pattern;
  }
  ~TempFolder() {
    if (!path.empty()) fs::remove_all(path);
  }
  fs::path path;
};

struct RenderRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs kq-render with `args` (already quoted) in `folder`, where the script
// is script.kq, with a bounded run time.
RenderRun RunRender(const fs::path& folder, const std::string& script, const std::string& args) {
  std::ofstream(folder / "script.kq", std::ios::binary) << script;
  const std::string command = "cd '" + folder.string() + "' && timeout " + std::to_string(RunLimitSeconds) +
                              " '" KQ_RENDER_PATH "' " + args + " >out.txt 2>err.txt";
  const int raw = std::system(command.c_str());
  RenderRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = ReadAll(folder / "out.txt");
  run.err = ReadAll(folder / "err.txt");
  return run;
}

// The whole WAV as interleaved words; false when it is not 44.1 kHz 16-bit stereo.
bool ReadWav(const fs::path& path, std::vector<std::int16_t>& words) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return false;
  const bool format = info.samplerate == 44100 && info.channels == 2 &&
                      (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16 &&
                      (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV;
  words.assign(static_cast<std::size_t>(info.frames) * 2, 0);
  const sf_count_t read = info.frames > 0 ? sf_readf_short(file, words.data(), info.frames) : 0;
  sf_close(file);
  return format && read == info.frames;
}

// One buffer of FillBuffer's words on the current state.
std::vector<std::int16_t> FillOne() {
  std::vector<std::int16_t> words(2 * BufferFrames);
  FillBuffer(words.data(), static_cast<std::int32_t>(BufferFrames));
  return words;
}

// The first frame where `got` (from frame `start` of the WAV) leaves
// `expected`, or -1.
std::int64_t FirstDifference(const std::int16_t* got, const std::vector<std::int16_t>& expected) {
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (got[i] != expected[i]) return static_cast<std::int64_t>(i / 2);
  }
  return -1;
}

// Four tones, one start, ten minutes, one stop: every word of the render is
// FillBuffer's from count 0, and the render ends on the boundary nearest
// 600 s (12,919.9 buffers: 12,920). Read from standard output as it is made.
TEST(OfflineRender, SteadyToneIsFillBufferEveryWord) {
  TempFolder folder;
  ASSERT_FALSE(folder.path.empty());
  std::ofstream(folder.path / "steady.kq") << "SetKalvix1FreqLeft 440\nSetKalvix1FreqRight 445\n"
                                              "SetKalvix2FreqLeft 200\nSetKalvix2FreqRight 210\n"
                                              "SetKalvix1VolumeLeft 100\nSetKalvix1VolumeRight 90\n"
                                              "SetKalvix2VolumeLeft 80\nSetKalvix2VolumeRight 70\n"
                                              "SetKalvix2MasterVolume 60\n"
                                              "Kalvix_Start\nwait 600000\nKalvix_Stop\n";
  const std::string command = "timeout " + std::to_string(RunLimitSeconds) + " '" KQ_RENDER_PATH "' --out - '" +
                              (folder.path / "steady.kq").string() + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  SF_INFO info{};
  SNDFILE* wav = sf_open_fd(fileno(pipe), SFM_READ, &info, SF_FALSE);
  ASSERT_NE(wav, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(info.frames, 12920 * BufferFrames);

  GeneratorStateRecord& s = GeneratorState;
  LoadDefaults();
  SetChannels({440.0, 445.0, 200.0, 210.0}, {1.0, 0.9, 0.8, 0.7});
  Store(s.Gen2MasterVolume, 0.6);
  ResetCounters();
  std::vector<std::int16_t> got(2 * BufferFrames);
  std::int64_t frames = 0;
  std::int64_t firstDifference = -1;
  for (sf_count_t n; (n = sf_readf_short(wav, got.data(), BufferFrames)) > 0; frames += n) {
    const std::vector<std::int16_t> expected = FillOne();
    if (firstDifference >= 0) continue;
    got.resize(static_cast<std::size_t>(2 * n));
    std::vector<std::int16_t> head(expected.begin(), expected.begin() + 2 * n);
    const std::int64_t at = FirstDifference(got.data(), head);
    if (at >= 0) firstDifference = frames + at;
    got.resize(2 * BufferFrames);
  }
  sf_close(wav);
  const int raw = pclose(pipe);
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << raw;
  EXPECT_EQ(frames, 12920 * BufferFrames);
  EXPECT_EQ(firstDifference, -1) << "the render first differs from FillBuffer at frame " << firstDifference;
}

// Changes, mutes, a stop, a run of no length, a second start, a start while
// playing and a script that ends while playing. The boundaries are worked
// out by hand: a change at script time T takes effect from buffer
// round(T * 44.1 / 2048), half way counting as the later one.
TEST(OfflineRender, ChangesLandOnTheirBoundaries) {
  const char* const script =
      "SetKalvix1FreqLeft 1000\nSetKalvix1VolumeLeft 100\n"
      "SetKalvix2FreqLeft 3000\nSetKalvix2VolumeLeft 40\n"
      "SetKalvix2FreqRight 500\nSetKalvix2VolumeRight 100\n"
      "SetKalvix1VolumeRight 100\n"
      "wait 5000\n"  // before the start: not in the render
      "Kalvix_Start\n"
      "wait 100\nSetKalvix1FreqLeft 1500\n"             //   100 ms =  4410 frames: buffer 2 (2.15)
      "wait 70\nMuteGen2\n"                             //   170 ms =  7497 frames: buffer 4 (3.66)
      "wait 58\nSetKalvix2FreqRight 700\n"              //   228 ms = 10055 frames: buffer 5 (4.91)
      "wait 46\nUnMuteGen2\nSetKalvix1VolumeLeft 30\n"  // 274 ms = 12083 frames: buffer 6 (5.90)
      "wait 200\nKalvix_Stop\n"                         //   474 ms = 20903 frames: ends after 10 buffers (10.21)
      "wait 3000\n"                                     // stopped: not in the render
      "Kalvix_Start\nwait 10\nSetKalvix1FreqRight 2000\nKalvix_Stop\n"  // 10 ms: 0 buffers (0.22)
      "SetKalvix1MasterVolume 50\nMuteGen1\n"
      "Kalvix_Start\n"
      "wait 10240\nUnMuteGen1\n"  // 10240 ms = 451584 frames: exactly 220.5, so buffer 221
      "wait 500\nKalvix_Start\n"  // 10740 ms: playing already, counters go on
      "wait 100\n";               // 10840 ms = 478044 frames: ends after 233 buffers (233.42)

  struct Change {
    std::int64_t buffer;
    std::function<void()> apply;
  };
  struct Run {
    std::int64_t buffers;
    std::vector<Change> changes;
  };
  GeneratorStateRecord& s = GeneratorState;
  const std::vector<Run> runs = {
      {10,
       {{2, [&] { Store(s.Gen1FreqLeft, 1500.0); }},
        {4, [&] { Store(s.Gen2Muted, 1); }},
        {5, [&] { Store(s.Gen2FreqRight, 700.0); }},
        {6,
         [&] {
           Store(s.Gen2Muted, 0);
           Store(s.Gen1VolumeLeft, 0.3);
         }},
        {10, [&] { Store(s.Gen1FreqRight, 2000.0); }}}},  // made in the empty run
      {233,
       {{0,
         [&] {
           Store(s.Gen1MasterVolume, 0.5);
           Store(s.Gen1Muted, 1);
         }},
        {221, [&] { Store(s.Gen1Muted, 0); }}}},
  };

  TempFolder folder;
  ASSERT_FALSE(folder.path.empty());
  const RenderRun run = RunRender(folder.path, script, "--out render.wav script.kq");
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("stopping playback (Kalvix_Stop)"), std::string::npos) << run.out;
  std::vector<std::int16_t> words;
  ASSERT_TRUE(ReadWav(folder.path / "render.wav", words));
  ASSERT_EQ(static_cast<std::int64_t>(words.size()), 2 * (10 + 233) * BufferFrames);

  LoadDefaults();
  SetChannel(Gen1Left, 1000.0, 1.0);
  SetChannel(Gen2Left, 3000.0, 0.4);
  SetChannel(Gen2Right, 500.0, 1.0);
  Store(s.Gen1VolumeRight, 1.0);
  std::int64_t frame = 0;
  for (std::size_t r = 0; r < runs.size(); ++r) {
    ResetCounters();
    for (std::int64_t b = 0; b < runs[r].buffers; ++b, frame += BufferFrames) {
      for (const Change& c : runs[r].changes) {
        if (c.buffer == b) c.apply();
      }
      const std::int64_t at = FirstDifference(&words[static_cast<std::size_t>(2 * frame)], FillOne());
      ASSERT_EQ(at, -1) << "run " << r + 1 << ", buffer " << b << ": first difference at frame " << frame + at
                        << " of the render";
    }
    for (const Change& c : runs[r].changes) {
      if (c.buffer >= runs[r].buffers) c.apply();
    }
  }
}

struct MessageCase {
  const char* what;
  const char* script;
  const char* args;  // "script.kq" is the script
  int status;
  std::vector<std::string> outHas;
  std::vector<std::string> errHas;
  bool writesWav;
};

const MessageCase MessageCases[] = {
    {"published variables and prints go to standard output",
     "set F 440\nSetKalvix1FreqLeft [F]\nprint Kalvix1FreqLeft\n",
     "-p --out r.wav script.kq",
     0,
     {"published Kalvix1FreqLeft = 440.00\nKalvix1FreqLeft = 440.00\n"},
     {"never starts playback"},
     true},
    {"the actions are listed as kqhost lists them",
     "actions\n",
     "--out r.wav script.kq",
     0,
     {"1000 Kalvix_Start - Start orvane-precision tone generator.\n",
      "1024 SetKalvix2MasterVolume <parameter> - Set Generator 2 master volume 0-100.\n"},
     {},
     true},
    {"with the WAV on standard output, messages go to standard error",
     "print\n",
     "--out - script.kq",
     0,
     {},
     {"(no variables)\n"},
     false},
    {"malformed lines are reported by number and nothing is written",
     "wait 5\nwait soon\nset\n",
     "--out r.wav script.kq",
     1,
     {},
     {"script.kq:2: error: 'wait' needs a whole number", "script.kq:3: error: 'set' needs a variable name"},
     false},
    {"unknown actions and missing parameters are reported by number",
     "Kalvix_Start\nSetKalvix3FreqLeft 5\nSetKalvix1FreqLeft\n",
     "--out r.wav script.kq",
     1,
     {},
     {"script.kq:2: error: unknown action or command 'SetKalvix3FreqLeft'",
      "script.kq:3: error: action 'SetKalvix1FreqLeft' needs a parameter"},
     false},
    {"a render longer than a WAV holds is refused at its line",
     "Kalvix_Start\nwait 86400000\nKalvix_Stop\n",
     "--out r.wav script.kq",
     1,
     {},
     {"script.kq:2: error: the render would pass"},
     false},
    {"a missing script",
     "",
     "--out r.wav missing.kq",
     2,
     {},
     {"kq-render: error: cannot read script 'missing.kq'"},
     false},
    {"an output that cannot be written",
     "Kalvix_Start\nwait 10\n",
     "--out no/such/folder/r.wav script.kq",
     2,
     {},
     {"kq-render: error: cannot write 'no/such/folder/r.wav'"},
     false},
    {"no output named", "", "script.kq", 2, {}, {"--out is required"}, false},
};

TEST(OfflineRender, MessagesAndExitStatuses) {
  for (const MessageCase& c : MessageCases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    ASSERT_FALSE(folder.path.empty());
    const RenderRun run = RunRender(folder.path, c.script, c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    for (const std::string& s : c.outHas) EXPECT_NE(run.out.find(s), std::string::npos) << s << " in\n" << run.out;
    for (const std::string& s : c.errHas) EXPECT_NE(run.err.find(s), std::string::npos) << s << " in\n" << run.err;
    EXPECT_EQ(fs::exists(folder.path / "r.wav"), c.writesWav);
    if (c.writesWav) {
      std::vector<std::int16_t> words;
      EXPECT_TRUE(ReadWav(folder.path / "r.wav", words));
      EXPECT_TRUE(words.empty()) << "a script that never starts plays nothing";
    }
  }
}

}  // namespace
