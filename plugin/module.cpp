#include "plugin/module.h"

#include <clocale>

#include "engine/generator_state.h"
#include "output/lifecycle.h"
#include "plugin/host_interface.h"

void ModuleAttach() {
  OutputStartUp();
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  LoadDefaults();
  HostCallbacks = HostCallbacksRecord{};
}

void ModuleDetach(bool processEnding) { OutputShutDown(processEnding); }
