// Starting and stopping playback on the host's request. Both run on the
// host's thread, one call at a time.
#pragma once

#include <windows.h>

#include <cstdint>

struct RunControlRecord {
  // 1 from a start that created the worker until the next stop; a worker
  // that fails on its own leaves it at 1 (the Stalled state).
  std::int32_t running;
  std::int32_t workerThread;  // the worker's registry number; 0 when none
};

extern RunControlRecord RunControl;

// Manual-reset event, signalled while no worker exists and by every worker as
// the very last thing it does, once it has left the module's code. Created by
// the load sequence; null if the system refused, and then nothing starts.
extern HANDLE WorkerDoneEvent;

// The routine of every worker thread: runs the playback (RunPlayback) until
// the stream is reset and emptied, signals WorkerDoneEvent, then closes the
// device and ends the thread without returning into the module. The
// parameter is not read; exit code 0.
DWORD WINAPI PlaybackWorker(LPVOID parameter);

// Makes ready what a worker needs to leave the module's code at its end (on
// x64 a tail stub in a page outside the module's image). Returns false when
// the system refused; then no worker is started. Load sequence only.
bool PrepareWorkerExit();

// Gives back what PrepareWorkerExit made, unless workerMayRun says that a
// worker thread may still be executing it (then it is left to the process).
// Unload sequence only.
void ReleaseWorkerExit(bool workerMayRun);

// True between a successful PrepareWorkerExit and ReleaseWorkerExit (always
// on x86, whose exit chain needs nothing). Host's thread.
bool WorkerExitReady();

// Both fields to 0: no worker, not running. Load and unload sequences only.
void ResetRunControl();

// Resets the counters and creates the one worker unless playback is running.
void StartPlayback();

// Asks the worker to stop and waits until it has closed the device; does
// nothing while idle. Returns 0.
std::int32_t StopPlayback();
