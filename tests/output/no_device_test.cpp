// Playback with no usable output device (this test's ALSA configuration has
// no default device): the worker ends on its own and run control stays
// Stalled until a stop, after which a start tries again.
#include <gtest/gtest.h>

#include "engine/generator_state.h"
#include "output/heaps.h"
#include "output/lifecycle.h"
#include "output/run_control.h"
#include "output/thread_registry.h"
#include "output/wave_stream.h"
#include "tests/output/bounded_stop.h"
#include "tests/output/heap_probe.h"

namespace {

constexpr DWORD WorkerEndTimeoutMs = 10000;

class NoDevice : public ::testing::Test {
 protected:
  void SetUp() override {
    LoadDefaults();
    OutputStartUp();
    Store(GeneratorState.Gen1FreqLeft, 440.0);
  }
  void TearDown() override {
    EXPECT_TRUE(StopPlaybackWithin());
    OutputShutDown(false);
  }
};

TEST_F(NoDevice, WorkerEndsAtOnceWithoutABuffer) {
  EXPECT_EQ(RunPlaybackAndClose(), 0);
  EXPECT_EQ(OutputStream.device, nullptr);
  EXPECT_EQ(Load(OutputStream.stopRequested), 1);
  EXPECT_EQ(BusyBlocks(BufferHeap), 0);
  EXPECT_EQ(Load(GeneratorState.Gen1CounterLeft), 0) << "something was synthesized";
  for (int i = 0; i < SlotCount; ++i) EXPECT_EQ(OutputStream.slots[i].buffer, nullptr);
}

TEST_F(NoDevice, StalledUntilAStopThenAStartTriesAgain) {
  StartPlayback();
  EXPECT_EQ(RunControl.running, 1);
  ASSERT_EQ(RunControl.workerThread, 1);
  ASSERT_EQ(JoinThread(1, WorkerEndTimeoutMs), 1) << "the worker did not end on its own";
  EXPECT_EQ(Load(OutputStream.stopRequested), 1);

  // Stalled: a start does nothing (it would clear the stop request).
  StartPlayback();
  EXPECT_EQ(RunControl.running, 1);
  EXPECT_EQ(RunControl.workerThread, 1);
  EXPECT_EQ(Load(OutputStream.stopRequested), 1);
  EXPECT_EQ(ThreadRegistry.nextNumber, 2);

  ASSERT_TRUE(StopPlaybackWithin(1000)) << "a stop in the Stalled state did not return at once";
  EXPECT_EQ(RunControl.running, 0);
  EXPECT_EQ(RunControl.workerThread, 0);

  StartPlayback();
  EXPECT_EQ(RunControl.running, 1);
  EXPECT_EQ(RunControl.workerThread, 2);
  EXPECT_EQ(JoinThread(2, WorkerEndTimeoutMs), 1);
}

}  // namespace
