// Laser range scans: a text of range readings turned into Cartesian points
// around the scanner, and a fixed-size record file holding them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

inline constexpr int MAX_LASER_POINTS = 1024;

// Reading k lies at theta(k) radians counter-clockwise from the x axis:
// theta(0) is the double nearest 5*pi/6 (150 degrees) and each next angle is
// the previous one plus the step, rounded to double every time. The stored
// points depend on that accumulation in their last bits.
inline constexpr double LASER_START_ANGLE = 2.6179938779914944;
inline constexpr double LASER_ANGLE_STEP = 0.006145045444209698;
inline constexpr double LASER_RANGE_DIVISOR = 5.0;

// laser_point: 16 bytes, IEEE 754 binary64 x then y.
struct laser_point {
  double x;
  double y;
};

// laserscan: 16392 bytes, little-endian, written to its file unchanged.
//   offset  size   field     contents
//        0  16384  points    MAX_LASER_POINTS laser_point slots
//    16384      4  count     int32, valid points
//    16388      4  reserved  closes the record to a multiple of 8; written 0
struct laserscan {
  laser_point points[MAX_LASER_POINTS];
  int32_t count;
  int32_t reserved;
};

inline constexpr std::size_t LASERSCAN_SIZE = MAX_LASER_POINTS * 16 + 4 + 4;
static_assert(sizeof(laser_point) == 16);
static_assert(offsetof(laser_point, x) == 0 && offsetof(laser_point, y) == 8);
static_assert(sizeof(laserscan) == LASERSCAN_SIZE && LASERSCAN_SIZE == 16392);
static_assert(offsetof(laserscan, points) == 0);
static_assert(offsetof(laserscan, count) == 16384);
static_assert(offsetof(laserscan, reserved) == 16388);
static_assert(std::is_trivially_copyable_v<laserscan>);

// Converts a NUL-terminated range text: readings each followed by one space.
// One pass per space: each pass converts the reading at the cursor (or, when
// none converts, reuses the previous pass's already divided reading, 0 at the
// start), divides it by 5, stores the point at the current angle and advances
// the angle; the passes that find a space are counted and traced on standard
// output as "k r next-angle x y". The last pass, which finds no space, still
// stores its point in points[count]. At most MAX_LASER_POINTS slots are
// written: at that many counted readings the rest is ignored. Slots after the
// last one written keep what the caller's record held. Returns count.
int parse_laserscan_text(const char* text, laserscan* scan);

// Loads the range text at `path` and converts it as above. Returns 0 once
// the text was loaded; 1 with "Failed to open <path>" on standard output when
// it cannot be, leaving `scan` untouched.
int parse_laserscan(const char* path, laserscan* scan);

// Creates or truncates `path` and writes the 16392-byte record, its reserved
// bytes as zero. Returns 0 on success; 1 with the system-error report
// "Unable to write laserscan\n" when the file cannot be created or the
// write, flush or close fails.
int write_laserscan(const char* path, const laserscan* scan);
