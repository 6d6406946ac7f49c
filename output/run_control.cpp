#include "output/run_control.h"

void StartPlayback() {}

std::int32_t StopPlayback() { return 0; }
