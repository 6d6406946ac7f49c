#include <windows.h>

#include "output/lifecycle.h"

// The platform calls this under its loader lock. Load and unload run the
// module's sequences; every notification reports success.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    ModuleAttach();
  } else if (reason == DLL_PROCESS_DETACH) {
    // reserved is non-null when the process is ending: its other threads are gone.
    ModuleDetach(reserved != nullptr);
  }
  return TRUE;
}
