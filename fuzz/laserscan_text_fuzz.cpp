// parse_laserscan_text on arbitrary bytes, into a record whose every byte
// starts as 0xA5: count within 0..MAX_LASER_POINTS and equal to the spaces in
// the text (at most MAX_LASER_POINTS); the slots the passes store hold the
// points of a pass-by-pass recomputation; every slot after them and the
// reserved field keep the caller's bytes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "fuzz_support.h"
#include "input/decimal.h"
#include "laser/laserscan.h"

namespace {

constexpr unsigned char fill = 0xA5;

bool untouched(const void* p, std::size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i) {
    if (b[i] != fill) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::silence_stdout();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const auto text = fuzz::text_copy(data, size);
  auto scan = std::make_unique<laserscan>();
  std::memset(scan.get(), fill, sizeof(laserscan));

  const int count = parse_laserscan_text(text.get(), scan.get());
  FUZZ_REQUIRE(count == scan->count);
  FUZZ_REQUIRE(count >= 0 && count <= MAX_LASER_POINTS);

  int spaces = 0;
  for (const char* c = text.get(); *c; ++c) spaces += *c == ' ';
  FUZZ_REQUIRE(count == (spaces < MAX_LASER_POINTS ? spaces : MAX_LASER_POINTS));

  // The passes store slots 0..count, or 0..count-1 when the slots ran out.
  const int stored = count < MAX_LASER_POINTS ? count + 1 : MAX_LASER_POINTS;
  const char* cursor = text.get();
  double theta = LASER_START_ANGLE;
  double r = 0.0;
  for (int k = 0; k < stored; ++k) {
    double reading = 0.0;
    if (scan_double(cursor, &reading)) r = reading;
    r = r / LASER_RANGE_DIVISOR;
    const double x = std::cos(theta) * r;
    const double y = std::sin(theta) * r;
    FUZZ_REQUIRE(fuzz::same_double(scan->points[k].x, x));
    FUZZ_REQUIRE(fuzz::same_double(scan->points[k].y, y));
    theta = theta + LASER_ANGLE_STEP;
    const char* space = std::strchr(cursor, ' ');
    if (!space) break;
    cursor = space + 1;
  }
  const auto first_untouched = static_cast<std::size_t>(stored);
  FUZZ_REQUIRE(untouched(scan->points + first_untouched,
                         (MAX_LASER_POINTS - first_untouched) * sizeof(laser_point)));
  FUZZ_REQUIRE(untouched(&scan->reserved, sizeof scan->reserved));
  return 0;
}
