#include "platform/platform.h"

#include <cerrno>
#include <climits>
#include <string>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>

namespace {

// The errno value for the Win32 errors that moving a file can end in; the
// C runtime makes the same translation for its own calls.
int errno_of(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_CURRENT_DIRECTORY:
      return EACCES;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_PARAMETER:
    case ERROR_FILENAME_EXCED_RANGE:
      return EINVAL;
    default:
      return EIO;
  }
}

bool is_directory(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

int open_for_reading(const char* path) {
  const int fd = ::_open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  // The C runtime cannot open a directory and says EACCES; say what it is.
  if (fd < 0 && errno == EACCES && is_directory(path)) errno = EISDIR;
  return fd;
}

int create_new_file(const char* path) {
  return ::_open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                 _S_IREAD | _S_IWRITE);
}

int stat_open_file(int fd, open_file_info* info) {
  struct _stat64 st {};
  if (::_fstat64(fd, &st) != 0) return -1;
  info->regular = (st.st_mode & _S_IFMT) == _S_IFREG;
  info->directory = (st.st_mode & _S_IFMT) == _S_IFDIR;
  info->size = st.st_size < 0 ? 0 : static_cast<unsigned long long>(st.st_size);
  return 0;
}

long long read_some(int fd, void* to, std::size_t n) {
  const unsigned int count = n > INT_MAX ? INT_MAX : static_cast<unsigned int>(n);
  return ::_read(fd, to, count);
}

int close_file(int fd) { return ::_close(fd); }

std::FILE* open_write_stream(int fd) { return ::_fdopen(fd, "wb"); }

int sync_file(int fd) { return ::_commit(fd); }

void sync_directory_of(const char*) {}

int replace_file(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  const DWORD error = GetLastError();
  // A directory in the way is refused as "access denied"; say what it is.
  errno = error == ERROR_ACCESS_DENIED && is_directory(to) ? EISDIR : errno_of(error);
  return -1;
}

unsigned long current_process_id() { return GetCurrentProcessId(); }

int usable_cpu_count() {
  DWORD_PTR process = 0;
  DWORD_PTR system = 0;
  if (!GetProcessAffinityMask(GetCurrentProcess(), &process, &system) || process == 0) return 1;
  int count = 0;
  for (; process != 0; process &= process - 1) ++count;
  return count;
}

void advise_will_read(int) {}

int start_is_cached(int) { return -1; }

int create_unnamed_file(const char*) {
  errno = ENOSYS;
  return -1;
}

int name_unnamed_file(int, const char*) {
  errno = ENOSYS;
  return -1;
}

#else  // POSIX

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#ifdef __linux__
#include <sched.h>
#endif

// Systems that have none of these need none of them.
#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif

int open_for_reading(const char* path) {
  // O_NONBLOCK: opening a FIFO for reading must not wait for a writer; the
  // caller's stat_open_file then refuses it. It has no effect on regular
  // files.
  return ::open(path, O_RDONLY | O_BINARY | O_CLOEXEC | O_NONBLOCK);
}

int create_new_file(const char* path) {
  return ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_BINARY | O_CLOEXEC, 0666);
}

int create_unnamed_file(const char* dir) {
#if defined(__linux__) && defined(O_TMPFILE)
  return ::open(dir, O_TMPFILE | O_WRONLY | O_BINARY | O_CLOEXEC, 0666);
#else
  (void)dir;
  errno = ENOSYS;
  return -1;
#endif
}

int name_unnamed_file(int fd, const char* path) {
#if defined(__linux__) && defined(O_TMPFILE)
  // Through /proc, which needs no privilege; without /proc, AT_EMPTY_PATH,
  // which some kernels allow only to privileged processes.
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path, AT_SYMLINK_FOLLOW) == 0) return 0;
  if (errno != ENOENT) return -1;
  return ::linkat(fd, "", AT_FDCWD, path, AT_EMPTY_PATH);
#else
  (void)fd;
  (void)path;
  errno = ENOSYS;
  return -1;
#endif
}

int stat_open_file(int fd, open_file_info* info) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return -1;
  info->regular = S_ISREG(st.st_mode);
  info->directory = S_ISDIR(st.st_mode);
  info->size = st.st_size < 0 ? 0 : static_cast<unsigned long long>(st.st_size);
  return 0;
}

long long read_some(int fd, void* to, std::size_t n) { return ::read(fd, to, n); }

int close_file(int fd) { return ::close(fd); }

void advise_will_read(int fd) {
#if defined(POSIX_FADV_WILLNEED)
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_WILLNEED);
#else
  (void)fd;
#endif
}

int start_is_cached(int fd) {
#if defined(__linux__) && defined(RWF_NOWAIT)
  char byte;
  iovec one{&byte, 1};
  const ssize_t got = ::preadv2(fd, &one, 1, 0, RWF_NOWAIT);
  if (got >= 0) return 1;
  return errno == EAGAIN ? 0 : -1;
#else
  (void)fd;
  return -1;
#endif
}

std::FILE* open_write_stream(int fd) { return ::fdopen(fd, "wb"); }

int sync_file(int fd) { return ::fsync(fd); }

void sync_directory_of(const char* path) {
  const std::string p(path);
  const std::size_t slash = p.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : p.substr(0, slash + 1);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

int replace_file(const char* from, const char* to) { return std::rename(from, to); }

unsigned long current_process_id() { return static_cast<unsigned long>(::getpid()); }

int usable_cpu_count() {
#ifdef __linux__
  // The affinity mask, not the CPUs online: a run pinned to one CPU by
  // taskset or a container's cpuset has one.
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) == 0) {
    const int count = CPU_COUNT(&set);
    return count > 0 ? count : 1;
  }
#endif
  const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
  if (online < 1) return 1;
  return online > INT_MAX ? INT_MAX : static_cast<int>(online);
}

#endif
