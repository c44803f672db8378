// apfold_launch <program> [arguments...]
//
// Runs the program, waits for it and prints one line on standard error:
//   launch: status <exit status> wall <s> cpu <s> maxrss <KiB>
// The benchmark runner starts programs through this small process rather
// than directly: a child forked from the Python interpreter inherits the
// interpreter's resident set as its peak, which would hide the few MiB
// apfold itself needs. Standard output is passed through.
#include <cstdio>
#include <ctime>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "Usage: apfold_launch <program> [arguments...]\n");
    return 2;
  }
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 2;
  }
  if (child == 0) {
    execvp(argv[1], argv + 1);
    std::perror(argv[1]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("wait4");
    return 2;
  }
  timespec end{};
  clock_gettime(CLOCK_MONOTONIC, &end);
  const double wall = static_cast<double>(end.tv_sec - start.tv_sec) +
                      static_cast<double>(end.tv_nsec - start.tv_nsec) * 1e-9;
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::fprintf(stderr, "launch: status %d wall %.6f cpu %.6f maxrss %ld\n", code, wall, cpu,
               usage.ru_maxrss);
  return code;
}
