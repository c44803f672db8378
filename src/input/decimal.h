// The decimal number syntax shared by the scan levels and the laser ranges,
// independent of the host's locale:
//   [white space] [+|-] digits with at most one "." (at least one digit)
//   [(e|E) [+|-] digits]   -- the exponent only counts when it has a digit
// White space is exactly space, tab, LF, VT, FF and CR. inf, nan and
// hexadecimal forms are not numbers here (0x10 reads as 0).
#pragma once

#include <cstddef>

inline bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Length of the number that starts exactly at `s` (no white space skipped),
// 0 when none does. Reads no further than the first byte that cannot continue
// the number, so a terminating NUL is never passed.
std::size_t decimal_length(const char* s);

// Skip white space, then convert the longest number there to the nearest
// float / double. Beyond the type's range the value is +-infinity; below it,
// IEEE rounding gives a subnormal or a signed zero. Returns the position after
// the number, or nullptr (leaving *value untouched) when there is no number.
const char* scan_float(const char* s, float* value);
const char* scan_double(const char* s, double* value);
