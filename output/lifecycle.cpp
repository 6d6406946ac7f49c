#include "output/lifecycle.h"

#include <windows.h>

#include "output/heaps.h"
#include "output/run_control.h"
#include "output/thread_registry.h"
#include "output/wave_stream.h"

namespace {
// A host may unload the library while sound plays. The heaps hold the ring
// that the worker and the device use, and the module's code is unmapped when
// the entry routine returns, so the worker is asked to stop and the routine
// waits, bounded, for WorkerDoneEvent, which the worker sets only after it has
// reset the device, freed the buffers and left the module's code (the
// loader-lock note in run_control.cpp tells why it cannot wait for more).
// Returns true when no worker can touch the heaps any more. When the wait
// fails, the worker is ended by force (returning into unmapped code would
// crash the host) and the heaps are kept, since the device may still read
// them: leaking is preferred to freeing memory in use.
bool StopWorkerForUnload() {
  if (RunControl.running == 0) return true;
  RequestStop();
  if (WaitForSingleObject(WorkerDoneEvent, UnloadStopTimeoutMs) == WAIT_OBJECT_0) return true;
  HANDLE worker = LiveThreadHandle(RunControl.workerThread);
  if (worker != nullptr) {
    TerminateThread(worker, 0);
    // TerminateThread only starts the end: wait, bounded, until the thread no
    // longer runs the module's code (an ended thread needs no loader lock).
    WaitForSingleObject(worker, UnloadStopTimeoutMs);
  }
  return false;
}
}  // namespace

void OutputStartUp() {
  RuntimeHeap = CreatePrivateHeap();
  BufferHeap = CreatePrivateHeap();
  InitThreadRegistry();
  OutputStream.device = nullptr;
  OutputStream.slots = static_cast<BufferSlot*>(HeapAllocZeroed(RuntimeHeap, SlotCount * sizeof(BufferSlot)));
  // Signalled: no worker exists yet.
  WorkerDoneEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  PrepareWorkerExit();
  // A worker outlives an unload by FreeLibrary inside waveOutClose, so the
  // multimedia library must not be unloaded with this one: it stays loaded
  // for the life of the process.
  HMODULE multimedia = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"winmm.dll", &multimedia);
  ClearStopRequest();
  ResetRunControl();
}

void OutputShutDown(bool processEnding) {
  // At process exit the other threads are already gone: nothing to wait for.
  bool heapsUnused = processEnding || StopWorkerForUnload();
  // At process exit no thread is left; otherwise a worker that has signalled
  // may still be on its way out through the exit path.
  ReleaseWorkerExit(!processEnding && LiveThreadHandle(RunControl.workerThread) != nullptr);
  CloseThreadHandles();
  if (heapsUnused) {
    DestroyPrivateHeap(BufferHeap);
    DestroyPrivateHeap(RuntimeHeap);
  }
  BufferHeap = RuntimeHeap = nullptr;
  OutputStream.slots = nullptr;
  DeleteThreadRegistryLock();
  if (WorkerDoneEvent != nullptr) CloseHandle(WorkerDoneEvent);
  WorkerDoneEvent = nullptr;
  ResetRunControl();
}
