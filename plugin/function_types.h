// The plug-in's boundary as function types: the host's three callbacks and
// the plug-in's five entry points. Shared by the plug-in, the host program
// and the test host, so both sides of each call agree on one declaration.
//
// Every argument and result is one register-sized value. On x86 each function
// removes its own arguments (stdcall); x64 has one calling convention, which
// the attribute leaves as it is.
#pragma once

#include <cstdint>

#define KQ_STDCALL __attribute__((stdcall))

// The host's functions. Results are ignored by the plug-in.
using RegisterActionProc = std::int32_t(KQ_STDCALL*)(std::int32_t actionId, const char* name, const char* description,
                                                     std::int32_t paramFlag, std::int32_t minusOne,
                                                     std::int32_t paramFlagAgain);
using GetVariableProc = const char*(KQ_STDCALL*)(const char* name);
using SetVariableProc = std::int32_t(KQ_STDCALL*)(const char* name, const char* value);

// The plug-in's exports, as the host calls them through GetProcAddress.
using InitPlugInProc = std::int32_t(KQ_STDCALL*)(std::int32_t unused, char** nameCell, char** authorCell,
                                                 char** descriptionCell);
using RegisterPlugInProc = std::int32_t(KQ_STDCALL*)(RegisterActionProc registerAction, std::int32_t hostContext,
                                                     GetVariableProc getVariable, SetVariableProc setVariable);
using ExecActionProc = std::int32_t(KQ_STDCALL*)(std::int32_t actionId, const char* const* paramCell);
using EditActionProc = std::int32_t(KQ_STDCALL*)();
using MessageProc = std::int32_t(KQ_STDCALL*)(std::int32_t first, std::int32_t second);
