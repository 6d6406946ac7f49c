// Starting and stopping playback on the host's request. Both run on the
// host's thread, one call at a time.
#pragma once

#include <cstdint>

// Resets the counters and creates the one worker unless playback is running.
void StartPlayback();

// Asks the worker to stop and waits until it has closed the device; does
// nothing while idle. Returns 0.
std::int32_t StopPlayback();
