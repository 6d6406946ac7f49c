// The module's load and unload sequences. Both run in the library's entry
// routine, on the loading thread, under the platform's loader lock.
#pragma once

#include <cstdint>

// How long an unload by FreeLibrary waits for a still-running worker to close
// the device before giving up on it, in milliseconds.
constexpr std::uint32_t UnloadStopTimeoutMs = 2000;

// Creates the heaps, sets the locale, gives the generator its load-time
// values, allocates the buffer slots and clears the run flags and the host's
// callbacks. Entry routine (or a test program standing in for it) only.
void ModuleAttach();

// Closes the registered thread handles and destroys the heaps. processEnding
// is true when the process is exiting (its other threads already ended);
// otherwise a worker still playing is stopped first, within a bounded wait.
// Entry routine (or a test program standing in for it) only.
void ModuleDetach(bool processEnding);
