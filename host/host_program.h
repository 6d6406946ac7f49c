// The host side of the plug-in interface: loads a plug-in DLL, keeps its
// registered actions and the host's variables, and runs a checked script.
#pragma once

#include <string>
#include <vector>

#include "host/script.h"

struct HostOptions {
  std::string pluginPath;      // empty: KalvixQuad_ORVANE_PRECISION.dll beside the program
  std::string scriptSource;    // shown in messages: the file name or "<stdin>"
  bool showPublished = false;  // print every variable the plug-in publishes, as it arrives
  // Raw capture of the output device (44,100 Hz, 16-bit stereo; a Unix path
  // is read through Wine's Z: drive). When set, waits while playing follow
  // the audio written to it instead of the system clock.
  std::string audioClockPath;
  double audioLeadMillis = 0.0;  // how far ahead of the capture a change is filled
  bool showTimeline = false;     // print "timeline <line> <script ms> <clock ms>" per action while playing
};

// Loads the plug-in, prints its identity, registers its actions, checks every
// line of the script against them and then runs it. Stops a started tone
// generator and unloads the plug-in before returning. Messages go to stdout,
// errors to stderr as "<source>:<line>: error: ...". Returns an exit status.
int RunHost(const HostOptions& options, const std::vector<std::string>& scriptLines);
