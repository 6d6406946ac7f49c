// kqhost run as a separate process against the real DLL: its exit status, what
// it prints, and the line numbers of its errors.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD RunLimitMillis = 60000;

std::string FolderOfThisProgram() {
  char path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string self(path, n);
  return self.substr(0, self.find_last_of("\\/") + 1);
}

std::string TempFile(const char* prefix) {
  char folder[MAX_PATH] = {};
  char file[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, folder);
  GetTempFileNameA(folder, prefix, 0, file);
  return file;
}

// The file's text with the console's CR LF line ends made LF.
std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  std::string text = s.str();
  std::string lf;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lf += text[i];
  }
  return lf;
}

HANDLE OpenInheritable(const std::string& path, bool write) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa,
                     write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

struct HostRun {
  bool finished = false;
  DWORD exitCode = 0;
  std::string out;
  std::string err;
};

// Runs kqhost with args; the script is written to a file and passed by name,
// or fed to standard input when viaStdin. Waits at most RunLimitMillis.
HostRun RunKqhost(const std::string& args, const std::string& script, bool viaStdin) {
  std::string scriptPath = TempFile("kqs");
  std::ofstream(scriptPath, std::ios::binary) << script;
  std::string outPath = TempFile("kqo");
  std::string errPath = TempFile("kqe");

  HANDLE in = viaStdin ? OpenInheritable(scriptPath, false) : OpenInheritable("NUL", false);
  HANDLE out = OpenInheritable(outPath, true);
  HANDLE err = OpenInheritable(errPath, true);
  std::string command = "\"" + FolderOfThisProgram() + "kqhost.exe\" " + args;
  if (!viaStdin) command += " \"" + scriptPath + "\"";

  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = in;
  si.hStdOutput = out;
  si.hStdError = err;
  PROCESS_INFORMATION pi{};
  HostRun run;
  std::vector<char> line(command.begin(), command.end());
  line.push_back('\0');
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    if (WaitForSingleObject(pi.hProcess, RunLimitMillis) == WAIT_OBJECT_0) {
      run.finished = true;
      GetExitCodeProcess(pi.hProcess, &run.exitCode);
    } else {
      TerminateProcess(pi.hProcess, 99);
      WaitForSingleObject(pi.hProcess, RunLimitMillis);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  } else {
    ADD_FAILURE() << "cannot start " << command << " (error " << GetLastError() << ")";
  }
  CloseHandle(in);
  CloseHandle(out);
  CloseHandle(err);
  run.out = ReadWhole(outPath);
  run.err = ReadWhole(errPath);
  DeleteFileA(scriptPath.c_str());
  DeleteFileA(outPath.c_str());
  DeleteFileA(errPath.c_str());
  return run;
}

struct Case {
  const char* what;
  const char* args;
  const char* script;
  bool viaStdin;
  DWORD exitCode;
  std::vector<std::string> outHas;
  std::vector<std::string> errHas;
  std::vector<std::string> outLacks;
};

const Case Cases[] = {
    {"a good script prints the identity and the published variables",
     "",
     "# generator 1\n"
     "set Freq 200\n"
     "\n"
     "  SetKalvix1FreqLeft   [Freq]  \n"
     "SetKalvix1VolumeLeft 30\n"
     "MuteGen2\n"
     "print\n"
     "print Missing\n",
     false,
     0,
     {"Plug-in: Kalvix Quad ORVANE\n", "Author: Pellacor\n",
      "Description: ORVANE PRECISION: Maximum spectral purity tone generator with 4 independent channels.\n",
      "Freq = 200\nKalvix1FreqLeft = 200.00\nKalvix1VolumeLeft = 30.0\n", "Missing is not set\n"},
     {},
     {"published"}},
    {"published variables are printed as they arrive",
     "--show-published",
     "SetKalvix2FreqRight 1000\nSetKalvix2MasterVolume 150\n",
     false,
     0,
     {"published Kalvix2FreqRight = 1000.00\npublished Kalvix2MasterVolume = 100.0\n"},
     {},
     {}},
    {"a script from standard input with CRLF line ends",
     "",
     "set A 440\r\nSetKalvix1FreqRight [A]\r\nprint Kalvix1FreqRight\r\n",
     true,
     0,
     {"Kalvix1FreqRight = 440.00\n"},
     {},
     {}},
    {"the registered actions are listed",
     "",
     "actions\nwait 20\n",
     false,
     0,
     {"1000 Kalvix_Start - Start orvane-precision tone generator.\n",
      "1024 SetKalvix2MasterVolume <parameter> - Set Generator 2 master volume 0-100.\n"},
     {},
     {}},
    {"an unknown action stops the script before anything runs",
     "",
     "set A 1\nKalvix_Start\n\nSetKalvix3FreqLeft 5\nsetkalvix1freqleft 5\nprint\n",
     false,
     1,
     {},
     {":4: error: unknown action or command 'SetKalvix3FreqLeft'",
      ":5: error: unknown action or command 'setkalvix1freqleft'"},
     {"A = 1", "stopping playback"}},
    {"malformed lines are reported by number and nothing is loaded",
     "",
     "print\nwait soon\n# fine\nset\nprint A B\nwait 86400001\nactions now\nwait -5\n",
     false,
     1,
     {},
     {":2: error: 'wait'", ":4: error: 'set' needs a variable name", ":5: error: 'print' takes at most one",
      ":6: error: 'wait'", ":7: error: 'actions'", ":8: error: 'wait'"},
     {"Plug-in:", "(no variables)"}},
    {"a setting action needs its parameter",
     "",
     "MuteGen1\nSetKalvix1FreqLeft\n",
     false,
     1,
     {},
     {":2: error: action 'SetKalvix1FreqLeft' needs a parameter"},
     {}},
    {"a started generator is stopped at the end",
     "",
     "Kalvix_Start\nwait 50\n",
     false,
     0,
     {"stopping playback (Kalvix_Stop)\n"},
     {},
     {}},
    {"a generator the script stopped is not stopped again",
     "",
     "Kalvix_Start\nKalvix_Stop\n",
     false,
     0,
     {},
     {},
     {"stopping playback"}},
    {"a missing plug-in", "--plugin nothere.dll", "print\n", false, 2, {}, {"cannot load plug-in"}, {}},
    {"the timeline gives each action's script time while playing",
     "--timeline",
     "SetKalvix1FreqLeft 440\nKalvix_Start\nwait 120\nwait 30\nMuteGen1\nKalvix_Stop\nMuteGen2\n",
     false,
     0,
     {"timeline 2 0.0 0.0\ntimeline 5 150.0 ", "\ntimeline 6 150.0 "},
     {},
     {"timeline 1 ", "timeline 7 "}},
    // No capture ever grows here: the waits must still end, on the system clock.
    {"an audio clock that never moves hands over to the system clock",
     "--timeline --audio-clock /nonexistent/kq.raw",
     "Kalvix_Start\nwait 100\nMuteGen1\nwait 200\nKalvix_Stop\n",
     false,
     0,
     {"timeline 1 0.0 0.0\ntimeline 3 100.0 ", "\ntimeline 5 300.0 "},
     {"kqhost: warning: the audio capture stopped growing; waits follow the system clock"},
     {}},
};

TEST(Kqhost, RunsScripts) {
  for (const Case& c : Cases) {
    SCOPED_TRACE(c.what);
    HostRun run = RunKqhost(c.args, c.script, c.viaStdin);
    ASSERT_TRUE(run.finished) << "kqhost did not end within " << RunLimitMillis << " ms";
    EXPECT_EQ(run.exitCode, c.exitCode) << run.err;
    for (const std::string& s : c.outHas) {
      EXPECT_NE(run.out.find(s), std::string::npos) << s << "\n--- stdout:\n" << run.out;
    }
    for (const std::string& s : c.errHas) {
      EXPECT_NE(run.err.find(s), std::string::npos) << s << "\n--- stderr:\n" << run.err;
    }
    for (const std::string& s : c.outLacks) {
      EXPECT_EQ(run.out.find(s), std::string::npos) << s << "\n--- stdout:\n" << run.out;
    }
    if (c.exitCode == 0) {  // the audio system may write its own notes there
      EXPECT_EQ(run.err.find(": error: "), std::string::npos) << run.err;
    }
  }
}

TEST(Kqhost, MissingScriptFileIsALoadError) {
  HostRun run = RunKqhost("--plugin KalvixQuad_ORVANE_PRECISION.dll no_such_script.kq", "", true);
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 2u);
  EXPECT_NE(run.err.find("cannot read script 'no_such_script.kq'"), std::string::npos) << run.err;
}

// The plug-in built for the other architecture cannot be loaded into this
// kqhost: the error says which kqhost to use. The fixture is the real DLL with
// its header's machine field turned to the other architecture.
TEST(Kqhost, PlugInOfTheOtherArchitectureNamesTheKqhostToUse) {
  const bool self64 = sizeof(void*) == 8;
  std::ifstream in(FolderOfThisProgram() + "KalvixQuad_ORVANE_PRECISION.dll", std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(image.size(), 0x40u);
  const std::uint32_t peOffset = *reinterpret_cast<const std::uint32_t*>(image.data() + 0x3c);
  ASSERT_LT(peOffset + 6u, image.size());
  std::uint16_t machine = self64 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
  image.replace(peOffset + 4, 2, reinterpret_cast<const char*>(&machine), 2);
  const std::string other = TempFile("kqa");
  std::ofstream(other, std::ios::binary) << image;

  HostRun run = RunKqhost("--plugin \"" + other + "\"", "print\n", false);
  DeleteFileA(other.c_str());
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 2u);
  const std::string expected =
      self64 ? "it is a 32-bit DLL and this kqhost is 64-bit; use the 32-bit kqhost (the windows-x86 build)"
             : "it is a 64-bit DLL and this kqhost is 32-bit; use the 64-bit kqhost (the windows-x64 build)";
  EXPECT_NE(run.err.find(expected), std::string::npos) << run.err;
}

}  // namespace
