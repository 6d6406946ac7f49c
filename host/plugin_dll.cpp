#include "host/plugin_dll.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/host_callbacks.h"

namespace {

constexpr const char* DefaultPluginName = "KalvixQuad_ORVANE_PRECISION.dll";

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

template <class Proc>
Proc EntryPoint(HMODULE module, const char* name) {
  return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

std::string PlugInPath(const std::string& named) {
  if (!named.empty()) return named;
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

bool LoadPlugInDll(const std::string& path, PlugInDll& dll, std::string& message) {
  dll = PlugInDll{};
  dll.module = LoadLibraryA(path.c_str());
  if (dll.module == nullptr) {
    const DWORD error = GetLastError();
    message =
        "cannot load plug-in '" + path + "' (error " + std::to_string(error) + ")" + WrongArchitectureNote(path, error);
    return false;
  }
  dll.init = EntryPoint<InitPlugInProc>(dll.module, "_nbInitPlugIn");
  dll.registerPlugIn = EntryPoint<RegisterPlugInProc>(dll.module, "_nbRegisterPlugIn");
  dll.exec = EntryPoint<ExecActionProc>(dll.module, "_nbExecAction");
  if (dll.init == nullptr || dll.registerPlugIn == nullptr || dll.exec == nullptr) {
    message = "'" + path + "' is not a plug-in of this interface (entry points missing)";
    UnloadPlugInDll(dll);
    return false;
  }
  return true;
}

void UnloadPlugInDll(PlugInDll& dll) {
  if (dll.module != nullptr) FreeLibrary(dll.module);
  dll = PlugInDll{};
  FreeHostBlocks();
}
