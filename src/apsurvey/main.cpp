// apsurvey [--scans S] [--scanner COMMAND] [--wait SECONDS] [--timeout SECONDS] [--raw] [--at X,Y]
//
// Records a survey that apfold folds, in the working directory: at each
// reference point it runs the scanner S times and writes the reports
// scan<i>-1 .. scan<i>-<S>, then appends the point to seq.txt. A point is
// written all at once or not at all. The coordinates come from standard
// input, point after point, or from --at for a single point.
//
// Exit status: 0 when every point asked for was recorded (also for --help and
// --version); 1 when the survey is refused as it is, or a point cannot be
// written; 2 for a usage error, or --raw with a scanner that prints the iw
// layout; 3 when a point was given up because the scanner failed, or the
// scanner was refused for lack of privileges. An interrupted run dies of its
// signal, leaving the survey as it was before the point under way.
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>

#include <unistd.h>

#include "apsurvey/scanner.h"
#include "apsurvey/survey.h"
#include "input/decimal.h"
#include "input/scan_listing.h"

#ifndef APSURVEY_VERSION
#error "APSURVEY_VERSION comes from the build"
#endif

namespace {

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_SCANNER = 3;

constexpr int32_t DEFAULT_SCANS = 5;
constexpr double DEFAULT_WAIT = 1.0;
constexpr double DEFAULT_TIMEOUT = 30.0;
constexpr double MAX_SECONDS = 3600.0;
constexpr int ATTEMPTS = 3;   // runs of the scanner for one scan before the point is given up
constexpr std::size_t FEW = 3;  // fewer access points than this are worth a warning

constexpr const char* USAGE =
    "Usage: apsurvey [--scans S] [--scanner COMMAND] [--wait SECONDS] [--timeout SECONDS]\n"
    "                [--raw] [--at X,Y]\n"
    "       apsurvey --help | --version\n"
    "Records a survey for apfold in the working directory. The points' coordinates\n"
    "are read from standard input (\"3,4\", \"(3,4)\" or \"3 4\"; q or the end of input\n"
    "finishes), or given with --at for one point.\n"
    "  --scans S          scans at each point, 1 to 64 (5; an existing survey's own)\n"
    "  --scanner COMMAND  the command run by /bin/sh for a scan (iw dev <interface>\n"
    "                     scan, or iwlist)\n"
    "  --wait SECONDS     pause between scans (1)\n"
    "  --timeout SECONDS  time limit of one scan (30)\n"
    "  --raw              keep a wireless-tools scanner's output byte for byte\n"
    "  --at X,Y           record one point at X,Y and exit\n";

struct options {
  int32_t scans = DEFAULT_SCANS;
  bool scans_given = false;
  std::string scanner;
  double wait = DEFAULT_WAIT;
  double timeout = DEFAULT_TIMEOUT;
  bool raw = false;
  bool at_given = false;
  int32_t at_x = 0;
  int32_t at_y = 0;
};

int usage_error(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "apsurvey: %s\n%s", message.c_str(), USAGE);
  return EXIT_USAGE;
}

void complain(const std::string& message) {
  std::fflush(stdout);
  std::fprintf(stderr, "apsurvey: %s\n", message.c_str());
}

// Seconds as a plain decimal number, the whole argument, within 0..MAX_SECONDS
// (above 0 when `positive`).
bool parse_seconds(const char* text, bool positive, double* seconds) {
  const std::size_t length = std::strlen(text);
  if (length == 0 || decimal_length(text) != length) return false;
  double value = 0;
  if (!scan_double(text, &value) || !std::isfinite(value)) return false;
  if (value < 0 || value > MAX_SECONDS || (positive && value <= 0)) return false;
  *seconds = value;
  return true;
}

bool parse_scans(const char* text, int32_t* scans) {
  const std::size_t length = std::strlen(text);
  if (length == 0 || length > 3) return false;
  int32_t value = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (!is_digit(text[i])) return false;
    value = value * 10 + (text[i] - '0');
  }
  if (value < 1 || value > MAX_SCANS) return false;
  *scans = value;
  return true;
}

// 0, EXIT_USAGE after the message, or -1 after --help or --version with the
// status in *done.
int parse_options(int argc, char** argv, options* o, int* done) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool takes_value = arg == "--scans" || arg == "--scanner" || arg == "--wait" ||
                             arg == "--timeout" || arg == "--at";
    if (arg == "--help" || arg == "-h") {
      std::fputs(USAGE, stdout);
      *done = std::fflush(stdout) == 0 ? 0 : EXIT_FAILED;
      return -1;
    }
    if (arg == "--version") {
      std::printf("apsurvey %s\n", APSURVEY_VERSION);
      *done = std::fflush(stdout) == 0 ? 0 : EXIT_FAILED;
      return -1;
    }
    if (arg == "--raw") {
      o->raw = true;
      continue;
    }
    if (!takes_value) {
      if (arg.starts_with("-")) return usage_error("unknown option " + std::string(arg));
      return usage_error("unexpected argument " + std::string(arg));
    }
    if (i + 1 >= argc) return usage_error(std::string(arg) + " needs a value");
    const char* value = argv[++i];
    if (arg == "--scans") {
      if (!parse_scans(value, &o->scans)) {
        return usage_error("--scans " + std::string(value) + ": not a count from 1 to " + std::to_string(MAX_SCANS));
      }
      o->scans_given = true;
    } else if (arg == "--scanner") {
      if (*value == '\0') return usage_error("--scanner needs a command");
      o->scanner = value;
    } else if (arg == "--wait") {
      if (!parse_seconds(value, false, &o->wait)) {
        return usage_error("--wait " + std::string(value) + ": not a number of seconds from 0 to 3600");
      }
    } else if (arg == "--timeout") {
      if (!parse_seconds(value, true, &o->timeout)) {
        return usage_error("--timeout " + std::string(value) + ": not a number of seconds above 0, at most 3600");
      }
    } else {
      if (parse_coordinates(value, &o->at_x, &o->at_y) != 0) {
        return usage_error("--at " + std::string(value) + ": not a point X,Y of whole numbers");
      }
      o->at_given = true;
    }
  }
  return 0;
}

void sleep_seconds(double seconds) {
  if (seconds <= 0) return;
  timespec t{};
  t.tv_sec = static_cast<time_t>(seconds);
  t.tv_nsec = static_cast<long>((seconds - static_cast<double>(t.tv_sec)) * 1e9);
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {
  }
}

// The first line of a text, cut short and with control characters shown as
// '?', to quote in a message.
std::string first_line(const char* text) {
  std::string line;
  for (const char* p = text; *p != '\0' && *p != '\n' && line.size() < 160; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (c == '\r') continue;
    line += c < 0x20 || c == 0x7f ? '?' : static_cast<char>(c);
  }
  return line;
}

// What went wrong with a run, or "" when it ended well with some output.
std::string failure_of(const scanner_result& r, double timeout) {
  const std::string said = first_line(r.errors);
  const std::string quoted = said.empty() ? "" : ": " + said;
  char text[64];
  switch (r.end) {
    case scanner_end::not_started: return "could not be run: " + std::string(std::strerror(r.error));
    case scanner_end::timed_out:
      std::snprintf(text, sizeof text, "gave no answer within %g s", timeout);
      return text;
    case scanner_end::too_much: return "printed more than 16 MiB";
    case scanner_end::signalled:
      return "was ended by signal " + std::to_string(r.term_signal) + " (" + strsignal(r.term_signal) + ")";
    case scanner_end::exited:
      if (r.exit_status != 0) return "exited with status " + std::to_string(r.exit_status) + quoted;
      if (r.output_size == 0) return "printed nothing" + quoted;
      return "";
  }
  return "";
}

bool refused_for_privileges(const scanner_result& r) {
  constexpr const char* eperm = "Operation not permitted";  // strerror(EPERM) in the C locale
  return std::strstr(r.errors, eperm) || (r.output && std::strstr(r.output.get(), eperm));
}

enum class outcome {
  recorded,    // the point is in the survey
  given_up,    // the scanner failed; nothing of the point was kept
  stop_failed, // a file problem: nothing of the point was kept, no point can follow
  stop_scanner,
  stop_usage,
  stop_memory,
};

struct session {
  options opts;
  std::string scanner;
  survey_state survey;
  point_files point;      // the one being recorded
  bool given_up = false;  // a point was given up
};

// Writes a scan's report among the point's files.
outcome keep_report(session* s, const char* text, std::size_t size) {
  std::string problem;
  if (add_scan(&s->point, text, size, &problem) != 0) {
    complain("point " + std::to_string(s->point.point) + " not recorded: " + problem);
    return outcome::stop_failed;
  }
  return outcome::recorded;
}

// Scan j of point i, written among the point's files.
outcome scan(session* s, int32_t i, int32_t j) {
  const int32_t total = s->survey.scans;
  const std::string where = "point " + std::to_string(i) + ", scan " + std::to_string(j) + " of " + std::to_string(total);
  for (int attempt = 1; attempt <= ATTEMPTS; ++attempt) {
    if (attempt > 1) sleep_seconds(s->opts.wait);
    scanner_result r;
    if (run_scanner(s->scanner.c_str(), s->opts.timeout, &r) != 0) return outcome::stop_memory;
    std::string failure = failure_of(r, s->opts.timeout);
    listing_info info{};
    if (failure.empty()) {
      read_scan_listing(r.output.get(), {}, &info);
      if (info.format == listing_format::none) {
        failure = "printed no scan listing (" + first_line(r.output.get()) + ")";
      }
    }
    if (failure.empty()) {
      if (s->opts.raw && info.format == listing_format::iw) {
        complain(where + ": --raw keeps a wireless-tools listing as it is, but the scanner prints the iw layout, "
                         "which apfold cannot read; record without --raw");
        return outcome::stop_usage;
      }
      outcome kept = outcome::recorded;
      if (s->opts.raw) {
        kept = keep_report(s, r.output.get(), r.output_size);
      } else {
        std::unique_ptr<listed_cell[]> cells(new (std::nothrow) listed_cell[info.cells == 0 ? 1 : info.cells]);
        const std::size_t capacity = scan_report_capacity(info.cells);
        std::unique_ptr<char[]> report(capacity == 0 ? nullptr : new (std::nothrow) char[capacity]);
        if (!cells || !report) return outcome::stop_memory;
        const std::span<listed_cell> read(cells.get(), info.cells);
        read_scan_listing(r.output.get(), read, &info);
        order_strongest_first(read);
        kept = keep_report(s, report.get(), write_scan_report(read, report.get()));
      }
      if (kept != outcome::recorded) return kept;
      std::printf("  scan %d of %d: %zu access point%s\n", j, total, info.cells, info.cells == 1 ? "" : "s");
      if (info.cells == 0) {
        complain(where + ": no access point heard");
      } else if (info.cells < FEW) {
        complain(where + ": only " + std::to_string(info.cells) + " access point" + (info.cells == 1 ? "" : "s") +
                 " heard");
      }
      if (info.left_out > 0) {
        complain(where + ": " + std::to_string(info.left_out) + " cell" + (info.left_out == 1 ? "" : "s") +
                 " without a hardware address or a signal level " + (s->opts.raw ? "not counted" : "left out"));
      }
      return outcome::recorded;
    }
    if (refused_for_privileges(r)) {
      complain(where + ": the scanner " + failure + "\napsurvey: the scanner was refused for lack of privileges: " +
               "a fresh scan needs root; run apsurvey as root (sudo apsurvey ...)");
      return outcome::stop_scanner;
    }
    complain(where + ": the scanner " + failure + (attempt < ATTEMPTS ? "; trying again" : ""));
  }
  complain("point " + std::to_string(i) + " given up: the scanner failed " + std::to_string(ATTEMPTS) +
           " times at scan " + std::to_string(j) + "; nothing of the point is kept");
  return outcome::given_up;
}

// False, after saying so, when a scan file of the next point is there
// already: apfold would not read it, and recording the point would replace
// it.
bool next_point_is_free(const survey_state& survey) {
  const int32_t next = survey.points + 1;
  const std::string there = existing_scan_file(next, survey.scans);
  if (there.empty()) return true;
  const std::string ends = survey.points == 0 ? "seq.txt has no point"
                                              : "seq.txt ends at point " + std::to_string(survey.points);
  complain(there + ": is there already, but " + ends + "; move the scan files of point " + std::to_string(next) +
           " away to record it");
  return false;
}

outcome record_point(session* s, int32_t x, int32_t y) {
  const int32_t i = s->survey.points + 1;
  const int32_t total = s->survey.scans;
  if (!next_point_is_free(s->survey)) return outcome::stop_failed;
  std::printf("Point %d at (%d,%d)\n", i, x, y);
  begin_point(&s->point, i);
  for (int32_t j = 1; j <= total; ++j) {
    if (j > 1) sleep_seconds(s->opts.wait);
    const outcome o = scan(s, i, j);
    if (o != outcome::recorded) {
      discard_point(&s->point);
      return o;
    }
  }
  std::string problem;
  if (commit_point(&s->point, x, y, s->survey.ends_line, &problem) != 0) {
    complain("point " + std::to_string(i) + " not recorded: " + problem);
    return outcome::stop_failed;
  }
  s->survey.points = i;
  s->survey.last_x = x;
  s->survey.last_y = y;
  s->survey.ends_line = true;
  std::printf("Point %d recorded: scan%d-1 .. scan%d-%d\n", i, i, i, total);
  return outcome::recorded;
}

// The status a stop ends the run with; 0 to go on.
int stop_status(outcome o) {
  switch (o) {
    case outcome::recorded:
    case outcome::given_up: return 0;
    case outcome::stop_failed: return EXIT_FAILED;
    case outcome::stop_scanner: return EXIT_SCANNER;
    case outcome::stop_usage: return EXIT_USAGE;
    case outcome::stop_memory:
      complain(std::string("no storage for a scan: ") + std::strerror(ENOMEM));
      return EXIT_FAILED;
  }
  return EXIT_FAILED;
}

// Reads points from standard input until "q" or its end.
int survey_interactively(session* s) {
  const bool terminal = ::isatty(0) == 1;
  char line[256];
  for (;;) {
    if (terminal) {
      std::printf("Point %d at x,y (q to finish): ", s->survey.points + 1);
      std::fflush(stdout);
    }
    if (!std::fgets(line, sizeof line, stdin)) {
      if (terminal) std::printf("\n");
      return 0;
    }
    const std::size_t length = std::strlen(line);
    if (length == sizeof line - 1 && line[length - 1] != '\n') {
      int c = 0;
      while ((c = std::getchar()) != EOF && c != '\n') {
      }
      complain("that line is too long to be a point");
      continue;
    }
    std::string_view text(line, length);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    if (text.empty()) continue;
    if (text == "q" || text == "quit") return 0;
    int32_t x = 0;
    int32_t y = 0;
    if (parse_coordinates(text, &x, &y) != 0) {
      complain("\"" + first_line(std::string(text).c_str()) +
               "\" is not a point: type x,y (or (x,y), or x y) in whole numbers, or q to finish");
      continue;
    }
    const outcome o = record_point(s, x, y);
    if (o == outcome::given_up) s->given_up = true;
    if (const int status = stop_status(o); status != 0) return status;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Progress shows line by line, also through a pipe.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  // A closed output or a file-size limit is then an error that removes what
  // was made for the point, not a death that leaves its temporary files.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);

  session s;
  int done = 0;
  if (const int status = parse_options(argc, argv, &s.opts, &done); status != 0) {
    return status < 0 ? done : status;
  }

  std::string problem;
  if (read_survey(&s.survey, &problem) != 0) {
    complain(problem);
    return EXIT_FAILED;
  }
  if (s.survey.points > 0 && s.opts.scans_given && s.opts.scans != s.survey.scans) {
    complain("--scans " + std::to_string(s.opts.scans) + " disagrees with the survey, whose points have " +
             std::to_string(s.survey.scans) + " scans each (scan1-1 .. scan1-" + std::to_string(s.survey.scans) + ")");
    return EXIT_FAILED;
  }
  if (s.survey.points == 0) s.survey.scans = s.opts.scans;
  if (!next_point_is_free(s.survey)) return EXIT_FAILED;

  s.scanner = !s.opts.scanner.empty() ? s.opts.scanner
                                      : default_scanner("/sys/class/net", std::getenv("PATH"), s.opts.raw);
  std::printf("Scanner: %s\n", s.scanner.c_str());
  if (s.survey.points == 0) {
    std::printf("New survey: %d scans a point\n", s.survey.scans);
  } else {
    std::printf("Survey of %d point%s, %d scans a point, the last at (%d,%d)\n", s.survey.points,
                s.survey.points == 1 ? "" : "s", s.survey.scans, s.survey.last_x, s.survey.last_y);
  }

  int status = 0;
  if (s.opts.at_given) {
    const outcome o = record_point(&s, s.opts.at_x, s.opts.at_y);
    if (o == outcome::given_up) s.given_up = true;
    status = stop_status(o);
  } else {
    status = survey_interactively(&s);
  }
  if (status == 0 && s.given_up) status = EXIT_SCANNER;

  if (s.survey.points > 0) {
    std::printf("Fold the survey with: apfold %d %d\n", s.survey.points, s.survey.scans);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    complain(std::string("cannot write the output: ") + std::strerror(errno));
    if (status == 0) status = EXIT_FAILED;
  }
  return status;
}
