#include "input/decimal.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>
#include <type_traits>

std::size_t decimal_length(const char* s) {
  const char* p = s;
  if (*p == '+' || *p == '-') ++p;
  std::size_t digits = 0;
  while (is_digit(*p)) ++p, ++digits;
  if (*p == '.') {
    ++p;
    while (is_digit(*p)) ++p, ++digits;
  }
  if (digits == 0) return 0;
  if (*p == 'e' || *p == 'E') {
    const char* q = p + 1;
    if (*q == '+' || *q == '-') ++q;
    if (is_digit(*q)) {
      while (is_digit(*q)) ++q;
      p = q;
    }
  }
  return static_cast<std::size_t>(p - s);
}

namespace {

// For a number that from_chars found out of range: true when it is too large
// (infinity), false when it is too small (zero). Out-of-range numbers are at
// least 1e38 or at most 1e-38 in magnitude, so the sign of the decimal exponent
// of the leading significant digit tells them apart.
bool too_large(const char* p, const char* end) {
  int64_t lead = 0;  // decimal exponent of the first nonzero digit
  bool found = false;
  bool in_fraction = false;
  int64_t int_digits = 0;
  int64_t frac_pos = 0;
  for (; p < end && *p != 'e' && *p != 'E'; ++p) {
    if (*p == '.') {
      in_fraction = true;
      continue;
    }
    if (in_fraction) ++frac_pos;
    if (!found && *p != '0') {
      found = true;
      lead = in_fraction ? -frac_pos : 0;
      int_digits = 0;
    }
    if (found && !in_fraction) ++int_digits;
  }
  if (found && int_digits > 0) lead = int_digits - 1;
  int64_t exponent = 0;
  if (p < end) {
    ++p;  // e or E
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    for (; p < end; ++p) {
      if (exponent < 1000000000) exponent = exponent * 10 + (*p - '0');
    }
    if (negative) exponent = -exponent;
  }
  return lead + exponent > 0;
}

// Scan levels are nearly always short integers ("-73"). With at most
// `digits` digits an integer is exact in T, so it converts directly; returns
// nullptr for anything else (a fraction, an exponent, a longer number).
template <typename T, int digits>
const char* scan_short_integer(const char* s, T* value) {
  const char* p = s;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  const char* first = p;
  uint32_t magnitude = 0;
  while (is_digit(*p) && p - first < digits) {
    magnitude = magnitude * 10 + static_cast<uint32_t>(*p++ - '0');
  }
  if (p == first || is_digit(*p) || *p == '.' || *p == 'e' || *p == 'E') return nullptr;
  const auto result = static_cast<T>(magnitude);
  *value = negative ? -result : result;  // "-0" is a negative zero, as from_chars gives
  return p;
}

template <typename T>
const char* scan_number(const char* s, T* value) {
  while (is_space(*s)) ++s;
  // 7 digits stay below 2^24, 9 below 2^53 (and 2^32).
  constexpr int exact_digits = std::is_same_v<T, float> ? 7 : 9;
  if (const char* end = scan_short_integer<T, exact_digits>(s, value)) return end;
  const std::size_t len = decimal_length(s);
  if (len == 0) return nullptr;
  const char* end = s + len;
  const char* first = s;
  const bool negative = *first == '-';
  if (*first == '+') ++first;  // from_chars takes no plus sign
  T result{};
  auto [ptr, ec] = std::from_chars(first, end, result, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    const char* digits = negative ? first + 1 : first;
    result = too_large(digits, end) ? std::numeric_limits<T>::infinity() : T(0);
    if (negative) result = -result;
  } else if (ec != std::errc() || ptr != end) {
    return nullptr;  // cannot happen on a validated span
  }
  *value = result;
  return end;
}

}  // namespace

const char* scan_float(const char* s, float* value) { return scan_number(s, value); }
const char* scan_double(const char* s, double* value) { return scan_number(s, value); }
