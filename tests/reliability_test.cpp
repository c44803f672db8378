// The apfold binary under hostile conditions: killed at random moments while
// it replaces a large database, racing another run in the same directory, and
// fed surveys built to exhaust memory or time (huge files, huge words, huge
// counts, special files). The database must only ever be one complete
// database, and every run must end with its documented status in bounded
// memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "radiomap/database.h"
#include "support.h"

using support::encode_header;
using support::encode_record;
using support::exists;
using support::read_file;
using support::run_apfold;
using support::run_limits;
using support::run_result;
using support::write_file;

namespace {

// AddressSanitizer maps shadow memory for every allocation and cannot run
// under an address-space limit at all, so memory bounds only hold for plain
// builds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
constexpr bool memory_bounds_hold = !sanitized;

constexpr long kb_per_mb = 1024;
// What the process needs besides the buffers a test accounts for.
constexpr long baseline_kb = 16 * kb_per_mb;

void expect_rss_below(const run_result& r, long bound_kb, const std::string& what) {
  if (!memory_bounds_hold) return;
  EXPECT_LT(r.max_rss_kb, bound_kb) << what << ": peak RSS " << r.max_rss_kb << " KB";
  std::printf("[ peak RSS ] %s: %ld KB (bound %ld KB)\n", what.c_str(), r.max_rss_kb, bound_kb);
}

// A file made of pieces, each written `repeat` times, in large blocks.
// Returns the file size.
struct piece {
  std::string text;
  long long repeat = 1;
};

long long write_big(const std::string& path, const std::vector<piece>& pieces) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  EXPECT_GE(fd, 0) << path << ": " << std::strerror(errno);
  if (fd < 0) return -1;
  long long total = 0;
  auto put = [&](const std::string& s) {
    std::size_t done = 0;
    while (done < s.size()) {
      const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ADD_FAILURE() << "writing " << path << ": " << std::strerror(errno);
        return;
      }
      done += static_cast<std::size_t>(n);
    }
    total += static_cast<long long>(s.size());
  };
  for (const auto& p : pieces) {
    if (p.text.empty()) continue;
    const long long per_block = std::max<long long>(1, (1 << 20) / static_cast<long long>(p.text.size()));
    std::string block;
    for (long long i = 0; i < std::min(per_block, p.repeat); ++i) block += p.text;
    for (long long i = 0; i < p.repeat / per_block; ++i) put(block);
    put(block.substr(0, static_cast<std::size_t>(p.repeat % per_block) * p.text.size()));
  }
  ::close(fd);
  return total;
}

long kb(long long bytes) { return static_cast<long>(bytes / 1024); }

// run_apfold for a run whose peak RSS is bounded. The child's peak counts
// what it was at the fork, a copy of this process, so this process hands its
// free heap back to the system first; the tests also drop their big buffers
// before a measured run.
run_result run_measured(const std::vector<std::string>& args, const run_limits& limits = {}) {
  ::malloc_trim(0);
  return run_apfold(args, ".", limits);
}

// ---------------------------------------------------------------------------
// A survey whose database is tens of megabytes: 20000 points, one scan each,
// one access point per scan.

constexpr int big_n = 20000;

std::string big_scan(int i) {
  char text[256];
  std::snprintf(text, sizeof text,
                "wlan0     Scan completed :\n"
                "          Cell 01 - Address: 00:00:00:00:%02X:%02X\n"
                "                    ESSID:\"p%d\"\n"
                "                    Quality=40/70  Signal level=-%d dBm  Noise level=-9%d dBm\n",
                (i >> 8) & 0xff, i & 0xff, i, 30 + i % 60, i % 10);
  return text;
}

support::expected_ap big_ap(int i) {
  char address[32];
  std::snprintf(address, sizeof address, "00:00:00:00:%02X:%02X", (i >> 8) & 0xff, i & 0xff);
  return {address, "p" + std::to_string(i), static_cast<float>(-(30 + i % 60)),
          static_cast<float>(-(90 + i % 10)), 1};
}

struct layout {
  int columns;  // points per grid row
  int shift_x;  // subtracted from every x
};

std::string big_seq(const layout& g) {
  std::string text;
  for (int i = 1; i <= big_n; ++i) {
    text += std::to_string(i) + "\t(" + std::to_string((i - 1) % g.columns - g.shift_x) + "," +
            std::to_string((i - 1) / g.columns) + ")\n";
  }
  return text;
}

// The database apfold n 1 must write for the survey laid out as g.
std::string big_database(const layout& g, int n) {
  const int rows = (n - 1) / g.columns + 1;
  const int width = std::min(n, g.columns);
  std::string db = encode_header(n, width, rows, g.shift_x, 0);
  db.reserve(20 + 1228 * static_cast<std::size_t>(n));
  for (int i = 1; i <= n; ++i) {
    db += encode_record((i - 1) % g.columns - g.shift_x, (i - 1) / g.columns, {big_ap(i)});
  }
  return db;
}

// An apfold process started with its output discarded. It is reaped once,
// by running() or wait(), and never signalled after that, so a kill cannot
// reach a process that reused its pid.
class apfold_process {
 public:
  explicit apfold_process(const std::vector<std::string>& args) {
    std::vector<std::string> argv{support::apfold_binary()};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execv(raw[0], raw.data());
      _exit(127);
    }
    EXPECT_GT(pid_, 0) << std::strerror(errno);
  }
  apfold_process(const apfold_process&) = delete;
  apfold_process& operator=(const apfold_process&) = delete;
  ~apfold_process() {
    if (!reaped_ && pid_ > 0) {
      ::kill(pid_, SIGKILL);
      wait();
    }
  }

  pid_t pid() const { return pid_; }

  bool running() {
    if (reaped_) return false;
    const pid_t got = ::waitpid(pid_, &status_, WNOHANG);
    if (got == pid_ || (got < 0 && errno != EINTR)) reaped_ = true;
    return !reaped_;
  }

  // The exit status, or minus the signal that ended it.
  int wait() {
    while (!reaped_) {
      const pid_t got = ::waitpid(pid_, &status_, 0);
      if (got == pid_ || (got < 0 && errno != EINTR)) reaped_ = true;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : WIFSIGNALED(status_) ? -WTERMSIG(status_) : -1;
  }

  void kill(int sig = SIGKILL) {
    if (running()) ::kill(pid_, sig);
  }

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
};

// What tells one version of a file from another without reading it.
struct file_state {
  long long ino = -1, size = -1, mtime_ns = -1;
  bool operator==(const file_state&) const = default;
};

file_state state_of(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {static_cast<long long>(st.st_ino), static_cast<long long>(st.st_size),
          static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec};
}

long long file_size(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

std::string temporary_of(pid_t pid) { return "db.bin.tmp." + std::to_string(pid); }

// The size of the new database a process is writing in the working
// directory: its temporary file, or the file without a name that it holds
// open (which /proc shows as "<dir>/#<inode> (deleted)"); -1 when there is
// neither.
long long writing_size(pid_t pid) {
  const long long named = file_size(temporary_of(pid));
  if (named >= 0) return named;
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  char cwd[4096];
  if (!::getcwd(cwd, sizeof cwd)) return -1;
  const std::string unnamed_prefix = std::string(cwd) + "/#";
  DIR* dir = ::opendir(fds.c_str());  // gone once the process has ended
  if (!dir) return -1;
  long long size = -1;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string link = fds + "/" + entry->d_name;
    char target[4200];
    const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
    if (length <= 0) continue;
    const std::string_view t(target, static_cast<std::size_t>(length));
    if (t.starts_with(unnamed_prefix) && t.ends_with(" (deleted)")) {
      size = file_size(link);
      break;
    }
  }
  ::closedir(dir);
  return size;
}

// Where a database differs from the two it may be, for the failure message.
std::string describe(const std::string& got, const std::string& a, const std::string& b) {
  auto first_difference = [&](const std::string& x) {
    const std::size_t n = std::min(got.size(), x.size());
    std::size_t i = 0;
    while (i < n && got[i] == x[i]) ++i;
    return i;
  };
  return "db.bin has " + std::to_string(got.size()) + " bytes; first difference from the old one at " +
         std::to_string(first_difference(a)) + ", from the new one at " +
         std::to_string(first_difference(b));
}

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point t) {
  return std::chrono::duration<double, std::milli>(clock_type::now() - t).count();
}

class Reliability : public support::TempDirTest {
 protected:
  void make_big_survey(const layout& g) {
    write_file("seq.txt", big_seq(g));
    for (int i = 1; i <= big_n; ++i) write_file("scan" + std::to_string(i) + "-1", big_scan(i));
  }
};

}  // namespace

// SIGKILL at random moments of a run that replaces a 24.5 MB database: before
// the temporary file exists, part way through writing it (at a random size),
// after it is complete (while it is synced and renamed), and at any time.
// db.bin is always byte for byte the old database or the complete new one.
TEST_F(Reliability, KilledRunLeavesTheOldOrTheNewDatabase) {
  const layout old_grid{100, 50}, new_grid{200, 0};
  make_big_survey(old_grid);
  const std::string old_db = big_database(old_grid, big_n);
  {
    auto r = run_apfold({std::to_string(big_n), "1"});
    ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
    ASSERT_TRUE(read_file("db.bin") == old_db) << "the survey's first database";
  }
  write_file("seq.txt", big_seq(new_grid));
  const std::string new_db = big_database(new_grid, big_n);
  ASSERT_NE(old_db, new_db);
  const auto full_size = static_cast<long long>(new_db.size());

  // Undisturbed runs, to learn when their phases happen (used only to pick
  // kill moments): when the database starts to be written (a temporary file
  // appears, or db.bin itself changes), when all its bytes are there, and
  // when the run ends. The earliest of three runs counts.
  double write_ms = 1e9, complete_ms = 1e9, exit_ms = 1e9;
  for (int i = 0; i < 3; ++i) {
    write_file("db.bin", old_db);
    const file_state before = state_of("db.bin");
    const auto start = clock_type::now();
    apfold_process run({std::to_string(big_n), "1"});
    const std::string tmp = temporary_of(run.pid());
    double writing = -1, complete = -1;
    while (run.running()) {
      const long long tmp_size = writing_size(run.pid());
      const file_state db = state_of("db.bin");
      if (writing < 0 && (tmp_size >= 0 || db != before)) writing = ms_since(start);
      if (writing >= 0 && complete < 0 &&
          (tmp_size >= full_size || (db != before && db.size >= full_size))) {
        complete = ms_since(start);
      }
      // Polled as the kill rounds poll, so that the runs compare.
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const double ended = ms_since(start);
    ASSERT_EQ(run.wait(), 0);
    ASSERT_TRUE(read_file("db.bin") == new_db) << "an undisturbed run writes the new database";
    ASSERT_FALSE(exists(tmp));
    exit_ms = std::min(exit_ms, ended);
    write_ms = std::min(write_ms, writing < 0 ? ended : writing);
    complete_ms = std::min(complete_ms, complete < 0 ? ended : complete);
  }
  std::printf("[ phases ] writing from %.0f ms, all bytes written at %.0f ms, exit at %.0f ms\n",
              write_ms, complete_ms, exit_ms);

  std::random_device device;
  const unsigned seed = device();
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));

  // Rounds stop at max_rounds, or once the time budget is spent after at
  // least min_rounds (a sanitizer build runs ten times slower).
  constexpr int max_rounds = 45, min_rounds = 10;
  constexpr double time_budget_ms = sanitized ? 10000 : 25000;
  const auto begin = clock_type::now();
  int kills = 0, kept_old = 0, got_new = 0, during_write = 0, stale = 0;
  int mode_rounds[4] = {}, mode_kills[4] = {};
  int rounds = 0;
  for (int round = 0; round < max_rounds && (round < min_rounds || ms_since(begin) < time_budget_ms);
       ++round, ++rounds) {
    write_file("db.bin", old_db);
    const auto start = clock_type::now();
    apfold_process run({std::to_string(big_n), "1"});
    const std::string tmp = temporary_of(run.pid());
    // Kill moments, by round: any time; while the database is written; when
    // the temporary file has reached a random size; after all its bytes
    // are written (sync, close, rename).
    auto kill_after = [&](double from_ms, double to_ms) {
      std::uniform_real_distribution<double> at(from_ms, std::max(from_ms, to_ms));
      const double deadline = at(rng);
      while (ms_since(start) < deadline && run.running()) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    };
    const int mode = round % 4;
    switch (mode) {
      case 0: kill_after(0, exit_ms); break;
      case 1: kill_after(write_ms, complete_ms); break;
      case 2: {
        std::uniform_int_distribution<long long> at(0, full_size - 1);
        const long long threshold = at(rng);
        // Gives up well after the run should have ended, for a writer that
        // never makes the temporary file.
        while (run.running() && writing_size(run.pid()) < threshold && ms_since(start) < 4 * exit_ms) {
        }
        break;
      }
      default: kill_after(complete_ms, exit_ms); break;
    }
    const long long size_at_kill = writing_size(run.pid());
    run.kill();
    const int code = run.wait();
    ++mode_rounds[mode];
    if (code == -SIGKILL) {
      ++kills;
      ++mode_kills[mode];
      if (size_at_kill >= 0) ++during_write;
    } else {
      EXPECT_EQ(code, 0) << "round " << round << ": a run that was not killed";
    }

    const std::string db = read_file("db.bin");
    if (db.size() == old_db.size() && db == old_db) {
      ++kept_old;
    } else if (db.size() == new_db.size() && db == new_db) {
      ++got_new;
    } else {
      ADD_FAILURE() << "round " << round << " (kill mode " << mode << ", temporary file "
                    << size_at_kill << " bytes): " << describe(db, old_db, new_db);
    }
    if (exists(tmp)) {
      ++stale;
      ::unlink(tmp.c_str());
    }
  }
  std::printf("[ kills ] %d rounds, %d ended by SIGKILL (%d while the new database was written); "
              "db.bin afterwards: %d old, %d new, %d neither; %d stale temporary files\n",
              rounds, kills, during_write, kept_old, got_new, rounds - kept_old - got_new, stale);
  std::printf("[ kills ] killed/rounds by moment: any time %d/%d, while writing %d/%d, at a "
              "temporary file size %d/%d, after the last byte %d/%d\n",
              mode_kills[0], mode_rounds[0], mode_kills[1], mode_rounds[1], mode_kills[2],
              mode_rounds[2], mode_kills[3], mode_rounds[3]);
  EXPECT_GE(kills, 1);

  // Nothing but the survey and the database is left, and a final run works.
  auto r = run_apfold({std::to_string(big_n), "1"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Writing database\n");
  EXPECT_TRUE(read_file("db.bin") == new_db) << "the final run";
  const auto names = support::list_dir(".");
  EXPECT_EQ(names.size(), static_cast<std::size_t>(big_n) + 2);
  for (const auto& name : names) {
    EXPECT_TRUE(name == "db.bin" || name == "seq.txt" || name.starts_with("scan")) << name;
  }
}

constexpr int interrupting_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// What an interrupted round left: db.bin must be the old or the new database
// and nothing else may be there but the survey. Returns false (after
// reporting) when it is not so.
bool check_left_behind(const std::string& what, const std::string& old_db, const std::string& new_db,
                       std::size_t survey_files) {
  const std::string db = read_file("db.bin");
  bool ok = true;
  if (!(db == old_db || db == new_db)) {
    ADD_FAILURE() << what << ": " << describe(db, old_db, new_db);
    ok = false;
  }
  const auto names = support::list_dir(".");
  for (const auto& name : names) {
    if (name == "db.bin" || name == "seq.txt" || name.starts_with("scan")) continue;
    ADD_FAILURE() << what << ": left behind " << name;
    ::unlink(name.c_str());
    ok = false;
  }
  EXPECT_EQ(names.size(), survey_files + 1) << what;
  return ok;
}

// SIGINT, SIGTERM, SIGHUP and SIGQUIT at random moments in the second half
// of a run that replaces a 24.5 MB database (where it reads its last scans,
// folds, and writes), every other round while it writes the database: the run ends by that signal, db.bin is the old or the
// new database, and nothing else is left in the directory.
TEST_F(Reliability, InterruptedRunLeavesNothingBehind) {
  const layout old_grid{100, 50}, new_grid{200, 0};
  make_big_survey(old_grid);
  const std::string old_db = big_database(old_grid, big_n);
  write_file("seq.txt", big_seq(new_grid));
  const std::string new_db = big_database(new_grid, big_n);

  // When undisturbed runs start writing the database and when they end.
  double write_ms = 1e9, run_ms = 1e9;
  for (int i = 0; i < 2; ++i) {
    write_file("db.bin", old_db);
    const auto start = clock_type::now();
    apfold_process run({std::to_string(big_n), "1"});
    double writing = -1;
    while (run.running()) {
      if (writing < 0 && writing_size(run.pid()) >= 0) writing = ms_since(start);
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    ASSERT_EQ(run.wait(), 0);
    run_ms = std::min(run_ms, ms_since(start));
    write_ms = std::min(write_ms, writing < 0 ? run_ms : writing);
  }
  ASSERT_TRUE(read_file("db.bin") == new_db);

  std::random_device device;
  const unsigned seed = device();
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  constexpr int rounds = sanitized ? 3 : 6;
  for (const int sig : interrupting_signals) {
    int by_signal = 0, during_write = 0, finished = 0;
    for (int round = 0; round < rounds; ++round) {
      write_file("db.bin", old_db);
      const auto start = clock_type::now();
      apfold_process run({std::to_string(big_n), "1"});
      // Anywhere in the second half, or while the database is written.
      std::uniform_real_distribution<double> at(round % 2 == 0 ? run_ms / 2 : write_ms, run_ms);
      const double deadline = at(rng);
      while (ms_since(start) < deadline && run.running()) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      if (writing_size(run.pid()) >= 0) ++during_write;
      run.kill(sig);
      const int code = run.wait();
      if (code == -sig) {
        ++by_signal;
      } else if (code == 0) {
        ++finished;  // the signal came after the end
      } else {
        ADD_FAILURE() << strsignal(sig) << " round " << round << ": status " << code;
      }
      check_left_behind(std::string(strsignal(sig)) + " round " + std::to_string(round), old_db, new_db,
                        big_n + 1);
    }
    std::printf("[ %s ] %d rounds: %d ended by the signal (%d while writing the database), %d had "
                "finished\n",
                strsignal(sig), rounds, by_signal, during_write, finished);
  }
}

// Where the new database is written under its temporary name from the start
// (systems without O_TMPFILE), each of the four signals arriving while the
// file grows removes it: a child writes a 24.5 MB database and is signalled
// when its temporary file has reached a random size.
TEST_F(Reliability, InterruptedNamedWriteRemovesItsTemporaryFile) {
  const layout grid{200, 0};
  const std::string new_db = big_database(grid, big_n);
  const std::string old_db = "the previous database";
  std::vector<refpoint> records(big_n);
  std::memcpy(records.data(), new_db.data() + 20, new_db.size() - 20);
  db_header header{};
  std::memcpy(&header, new_db.data(), 20);

  std::random_device device;
  const unsigned seed = device();
  std::mt19937 rng(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::uniform_int_distribution<long long> size_at(0, static_cast<long long>(new_db.size()) - 1);
  constexpr int rounds = sanitized ? 2 : 4;
  for (const int sig : interrupting_signals) {
    int by_signal = 0;
    for (int round = 0; round < rounds; ++round) {
      write_file("db.bin", old_db);
      std::fflush(nullptr);
      const pid_t pid = ::fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        const rlimit no_core{0, 0};
        ::setrlimit(RLIMIT_CORE, &no_core);
        ::_exit(write_database(&header, records.data(), "db.bin", temporary_file::named));
      }
      const std::string tmp = temporary_of(pid);
      const long long threshold = size_at(rng);
      const auto start = clock_type::now();
      int status = 0;
      pid_t done = 0;
      while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && file_size(tmp) < threshold &&
             ms_since(start) < 20000) {
      }
      if (done == 0) {
        ::kill(pid, sig);
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
      }
      const std::string what = std::string(strsignal(sig)) + " at " + std::to_string(threshold) + " bytes";
      if (WIFSIGNALED(status)) {
        EXPECT_EQ(WTERMSIG(status), sig) << what;
        ++by_signal;
      } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << what << ": status " << status;
      }
      EXPECT_FALSE(exists(tmp)) << what;
      const std::string db = read_file("db.bin");
      EXPECT_TRUE(db == old_db || db == new_db) << what;
      EXPECT_EQ(support::list_dir("."), std::vector<std::string>{"db.bin"}) << what;
    }
    EXPECT_GE(by_signal, 1) << strsignal(sig);
  }
}

// Two runs replacing db.bin in the same directory at the same time, with
// different point counts: every state of db.bin seen while they run, and the
// one they leave, is one complete database.
TEST_F(Reliability, RacingRunsLeaveOneCompleteDatabase) {
  const layout grid{200, 0};
  make_big_survey(grid);
  const std::string all_db = big_database(grid, big_n);
  const std::string half_db = big_database(grid, big_n / 2);
  const std::string first_db = "an older database";
  write_file("db.bin", first_db);

  std::mt19937 rng(std::random_device{}());
  std::uniform_int_distribution<int> stagger_us(0, 300000);
  std::string previous = first_db;
  int observed = 0;
  for (int round = 0; round < (sanitized ? 2 : 4); ++round) {
    const bool all_first = round % 2 == 0;
    const std::string first_n = std::to_string(all_first ? big_n : big_n / 2);
    const std::string second_n = std::to_string(all_first ? big_n / 2 : big_n);
    apfold_process a({first_n, "1"});
    std::this_thread::sleep_for(std::chrono::microseconds(stagger_us(rng)));
    apfold_process b({second_n, "1"});
    for (;;) {
      const bool a_runs = a.running(), b_runs = b.running();  // both polled, both reaped
      if (!a_runs && !b_runs) break;
      const std::string db = read_file("db.bin");
      ++observed;
      EXPECT_TRUE(db == previous || db == all_db || db == half_db)
          << "round " << round << " while running: " << describe(db, previous, all_db);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(a.wait(), 0) << "round " << round;
    EXPECT_EQ(b.wait(), 0) << "round " << round;
    const std::string db = read_file("db.bin");
    EXPECT_TRUE(db == all_db || db == half_db) << "round " << round << ": " << describe(db, all_db, half_db);
    EXPECT_FALSE(exists(temporary_of(a.pid())));
    EXPECT_FALSE(exists(temporary_of(b.pid())));
    previous = db;
  }
  std::printf("[ race ] %d states of db.bin read while two runs replaced it\n", observed);
}

// ---------------------------------------------------------------------------
// Hostile surveys: each ends with its documented result, within memory that
// the survey's own files account for.

TEST_F(Reliability, HugeScanWithoutCells) {
  write_file("seq.txt", "1\t(3,4)\n");
  // Every label, but never the word that starts a cell.
  const std::string line =
      "  Address: 00:11:22:33:44:55 ESSID:\"x\" Signal level=-50 Noise level=-90 cell CELL\n";
  constexpr long long hundred_mb = 100LL * 1024 * 1024;
  const long long size = write_big(
      "scan1-1", {{"wlan0     Scan completed :\n"}, {line, hundred_mb / static_cast<long long>(line.size()) + 1}});
  ASSERT_GE(size, hundred_mb);
  auto r = run_measured({"1", "1"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Writing database\n");
  EXPECT_TRUE(read_file("db.bin") == encode_header(1, 1, 1, -3, -4) + encode_record(3, 4, {}));
  expect_rss_below(r, kb(size) + baseline_kb, "100 MB scan without cells");
}

// A million cells: only the first 16 are kept, and labels that only the very
// end of the report carries are found for each of them.
TEST_F(Reliability, ScanOfAMillionCells) {
  write_file("seq.txt", "1\t(0,0)\n");
  std::string head;
  std::vector<support::expected_ap> want;
  for (int k = 0; k < 16; ++k) {
    char cell[64];
    std::snprintf(cell, sizeof cell, "Cell %02d - Address: A%06d\n", k + 1, k);
    head += cell;
    want.push_back({cell + 19, "", -42.0f, -97.0f, 1});
    want.back().address.pop_back();  // the line feed
  }
  const long long size = write_big("scan1-1", {{head},
                                               {"Cell 99 - Address: B000000\n", 1000000 - 16},
                                               {"Signal level=-42 dBm  Noise level=-97 dBm\n"}});
  auto r = run_measured({"1", "1"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_TRUE(read_file("db.bin") == encode_header(1, 1, 1, 0, 0) + encode_record(0, 0, want));
  expect_rss_below(r, kb(size) + baseline_kb, "scan of 10^6 cells");
}

// Ten-megabyte words where the report has an address, a name and two levels:
// the fields keep what fits, the 10^7-digit levels convert to infinity and
// to a negative zero.
TEST_F(Reliability, TenMegabyteWords) {
  write_file("seq.txt", "1\t(0,0)\n");
  constexpr long long ten_mb = 10 * 1024 * 1024;
  const long long size = write_big("scan1-1", {{"Cell 01 - Address: "}, {"A", ten_mb},
                                               {"\nESSID:\""}, {"n", ten_mb},
                                               {"\"\nSignal level="}, {"7", ten_mb},
                                               {" dBm\nNoise level=-0."}, {"0", ten_mb},
                                               {"1 dBm\n"}});
  auto r = run_measured({"1", "1"});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  const std::string db = read_file("db.bin");
  support::expected_ap ap{std::string(31, 'A'), std::string(32, 'n'), INFINITY, -0.0f, 1};
  EXPECT_TRUE(db == encode_header(1, 1, 1, 0, 0) + encode_record(0, 0, {ap}));
  ASSERT_EQ(db.size(), 1248u);
  EXPECT_TRUE(std::signbit(support::get_lef32(db, 20 + 68)));
  expect_rss_below(r, kb(size) + baseline_kb, "10 MB words");
}

// A million entries, all of them taken: the run gets as far as the first
// scan file. The sets for 10^6 points are reserved but never touched.
// (With AddressSanitizer's strict string checks every strchr measures the
// rest of the text, which makes a million entries quadratic: sanitizer
// builds take fewer.)
TEST_F(Reliability, SeqOfAMillionEntriesWithoutScans) {
  const int entries = memory_bounds_hold ? 1000000 : 20000;
  long long size = 0;
  {
    std::string seq;
    seq.reserve(24 * static_cast<std::size_t>(entries));
    for (int i = 1; i <= entries; ++i) {
      seq += std::to_string(i) + "\t(" + std::to_string(i % 1000) + "," + std::to_string(i / 1000) + ")\n";
    }
    write_file("seq.txt", seq);
    size = static_cast<long long>(seq.size());
  }
  write_file("db.bin", "old database");
  auto r = run_measured({std::to_string(entries), "1"});
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_EQ(r.out, "Failed to open scan1-1\n");
  EXPECT_EQ(read_file("db.bin"), "old database");
  // The text, two coordinate arrays of 4 MB.
  expect_rss_below(r, kb(size) + 8 * kb_per_mb + baseline_kb,
                   "seq.txt of 10^6 entries");
}

// Counts that no survey backs, with and without a limit on the address
// space. Where storage is needed and cannot be had, the run ends with the
// allocation report and status 1; where none is needed it succeeds. Without a
// limit, whether an 8 GB coordinate array or a set block that no scan fills
// can be reserved depends on the machine; either way memory stays small.
TEST_F(Reliability, AbsurdCounts) {
  write_file("seq.txt", "1\t(0,0)\n2\t(0,1)\n");
  write_file("scan1-1", "Cell 01 - Address: A Signal level=-50\n");
  write_file("scan2-1", "Cell 01 - Address: B Signal level=-60\n");
  const std::string empty_db = encode_header(0, 2, 2, -2147483647, -2147483647);
  constexpr long long limit = 512LL * 1024 * 1024;

  enum outcome { written, no_seq_entry, malloc_failed, calloc_failed, scan_missing };
  const struct {
    const char* n;
    const char* s;
    long long address_space;     // -1: unlimited
    std::vector<outcome> allowed;  // the first is the one expected on a usual machine
  } rows[] = {
      {"0", "2147483647", -1, {written}},
      {"2147483647", "1", -1, {no_seq_entry, malloc_failed}},
      {"1", "2147483647", -1, {calloc_failed, scan_missing}},
      {"0", "2147483647", limit, {written}},
      {"2147483647", "1", limit, {malloc_failed}},
      {"1", "2147483647", limit, {calloc_failed}},
      {"2147483647", "2147483647", limit, {malloc_failed}},
      // 2 x 300000 records are 737 MB: more than the limit allows.
      {"2", "300000", limit, {calloc_failed}},
      // 2 x 100000 records are 246 MB: reserved, never touched.
      {"2", "100000", limit, {scan_missing}},
  };
  for (const auto& row : rows) {
    const std::string what = std::string("apfold ") + row.n + " " + row.s +
                             (row.address_space < 0 ? "" : " under a 512 MB address space");
    if (row.address_space >= 0 && !memory_bounds_hold) continue;  // sanitizers need the space
    ::unlink("db.bin");
    auto r = run_measured({row.n, row.s}, {.address_space = row.address_space});
    EXPECT_EQ(r.term_signal, 0) << what;
    outcome got = scan_missing;
    if (r.exit_code == 0 && r.out == "Writing database\n" && read_file("db.bin") == empty_db) {
      got = written;
    } else if (r.exit_code == 1 && r.out == "seq_parse() failed on sequence 3\nseq_parse() failed\n") {
      got = no_seq_entry;
    } else if (r.exit_code == 1 && r.out.empty() &&
               r.err.ends_with("malloc failed: Cannot allocate memory\n")) {
      got = malloc_failed;
    } else if (r.exit_code == 1 && r.out.empty() &&
               r.err.ends_with("calloc() failed: Cannot allocate memory\n")) {
      got = calloc_failed;
    } else if (r.exit_code == 2 && r.out == "Failed to open scan1-2\n") {
      got = scan_missing;
    } else {
      ADD_FAILURE() << what << ": status " << r.exit_code << "\nout: " << r.out << "\nerr: " << r.err;
      continue;
    }
    EXPECT_NE(std::find(row.allowed.begin(), row.allowed.end(), got), row.allowed.end())
        << what << ": status " << r.exit_code << "\nout: " << r.out << "\nerr: " << r.err;
    if (got != written) {
      EXPECT_FALSE(exists("db.bin")) << what;
    }
    // A plain build under the limit prints nothing but the report.
    if (row.address_space >= 0 && (got == malloc_failed || got == calloc_failed)) {
      EXPECT_EQ(r.err, got == malloc_failed ? "malloc failed: Cannot allocate memory\n"
                                            : "calloc() failed: Cannot allocate memory\n")
          << what;
    }
    expect_rss_below(r, baseline_kb, what);
  }
}

// A 4 GB scan file, sparse on disk, cannot be loaded into a 512 MB address
// space: the run reports the scan file and leaves the old database alone.
TEST_F(Reliability, ScanLargerThanTheAddressSpace) {
  if (!memory_bounds_hold) GTEST_SKIP() << "sanitizers cannot run under an address-space limit";
  write_file("seq.txt", "1\t(0,0)\n");
  write_file("db.bin", "old database");
  const int fd = ::open("scan1-1", O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, 4LL * 1024 * 1024 * 1024), 0) << std::strerror(errno);
  ::close(fd);
  auto r = run_measured({"1", "1"}, {.address_space = 512LL * 1024 * 1024});
  EXPECT_EQ(r.exit_code, 2) << r.err;
  EXPECT_EQ(r.out, "Failed to open scan1-1\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(read_file("db.bin"), "old database");
  expect_rss_below(r, baseline_kb, "4 GB sparse scan, 512 MB address space");
}

// Survey names that lead to an endless device, a FIFO without a writer or a
// symbolic link loop: refused at once, never read or waited on.
TEST_F(Reliability, SpecialFilesAreRefusedWithoutBlocking) {
  enum kind { device, fifo, loop };
  const struct {
    const char* name;
    kind k;
    int status;
    const char* out;
    const char* err_prefix;
  } rows[] = {
      {"scan1-1", device, 2, "Failed to open scan1-1\n", ""},
      {"scan1-1", fifo, 2, "Failed to open scan1-1\n", ""},
      {"scan1-1", loop, 2, "Failed to open scan1-1\n", ""},
      {"seq.txt", device, 1, "seq_parse() failed\n", "Failed to open seq.txt: "},
      {"seq.txt", fifo, 1, "seq_parse() failed\n", "Failed to open seq.txt: "},
      {"seq.txt", loop, 1, "seq_parse() failed\n", "Failed to open seq.txt: "},
  };
  for (const auto& row : rows) {
    const std::string what = std::string(row.name) + " as " +
                             (row.k == device ? "/dev/zero" : row.k == fifo ? "a FIFO" : "a link loop");
    write_file("seq.txt", "1\t(0,0)\n");
    write_file("scan1-1", "Cell 01 - Address: A\n");
    write_file("db.bin", "old database");
    ASSERT_EQ(::unlink(row.name), 0);
    switch (row.k) {
      case device: ASSERT_EQ(::symlink("/dev/zero", row.name), 0); break;
      case fifo: ASSERT_EQ(::mkfifo(row.name, 0644), 0); break;
      case loop: ASSERT_EQ(::symlink(row.name, row.name), 0); break;
    }
    auto r = run_measured({"1", "1"});
    EXPECT_EQ(r.exit_code, row.status) << what;
    EXPECT_EQ(r.out, row.out) << what;
    EXPECT_TRUE(r.err.starts_with(row.err_prefix) && r.err.ends_with("\n") == (row.err_prefix[0] != 0))
        << what << ": " << r.err;
    EXPECT_EQ(read_file("db.bin"), "old database") << what;
    expect_rss_below(r, baseline_kb, what);
    ::unlink(row.name);
  }
}
