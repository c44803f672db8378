#include "apsurvey/survey.h"

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "input/decimal.h"
#include "input/file_io.h"
#include "input/scan_reader.h"
#include "input/seq_file.h"
#include "platform/platform.h"

namespace {

std::string scan_name(int32_t point, int32_t scan) {
  char name[32];
  format_scan_name(name, point, scan);
  return name;
}

std::string reason(int error) { return std::strerror(error); }

// A scan file that apfold can load: 0; otherwise 1 with *problem.
int check_scan_file(const std::string& name, int32_t point, int32_t scans, std::string* problem) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) {
    if (errno == ENOENT) {
      *problem = name + ": missing: point " + std::to_string(point) + " has fewer scan files than point 1 (" +
                 std::to_string(scans) + ")";
    } else {
      *problem = name + ": " + reason(errno);
    }
    return 1;
  }
  if (!S_ISREG(st.st_mode)) {
    *problem = name + ": not a regular file";
    return 1;
  }
  return 0;
}

bool is_regular(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int create_exclusive(const char* path) {
  constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(path, flags, 0666);
  // Our own name can only be left over from a dead run that had the same
  // pid: it goes (a link under it is removed, not followed) and the file is
  // made afresh.
  if (fd < 0 && errno == EEXIST && ::unlink(path) == 0) fd = ::open(path, flags, 0666);
  return fd;
}

int write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) {
      errno = EIO;
      return -1;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return 0;
}

// Creates, writes, syncs and closes a file: 0, or -1 with errno set and the
// descriptor closed (what was created stays for the caller to remove).
int write_new_file(const char* path, const char* text, std::size_t size, bool* created) {
  const int fd = create_exclusive(path);
  if (fd < 0) return -1;
  *created = true;
  if (write_all(fd, text, size) != 0 || ::fsync(fd) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return ::close(fd);
}

// Renames the written files into place and appends the point's entry to
// seq.txt; on a failure removes everything of the point and cuts seq.txt
// back. Runs with the interrupting signals held back.
int place_point(point_files* p, const char* line, std::string* problem) {
  for (int32_t k = 0; k < p->count; ++k) {
    point_file& f = p->file[k];
    struct stat st {};
    if (::lstat(f.name, &st) == 0) {
      *problem = std::string(f.name) + ": is there already";
      discard_point(p);
      return 1;
    }
    if (::rename(f.temp, f.name) != 0) {
      *problem = std::string(f.name) + ": " + reason(errno);
      discard_point(p);
      return 1;
    }
    f.placed = true;
    untrack_temporary(f.handle);
    f.handle = -1;
  }
  // The scan files are in the directory for good before seq.txt names them.
  sync_directory_of(SEQ_FILE_NAME);

  struct stat before {};
  const bool existed = ::stat(SEQ_FILE_NAME, &before) == 0;
  if (append_text(SEQ_FILE_NAME, line) != 0) {
    *problem = std::string(SEQ_FILE_NAME) + ": " + reason(errno);
    // Whatever part of the line reached the file goes again.
    if (existed) {
      (void)::truncate(SEQ_FILE_NAME, before.st_size);
    } else {
      ::unlink(SEQ_FILE_NAME);
    }
    discard_point(p);
    return 1;
  }
  return 0;
}

// The text's next 32-bit integer with an optional sign: the position after
// it, or null.
const char* read_int32(const char* p, const char* end, int32_t* value) {
  if (p < end && *p == '+' && p + 1 < end && is_digit(p[1])) ++p;
  if (p == end || !(is_digit(*p) || *p == '-')) return nullptr;
  const auto [at, error] = std::from_chars(p, end, *value);
  return error == std::errc() ? at : nullptr;
}

}  // namespace

int read_survey(survey_state* state, std::string* problem) {
  *state = survey_state{0, 0, 0, 0, true};
  std::size_t size = 0;
  const auto text = load_file(SEQ_FILE_NAME, &size);
  if (!text && errno != ENOENT) {
    *problem = std::string(SEQ_FILE_NAME) + ": " + reason(errno);
    return 1;
  }
  if (text) {
    seq_extent extent{};
    const int status = seq_count_text(text.get(), &extent);
    const std::string next = std::to_string(int64_t{extent.count} + 1);
    if (status != SEQ_OK && extent.next_converted) {
      *problem = "seq.txt: entry " + next + " is numbered " + std::to_string(extent.next_number) +
                 ": entries must be numbered 1, 2, 3, ... in order";
      return 1;
    }
    if (status != SEQ_OK) {
      *problem = "seq.txt: entry " + next + " does not read as \"" + next + "<TAB>(x,y)\"";
      return 1;
    }
    if (std::strlen(text.get()) != size) {
      *problem = "seq.txt: holds a NUL byte, after which apfold reads nothing";
      return 1;
    }
    if (!extent.closed) {
      *problem = "seq.txt: entry " + std::to_string(extent.count) +
                 " has no closing parenthesis, so no entry can follow it";
      return 1;
    }
    state->points = extent.count;
    state->last_x = extent.last_x;
    state->last_y = extent.last_y;
    state->ends_line = size == 0 || is_space(text[size - 1]);
  }
  if (state->points == INT32_MAX) {
    *problem = "seq.txt: holds as many points as a survey can have";
    return 1;
  }
  if (state->points == 0) return 0;

  int32_t scans = 0;
  while (scans <= MAX_SCANS && is_regular(scan_name(1, scans + 1))) ++scans;
  if (scans == 0) {
    if (check_scan_file(scan_name(1, 1), 1, 0, problem) == 0) return 0;  // cannot be: it was not there
    if (errno == ENOENT) {
      *problem = "scan1-1: missing: seq.txt has " + std::to_string(state->points) + " point" +
                 (state->points == 1 ? "" : "s") + ", but point 1 has no scan file";
    }
    return 1;
  }
  if (scans > MAX_SCANS) {
    *problem = scan_name(1, scans) + ": point 1 has more than " + std::to_string(MAX_SCANS) +
               " scan files, the most apsurvey records a point";
    return 1;
  }
  for (int32_t i = 2; i <= state->points; ++i) {
    for (int32_t j = 1; j <= scans; ++j) {
      if (check_scan_file(scan_name(i, j), i, scans, problem) != 0) return 1;
    }
  }
  state->scans = scans;
  return 0;
}

std::string existing_scan_file(int32_t point, int32_t scans) {
  for (int32_t j = 1; j <= scans; ++j) {
    const std::string name = scan_name(point, j);
    struct stat st {};
    if (::lstat(name.c_str(), &st) == 0) return name;
  }
  return "";
}

void begin_point(point_files* p, int32_t point) {
  p->point = point;
  p->count = 0;
}

int add_scan(point_files* p, const char* text, std::size_t size, std::string* problem) {
  if (p->count >= MAX_SCANS) {
    *problem = "point " + std::to_string(p->point) + ": more than " + std::to_string(MAX_SCANS) + " scans";
    return 1;
  }
  point_file& f = p->file[p->count++];
  format_scan_name(f.name, p->point, p->count);
  std::snprintf(f.temp, sizeof f.temp, "scan%d-%d.tmp.%lu", p->point, p->count, current_process_id());
  f.made = false;
  f.placed = false;
  f.handle = track_temporary(f.temp);
  if (f.handle < 0 || write_new_file(f.temp, text, size, &f.made) != 0) {
    *problem = std::string(f.temp) + ": " + reason(errno);
    return 1;
  }
  return 0;
}

int commit_point(point_files* p, int32_t x, int32_t y, bool ends_line, std::string* problem) {
  char line[64];
  std::snprintf(line, sizeof line, "%s%d\t(%d,%d)\n", ends_line ? "" : "\n", p->point, x, y);
  // A signal now waits until the point is complete or gone.
  sigset_t interrupting;
  sigemptyset(&interrupting);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&interrupting, sig);
  sigset_t old_mask;
  ::sigprocmask(SIG_BLOCK, &interrupting, &old_mask);
  const int status = place_point(p, line, problem);
  ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  return status;
}

void discard_point(point_files* p) {
  const int saved = errno;
  for (int32_t k = 0; k < p->count; ++k) {
    point_file& f = p->file[k];
    if (f.placed) {
      ::unlink(f.name);
    } else if (f.made) {
      ::unlink(f.temp);
    }
    untrack_temporary(f.handle);
    f.handle = -1;
    f.made = false;
    f.placed = false;
  }
  p->count = 0;
  errno = saved;
}

int parse_coordinates(std::string_view text, int32_t* x, int32_t* y) {
  const auto trim = [](std::string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
  };
  std::string_view s = trim(text);
  if (s.starts_with('(')) {
    if (!s.ends_with(')')) return 1;
    s = trim(s.substr(1, s.size() - 2));
  }
  const char* p = s.data();
  const char* end = p + s.size();
  int32_t first = 0;
  int32_t second = 0;
  p = read_int32(p, end, &first);
  if (!p) return 1;
  const char* gap = p;
  while (p < end && is_space(*p)) ++p;
  const bool comma = p < end && *p == ',';
  if (comma) ++p;
  if (!comma && p == gap) return 1;  // "34": one number
  while (p < end && is_space(*p)) ++p;
  p = read_int32(p, end, &second);
  if (!p || p != end) return 1;
  *x = first;
  *y = second;
  return 0;
}
