#include "support.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sched.h>
#endif
#endif

namespace support {

void write_file(const std::string& path, std::string_view content) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  ASSERT_TRUE(f.good()) << "cannot create " << path;
  f.write(content.data(), static_cast<std::streamsize>(content.size()));
  ASSERT_TRUE(f.good()) << "cannot write " << path;
}

std::string read_file(const std::string& path, bool* ok) {
  std::ifstream f(path, std::ios::binary);
  if (ok) *ok = f.good();
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::string> list_dir(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

uint32_t get_le32(std::string_view b, std::size_t o) {
  return static_cast<uint32_t>(static_cast<unsigned char>(b.at(o))) |
         static_cast<uint32_t>(static_cast<unsigned char>(b.at(o + 1))) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(b.at(o + 2))) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(b.at(o + 3))) << 24;
}

int32_t get_le32s(std::string_view b, std::size_t o) { return static_cast<int32_t>(get_le32(b, o)); }

float get_lef32(std::string_view b, std::size_t o) {
  const uint32_t v = get_le32(b, o);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}

double get_lef64(std::string_view b, std::size_t o) {
  const uint64_t v = static_cast<uint64_t>(get_le32(b, o)) |
                     static_cast<uint64_t>(get_le32(b, o + 4)) << 32;
  double d;
  std::memcpy(&d, &v, 8);
  return d;
}

void put_le32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

void put_lef32(std::string& b, float v) {
  uint32_t u;
  std::memcpy(&u, &v, 4);
  put_le32(b, u);
}

std::string scan_report(const std::vector<scan_cell>& cells) {
  std::string text = "wlan0     Scan completed :\n";
  int n = 1;
  for (const auto& c : cells) {
    char num[16];
    std::snprintf(num, sizeof num, "%02d", n++);
    text += "          Cell " + std::string(num) + " - Address: " + c.address + "\n";
    text += "                    Channel:6\n";
    text += "                    Frequency:2.437 GHz (Channel 6)\n";
    text += "                    Quality=40/70  Signal level=" + c.signal + " dBm";
    if (!c.noise.empty()) text += "  Noise level=" + c.noise + " dBm";
    text += "\n                    Encryption key:on\n";
    text += "                    ESSID:\"" + c.essid + "\"\n";
    text += "                    Mode:Master\n";
  }
  return text;
}

std::string encode_record(int32_t x, int32_t y, const std::vector<expected_ap>& aps) {
  std::string rec(1228, '\0');
  for (std::size_t k = 0; k < aps.size() && k < 16; ++k) {
    const std::size_t base = 76 * k;
    const expected_ap& ap = aps[k];
    rec.replace(base, std::min<std::size_t>(ap.address.size(), 31), ap.address, 0, 31);
    rec.replace(base + 32, std::min<std::size_t>(ap.essid.size(), 32), ap.essid, 0, 32);
    std::string tail;
    put_lef32(tail, ap.signal);
    put_lef32(tail, ap.noise);
    put_le32(tail, static_cast<uint32_t>(ap.seen));
    rec.replace(base + 64, 12, tail);
  }
  std::string tail;
  put_le32(tail, static_cast<uint32_t>(std::min<std::size_t>(aps.size(), 16)));
  put_le32(tail, static_cast<uint32_t>(x));
  put_le32(tail, static_cast<uint32_t>(y));
  rec.replace(1216, 12, tail);
  return rec;
}

std::string encode_header(int32_t n, int32_t width, int32_t height, int32_t offset_x,
                          int32_t offset_y) {
  std::string h;
  for (int32_t v : {n, width, height, offset_x, offset_y}) put_le32(h, static_cast<uint32_t>(v));
  return h;
}

run_result run_apfold(const std::vector<std::string>& args, const std::string& cwd,
                      const run_limits& limits) {
  std::vector<std::string> argv{apfold_binary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run(argv, cwd, limits);
}

#ifndef _WIN32
// The POSIX side; support_win32.cpp has the Windows one.

const char* apfold_binary() { return APFOLD_BINARY; }

std::string fixture_path(const char* path) { return path; }

void TempDirTest::SetUp() {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  old_cwd_ = cwd;
  std::string tmpl = (std::filesystem::temp_directory_path() / "apfold-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr) << std::strerror(errno);
  dir_ = tmpl;
  ASSERT_EQ(chdir(dir_.c_str()), 0);
}

void TempDirTest::TearDown() {
  if (!old_cwd_.empty()) (void)!chdir(old_cwd_.c_str());
  if (!dir_.empty()) {
    std::error_code ec;
    // Restore write permission that a test may have taken away before removing.
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(dir_, ec);
  }
}

bool exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

namespace {

std::string capture_fd(int target, FILE* stream, const std::function<void()>& fn) {
  std::fflush(stream);
  char path[] = "/tmp/apfold-capture-XXXXXX";
  int tmp = mkstemp(path);
  if (tmp < 0) return "<capture failed>";
  unlink(path);
  int saved = dup(target);
  dup2(tmp, target);
  fn();
  std::fflush(stream);
  dup2(saved, target);
  close(saved);
  std::string text;
  lseek(tmp, 0, SEEK_SET);
  char buf[4096];
  ssize_t got;
  while ((got = read(tmp, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(got));
  close(tmp);
  return text;
}

void apply_limits(const run_limits& limits) {
  if (limits.file_size >= 0) {
    signal(SIGXFSZ, SIG_IGN);
    rlimit rl{static_cast<rlim_t>(limits.file_size), static_cast<rlim_t>(limits.file_size)};
    setrlimit(RLIMIT_FSIZE, &rl);
  }
  if (limits.address_space >= 0) {
    rlimit rl{static_cast<rlim_t>(limits.address_space), static_cast<rlim_t>(limits.address_space)};
    setrlimit(RLIMIT_AS, &rl);
  }
#ifdef __linux__
  if (limits.one_cpu) {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    sched_getaffinity(0, sizeof allowed, &allowed);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (std::size_t cpu = 0; cpu < static_cast<std::size_t>(CPU_SETSIZE); ++cpu) {
      if (CPU_ISSET(cpu, &allowed)) {
        CPU_SET(cpu, &one);
        break;
      }
    }
    sched_setaffinity(0, sizeof one, &one);
  }
#endif
}

// With `input`, the child reads it from a pipe; without, from /dev/null.
run_result spawn(const std::function<void()>& child, const run_limits& limits,
                 const std::string* input = nullptr) {
  run_result result;
  // Pipes rather than files: a file-size limit on the child must not cut
  // its own messages short.
  int out[2], err[2], in[2] = {-1, -1};
  if (pipe(out) != 0 || pipe(err) != 0) return result;
  if (input && pipe(in) != 0) return result;
  // A child that exits before reading all of its input must not end the
  // test with SIGPIPE: the write fails with EPIPE instead.
  if (input) signal(SIGPIPE, SIG_IGN);
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (input) {
      dup2(in[0], 0);
      close(in[0]);
      close(in[1]);
    } else {
      int devnull = open("/dev/null", O_RDONLY);
      dup2(devnull, 0);
    }
    dup2(out[1], 1);
    dup2(err[1], 2);
    close(out[0]);
    close(err[0]);
    close(out[1]);
    close(err[1]);
    apply_limits(limits);
    child();
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  std::size_t fed = 0;
  if (input) {
    close(in[0]);
    fcntl(in[1], F_SETFL, fcntl(in[1], F_GETFL) | O_NONBLOCK);
    if (input->empty()) {
      close(in[1]);
      in[1] = -1;
    }
  }
  pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {in[1], POLLOUT, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_fds = 2;
  char buf[65536];
  while (open_fds > 0) {
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[2].fd >= 0 && fds[2].revents != 0) {
      const ssize_t put = write(fds[2].fd, input->data() + fed, input->size() - fed);
      if (put > 0) fed += static_cast<std::size_t>(put);
      if (fed == input->size() || (put < 0 && errno != EAGAIN && errno != EINTR)) {
        close(fds[2].fd);
        fds[2].fd = -1;
      }
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      ssize_t got = read(fds[i].fd, buf, sizeof buf);
      if (got > 0) {
        sinks[i]->append(buf, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  if (fds[2].fd >= 0) close(fds[2].fd);
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.term_signal = WTERMSIG(status);
  result.max_rss_kb = usage.ru_maxrss;
  return result;
}

}  // namespace

std::string capture_stdout(const std::function<void()>& fn) { return capture_fd(1, stdout, fn); }
std::string capture_stderr(const std::function<void()>& fn) { return capture_fd(2, stderr, fn); }

namespace {

void exec_in(const std::vector<std::string>& argv, const std::string& cwd) {
  if (chdir(cwd.c_str()) != 0) _exit(126);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

}  // namespace

run_result run(const std::vector<std::string>& argv, const std::string& cwd,
               const run_limits& limits) {
  return spawn([&] { exec_in(argv, cwd); }, limits);
}

run_result run_with_input(const std::vector<std::string>& argv, const std::string& input,
                          const std::string& cwd, const run_limits& limits) {
  return spawn([&] { exec_in(argv, cwd); }, limits, &input);
}

run_result run_in_child(const std::function<int()>& fn, const run_limits& limits) {
  return spawn(
      [&] {
        int rc = fn();
        std::fflush(nullptr);
        _exit(rc);
      },
      limits);
}

#endif  // !_WIN32

}  // namespace support
