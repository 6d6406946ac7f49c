// Loads the plug-in DLL the way a host does and calls its entry points through
// a thunk that checks the stack, so a wrong calling convention fails a test
// instead of corrupting it. Windows test programs only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

constexpr const char* PluginFileName = "KalvixQuad_ORVANE_PRECISION.dll";

struct LoadedPlugin {
  HMODULE module = nullptr;
  FARPROC initPlugIn = nullptr;
  FARPROC registerPlugIn = nullptr;
  FARPROC execAction = nullptr;
  FARPROC editAction = nullptr;
  FARPROC message = nullptr;
};

// LoadLibrary of the DLL beside the test program and GetProcAddress of the
// five names; fields stay null where a step fails.
LoadedPlugin LoadPlugin();

struct CheckedResult {
  std::int32_t value;     // EAX after the call
  std::int32_t espDelta;  // ESP after the call minus ESP before pushing: 0 when the callee removed exactly its arguments
};

// Pushes args (first argument last, as stdcall does), calls fn, and reports
// the result and how the stack pointer moved.
CheckedResult CallChecked(FARPROC fn, const std::vector<std::int32_t>& args);

inline std::int32_t AsArg(const void* p) { return static_cast<std::int32_t>(reinterpret_cast<std::uintptr_t>(p)); }

// The host's get-variable and set-variable functions, as a test host provides them.
using GetVariableProc = const char*(__stdcall*)(const char* name);
using SetVariableProc = std::int32_t(__stdcall*)(const char* name, const char* value);

// One call of the host's register-action function, as a recording host keeps it.
struct RegisteredAction {
  std::int32_t id;
  std::string name;
  std::string description;
  std::int32_t flag;
  std::int32_t fifth;
  std::int32_t sixth;
  const char* nameBlock;
  const char* descriptionBlock;
};
