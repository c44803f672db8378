// The database file "db.bin": a 20-byte grid header followed by one refpoint
// record per reference point, in reference-point order. There is no magic
// number, version or checksum; the size is 20 + 1228 * num_refpoints.
//
//   offset  size  content
//        0    20  db_header
//       20  1228  refpoint record of reference point 1 (layout in refpoint.h)
//     1248  1228  reference point 2, and so on
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "radiomap/refpoint.h"

inline constexpr const char* DATABASE_FILE_NAME = "db.bin";

// db_header: 20 bytes, five little-endian int32.
//   offset size  field          contents
//        0    4  num_refpoints  records that follow
//        4    4  width          max x - min x + 1
//        8    4  height         max y - min y + 1
//       12    4  offset_x       -min x: added to x, puts the lowest corner at 0
//       16    4  offset_y       -min y
// With no records the extremes keep their start values, and the wrapped
// arithmetic gives 0, 2, 2, -2147483647, -2147483647.
struct db_header {
  int32_t num_refpoints;
  int32_t width;
  int32_t height;
  int32_t offset_x;
  int32_t offset_y;
};

inline constexpr std::size_t DB_HEADER_SIZE = 5 * 4;
static_assert(sizeof(db_header) == 20 && DB_HEADER_SIZE == 20);
static_assert(offsetof(db_header, num_refpoints) == 0);
static_assert(offsetof(db_header, width) == 4);
static_assert(offsetof(db_header, height) == 8);
static_assert(offsetof(db_header, offset_x) == 12);
static_assert(offsetof(db_header, offset_y) == 16);
static_assert(std::is_trivially_copyable_v<db_header>);

// The grid that records[0..n-1] span. All arithmetic wraps as 32-bit two's
// complement (computed unsigned, so nothing overflows).
db_header compute_bounds(const refpoint* records, int32_t n);

// How write_database makes its new file before naming it `path`.
enum class temporary_file {
  automatic,  // without a name until complete where the system allows it, else named
  named,      // always under the temporary name "<path>.tmp.<pid>"
};

// Replaces `path` atomically with the header and header->num_refpoints
// records. Where the system allows it (Linux, O_TMPFILE) they are written to
// a new file without a name in the directory of `path`, which is synced,
// linked as "<path>.tmp.<pid>" and renamed over `path`: a process killed
// while writing leaves nothing. Elsewhere they are written to that
// temporary name directly, and SIGINT, SIGTERM, SIGHUP or SIGQUIT arriving
// meanwhile remove it before the process dies of the signal. On any failure
// the temporary file is removed, an existing file at `path` stays as it was,
// and a system-error report is printed: "Unable to write file" when the file
// cannot be created under its name, "Unable to write data to file" when
// writing, flushing, syncing or closing fails. Returns 0 on success, 1 on
// failure.
int write_database(const db_header* header, const refpoint* records, const char* path,
                   temporary_file mode = temporary_file::automatic);
