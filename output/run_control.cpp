#include "output/run_control.h"

#include <cstring>

#include "engine/generator_state.h"
#include "output/thread_registry.h"
#include "output/wave_stream.h"

RunControlRecord RunControl;
HANDLE WorkerDoneEvent = nullptr;

// The loader lock. A library unloaded by FreeLibrary is unmapped as soon as
// its entry routine returns, and that routine runs under the platform's loader
// lock, which an ending thread also needs (and so does a thread that is only
// beginning, and one opening the device): the unload can therefore wait for
// WorkerDoneEvent but never for the worker's thread handle, and a worker held
// back by the lock can only be ended by force (the unload's side of this is
// StopWorkerForUnload, in lifecycle.cpp). Closing the device needs the loader lock too
// (the audio system ends a thread of its own), so the worker signals first and
// closes afterwards, by then outside the module: SetEvent, waveOutClose (of
// the device it has already reset and emptied) and ExitThread(0), with no
// instruction of the module run between them. Once the event is set, no
// instruction, data or heap block of the module is used again. With no device
// open, waveOutClose(null) merely answers an error. The system's own entry
// points are taken from the import table, not thunks in this module.
//
// x86: arguments travel on the stack, so the three calls are chained through
// return addresses: the worker jumps into SetEvent, which returns (removing
// its argument) into waveOutClose, which returns into ExitThread.
//
// x64: arguments travel in volatile registers, which no return-address chain
// can load, so the three calls are made by a tail stub of a few instructions
// that lives in a page of its own outside the module's image (WorkerTail). The
// worker puts the event in rcx, the device and the last two entry points in
// callee-saved registers (which SetEvent and waveOutClose preserve), aligns
// its stack and jumps to the stub. The unload cannot unmap that page; it is
// freed only once no worker thread is left that could be running it.
#if defined(__x86_64__)
namespace {
// The stub's instructions, assembled with the module and copied out at load.
// Entered by a jump with rsp 16-byte aligned, rcx = done event, rax = SetEvent,
// rbx = device, rsi = waveOutClose, rdi = ExitThread.
extern "C" const unsigned char WorkerTailCode[];
extern "C" const unsigned char WorkerTailCodeEnd[];
asm(R"(
  .text
  .p2align 4
WorkerTailCode:
  subq $32, %rsp      # the callees' register home area; rsp stays 16-byte aligned at each call
  call *%rax          # SetEvent(done)
  movq %rbx, %rcx
  call *%rsi          # waveOutClose(device)
  xorl %ecx, %ecx
  call *%rdi          # ExitThread(0): does not return
  int3
WorkerTailCodeEnd:
)");

void* WorkerTail = nullptr;
}  // namespace

DWORD WINAPI PlaybackWorker(LPVOID) {
  HWAVEOUT device = RunPlayback();
  HANDLE done = WorkerDoneEvent;
  void* tail = WorkerTail;
  void* setEvent = reinterpret_cast<void*>(&SetEvent);
  void* closeDevice = reinterpret_cast<void*>(&waveOutClose);
  void* exitThread = reinterpret_cast<void*>(&ExitThread);
  asm volatile(
      "andq $-16, %%rsp\n\t"
      "jmp *%%rdx"
      :
      : "c"(done), "a"(setEvent), "b"(device), "S"(closeDevice), "D"(exitThread), "d"(tail)
      : "memory");
  __builtin_unreachable();
}

bool PrepareWorkerExit() {
  if (WorkerTail != nullptr) return true;
  const auto bytes = static_cast<SIZE_T>(WorkerTailCodeEnd - WorkerTailCode);
  void* page = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  if (page == nullptr) return false;
  std::memcpy(page, WorkerTailCode, bytes);
  DWORD previous = 0;
  if (!VirtualProtect(page, bytes, PAGE_EXECUTE_READ, &previous)) {
    VirtualFree(page, 0, MEM_RELEASE);
    return false;
  }
  FlushInstructionCache(GetCurrentProcess(), page, bytes);
  WorkerTail = page;
  return true;
}

void ReleaseWorkerExit(bool workerMayRun) {
  // A worker that has signalled may still be inside the stub, in waveOutClose
  // or on its way into ExitThread: then the page is left to the process.
  if (WorkerTail != nullptr && !workerMayRun) VirtualFree(WorkerTail, 0, MEM_RELEASE);
  WorkerTail = nullptr;
}

bool WorkerExitReady() { return WorkerTail != nullptr; }
#else
DWORD WINAPI PlaybackWorker(LPVOID) {
  HWAVEOUT device = RunPlayback();
  HANDLE done = WorkerDoneEvent;
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

// The x86 exit chain needs nothing beyond the module's imports.
bool PrepareWorkerExit() { return true; }
void ReleaseWorkerExit(bool) {}
bool WorkerExitReady() { return true; }
#endif

void StartPlayback() {
  if (RunControl.running != 0) return;
  ResetCounters();
  ClearStopRequest();
  RunControl.workerThread = 0;
  // Without its slots or its done signal a worker could not run or could not
  // be unloaded safely: then no thread is created, as if creation had failed.
  if (OutputStream.slots != nullptr && WorkerDoneEvent != nullptr && WorkerExitReady()) {
    ResetEvent(WorkerDoneEvent);
    RunControl.workerThread = SpawnThread(&PlaybackWorker, nullptr);
    if (RunControl.workerThread == 0) SetEvent(WorkerDoneEvent);
  }
  RunControl.running = RunControl.workerThread != 0 ? 1 : 0;
}

namespace {
// Does nothing: queued to the worker, it only ends the worker's alertable
// poll delay early, so the stop request is seen at once.
void CALLBACK WakeWorker(ULONG_PTR) {}
}  // namespace

void ResetRunControl() {
  RunControl.workerThread = 0;
  RunControl.running = 0;
}

std::int32_t StopPlayback() {
  if (RunControl.running == 0) return 0;
  RequestStop();
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
