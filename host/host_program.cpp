#include "host/host_program.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "host/audio_clock.h"
#include "host/host_callbacks.h"
#include "host/plugin_dll.h"
#include "plugin/function_types.h"

// Command execution: the script's commands in order, against the loaded
// plug-in. Loading (plugin_dll), the callbacks and the blocks they receive
// (host_callbacks) and the clock of waits while playing (audio_clock) live
// beside this file.

namespace {

constexpr const char* StartActionName = "Kalvix_Start";
constexpr const char* StopActionName = "Kalvix_Stop";
constexpr std::int32_t HostContextValue = 0x4b51;  // any value: the plug-in keeps it unread

// The host's one process-wide record (actions, variables, messages); the
// plug-in's callbacks reach it directly, on the host's own thread.
ScriptHostRecord Host;

// Runs one checked command; returns false with message on a failure.
bool RunCommand(ExecActionProc exec, const ScriptCommand& c, bool& playing, std::string& message) {
  if (RunHostCommand(Host, c)) return true;
  switch (c.kind) {
    case CommandKind::Wait:
      std::fflush(stdout);
      if (playing) {
        WaitOnClock(c.millis);
      } else {
        Sleep(c.millis);
      }
      return true;
    case CommandKind::Action: {
      const HostAction* action = FindHostAction(Host, c.name);
      if (action == nullptr) {  // checked before running; kept for safety
        message = "unknown action or command '" + c.name + "'";
        return false;
      }
      const char* parameter = c.text.c_str();
      const bool starts = action->name == StartActionName && !playing;
      if (starts) StartClock();
      if (playing && action->name == StopActionName) FinishOnClock();
      if (ClockShowsTimeline() && (playing || starts)) {
        std::printf("timeline %d %.1f %.1f\n", c.line, ScriptMillis(), starts ? 0.0 : ClockMillis());
      }
      std::int32_t handled = exec(action->id, c.hasText ? &parameter : nullptr);
      if (action->name == StartActionName) playing = true;
      if (action->name == StopActionName) playing = false;
      if (handled == 0) {
        message = "the plug-in did not handle action '" + c.name + "'";
        return false;
      }
      return true;
    }
    case CommandKind::Nothing:
    case CommandKind::SetVariable:
    case CommandKind::Print:
    case CommandKind::ListActions: break;  // the host's own commands, run above
  }
  return true;
}

// A well-behaved host stops the tone generator before it unloads the plug-in.
void StopIfPlaying(ExecActionProc exec, bool playing) {
  if (!playing) return;
  const HostAction* stop = FindHostAction(Host, StopActionName);
  if (stop == nullptr) return;
  FinishOnClock();
  std::printf("stopping playback (%s)\n", StopActionName);
  std::fflush(stdout);
  exec(stop->id, nullptr);
}

}  // namespace

int RunHost(const HostOptions& options, const std::vector<std::string>& scriptLines) {
  Host.program = "kqhost";
  Host.source = options.scriptSource;
  Host.out = stdout;
  Host.showPublished = options.showPublished;
  UseHostRecord(Host);
  ConfigureClock(options.audioClockPath, options.audioLeadMillis, options.showTimeline);

  // Check the syntax first: a malformed script loads nothing.
  std::vector<ScriptCommand> commands;
  if (!ParseScript(Host, scriptLines, commands)) return ExitScriptError;

  PlugInDll dll;
  std::string loadError;
  if (!LoadPlugInDll(PlugInPath(options.pluginPath), dll, loadError)) {
    ReportScriptError(Host, 0, loadError);
    return ExitLoadError;
  }
  const ExecActionProc exec = dll.exec;

  char* name = nullptr;
  char* author = nullptr;
  char* description = nullptr;
  dll.init(0, &name, &author, &description);
  std::printf("Plug-in: %s\nAuthor: %s\nDescription: %s\n", TextOf(name).c_str(), TextOf(author).c_str(),
              TextOf(description).c_str());
  dll.registerPlugIn(&HostRegisterAction, HostContextValue, &HostGetVariable, &HostSetVariable);

  // Every action must exist, and a setting action needs its parameter.
  const bool namesOk = CheckScriptActions(Host, commands);

  int status = ExitOk;
  bool playing = false;
  if (!namesOk) {
    status = ExitScriptError;
  } else {
    for (const ScriptCommand& c : commands) {
      std::string message;
      if (!RunCommand(exec, c, playing, message)) {
        ReportScriptError(Host, c.line, message);
        status = ExitScriptError;
        break;
      }
    }
  }
  std::fflush(stdout);
  StopIfPlaying(exec, playing);
  UnloadPlugInDll(dll);
  return status;
}
