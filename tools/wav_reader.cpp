// WAV reading: 16-bit PCM stereo files through libsndfile, and a look at a
// WAV file's own chunk sizes, which libsndfile quietly corrects.
#include <sndfile.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tools/analysis.h"

namespace {

std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Compares a RIFF WAVE file's data chunk size with what the file holds.
// Other containers, and sizes a streaming writer leaves unset (0 or all
// ones), are not judged.
void CheckDataChunk(const std::string& path, std::vector<std::string>& warnings) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return;
  unsigned char head[12];
  std::uint32_t blockAlign = 0;
  if (std::fread(head, 1, 12, f) == 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WAVE", 4) == 0) {
    unsigned char chunk[8];
    while (std::fread(chunk, 1, 8, f) == 8) {
      const std::uint32_t size = Le32(chunk + 4);
      if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
        unsigned char fmt[16];
        if (std::fread(fmt, 1, 16, f) != 16) break;
        blockAlign = static_cast<std::uint32_t>(fmt[12]) | static_cast<std::uint32_t>(fmt[13]) << 8;
        if (std::fseek(f, static_cast<long>(size - 16 + (size & 1u)), SEEK_CUR) != 0) break;
        continue;
      }
      if (std::memcmp(chunk, "data", 4) == 0) {
        const long start = std::ftell(f);
        if (blockAlign == 0 || size == 0 || size == 0xffffffffu || start < 0 || std::fseek(f, 0, SEEK_END) != 0) break;
        const long end = std::ftell(f);
        if (end < start) break;
        const auto held = static_cast<std::uint64_t>(end - start);
        const std::uint64_t present = held < size ? held : size;
        if (held < size)
          warnings.push_back("the data chunk declares " + std::to_string(size / blockAlign) +
                             " frames but the file holds " + std::to_string(present / blockAlign) +
                             ": the recording ends early, and only those are measured");
        if (present % blockAlign != 0)
          warnings.push_back("the data ends in a partial frame (" + std::to_string(present % blockAlign) + " of " +
                             std::to_string(blockAlign) + " bytes), which is left out");
        break;
      }
      if (std::fseek(f, static_cast<long>(size + (size & 1u)), SEEK_CUR) != 0) break;
    }
  }
  std::fclose(f);
}

}  // namespace

bool ReadWavRecording(const std::string& path, WavRecording& out, std::string& error) {
  out = WavRecording{};
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) {
    error = "cannot read '" + path + "': " + sf_strerror(nullptr);
    return false;
  }
  bool ok = false;
  if (info.channels != 2) {
    error = "expected 2 channels, found " + std::to_string(info.channels);
  } else if ((info.format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_16) {
    error = "expected 16-bit PCM samples";
  } else if (info.samplerate < 1000 || info.samplerate > 384000) {
    error = "unsupported sample rate " + std::to_string(info.samplerate);
  } else if (info.frames < 0 || info.frames > static_cast<sf_count_t>(info.samplerate) * 3600) {
    error = "recording longer than one hour";
  } else {
    std::vector<short> buf(static_cast<std::size_t>(info.frames) * 2);
    const sf_count_t got = sf_readf_short(file, buf.data(), info.frames);
    if (got != info.frames) {
      error = "file ends early: " + std::to_string(got) + " of " + std::to_string(info.frames) + " frames";
    } else {
      out.SampleRate = info.samplerate;
      out.Left.resize(static_cast<std::size_t>(got));
      out.Right.resize(static_cast<std::size_t>(got));
      for (std::size_t i = 0; i < out.Left.size(); ++i) {
        out.Left[i] = buf[2 * i];
        out.Right[i] = buf[2 * i + 1];
      }
      ok = true;
    }
  }
  sf_close(file);
  if (ok) {
    CheckDataChunk(path, out.Warnings);
  } else {
    out = WavRecording{};
  }
  return ok;
}
