// The plug-in's boundary with its host: the host's three callbacks, the
// action table, and the one way a text is handed to the host.
//
// All of it runs on the host's calling thread, one call at a time.
#pragma once

#include <cstdint>

#include "plugin/function_types.h"
#include "plugin/portable/action_table.h"  // ActionId and ActionTable

// What the host gave at registration (function types in function_types.h).
struct HostCallbacksRecord {
  RegisterActionProc RegisterActionFn;
  std::int32_t HostContext;  // kept for the host, never read
  GetVariableProc GetVariableFn;
  SetVariableProc SetVariableFn;
};

// All 0 from module load until the host registers.
extern HostCallbacksRecord HostCallbacks;

// Copies a module text (UTF-16, zero-terminated; nullptr counts as empty) into
// a fresh fixed, zero-filled GlobalAlloc block in the system ANSI code page.
// Returns the block, which now belongs to the host, or nullptr when memory
// cannot be had. Every call makes a new block.
char* MakeHostText(const wchar_t* text);
