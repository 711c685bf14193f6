// The program's own number formats, written into a caller's buffer.
//
// Both round in two stages: the value's 17 significant digits, correctly
// rounded, are cut to the digits shown, a dropped half rounding up in
// magnitude; exponents carry a sign and three digits.
//
//   format_e14_7(0.001)              -> "1.0000000e-003"
//   format_e14_7(-23.606797749978966) -> "-2.3606798e+001"   (15 characters, never cut)
//   format_e14_7(0.000244140625)     -> "2.4414063e-004"
//   format_e14_7(9.99999996)         -> "1.0000000e+001"
//   format_g8_4(423.60679774997897)  -> "   423.6"
//   format_g8_4(12.125)              -> "   12.13"
//   format_g8_4(123456.0)            -> "1.235e+005"        (10 characters, never cut)
//   format_g8_4(-1e90)               -> " -1e+090"
//   format_g8_4(10.045)              -> "   10.05"  (17 digits 1.0045000000000000e+01)
//
// Neither function allocates, keeps state or writes past the returned length.
#pragma once

#include <cstddef>

namespace tervalin {

// Room any formatted number needs; no terminator is written.
inline constexpr std::size_t kFormatBufferSize = 32;

// Writes `value` as "%14.7e" into `out` (kFormatBufferSize bytes); returns the
// length: 14, or 15 for a negative value. Non-finite: "inf", "-inf", "nan"
// right-aligned in 14.
std::size_t format_e14_7(double value, char* out) noexcept;

// Writes `value` as "%8.4g" into `out` (kFormatBufferSize bytes); returns the
// length: 8, or more when the text is longer. Plain decimal form for decimal
// exponents -4 to 3 of the rounded value, exponent form otherwise; trailing
// zeros and a bare point removed; -0.0 is "-0".
std::size_t format_g8_4(double value, char* out) noexcept;

}  // namespace tervalin
