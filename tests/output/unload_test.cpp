// The DLL loaded and unloaded as a host does it, while sound plays: the host
// must neither crash nor hang, and the sound must stop with the unload.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/output/capture.h"
#include "tests/support/plugin_loader.h"

namespace {

constexpr DWORD CaptureTimeoutMs = 20000;
constexpr std::int64_t SomeBuffers = 3 * 8192;

std::int32_t Exec(const LoadedPlugin& p, std::int32_t action, const char* text = nullptr) {
  const char* cell = text;
  CheckedResult r = CallChecked(p.execAction, {action, AsArg(text != nullptr ? &cell : nullptr)});
  EXPECT_EQ(r.espDelta, 0);
  return r.value;
}

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

// After the unload returns, the capture must not grow while the host goes on.
void ExpectSilenceAfterUnload() {
  EXPECT_EQ(GetModuleHandleA(PluginFileName), nullptr) << "the DLL is still loaded";
  std::int64_t atUnload = CaptureBytes();
  Sleep(1000);
  EXPECT_EQ(CaptureBytes(), atUnload) << "sound went on after the unload";
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

// The designed sequence (stop, then unload) still works, and a new load
// starts from a fresh module that plays again.
TEST_F(Unload, AfterAStopAndAgainAfterAReload) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(::testing::Message() << "load " << round + 1);
    LoadedPlugin p = LoadAndStart();
    ASSERT_NE(p.module, nullptr);
    ASSERT_TRUE(WaitForCapture(SomeBuffers, CaptureTimeoutMs));
    Exec(p, 1001);
    std::int64_t atStop = CaptureBytes();
    TimedUnload(p.module);
    EXPECT_EQ(CaptureBytes(), atStop);
    ExpectSilenceAfterUnload();
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
  Sleep(500);
  EXPECT_EQ(CaptureBytes(), atExit);
}

}  // namespace
