// Test helpers: a fresh working directory per test, file helpers, an
// independent little-endian decoder, stdout capture, and running the real
// apfold binary as a child process.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace support {

// Path of the apfold binary under test.
const char* apfold_binary();

// A fixture the build names (APFOLD_EXAMPLE_SURVEY, APFOLD_GOLDEN_DIR): the
// path as given, or on Windows, where the build puts the programs and a copy
// of the fixtures beside the test program, that path under its directory.
std::string fixture_path(const char* path);

// Each test runs in a new empty directory (the process's working directory),
// removed afterwards. All file names in tests are relative to it.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string dir_;  // absolute path of the test directory

 private:
  std::string old_cwd_;
};

void write_file(const std::string& path, std::string_view content);
// Contents of a file; *ok (if given) tells whether it could be read.
std::string read_file(const std::string& path, bool* ok = nullptr);
bool exists(const std::string& path);
// Names in a directory other than . and .., sorted.
std::vector<std::string> list_dir(const std::string& dir);

// Decoding straight from bytes, independent of the production structs.
uint32_t get_le32(std::string_view bytes, std::size_t offset);
int32_t get_le32s(std::string_view bytes, std::size_t offset);
float get_lef32(std::string_view bytes, std::size_t offset);
double get_lef64(std::string_view bytes, std::size_t offset);
void put_le32(std::string& bytes, uint32_t v);
void put_lef32(std::string& bytes, float v);

// Expected database bytes, built from field values and the documented
// offsets alone (never from the production structs).
struct expected_ap {
  std::string address;
  std::string essid;
  float signal = 0;
  float noise = 0;
  int32_t seen = 1;
};
// One cell of a scan report written by the tests: levels as the report
// prints them; an empty noise level is a driver that prints none.
struct scan_cell {
  std::string address;
  std::string essid;
  std::string signal;
  std::string noise;
};
// A report in the wireless tools' layout, one cell per entry, numbered from 01.
std::string scan_report(const std::vector<scan_cell>& cells);

// One 1228-byte record: 16 slots of 76 bytes (address at 0, essid at 32,
// signal at 64, noise at 68, seen at 72), then ap_count, x, y at 1216..1227.
std::string encode_record(int32_t x, int32_t y, const std::vector<expected_ap>& aps);
// The 20-byte header: num_refpoints, width, height, offset_x, offset_y.
std::string encode_header(int32_t n, int32_t width, int32_t height, int32_t offset_x,
                          int32_t offset_y);

// Runs fn with standard output sent to a file and returns what it printed.
std::string capture_stdout(const std::function<void()>& fn);
// Same for standard error.
std::string capture_stderr(const std::function<void()>& fn);

// Limits are POSIX resource limits; on Windows only the defaults are taken.
struct run_limits {
  long long file_size = -1;     // RLIMIT_FSIZE in bytes, SIGXFSZ ignored; -1: none
  long long address_space = -1; // RLIMIT_AS in bytes; -1: none
  bool one_cpu = false;         // pinned to a single CPU (Linux affinity mask)
};

struct run_result {
  int exit_code = -1;   // exit status, or -1 when killed by a signal
  int term_signal = 0;  // the signal that ended it, 0 if it exited
  std::string out;      // standard output
  std::string err;      // standard error
  long max_rss_kb = 0;  // peak resident set size of the child
};

// Runs argv (argv[0] is the program path) in directory cwd, with no standard
// input, and waits for it.
run_result run(const std::vector<std::string>& argv, const std::string& cwd = ".",
               const run_limits& limits = {});
// Runs argv as run() does, with `input` on its standard input: a pipe that
// is closed after the last byte. POSIX only.
run_result run_with_input(const std::vector<std::string>& argv, const std::string& input,
                          const std::string& cwd = ".", const run_limits& limits = {});
// Runs apfold with the given arguments in cwd.
run_result run_apfold(const std::vector<std::string>& args, const std::string& cwd = ".",
                      const run_limits& limits = {});

// Runs fn in a forked child under the limits, with standard output and
// error captured; the child exits with fn's return value. POSIX only.
run_result run_in_child(const std::function<int()>& fn, const run_limits& limits = {});

}  // namespace support
