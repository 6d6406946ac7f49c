// The plug-in's boundary with its host: the host's three callbacks, the
// action table, and the one way a text is handed to the host.
//
// All of it runs on the host's calling thread, one call at a time.
#pragma once

#include <cstdint>

#include "plugin/portable/action_table.h"  // ActionId and ActionTable

#define KQ_STDCALL __attribute__((stdcall))

// The host's functions. Each removes its own arguments; results are ignored.
using RegisterActionProc = std::int32_t(KQ_STDCALL*)(std::int32_t actionId, const char* name,
                                                     const char* description, std::int32_t paramFlag,
                                                     std::int32_t minusOne, std::int32_t paramFlagAgain);
using GetVariableProc = const char*(KQ_STDCALL*)(const char* name);
using SetVariableProc = std::int32_t(KQ_STDCALL*)(const char* name, const char* value);

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
