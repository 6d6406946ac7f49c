#include "plugin/portable/run_action.h"

#include "convert/number_text.h"

std::u16string EvaluateParameter(const ActionBoundary& boundary, const std::u16string& text) {
  const bool bracketed = text.size() >= 3 && text.front() == u'[' && text.back() == u']';
  if (!bracketed) return text;
  std::u16string value;
  if (!boundary.lookUpVariable(text.substr(1, text.size() - 2), value)) return text;
  return value;
}

double EvaluateFrequency(const ActionBoundary& boundary, const std::u16string& text) {
  return ParseNumber(EvaluateParameter(boundary, text).c_str());
}

double EvaluateVolume(const ActionBoundary& boundary, const std::u16string& text) {
  double percent = ParseNumber(EvaluateParameter(boundary, text).c_str());
  if (!(percent >= 0.0)) percent = 0.0;  // NaN fails this test too
  if (percent > 100.0) percent = 100.0;
  return percent / 100.0;
}

std::u16string PublishedValue(const ActionRow& row, double stored) {
  return row.evaluation == Evaluation::Volume ? FormatNumber(stored * 100.0, 1) : FormatNumber(stored, 2);
}

std::int32_t RunAction(const ActionBoundary& boundary, ActionId id, const void* parameterCell) {
  const ActionRow* row = FindAction(id);
  if (row == nullptr) return 0;
  switch (row->kind) {
    case ActionKind::Start: boundary.startPlayback(); return 1;
    case ActionKind::Stop: boundary.stopPlayback(); return 1;
    case ActionKind::Mute: Store(GeneratorState.*(row->muteFlag), 1); return 1;
    case ActionKind::Unmute: Store(GeneratorState.*(row->muteFlag), 0); return 1;
    case ActionKind::Setting: break;
  }
  if (parameterCell == nullptr) return 1;

  // Every text is made before anything changes, so that an allocation that
  // fails (and throws) leaves the setting as it was and publishes nothing.
  const std::u16string text = boundary.parameterText(parameterCell);
  const double value =
      row->evaluation == Evaluation::Volume ? EvaluateVolume(boundary, text) : EvaluateFrequency(boundary, text);
  const std::u16string published = PublishedValue(*row, value);
  // The host is told the value in effect: stored first, and a double reads
  // back from its field exactly as stored.
  Store(GeneratorState.*(row->setting), value);
  boundary.publishVariable(row->variable, published.c_str());
  return 1;
}
