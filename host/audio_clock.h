// The script's clock while the tone generator plays. Script time is the sum
// of the waits since the last start; with an audio clock, "now" is how much
// audio the capture holds since that start, so a stalled device start-up or
// a slow pipeline does not shift later changes against the sound. Without a
// capture, or once the capture stalls, the system clock is used.
//
// One clock per process, used from the host's own thread only.
#pragma once

#include <cstdint>
#include <string>

// capturePath: the raw capture (Unix or Windows path; empty: system clock).
// leadMillis: how far ahead of the capture a change is filled.
void ConfigureClock(const std::string& capturePath, double leadMillis, bool showTimeline);

// At a start: script time 0, and the clocks' origins taken now.
void StartClock();
// Milliseconds played since the start on the clock in use.
double ClockMillis();
// The sum of the waits since the start.
double ScriptMillis();
// Whether a "timeline" line is printed per action while playing.
bool ClockShowsTimeline();

// A wait while playing ends the lead before the script time, so that the
// change that follows is filled where the script puts it.
void WaitOnClock(std::uint32_t millis);
// Before a stop on the audio clock: the stop discards what is filled ahead,
// so it waits out the lead and the capture lasts as long as the script.
void FinishOnClock();
