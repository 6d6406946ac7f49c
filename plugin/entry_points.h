// The five exported entry points. Every argument and result is one 32-bit
// value; each entry point removes its own arguments (stdcall), except
// _nbEditAction, which takes none.
#pragma once

#include <cstdint>

#include "plugin/host_interface.h"

extern "C" {
// Delivers the display name, author and description as fresh host texts into
// the cells given (a 0 cell is skipped). Returns 0.
std::int32_t KQ_STDCALL _nbInitPlugIn(std::int32_t unused, char** nameCell, char** authorCell, char** descriptionCell);
// Keeps the host's callbacks and registers the sixteen actions, in table
// order, each with fresh texts; with no register-action function (0) it only
// keeps the callbacks. Returns 0.
std::int32_t KQ_STDCALL _nbRegisterPlugIn(RegisterActionProc registerAction, std::int32_t hostContext,
                                          GetVariableProc getVariable, SetVariableProc setVariable);
// Runs one action. paramCell is the address of a cell holding the parameter
// text's address, or 0. Returns 1 for the sixteen ids, else 0; also 0 when
// the module ran out of memory for the action's texts, which then stored and
// published nothing. No exception leaves it.
std::int32_t KQ_STDCALL _nbExecAction(ActionId actionId, const char* const* paramCell);
// Returns 1; reads no argument.
std::int32_t KQ_STDCALL _nbEditAction();
// Returns 0; reads neither argument.
std::int32_t KQ_STDCALL _nbMessage(std::int32_t first, std::int32_t second);
}
