// Which Windows build scripts/demo plays through, for the tests that run it:
// x86 where this machine can run 32-bit programs, x64 otherwise (the one
// probe decides for both), in build/windows-<arch> unless KQ_WIN_BUILD names
// another folder.
#pragma once

#include <cstdlib>
#include <string>

inline std::string DemoArch() {
  return std::system("'" KQ_SOURCE_DIR "/cmake/can-run-x86' >/dev/null 2>&1") == 0 ? "x86" : "x64";
}

inline std::string DemoWindowsBuild(const std::string& arch) {
  const char* env = std::getenv("KQ_WIN_BUILD");
  return env != nullptr && *env != '\0' ? std::string(env) : std::string(KQ_BUILD_ROOT "/windows-") + arch;
}
