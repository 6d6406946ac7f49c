#include "plugin/actions.h"

#include "engine/generator_state.h"
#include "output/run_control.h"

std::int32_t ExecuteAction(ActionId actionId, const char* const*) {
  switch (actionId) {
    case 1000: StartPlayback(); return 1;
    case 1001: StopPlayback(); return 1;
    case 1002: Store(GeneratorState.Gen1Muted, 1); return 1;
    case 1003: Store(GeneratorState.Gen1Muted, 0); return 1;
    case 1004: Store(GeneratorState.Gen2Muted, 1); return 1;
    case 1005: Store(GeneratorState.Gen2Muted, 0); return 1;
    default: break;
  }
  return FindAction(actionId) != nullptr ? 1 : 0;
}
