// apfold <num_refpoints> <num_scans>
//
// Run in a survey directory: reads the reference point coordinates from
// "seq.txt" and the scan reports scan1-1 ... scan<N>-<S>, folds the scans of
// each reference point into one record and writes the radio map "db.bin".
//
// Exit status: 0 on success and for a usage message; 1 when storage cannot be
// had, "seq.txt" is missing or malformed, num_scans is 0, or the database
// cannot be written; 2 when a scan file cannot be loaded.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "input/decimal.h"
#include "input/file_io.h"
#include "input/scan_text.h"
#include "input/seq_file.h"
#include "radiomap/database.h"
#include "radiomap/folding.h"
#include "radiomap/refpoint.h"

namespace {

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_SCAN_MISSING = 2;

// The standard text-to-integer reading: white space skipped, optional sign,
// digits up to the first non-digit, 0 without digits, and values outside the
// int32 range clamped to its ends.
int32_t parse_count(const char* s) {
  while (is_space(*s)) ++s;
  bool negative = false;
  if (*s == '+' || *s == '-') negative = *s++ == '-';
  constexpr uint64_t limit = uint64_t{1} << 31;
  uint64_t magnitude = 0;
  for (; is_digit(*s); ++s) {
    if (magnitude <= limit) magnitude = magnitude * 10 + static_cast<uint64_t>(*s - '0');
  }
  if (negative) {
    if (magnitude >= limit) return INT32_MIN;
    return static_cast<int32_t>(-static_cast<int64_t>(magnitude));
  }
  if (magnitude >= limit) return INT32_MAX;
  return static_cast<int32_t>(magnitude);
}

// A coordinate array of n elements. Negative counts are refused as ENOMEM;
// zero elements succeed.
std::unique_ptr<int32_t[]> allocate_coordinates(int32_t n) {
  if (n < 0) return nullptr;
  return std::unique_ptr<int32_t[]>(new (std::nothrow) int32_t[static_cast<std::size_t>(n)]);
}

struct free_deleter {
  void operator()(void* p) const { std::free(p); }
};
using record_block = std::unique_ptr<refpoint[], free_deleter>;

// All refpoint sets of the run in one zero-filled block: set j (from 1) is
// the n records starting at (j - 1) * n. calloc hands out fresh pages that
// are zero already, so storage that no scan fills is never touched.
bool allocate_sets(int32_t n, int32_t s, record_block* block) {
  if (n == 0 || s == 0) return true;  // no records to hold
  const auto records = static_cast<uint64_t>(n) * static_cast<uint64_t>(s);
  if (records > SIZE_MAX / sizeof(refpoint)) {
    errno = ENOMEM;
    return false;
  }
  void* p = std::calloc(static_cast<std::size_t>(records), sizeof(refpoint));
  if (!p) {
    errno = ENOMEM;
    return false;
  }
  block->reset(static_cast<refpoint*>(p));
  return true;
}

refpoint_set set_of(const record_block& block, int32_t n, int32_t scan) {
  return block.get() + static_cast<std::size_t>(scan - 1) * static_cast<std::size_t>(n);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::printf("Usage: apfold <num_refpoints> <num_scans>\n");
    return 0;
  }
  const int32_t n = parse_count(argv[1]);
  const int32_t s = parse_count(argv[2]);

  // With no scan there is no set 1 to fold into or write.
  if (s == 0 && n >= 1) {
    std::printf("num_scans must be at least 1\n");
    return EXIT_FAILED;
  }

  auto xs = allocate_coordinates(n);
  if (!xs) {
    errno = ENOMEM;
    report_system_error("malloc failed");
    return EXIT_FAILED;
  }
  auto ys = allocate_coordinates(n);
  if (!ys) {
    errno = ENOMEM;
    report_system_error("malloc failed");
    return EXIT_FAILED;
  }
  // The sets are addressed by index into one block, so there is no table of
  // set references to obtain; a negative scan count still cannot be had.
  if (s < 0) {
    errno = ENOMEM;
    report_system_error("malloc failed");
    return EXIT_FAILED;
  }

  if (seq_parse(xs.get(), ys.get(), n) != SEQ_OK) {
    std::printf("seq_parse() failed\n");
    return EXIT_FAILED;
  }

  record_block block;
  if (!allocate_sets(n, s, &block)) {
    report_system_error("calloc() failed");
    return EXIT_FAILED;
  }

  // Every scan of point 1, then every scan of point 2, and so on.
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = 1; j <= s; ++j) {
      char name[32];
      std::snprintf(name, sizeof name, "scan%d-%d", i, j);
      auto text = load_file(name);
      if (!text) {
        std::printf("Failed to open %s\n", name);
        return EXIT_SCAN_MISSING;
      }
      refpoint& record = set_of(block, n, j)[i - 1];
      parse_scan(text.get(), &record);
      record.x = xs[static_cast<std::size_t>(i - 1)];
      record.y = ys[static_cast<std::size_t>(i - 1)];
    }
  }

  refpoint_set folded = n > 0 ? set_of(block, n, 1) : nullptr;
  for (int32_t i = 0; i < n; ++i) {
    refpoint& base = folded[i];
    int64_t dropped = 0;
    for (int32_t j = 2; j <= s; ++j) dropped += merge_scan(&base, &set_of(block, n, j)[i]);
    average_refpoint(&base);
    if (dropped > 0) {
      std::printf("Reference point %d: more than %d access points, %lld readings dropped\n", i + 1,
                  MAX_APS, static_cast<long long>(dropped));
    }
  }

  const db_header header = compute_bounds(folded, n);
  std::printf("Writing database\n");
  if (write_database(&header, folded, DATABASE_FILE_NAME) != 0) return EXIT_FAILED;
  return 0;
}
