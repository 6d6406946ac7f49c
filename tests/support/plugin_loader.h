// Loads the plug-in DLL the way a host does and calls its entry points. On x86
// the call goes through a thunk that checks the stack, so a wrong calling
// convention fails a test instead of corrupting it; x64 has one convention, in
// which the caller owns the stack, and there the export table is what the
// tests check. Windows test programs only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/function_types.h"
#include "tests/support/call_within.h"

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

// One argument as the entry points receive it: a number or an address, 32
// bits on x86 and 64 on x64.
using HostArg = std::intptr_t;

// True where the stack-balance check means something (x86 only).
constexpr bool StackBalanceCheckable = sizeof(void*) == 4;

struct CheckedResult {
  std::int32_t value;  // EAX after the call
  // x86: ESP after the call minus ESP before pushing: 0 when the callee
  // removed exactly its arguments. Always 0 on x64.
  std::int32_t espDelta;
};

// x86: pushes args (first argument last, as stdcall does), calls fn, and
// reports the result and how the stack pointer moved. x64: an ordinary call
// with up to four arguments.
CheckedResult CallChecked(FARPROC fn, const std::vector<HostArg>& args);

// The callee removed exactly its arguments; checked only where that can fail.
#define EXPECT_STACK_BALANCED(r)          \
  if constexpr (!StackBalanceCheckable) { \
  } else                                  \
    EXPECT_EQ((r).espDelta, 0)
#define ASSERT_STACK_BALANCED(r)          \
  if constexpr (!StackBalanceCheckable) { \
  } else                                  \
    ASSERT_EQ((r).espDelta, 0)

inline HostArg AsArg(const void* p) { return reinterpret_cast<HostArg>(p); }

// Registers a test host through the stack check: its register-action function
// (null for none), a context and its get-variable and set-variable functions
// (either may be null).
CheckedResult RegisterChecked(const LoadedPlugin& p, RegisterActionProc registerAction, GetVariableProc get,
                              SetVariableProc set, HostArg hostContext = 0);

// Runs an action through the stack check with its parameter cell at
// `cellAddress` (0 for none).
CheckedResult ExecCellChecked(const LoadedPlugin& p, std::int32_t id, HostArg cellAddress);
// Runs an action through the stack check with a cell holding the text's
// address (no cell for nullptr).
CheckedResult ExecChecked(const LoadedPlugin& p, std::int32_t id, const char* text = nullptr);

// "Kalvix_Stop" waits for the worker without a time-out; runs it with
// CallWithin. Returns the action's answer (-3 when it left the stack
// unbalanced), or -1 when it did not return in time.
std::int32_t StopWithin(const LoadedPlugin& p, DWORD timeoutMs = 10000);

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
