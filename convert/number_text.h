// Conversions between parameter texts and doubles, the only ones the module
// uses. Texts are zero-terminated UTF-16. Neither depends on the process's
// locale or C runtime; both run on the host's calling thread.
#pragma once

#include <cstdint>
#include <string>

// Reads the number at the start of text: the special words "+Infinity",
// "-Infinity" and "NaN" (whole text, any case), otherwise the rules of a %lf
// scan in the "C" locale. nullptr, or a text holding no complete number,
// gives 0.0. Never fails.
double ParseNumber(const char16_t* text);

// Prints value with exactly `decimals` digits after the point, from the
// double's exact binary value, ties to even; never an exponent. Infinities and
// NaN print as "+Infinity", "-Infinity", "NaN"; zero never has a minus sign.
std::u16string FormatNumber(double value, std::int32_t decimals);
