// Figures of playback through the real DLL under Wine: start and stop latency
// of the actions, and the host process's CPU time per second of audio with
// all four channels sounding and with both generators muted (the audio
// pipeline alone). Also times the synthesis on its own. Prints figures; it
// asserts nothing and is not a test. Run by scripts/bench-playback, which
// points the default ALSA device at a raw file over the null device.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "tests/output/capture.h"
#include "tests/support/channels.h"
#include "tests/support/plugin_loader.h"

namespace {

constexpr double BytesPerAudioSecond = 44100.0 * 4;

LoadedPlugin plugin;

void Exec(std::int32_t action, const char* text = nullptr) { ExecChecked(plugin, action, text); }

double NowMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](FILETIME f) {
    return static_cast<double>((static_cast<ULONGLONG>(f.dwHighDateTime) << 32) | f.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

struct Spread {
  double median, max;
};
Spread Summarize(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v.back()};
}

void Latencies(int rounds) {
  std::vector<double> starts, stops;
  for (int i = 0; i < rounds; ++i) {
    ResetCapture();
    double t0 = NowMs();
    Exec(1000);
    starts.push_back(NowMs() - t0);
    if (!WaitForCapture(4 * 8192, 10000)) std::printf("round %d: no sound within 10 s\n", i);
    Sleep(100);
    t0 = NowMs();
    Exec(1001);
    stops.push_back(NowMs() - t0);
  }
  Spread start = Summarize(starts), stop = Summarize(stops);
  std::printf("start latency over %d starts: median %.3f ms, max %.3f ms\n", rounds, start.median, start.max);
  std::printf("stop latency over %d stops while playing: median %.3f ms, max %.3f ms\n", rounds, stop.median, stop.max);
}

// CPU seconds of the whole process per second of audio consumed.
double CpuPerAudioSecond(const char* label, DWORD wallMs) {
  ResetCapture();
  double cpu0 = ProcessCpuSeconds();
  Exec(1000);
  Sleep(wallMs);
  Exec(1001);
  double cpu = ProcessCpuSeconds() - cpu0;
  double audio = static_cast<double>(CaptureBytes()) / BytesPerAudioSecond;
  double perAudio = audio > 0 ? cpu / audio : 0.0;
  std::printf("%s: %.2f s of audio in %.2f s wall, %.3f CPU s, %.4f CPU s per audio s\n", label, audio, wallMs / 1000.0,
              cpu, perAudio);
  return perAudio;
}

// The synthesis alone, in this program's own copy of the engine.
void SynthesisAlone() {
  LoadDefaults();
  const double freq[4] = {440.0, 523.25, 1000.0, 6000.5};
  for (int c = 0; c < 4; ++c) Store(*FieldsOf(c).freq, freq[c]);
  std::vector<std::int16_t> buffer(2 * 2048);
  const int fills = 2000;  // about 93 s of audio
  double t0 = NowMs();
  for (int i = 0; i < fills; ++i) FillBuffer(buffer.data(), 2048);
  double ms = NowMs() - t0;
  double audioMs = fills * 2048 * 1000.0 / 44100.0;
  std::printf("FillBuffer alone, four channels: %.1f ms for %.1f s of audio, %.0fx real time\n", ms, audioMs / 1000.0,
              audioMs / ms);
}

}  // namespace

int main() {
  if (CapturePath().empty()) {
    std::printf("KQ_CAPTURE is not set\n");
    return 2;
  }
  plugin = LoadPlugin();
  if (plugin.module == nullptr) {
    std::printf("cannot load %s\n", PluginFileName);
    return 2;
  }
  for (std::int32_t id : {1010, 1011, 1020, 1021}) Exec(id, id % 2 ? "523.25" : "440");
  for (std::int32_t id : {1012, 1013, 1022, 1023}) Exec(id, "80");

  Exec(1000);  // the first start in a process also starts the system's audio service
  WaitForCapture(8192, 10000);
  Exec(1001);

  Latencies(50);
  double sounding = CpuPerAudioSecond("four channels sounding", 15000);
  Exec(1002);
  Exec(1004);
  double muted = CpuPerAudioSecond("both generators muted", 15000);
  double synthesis = sounding - muted;
  std::printf("synthesis in the DLL: %.4f CPU s per audio s", synthesis);
  if (synthesis > 0) std::printf(", %.0fx faster than real time", 1.0 / synthesis);
  std::printf("\n");
  SynthesisAlone();
  FreeLibrary(plugin.module);
  return 0;
}
