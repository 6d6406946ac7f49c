// The wave output stream: the default output device, a ring of four PCM
// buffers and the playback that the one worker thread runs to keep them full
// (the thread's routine itself is PlaybackWorker, in run_control.h).
//
// The device is opened without a completion callback; the worker learns that
// a buffer has played only by polling the done bit of its header.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

constexpr std::int32_t SlotCount = 4;
constexpr std::int32_t FramesPerBuffer = 2048;
constexpr std::int32_t PollInterval = 10;  // milliseconds

// One ring entry. While a run lasts header.lpData is buffer and
// header.dwBufferLength the buffer size; lpNext and reserved belong to the
// device and are never written here.
struct BufferSlot {
  WAVEHDR header;
  std::uint8_t* buffer;  // null when no buffer is allocated
};

struct OutputStreamRecord {
  HWAVEOUT device;    // null while no device is open; only the worker sets it
  BufferSlot* slots;  // SlotCount zero-filled slots from RuntimeHeap, load to unload
  // 0 or 1. Cleared by the start, set by the stop or by a worker that fails;
  // the worker reads it before every pass of its polling loop. Written only
  // through ClearStopRequest and RequestStop.
  std::atomic<std::int32_t> stopRequested;
};

extern OutputStreamRecord OutputStream;

// Bytes of one ring buffer: ChannelCount * 2048 * (BitsPerSample / 8), the
// division first. 8192 with the load-time format.
std::int32_t BufferBytes();

// The device format built afresh from GeneratorState's format values
// (PCM, 44100 frames/s, 16 bits, 2 channels after load).
WAVEFORMATEX BuildWaveFormat();

// Opens the default output device (WAVE_MAPPER, no callback, WAVE_ALLOWSYNC)
// in BuildWaveFormat's format. Returns 1 and sets OutputStream.device on
// success; 0 and a null device otherwise. Worker thread only.
std::int32_t OpenWaveDevice();

// Zeroes slot i's recorded-bytes count, prepares its header and queues it;
// results are ignored. Worker thread only, with the device open.
void SubmitSlot(std::int32_t i);

// Resets the device, unprepares and frees every allocated buffer and clears
// OutputStream.device, but leaves the device open: returns its handle, which
// the caller must close (null when none was open; then nothing changes).
// Worker thread only.
HWAVEOUT ReleaseWaveStream();

// Clears the stop request before a worker starts. Host's thread.
void ClearStopRequest();

// Asks the worker to end its playback at its next poll: by the host's thread
// (stop, unload) or by the worker itself when it fails.
void RequestStop();

// Sleeps `milliseconds`, alertably (a call queued to the worker ends the
// sleep early); a negative value returns at once. The first call
// that sleeps raises the system timer resolution to 1 ms for the rest of the
// process's life.
void DelayMs(std::int32_t milliseconds);

// The playback: open, prefill the ring in order, refill every done buffer
// each 10 ms pass until a stop is requested, then reset the device and free
// the buffers. Ends on its own (setting stopRequested) when the device cannot
// be opened or a buffer cannot be allocated. Returns the reset device, still
// open, for the caller to close (null when none was opened): the worker
// closes it once it has left the module's code (PlaybackWorker).
HWAVEOUT RunPlayback();

// RunPlayback, then waveOutClose of its device, on the calling thread: the
// whole stream without a worker thread, for test programs. Returns 0.
std::int32_t RunPlaybackAndClose();
