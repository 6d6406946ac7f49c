// What an action does when the host runs it: start and stop, the mute
// switches, and the ten settings, which are evaluated, stored and published
// back to the host. Everything here runs on the host's calling thread, one
// call at a time.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/host_interface.h"

// Runs the action with this id; paramCell as for _nbExecAction. Returns 1 when
// the id is one of the sixteen, else 0 (nothing read or changed). A setting
// action with a null paramCell answers 1 and does nothing else.
std::int32_t ExecuteAction(ActionId actionId, const char* const* paramCell);

// The parameter as a module text: the host's ANSI text (nullptr = empty)
// converted with the system code page, or, for "[name]" while the host has a
// get-variable function, that variable's value (empty when the host has
// none). One level only; the host's answer is copied before returning.
std::wstring EvaluateParameter(const char* text);

// The parameter's number in Hz, unchecked: zero, negative, NaN and the
// infinities come back as parsed.
double EvaluateFrequency(const char* text);

// The parameter read as a percentage, limited to [0, 100] (NaN gives 0) and
// returned as a gain in [0.0, 1.0].
double EvaluateVolume(const char* text);

// Hands name and value to the host's set-variable function as fresh host
// texts; does nothing, and makes no text, when the host has none.
void PublishVariable(const wchar_t* name, const wchar_t* value);
