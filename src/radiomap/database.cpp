#include "radiomap/database.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <string>

#include "input/file_io.h"
#include "platform/platform.h"

namespace {

int32_t wrap(uint32_t v) { return static_cast<int32_t>(v); }
uint32_t bits(int32_t v) { return static_cast<uint32_t>(v); }

// Opens a fresh temporary file. A leftover under our own name can only come
// from a dead process that had the same pid, so it is removed once.
int create_temporary(const std::string& tmp) {
  int fd = create_new_file(tmp.c_str());
  if (fd < 0 && errno == EEXIST && std::remove(tmp.c_str()) == 0) fd = create_new_file(tmp.c_str());
  return fd;
}

}  // namespace

db_header compute_bounds(const refpoint* records, int32_t n) {
  int32_t min_x = std::numeric_limits<int32_t>::max();
  int32_t max_x = std::numeric_limits<int32_t>::min();
  int32_t min_y = std::numeric_limits<int32_t>::max();
  int32_t max_y = std::numeric_limits<int32_t>::min();
  for (int32_t i = 0; i < n; ++i) {
    const refpoint& r = records[i];
    if (min_x >= r.x) min_x = r.x;
    if (max_x <= r.x) max_x = r.x;
    if (min_y >= r.y) min_y = r.y;
    if (max_y <= r.y) max_y = r.y;
  }
  db_header h{};
  h.num_refpoints = n;
  h.width = wrap(bits(max_x) - bits(min_x) + 1u);
  h.height = wrap(bits(max_y) - bits(min_y) + 1u);
  h.offset_x = wrap(0u - bits(min_x));
  h.offset_y = wrap(0u - bits(min_y));
  return h;
}

int write_database(const db_header* header, const refpoint* records, const char* path) {
  const int32_t n = header->num_refpoints;
  if (n < 0) {
    errno = EINVAL;
    report_system_error("Unable to write file");
    return 1;
  }
  const std::string target(path);
  const std::string tmp = target + ".tmp." + std::to_string(current_process_id());

  const int fd = create_temporary(tmp);
  if (fd < 0) {
    report_system_error("Unable to write file");
    return 1;
  }
  std::FILE* f = open_write_stream(fd);
  if (!f) {
    report_system_error("Unable to write data to file");
    close_file(fd);
    std::remove(tmp.c_str());
    return 1;
  }

  const char* failure = nullptr;
  errno = 0;  // a short write that sets no errno is reported as EIO below
  const auto count = static_cast<std::size_t>(n);
  if (std::fwrite(header, DB_HEADER_SIZE, 1, f) != 1) {
    failure = "Unable to write data to file";
  } else if (count > 0 && std::fwrite(records, REFPOINT_SIZE, count, f) != count) {
    failure = "Unable to write data to file";
  } else if (std::fflush(f) != 0 || std::ferror(f)) {
    // Buffered bytes reach the system only here: a full disk or a file-size
    // limit can fail the flush after every fwrite reported success.
    failure = "Unable to write data to file";
  } else if (sync_file(fd) != 0) {
    failure = "Unable to write data to file";
  }
  if (failure) {
    if (errno == 0) errno = EIO;
    report_system_error(failure);
    std::fclose(f);
    std::remove(tmp.c_str());
    return 1;
  }
  if (std::fclose(f) != 0) {
    report_system_error("Unable to write data to file");
    std::remove(tmp.c_str());
    return 1;
  }
  // One step from the old database to the new one: whoever opens the name
  // finds one or the other, never a part.
  if (replace_file(tmp.c_str(), path) != 0) {
    report_system_error("Unable to write file");
    std::remove(tmp.c_str());
    return 1;
  }
  sync_directory_of(path);
  return 0;
}
