// What an action does when the host runs it.
#pragma once

#include <cstdint>

#include "plugin/host_interface.h"

// Runs the action with this id; paramCell as for _nbExecAction. Returns 1 when
// the id is one of the sixteen, else 0 (nothing read or changed).
std::int32_t ExecuteAction(ActionId actionId, const char* const* paramCell);
