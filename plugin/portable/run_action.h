// Running an action: the steps that are the same wherever the actions run,
// in the plug-in under its host and in the offline renderer. What differs
// (starting the sound, reading the parameter, the host's variables) comes in
// as an ActionBoundary. Runs on the caller's thread, one call at a time.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/portable/action_table.h"

// What running an action needs from its surroundings.
struct ActionBoundary {
  void (*startPlayback)();
  void (*stopPlayback)();
  // The parameter as a module text, read through the caller's parameter
  // cell (never null here). Called only for a setting action.
  std::u16string (*parameterText)(const void* parameterCell);
  // Asks the host for variable `name`. Returns false when the host offers
  // no look-up; otherwise true with the value, empty when the host has none.
  bool (*lookUpVariable)(const std::u16string& name, std::u16string& value);
  // Hands a published variable to the host; does nothing when it takes none.
  void (*publishVariable)(const char16_t* name, const char16_t* value);
};

// Runs the action with this id. Returns 1 when the id is one of the sixteen,
// else 0 with nothing read or changed. Start, stop and the mute actions never
// read the parameter cell; a setting action with a null cell answers 1 and
// does nothing else. A setting is stored before it is published, so the host
// is told the value in effect. Every text a setting needs is made before the
// store: when making one throws (memory exhausted), nothing has changed.
std::int32_t RunAction(const ActionBoundary& boundary, ActionId id, const void* parameterCell);

// The parameter itself, or, for "[name]" (at least 3 units, brackets first
// and last) while the host offers a look-up, that variable's value. One
// level only.
std::u16string EvaluateParameter(const ActionBoundary& boundary, const std::u16string& text);

// The parameter's number in Hz, unchecked: zero, negative, NaN and the
// infinities come back as parsed.
double EvaluateFrequency(const ActionBoundary& boundary, const std::u16string& text);

// The parameter read as a percentage, limited to [0, 100] (NaN gives 0) and
// returned as a gain in [0.0, 1.0].
double EvaluateVolume(const ActionBoundary& boundary, const std::u16string& text);

// The text a setting row publishes for its stored value: a frequency with 2
// decimals, a gain as a percentage with 1.
std::u16string PublishedValue(const ActionRow& row, double stored);
