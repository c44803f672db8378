#include "input/seq_file.h"

#include <cstdio>
#include <cstring>

#include "input/decimal.h"
#include "input/file_io.h"
#include "report/report.h"

namespace {

// A "%d" conversion: white space skipped, optional sign, decimal digits.
// A value outside the int32 range is not a conversion: no silent wrap or clamp.
const char* scan_int32(const char* p, int32_t* out) {
  while (is_space(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (!is_digit(*p)) return nullptr;
  // Accumulate the magnitude unsigned, saturating just past the int32 range
  // so that arbitrarily long digit runs are consumed without overflow.
  constexpr uint64_t limit = uint64_t{1} << 31;  // |INT32_MIN|
  uint64_t magnitude = 0;
  while (is_digit(*p)) {
    if (magnitude <= limit) magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
    ++p;
  }
  if (magnitude > (negative ? limit : limit - 1)) return nullptr;
  const auto value = static_cast<int64_t>(magnitude);
  *out = static_cast<int32_t>(negative ? -value : value);
  return p;
}

// The scanning format "%d\t(%d,%d)": true when all three numbers converted.
bool scan_entry(const char* p, int32_t* seq, int32_t* x, int32_t* y) {
  p = scan_int32(p, seq);
  if (!p) return false;
  while (is_space(*p)) ++p;
  if (*p != '(') return false;
  p = scan_int32(p + 1, x);
  if (!p || *p != ',') return false;
  return scan_int32(p + 1, y) != nullptr;
}

int report_unconverted(int64_t entry) {
  std::printf("seq_parse() failed on sequence %lld\n", static_cast<long long>(entry));
  return SEQ_MALFORMED;
}

}  // namespace

int seq_parse_text(const char* text, int32_t* xs, int32_t* ys, int32_t n) {
  const char* cursor = text;
  int32_t taken = 0;
  for (int32_t i = 0; i < n; ++i) {
    int32_t seq = 0;
    if (!scan_entry(cursor, &seq, &xs[i], &ys[i])) return report_unconverted(int64_t{i} + 1);
    if (int64_t{seq} != int64_t{i} + 1) {
      std::printf("seq_parse() failed sequence mismatch %d != %lld\n", i,
                  static_cast<long long>(int64_t{seq} - 1));
      return SEQ_MALFORMED;
    }
    ++taken;
    // The next entry starts after the first ")" at or after this one. Without
    // one there is no next entry to find.
    const char* close = std::strchr(cursor, ')');
    if (!close) {
      if (i + 1 < n) return report_unconverted(int64_t{i} + 2);
      break;
    }
    cursor = close + 1;
  }
  if (taken != n) {
    std::printf("Not enough sequence data in seq.txt\n");
    std::printf("Found %lld coordinate pairs\n", static_cast<long long>(taken) + 1);
    return SEQ_COUNT;
  }
  return SEQ_OK;
}

int seq_count_text(const char* text, seq_extent* extent) {
  *extent = seq_extent{0, 0, 0, true, false, 0};
  const char* cursor = text;
  for (;;) {
    const char* p = cursor;
    while (is_space(*p)) ++p;
    if (*p == '\0') return SEQ_OK;
    int32_t seq = 0;
    int32_t x = 0;
    int32_t y = 0;
    if (!scan_entry(cursor, &seq, &x, &y)) return SEQ_MALFORMED;
    if (int64_t{seq} != int64_t{extent->count} + 1) {
      extent->next_converted = true;
      extent->next_number = seq;
      return SEQ_MALFORMED;
    }
    extent->count = seq;
    extent->last_x = x;
    extent->last_y = y;
    // As seq_parse_text: the next entry starts after the first ")" at or
    // after this one, and without one the rest of the text is this entry's.
    const char* close = std::strchr(cursor, ')');
    if (!close) {
      extent->closed = false;
      return SEQ_OK;
    }
    cursor = close + 1;
  }
}

int seq_parse(int32_t* xs, int32_t* ys, int32_t n) {
  auto text = load_file(SEQ_FILE_NAME);
  if (!text) {
    report_system_error("Failed to open seq.txt");
    return SEQ_CANNOT_LOAD;
  }
  return seq_parse_text(text.get(), xs, ys, n);
}
