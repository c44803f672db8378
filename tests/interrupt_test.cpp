// Temporary files tracked for interruption, with real signals sent to a
// forked child that tracks them.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/interrupt.h"
#include "support.h"

namespace {

struct child_setup {
  bool ignore_hangup = false;  // SIGHUP ignored before anything is tracked, as nohup does
  bool untrack_one = false;    // the first file is untracked again before the signal
};

// Forks a child that tracks and creates "a" and "b", tells the parent it is
// ready, and waits for signals. Returns its pid and the read end of the
// ready pipe.
pid_t start_child(const child_setup& setup, int* ready) {
  int fds[2];
  if (pipe(fds) != 0) return -1;
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid != 0) {
    close(fds[1]);
    *ready = fds[0];
    return pid;
  }
  close(fds[0]);
  const rlimit no_core{0, 0};  // SIGQUIT's default action dumps core
  setrlimit(RLIMIT_CORE, &no_core);
  if (setup.ignore_hangup) std::signal(SIGHUP, SIG_IGN);
  const int a = track_temporary("a");
  const int b = track_temporary("b");
  if (a < 0 || b < 0) _exit(90);
  support::write_file("a", "temporary");
  support::write_file("b", "temporary");
  if (setup.untrack_one) untrack_temporary(a);
  if (write(fds[1], "r", 1) != 1) _exit(91);
  for (;;) pause();
}

bool wait_ready(int fd) {
  char c = 0;
  const bool ok = read(fd, &c, 1) == 1;
  close(fd);
  return ok;
}

int wait_status(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

class Interrupt : public support::TempDirTest {};

}  // namespace

TEST_F(Interrupt, EachSignalRemovesTrackedFilesAndEndsTheProcessByIt) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(strsignal(sig));
    int ready = -1;
    const pid_t pid = start_child({}, &ready);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(wait_ready(ready));
    ASSERT_TRUE(support::exists("a") && support::exists("b"));
    kill(pid, sig);
    const int status = wait_status(pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_EQ(support::list_dir("."), std::vector<std::string>{});
  }
}

TEST_F(Interrupt, UntrackedFilesStay) {
  int ready = -1;
  const pid_t pid = start_child({.untrack_one = true}, &ready);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(wait_ready(ready));
  kill(pid, SIGINT);
  const int status = wait_status(pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGINT);
  EXPECT_EQ(support::list_dir("."), std::vector<std::string>{"a"});
}

// A run started with nohup keeps ignoring SIGHUP, files and all.
TEST_F(Interrupt, IgnoredSignalStaysIgnored) {
  int ready = -1;
  const pid_t pid = start_child({.ignore_hangup = true}, &ready);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(wait_ready(ready));
  kill(pid, SIGHUP);
  // A signal is delivered before kill returns when the target can run; give
  // it ample time anyway before looking.
  usleep(200 * 1000);
  int status = 0;
  EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the child died of an ignored SIGHUP";
  EXPECT_EQ(support::list_dir("."), (std::vector<std::string>{"a", "b"}));
  kill(pid, SIGTERM);
  status = wait_status(pid);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  EXPECT_EQ(support::list_dir("."), std::vector<std::string>{});
}

TEST_F(Interrupt, RefusesPathsTooLongAndMoreFilesThanItHolds) {
  const std::string longest(INTERRUPT_MAX_PATH - 1, 'x');
  const int fits = track_temporary(longest.c_str());
  EXPECT_GE(fits, 0);
  untrack_temporary(fits);
  errno = 0;
  EXPECT_EQ(track_temporary((longest + "x").c_str()), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);

  std::vector<int> handles;
  for (int i = 0; i < INTERRUPT_MAX_FILES; ++i) {
    const int h = track_temporary(("f" + std::to_string(i)).c_str());
    ASSERT_GE(h, 0) << i;
    handles.push_back(h);
  }
  errno = 0;
  EXPECT_EQ(track_temporary("one more"), -1);
  EXPECT_EQ(errno, ENOSPC);
  untrack_temporary(handles[5]);
  const int again = track_temporary("one more");
  EXPECT_EQ(again, handles[5]);  // a freed slot is used again
  for (const int h : handles) untrack_temporary(h);
  untrack_temporary(-1);  // ignored
}
