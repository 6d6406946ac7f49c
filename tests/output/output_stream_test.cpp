// The wave output stream and run control, driven through the module's own
// procedures in this program (no DLL), against the default ALSA device of
// this test: a file over the null device, so every consumed word can be read
// back and compared with the synthesis.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "output/heaps.h"
#include "output/lifecycle.h"
#include "output/run_control.h"
#include "output/thread_registry.h"
#include "output/wave_stream.h"
#include "tests/output/capture.h"
#include "tests/output/bounded_stop.h"
#include "tests/output/heap_probe.h"
#include "tests/support/channels.h"

namespace {

constexpr std::int64_t BytesPerSecond = 44100 * 4;
constexpr DWORD CaptureTimeoutMs = 30000;

struct Tone {
  const char* name;
  double freq[4];  // 1L, 1R, 2L, 2R in Hz
  double volume[4];
  double master[2];
  std::int32_t muted[2];
};

const double NaN = std::numeric_limits<double>::quiet_NaN();

const Tone Tones[] = {
    {"AllFourChannels", {440.0, 523.25, 1000.0, 6000.5}, {0.8, 0.6, 0.9, 0.7}, {1.0, 0.5}, {0, 0}},
    {"Generator2Muted", {440.0, 523.25, 1000.0, 6000.5}, {0.8, 0.6, 0.9, 0.7}, {1.0, 0.5}, {0, 1}},
    {"NaNFrequency", {NaN, 330.0, 20.0, 15000.0}, {1.0, 1.0, 1.0, 1.0}, {1.0, 1.0}, {0, 0}},
};

void PrintTo(const Tone& t, std::ostream* os) { *os << t.name; }

void Apply(const Tone& t) {
  GeneratorStateRecord& s = GeneratorState;
  SetChannels(t.freq, t.volume);
  Store(s.Gen1MasterVolume, t.master[0]);
  Store(s.Gen2MasterVolume, t.master[1]);
  Store(s.Gen1Muted, t.muted[0]);
  Store(s.Gen2Muted, t.muted[1]);
}

// What the module sent to the device, as far as it was played.
std::vector<std::int16_t> CapturedWords() {
  std::vector<std::int16_t> words = ReadCapture();
  DropResetSilence(words);
  return words;
}

// The words the synthesis gives from count 0 with the current settings, in
// ring-sized fills. Only while no worker runs: it resets the counters.
std::vector<std::int16_t> Reference(std::size_t words) {
  ResetCounters();
  std::vector<std::int16_t> out((words / (2 * FramesPerBuffer) + 1) * 2 * FramesPerBuffer);
  for (std::size_t at = 0; at < out.size(); at += 2 * FramesPerBuffer) FillBuffer(&out[at], FramesPerBuffer);
  out.resize(words);
  return out;
}

// The capture must be exactly the synthesis from count 0, word for word.
void ExpectCaptureIsSynthesis(const std::vector<std::int16_t>& captured) {
  std::vector<std::int16_t> expected = Reference(captured.size());
  for (std::size_t i = 0; i < captured.size(); ++i) {
    if (captured[i] != expected[i]) {
      std::size_t zeros = 0;
      while (i + zeros < captured.size() && captured[i + zeros] == 0) ++zeros;
      ADD_FAILURE() << zeros << " zero words from word " << i << "; word " << i << " (frame " << i / 2 << ") is "
                    << captured[i] << ", synthesis gives " << expected[i] << "; capture holds " << captured.size()
                    << " words";
      return;
    }
  }
}

void ExpectStreamClosed() {
  EXPECT_EQ(OutputStream.device, nullptr);
  for (int i = 0; i < SlotCount; ++i) {
    EXPECT_EQ(OutputStream.slots[i].buffer, nullptr) << "slot " << i;
    EXPECT_EQ(OutputStream.slots[i].header.dwFlags & WHDR_PREPARED, 0u) << "slot " << i << " still prepared";
  }
  EXPECT_EQ(BusyBlocks(BufferHeap), 0) << "PCM buffers left in BufferHeap";
}

// Open handles of this process, counted by probing the handle values (the
// system's own handle count is not available under Wine).
DWORD OpenHandles() {
  DWORD open = 0, flags = 0;
  for (std::uintptr_t value = 4; value < 0x4000; value += 4) {
    open += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
  }
  return open;
}

int RegisteredThreads() {
  int n = 0;
  for (ThreadEntry* e = ThreadRegistry.newest; e != nullptr; e = e->next) ++n;
  return n;
}

class OutputStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadDefaults();
    OutputStartUp();
    ASSERT_FALSE(CapturePath().empty()) << "KQ_CAPTURE is not set";
    ResetCapture();
  }
  void TearDown() override {
    EXPECT_TRUE(StopPlaybackWithin());
    FailBufferAllocationAt(0);
    OutputShutDown(false);
  }
};

TEST_F(OutputStreamTest, FormatAndBufferSizeFollowTheLoadTimeValues) {
  EXPECT_EQ(BufferBytes(), 8192);
  WAVEFORMATEX f = BuildWaveFormat();
  EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(f.nChannels, 2);
  EXPECT_EQ(f.nSamplesPerSec, 44100u);
  EXPECT_EQ(f.nBlockAlign, 4);
  EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(f.wBitsPerSample, 16);
  EXPECT_EQ(f.cbSize, 0);
}

class StreamContent : public OutputStreamTest, public ::testing::WithParamInterface<Tone> {};

// Several seconds through the real device path: prefill, polling, refills in
// slot order and in place, all must reproduce the synthesis exactly.
TEST_P(StreamContent, CaptureIsTheSynthesisFromCountZero) {
  Apply(GetParam());
  StartPlayback();
  ASSERT_EQ(RunControl.running, 1);
  const std::int64_t want = 6 * BytesPerSecond;
  bool reached = WaitForCapture(want, CaptureTimeoutMs);
  ASSERT_TRUE(StopPlaybackWithin());
  ASSERT_TRUE(reached) << "capture stopped at " << CaptureBytes() << " bytes";
  ExpectStreamClosed();
  std::vector<std::int16_t> captured = CapturedWords();
  ASSERT_GE(static_cast<std::int64_t>(captured.size()) * 2, want - 4 * 441) << "too little to compare";
  ExpectCaptureIsSynthesis(captured);
}

INSTANTIATE_TEST_SUITE_P(Tones, StreamContent, ::testing::ValuesIn(Tones),
                         [](const ::testing::TestParamInfo<Tone>& info) { return std::string(info.param.name); });

// The k-th buffer of the prefill cannot be had: the k-1 already queued are
// unprepared and freed, the device closed, and nothing was refilled.
TEST_F(OutputStreamTest, AllocationFailureInThePrefillClosesTheStream) {
  Apply(Tones[0]);
  for (std::int32_t k = 1; k <= SlotCount; ++k) {
    SCOPED_TRACE(::testing::Message() << "allocation " << k << " fails");
    ResetCounters();
    ClearStopRequest();
    FailBufferAllocationAt(k);
    EXPECT_EQ(RunPlaybackAndClose(), 0);
    FailBufferAllocationAt(0);
    EXPECT_EQ(Load(OutputStream.stopRequested), 1);
    ExpectStreamClosed();
    EXPECT_EQ(Load(GeneratorState.Gen1CounterLeft), (k - 1) * FramesPerBuffer);
    std::vector<std::int16_t> captured = CapturedWords();
    EXPECT_LE(captured.size(), static_cast<std::size_t>((k - 1) * 2 * FramesPerBuffer));
    ExpectCaptureIsSynthesis(captured);
  }
}

// A stop requested before the worker polls for the first time: the four
// buffers are still filled and queued, then the stream closes unrefilled.
TEST_F(OutputStreamTest, StopDuringThePrefillQueuesAllFourWithoutRefill) {
  Apply(Tones[0]);
  ResetCounters();
  RequestStop();
  EXPECT_EQ(RunPlaybackAndClose(), 0);
  EXPECT_EQ(Load(GeneratorState.Gen1CounterLeft), SlotCount * FramesPerBuffer);
  EXPECT_EQ(Load(GeneratorState.Gen2CounterRight), SlotCount * FramesPerBuffer);
  ExpectStreamClosed();
  std::vector<std::int16_t> captured = CapturedWords();
  EXPECT_LE(captured.size(), static_cast<std::size_t>(SlotCount * 2 * FramesPerBuffer));
  ExpectCaptureIsSynthesis(captured);
}

// Start, a second start, stop, a stop while idle, start again: one worker at a
// time, numbered 1 then 2, the first reaped by the second creation; counters
// restart from 0 while the settings (a mute set between the runs) persist.
TEST_F(OutputStreamTest, StartStopStartNumbersReapsAndRestartsTheCounters) {
  Apply(Tones[0]);
  StartPlayback();
  ASSERT_EQ(RunControl.workerThread, 1);
  ASSERT_TRUE(WaitForCapture(3 * 8192, CaptureTimeoutMs));
  ASSERT_NE(LiveThreadHandle(1), nullptr);

  const std::int64_t before = Load(GeneratorState.Gen1CounterLeft);
  StartPlayback();
  EXPECT_EQ(RunControl.workerThread, 1) << "a start while playing made a new worker";
  EXPECT_EQ(RegisteredThreads(), 1);
  EXPECT_GE(Load(GeneratorState.Gen1CounterLeft), before) << "a start while playing reset the counters";

  ASSERT_TRUE(StopPlaybackWithin());
  EXPECT_EQ(RunControl.running, 0);
  EXPECT_EQ(RunControl.workerThread, 0);
  EXPECT_EQ(Load(OutputStream.stopRequested), 1);
  EXPECT_EQ(LiveThreadHandle(1), nullptr);
  EXPECT_EQ(RegisteredThreads(), 1) << "the ended worker stays registered until the next creation";
  ExpectStreamClosed();

  ClearStopRequest();
  ASSERT_TRUE(StopPlaybackWithin());
  EXPECT_EQ(Load(OutputStream.stopRequested), 0) << "a stop while idle touched the stop request";

  Store(GeneratorState.Gen1Muted, 1);
  ResetCapture();
  StartPlayback();
  EXPECT_EQ(RunControl.workerThread, 2);
  ASSERT_EQ(RegisteredThreads(), 1);
  EXPECT_EQ(ThreadRegistry.newest->number, 2);

  bool reached = WaitForCapture(2 * BytesPerSecond, CaptureTimeoutMs);
  ASSERT_TRUE(StopPlaybackWithin());
  ASSERT_TRUE(reached);
  EXPECT_EQ(Load(GeneratorState.Gen1CounterLeft), 0) << "the mute did not persist";
  std::vector<std::int16_t> captured = CapturedWords();
  ExpectCaptureIsSynthesis(captured);
}

// Reaping closes the handles of ended workers: many runs leave no pile of
// thread handles behind (a leak would add one per run).
TEST_F(OutputStreamTest, RunsDoNotAccumulateThreadHandles) {
  constexpr DWORD Runs = 30;
  StartPlayback();
  ASSERT_TRUE(StopPlaybackWithin());
  DWORD before = OpenHandles(), after = 0;
  for (DWORD i = 0; i < Runs; ++i) {
    StartPlayback();
    ASSERT_TRUE(StopPlaybackWithin());
  }
  after = OpenHandles();
  EXPECT_LT(after, before + Runs / 3) << before << " handles before the runs, " << after << " after";
  EXPECT_EQ(RegisteredThreads(), 1);
}

// Without memory for its registry entry or without its slots no worker is
// created (it could not be joined, or could not play), and a failed creation
// spends no thread number.
TEST_F(OutputStreamTest, NoWorkerWithoutMemoryForItAndNoNumberSpent) {
  HANDLE runtimeHeap = RuntimeHeap;
  RuntimeHeap = nullptr;
  StartPlayback();
  RuntimeHeap = runtimeHeap;
  EXPECT_EQ(RunControl.running, 0);
  EXPECT_EQ(RunControl.workerThread, 0);

  BufferSlot* slots = OutputStream.slots;
  OutputStream.slots = nullptr;
  StartPlayback();
  OutputStream.slots = slots;
  EXPECT_EQ(RunControl.running, 0);
  EXPECT_EQ(RunControl.workerThread, 0);
  EXPECT_EQ(RegisteredThreads(), 0);

  StartPlayback();
  EXPECT_EQ(RunControl.running, 1);
  EXPECT_EQ(RunControl.workerThread, 1);
}

}  // namespace
