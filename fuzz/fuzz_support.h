// Shared by the fuzz targets: turning the fuzzer's bytes into a text, and the
// record invariants that must hold whatever a parser or the folding was fed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "radiomap/refpoint.h"

// Stops the run with a message naming the broken rule; libFuzzer then saves
// the input as a crash reproducer.
#define FUZZ_REQUIRE(cond)                                                               \
  do {                                                                                   \
    if (!(cond)) {                                                                       \
      std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
      std::fflush(stderr);                                                               \
      __builtin_trap();                                                                  \
    }                                                                                    \
  } while (0)

namespace fuzz {

// The bytes as a NUL-terminated text in a heap buffer of exactly size + 1
// bytes, so that reading past the terminator is caught by AddressSanitizer.
// Bytes after an embedded NUL are kept but no parser looks at them.
inline std::unique_ptr<char[]> text_copy(const uint8_t* data, std::size_t size) {
  std::unique_ptr<char[]> text(new char[size + 1]);
  if (size > 0) std::memcpy(text.get(), data, size);
  text[size] = '\0';
  return text;
}

// Messages the code under test prints on standard output would only slow the
// fuzzer down; libFuzzer itself reports on standard error.
inline void silence_stdout() {
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}

inline bool all_zero(const void* p, std::size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i) {
    if (b[i] != 0) return false;
  }
  return true;
}

// A text field: the bytes after the first NUL are all zero. With
// `needs_terminator` the field must hold a NUL (an address); otherwise a
// field filled to the brim is allowed (a network name of 32 bytes).
inline bool field_ok(const char* field, std::size_t size, bool needs_terminator) {
  const void* nul = std::memchr(field, '\0', size);
  if (!nul) return !needs_terminator;
  const auto used = static_cast<std::size_t>(static_cast<const char*>(nul) - field);
  return all_zero(field + used, size - used);
}

// The invariants of every record the parser or the folding hands on:
// 0 <= ap_count <= MAX_APS, every used slot has a terminated address and a
// clean name, seen >= 1, and every unused slot is zero bytes.
inline void check_record(const refpoint& r) {
  FUZZ_REQUIRE(r.ap_count >= 0 && r.ap_count <= MAX_APS);
  for (int k = 0; k < MAX_APS; ++k) {
    const ap_reading& ap = r.ap[k];
    if (k < r.ap_count) {
      FUZZ_REQUIRE(field_ok(ap.address, sizeof ap.address, true));
      FUZZ_REQUIRE(field_ok(ap.essid, sizeof ap.essid, false));
      FUZZ_REQUIRE(ap.seen >= 1);
    } else {
      FUZZ_REQUIRE(all_zero(&ap, sizeof ap));
    }
  }
}

// Floats compared bit for bit, except that any NaN equals any NaN (the
// payload of a NaN produced by arithmetic is not part of the contract).
inline bool same_float(float a, float b) {
  if (a != a && b != b) return true;
  uint32_t x, y;
  std::memcpy(&x, &a, 4);
  std::memcpy(&y, &b, 4);
  return x == y;
}

inline bool same_double(double a, double b) {
  if (a != a && b != b) return true;
  uint64_t x, y;
  std::memcpy(&x, &a, 8);
  std::memcpy(&y, &b, 8);
  return x == y;
}

inline bool white(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace fuzz
