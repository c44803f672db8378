// Running the scanner: a shell command whose standard output is the listing
// of the access points it heard. POSIX only.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

// Standard output beyond this is no listing: the scanner is stopped.
inline constexpr std::size_t SCANNER_OUTPUT_MAX = std::size_t{16} << 20;
// The start of its standard error is kept for the messages.
inline constexpr std::size_t SCANNER_ERRORS_KEPT = 4096;

enum class scanner_end {
  exited,       // exit_status is its status
  signalled,    // term_signal ended it
  timed_out,    // it had not ended within the time limit and was killed
  too_much,     // it printed more than SCANNER_OUTPUT_MAX bytes and was killed
  not_started,  // no pipe or no process could be had: `error` is the errno
};

struct scanner_result {
  scanner_end end;
  int exit_status;
  int term_signal;
  int error;
  std::unique_ptr<char[]> output;  // standard output and a NUL (null when not_started)
  std::size_t output_size;
  char errors[SCANNER_ERRORS_KEPT + 1];  // the start of standard error, NUL-terminated
};

// Runs `command` with /bin/sh -c, in a process group of its own, standard
// input from /dev/null, LC_ALL=C (so that its messages are the ones looked
// for) and SIGPIPE and SIGXFSZ at their default actions, and collects its output until it ends or `timeout_seconds`
// pass; then, or when it prints too much, the whole group is killed
// (SIGKILL). While it runs, SIGINT, SIGTERM, SIGHUP and SIGQUIT first kill
// its group and then act as they did before; ignored ones stay ignored.
// Returns 0 with *result filled whatever the end, or 1 with errno ENOMEM when
// no storage for the output can be had.
int run_scanner(const char* command, double timeout_seconds, scanner_result* result);

// The command run when none is given: "iw dev <interface> scan" on the first
// wireless interface, by name, under `net_dir` (one with a "wireless" or
// "phy80211" entry: /sys/class/net/<name>/...) when an "iw" is among the
// directories of `path` (a PATH value, may be null); otherwise
// "iwlist <interface> scan", or "iwlist scan" without such an interface.
// `wireless_tools` asks for iwlist whatever is there. The interface name is
// quoted for the shell.
std::string default_scanner(const char* net_dir, const char* path, bool wireless_tools);

// The text quoted for /bin/sh: in single quotes, each ' as '\''.
std::string shell_quote(const std::string& text);
