// consumer <num_refpoints> <num_scans> <database>
//
// Run in a survey directory, folds the survey the way apfold does, with the
// installed library's readers and folding, and writes the radio map to
// <database>; then converts a laser range text. Exit status 0 when all of it
// worked.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "input/file_io.h"
#include "input/scan_text.h"
#include "input/seq_file.h"
#include "laser/laserscan.h"
#include "radiomap/database.h"
#include "radiomap/db_reader.h"
#include "radiomap/folding.h"
#include "radiomap/refpoint.h"
#include "report/report.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "Usage: consumer <num_refpoints> <num_scans> <database>\n");
    return 2;
  }
  const auto n = static_cast<int32_t>(std::atoi(argv[1]));
  const auto s = static_cast<int32_t>(std::atoi(argv[2]));
  if (n < 1 || s < 1) return 2;
  const auto count = static_cast<std::size_t>(n);

  std::vector<int32_t> xs(count), ys(count);
  if (seq_parse(xs.data(), ys.data(), n) != SEQ_OK) return 1;

  std::vector<refpoint> points(count);  // value-initialised: zero-filled, as parse_scan expects
  int dropped = 0;
  for (std::size_t i = 0; i < count; ++i) {
    for (int32_t j = 1; j <= s; ++j) {
      char name[32];
      std::snprintf(name, sizeof name, "scan%d-%d", static_cast<int>(i + 1), static_cast<int>(j));
      const auto text = load_file(name);
      if (!text) {
        std::printf("Failed to open %s\n", name);
        return 1;
      }
      refpoint scan{};
      parse_scan(text.get(), j == 1 ? &points[i] : &scan);
      if (j > 1) dropped += merge_scan(&points[i], &scan);
    }
    points[i].x = xs[i];
    points[i].y = ys[i];
    average_refpoint(&points[i]);
  }
  const db_header header = compute_bounds(points.data(), n);
  if (write_database(&header, points.data(), argv[3]) != 0) return 1;
  std::printf("folded %d points, %d readings dropped, grid %d x %d\n", static_cast<int>(n), dropped,
              static_cast<int>(header.width), static_cast<int>(header.height));

  // Read back with the library's reader: the same records.
  std::size_t size = 0;
  const auto bytes = load_file(argv[3], &size);
  if (!bytes) {
    report_system_error(argv[3]);
    return 1;
  }
  radio_map map;
  db_read_error error;
  if (read_database({reinterpret_cast<const unsigned char*>(bytes.get()), size}, &map, &error) != DB_READ_OK) {
    std::fprintf(stderr, "%s: byte %llu: %s\n", argv[3], static_cast<unsigned long long>(error.offset),
                 error.message.c_str());
    return 1;
  }
  if (map.header.num_refpoints != n ||
      std::memcmp(map.records.get(), points.data(), count * sizeof(refpoint)) != 0) {
    std::fprintf(stderr, "%s: read back differently\n", argv[3]);
    return 1;
  }

  static laserscan laser;  // 16 KiB
  const int readings = parse_laserscan_text("500 1000 1500 ", &laser);
  std::printf("laser: %d readings, first at (%.3f, %.3f)\n", readings, laser.points[0].x,
              laser.points[0].y);
  return readings == 3 ? 0 : 1;
}
