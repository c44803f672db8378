// seq_parse_text on arbitrary bytes. The first two bytes choose the entry
// count n (-4 .. 1019), the rest is the sequence text. The coordinate arrays
// are heap blocks of exactly n elements. The status must be one of 0, 3, 4,
// and must agree, together with every coordinate taken, with a reading of
// the entries by the C library's strtol.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "input/seq_file.h"

namespace {

// "%d": white space, optional sign, at least one digit, within int32.
const char* read_int(const char* p, int32_t* out) {
  const char* q = p;
  while (fuzz::white(*q)) ++q;
  if (*q == '+' || *q == '-') ++q;
  if (*q < '0' || *q > '9') return nullptr;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(p, &end, 10);
  if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return nullptr;
  *out = static_cast<int32_t>(v);
  return end;
}

struct outcome {
  int status;
  int32_t taken;
  std::vector<int32_t> xs, ys;
};

outcome expected_outcome(const char* text, int32_t n) {
  outcome o{SEQ_OK, 0, {}, {}};
  const char* cursor = text;
  for (int32_t i = 0; i < n; ++i) {
    int32_t seq = 0, x = 0, y = 0;
    const char* p = read_int(cursor, &seq);
    if (p) {
      while (fuzz::white(*p)) ++p;
      p = *p == '(' ? read_int(p + 1, &x) : nullptr;
    }
    p = p && *p == ',' ? read_int(p + 1, &y) : nullptr;
    if (!p || seq != i + 1) {
      o.status = SEQ_MALFORMED;
      return o;
    }
    o.xs.push_back(x);
    o.ys.push_back(y);
    ++o.taken;
    const char* close = std::strchr(cursor, ')');
    if (!close) {
      if (i + 1 < n) o.status = SEQ_MALFORMED;
      return o;
    }
    cursor = close + 1;
  }
  if (n < 0) o.status = SEQ_COUNT;
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int32_t n = static_cast<int32_t>((data[0] | data[1] << 8) % 1024) - 4;
  const auto text = fuzz::text_copy(data + 2, size - 2);
  const auto elements = static_cast<std::size_t>(n < 0 ? 0 : n);
  std::unique_ptr<int32_t[]> xs(new int32_t[elements]);
  std::unique_ptr<int32_t[]> ys(new int32_t[elements]);
  for (std::size_t i = 0; i < elements; ++i) xs[i] = ys[i] = 0;

  const int status = seq_parse_text(text.get(), xs.get(), ys.get(), n);
  FUZZ_REQUIRE(status == SEQ_OK || status == SEQ_COUNT || status == SEQ_MALFORMED);
  FUZZ_REQUIRE((status == SEQ_COUNT) == (n < 0));

  const outcome want = expected_outcome(text.get(), n);
  FUZZ_REQUIRE(status == want.status);
  for (int32_t i = 0; i < want.taken; ++i) {
    FUZZ_REQUIRE(xs[static_cast<std::size_t>(i)] == want.xs[static_cast<std::size_t>(i)]);
    FUZZ_REQUIRE(ys[static_cast<std::size_t>(i)] == want.ys[static_cast<std::size_t>(i)]);
  }
  return 0;
}
