// Wall time and peak memory of kq-render for a 10-minute, four-tone script
// (a change a minute), written to a WAV file. The goals: under 5 s on a
// 2-core machine, and under 20 MB, since the render streams. Runs the
// program three times and prints the median wall and CPU times and the
// largest peak.
//
// Usage: render_bench [path of kq-render]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int Runs = 3;
constexpr double AudioSeconds = 600.0;

const char* const Script = R"(SetKalvix1FreqLeft 440
SetKalvix1FreqRight 445
SetKalvix2FreqLeft 200
SetKalvix2FreqRight 210
SetKalvix1VolumeLeft 80
SetKalvix1VolumeRight 80
SetKalvix2VolumeLeft 60
SetKalvix2VolumeRight 60
Kalvix_Start
wait 60000
SetKalvix1FreqLeft 523.25
wait 60000
SetKalvix2FreqRight 1000
wait 60000
MuteGen2
wait 60000
UnMuteGen2
wait 60000
SetKalvix1VolumeRight 40
wait 60000
SetKalvix2FreqLeft 15000
wait 60000
SetKalvix1MasterVolume 50
wait 60000
SetKalvix1FreqRight 20000
wait 60000
SetKalvix2MasterVolume 100
wait 60000
Kalvix_Stop
)";

struct Figures {
  double wallSeconds = -1.0;
  double cpuSeconds = 0.0;  // user and system: less swayed by other load on the machine
  long peakKilobytes = 0;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

// Runs the program to its end; the peak resident set comes from the kernel.
Figures RunOnce(const std::string& program, const fs::path& script, const fs::path& wav) {
  Figures f;
  const auto begin = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    execl(program.c_str(), program.c_str(), "--out", wav.c_str(), script.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (child < 0) return f;
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return f;
  f.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  f.cpuSeconds = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
  f.peakKilobytes = usage.ru_maxrss;
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string program = argc > 1 ? argv[1] : KQ_RENDER_PATH;
  std::string pattern = (fs::temp_directory_path() / "kq-render-bench.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::fprintf(stderr, "render_bench: cannot make a temporary folder\n");
    return 1;
  }
  const fs::path folder = pattern;
  std::ofstream(folder / "ten-minutes.kq") << Script;
  std::vector<double> times;
  std::vector<double> cpu;
  long peak = 0;
  for (int i = 0; i < Runs; ++i) {
    const Figures f = RunOnce(program, folder / "ten-minutes.kq", folder / "render.wav");
    if (f.wallSeconds < 0.0) {
      std::fprintf(stderr, "render_bench: %s failed\n", program.c_str());
      fs::remove_all(folder);
      return 1;
    }
    times.push_back(f.wallSeconds);
    cpu.push_back(f.cpuSeconds);
    peak = std::max(peak, f.peakKilobytes);
  }
  const auto wavBytes = static_cast<long long>(fs::file_size(folder / "render.wav"));
  fs::remove_all(folder);
  std::sort(times.begin(), times.end());
  std::sort(cpu.begin(), cpu.end());
  const double median = times[times.size() / 2];
  std::printf(
      "kq-render 10-minute four-tone script: %.2f s wall (median of %d; goal < 5 s), %.0fx real time; "
      "%.2f s CPU\n",
      median, Runs, AudioSeconds / median, cpu[cpu.size() / 2]);
  std::printf("kq-render peak memory: %.1f MB (goal < 20 MB) for a %.1f MB WAV\n", peak / 1024.0,
              static_cast<double>(wavBytes) / (1024.0 * 1024.0));
  return 0;
}
