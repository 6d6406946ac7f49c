#include "host/host_program.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

using RegisterActionProc = std::int32_t(__stdcall*)(std::int32_t id, const char* name, const char* description,
                                                    std::int32_t paramFlag, std::int32_t fifth, std::int32_t sixth);
using GetVariableProc = const char*(__stdcall*)(const char* name);
using SetVariableProc = std::int32_t(__stdcall*)(const char* name, const char* value);
using InitPlugInProc = std::int32_t(__stdcall*)(std::int32_t unused, char** nameCell, char** authorCell,
                                                char** descriptionCell);
using RegisterPlugInProc = std::int32_t(__stdcall*)(RegisterActionProc registerAction, std::int32_t context,
                                                    GetVariableProc getVariable, SetVariableProc setVariable);
using ExecActionProc = std::int32_t(__stdcall*)(std::int32_t id, const char* const* paramCell);

constexpr const char* DefaultPluginName = "KalvixQuad_ORVANE_PRECISION.dll";
constexpr const char* StartActionName = "Kalvix_Start";
constexpr const char* StopActionName = "Kalvix_Stop";
constexpr std::int32_t HostContextValue = 0x4b51;  // any value: the plug-in keeps it unread

// The host's one process-wide record (actions, variables, messages); the
// plug-in's callbacks reach it directly, on the host's own thread.
ScriptHostRecord Host;
// Every block the plug-in hands over belongs to the host. They are kept here
// and freed once, after the plug-in is unloaded.
std::vector<const char*> HostBlocks;

// The script's clock while the tone generator plays. Script time is the sum
// of the waits since the last start; with an audio clock, "now" is how much
// audio the capture holds since that start, so a stalled device start-up or
// a slow pipeline does not shift later changes against the sound.
struct ScriptClock {
  std::string capturePath;  // Windows path of the capture; empty: system clock
  double leadMillis = 0.0;
  bool showTimeline = false;
  double scriptMillis = 0.0;   // sum of the waits since the start
  std::int64_t originBytes = 0;  // capture size at the start
  LARGE_INTEGER originTicks{};
  LARGE_INTEGER tickRate{};
  bool audioFailed = false;  // the capture stalled: the system clock takes over
} Clock;

constexpr double CaptureBytesPerMilli = 44100.0 * 4.0 / 1000.0;
constexpr DWORD CaptureStallMillis = 5000;

std::string WindowsPathOf(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows = "Z:" + path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

// Size of the capture in bytes; 0 while it does not exist.
std::int64_t CaptureBytes() {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(Clock.capturePath.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

double ElapsedSystemMillis() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - Clock.originTicks.QuadPart) * 1000.0 /
         static_cast<double>(Clock.tickRate.QuadPart);
}

bool AudioClockActive() { return !Clock.capturePath.empty() && !Clock.audioFailed; }

// Milliseconds played since the start on the clock in use.
double ClockMillis() {
  if (AudioClockActive()) return static_cast<double>(CaptureBytes() - Clock.originBytes) / CaptureBytesPerMilli;
  return ElapsedSystemMillis();
}

void StartClock() {
  Clock.scriptMillis = 0.0;
  Clock.originBytes = Clock.capturePath.empty() ? 0 : CaptureBytes();
  QueryPerformanceFrequency(&Clock.tickRate);
  QueryPerformanceCounter(&Clock.originTicks);
}

// Sleeps until the clock in use reaches `target` ms after the start. A
// capture that stops growing for 5 s hands over to the system clock.
void WaitUntilClock(double target) {
  if (AudioClockActive()) {
    std::int64_t lastBytes = CaptureBytes();
    ULONGLONG lastGrowth = GetTickCount64();
    while (ClockMillis() < target) {
      Sleep(1);
      std::int64_t bytes = CaptureBytes();
      if (bytes != lastBytes) {
        lastBytes = bytes;
        lastGrowth = GetTickCount64();
      } else if (GetTickCount64() - lastGrowth > CaptureStallMillis) {
        std::fflush(stdout);
        std::fprintf(stderr, "kqhost: warning: the audio capture stopped growing; waits follow the system clock\n");
        Clock.audioFailed = true;
        break;
      }
    }
    if (AudioClockActive()) return;
  }
  for (double left = target - ElapsedSystemMillis(); left > 0.0; left = target - ElapsedSystemMillis()) {
    Sleep(left > 2.0 ? static_cast<DWORD>(left - 1.0) : 1);
  }
}

// A wait while playing ends the lead before the script time, so that the
// change that follows is filled where the script puts it.
void WaitOnClock(std::uint32_t millis) {
  Clock.scriptMillis += millis;
  WaitUntilClock(Clock.scriptMillis - Clock.leadMillis);
}

// Before a stop on the audio clock: the stop discards what is filled ahead,
// so it waits out the lead and the capture lasts as long as the script.
void FinishOnClock() {
  if (AudioClockActive()) WaitUntilClock(Clock.scriptMillis);
}

std::string TextOf(const char* block) {
  if (block != nullptr) HostBlocks.push_back(block);
  return block != nullptr ? std::string(block) : std::string();
}

std::int32_t __stdcall HostRegisterAction(std::int32_t id, const char* name, const char* description,
                                          std::int32_t paramFlag, std::int32_t, std::int32_t) {
  std::string nameText = TextOf(name);
  std::string descriptionText = TextOf(description);
  return RegisterHostAction(Host, HostAction{id, nameText, descriptionText, paramFlag}) ? 1 : 0;
}

// Unknown variables answer 0. The answer stays valid until the variable is set again.
const char* __stdcall HostGetVariable(const char* name) {
  const std::string* value = FindHostVariable(Host, TextOf(name));
  return value != nullptr ? value->c_str() : nullptr;
}

std::int32_t __stdcall HostSetVariable(const char* name, const char* value) {
  std::string nameText = TextOf(name);
  std::string valueText = TextOf(value);
  PublishHostVariable(Host, nameText, valueText);
  return 1;
}

std::string DefaultPluginPath() {
  std::vector<char> path(MAX_PATH);
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return DefaultPluginName;
    if (length < path.size()) {
      std::string self(path.data(), length);
      std::size_t slash = self.find_last_of("\\/");
      return slash == std::string::npos ? DefaultPluginName : self.substr(0, slash + 1) + DefaultPluginName;
    }
    path.resize(path.size() * 2);
  }
}

// The architecture a PE file is built for, from its header's machine field:
// "32-bit", "64-bit", or empty when the file cannot be read as one.
std::string PeArchitecture(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return {};
  std::uint32_t peOffset = 0;
  std::uint16_t machine = 0;
  const bool read = std::fseek(file, 0x3c, SEEK_SET) == 0 && std::fread(&peOffset, 4, 1, file) == 1 &&
                    std::fseek(file, static_cast<long>(peOffset) + 4, SEEK_SET) == 0 &&
                    std::fread(&machine, 2, 1, file) == 1;
  std::fclose(file);
  if (!read) return {};
  if (machine == IMAGE_FILE_MACHINE_I386) return "32-bit";
  if (machine == IMAGE_FILE_MACHINE_AMD64) return "64-bit";
  return {};
}

// For a plug-in built for the other architecture (a 32-bit process cannot
// load a 64-bit DLL, nor the reverse): which kqhost to use instead.
std::string WrongArchitectureNote(const std::string& path, DWORD error) {
  constexpr const char* Self = sizeof(void*) == 8 ? "64-bit" : "32-bit";
  if (error != ERROR_BAD_EXE_FORMAT) return {};
  const std::string dll = PeArchitecture(path);
  if (dll.empty() || dll == Self) return {};
  return std::string(": it is a ") + dll + " DLL and this kqhost is " + Self + "; use the " + dll +
         " kqhost (the windows-" + (dll == "64-bit" ? "x64" : "x86") + " build) beside it";
}

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
      if (Clock.showTimeline && (playing || starts)) {
        std::printf("timeline %d %.1f %.1f\n", c.line, Clock.scriptMillis, starts ? 0.0 : ClockMillis());
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
    case CommandKind::ListActions:
      break;  // the host's own commands, run above
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

void Unload(HMODULE module) {
  FreeLibrary(module);
  // A block handed over twice is still freed once.
  std::sort(HostBlocks.begin(), HostBlocks.end());
  HostBlocks.erase(std::unique(HostBlocks.begin(), HostBlocks.end()), HostBlocks.end());
  for (const char* block : HostBlocks) GlobalFree(const_cast<char*>(block));
  HostBlocks.clear();
}

}  // namespace

int RunHost(const HostOptions& options, const std::vector<std::string>& scriptLines) {
  Host.program = "kqhost";
  Host.source = options.scriptSource;
  Host.out = stdout;
  Host.showPublished = options.showPublished;
  Clock.capturePath = WindowsPathOf(options.audioClockPath);
  Clock.leadMillis = options.audioLeadMillis;
  Clock.showTimeline = options.showTimeline;
  Clock.audioFailed = false;

  // Check the syntax first: a malformed script loads nothing.
  std::vector<ScriptCommand> commands;
  if (!ParseScript(Host, scriptLines, commands)) return ExitScriptError;

  std::string path = options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    const DWORD error = GetLastError();
    ReportScriptError(Host, 0, "cannot load plug-in '" + path + "' (error " + std::to_string(error) + ")" +
                                   WrongArchitectureNote(path, error));
    return ExitLoadError;
  }
  auto init = reinterpret_cast<InitPlugInProc>(reinterpret_cast<void*>(GetProcAddress(module, "_nbInitPlugIn")));
  auto registerPlugIn =
      reinterpret_cast<RegisterPlugInProc>(reinterpret_cast<void*>(GetProcAddress(module, "_nbRegisterPlugIn")));
  auto exec = reinterpret_cast<ExecActionProc>(reinterpret_cast<void*>(GetProcAddress(module, "_nbExecAction")));
  if (init == nullptr || registerPlugIn == nullptr || exec == nullptr) {
    ReportScriptError(Host, 0, "'" + path + "' is not a plug-in of this interface (entry points missing)");
    Unload(module);
    return ExitLoadError;
  }

  char* name = nullptr;
  char* author = nullptr;
  char* description = nullptr;
  init(0, &name, &author, &description);
  std::printf("Plug-in: %s\nAuthor: %s\nDescription: %s\n", TextOf(name).c_str(), TextOf(author).c_str(),
              TextOf(description).c_str());
  registerPlugIn(&HostRegisterAction, HostContextValue, &HostGetVariable, &HostSetVariable);

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
  Unload(module);
  return status;
}
