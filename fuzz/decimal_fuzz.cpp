// The decimal scanner on arbitrary bytes: decimal_length at every position of
// the text agrees with the syntax, and scan_float / scan_double skip exactly
// the white space, consume exactly that number, leave the value untouched
// when there is none, and never produce NaN or a sign the text lacks.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "decimal_model.h"
#include "fuzz_support.h"
#include "input/decimal.h"

namespace {

// A NaN with a payload the scanner cannot produce.
float float_sentinel() {
  const uint32_t bits = 0x7fc0beefu;
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

double double_sentinel() {
  const uint64_t bits = 0x7ff8deadbeef1234ull;
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

bool all_digits_zero(const char* p, std::size_t len) {
  for (std::size_t i = 0; i < len && p[i] != 'e' && p[i] != 'E'; ++i) {
    if (p[i] >= '1' && p[i] <= '9') return false;
  }
  return true;
}

template <typename T>
void check_scan(const char* s, const char* (*scan)(const char*, T*), T sentinel,
                bool (*same)(T, T)) {
  const char* p = s;
  while (fuzz::white(*p)) ++p;
  const std::size_t len = fuzz::longest_decimal(p);
  T value = sentinel;
  const char* end = scan(s, &value);
  if (len == 0) {
    FUZZ_REQUIRE(end == nullptr);
    FUZZ_REQUIRE(same(value, sentinel));
    uint64_t a = 0, b = 0;  // untouched, payload included
    std::memcpy(&a, &value, sizeof value);
    std::memcpy(&b, &sentinel, sizeof sentinel);
    FUZZ_REQUIRE(a == b);
    return;
  }
  FUZZ_REQUIRE(end == p + len);
  FUZZ_REQUIRE(!std::isnan(value));
  FUZZ_REQUIRE(std::signbit(value) == (*p == '-'));
  if (all_digits_zero(p, len)) FUZZ_REQUIRE(value == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const auto text = fuzz::text_copy(data, size);
  const char* s = text.get();
  const std::size_t n = std::strlen(s);
  for (std::size_t i = 0; i <= n; ++i) {
    const std::size_t len = decimal_length(s + i);
    FUZZ_REQUIRE(len <= n - i);
    FUZZ_REQUIRE(len == fuzz::longest_decimal(s + i));
  }
  check_scan<float>(s, scan_float, float_sentinel(), fuzz::same_float);
  check_scan<double>(s, scan_double, double_sentinel(), fuzz::same_double);
  return 0;
}
