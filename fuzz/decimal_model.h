// The accepted decimal syntax, written out as a small state machine:
//   [+|-] digits with at most one "." (at least one digit) [(e|E) [+|-] digits]
// where the exponent only counts when it has a digit. Returns the length of
// the longest prefix of `s` in that syntax, 0 when there is none.
#pragma once

#include <cstddef>

namespace fuzz {

inline bool digit(char c) { return c >= '0' && c <= '9'; }

inline std::size_t longest_decimal(const char* s) {
  enum state { start, sign, int_digits, point_no_digits, frac_digits, exp_mark, exp_sign, exp_digits };
  state st = start;
  std::size_t accepted = 0;  // length of the longest complete number seen
  for (std::size_t i = 0;; ++i) {
    const char c = s[i];
    state next;
    switch (st) {
      case start:
        if (c == '+' || c == '-') next = sign;
        else if (digit(c)) next = int_digits;
        else if (c == '.') next = point_no_digits;
        else return accepted;
        break;
      case sign:
        if (digit(c)) next = int_digits;
        else if (c == '.') next = point_no_digits;
        else return accepted;
        break;
      case int_digits:
        if (digit(c)) next = int_digits;
        else if (c == '.') next = frac_digits;  // "5." is complete
        else if (c == 'e' || c == 'E') next = exp_mark;
        else return accepted;
        break;
      case point_no_digits:
        if (digit(c)) next = frac_digits;
        else return accepted;
        break;
      case frac_digits:
        if (digit(c)) next = frac_digits;
        else if (c == 'e' || c == 'E') next = exp_mark;
        else return accepted;
        break;
      case exp_mark:
        if (c == '+' || c == '-') next = exp_sign;
        else if (digit(c)) next = exp_digits;
        else return accepted;
        break;
      case exp_sign:
        if (digit(c)) next = exp_digits;
        else return accepted;
        break;
      case exp_digits:
        if (digit(c)) next = exp_digits;
        else return accepted;
        break;
    }
    st = next;
    if (st == int_digits || st == frac_digits || st == exp_digits) accepted = i + 1;
  }
}

}  // namespace fuzz
