// Rendering a script offline: the script host's commands, the plug-in's own
// action steps and FillBuffer on the one GeneratorState, laid out on the
// ideal timeline of docs/host.md ("Timeline"). No clock and no device: a
// render takes as long as the synthesis does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/script.h"
#include "tools/wav_out.h"

// The plug-in fills whole buffers of this many frames.
constexpr std::int64_t RenderBufferFrames = 2048;

// The most frames a render may hold: whole buffers that fit a WAV file's
// 4 GiB (about 6 h 45 min).
constexpr std::int64_t MaxRenderFrames = 524287 * RenderBufferFrames;

// The buffer boundary nearest to `scriptMillis` after the start, in frames;
// half way between two boundaries counts as the later one.
std::int64_t BoundaryFrames(std::uint64_t scriptMillis);

// Where the commands of a checked script fall on the timeline.
struct RenderPlan {
  // Per command: the frames of audio in the file when it runs. An action
  // while playing runs at its buffer boundary, so the audio is filled up to
  // there first.
  std::vector<std::int64_t> framesBefore;
  std::int64_t totalFrames = 0;  // when the last run has ended
  bool stopsAtEnd = false;       // still playing at the end: stopped there, as kqhost does
  bool starts = false;           // some Kalvix_Start began a run
};

// Lays the checked commands on the timeline. Returns false, with the line
// reported, when the render would not fit a WAV file.
bool PlanRender(const ScriptHostRecord& host, const std::vector<ScriptCommand>& commands, RenderPlan& plan);

// Loads the generator's defaults and runs the commands, writing the audio
// to `out` as it is made. Progress goes to standard error when `progress`.
// Returns ExitOk, ExitScriptError (with the line reported) or ExitLoadError
// (the output failed; reported).
int RenderScript(ScriptHostRecord& host, const std::vector<ScriptCommand>& commands, const RenderPlan& plan,
                 WavOut& out, bool progress);

// Registers the plug-in's sixteen actions with the host, in table order.
void RegisterPluginActions(ScriptHostRecord& host);
