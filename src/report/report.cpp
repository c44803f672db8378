#include "report/report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

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
