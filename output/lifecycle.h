// The audio output's part of the module's load and unload sequences (the
// plug-in's ModuleAttach and ModuleDetach run them). Both run in the
// library's entry routine, on the loading thread, under the platform's loader
// lock (see the loader-lock note in output/run_control.cpp).
#pragma once

#include <cstdint>

// How long an unload by FreeLibrary waits for a still-running worker to close
// the device before giving up on it, in milliseconds.
constexpr std::uint32_t UnloadStopTimeoutMs = 2000;

// Creates the heaps, the thread registry, the buffer slots, the worker's done
// signal and exit path, and clears the run flags. Load sequence (or a test
// program standing in for it) only.
void OutputStartUp();

// Closes the registered thread handles and destroys the heaps. processEnding
// is true when the process is exiting (its other threads already ended);
// otherwise a worker still playing is stopped first, within a bounded wait.
// A worker that cannot be stopped in time is ended by force and the heaps it
// may still use are left to the process instead of destroyed. Unload
// sequence (or a test program standing in for it) only.
void OutputShutDown(bool processEnding);
