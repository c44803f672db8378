#include "input/file_io.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace {

// Closes without disturbing the errno of the failure being reported.
void close_keep_errno(int fd) {
  int saved = errno;
  close_file(fd);
  errno = saved;
}

// Opens a regular file for reading and sizes it; -1 with errno set when it
// cannot be opened, is no regular file, or is too large to hold with a NUL.
int open_regular(const char* path, std::size_t* size) {
  int fd = open_for_reading(path);
  if (fd < 0) return -1;

  open_file_info info{};
  if (stat_open_file(fd, &info) != 0) {
    close_keep_errno(fd);
    return -1;
  }
  if (!info.regular) {
    close_file(fd);
    errno = info.directory ? EISDIR : EINVAL;
    return -1;
  }
  if (info.size >= static_cast<std::size_t>(-1)) {
    close_file(fd);
    errno = ENOMEM;
    return -1;
  }
  *size = static_cast<std::size_t>(info.size);
  return fd;
}

// Reads exactly `size` bytes of fd into `to`, then closes fd; 0 on success,
// 1 with errno set on a read error or a short read.
int read_and_close(int fd, char* to, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const long long got = read_some(fd, to + done, size - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      close_keep_errno(fd);
      return 1;
    }
    if (got == 0) {  // the file shrank under us: a short read
      close_file(fd);
      errno = EIO;
      return 1;
    }
    done += static_cast<std::size_t>(got);
  }
  close_file(fd);
  to[size] = '\0';
  return 0;
}

}  // namespace

std::unique_ptr<char[]> load_file(const char* path, std::size_t* size_out) {
  std::size_t size = 0;
  const int fd = open_regular(path, &size);
  if (fd < 0) return nullptr;
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[size + 1]);
  if (!buffer) {
    close_file(fd);
    errno = ENOMEM;
    return nullptr;
  }
  if (read_and_close(fd, buffer.get(), size) != 0) return nullptr;
  if (size_out) *size_out = size;
  return buffer;
}

int load_file_into(const char* path, text_buffer* buffer, std::size_t* size_out) {
  std::size_t size = 0;
  const int fd = open_regular(path, &size);
  if (fd < 0) return 1;
  if (load_open_file(fd, size, buffer) != 0) return 1;
  *size_out = size;
  return 0;
}

int open_regular_file(const char* path, std::size_t* size) { return open_regular(path, size); }

int load_open_file(int fd, std::size_t size, text_buffer* buffer) {
  if (buffer->capacity < size + 1) {
    // The old storage goes first, so that peak use stays one buffer.
    buffer->data.reset();
    buffer->capacity = 0;
    // Whole 16 KiB steps, so a survey of similar files grows it a few times;
    // when the rounded size cannot be had, the file's own size may still be.
    constexpr std::size_t step = 16 * 1024;
    std::size_t want = size + 1;
    if (want <= SIZE_MAX - step) want = (want + step - 1) / step * step;
    buffer->data.reset(new (std::nothrow) char[want]);
    if (!buffer->data && want != size + 1) {
      want = size + 1;
      buffer->data.reset(new (std::nothrow) char[want]);
    }
    if (!buffer->data) {
      close_file(fd);
      errno = ENOMEM;
      return 1;
    }
    buffer->capacity = want;
  }
  return read_and_close(fd, buffer->data.get(), size);
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
