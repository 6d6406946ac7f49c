#include "tools/wav_out.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr int Channels = 2;
constexpr sf_count_t BytesPerFrame = 4;
// A WAV header from libsndfile for this format is far shorter.
constexpr sf_count_t MaxHeaderBytes = 4096;

SF_INFO Format() {
  SF_INFO info{};
  info.samplerate = Rate;
  info.channels = Channels;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  return info;
}

// A virtual file for libsndfile that keeps the header area (the bytes before
// the data) in memory and either drops the data (the rehearsal) or streams
// it to standard output in order.
struct StreamFile {
  sf_count_t position = 0;
  sf_count_t length = 0;
  sf_count_t dataOffset = MaxHeaderBytes;  // where the header ends, once known
  unsigned char header[MaxHeaderBytes] = {};
  bool streaming = false;   // data goes to standard output
  sf_count_t streamed = 0;  // data bytes sent so far
  bool outOfOrder = false;  // data written anywhere but at the end of the stream
  bool writeFailed = false;
};

sf_count_t StreamLength(void* user) { return static_cast<StreamFile*>(user)->length; }

sf_count_t StreamSeek(sf_count_t offset, int whence, void* user) {
  auto* f = static_cast<StreamFile*>(user);
  const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? f->position : f->length;
  f->position = std::max<sf_count_t>(0, base + offset);
  return f->position;
}

sf_count_t StreamRead(void*, sf_count_t, void*) { return 0; }

sf_count_t StreamWrite(const void* data, sf_count_t count, void* user) {
  auto* f = static_cast<StreamFile*>(user);
  const auto* bytes = static_cast<const unsigned char*>(data);
  sf_count_t done = 0;
  // Header bytes are kept; the last version written is the one that counts.
  while (done < count && f->position + done < f->dataOffset) {
    f->header[f->position + done] = bytes[done];
    ++done;
  }
  if (done < count && f->streaming) {
    if (f->position + done != f->dataOffset + f->streamed) {
      f->outOfOrder = true;
    } else {
      const auto n = static_cast<std::size_t>(count - done);
      if (std::fwrite(bytes + done, 1, n, stdout) != n) f->writeFailed = true;
      f->streamed += count - done;
    }
  }
  f->position += count;
  f->length = std::max(f->length, f->position);
  return count;
}

sf_count_t StreamTell(void* user) { return static_cast<StreamFile*>(user)->position; }

SF_VIRTUAL_IO StreamIo = {&StreamLength, &StreamSeek, &StreamRead, &StreamWrite, &StreamTell};

// The header libsndfile writes for a WAV of exactly `frames` frames: a
// rehearsal that writes that many zero frames to nowhere.
bool RehearseHeader(StreamFile& rehearsal, std::int64_t frames) {
  SF_INFO info = Format();
  SNDFILE* file = sf_open_virtual(&StreamIo, SFM_WRITE, &info, &rehearsal);
  if (file == nullptr) return false;
  rehearsal.dataOffset = rehearsal.position;
  const std::vector<short> zeros(static_cast<std::size_t>(8192) * Channels, 0);
  bool ok = true;
  for (std::int64_t left = frames; left > 0 && ok;) {
    const sf_count_t n = std::min<std::int64_t>(left, 8192);
    ok = sf_writef_short(file, zeros.data(), n) == n;
    left -= n;
  }
  return sf_close(file) == 0 && ok && rehearsal.length == rehearsal.dataOffset + frames * BytesPerFrame;
}

// The one streaming output of the process (standard output exists once).
StreamFile Stream;
StreamFile Rehearsal;

}  // namespace

bool OpenWavOut(WavOut& out, const std::string& path, std::int64_t totalFrames, std::string& error) {
  out = WavOut{};
  out.path = path;
  SF_INFO info = Format();
  if (path != "-") {
    out.file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (out.file == nullptr) {
      error = "cannot write '" + path + "': " + sf_strerror(nullptr);
      return false;
    }
    return true;
  }
  out.toStdout = true;
  out.expectedFrames = totalFrames;
  Rehearsal = StreamFile{};
  if (!RehearseHeader(Rehearsal, totalFrames)) {
    error = "cannot make the WAV header for standard output";
    return false;
  }
  Stream = StreamFile{};
  Stream.dataOffset = Rehearsal.dataOffset;
  Stream.streaming = true;
  out.file = sf_open_virtual(&StreamIo, SFM_WRITE, &info, &Stream);
  if (out.file == nullptr || Stream.position != Stream.dataOffset) {
    error = "cannot write the WAV to standard output";
    return false;
  }
  // The final header goes out first; the data follows it as it is made.
  const auto headerBytes = static_cast<std::size_t>(Rehearsal.dataOffset);
  if (std::fwrite(Rehearsal.header, 1, headerBytes, stdout) != headerBytes) {
    error = "writing to standard output failed";
    return false;
  }
  return true;
}

bool WriteWavFrames(WavOut& out, const std::int16_t* words, std::int64_t frames, std::string& error) {
  if (frames <= 0) return true;
  if (out.toStdout && out.writtenFrames + frames > out.expectedFrames) {
    error = "more frames than the WAV header on standard output announces";
    return false;
  }
  const sf_count_t written = sf_writef_short(out.file, words, frames);
  if (written != frames || (out.toStdout && (Stream.writeFailed || Stream.outOfOrder))) {
    error = out.toStdout ? "writing to standard output failed" : "writing '" + out.path + "' failed";
    return false;
  }
  out.writtenFrames += frames;
  return true;
}

bool CloseWavOut(WavOut& out, std::string& error) {
  if (out.file == nullptr) return true;
  const int closed = sf_close(out.file);
  out.file = nullptr;
  if (!out.toStdout) {
    if (closed != 0) error = "writing '" + out.path + "' failed";
    return closed == 0;
  }
  const bool flushed = std::fflush(stdout) == 0;
  // What libsndfile wrote last into the header must be what went out first.
  const bool sameHeader =
      std::memcmp(Stream.header, Rehearsal.header, static_cast<std::size_t>(Rehearsal.dataOffset)) == 0;
  if (closed != 0 || !flushed || Stream.writeFailed || Stream.outOfOrder || !sameHeader ||
      out.writtenFrames != out.expectedFrames) {
    error = "writing the WAV to standard output failed";
    return false;
  }
  return true;
}
