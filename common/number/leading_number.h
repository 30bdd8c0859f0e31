#pragma once
// The leading-number rule of the platform's number reading: the value a text begins with.
//   - blanks, tabs and line feeds are ignored wherever they stand (" 1 2" reads as 12);
//   - a decimal number with optional sign, fraction and exponent (e or d), read up to the first
//     character that cannot continue it;
//   - "&H" (hexadecimal) and "&O" (octal) prefixes, read up to the first character that is no digit of
//     that base; the digits are a 32-bit pattern, so "&HFFFFFFFF" is -1;
//   - anything else, and the empty text, is 0.
#include <cstdint>
#include <optional>
#include <string_view>

namespace vantorix::number {

double LeadingNumber(std::u16string_view text);

// Rounds to the nearest whole number, halves to the even neighbour (7.5 -> 8, 2.5 -> 2). Nothing when the
// value is not a number or lies outside the signed 32-bit range: a caller must not be handed a clipped value.
std::optional<std::int32_t> RoundHalfEvenToInt32(double value);

}  // namespace vantorix::number
