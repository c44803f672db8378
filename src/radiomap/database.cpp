#include "radiomap/database.h"

#include <cerrno>
#include <cstdio>
#include <limits>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "input/file_io.h"

#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

namespace {

int32_t wrap(uint32_t v) { return static_cast<int32_t>(v); }
uint32_t bits(int32_t v) { return static_cast<uint32_t>(v); }

// Makes a finished rename durable. Some file systems cannot sync a
// directory; once the rename has happened the new database is in place, so
// any error here is ignored.
void sync_parent_directory(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  int fd = ::open(dir.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Opens a fresh temporary file. A leftover under our own name can only come
// from a dead process that had the same pid, so it is removed once.
int create_temporary(const std::string& tmp) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC;
  int fd = ::open(tmp.c_str(), flags, 0666);
  if (fd < 0 && errno == EEXIST && ::unlink(tmp.c_str()) == 0) {
    fd = ::open(tmp.c_str(), flags, 0666);
  }
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
  const std::string tmp = target + ".tmp." + std::to_string(::getpid());

  const int fd = create_temporary(tmp);
  if (fd < 0) {
    report_system_error("Unable to write file");
    return 1;
  }
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    report_system_error("Unable to write data to file");
    ::close(fd);
    ::unlink(tmp.c_str());
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
  } else if (::fsync(::fileno(f)) != 0) {
    failure = "Unable to write data to file";
  }
  if (failure) {
    if (errno == 0) errno = EIO;
    report_system_error(failure);
    std::fclose(f);
    ::unlink(tmp.c_str());
    return 1;
  }
  if (std::fclose(f) != 0) {
    report_system_error("Unable to write data to file");
    ::unlink(tmp.c_str());
    return 1;
  }
  if (std::rename(tmp.c_str(), path) != 0) {
    report_system_error("Unable to write file");
    ::unlink(tmp.c_str());
    return 1;
  }
  sync_parent_directory(target);
  return 0;
}
