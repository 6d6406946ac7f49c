// kq-rawwav: turns a raw capture of the output device (interleaved signed
// 16-bit little-endian words, as the device received them) into a WAV file,
// word for word.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <sndfile.h>

namespace {

// A stream reset while it plays ends with zero frames of the audio
// pipeline's own, which the plug-in never sent: one or a few 10 ms periods,
// never more than the pipeline's 100 ms buffer.
constexpr std::int64_t ClosingSilenceFrames = 4410;

// Reads the whole raw file as 16-bit words; false when it cannot be read.
bool ReadWords(const std::string& path, std::vector<std::int16_t>& words) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::vector<unsigned char> bytes;
  unsigned char chunk[65536];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  words.resize(bytes.size() / 2);
  for (std::size_t i = 0; i < words.size(); ++i) {
    words[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Writes a raw capture (signed 16-bit little-endian, interleaved) as a 16-bit PCM WAV file."};
  std::string input, output;
  int rate = 44100;
  int channels = 2;
  bool trimClosingSilence = false;
  app.add_option("raw", input, "Raw capture to convert")->required();
  app.add_option("wav", output, "WAV file to write")->required();
  app.add_option("--rate", rate, "Frames per second")->check(CLI::Range(1000, 384000));
  app.add_option("--channels", channels, "Channels per frame")->check(CLI::Range(1, 8));
  app.add_flag("--trim-closing-silence", trimClosingSilence,
               "Drop a final run of at most 4410 zero frames (100 ms: the closing silence of a reset stream)");
  CLI11_PARSE(app, argc, argv);

  std::vector<std::int16_t> words;
  if (!ReadWords(input, words)) {
    std::fprintf(stderr, "kq-rawwav: cannot read '%s'\n", input.c_str());
    return 1;
  }
  // A partial frame at the end (a capture cut mid-write) is dropped.
  std::int64_t frames = static_cast<std::int64_t>(words.size()) / channels;
  if (trimClosingSilence) {
    std::int64_t zeros = 0;
    while (zeros < frames) {
      bool silent = true;
      for (int c = 0; c < channels; ++c) silent = silent && words[(frames - 1 - zeros) * channels + c] == 0;
      if (!silent) break;
      ++zeros;
    }
    if (zeros <= ClosingSilenceFrames) frames -= zeros;
  }

  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* wav = sf_open(output.c_str(), SFM_WRITE, &info);
  if (wav == nullptr) {
    std::fprintf(stderr, "kq-rawwav: cannot write '%s': %s\n", output.c_str(), sf_strerror(nullptr));
    return 1;
  }
  const sf_count_t written = frames > 0 ? sf_writef_short(wav, words.data(), frames) : 0;
  const int closed = sf_close(wav);
  if (written != frames || closed != 0) {
    std::fprintf(stderr, "kq-rawwav: writing '%s' failed\n", output.c_str());
    return 1;
  }
  return 0;
}
