#include "apsurvey/scanner.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace {

constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
constexpr int SIGNAL_COUNT = 4;

// The scanner's process group while one runs, for the handler below; 0 when
// none does.
volatile sig_atomic_t scanner_group = 0;
static_assert(sizeof(pid_t) <= sizeof(sig_atomic_t));

// The dispositions the handler replaced, and whether it replaced each.
struct sigaction replaced[SIGNAL_COUNT];
bool installed[SIGNAL_COUNT];

// Kills the scanner's group, then puts back what handled the signal before
// and raises it again: once this handler returns and the signal is
// unblocked, that handler runs (removing temporary files, say) or the
// default action ends the process. Async-signal-safe calls only.
extern "C" void kill_scanner_and_pass_on(int sig) {
  const int saved = errno;
  const pid_t group = static_cast<pid_t>(scanner_group);
  if (group > 0) ::kill(-group, SIGKILL);
  for (int i = 0; i < SIGNAL_COUNT; ++i) {
    if (SIGNALS[i] == sig) ::sigaction(sig, &replaced[i], nullptr);
  }
  ::raise(sig);
  errno = saved;
}

sigset_t interrupt_set() {
  sigset_t set;
  sigemptyset(&set);
  for (const int sig : SIGNALS) sigaddset(&set, sig);
  return set;
}

// With the signals blocked.
void install_handlers() {
  for (int i = 0; i < SIGNAL_COUNT; ++i) {
    installed[i] = false;
    if (::sigaction(SIGNALS[i], nullptr, &replaced[i]) != 0) continue;
    if (replaced[i].sa_handler == SIG_IGN) continue;  // nohup, or a background job
    struct sigaction act {};
    act.sa_handler = kill_scanner_and_pass_on;
    act.sa_mask = interrupt_set();
    installed[i] = ::sigaction(SIGNALS[i], &act, nullptr) == 0;
  }
}

// With the signals blocked.
void restore_handlers() {
  for (int i = 0; i < SIGNAL_COUNT; ++i) {
    if (installed[i]) ::sigaction(SIGNALS[i], &replaced[i], nullptr);
    installed[i] = false;
  }
}

double now_seconds() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void sleep_seconds(double seconds) {
  timespec t{};
  t.tv_sec = static_cast<time_t>(seconds);
  t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// In the child: never returns.
[[noreturn]] void exec_scanner(const char* command, int out, int err, pid_t parent,
                               const sigset_t* old_mask) {
  // Caught signals go back to their default action; ignored ones stay
  // ignored, as exec would leave them.
  for (const int sig : SIGNALS) {
    struct sigaction old {};
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
      struct sigaction dfl {};
      dfl.sa_handler = SIG_DFL;
      sigemptyset(&dfl.sa_mask);
      ::sigaction(sig, &dfl, nullptr);
    }
  }
  // apsurvey ignores these for itself; the scanner gets the usual ones.
  ::signal(SIGPIPE, SIG_DFL);
  ::signal(SIGXFSZ, SIG_DFL);
  ::setpgid(0, 0);
#ifdef __linux__
  // Should apsurvey die by a signal it cannot catch, the shell goes too.
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (::getppid() != parent) _exit(127);
#else
  (void)parent;
#endif
  ::sigprocmask(SIG_SETMASK, old_mask, nullptr);
  const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null < 0 || ::dup2(null, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) _exit(127);
  ::setenv("LC_ALL", "C", 1);
  ::execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
  _exit(127);
}

struct output_buffer {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
  std::size_t capacity = 0;
};

// Room for `more` bytes after the ones held, and the NUL; false when no
// storage can be had.
bool make_room(output_buffer* b, std::size_t more) {
  const std::size_t need = b->size + more + 1;
  if (need <= b->capacity) return true;
  std::size_t capacity = std::max<std::size_t>(b->capacity * 2, std::size_t{64} << 10);
  capacity = std::max(capacity, need);
  std::unique_ptr<char[]> bigger(new (std::nothrow) char[capacity]);
  if (!bigger) return false;
  if (b->size > 0) std::memcpy(bigger.get(), b->data.get(), b->size);
  b->data = std::move(bigger);
  b->capacity = capacity;
  return true;
}

void close_fd(int* fd) {
  if (*fd >= 0) ::close(*fd);
  *fd = -1;
}

bool has_entry(const std::string& dir, const char* name) {
  struct stat st {};
  return ::stat((dir + "/" + name).c_str(), &st) == 0;
}

bool on_path(const char* path, const char* program) {
  if (!path) return false;
  std::string_view rest = path;
  for (;;) {
    const std::size_t colon = rest.find(':');
    const std::string_view dir = rest.substr(0, colon);
    // An empty entry is the working directory.
    const std::string file = std::string(dir.empty() ? std::string_view(".") : dir) + "/" + program;
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(file.c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) return false;
    rest.remove_prefix(colon + 1);
  }
}

}  // namespace

int run_scanner(const char* command, double timeout_seconds, scanner_result* result) {
  result->end = scanner_end::not_started;
  result->exit_status = 0;
  result->term_signal = 0;
  result->error = 0;
  result->output.reset();
  result->output_size = 0;
  result->errors[0] = '\0';

  output_buffer out;
  if (!make_room(&out, 0)) {
    errno = ENOMEM;
    return 1;
  }
  out.data[0] = '\0';
  std::size_t errors_kept = 0;

  int out_pipe[2] = {-1, -1};
  int err_pipe[2] = {-1, -1};
  if (::pipe2(out_pipe, O_CLOEXEC) != 0 || ::pipe2(err_pipe, O_CLOEXEC) != 0) {
    result->error = errno;
    close_fd(&out_pipe[0]);
    close_fd(&out_pipe[1]);
    result->output = std::move(out.data);
    return 0;
  }

  // The signals wait while the child is made and the handlers change hands,
  // so that none finds a child without a group or a handler half in place.
  const sigset_t block = interrupt_set();
  sigset_t old_mask;
  ::sigprocmask(SIG_BLOCK, &block, &old_mask);
  const pid_t parent = ::getpid();
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) exec_scanner(command, out_pipe[1], err_pipe[1], parent, &old_mask);
  if (pid < 0) {
    result->error = errno;
    ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
    for (int* fd : {&out_pipe[0], &out_pipe[1], &err_pipe[0], &err_pipe[1]}) close_fd(fd);
    result->output = std::move(out.data);
    return 0;
  }
  // Also here, so that the group exists whichever of the two runs first.
  ::setpgid(pid, pid);
  scanner_group = static_cast<sig_atomic_t>(pid);
  install_handlers();
  ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);
  close_fd(&out_pipe[1]);
  close_fd(&err_pipe[1]);

  const double deadline = now_seconds() + timeout_seconds;
  bool killed = false;
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  char chunk[16384];
  while (!killed && (fds[0].fd >= 0 || fds[1].fd >= 0)) {
    const double left = deadline - now_seconds();
    if (left <= 0) {
      result->end = scanner_end::timed_out;
      killed = true;
      break;
    }
    const int wait_ms = static_cast<int>(std::min(left * 1000.0 + 1.0, 1e9));
    const int ready = ::poll(fds, 2, wait_ms);
    if (ready < 0 && errno != EINTR) {
      result->error = errno;
      result->end = scanner_end::timed_out;
      killed = true;
      break;
    }
    for (int i = 0; i < 2 && ready > 0; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        continue;
      }
      const auto n = static_cast<std::size_t>(got);
      if (i == 1) {
        const std::size_t keep = std::min(n, SCANNER_ERRORS_KEPT - errors_kept);
        std::memcpy(result->errors + errors_kept, chunk, keep);
        errors_kept += keep;
        result->errors[errors_kept] = '\0';
      } else if (out.size + n > SCANNER_OUTPUT_MAX) {
        result->end = scanner_end::too_much;
        killed = true;
      } else if (!make_room(&out, n)) {
        ::kill(-pid, SIGKILL);
        killed = true;
        result->end = scanner_end::not_started;
        result->error = ENOMEM;
      } else {
        std::memcpy(out.data.get() + out.size, chunk, n);
        out.size += n;
        out.data[out.size] = '\0';
      }
    }
  }
  close_fd(&fds[0].fd);
  close_fd(&fds[1].fd);

  // Both streams are closed: the shell has ended, or ends now, or left
  // something behind that keeps running.
  int status = 0;
  pid_t reaped = 0;
  while (!killed) {
    reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped == pid || (reaped < 0 && errno != EINTR)) break;
    if (now_seconds() >= deadline) {
      result->end = scanner_end::timed_out;
      killed = true;
      break;
    }
    sleep_seconds(0.005);
  }
  if (killed) {
    ::kill(-pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  } else if (reaped == pid) {
    if (WIFEXITED(status)) {
      result->end = scanner_end::exited;
      result->exit_status = WEXITSTATUS(status);
    } else {
      result->end = scanner_end::signalled;
      result->term_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    }
  }

  ::sigprocmask(SIG_BLOCK, &block, &old_mask);
  restore_handlers();
  scanner_group = 0;
  ::sigprocmask(SIG_SETMASK, &old_mask, nullptr);

  result->output_size = out.size;
  result->output = std::move(out.data);
  return 0;
}

std::string shell_quote(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string default_scanner(const char* net_dir, const char* path, bool wireless_tools) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(net_dir)) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string at = std::string(net_dir) + "/" + name;
      if (has_entry(at, "wireless") || has_entry(at, "phy80211")) names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end());
  if (names.empty()) return "iwlist scan";
  const std::string interface = shell_quote(names.front());
  if (!wireless_tools && on_path(path, "iw")) return "iw dev " + interface + " scan";
  return "iwlist " + interface + " scan";
}
