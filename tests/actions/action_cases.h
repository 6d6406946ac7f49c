// The setting actions as a table of cases, shared by the test that drives the
// real DLL (which sees what is published) and the test that links the module
// (which sees what is stored).
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>

#include "engine/generator_state.h"

struct SettingCase {
  std::int32_t id;
  const char* parameter;
  const char* variable;   // published name
  const char* published;  // published value text
  double stored;          // value the field holds afterwards
  std::atomic<double> GeneratorStateRecord::*field;
};

constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaNValue = std::numeric_limits<double>::quiet_NaN();

using G = GeneratorStateRecord;
inline const SettingCase SettingCases[] = {
    // Frequencies: stored exactly as parsed, published with 2 decimals.
    {1010, "440", "Kalvix1FreqLeft", "440.00", 440.0, &G::Gen1FreqLeft},
    {1011, "27.5", "Kalvix1FreqRight", "27.50", 27.5, &G::Gen1FreqRight},
    {1020, "-20", "Kalvix2FreqLeft", "-20.00", -20.0, &G::Gen2FreqLeft},
    {1021, "440", "Kalvix2FreqRight", "440.00", 440.0, &G::Gen2FreqRight},
    {1021, "NaN", "Kalvix2FreqRight", "NaN", NaNValue, &G::Gen2FreqRight},
    {1020, "+Infinity", "Kalvix2FreqLeft", "+Infinity", Inf, &G::Gen2FreqLeft},
    {1010, "abc", "Kalvix1FreqLeft", "0.00", 0.0, &G::Gen1FreqLeft},
    {1011, "", "Kalvix1FreqRight", "0.00", 0.0, &G::Gen1FreqRight},
    // Volumes: percentages limited to [0, 100], stored as gains, published x100 with 1 decimal.
    {1012, "50", "Kalvix1VolumeLeft", "50.0", 0.5, &G::Gen1VolumeLeft},
    {1013, "150", "Kalvix1VolumeRight", "100.0", 1.0, &G::Gen1VolumeRight},
    {1014, "-5", "Kalvix1MasterVolume", "0.0", 0.0, &G::Gen1MasterVolume},
    {1022, "NaN", "Kalvix2VolumeLeft", "0.0", 0.0, &G::Gen2VolumeLeft},
    {1023, "+Infinity", "Kalvix2VolumeRight", "100.0", 1.0, &G::Gen2VolumeRight},
    {1024, "100", "Kalvix2MasterVolume", "100.0", 1.0, &G::Gen2MasterVolume},
    {1024, "75", "Kalvix2MasterVolume", "75.0", 0.75, &G::Gen2MasterVolume},
    {1012, "-Infinity", "Kalvix1VolumeLeft", "0.0", 0.0, &G::Gen1VolumeLeft},
};

// Ids outside the three blocks, including the gaps between them.
inline const std::int32_t UnknownIds[] = {999, 1006, 1009, 1015, 1019, 1025, 0, -1};

// Equal values, where every NaN equals every NaN and -0.0 differs from 0.0.
inline bool SameDouble(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return a == b && std::signbit(a) == std::signbit(b);
}
