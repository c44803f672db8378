#include "platform/interrupt.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32

int track_temporary(const char* path) {
  if (std::strlen(path) >= INTERRUPT_MAX_PATH) {
    errno = ENAMETOOLONG;
    return -1;
  }
  return 0;
}

void untrack_temporary(int) {}

#else  // POSIX

#include <atomic>
#include <csignal>
#include <mutex>

#include <unistd.h>

namespace {

// A slot is claimed by track_temporary, filled, and only then armed: the
// handler reads the path of armed slots only, and never waits for a lock.
constexpr int FREE = 0;
constexpr int FILLING = 1;
constexpr int ARMED = 2;

struct tracked_file {
  std::atomic<int> state{FREE};
  char path[INTERRUPT_MAX_PATH];
};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

tracked_file tracked[INTERRUPT_MAX_FILES];

constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void remove_and_die(int sig) {
  const int saved = errno;
  for (tracked_file& f : tracked) {
    if (f.state.load() == ARMED) ::unlink(f.path);
  }
  errno = saved;
  // Dies by the same signal: with the default action back, the signal is
  // delivered again as soon as the handler returns and unblocks it.
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  ::raise(sig);
}

void install_handlers() {
  for (const int sig : SIGNALS) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) != 0) continue;
    if (old.sa_handler == SIG_IGN) continue;  // nohup, or a background job
    struct sigaction act {};
    act.sa_handler = remove_and_die;
    sigemptyset(&act.sa_mask);
    // While one signal removes the files, the others wait, so that no
    // second handler dies half-way through the first.
    for (const int other : SIGNALS) sigaddset(&act.sa_mask, other);
    ::sigaction(sig, &act, nullptr);
  }
}

}  // namespace

int track_temporary(const char* path) {
  const std::size_t length = std::strlen(path);
  if (length >= INTERRUPT_MAX_PATH) {
    errno = ENAMETOOLONG;
    return -1;
  }
  static std::once_flag installed;
  std::call_once(installed, install_handlers);
  for (int h = 0; h < INTERRUPT_MAX_FILES; ++h) {
    tracked_file& f = tracked[h];
    int expected = FREE;
    if (!f.state.compare_exchange_strong(expected, FILLING)) continue;
    std::memcpy(f.path, path, length + 1);
    f.state.store(ARMED);
    return h;
  }
  errno = ENOSPC;
  return -1;
}

void untrack_temporary(int handle) {
  if (handle < 0 || handle >= INTERRUPT_MAX_FILES) return;
  tracked[handle].state.store(FREE);
}

#endif
