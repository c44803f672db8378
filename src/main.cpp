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
#include "input/seq_file.h"
#include "input/survey.h"
#include "radiomap/database.h"
#include "radiomap/refpoint.h"
#include "report/report.h"

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

// Room for every refpoint set of the run, n x s records in one zero-filled
// block, obtained whole before the first scan is read. calloc hands out
// fresh pages that are zero already, so storage that is not used is never
// touched.
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

// The readings each point dropped for want of a 17th slot, kept until the
// last scan is read; null when there are no points.
std::unique_ptr<int64_t[]> allocate_counts(int32_t n) {
  if (n <= 0) return nullptr;
  return std::unique_ptr<int64_t[]>(new (std::nothrow) int64_t[static_cast<std::size_t>(n)]);
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

  // Room for every refpoint set of the run, obtained whole before the first
  // scan is read. Only set 1 (records 0 .. n-1) is written out, and a point's
  // records in the other sets are read only to fold that point, so each
  // point is folded as soon as its scans are parsed, and its later scans
  // share one row of the block (the next s - 1 records) with every other
  // point's: the rest of the block is never touched, and the records being
  // folded stay in the cache.
  record_block block;
  if (!allocate_sets(n, s, &block)) {
    report_system_error("calloc() failed");
    return EXIT_FAILED;
  }
  const refpoint_set folded = block.get();
  refpoint* const later_scans = s > 1 ? folded + n : nullptr;
  const auto dropped = allocate_counts(n);
  if (n > 0 && !dropped) {
    errno = ENOMEM;
    report_system_error("calloc() failed");
    return EXIT_FAILED;
  }

  // Every scan of point 1, then every scan of point 2, and so on, loaded
  // ahead of the parsing where a second CPU can do it.
  survey_failure failed;
  const int read = fold_survey(n, s, xs.get(), ys.get(), folded, later_scans, nullptr, dropped.get(), &failed);
  if (read != SURVEY_OK) {
    report_survey_failure(read, failed);
    return read == SURVEY_SCAN_MISSING ? EXIT_SCAN_MISSING : EXIT_FAILED;
  }

  // Reported only once every scan is read: a run that ends at a missing scan
  // file says nothing about folding.
  for (int32_t i = 1; i <= n; ++i) {
    const int64_t count = dropped[static_cast<std::size_t>(i - 1)];
    if (count > 0) {
      std::printf("Reference point %d: more than %d access points, %lld readings dropped\n", i, MAX_APS,
                  static_cast<long long>(count));
    }
  }

  const db_header header = compute_bounds(folded, n);
  std::printf("Writing database\n");
  if (write_database(&header, folded, DATABASE_FILE_NAME) != 0) return EXIT_FAILED;
  return 0;
}
