// The raw capture of the output device, as a Windows program under Wine sees
// it: a Unix path reaches it through the Z: drive. Shared by kqhost's audio
// clock and the tests that read a capture. Windows programs only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// A Unix path (starting with '/') as a path on Wine's Z: drive; any other
// path as it is.
inline std::string WindowsPathOf(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows = "Z:" + path;
  for (char& c : windows) {
    if (c == '/') c = '\\';
  }
  return windows;
}

// Size of the file in bytes; -1 when it does not exist.
inline std::int64_t FileBytes(const std::string& windowsPath) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(windowsPath.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
