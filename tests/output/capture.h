// The capture file that the test ALSA configuration writes: every word the
// device consumed, raw, truncated at each open of the device. Windows test
// programs read it through Wine's Z: drive.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/capture_file.h"

// The Windows path of the capture file named (as a Unix path) by the
// environment variable KQ_CAPTURE; empty when the variable is missing.
inline std::string CapturePath() {
  const char* unixPath = std::getenv("KQ_CAPTURE");
  if (unixPath == nullptr || *unixPath == '\0') return {};
  return WindowsPathOf(unixPath);
}

// Size of the capture file in bytes; -1 when it does not exist.
inline std::int64_t CaptureBytes() { return FileBytes(CapturePath()); }

// The capture's 16-bit words (a partial word at the end is dropped).
inline std::vector<std::int16_t> ReadCapture() {
  std::vector<std::int16_t> words;
  HANDLE file = CreateFileA(CapturePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return words;
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size)) {
    words.resize(static_cast<std::size_t>(size.QuadPart / 2));
    DWORD got = 0;
    if (!words.empty() && !ReadFile(file, words.data(), static_cast<DWORD>(words.size() * 2), &got, nullptr)) got = 0;
    words.resize(got / 2);
  }
  CloseHandle(file);
  return words;
}

// Wine's audio pipeline ends a stream that is reset while it plays with one
// period (10 ms, 441 frames) of silence of its own. Drops a run of at most
// that many zero words from the end of a capture; longer runs are kept.
inline void DropResetSilence(std::vector<std::int16_t>& words) {
  constexpr std::size_t PeriodWords = 2 * 441;
  std::size_t zeros = 0;
  while (zeros < words.size() && words[words.size() - 1 - zeros] == 0) ++zeros;
  if (zeros <= PeriodWords) words.resize(words.size() - zeros);
}

// Removes the capture, so that a wait for its growth cannot see the words of
// an earlier run before the next open truncates it. Call before a start.
inline void ResetCapture() { DeleteFileA(CapturePath().c_str()); }

// Polls until the capture holds at least `bytes` bytes or `timeoutMs` has
// passed; returns whether it got there.
inline bool WaitForCapture(std::int64_t bytes, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (CaptureBytes() < bytes) {
    if (GetTickCount64() > deadline) return false;
    Sleep(5);
  }
  return true;
}
