// StopPlayback waits for the worker without a time-out, on purpose; a test
// runs it on a thread of its own and waits for that, bounded.
#pragma once

#include <windows.h>

#include "output/run_control.h"
#include "tests/support/call_within.h"

// Runs StopPlayback to its end within `timeoutMs`; false when it did not
// return in time (the stop thread is then left behind).
inline bool StopPlaybackWithin(DWORD timeoutMs = 10000) {
  // The answer itself is not checked here; 0 marks that the call returned.
  return CallWithin(
             [] {
               StopPlayback();
               return std::int32_t{0};
             },
             timeoutMs) == 0;
}
