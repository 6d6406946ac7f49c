#include "host/audio_clock.h"

#include <windows.h>

#include <cstdio>

#include "host/capture_file.h"

namespace {

struct ScriptClock {
  std::string capturePath;  // Windows path of the capture; empty: system clock
  double leadMillis = 0.0;
  bool showTimeline = false;
  double scriptMillis = 0.0;     // sum of the waits since the start
  std::int64_t originBytes = 0;  // capture size at the start
  LARGE_INTEGER originTicks{};
  LARGE_INTEGER tickRate{};
  bool audioFailed = false;  // the capture stalled: the system clock takes over
} Clock;

constexpr double CaptureBytesPerMilli = 44100.0 * 4.0 / 1000.0;
constexpr DWORD CaptureStallMillis = 5000;

// Size of the capture in bytes; 0 while it does not exist.
std::int64_t CaptureBytes() {
  const std::int64_t bytes = FileBytes(Clock.capturePath);
  return bytes < 0 ? 0 : bytes;
}

double ElapsedSystemMillis() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart - Clock.originTicks.QuadPart) * 1000.0 /
         static_cast<double>(Clock.tickRate.QuadPart);
}

bool AudioClockActive() { return !Clock.capturePath.empty() && !Clock.audioFailed; }

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

}  // namespace

void ConfigureClock(const std::string& capturePath, double leadMillis, bool showTimeline) {
  Clock.capturePath = WindowsPathOf(capturePath);
  Clock.leadMillis = leadMillis;
  Clock.showTimeline = showTimeline;
  Clock.audioFailed = false;
}

void StartClock() {
  Clock.scriptMillis = 0.0;
  Clock.originBytes = Clock.capturePath.empty() ? 0 : CaptureBytes();
  QueryPerformanceFrequency(&Clock.tickRate);
  QueryPerformanceCounter(&Clock.originTicks);
}

double ClockMillis() {
  if (AudioClockActive()) return static_cast<double>(CaptureBytes() - Clock.originBytes) / CaptureBytesPerMilli;
  return ElapsedSystemMillis();
}

double ScriptMillis() { return Clock.scriptMillis; }

bool ClockShowsTimeline() { return Clock.showTimeline; }

void WaitOnClock(std::uint32_t millis) {
  Clock.scriptMillis += millis;
  WaitUntilClock(Clock.scriptMillis - Clock.leadMillis);
}

void FinishOnClock() {
  if (AudioClockActive()) WaitUntilClock(Clock.scriptMillis);
}
