#include "plugin/actions.h"

std::int32_t ExecuteAction(ActionId actionId, const char* const*) {
  return FindAction(actionId) != nullptr ? 1 : 0;
}
