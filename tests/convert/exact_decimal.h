// An exact reference for the number conversions, independent of the code
// under test and of any C library: decimal texts and doubles are compared as
// big integers, so "nearest double" and "correctly rounded print" are decided
// without rounding anywhere.
#pragma once

#include <cstdint>
#include <string>

// True if r is the double nearest to the decimal value (-1)^negative *
// digits * 10^decimal_exponent, ties to the even significand, overflow to an
// infinity and underflow to a zero of that sign. digits: ASCII 0-9 only.
bool IsNearestDouble(const std::string& digits, std::int64_t decimal_exponent, bool negative, double r);

// True if text is value printed in fixed notation with `decimals` digits
// after the point (no point for 0): an optional minus sign, integer digits
// without leading zeros, and the digits of the exact value rounded to nearest,
// ties to an even last digit. A zero is never negative; a negative value that
// rounds to zero is. value must be finite.
bool IsCorrectFixedText(const std::string& text, int decimals, double value);

// Splits a fixed text of that shape into its sign and all its digits (the
// value is digits * 10^-decimals). False if the text has another shape.
bool SplitFixedText(const std::string& text, int decimals, bool& negative, std::string& digits);

// The exact decimal expansion of m * 2^e: digits * 10^decimal_exponent.
void ExactDecimal(std::uint64_t m, std::int64_t e, std::string& digits, std::int64_t& decimal_exponent);
