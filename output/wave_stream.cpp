#include "output/wave_stream.h"

#include "engine/fill_buffer.h"
#include "engine/generator_state.h"
#include "output/heaps.h"

OutputStreamRecord OutputStream;

namespace {
// Set once the 1 ms timer period has been requested; it is never ended.
bool timerPeriodRaised = false;

constexpr UINT HeaderSize = sizeof(WAVEHDR);

// The device thread sets the done bit while the worker polls it.
DWORD LoadFlags(const WAVEHDR& header) { return __atomic_load_n(&header.dwFlags, __ATOMIC_ACQUIRE); }
}  // namespace

std::int32_t BufferBytes() {
  return GeneratorState.ChannelCount * FramesPerBuffer * (GeneratorState.BitsPerSample / 8);
}

WAVEFORMATEX BuildWaveFormat() {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<WORD>(GeneratorState.ChannelCount);
  format.nSamplesPerSec = static_cast<DWORD>(static_cast<std::int32_t>(GeneratorState.SampleRate));
  format.nBlockAlign = static_cast<WORD>((GeneratorState.ChannelCount * GeneratorState.BitsPerSample) / 8);
  format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
  format.wBitsPerSample = static_cast<WORD>(GeneratorState.BitsPerSample);
  format.cbSize = 0;
  return format;
}

std::int32_t OpenWaveDevice() {
  WAVEFORMATEX format = BuildWaveFormat();
  HWAVEOUT handle = nullptr;
  if (waveOutOpen(&handle, WAVE_MAPPER, &format, 0, 0, WAVE_ALLOWSYNC) == MMSYSERR_NOERROR) {
    OutputStream.device = handle;
    return 1;
  }
  OutputStream.device = nullptr;
  return 0;
}

void SubmitSlot(std::int32_t i) {
  WAVEHDR* header = &OutputStream.slots[i].header;
  header->dwBytesRecorded = 0;
  waveOutPrepareHeader(OutputStream.device, header, HeaderSize);
  waveOutWrite(OutputStream.device, header, HeaderSize);
}

HWAVEOUT ReleaseWaveStream() {
  HWAVEOUT device = OutputStream.device;
  if (device == nullptr) return nullptr;
  // The reset hands back every queued buffer, so each may be unprepared and freed.
  waveOutReset(device);
  for (std::int32_t i = 0; i < SlotCount; ++i) {
    BufferSlot& slot = OutputStream.slots[i];
    if (slot.buffer == nullptr) continue;
    waveOutUnprepareHeader(device, &slot.header, HeaderSize);
    HeapRelease(BufferHeap, slot.buffer);
    slot.buffer = nullptr;
  }
  OutputStream.device = nullptr;
  return device;
}

void ClearStopRequest() { Store(OutputStream.stopRequested, 0); }

void RequestStop() { Store(OutputStream.stopRequested, 1); }

void DelayMs(std::int32_t milliseconds) {
  if (milliseconds < 0) return;
  if (!timerPeriodRaised) {
    timeBeginPeriod(1);
    timerPeriodRaised = true;
  }
  // Alertable, so that a stop wakes the worker at once (StopPlayback queues it
  // an empty call) instead of at the end of its poll interval.
  SleepEx(static_cast<DWORD>(milliseconds), TRUE);
}

std::int32_t RunPlaybackAndClose() {
  HWAVEOUT device = RunPlayback();
  if (device != nullptr) waveOutClose(device);
  return 0;
}

HWAVEOUT RunPlayback() {
  // Without its slots (the load sequence ran out of memory) the worker fails
  // as it does for a missing buffer, before touching the device.
  if (OutputStream.slots == nullptr || OpenWaveDevice() == 0) {
    RequestStop();
    return nullptr;
  }
  const std::int32_t bytes = BufferBytes();

  // Prefill in slot order: slot 0 plays before slot 1 is allocated.
  for (std::int32_t i = 0; i < SlotCount; ++i) {
    BufferSlot& slot = OutputStream.slots[i];
    slot.buffer = static_cast<std::uint8_t*>(AllocateBuffer(bytes));
    if (slot.buffer == nullptr) {
      RequestStop();
      break;
    }
    FillBuffer(slot.buffer, FramesPerBuffer);
    slot.header.lpData = reinterpret_cast<LPSTR>(slot.buffer);
    slot.header.dwBufferLength = static_cast<DWORD>(bytes);
    slot.header.dwFlags = 0;
    slot.header.dwLoops = 0;
    slot.header.dwUser = 0;
    SubmitSlot(i);
  }

  // Refill in place every buffer the device has finished; the header is
  // prepared again on each write and unprepared once, when the stream closes.
  while (Load(OutputStream.stopRequested) == 0) {
    for (std::int32_t j = 0; j < SlotCount; ++j) {
      BufferSlot& slot = OutputStream.slots[j];
      if ((LoadFlags(slot.header) & WHDR_DONE) == 0) continue;
      FillBuffer(slot.buffer, FramesPerBuffer);
      slot.header.dwFlags = 0;
      SubmitSlot(j);
    }
    DelayMs(PollInterval);
  }

  return ReleaseWaveStream();
}
