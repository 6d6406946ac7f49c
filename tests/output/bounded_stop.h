// StopPlayback waits for the worker without a time-out, on purpose; a test
// runs it on a thread of its own and waits for that, bounded.
#pragma once

#include <windows.h>

#include "output/run_control.h"

// Runs StopPlayback to its end within `timeoutMs`; false when it did not
// return in time (the stop thread is then left behind).
inline DWORD WINAPI RunStopPlayback(LPVOID) { return static_cast<DWORD>(StopPlayback()); }
inline bool StopPlaybackWithin(DWORD timeoutMs = 10000) {
  HANDLE stopper = CreateThread(nullptr, 0, &RunStopPlayback, nullptr, 0, nullptr);
  if (stopper == nullptr) return false;
  bool done = WaitForSingleObject(stopper, timeoutMs) == WAIT_OBJECT_0;
  CloseHandle(stopper);
  return done;
}
