// apfold_baseline <num_refpoints> <num_scans>
//
// The I/O that apfold cannot avoid, and nothing else: run in a survey
// directory, it reads "seq.txt" and every scan file whole, in apfold's order
// (all scans of point 1, then of point 2, ...), each with open, fstat, read
// and close into one reused buffer, and then writes a file of the database's
// size (20 + 1228 x N bytes) the way the database is written: to a temporary
// file, synced, renamed over "baseline.bin". Nothing is parsed. It is the
// yardstick the benchmark holds apfold's wall time against.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "input/scan_reader.h"  // format_scan_name: the same names as apfold's

namespace {

// Reads the file whole into *buffer (grown as needed). 0 on success.
int read_whole(const char* path, std::vector<char>* buffer) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_size < 0) {
    ::close(fd);
    return 1;
  }
  const auto size = static_cast<std::size_t>(st.st_size);
  if (buffer->size() < size + 1) buffer->resize(size + 1);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(fd, buffer->data() + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ::close(fd);
      return 1;
    }
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return 0;
}

int write_synced(const char* path, std::size_t size) {
  const char* tmp = "baseline.bin.tmp";
  const int fd = ::open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return 1;
  const std::vector<char> bytes(size, '\0');
  std::size_t done = 0;
  while (done < size) {
    const ssize_t put = ::write(fd, bytes.data() + done, size - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      ::close(fd);
      return 1;
    }
    done += static_cast<std::size_t>(put);
  }
  if (::fsync(fd) != 0 || ::close(fd) != 0) return 1;
  if (std::rename(tmp, path) != 0) return 1;
  const int dir = ::open(".", O_RDONLY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "Usage: apfold_baseline <num_refpoints> <num_scans>\n");
    return 2;
  }
  const long n = std::strtol(argv[1], nullptr, 10);
  const long s = std::strtol(argv[2], nullptr, 10);
  if (n < 0 || s < 0 || n > INT32_MAX || s > INT32_MAX) return 2;

  std::vector<char> buffer;
  if (read_whole("seq.txt", &buffer) != 0) {
    std::fprintf(stderr, "cannot read seq.txt\n");
    return 1;
  }
  for (long i = 1; i <= n; ++i) {
    for (long j = 1; j <= s; ++j) {
      char name[32];
      format_scan_name(name, static_cast<int32_t>(i), static_cast<int32_t>(j));
      if (read_whole(name, &buffer) != 0) {
        std::fprintf(stderr, "cannot read %s\n", name);
        return 1;
      }
    }
  }
  if (write_synced("baseline.bin", 20 + 1228 * static_cast<std::size_t>(n)) != 0) {
    std::fprintf(stderr, "cannot write baseline.bin\n");
    return 1;
  }
  return 0;
}
