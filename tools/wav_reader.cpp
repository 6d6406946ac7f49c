// WAV reading: 16-bit PCM stereo files through libsndfile.
#include <sndfile.h>

#include "tools/analysis.h"

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
  if (!ok) out = WavRecording{};
  return ok;
}
