#include "plugin/actions.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <string>

#include "output/run_control.h"
#include "plugin/portable/run_action.h"

HostCallbacksRecord HostCallbacks;

namespace {

// ANSI (system code page) to UTF-16, sized from the text itself so that no
// length of host text can overrun anything.
std::u16string FromHostText(const char* text) {
  if (text == nullptr) return std::u16string();
  std::size_t bytes = std::strlen(text);
  if (bytes == 0 || bytes > static_cast<std::size_t>(INT_MAX)) return std::u16string();
  int length = static_cast<int>(bytes);
  int units = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (units <= 0) return std::u16string();
  std::u16string result(static_cast<std::size_t>(units), u'\0');
  int written = MultiByteToWideChar(CP_ACP, 0, text, length, reinterpret_cast<wchar_t*>(result.data()), units);
  result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return result;
}

void Start() { StartPlayback(); }
void Stop() { StopPlayback(); }

std::u16string ParameterText(const void* parameterCell) {
  return FromHostText(*static_cast<const char* const*>(parameterCell));
}

bool LookUpVariable(const std::u16string& name, std::u16string& value) {
  GetVariableProc getVariable = HostCallbacks.GetVariableFn;
  if (getVariable == nullptr) return false;
  // The host's answer need only live until the call returns: copy it now.
  value = FromHostText(getVariable(MakeHostText(name.c_str())));
  return true;
}

constexpr ActionBoundary HostBoundary = {&Start, &Stop, &ParameterText, &LookUpVariable, &PublishVariable};

}  // namespace

void PublishVariable(const char16_t* name, const char16_t* value) {
  SetVariableProc setVariable = HostCallbacks.SetVariableFn;
  if (setVariable == nullptr) return;
  char* nameBlock = MakeHostText(name);
  char* valueBlock = MakeHostText(value);
  // Both texts or neither: without memory for one, the host is not called
  // and the other block, never handed over, is given back.
  if (nameBlock == nullptr || valueBlock == nullptr) {
    if (nameBlock != nullptr) GlobalFree(nameBlock);
    if (valueBlock != nullptr) GlobalFree(valueBlock);
    return;
  }
  setVariable(nameBlock, valueBlock);
}

std::int32_t ExecuteAction(ActionId actionId, const char* const* paramCell) {
  return RunAction(HostBoundary, actionId, paramCell);
}
