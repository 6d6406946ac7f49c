// Registration and actions through the stack check, each expecting the DLL to
// remove exactly its arguments: what the GoogleTest programs that load the
// DLL call. Windows test programs only.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "tests/support/plugin_loader.h"

// Registers a test host (see RegisterChecked); returns the entry point's answer.
inline std::int32_t Register(const LoadedPlugin& p, RegisterActionProc registerAction, GetVariableProc get,
                             SetVariableProc set, HostArg hostContext = 0) {
  CheckedResult r = RegisterChecked(p, registerAction, get, set, hostContext);
  EXPECT_STACK_BALANCED(r) << "registration";
  return r.value;
}

// Runs an action with its parameter cell at `cellAddress` (0 for none).
inline std::int32_t ExecCell(const LoadedPlugin& p, std::int32_t id, HostArg cellAddress) {
  CheckedResult r = ExecCellChecked(p, id, cellAddress);
  EXPECT_STACK_BALANCED(r) << "action " << id;
  return r.value;
}

// Runs an action with a cell holding the text's address (no cell for nullptr).
inline std::int32_t Exec(const LoadedPlugin& p, std::int32_t id, const char* text = nullptr) {
  const char* cell = text;
  return ExecCell(p, id, text != nullptr ? AsArg(&cell) : 0);
}
