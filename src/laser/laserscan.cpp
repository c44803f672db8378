#include "laser/laserscan.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "input/decimal.h"
#include "input/file_io.h"
#include "report/report.h"

int parse_laserscan_text(const char* text, laserscan* scan) {
  const char* cursor = text;
  double theta = LASER_START_ANGLE;
  double r = 0.0;  // what a first reading that is no number repeats
  int k = 0;
  while (k < MAX_LASER_POINTS) {
    double reading = 0.0;
    if (scan_double(cursor, &reading)) r = reading;
    r = r / LASER_RANGE_DIVISOR;
    laser_point& p = scan->points[k];
    p.x = std::cos(theta) * r;
    p.y = std::sin(theta) * r;
    theta = theta + LASER_ANGLE_STEP;
    const char* space = std::strchr(cursor, ' ');
    if (!space) break;
    cursor = space + 1;
    std::printf("%d %lf %lf %lf %lf\n", k, r, theta, p.x, p.y);
    ++k;
  }
  scan->count = k;
  return k;
}

int parse_laserscan(const char* path, laserscan* scan) {
  auto text = load_file(path);
  if (!text) {
    std::printf("Failed to open %s\n", path);
    return 1;
  }
  parse_laserscan_text(text.get(), scan);
  return 0;
}

int write_laserscan(const char* path, const laserscan* scan) {
  static constexpr const char* message = "Unable to write laserscan\n";
  std::FILE* f = std::fopen(path, "wb");
  if (!f) {
    report_system_error(message);
    return 1;
  }
  errno = 0;
  const int32_t tail[2] = {scan->count, 0};
  bool ok = std::fwrite(scan->points, sizeof scan->points, 1, f) == 1 &&
            std::fwrite(tail, sizeof tail, 1, f) == 1;
  // A full disk or a file-size limit often shows only when the buffered
  // record is handed to the system, at the flush.
  if (ok && (std::fflush(f) != 0 || std::ferror(f))) ok = false;
  if (!ok) {
    if (errno == 0) errno = EIO;
    report_system_error(message);
    std::fclose(f);
    return 1;
  }
  if (std::fclose(f) != 0) {
    report_system_error(message);
    return 1;
  }
  return 0;
}
