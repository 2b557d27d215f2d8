// The text rule of the window's number fields, shared by every front end.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace morla {

// Turns a number field's text into a signed 32-bit value, 0 for anything that
// is not a number:
//   - leading U+0020 spaces are skipped (a tab is not);
//   - an optional '-' or '+';
//   - decimal digits, or hexadecimal digits after '$', 'x', 'X', '0x' or '0X';
//   - any other character anywhere (a trailing space too), no digits at all, a
//     decimal value outside the int32 range or a hexadecimal value wider than
//     32 bits gives 0;
//   - hexadecimal is a 32-bit pattern ("$FFFFFFFF" is -1) and a sign before it
//     negates that pattern with wrap-around ("-$80000000" is -2147483648).
std::int32_t ParseNumberField(std::u16string_view text);

// The same syntax, strictly: the value, or nothing when the text is not such
// a number (what ParseNumberField counts as 0 is refused by the command line,
// and by the window in a ticked box's field: see ValueMistake).
std::optional<std::int32_t> ParseNumber(std::u16string_view text);

// A gain in decibels, in millionths of a dB: decimal digits with an optional
// sign and an optional fraction after a point ("-6", "+3", "-4.5"); digits
// on both sides of the point. Nothing when the text is not such a number
// (".5", "1e3", an empty text) or is beyond +-100000 dB. Fraction digits
// past the sixth are rounded half away from zero.
std::optional<std::int64_t> ParseDecibels(std::u16string_view text);

// The window's gain field: leading U+0020 spaces skipped, then ParseDecibels;
// 0 for anything else, as the number fields count junk.
std::int64_t ParseDecibelsField(std::u16string_view text);

}  // namespace morla
