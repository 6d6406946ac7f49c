// The DLL loaded and unloaded as a host does it, while sound plays: the host
// must neither crash nor hang, and the sound must stop with the unload.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/output/capture.h"
#include "tests/support/checked_calls.h"
#include "tests/support/plugin_loader.h"

namespace {

constexpr DWORD CaptureTimeoutMs = 20000;
constexpr std::int64_t SomeBuffers = 3 * 8192;

// A tone that makes nonzero words, so growth of the capture is real sound.
LoadedPlugin LoadAndStart() {
  ResetCapture();
  LoadedPlugin p = LoadPlugin();
  if (p.module == nullptr) return p;
  Exec(p, 1010, "440");
  Exec(p, 1012, "80");
  Exec(p, 1000);
  return p;
}

// Unloads and reports how long FreeLibrary took, in milliseconds.
ULONGLONG TimedUnload(HMODULE module) {
  ULONGLONG t0 = GetTickCount64();
  EXPECT_TRUE(FreeLibrary(module));
  return GetTickCount64() - t0;
}

// From `since` (a capture size) on, while the host goes on for a second, the
// capture may gain only the one period of silence that Wine's pipeline writes
// when a stream that was reset is closed, and then no more.
void ExpectSilenceSince(std::int64_t since) {
  Sleep(1000);
  std::vector<std::int16_t> words = ReadCapture();
  const std::size_t from = static_cast<std::size_t>(since / 2);
  ASSERT_GE(words.size(), from);
  EXPECT_LE(words.size() - from, 2u * 441u) << "sound went on";
  std::size_t nonzero = 0;
  for (std::size_t i = from; i < words.size(); ++i) nonzero += words[i] != 0;
  EXPECT_EQ(nonzero, 0u) << "sound went on";
  std::int64_t settled = CaptureBytes();
  Sleep(300);
  EXPECT_EQ(CaptureBytes(), settled) << "the capture still grows";
}

// After the unload returns: the DLL is gone and so is the sound.
void ExpectSilenceAfterUnload() {
  EXPECT_EQ(GetModuleHandleA(PluginFileName), nullptr) << "the DLL is still loaded";
  ExpectSilenceSince(CaptureBytes());
}

class Unload : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(CapturePath().empty()) << "KQ_CAPTURE is not set"; }
};

TEST_F(Unload, WhilePlayingStopsTheSoundAndTheHostCarriesOn) {
  LoadedPlugin p = LoadAndStart();
  ASSERT_NE(p.module, nullptr);
  ASSERT_TRUE(WaitForCapture(SomeBuffers, CaptureTimeoutMs));
  ULONGLONG ms = TimedUnload(p.module);
  // Well under the bounded wait: the worker stopped and signalled, no forced end.
  EXPECT_LT(ms, 1000u);
  ExpectSilenceAfterUnload();
}

// The worker may still be opening the device (which can need the loader
// lock the unload holds) when the unload begins.
TEST_F(Unload, RightAfterTheStart) {
  LoadedPlugin p = LoadAndStart();
  ASSERT_NE(p.module, nullptr);
  ULONGLONG ms = TimedUnload(p.module);
  std::printf("unload right after the start took %llu ms\n", ms);
  ExpectSilenceAfterUnload();
}

// The usual sequence (stop, then unload) still works, and a new load
// starts from a fresh module that plays again.
TEST_F(Unload, AfterAStopAndAgainAfterAReload) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(::testing::Message() << "load " << round + 1);
    LoadedPlugin p = LoadAndStart();
    ASSERT_NE(p.module, nullptr);
    ASSERT_TRUE(WaitForCapture(SomeBuffers, CaptureTimeoutMs));
    ASSERT_NE(StopWithin(p), -1) << "the stop did not return";
    std::int64_t atStop = CaptureBytes();
    TimedUnload(p.module);
    EXPECT_EQ(GetModuleHandleA(PluginFileName), nullptr) << "the DLL is still loaded";
    ExpectSilenceSince(atStop);
  }
}

// Run in a child process only: exits with the DLL loaded and playing.
TEST(UnloadChild, ExitWhilePlaying) {
  if (std::getenv("KQ_UNLOAD_CHILD") == nullptr) GTEST_SKIP() << "child process only";
  LoadedPlugin p = LoadAndStart();
  ASSERT_NE(p.module, nullptr);
  ASSERT_TRUE(WaitForCapture(SomeBuffers, CaptureTimeoutMs));
}

// A host that exits while sound plays: the process-exit path must neither
// hang nor crash.
TEST_F(Unload, ProcessExitWhilePlayingEndsCleanly) {
  char self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
  std::string command = std::string("\"") + self + "\" --gtest_filter=UnloadChild.*";
  ASSERT_TRUE(SetEnvironmentVariableA("KQ_UNLOAD_CHILD", "1"));
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  BOOL created = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableA("KQ_UNLOAD_CHILD", nullptr);
  ASSERT_TRUE(created) << GetLastError();
  DWORD waited = WaitForSingleObject(pi.hProcess, 30000);
  if (waited != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
  DWORD code = 12345;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "the child hung at exit";
  EXPECT_EQ(code, 0u);
  std::int64_t atExit = CaptureBytes();
  EXPECT_GE(atExit, SomeBuffers) << "the child did not play";
  ExpectSilenceSince(atExit);
}

}  // namespace
