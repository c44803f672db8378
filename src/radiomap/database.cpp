#include "radiomap/database.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <string>

#include "platform/interrupt.h"
#include "platform/platform.h"
#include "report/report.h"

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

int write_database(const db_header* header, const refpoint* records, const char* path,
                   temporary_file mode) {
  const int32_t n = header->num_refpoints;
  if (n < 0) {
    errno = EINVAL;
    report_system_error("Unable to write file");
    return 1;
  }
  const std::string target(path);
  const std::string tmp = target + ".tmp." + std::to_string(current_process_id());
  const std::size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);

  // Where the system allows it the new database has no name until it is
  // complete and synced, so that not even SIGKILL leaves a part of it
  // behind; elsewhere it is written under the temporary name, which an
  // interrupting signal removes.
  int tracked = -1;
  int fd = mode == temporary_file::automatic ? create_unnamed_file(dir.c_str()) : -1;
  const bool unnamed = fd >= 0;
  if (!unnamed) {
    tracked = track_temporary(tmp.c_str());
    fd = create_temporary(tmp);
    if (fd < 0) {
      report_system_error("Unable to write file");
      untrack_temporary(tracked);
      return 1;
    }
  }
  // Once it has a name, every failure path removes it.
  bool named = !unnamed;
  const auto give_up = [&](const char* message, std::FILE* f) {
    if (errno == 0) errno = EIO;  // a short write that set no errno
    report_system_error(message);
    const int saved = errno;
    if (f) std::fclose(f);
    if (named) std::remove(tmp.c_str());
    untrack_temporary(tracked);
    errno = saved;
    return 1;
  };

  std::FILE* f = open_write_stream(fd);
  if (!f) {
    const int saved = errno;
    close_file(fd);
    errno = saved;
    return give_up("Unable to write data to file", nullptr);
  }
  errno = 0;
  const auto count = static_cast<std::size_t>(n);
  if (std::fwrite(header, DB_HEADER_SIZE, 1, f) != 1) return give_up("Unable to write data to file", f);
  if (count > 0 && std::fwrite(records, REFPOINT_SIZE, count, f) != count) {
    return give_up("Unable to write data to file", f);
  }
  // Buffered bytes reach the system only here: a full disk or a file-size
  // limit can fail the flush after every fwrite reported success.
  if (std::fflush(f) != 0 || std::ferror(f)) return give_up("Unable to write data to file", f);
  if (sync_file(fd) != 0) return give_up("Unable to write data to file", f);
  if (unnamed) {
    tracked = track_temporary(tmp.c_str());
    int linked = name_unnamed_file(fd, tmp.c_str());
    // A leftover under our own name can only come from a dead process that
    // had the same pid.
    if (linked != 0 && errno == EEXIST && std::remove(tmp.c_str()) == 0) {
      linked = name_unnamed_file(fd, tmp.c_str());
    }
    if (linked != 0) return give_up("Unable to write file", f);
    named = true;
  }
  if (std::fclose(f) != 0) return give_up("Unable to write data to file", nullptr);
  // One step from the old database to the new one: whoever opens the name
  // finds one or the other, never a part.
  if (replace_file(tmp.c_str(), path) != 0) return give_up("Unable to write file", nullptr);
  untrack_temporary(tracked);
  sync_directory_of(path);
  return 0;
}
