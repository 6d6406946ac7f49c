// An independent, straightforward computation of the synthesis formula for
// checking FillBuffer: the C library's fmod and a long double sine rounded to
// double, one frame at a time, no hoisting. Meaningful only where long double
// sine is accurate (the native x86-64 build).
#pragma once

#include <cstdint>
#include <vector>

// One set of tone settings and counters, channel order G1L, G1R, G2L, G2R.
struct ToneSettings {
  double freq[4] = {0.0, 0.0, 0.0, 0.0};
  double volume[4] = {0.001, 0.001, 0.001, 0.001};
  double master[2] = {1.0, 1.0};
  std::int32_t muted[2] = {0, 0};
  std::int64_t counter[4] = {0, 0, 0, 0};
};

// Loads the defaults, then stores every setting and counter of `s`.
void ApplySettings(const ToneSettings& s);

// Interleaved words (left, right, ...) of `frames` frames computed by the
// reference, starting from the counters in `s`.
std::vector<std::int16_t> ReferenceWords(const ToneSettings& s, int frames);

// FNV-1a of the words' little-endian bytes.
std::uint64_t HashWords(const std::vector<std::int16_t>& words);

// Settings at large counts, where the phase argument is large and its
// reduction matters. The same words must come out of every build and every
// kernel; the reference computes them natively with the C library's fmod
// and a long double sine, and kLargeCountWordsHash pins them for the other
// builds.
std::vector<ToneSettings> LargeCountCases();

// FNV-1a of the words of all large-count cases, 1500 frames each.
inline constexpr std::uint64_t kLargeCountWordsHash = 15625411709970250779ull;
