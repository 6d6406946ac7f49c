// kq-render: renders a script of the plug-in's actions to a WAV file on the
// ideal timeline, with the plug-in's own action steps and synthesis, without
// Windows, Wine or a sound device.
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "host/script.h"
#include "tools/offline_render.h"
#include "tools/wav_out.h"

namespace {

const char* const RenderHelpTail = R"( The render
holds the playing time only, from each Kalvix_Start to its Kalvix_Stop (or the
script's end), one run after another; every change takes effect at the
2048-frame buffer boundary nearest its script time (docs/host.md, "Timeline").
Exit status: 0 success, 1 script error, 2 the script could not be read, the
WAV could not be written, or a bad command line.)";

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Renders a script of the tone generator's actions to a 44,100 Hz 16-bit stereo WAV file, "
      "as the plug-in plays it, in a fraction of its playing time."};
  std::string scriptPath;
  std::string outPath;
  bool showPublished = false;
  app.add_option("script", scriptPath, "Script file to render; - reads standard input")->required();
  app.add_option("-o,--out", outPath, "WAV file to write; - writes it to standard output")->required();
  app.add_flag("-p,--show-published", showPublished,
               "Print every variable the actions publish, as \"published Name = value\"");
  app.footer(std::string(ScriptSyntaxHelp) + RenderHelpTail);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e) == 0 ? ExitOk : ExitLoadError;
  }

  ScriptHostRecord host;
  host.program = "kq-render";
  host.source = scriptPath == "-" ? "<stdin>" : scriptPath;
  // Standard output may carry the WAV: messages then go to standard error.
  host.out = outPath == "-" ? stderr : stdout;
  host.showPublished = showPublished;

  std::vector<std::string> lines;
  if (!ReadScriptLines(scriptPath, lines)) {
    ReportScriptError(
        host, 0,
        scriptPath == "-" ? "cannot read the script from standard input" : "cannot read script '" + scriptPath + "'");
    return ExitLoadError;
  }
  // The whole script is checked before anything is written.
  std::vector<ScriptCommand> commands;
  if (!ParseScript(host, lines, commands)) return ExitScriptError;
  RegisterPluginActions(host);
  if (!CheckScriptActions(host, commands)) return ExitScriptError;
  RenderPlan plan;
  if (!PlanRender(host, commands, plan)) return ExitScriptError;
  if (!plan.starts) {
    std::fprintf(stderr,
                 "kq-render: warning: the script never starts playback (Kalvix_Start); the WAV holds no audio\n");
  }

  WavOut out;
  std::string error;
  if (!OpenWavOut(out, outPath, plan.totalFrames, error)) {
    ReportScriptError(host, 0, error);
    return ExitLoadError;
  }
  int status = RenderScript(host, commands, plan, out, isatty(STDERR_FILENO) != 0);
  if (!CloseWavOut(out, error) && status == ExitOk) {
    ReportScriptError(host, 0, error);
    status = ExitLoadError;
  }
  std::fflush(host.out);
  return status;
}
