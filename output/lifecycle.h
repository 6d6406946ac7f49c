// The module's load and unload sequences. Both run in the library's entry
// routine, on the loading thread, under the platform's loader lock.
#pragma once

// Creates the heaps, sets the locale, gives the generator its load-time
// values, allocates the buffer slots and clears the run flags and the host's
// callbacks.
void ModuleAttach();

// Closes the registered thread handles and destroys the heaps. processEnding
// is true when the process is exiting (its other threads already ended).
void ModuleDetach(bool processEnding);
