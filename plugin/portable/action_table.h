// The sixteen actions, one row each: what the host registers (id, name,
// description and parameter flag, in table order) and what running the
// action does (its kind, the GeneratorState field it sets, how its parameter
// is evaluated and the variable it publishes). Registration and dispatch
// both read this table, so an action is added in one place.
//
// Portable: no platform header. The plug-in and the offline renderer run the
// same rows.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/generator_state.h"

using ActionId = std::int32_t;

enum class ActionKind {
  Start,    // StartPlayback
  Stop,     // StopPlayback
  Mute,     // the row's mute flag := 1
  Unmute,   // the row's mute flag := 0
  Setting,  // the row's setting := its evaluated parameter, then published
};

// How a setting action's parameter becomes the stored value.
enum class Evaluation {
  None,       // not a setting action
  Frequency,  // the number as parsed, in Hz
  Volume,     // a percentage limited to [0, 100], stored as a gain
};

struct ActionRow {
  ActionId id;
  const char16_t* name;  // module texts: UTF-16, zero-terminated
  const char16_t* description;
  std::int32_t paramFlag;  // 1 for the ten setting actions
  ActionKind kind;
  std::atomic<std::int32_t> GeneratorStateRecord::*muteFlag;  // Mute and Unmute rows
  std::atomic<double> GeneratorStateRecord::*setting;         // Setting rows
  Evaluation evaluation;
  const char16_t* variable;  // Setting rows: the action's name without "Set"
};

constexpr int ActionCount = 16;
extern const ActionRow ActionTable[ActionCount];

// The row for an id, or nullptr when the id is not one of the sixteen.
const ActionRow* FindAction(ActionId id);
