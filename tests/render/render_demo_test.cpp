// scripts/demo end to end: a short script played through kqhost and the real
// DLL under Wine must come back as a WAV that holds exactly the synthesis'
// words, with every change on the buffer boundary nearest its script time,
// and a report that names the scripted tones.
#include <unistd.h>

#include <cmath>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "tests/render/demo_build.h"
#include "tests/support/channels.h"
#include "tools/analysis.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int32_t BufferFrames = 2048;
constexpr double Rate = 44100.0;
constexpr double TimingToleranceS = 0.050;
constexpr int DemoLimitSeconds = 90;

// 1000 Hz left at full gain; 440.5 Hz (through a host variable) and a quiet
// 3000 Hz tone right. Then the left tone moves, then Generator 2 is muted.
const char* const Script = R"(set Freq 440.5
SetKalvix1FreqLeft 1000
SetKalvix1VolumeLeft 100
SetKalvix1FreqRight [Freq]
SetKalvix1VolumeRight 50
SetKalvix2FreqRight 3000
SetKalvix2VolumeRight 20
SetKalvix2MasterVolume 50
Kalvix_Start
wait 1500
SetKalvix1FreqLeft 1500
wait 800
MuteGen2
wait 700
Kalvix_Stop
)";

struct Phase {
  double scriptS;  // when the script makes the change
  void (*apply)();
};

void ApplyStart() {
  SetChannel(Gen1Left, 1000.0, 1.0);
  SetChannel(Gen1Right, 440.5, 0.5);
  SetChannel(Gen2Right, 3000.0, 0.2);
  Store(GeneratorState.Gen2MasterVolume, 0.5);
}
void ApplyMove() { Store(GeneratorState.Gen1FreqLeft, 1500.0); }
void ApplyMute() { Store(GeneratorState.Gen2Muted, 1); }

const Phase Phases[] = {{0.0, ApplyStart}, {1.5, ApplyMove}, {2.3, ApplyMute}};
constexpr double ScriptEndS = 3.0;

// Expected tones per segment: {frequency, dBFS} per side. One channel at
// gain g peaks at 0.2 * g * 32767 words: 20 log10(0.2 g) dBFS.
struct Tone {
  double hz;
  double dbfs;
};
double Dbfs(double gain) { return 20.0 * std::log10(0.2 * gain); }
const std::vector<std::vector<Tone>> ExpectedLeft = {
    {{1000.0, Dbfs(1.0)}}, {{1500.0, Dbfs(1.0)}}, {{1500.0, Dbfs(1.0)}}};
const std::vector<std::vector<Tone>> ExpectedRight = {
    {{440.5, Dbfs(0.5)}, {3000.0, Dbfs(0.1)}}, {{440.5, Dbfs(0.5)}, {3000.0, Dbfs(0.1)}}, {{440.5, Dbfs(0.5)}}};

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class RenderDemo : public ::testing::Test {
 protected:
  // One render for all checks: it costs a Wine start and 3 s of real time.
  static void SetUpTestSuite() {
    const std::string arch = DemoArch();
    const std::string win = DemoWindowsBuild(arch);
    std::printf("rendering through the %s build at %s\n", arch.c_str(), win.c_str());
    if (!fs::exists(win + "/bin/kqhost.exe") || !fs::exists(win + "/bin/KalvixQuad_ORVANE_PRECISION.dll")) {
      skipReason = "no windows-" + arch + " build at " + win;
      return;
    }
    std::string pattern = (fs::temp_directory_path() / "kq-render-test.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      failure = "cannot make a temporary folder";
      return;
    }
    folder = pattern;
    fs::path scriptPath = folder / "short.kq";
    std::ofstream(scriptPath) << Script;
    const std::string command =
        "KQ_WIN_BUILD='" + win + "' KQ_NATIVE_BUILD='" KQ_NATIVE_BUILD_DIR "' timeout " +
        std::to_string(DemoLimitSeconds) + " '" KQ_SOURCE_DIR "/scripts/demo' --no-build --arch " + arch + " --out '" +
        (folder / "out").string() + "' '" + scriptPath.string() + "' >'" + (folder / "demo.log").string() + "' 2>&1";
    const int status = std::system(command.c_str());
    if (status != 0) {
      failure = "scripts/demo failed (status " + std::to_string(status) + "; files kept in " + folder.string() +
                "):\n" + ReadAll(folder / "demo.log");
      return;
    }
    std::string error;
    if (!ReadWavRecording((folder / "out/render.wav").string(), wav, error)) failure = error;
  }

  static void TearDownTestSuite() {
    if (!folder.empty() && failure.empty()) fs::remove_all(folder);
  }

  void SetUp() override {
    if (!skipReason.empty()) GTEST_SKIP() << skipReason;
    ASSERT_TRUE(failure.empty()) << failure;
  }

  static inline std::string skipReason;
  static inline std::string failure;
  static inline fs::path folder;
  static inline WavRecording wav;
};

// Replays the script on the synthesis buffer by buffer: every buffer must be
// the one FillBuffer makes with the settings in force, and each change must
// first show on the boundary nearest its script time.
TEST_F(RenderDemo, WordsAreTheSynthesisWithChangesOnTime) {
  const std::size_t frames = wav.Left.size();
  ASSERT_EQ(wav.SampleRate, Rate);
  ASSERT_GT(frames, static_cast<std::size_t>(BufferFrames));
  EXPECT_NEAR(static_cast<double>(frames) / Rate, ScriptEndS, 0.1) << "the render should last as long as the script";

  LoadDefaults();
  ResetCounters();
  Phases[0].apply();
  std::size_t next = 1;
  std::vector<std::int16_t> buffer(2 * BufferFrames);
  // Where the render first leaves the buffer just made, for the messages.
  std::string difference;
  auto matches = [&](std::size_t start) {
    const std::size_t n = std::min<std::size_t>(BufferFrames, frames - start);
    for (std::size_t i = 0; i < n; ++i) {
      if (wav.Left[start + i] != buffer[2 * i] || wav.Right[start + i] != buffer[2 * i + 1]) {
        difference = "frame " + std::to_string(start + i) + " of " + std::to_string(frames) + " holds " +
                     std::to_string(wav.Left[start + i]) + "," + std::to_string(wav.Right[start + i]) +
                     " where the synthesis gives " + std::to_string(buffer[2 * i]) + "," +
                     std::to_string(buffer[2 * i + 1]);
        return false;
      }
    }
    return true;
  };
  for (std::size_t start = 0; start < frames; start += BufferFrames) {
    const std::array<std::int64_t, 4> counters = LoadCounters();
    FillBuffer(buffer.data(), BufferFrames);
    if (matches(start)) continue;
    ASSERT_LT(next, std::size(Phases)) << "the render is not the synthesis' words: " << difference;
    StoreCounters(counters);
    Phases[next].apply();
    FillBuffer(buffer.data(), BufferFrames);
    ASSERT_TRUE(matches(start)) << "neither the old nor the next settings' words: " << difference;
    const double landedS = static_cast<double>(start) / Rate;
    std::printf("change %zu: script %.3f s, render %.3f s (%+.1f ms)\n", next, Phases[next].scriptS, landedS,
                (landedS - Phases[next].scriptS) * 1000.0);
    EXPECT_NEAR(landedS, Phases[next].scriptS, TimingToleranceS) << "change " << next << " landed at frame " << start;
    ++next;
  }
  EXPECT_EQ(next, std::size(Phases)) << "not every change reached the render";
}

TEST_F(RenderDemo, ReportNamesTheScriptedTonesAndChanges) {
  const nlohmann::json report = nlohmann::json::parse(ReadAll(folder / "out/report.json"));
  const auto& segments = report.at("segments");
  ASSERT_EQ(segments.size(), std::size(Phases)) << report.dump(1);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    SCOPED_TRACE("segment " + std::to_string(i + 1));
    EXPECT_NEAR(segments[i].at("start_s").get<double>(), Phases[i].scriptS, TimingToleranceS);
    const std::vector<Tone>* expected[2] = {&ExpectedLeft[i], &ExpectedRight[i]};
    const char* sides[2] = {"left", "right"};
    for (int s = 0; s < 2; ++s) {
      const auto& tones = segments[i].at(sides[s]).at("tones");
      ASSERT_EQ(tones.size(), expected[s]->size()) << sides[s] << ": " << tones.dump();
      for (std::size_t t = 0; t < tones.size(); ++t) {
        EXPECT_NEAR(tones[t].at("frequency_hz").get<double>(), (*expected[s])[t].hz, 0.01) << sides[s];
        EXPECT_NEAR(tones[t].at("level_dbfs").get<double>(), (*expected[s])[t].dbfs, 0.1) << sides[s];
      }
    }
  }
}

}  // namespace
