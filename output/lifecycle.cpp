#include "output/lifecycle.h"

#include "engine/generator_state.h"
#include "plugin/host_interface.h"

void ModuleAttach() {
  LoadDefaults();
  HostCallbacks = HostCallbacksRecord{};
}

void ModuleDetach(bool) {}
