// The same script rendered twice by scripts/demo: captured from the real DLL
// under Wine, and offline with kq-render (--offline). The two must hold the
// same words, except in the buffers next to each change, where the capture
// may be one buffer early or late. The first frame that breaks this is named.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/render/demo_build.h"
#include "tools/analysis.h"

namespace fs = std::filesystem;

namespace {

constexpr std::int64_t BufferFrames = 2048;
constexpr int DemoLimitSeconds = 120;

// Two runs with frequency and volume changes and a mute. No unmute: a mute
// that lands a buffer off freezes the counters a buffer off, and after an
// unmute everything that generator plays would be shifted by that buffer.
const char* const Script = R"(SetKalvix1FreqLeft 1000
SetKalvix1VolumeLeft 100
SetKalvix1FreqRight 440.5
SetKalvix1VolumeRight 60
SetKalvix2FreqRight 3000
SetKalvix2VolumeRight 30
Kalvix_Start
wait 900
SetKalvix1FreqLeft 1500
wait 600
SetKalvix1VolumeRight 20
wait 500
MuteGen2
wait 500
Kalvix_Stop
wait 700
SetKalvix1FreqRight 660
Kalvix_Start
wait 800
SetKalvix1FreqLeft 2000
wait 700
Kalvix_Stop
)";

struct RunTimes {
  std::vector<std::uint64_t> changeMillis;  // script times of the changes
  std::uint64_t stopMillis;
};
const RunTimes Runs[] = {{{900, 1500, 2000}, 2500}, {{800}, 1500}};

// The buffer boundary nearest a script time, half way counting as the later.
std::int64_t Boundary(std::uint64_t millis) { return static_cast<std::int64_t>((millis * 441 + 10240) / 20480); }

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool SameFrames(const WavRecording& a, std::int64_t atA, const WavRecording& b, std::int64_t atB, std::int64_t n,
                std::int64_t& differing) {
  for (std::int64_t i = 0; i < n; ++i) {
    const auto ia = static_cast<std::size_t>(atA + i);
    const auto ib = static_cast<std::size_t>(atB + i);
    if (a.Left[ia] != b.Left[ib] || a.Right[ia] != b.Right[ib]) {
      differing = i;
      return false;
    }
  }
  return true;
}

TEST(OfflineAgainstCapture, SameWordsExceptNextToChanges) {
  const std::string arch = DemoArch();
  const std::string win = DemoWindowsBuild(arch);
  if (!fs::exists(win + "/bin/kqhost.exe") || !fs::exists(win + "/bin/KalvixQuad_ORVANE_PRECISION.dll")) {
    GTEST_SKIP() << "no windows-" << arch << " build at " << win;
  }
  std::string pattern = (fs::temp_directory_path() / "kq-offline-capture.XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const fs::path folder = pattern;
  std::ofstream(folder / "script.kq") << Script;
  const std::string demo = "KQ_WIN_BUILD='" + win + "' KQ_NATIVE_BUILD='" KQ_NATIVE_BUILD_DIR "' timeout " +
                           std::to_string(DemoLimitSeconds) + " '" KQ_SOURCE_DIR "/scripts/demo' --no-build --arch " +
                           arch + " ";
  for (const char* mode : {"captured", "offline"}) {
    const std::string flag = std::string(mode) == "offline" ? "--offline " : "";
    const std::string command = demo + flag + "--out '" + (folder / mode).string() + "' '" +
                                (folder / "script.kq").string() + "' >'" + (folder / mode).string() + ".log' 2>&1";
    const int status = std::system(command.c_str());
    if (status != 0 && std::string(mode) == "captured" &&
        ReadAll(folder / "captured.log").find("cannot run the Windows DLL") != std::string::npos) {
      GTEST_SKIP() << "the DLL does not run on this machine";
    }
    ASSERT_EQ(status, 0) << "scripts/demo " << flag << "failed; files kept in " << folder << ":\n"
                         << ReadAll(folder / (std::string(mode) + ".log"));
  }
  WavRecording captured, offline;
  std::string error;
  ASSERT_TRUE(ReadWavRecording((folder / "captured/render.wav").string(), captured, error)) << error;
  ASSERT_TRUE(ReadWavRecording((folder / "offline/render.wav").string(), offline, error)) << error;

  const auto capturedFrames = static_cast<std::int64_t>(captured.Left.size());
  std::int64_t offlineStart = 0;  // where the run begins in each render
  std::int64_t capturedStart = 0;
  for (std::size_t r = 0; r < std::size(Runs); ++r) {
    SCOPED_TRACE("run " + std::to_string(r + 1));
    const std::int64_t runBuffers = Boundary(Runs[r].stopMillis);
    // A stopped stream may leave some of the pipeline's silence, and the
    // stop may land a buffer off: find the run's first buffer near where
    // the offline render puts it.
    if (r > 0) {
      const std::int64_t from = std::max<std::int64_t>(0, offlineStart - 2 * BufferFrames);
      const std::int64_t to = std::min(capturedFrames - BufferFrames, offlineStart + 2 * BufferFrames + 8820);
      std::int64_t found = -1;
      for (std::int64_t at = from; at <= to && found < 0; ++at) {
        std::int64_t unused = 0;
        if (SameFrames(captured, at, offline, offlineStart, BufferFrames, unused)) found = at;
      }
      ASSERT_GE(found, 0) << "the capture holds no start of this run within two buffers of frame " << offlineStart;
      std::printf("run %zu: starts at frame %lld of the capture, %lld of the offline render\n", r + 1,
                  static_cast<long long>(found), static_cast<long long>(offlineStart));
      capturedStart = found;
    }
    std::set<std::int64_t> nextToChange = {runBuffers - 1};
    for (std::uint64_t ms : Runs[r].changeMillis) {
      nextToChange.insert(Boundary(ms) - 1);
      nextToChange.insert(Boundary(ms));
    }
    const std::int64_t capturedLeft = capturedFrames - capturedStart;
    const std::int64_t frames = std::min(runBuffers * BufferFrames, capturedLeft);
    EXPECT_GE(capturedLeft, (runBuffers - 1) * BufferFrames) << "the capture of this run is short";
    for (std::int64_t b = 0; b * BufferFrames < frames; ++b) {
      const std::int64_t n = std::min(BufferFrames, frames - b * BufferFrames);
      std::int64_t at = 0;
      if (SameFrames(captured, capturedStart + b * BufferFrames, offline, offlineStart + b * BufferFrames, n, at)) {
        continue;
      }
      const auto o = static_cast<std::size_t>(offlineStart + b * BufferFrames + at);
      const auto c = static_cast<std::size_t>(capturedStart + b * BufferFrames + at);
      if (nextToChange.count(b) != 0) {
        std::printf("run %zu: buffer %lld differs, next to a change (first at offline frame %zu)\n", r + 1,
                    static_cast<long long>(b), o);
        continue;
      }
      FAIL() << "first differing frame: " << o << " of the offline render (" << offline.Left[o] << ","
             << offline.Right[o] << ") against frame " << c << " of the capture (" << captured.Left[c] << ","
             << captured.Right[c] << "), in buffer " << b << " of run " << r + 1;
    }
    offlineStart += runBuffers * BufferFrames;
    capturedStart += runBuffers * BufferFrames;
  }
  EXPECT_EQ(static_cast<std::int64_t>(offline.Left.size()), offlineStart);
  fs::remove_all(folder);
}

}  // namespace
