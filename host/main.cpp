// kqhost: runs a script of actions against a plug-in DLL of this interface.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "host/host_program.h"
#include "plugin/identity.h"

namespace {

// Continues the last line of ScriptSyntaxHelp.
const char* const HostHelpTail = R"( At the end of the script, or on an error, a
started tone generator is stopped (Kalvix_Stop) before the plug-in is unloaded.
Exit status: 0 success, 1 script error, 2 the plug-in or script could not be loaded.)";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Loads a tone generator plug-in DLL and runs a script of its actions."};
  // Unix-style paths (as under Wine) start with '/': they are never options.
  app.allow_windows_style_options(false);
  HostOptions options;
  std::string scriptPath = "-";
  app.add_option("script", scriptPath, "Script file to run; - or nothing reads standard input");
  app.add_option("--plugin", options.pluginPath,
                 "Plug-in DLL to load (default: KalvixQuad_ORVANE_PRECISION.dll beside kqhost)");
  app.add_flag("-p,--show-published", options.showPublished,
               "Print every variable the plug-in publishes, as \"published Name = value\", as it arrives");
  app.add_option("--audio-clock", options.audioClockPath,
                 "Raw capture of the output device (44,100 Hz 16-bit stereo): while playing, waits follow "
                 "the audio written to it rather than the system clock");
  app.add_option("--audio-lead", options.audioLeadMillis,
                 "Milliseconds each wait ends early, for the audio filled ahead of the capture")
      ->check(CLI::Range(0.0, 10000.0));
  app.add_flag("--timeline", options.showTimeline,
               "While playing, print \"timeline <line> <script ms> <clock ms>\" before each action");
  app.set_version_flag(
      "--version",
      std::string("kqhost ") + KQ_VERSION + " (" KQ_DISPLAY_NAME ", " + std::to_string(8 * sizeof(void*)) + "-bit)",
      "Print kqhost's version and architecture and exit");
  app.footer(std::string(ScriptSyntaxHelp) + HostHelpTail);
  CLI11_PARSE(app, argc, argv);

  std::vector<std::string> lines;
  options.scriptSource = scriptPath == "-" ? "<stdin>" : scriptPath;
  if (!ReadScriptLines(scriptPath, lines)) {
    if (scriptPath == "-") {
      std::fprintf(stderr, "kqhost: error: cannot read the script from standard input\n");
    } else {
      std::fprintf(stderr, "kqhost: error: cannot read script '%s'\n", scriptPath.c_str());
    }
    return ExitLoadError;
  }
  return RunHost(options, lines);
}
