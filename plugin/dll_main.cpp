#include <windows.h>

#include "plugin/module.h"

// The platform calls this under its loader lock. Load and unload run the
// module's sequences; every notification reports success. An unload by
// FreeLibrary (reserved null) while sound plays stops the worker first,
// within a bounded wait (see OutputShutDown); at process exit (reserved
// non-null) the other threads are already gone and nothing is waited for.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    ModuleAttach();
  } else if (reason == DLL_PROCESS_DETACH) {
    ModuleDetach(reserved != nullptr);
  }
  return TRUE;
}
