#include "input/file_io.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0
#endif

namespace {

// Closes without disturbing the errno of the failure being reported.
void close_keep_errno(int fd) {
  int saved = errno;
  ::close(fd);
  errno = saved;
}

}  // namespace

std::unique_ptr<char[]> load_file(const char* path, std::size_t* size_out) {
  // O_NONBLOCK: opening a FIFO for reading must not wait for a writer; the
  // fstat below then refuses it. It has no effect on regular files.
  int fd = ::open(path, O_RDONLY | O_BINARY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;

  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    close_keep_errno(fd);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return nullptr;
  }
  if (st.st_size < 0 ||
      static_cast<unsigned long long>(st.st_size) >= static_cast<std::size_t>(-1)) {
    ::close(fd);
    errno = ENOMEM;
    return nullptr;
  }
  const auto size = static_cast<std::size_t>(st.st_size);

  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size + 1]);
  if (!buffer) {
    ::close(fd);
    errno = ENOMEM;
    return nullptr;
  }

  std::size_t done = 0;
  while (done < size) {
    ssize_t got = ::read(fd, buffer.get() + done, size - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      close_keep_errno(fd);
      return nullptr;
    }
    if (got == 0) {  // the file shrank under us: a short read
      ::close(fd);
      errno = EIO;
      return nullptr;
    }
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  buffer[size] = '\0';
  if (size_out) *size_out = size;
  return buffer;
}

int append_text(const char* path, const char* text) {
  std::FILE* f = std::fopen(path, "a");
  if (!f) return 1;
  const std::size_t len = std::strlen(text);
  bool ok = std::fwrite(text, 1, len, f) == len;
  // Buffered bytes are only handed to the system at the flush, so a full disk
  // often shows up here or at the close rather than at the write.
  if (std::fflush(f) != 0) ok = false;
  if (std::ferror(f)) ok = false;
  if (std::fclose(f) != 0) ok = false;
  return ok ? 0 : 1;
}

void report_system_error(const char* message) {
  const int saved = errno;
  std::fflush(stdout);
  const char* reason = std::strerror(saved);
  if (message[0] == '\0') {
    std::fprintf(stderr, "%s\n", reason);
  } else {
    std::fprintf(stderr, "%s: %s\n", message, reason);
  }
  errno = saved;
}
