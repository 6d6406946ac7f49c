// The host's three functions that the plug-in calls, and ownership of the
// text blocks the plug-in hands over: every block belongs to the host, is
// kept, and is freed once, after the plug-in is unloaded.
//
// All of it runs on the host's own thread.
#pragma once

#include <cstdint>
#include <string>

#include "host/script.h"
#include "plugin/function_types.h"

// The record the callbacks reach (actions, variables, messages); kept by
// reference for the process's life.
void UseHostRecord(ScriptHostRecord& host);

std::int32_t KQ_STDCALL HostRegisterAction(std::int32_t id, const char* name, const char* description,
                                           std::int32_t paramFlag, std::int32_t, std::int32_t);
// Unknown variables answer 0. The answer stays valid until the variable is set again.
const char* KQ_STDCALL HostGetVariable(const char* name);
std::int32_t KQ_STDCALL HostSetVariable(const char* name, const char* value);

// A block's text (nullptr: empty); the block is kept for FreeHostBlocks.
std::string TextOf(const char* block);
// Frees every block kept, once each. Call after the plug-in is unloaded.
void FreeHostBlocks();
