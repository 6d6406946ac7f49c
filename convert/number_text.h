// Conversions between parameter texts and doubles, the only ones the module
// uses. Texts are zero-terminated UTF-16. Neither depends on the process's
// locale or C runtime; both run on the host's calling thread.
#pragma once

#include <cstdint>
#include <string>

// Reads the number at the start of text: the special words "+Infinity",
// "-Infinity" and "NaN" (whole text, any case), otherwise the rules of a %lf
// scan in the "C" locale. nullptr, or a text holding no complete number,
// gives 0.0. Never fails. Leading white space is U+0009-U+000D, U+0020,
// U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028, U+2029, U+202F, U+205F and
// U+3000. Digits of the Unicode decimal blocks count wherever ASCII digits
// do. Every NaN it returns has the bit pattern FFF8000000000000.
double ParseNumber(const char16_t* text);

// Prints value with exactly `decimals` digits after the point, from the
// double's exact binary value, ties to even; never an exponent. Infinities and
// NaN print as "+Infinity", "-Infinity", "NaN"; zero never has a minus sign.
// decimals below 0 count as 0 (no point), above 712 as 712, so every text fits
// 1023 characters (313 with 2 decimals).
std::u16string FormatNumber(double value, std::int32_t decimals);
