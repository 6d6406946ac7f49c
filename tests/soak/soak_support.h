// What the long-running tests of the real DLL share: a host that drives the
// DLL's entry points and gives back every text block it receives, the sizes
// taken from the environment, bounded stops, the process's handle and memory
// figures, and the comparison of a capture with the words FillBuffer makes.
// Windows test programs only.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "tests/output/capture.h"
#include "tests/support/channels.h"
#include "tests/support/checked_calls.h"
#include "tests/support/plugin_loader.h"

namespace soak {

constexpr std::int32_t FramesPerBuffer = 2048;
constexpr std::int32_t BytesPerFrame = 4;
constexpr double FramesPerSecond = 44100.0;

// A size named by an environment variable (a positive integer), else the
// given default; how a soak run picks its full size over the CI size.
inline std::int64_t SizeFromEnv(const char* name, std::int64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  long long value = std::strtoll(text, &end, 10);
  return (end != text && *end == '\0' && value > 0) ? value : fallback;
}

// ---- The host --------------------------------------------------------------

// What the test host's get-variable function answers.
enum class GetAnswer { Null, Empty, Text };

// The test host's own record. The host owns every block the DLL hands it and
// frees each with GlobalFree; a block that GlobalFree refuses counts as bad.
struct HostRecord {
  GetAnswer answer = GetAnswer::Null;
  std::string answerText;  // used when answer is Text
  std::int64_t getCalls = 0;
  std::string lastAsked;                                       // the name the last get-variable call received
  std::vector<std::pair<std::string, std::string>> published;  // since the last Clear
  bool keepPublished = true;                                   // false: count publications, keep only the last
  std::int64_t publications = 0;
  std::int64_t badBlocks = 0;  // null blocks or blocks GlobalFree refused
  void Clear() {
    getCalls = 0;
    lastAsked.clear();
    published.clear();
  }
};
inline HostRecord Host;

// Takes a block the DLL handed over: its text, then frees it.
inline std::string TakeBlock(const char* block) {
  if (block == nullptr) {
    ++Host.badBlocks;
    return "<null block>";
  }
  std::string text(block);
  if (GlobalFree(const_cast<char*>(block)) != nullptr) ++Host.badBlocks;
  return text;
}

inline const char* __stdcall HostGet(const char* name) {
  ++Host.getCalls;
  Host.lastAsked = TakeBlock(name);
  switch (Host.answer) {
    case GetAnswer::Null: return nullptr;
    case GetAnswer::Empty: return "";
    case GetAnswer::Text: return Host.answerText.c_str();
  }
  return nullptr;
}

inline std::int32_t __stdcall HostSet(const char* name, const char* value) {
  std::string n = TakeBlock(name);
  std::string v = TakeBlock(value);
  ++Host.publications;
  if (!Host.keepPublished) Host.published.clear();
  Host.published.emplace_back(std::move(n), std::move(v));
  return 1;
}

inline std::int32_t __stdcall HostRegisterAction(std::int32_t, const char* name, const char* description, std::int32_t,
                                                 std::int32_t, std::int32_t) {
  TakeBlock(name);
  TakeBlock(description);
  return 1;
}

// Loads the DLL beside the program and registers the test host with the
// given get-variable and set-variable functions (either may be null).
inline LoadedPlugin LoadAndRegister(GetVariableProc get = &HostGet, SetVariableProc set = &HostSet) {
  LoadedPlugin p = LoadPlugin();
  if (p.module == nullptr || p.registerPlugIn == nullptr || p.execAction == nullptr) {
    p.module = nullptr;
    return p;
  }
  Register(p, &HostRegisterAction, get, set);
  Host.Clear();
  return p;
}

// Registers other host functions with a loaded DLL (either may be null).
inline void Reregister(const LoadedPlugin& p, GetVariableProc get, SetVariableProc set) {
  Register(p, &HostRegisterAction, get, set);
}

// ---- Tone settings ----------------------------------------------------------

// The ten settings as the host enters them: frequencies in Hz and volumes in
// percent, each exactly representable so that the text and the double agree
// without any conversion of our own.
struct Tone {
  double freq[4];    // Gen1 left, Gen1 right, Gen2 left, Gen2 right
  double volume[4];  // percent, same order
  double master[2];  // percent, Gen1, Gen2
};

constexpr std::int32_t FreqIds[4] = {1010, 1011, 1020, 1021};
constexpr std::int32_t VolumeIds[4] = {1012, 1013, 1022, 1023};
constexpr std::int32_t MasterIds[2] = {1014, 1024};

inline std::string NumberText(double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// Sends every setting of `tone` to the DLL; true when each answered 1.
inline bool SendTone(const LoadedPlugin& p, const Tone& tone) {
  bool ok = true;
  for (int c = 0; c < 4; ++c) {
    ok &= Exec(p, FreqIds[c], NumberText(tone.freq[c]).c_str()) == 1;
    ok &= Exec(p, VolumeIds[c], NumberText(tone.volume[c]).c_str()) == 1;
  }
  for (int g = 0; g < 2; ++g) ok &= Exec(p, MasterIds[g], NumberText(tone.master[g]).c_str()) == 1;
  return ok;
}

// Puts `tone` into this program's own GeneratorState, as the DLL stores it
// (a volume percentage becomes the gain percentage / 100), counters at 0 and
// both generators sounding.
inline void LoadReference(const Tone& tone) {
  LoadDefaults();
  GeneratorStateRecord& s = GeneratorState;
  for (int c = 0; c < 4; ++c) SetChannel(c, tone.freq[c], tone.volume[c] / 100.0);
  Store(s.Gen1MasterVolume, tone.master[0] / 100.0);
  Store(s.Gen2MasterVolume, tone.master[1] / 100.0);
}

// Sets this program's counters, so the next FillBuffer makes the words of
// the frame at `count` onward.
inline void SeekReference(std::int64_t count) { StoreCounters(count); }

// ---- Capture comparison -----------------------------------------------------

// Reads the capture from `firstFrame` on, in whole buffers.
class CaptureReader {
 public:
  explicit CaptureReader(std::int64_t firstFrame = 0) {
    file_ = CreateFileA(CapturePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        0, nullptr);
    if (file_ == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER at;
    at.QuadPart = firstFrame * BytesPerFrame;
    if (!SetFilePointerEx(file_, at, nullptr, FILE_BEGIN)) Close();
  }
  ~CaptureReader() { Close(); }
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;
  bool ok() const { return file_ != INVALID_HANDLE_VALUE; }
  // Up to one buffer of words; fewer at the end, none after it.
  std::vector<std::int16_t> NextBuffer() {
    std::vector<std::int16_t> words(2 * FramesPerBuffer);
    DWORD got = 0;
    if (!ok() || !ReadFile(file_, words.data(), static_cast<DWORD>(words.size() * 2), &got, nullptr)) got = 0;
    words.resize(got / BytesPerFrame * 2);
    return words;
  }

 private:
  void Close() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
    file_ = INVALID_HANDLE_VALUE;
  }
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

// FillBuffer's words for `tone` at frames [count, count + frames).
inline std::vector<std::int16_t> ReferenceWords(const Tone& tone, std::int64_t count, std::int32_t frames) {
  LoadReference(tone);
  SeekReference(count);
  std::vector<std::int16_t> words(2 * static_cast<std::size_t>(frames));
  FillBuffer(words.data(), frames);
  return words;
}

struct Comparison {
  std::int64_t framesCompared = 0;  // the synthesis's frames found in order, from count 0
  std::int64_t firstMismatch = -1;  // capture frame of the first word that is not the synthesis's, -1 if none
  std::int64_t mismatchCount = -1;  // the count the synthesis had reached there
  std::int64_t gaps = 0;            // runs of silence the audio system put between two buffers
  std::int64_t gapFrames = 0;       // frames in those runs
  std::int64_t resetSilence = 0;    // zero frames at the very end left out (the device's own)
};

// Compares the capture with FillBuffer's words for `tone` from count 0, one
// buffer at a time (the capture of a long run does not fit in memory).
//
// When the worker is late the capture device runs dry, and the audio system
// then plays silence of its own (one 441-frame period at a time) before the
// words go on. Such zero frames, wherever they fall, are counted as gaps and
// not compared; every word the worker made must still be there, in order and
// exact, so a lost, repeated or changed word is a mismatch. A run of at most
// one period of zero frames at the very end is the audio system's ending
// after a reset and is left out.
inline Comparison CompareCaptureWithTone(const Tone& tone) {
  Comparison result;
  CaptureReader reader;
  if (!reader.ok()) return result;
  LoadReference(tone);
  std::vector<std::int16_t> expected(2 * FramesPerBuffer);
  FillBuffer(expected.data(), FramesPerBuffer);
  std::int64_t frame = 0;   // position in the capture
  std::int64_t count = 0;   // the synthesis's next frame
  std::int64_t gapRun = 0;  // zero frames of the current gap
  std::vector<std::int16_t> got = reader.NextBuffer();
  std::size_t at = 0;
  while (at < got.size() / 2) {
    const std::size_t e = static_cast<std::size_t>(count % FramesPerBuffer);
    const std::int16_t left = got[2 * at], right = got[2 * at + 1];
    if (left == expected[2 * e] && right == expected[2 * e + 1]) {
      if (gapRun > 0) {
        ++result.gaps;
        result.gapFrames += gapRun;
        gapRun = 0;
      }
      ++count;
      if (count % FramesPerBuffer == 0) FillBuffer(expected.data(), FramesPerBuffer);
    } else if (left == 0 && right == 0) {
      ++gapRun;
    } else {
      result.firstMismatch = frame;
      result.mismatchCount = count;
      break;
    }
    ++frame;
    if (++at == got.size() / 2) {
      got = reader.NextBuffer();
      at = 0;
    }
  }
  if (result.firstMismatch < 0 && gapRun > 0) {
    // Zeros to the end: the ending after a reset when short, else a gap.
    if (gapRun <= 441) {
      result.resetSilence = gapRun;
    } else {
      ++result.gaps;
      result.gapFrames += gapRun;
    }
  }
  // A reset may also end the stream inside a buffer, with zeros after it.
  if (result.firstMismatch >= 0) {
    std::vector<std::int16_t> rest(got.begin() + static_cast<std::ptrdiff_t>(2 * at), got.end());
    for (std::vector<std::int16_t> more; rest.size() <= 2 * 441 && !(more = reader.NextBuffer()).empty();) {
      rest.insert(rest.end(), more.begin(), more.end());
    }
    bool zerosToEnd = rest.size() <= 2 * 441;
    for (std::size_t w = 0; w < rest.size() && zerosToEnd; ++w) zerosToEnd = rest[w] == 0;
    if (zerosToEnd) {
      result.resetSilence = static_cast<std::int64_t>(rest.size() / 2);
      result.firstMismatch = -1;
      result.mismatchCount = -1;
    }
  }
  result.framesCompared = count;
  return result;
}

// The capture with every run of at least `minRun` zero frames taken out:
// the audio system's silence while the device ran dry, which a tone with all
// channels audible never makes. Keeps where each run was (capture frame,
// length). A shorter run of zeros at the very end (the ending after a reset)
// is taken out as well.
struct Gap {
  std::int64_t frame;
  std::int64_t length;
};
inline std::vector<std::int16_t> CaptureWithoutGaps(std::int64_t minRun, std::vector<Gap>& gaps) {
  std::vector<std::int16_t> words = ReadCapture();
  DropResetSilence(words);
  std::vector<std::int16_t> kept;
  kept.reserve(words.size());
  const std::int64_t frames = static_cast<std::int64_t>(words.size() / 2);
  for (std::int64_t f = 0; f < frames;) {
    std::int64_t run = 0;
    while (f + run < frames && words[2 * (f + run)] == 0 && words[2 * (f + run) + 1] == 0) ++run;
    if (run >= minRun) {
      gaps.push_back({f, run});
    } else {
      kept.insert(kept.end(), words.begin() + 2 * f, words.begin() + 2 * (f + std::max<std::int64_t>(run, 1)));
    }
    f += std::max<std::int64_t>(run, 1);
  }
  return kept;
}

// ---- Process figures --------------------------------------------------------

struct ProcessFigures {
  DWORD handleCount = 0;       // GetProcessHandleCount
  std::int64_t handles = -1;   // the system's handle table entries of this process, -1 if unavailable
  SIZE_T privateUsage = 0;     // GetProcessMemoryInfo: PrivateUsage
  SIZE_T pagefileUsage = 0;    // GetProcessMemoryInfo: PagefileUsage
  std::int64_t committed = 0;  // committed private pages of the address space, by VirtualQuery
};

// The handle table as ntdll lists it (information class 16): one entry per
// open handle of every process.
struct SystemHandleEntry {
  ULONG ownerPid;
  BYTE objectType;
  BYTE flags;
  USHORT handleValue;
  PVOID object;
  ACCESS_MASK access;
};
struct SystemHandleTable {
  ULONG count;
  SystemHandleEntry entries[1];
};
using NtQuerySystemInformationProc = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

// Open handles of this process as the system's handle table lists them; -1
// when the table cannot be had.
inline std::int64_t CountOwnHandles() {
  static auto query = reinterpret_cast<NtQuerySystemInformationProc>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return -1;
  std::vector<unsigned char> table(1 << 20);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    LONG status = query(16, table.data(), static_cast<ULONG>(table.size()), &needed);
    if (status == 0) {
      const auto* t = reinterpret_cast<const SystemHandleTable*>(table.data());
      const ULONG self = GetCurrentProcessId();
      std::int64_t own = 0;
      for (ULONG i = 0; i < t->count; ++i) own += t->entries[i].ownerPid == self;
      return own;
    }
    table.resize(std::max<std::size_t>(table.size() * 2, needed + 4096));
  }
  return -1;
}

// Committed private memory of the whole address space, by VirtualQuery.
inline std::int64_t CommittedPrivateBytes() {
  std::int64_t total = 0;
  MEMORY_BASIC_INFORMATION info;
  for (const char* at = nullptr; VirtualQuery(at, &info, sizeof info) == sizeof info;) {
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) total += static_cast<std::int64_t>(info.RegionSize);
    const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return total;
}

inline ProcessFigures MeasureProcess() {
  ProcessFigures f;
  GetProcessHandleCount(GetCurrentProcess(), &f.handleCount);
  f.handles = CountOwnHandles();
  PROCESS_MEMORY_COUNTERS_EX pmc{};
  pmc.cb = sizeof pmc;
  if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc)) {
    f.privateUsage = pmc.PrivateUsage;
    f.pagefileUsage = pmc.PagefileUsage;
  }
  f.committed = CommittedPrivateBytes();
  return f;
}

// The figures once the process has settled: each the least of three
// measurements 100 ms apart, so that a block or thread stack that is on its
// way back (a passing peak) does not count, while anything held for good does.
inline ProcessFigures SettledFigures() {
  ProcessFigures least = MeasureProcess();
  for (int i = 0; i < 2; ++i) {
    Sleep(100);
    ProcessFigures f = MeasureProcess();
    least.handleCount = std::min(least.handleCount, f.handleCount);
    least.handles = std::min(least.handles, f.handles);
    least.privateUsage = std::min(least.privateUsage, f.privateUsage);
    least.pagefileUsage = std::min(least.pagefileUsage, f.pagefileUsage);
    least.committed = std::min(least.committed, f.committed);
  }
  return least;
}

// One line of a figures table, and its heading.
inline void PrintFiguresHeading(const char* what) {
  std::printf("  %12s  HandleCount  handles  PrivateUsage  PagefileUsage   committed\n", what);
}
inline void PrintFigures(std::int64_t at, const ProcessFigures& f) {
  std::printf("  %12lld  %11lu  %7lld  %12lu  %13lu  %10lld\n", static_cast<long long>(at), f.handleCount,
              static_cast<long long>(f.handles), static_cast<unsigned long>(f.privateUsage),
              static_cast<unsigned long>(f.pagefileUsage), static_cast<long long>(f.committed));
}

// Starts playback from an empty capture and waits until the capture holds
// at least `frames` frames; false if it did not get there within `timeoutMs`.
inline bool PlayAtLeast(const LoadedPlugin& p, std::int64_t frames, DWORD timeoutMs) {
  ResetCapture();
  if (Exec(p, 1000) != 1) return false;
  return WaitForCapture(frames * BytesPerFrame, timeoutMs);
}

}  // namespace soak
