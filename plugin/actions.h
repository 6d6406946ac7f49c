// The plug-in's side of running an action: the Windows boundary around the
// portable action steps (plugin/portable/run_action.h). It reads the host's
// ANSI parameter texts, asks the host's get-variable function for bracketed
// names, and hands published variables to the host's set-variable function
// as GlobalAlloc texts. Everything here runs on the host's calling thread,
// one call at a time.
#pragma once

#include <cstdint>

#include "plugin/host_interface.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "module texts are UTF-16");

// Runs the action with this id; paramCell as for _nbExecAction. Returns 1 when
// the id is one of the sixteen, else 0 (nothing read or changed). A setting
// action with a null paramCell answers 1 and does nothing else.
std::int32_t ExecuteAction(ActionId actionId, const char* const* paramCell);

// Hands name and value to the host's set-variable function as fresh host
// texts; does nothing, and makes no text, when the host has none.
void PublishVariable(const char16_t* name, const char16_t* value);

// MakeHostText for the portable module texts, which are UTF-16 like wchar_t here.
inline char* MakeHostText(const char16_t* text) { return MakeHostText(reinterpret_cast<const wchar_t*>(text)); }
