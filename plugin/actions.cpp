#include "plugin/actions.h"

#include <windows.h>

#include <atomic>
#include <climits>
#include <cstring>

#include "convert/number_text.h"
#include "engine/generator_state.h"
#include "output/run_control.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "module texts are UTF-16");

namespace {

enum class Evaluation { Frequency, Volume };

struct SettingRow {
  ActionId id;
  std::atomic<double> GeneratorStateRecord::*field;
  Evaluation evaluation;
  const wchar_t* variable;  // the action's name without "Set"
};

const SettingRow SettingRows[] = {
    {1010, &GeneratorStateRecord::Gen1FreqLeft, Evaluation::Frequency, L"Kalvix1FreqLeft"},
    {1011, &GeneratorStateRecord::Gen1FreqRight, Evaluation::Frequency, L"Kalvix1FreqRight"},
    {1012, &GeneratorStateRecord::Gen1VolumeLeft, Evaluation::Volume, L"Kalvix1VolumeLeft"},
    {1013, &GeneratorStateRecord::Gen1VolumeRight, Evaluation::Volume, L"Kalvix1VolumeRight"},
    {1014, &GeneratorStateRecord::Gen1MasterVolume, Evaluation::Volume, L"Kalvix1MasterVolume"},
    {1020, &GeneratorStateRecord::Gen2FreqLeft, Evaluation::Frequency, L"Kalvix2FreqLeft"},
    {1021, &GeneratorStateRecord::Gen2FreqRight, Evaluation::Frequency, L"Kalvix2FreqRight"},
    {1022, &GeneratorStateRecord::Gen2VolumeLeft, Evaluation::Volume, L"Kalvix2VolumeLeft"},
    {1023, &GeneratorStateRecord::Gen2VolumeRight, Evaluation::Volume, L"Kalvix2VolumeRight"},
    {1024, &GeneratorStateRecord::Gen2MasterVolume, Evaluation::Volume, L"Kalvix2MasterVolume"},
};

const SettingRow* FindSetting(ActionId id) {
  for (const SettingRow& row : SettingRows) {
    if (row.id == id) return &row;
  }
  return nullptr;
}

// ANSI (system code page) to UTF-16, sized from the text itself so that no
// length of host text can overrun anything.
std::wstring FromHostText(const char* text) {
  if (text == nullptr) return std::wstring();
  std::size_t bytes = std::strlen(text);
  if (bytes == 0 || bytes > static_cast<std::size_t>(INT_MAX)) return std::wstring();
  int length = static_cast<int>(bytes);
  int units = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
  if (units <= 0) return std::wstring();
  std::wstring result(static_cast<std::size_t>(units), L'\0');
  int written = MultiByteToWideChar(CP_ACP, 0, text, length, result.data(), units);
  result.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
  return result;
}

double Parse(const std::wstring& text) { return ParseNumber(reinterpret_cast<const char16_t*>(text.c_str())); }

}  // namespace

std::wstring EvaluateParameter(const char* text) {
  std::wstring converted = FromHostText(text);
  bool bracketed = converted.size() >= 3 && converted.front() == L'[' && converted.back() == L']';
  GetVariableProc getVariable = HostCallbacks.GetVariableFn;
  if (!bracketed || getVariable == nullptr) return converted;
  std::wstring name = converted.substr(1, converted.size() - 2);
  // The host's answer need only live until the call returns: copy it now.
  return FromHostText(getVariable(MakeHostText(name.c_str())));
}

double EvaluateFrequency(const char* text) { return Parse(EvaluateParameter(text)); }

double EvaluateVolume(const char* text) {
  double percent = Parse(EvaluateParameter(text));
  if (!(percent >= 0.0)) percent = 0.0;  // NaN fails this test too
  if (percent > 100.0) percent = 100.0;
  return percent / 100.0;
}

void PublishVariable(const wchar_t* name, const wchar_t* value) {
  SetVariableProc setVariable = HostCallbacks.SetVariableFn;
  if (setVariable == nullptr) return;
  char* nameBlock = MakeHostText(name);
  char* valueBlock = MakeHostText(value);
  setVariable(nameBlock, valueBlock);
}

std::int32_t ExecuteAction(ActionId actionId, const char* const* paramCell) {
  switch (actionId) {
    case 1000: StartPlayback(); return 1;
    case 1001: StopPlayback(); return 1;
    case 1002: Store(GeneratorState.Gen1Muted, 1); return 1;
    case 1003: Store(GeneratorState.Gen1Muted, 0); return 1;
    case 1004: Store(GeneratorState.Gen2Muted, 1); return 1;
    case 1005: Store(GeneratorState.Gen2Muted, 0); return 1;
    default: break;
  }
  const SettingRow* row = FindSetting(actionId);
  if (row == nullptr) return 0;
  if (paramCell == nullptr) return 1;

  std::atomic<double>& field = GeneratorState.*(row->field);
  bool isVolume = row->evaluation == Evaluation::Volume;
  Store(field, isVolume ? EvaluateVolume(*paramCell) : EvaluateFrequency(*paramCell));
  // Publish what is now in effect, read back from the field.
  double stored = Load(field);
  std::u16string text = isVolume ? FormatNumber(stored * 100.0, 1) : FormatNumber(stored, 2);
  PublishVariable(row->variable, reinterpret_cast<const wchar_t*>(text.c_str()));
  return 1;
}
