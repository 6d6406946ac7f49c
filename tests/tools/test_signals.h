// Known test recordings: sums of sines at given levels, written with
// libsndfile as 16-bit stereo WAVs like the generator's output.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct TestTone {
  double Hz;
  double Dbfs;         // 0 dBFS = sine of peak 32767
  double Phase = 0.0;  // radians at frame 0
};

// One side from frame `from` on; tones' phases run from frame 0, so a change
// keeps each frequency's phase as the generator does.
struct TestSpan {
  std::int64_t From;
  std::vector<TestTone> Left;
  std::vector<TestTone> Right;
};

struct TestSignal {
  std::int64_t Frames = 3 * 44100;
  std::vector<TestSpan> Spans;  // ascending From, first From 0
  bool Dither = true;           // TPDF dither of +-1 word before rounding
  bool Truncate = false;        // toward zero and without dither, as the generator converts
  double Rate = 44100.0;
};

// Samples of one side (0 left, 1 right), rounded and clipped to 16 bits.
std::vector<std::int16_t> SynthesiseSide(const TestSignal& signal, int side);

// A fresh file name in the test's temporary folder.
std::string TempPath(const std::string& name);

// Writes the signal as a 16-bit stereo WAV; answers the path.
std::string WriteTestWav(const TestSignal& signal, const std::string& name);

// Writes two sides of words as a 16-bit stereo WAV; answers the path.
std::string WriteWordsWav(const std::vector<std::int16_t>& left, const std::vector<std::int16_t>& right, double rate,
                          const std::string& name);

// The truth of a periodic side, from the exact spectrum of its first period
// (`period` samples, the fundamental on line `fundamental` of it): the
// fundamental's level, SFDR against the strongest other line, and THD+N as
// every other line's power (DC aside) over the fundamental's.
struct LineTruth {
  double LevelDbfs = 0.0;
  double SfdrDb = 0.0;
  double ThdNDb = 0.0;
};
LineTruth PeriodicTruth(const std::vector<std::int16_t>& samples, std::int64_t period, std::int64_t fundamental);
