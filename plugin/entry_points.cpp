#include "plugin/entry_points.h"

#include "plugin/actions.h"
#include "plugin/identity.h"

namespace {
const wchar_t* const DisplayName = L"" KQ_DISPLAY_NAME;
const wchar_t* const Author = L"" KQ_AUTHOR;
const wchar_t* const Description = L"" KQ_DESCRIPTION;
}  // namespace

extern "C" std::int32_t KQ_STDCALL _nbInitPlugIn(std::int32_t, char** nameCell, char** authorCell,
                                                 char** descriptionCell) {
  char* name = MakeHostText(DisplayName);
  char* author = MakeHostText(Author);
  char* description = MakeHostText(Description);
  if (nameCell != nullptr) *nameCell = name;
  if (authorCell != nullptr) *authorCell = author;
  if (descriptionCell != nullptr) *descriptionCell = description;
  return 0;
}

extern "C" std::int32_t KQ_STDCALL _nbRegisterPlugIn(RegisterActionProc registerAction, std::int32_t hostContext,
                                                     GetVariableProc getVariable, SetVariableProc setVariable) {
  HostCallbacks.RegisterActionFn = registerAction;
  HostCallbacks.HostContext = hostContext;
  HostCallbacks.GetVariableFn = getVariable;
  HostCallbacks.SetVariableFn = setVariable;
  // A host that hands over no register-action function gets no actions
  // rather than a call through address 0.
  if (registerAction == nullptr) return 0;
  for (const ActionRow& row : ActionTable) {
    char* description = MakeHostText(row.description);
    char* name = MakeHostText(row.name);
    registerAction(row.id, name, description, row.paramFlag, -1, row.paramFlag);
  }
  return 0;
}

extern "C" std::int32_t KQ_STDCALL _nbExecAction(ActionId actionId, const char* const* paramCell) {
  // No exception may unwind into the host. The module's texts are C++
  // strings; when one cannot be allocated (memory exhausted, or a host text
  // too long for the process), the action has changed nothing and answers 0.
  try {
    return ExecuteAction(actionId, paramCell);
  } catch (...) {
    return 0;
  }
}

extern "C" std::int32_t KQ_STDCALL _nbEditAction() { return 1; }

extern "C" std::int32_t KQ_STDCALL _nbMessage(std::int32_t, std::int32_t) { return 0; }
