// Reference point records: one access point observation and everything known
// about one reference point. The same records are filled by the scan parser,
// accumulated by folding and written unchanged to the database file, so their
// layout here is also the on-disk record format.
//
// All integers and floats are little-endian; records go to disk exactly as
// they sit in memory, with no gaps and no padding.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <type_traits>

inline constexpr int MAX_APS = 16;  // access point slots per reference point

// ap_reading: 76 bytes.
//   offset size  field         contents
//        0   32  address       hardware address as written in the scan,
//                              NUL-terminated, rest of the field zero
//       32   32  essid         network name, NUL-terminated when shorter
//                              than 32 bytes, rest of the field zero
//       64    4  signal_level  IEEE 754 binary32; a sum during folding,
//                              the mean afterwards
//       68    4  noise_level   IEEE 754 binary32; likewise
//       72    4  seen          int32, readings folded into this slot
struct ap_reading {
  char address[32];     // compared as text, so always holds its terminator
  char essid[32];       // never compared; a 32-byte name has no terminator
  float signal_level;
  float noise_level;
  int32_t seen;         // 1 when parsed, +1 per matching later scan
};

// refpoint: 1228 bytes.
//   offset size  field     contents
//        0 1216  ap        MAX_APS ap_reading slots; 0..ap_count-1 valid,
//                          the others all zero bytes
//     1216    4  ap_count  int32, valid slots, 0..MAX_APS
//     1220    4  x         int32 grid x coordinate from seq.txt
//     1224    4  y         int32 grid y coordinate from seq.txt
struct refpoint {
  ap_reading ap[MAX_APS];
  int32_t ap_count;
  int32_t x;
  int32_t y;
};

// A refpoint_set is the array of num_refpoints records of one scan index,
// index 0 being reference point 1. Sets are created zero-filled: every field a
// parser does not set stays zero.
using refpoint_set = refpoint*;

inline constexpr std::size_t AP_READING_SIZE = 32 + 32 + 4 + 4 + 4;
inline constexpr std::size_t REFPOINT_SIZE = MAX_APS * AP_READING_SIZE + 4 + 4 + 4;

static_assert(std::endian::native == std::endian::little,
              "records are written as they lie in memory");
static_assert(std::numeric_limits<float>::is_iec559);
static_assert(sizeof(float) == 4);

static_assert(sizeof(ap_reading) == 76 && AP_READING_SIZE == 76);
static_assert(offsetof(ap_reading, address) == 0);
static_assert(offsetof(ap_reading, essid) == 32);
static_assert(offsetof(ap_reading, signal_level) == 64);
static_assert(offsetof(ap_reading, noise_level) == 68);
static_assert(offsetof(ap_reading, seen) == 72);
static_assert(std::is_trivially_copyable_v<ap_reading>);
static_assert(std::is_standard_layout_v<ap_reading>);

static_assert(sizeof(refpoint) == 1228 && REFPOINT_SIZE == 1228);
static_assert(offsetof(refpoint, ap) == 0);
static_assert(offsetof(refpoint, ap_count) == 1216);
static_assert(offsetof(refpoint, x) == 1220);
static_assert(offsetof(refpoint, y) == 1224);
static_assert(std::is_trivially_copyable_v<refpoint>);
static_assert(std::is_standard_layout_v<refpoint>);
