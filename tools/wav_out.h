// The render's WAV file (44,100 Hz, 16-bit stereo), written through
// libsndfile as the frames are made, to a file or to standard output. Only
// one buffer is held at a time.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

struct WavOut {
  SNDFILE* file = nullptr;
  bool toStdout = false;
  std::int64_t expectedFrames = 0;  // standard output: what the header announces
  std::int64_t writtenFrames = 0;
  std::string path;  // for messages; "-" for standard output
};

// Opens the output. "-" streams to standard output: a pipe cannot be seeked
// back to complete the header, so the header is made first for exactly
// `totalFrames` frames, and that many must then be written. A file is
// completed when it is closed and takes any number.
bool OpenWavOut(WavOut& out, const std::string& path, std::int64_t totalFrames, std::string& error);

// Appends interleaved frames (left, right words).
bool WriteWavFrames(WavOut& out, const std::int16_t* words, std::int64_t frames, std::string& error);

// Completes and closes the output.
bool CloseWavOut(WavOut& out, std::string& error);
