// The module's load and unload sequences, run by the library's entry routine
// on the loading thread under the platform's loader lock (see the loader-lock
// note in output/run_control.cpp).
#pragma once

// Brings the output up (heaps, registry, slots, run flags), sets the process
// locale (every category to the user's default, then numbers to "C", which
// the number texts rely on), gives the generator its load-time values and
// clears the host's callbacks. Entry routine only.
void ModuleAttach();

// Shuts the output down (OutputShutDown: a worker still playing is stopped
// first, bounded, unless the process is ending). Entry routine only.
void ModuleDetach(bool processEnding);
