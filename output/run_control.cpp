#include "output/run_control.h"

#include "engine/generator_state.h"
#include "output/thread_registry.h"
#include "output/wave_stream.h"

RunControlRecord RunControl;
HANDLE WorkerDoneEvent = nullptr;

// A library unloaded by FreeLibrary is unmapped as soon as its entry routine
// returns, and that routine runs under the loader lock, which an ending thread
// also needs: the unload can therefore wait for WorkerDoneEvent but never for
// the worker's thread handle. Closing the device needs the loader lock too
// (the audio system ends a thread of its own), so the worker signals first and
// closes afterwards, by then outside the module: its last act is a jump into
// SetEvent that returns into waveOutClose (of the device it has already reset
// and emptied), which returns into ExitThread(0). Once the event is set, no
// instruction, data or heap block of the module is used again. With no device
// open, waveOutClose(null) merely answers an error.
DWORD WINAPI WorkerThreadEntry(LPVOID) {
  HWAVEOUT device = RunPlayback();
  HANDLE done = WorkerDoneEvent;
  // The system's own entry points (read from the import table), not thunks in this module.
  void* setEvent = reinterpret_cast<void*>(&SetEvent);
  void* closeDevice = reinterpret_cast<void*>(&waveOutClose);
  void* exitThread = reinterpret_cast<void*>(&ExitThread);
  asm volatile(
      "pushl $0\n\t"  // ExitThread's argument: the exit code
      "pushl $0\n\t"  // ExitThread's return address, never used
      "pushl %0\n\t"  // waveOutClose's argument
      "pushl %1\n\t"  // waveOutClose returns (removing its argument) into ExitThread
      "pushl %2\n\t"  // SetEvent's argument
      "pushl %3\n\t"  // SetEvent returns (removing its argument) into waveOutClose
      "jmp *%4"
      :
      : "r"(device), "r"(exitThread), "r"(done), "r"(closeDevice), "r"(setEvent)
      : "memory");
  __builtin_unreachable();
}

void StartPlayback() {
  if (RunControl.running != 0) return;
  ResetCounters();
  Store(OutputStream.stopRequested, 0);
  RunControl.workerThread = 0;
  // Without its slots or its done signal a worker could not run or could not
  // be unloaded safely: then no thread is created, as if creation had failed.
  if (OutputStream.slots != nullptr && WorkerDoneEvent != nullptr) {
    ResetEvent(WorkerDoneEvent);
    RunControl.workerThread = SpawnThread(&WorkerThreadEntry, nullptr);
    if (RunControl.workerThread == 0) SetEvent(WorkerDoneEvent);
  }
  RunControl.running = RunControl.workerThread != 0 ? 1 : 0;
}

namespace {
// Does nothing: queued to the worker, it only ends the worker's alertable
// poll delay early, so the stop request is seen at once.
void CALLBACK WakeWorker(ULONG_PTR) {}
}  // namespace

std::int32_t StopPlayback() {
  if (RunControl.running == 0) return 0;
  Store(OutputStream.stopRequested, 1);
  if (HANDLE worker = LiveThreadHandle(RunControl.workerThread); worker != nullptr) {
    QueueUserAPC(&WakeWorker, worker, 0);
  }
  if (RunControl.workerThread != 0) {
    JoinThreadForever(RunControl.workerThread);
    RunControl.workerThread = 0;
  }
  RunControl.running = 0;
  return 0;
}
