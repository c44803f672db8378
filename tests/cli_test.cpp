// The real apfold binary, run as a process in a fresh survey directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support.h"

using support::encode_header;
using support::encode_record;
using support::expected_ap;
using support::run_apfold;
using support::write_file;
using cell = support::scan_cell;
constexpr auto report = support::scan_report;

namespace {

constexpr const char* usage = "Usage: apfold <num_refpoints> <num_scans>\n";

std::string seq(const std::vector<std::pair<int, int>>& coords) {
  std::string text;
  for (std::size_t i = 0; i < coords.size(); ++i) {
    text += std::to_string(i + 1) + "\t(" + std::to_string(coords[i].first) + "," +
            std::to_string(coords[i].second) + ")\n";
  }
  return text;
}

std::string scan_name(int point, int scan) {
  return "scan" + std::to_string(point) + "-" + std::to_string(scan);
}

class Cli : public support::TempDirTest {
 protected:
  // n points on a line, s scans each, every scan seeing one access point.
  void simple_survey(int n, int s) {
    std::vector<std::pair<int, int>> coords;
    for (int i = 1; i <= n; ++i) coords.push_back({i, 0});
    write_file("seq.txt", seq(coords));
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= s; ++j) write_file(scan_name(i, j), report({{"AA", "net", "-50", "-90"}}));
    }
  }
  std::string db() { return support::read_file("db.bin"); }
};

}  // namespace

TEST_F(Cli, WrongArgumentCountPrintsUsageAndTouchesNothing) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"1"}, {"1", "2", "3"}}) {
    auto r = run_apfold(args);
    EXPECT_EQ(r.exit_code, 0) << args.size();
    EXPECT_EQ(r.out, usage) << args.size();
    EXPECT_EQ(r.err, "") << args.size();
    EXPECT_TRUE(support::list_dir(".").empty()) << args.size();
  }
}

// The counts are read as the standard text-to-integer conversion does; the
// header's num_refpoints and the scan file that is missing show the value.
TEST_F(Cli, CountsAreConvertedLikeTheStandardConversion) {
  const struct {
    const char* n;
    const char* s;
    int status;
    int32_t refpoints;        // header field on success
    const char* out_contains;
  } rows[] = {
      {"2", "1", 0, 2, "Writing database\n"},
      {" 2", "+1", 0, 2, "Writing database\n"},
      {"\t+3", " 1x", 0, 3, "Writing database\n"},
      {"2abc", "1", 0, 2, "Writing database\n"},
      {"-0", "1", 0, 0, "Writing database\n"},
      {"abc", "2", 0, 0, "Writing database\n"},
      {"", "", 0, 0, "Writing database\n"},
      {"3", "2", 2, 0, "Failed to open scan1-2\n"},
      {"99999999999", "1", 1, 0, "seq_parse() failed on sequence 4\nseq_parse() failed\n"},
  };
  simple_survey(3, 1);
  for (const auto& row : rows) {
    unlink("db.bin");
    auto r = run_apfold({row.n, row.s});
    EXPECT_EQ(r.exit_code, row.status) << row.n << "|" << row.s;
    EXPECT_NE(r.out.find(row.out_contains), std::string::npos) << row.n << "|" << row.s << "\n"
                                                               << r.out;
    if (row.status == 0) {
      const std::string bytes = db();
      ASSERT_GE(bytes.size(), 20u);
      EXPECT_EQ(support::get_le32s(bytes, 0), row.refpoints) << row.n;
      EXPECT_EQ(bytes.size(), 20u + 1228u * static_cast<unsigned>(row.refpoints)) << row.n;
    } else {
      EXPECT_FALSE(support::exists("db.bin")) << row.n << "|" << row.s;
    }
  }
}

TEST_F(Cli, NegativeCountsCannotBeAllocated) {
  simple_survey(1, 1);
  for (const std::vector<std::string>& args : {std::vector<std::string>{"-1", "1"},
                                               {"1", "-1"},
                                               {"-99999999999", "1"},
                                               {"0", "-2147483648"}}) {
    auto r = run_apfold(args);
    EXPECT_EQ(r.exit_code, 1) << args[0] << " " << args[1];
    EXPECT_EQ(r.err, "malloc failed: Cannot allocate memory\n") << args[0] << " " << args[1];
    EXPECT_EQ(r.out, "") << args[0] << " " << args[1];
    EXPECT_FALSE(support::exists("db.bin"));
  }
}

TEST_F(Cli, ZeroScansWithPointsIsRejectedBeforeAnyFileIsRead) {
  // No seq.txt at all: the rejection comes before it would be missed.
  auto r = run_apfold({"2", "0"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "num_scans must be at least 1\n");
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(support::list_dir(".").empty());
}

TEST_F(Cli, NoPointsStillNeedsSeqTxtAndWritesTheBareHeader) {
  const std::string empty_header = encode_header(0, 2, 2, -2147483647, -2147483647);
  for (const char* scans : {"0", "2"}) {
    unlink("seq.txt");
    unlink("db.bin");
    auto missing = run_apfold({"0", scans});
    EXPECT_EQ(missing.exit_code, 1) << scans;
    EXPECT_EQ(missing.err, "Failed to open seq.txt: No such file or directory\n") << scans;
    EXPECT_EQ(missing.out, "seq_parse() failed\n") << scans;
    write_file("seq.txt", "");
    auto r = run_apfold({"0", scans});
    EXPECT_EQ(r.exit_code, 0) << scans;
    EXPECT_EQ(r.out, "Writing database\n") << scans;
    EXPECT_EQ(db(), empty_header) << scans;
  }
}

TEST_F(Cli, SeqTxtProblemsEndTheRunWithStatusOne) {
  ASSERT_EQ(mkdir("seq.txt", 0755), 0);
  auto dir = run_apfold({"1", "1"});
  EXPECT_EQ(dir.exit_code, 1);
  EXPECT_EQ(dir.err, "Failed to open seq.txt: Is a directory\n");
  EXPECT_EQ(dir.out, "seq_parse() failed\n");
  rmdir("seq.txt");

  write_file("seq.txt", "1\t(0,0)\n3\t(0,1)\n");
  auto mismatch = run_apfold({"2", "1"});
  EXPECT_EQ(mismatch.exit_code, 1);
  EXPECT_EQ(mismatch.out, "seq_parse() failed sequence mismatch 1 != 2\nseq_parse() failed\n");
  EXPECT_FALSE(support::exists("db.bin"));
}

// Scans are read point by point, all scans of a point before the next point:
// whichever missing file comes first in that order is the one reported.
TEST_F(Cli, ScanFilesAreReadInPointMajorOrder) {
  const struct {
    std::vector<std::string> missing;
    const char* reported;
  } rows[] = {
      {{"scan2-1"}, "scan2-1"},
      {{"scan1-3", "scan2-1"}, "scan1-3"},
      {{"scan2-1", "scan1-3"}, "scan1-3"},
      {{"scan2-3", "scan3-1"}, "scan2-3"},
      {{"scan1-1"}, "scan1-1"},
  };
  for (const auto& row : rows) {
    simple_survey(3, 3);
    write_file("db.bin", "old database");
    for (const auto& m : row.missing) unlink(m.c_str());
    auto r = run_apfold({"3", "3"});
    EXPECT_EQ(r.exit_code, 2) << row.reported;
    EXPECT_EQ(r.out, std::string("Failed to open ") + row.reported + "\n");
    EXPECT_EQ(db(), "old database") << row.reported;
  }
  // A directory under a scan file's name cannot be loaded either.
  simple_survey(1, 1);
  unlink("scan1-1");
  ASSERT_EQ(mkdir("scan1-1", 0755), 0);
  auto r = run_apfold({"1", "1"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(r.out, "Failed to open scan1-1\n");
}

// What the kernel saw opened in the working directory while fn ran: file
// names in order, directories marked with a trailing "/".
std::vector<std::string> opened_during(const std::function<void()>& fn) {
  const int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  EXPECT_GE(fd, 0);
  EXPECT_GE(inotify_add_watch(fd, ".", IN_OPEN), 0);
  fn();
  std::vector<std::string> names;
  alignas(inotify_event) char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) break;
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0) names.push_back(std::string(event->name) + ((event->mask & IN_ISDIR) ? "/" : ""));
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  close(fd);
  return names;
}

// Files are opened ahead of the one being loaded, but in order, and none
// after the first that cannot be opened or is no regular file: on two CPUs
// and on one, with the survey's files missing or replaced by a directory far
// past the files opened ahead, and near the start.
TEST_F(Cli, ScanFilesAreOpenedInOrderAndNoneAfterTheFirstThatCannotBe) {
  constexpr int n = 40, s = 5;
  const struct {
    const char* what;
    int point, scan;  // the file that cannot be loaded
    bool directory;
  } rows[] = {{"missing far in", 30, 2, false}, {"a directory far in", 25, 4, true},
              {"missing second", 1, 2, false}, {"none", 0, 0, false}};
  for (const auto& row : rows) {
    for (const bool one_cpu : {false, true}) {
      simple_survey(n, s);
      std::vector<std::string> expected;
      std::string bad;
      for (int i = 1; i <= n && bad.empty(); ++i) {
        for (int j = 1; j <= s; ++j) {
          if (i == row.point && j == row.scan) {
            bad = scan_name(i, j);
            if (row.directory) expected.push_back(bad + "/");
            break;
          }
          expected.push_back(scan_name(i, j));
        }
      }
      if (!bad.empty()) {
        unlink(bad.c_str());
        if (row.directory) {
          ASSERT_EQ(mkdir(bad.c_str(), 0755), 0);
        }
      }
      support::run_result r;
      auto names = opened_during([&] { r = run_apfold({std::to_string(n), std::to_string(s)}, ".", {.one_cpu = one_cpu}); });
      std::erase_if(names, [](const std::string& name) { return !name.starts_with("scan"); });
      const std::string what = std::string(row.what) + (one_cpu ? ", one CPU" : ", two CPUs");
      EXPECT_EQ(names, expected) << what;
      EXPECT_EQ(r.exit_code, bad.empty() ? 0 : 2) << what;
      if (!bad.empty()) {
        EXPECT_EQ(r.out, "Failed to open " + bad + "\n") << what;
      }
      for (const auto& e : std::filesystem::directory_iterator(".")) std::filesystem::remove_all(e.path());
    }
  }
}

// Scan files are loaded ahead on a second thread where the run may use two
// CPUs and in turn with the parsing on one: the runs must not differ in any
// byte, with more files than are ever held ahead and with a file missing
// far into the survey.
TEST_F(Cli, OneCpuAndTwoGiveTheSameRun) {
  constexpr int n = 30;
  constexpr int s = 12;
  std::vector<std::pair<int, int>> coords;
  for (int i = 0; i < n; ++i) coords.push_back({i % 6, i / 6});
  const std::string seq_text = seq(coords);
  const auto write_survey = [&] {
    write_file("seq.txt", seq_text);
    for (int i = 1; i <= n; ++i) {
      for (int j = 1; j <= s; ++j) {
        std::vector<cell> cells;
        const int count = 10 + (i * 7 + j * 3) % 12;  // 10 to 21 cells: some points drop
        for (int k = 0; k < count; ++k) {
          const int ap = (i + j + k * 5) % 40;
          cells.push_back({"00:11:22:33:44:" + std::to_string(10 + ap), "net" + std::to_string(ap % 4),
                           std::to_string(-40 - (ap + j) % 50), j % 4 == 0 ? "" : "-9" + std::to_string(k % 10)});
        }
        write_file(scan_name(i, j), report(cells));
      }
    }
  };
  const struct {
    const char* what;
    const char* missing;  // nullptr: none
  } rows[] = {{"whole survey", nullptr}, {"a scan missing", "scan17-5"}};
  for (const auto& row : rows) {
    support::run_result runs[2];
    std::string dbs[2];
    for (const bool one_cpu : {false, true}) {
      write_survey();
      write_file("db.bin", "old database");
      if (row.missing) unlink(row.missing);
      runs[one_cpu] = run_apfold({std::to_string(n), std::to_string(s)}, ".", {.one_cpu = one_cpu});
      dbs[one_cpu] = db();
    }
    EXPECT_EQ(runs[0].exit_code, row.missing ? 2 : 0) << row.what;
    EXPECT_EQ(runs[1].exit_code, runs[0].exit_code) << row.what;
    EXPECT_EQ(runs[1].out, runs[0].out) << row.what;
    EXPECT_EQ(runs[1].err, runs[0].err) << row.what;
    EXPECT_TRUE(dbs[1] == dbs[0]) << row.what;
    if (row.missing) {
      EXPECT_EQ(runs[0].out, std::string("Failed to open ") + row.missing + "\n");
      EXPECT_EQ(dbs[0], "old database");
    } else {
      EXPECT_TRUE(runs[0].out.ends_with("Writing database\n")) << runs[0].out;
      EXPECT_NE(runs[0].out.find("readings dropped"), std::string::npos) << runs[0].out;
      EXPECT_EQ(dbs[0].size(), 20u + n * 1228u);
    }
  }
}

TEST_F(Cli, FoldsEachPointsScansIntoTheDatabase) {
  write_file("seq.txt", seq({{2, 3}, {5, -1}}));
  write_file("scan1-1", report({{"00:0A:00:00:00:01", "Office", "-50", "-90"}}));
  write_file("scan1-2", report({{"00:0A:00:00:00:01", "Renamed", "-60", "-92"},
                                {"00:0A:00:00:00:02", "Guest Net", "-70", ""}}));
  write_file("scan1-3", report({{"00:0A:00:00:00:01", "Office", "-55", "-94"}}));
  // Point 2: an address twice in one scan, and the same address in upper
  // and lower case.
  write_file("scan2-1", report({{"aa:bb:cc:dd:ee:ff", "", "-40", "-95"},
                                {"aa:bb:cc:dd:ee:ff", "", "-41", "-95"}}));
  write_file("scan2-2", report({{"AA:BB:CC:DD:EE:FF", "upper", "-45", "-96"}}));
  write_file("scan2-3", report({{"aa:bb:cc:dd:ee:ff", "", "-42", "-97"}}));

  auto r = run_apfold({"2", "3"});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out, "Writing database\n");
  EXPECT_EQ(r.err, "");
  const std::string expected =
      encode_header(2, 4, 5, -2, 1) +
      encode_record(2, 3,
                    {{"00:0A:00:00:00:01", "Office", -55.0f, -92.0f, 3},
                     {"00:0A:00:00:00:02", "Gues", -70.0f, 0.0f, 1}}) +
      encode_record(5, -1,
                    {{"aa:bb:cc:dd:ee:ff", "", -41.0f, -96.0f, 2},
                     {"aa:bb:cc:dd:ee:ff", "", -41.0f, -95.0f, 1},
                     {"AA:BB:CC:DD:EE:FF", "upper", -45.0f, -96.0f, 1}});
  EXPECT_EQ(db(), expected);
}

TEST_F(Cli, SingleScanKeepsTheParsedValues) {
  write_file("seq.txt", seq({{0, 0}}));
  write_file("scan1-1", report({{"A1", "n", "-50.25", "-95.5"}, {"A2", "m", "44/100", ""}}));
  auto r = run_apfold({"1", "1"});
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(db(), encode_header(1, 1, 1, 0, 0) +
                      encode_record(0, 0, {{"A1", "n", -50.25f, -95.5f, 1}, {"A2", "m", 44.0f, 0, 1}}));
  EXPECT_EQ(db().size(), 1248u);
}

TEST_F(Cli, SharedCoordinatesGiveSeparateRecords) {
  write_file("seq.txt", seq({{7, 7}, {7, 7}}));
  write_file("scan1-1", report({}));
  write_file("scan2-1", report({}));
  auto r = run_apfold({"2", "1"});
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(db(), encode_header(2, 1, 1, -7, -7) + encode_record(7, 7, {}) + encode_record(7, 7, {}));
}

TEST_F(Cli, AccessPointsBeyondSixteenAreDroppedAndReported) {
  write_file("seq.txt", seq({{0, 0}, {1, 0}}));
  std::vector<cell> first, second;
  std::vector<expected_ap> kept;
  for (int k = 0; k < 12; ++k) {
    char a[32];
    std::snprintf(a, sizeof a, "00:00:00:00:00:%02d", k);
    first.push_back({a, "n", "-50", "-90"});
  }
  for (int k = 10; k < 17; ++k) {  // 10, 11 match; 12..15 fit; 16 is the 17th
    char a[32];
    std::snprintf(a, sizeof a, "00:00:00:00:00:%02d", k);
    second.push_back({a, "n", "-60", "-90"});
  }
  write_file("scan1-1", report(first));
  write_file("scan1-2", report(second));
  write_file("scan1-3", report({second.back(), second.back()}));
  write_file("scan2-1", report(first));
  write_file("scan2-2", report(first));
  write_file("scan2-3", report(first));
  auto r = run_apfold({"2", "3"});
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out,
            "Reference point 1: more than 16 access points, 3 readings dropped\n"
            "Writing database\n");
  const std::string bytes = db();
  ASSERT_EQ(bytes.size(), 20u + 2 * 1228u);
  EXPECT_EQ(support::get_le32s(bytes, 20 + 1216), 16);
  EXPECT_EQ(support::get_le32s(bytes, 20 + 1228 + 1216), 12);
  EXPECT_EQ(bytes.substr(20 + 76 * 15, 18), std::string("00:00:00:00:00:15\0", 18));
}

TEST_F(Cli, ExistingDatabaseIsReplaced) {
  simple_survey(1, 1);
  write_file("db.bin", std::string(50000, 'z'));
  auto r = run_apfold({"1", "1"});
  ASSERT_EQ(r.exit_code, 0);
  EXPECT_EQ(db().size(), 1248u);
  EXPECT_EQ(support::list_dir("."), (std::vector<std::string>{"db.bin", "scan1-1", "seq.txt"}));
}

TEST_F(Cli, FailedWriteKeepsTheOldDatabaseAndFails) {
  simple_survey(2, 1);
  write_file("db.bin", "old database");
  auto r = run_apfold({"2", "1"}, ".", {.file_size = 1000});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "Writing database\n");
  EXPECT_EQ(r.err, "Unable to write data to file: File too large\n");
  EXPECT_EQ(db(), "old database");
  EXPECT_EQ(support::list_dir("."),
            (std::vector<std::string>{"db.bin", "scan1-1", "scan2-1", "seq.txt"}));

  unlink("db.bin");
  ASSERT_EQ(mkdir("db.bin", 0755), 0);
  auto dir = run_apfold({"2", "1"});
  EXPECT_EQ(dir.exit_code, 1);
  EXPECT_EQ(dir.err, "Unable to write file: Is a directory\n");
  EXPECT_EQ(support::list_dir("."),
            (std::vector<std::string>{"db.bin", "scan1-1", "scan2-1", "seq.txt"}));
}

// Counts that no survey backs must not exhaust the machine: each run ends
// promptly and its peak memory stays small. AddressSanitizer maps shadow
// memory for every allocation, so the bound only holds for a plain build.
TEST_F(Cli, AbsurdCountsStayWithinMemory) {
#if defined(__SANITIZE_ADDRESS__)
  constexpr long max_rss_kb = 64L * 1024 * 1024;
#else
  constexpr long max_rss_kb = 100 * 1024;
#endif
  write_file("seq.txt", seq({{0, 0}, {0, 1}}));
  write_file("scan1-1", report({{"A", "n", "-50", "-90"}}));

  auto empty = run_apfold({"0", "2147483647"});
  EXPECT_EQ(empty.exit_code, 0);
  EXPECT_EQ(db(), encode_header(0, 2, 2, -2147483647, -2147483647));
  EXPECT_LT(empty.max_rss_kb, max_rss_kb);

  auto many_points = run_apfold({"2147483647", "1"});
  EXPECT_EQ(many_points.exit_code, 1);
  EXPECT_EQ(many_points.out, "seq_parse() failed on sequence 3\nseq_parse() failed\n");
  EXPECT_LT(many_points.max_rss_kb, max_rss_kb);

  auto many_scans = run_apfold({"1", "2147483647"});
  EXPECT_EQ(many_scans.term_signal, 0);
  EXPECT_LT(many_scans.max_rss_kb, max_rss_kb);
  if (many_scans.exit_code == 1) {
    // A sanitizer may print its own warning about the refused size first.
    EXPECT_TRUE(many_scans.err.ends_with("calloc() failed: Cannot allocate memory\n")) << many_scans.err;
  } else {
    EXPECT_EQ(many_scans.exit_code, 2);
    EXPECT_EQ(many_scans.out, "Failed to open scan1-2\n");
  }
}

TEST_F(Cli, ExampleSurvey) {
  std::filesystem::copy(APFOLD_EXAMPLE_SURVEY, ".", std::filesystem::copy_options::recursive);
  auto r = run_apfold({"12", "3"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Reference point 5: more than 16 access points, 2 readings dropped\n"
            "Reference point 6: more than 16 access points, 2 readings dropped\n"
            "Reference point 7: more than 16 access points, 1 readings dropped\n"
            "Reference point 11: more than 16 access points, 3 readings dropped\n"
            "Writing database\n");
  const std::string bytes = db();
  ASSERT_EQ(bytes.size(), 20u + 12 * 1228u);
  EXPECT_EQ(bytes.substr(0, 20), encode_header(12, 4, 3, 1, 0));
  for (std::size_t i = 0; i < 12; ++i) {
    const std::size_t rec = 20 + 1228 * i;
    const int32_t count = support::get_le32s(bytes, rec + 1216);
    EXPECT_GE(count, 1) << i;
    EXPECT_LE(count, 16) << i;
    for (int32_t k = 0; k < count; ++k) {
      EXPECT_GE(support::get_le32s(bytes, rec + 76 * static_cast<std::size_t>(k) + 72), 1);
    }
  }
  // Point 7's driver prints no noise level at all.
  for (std::size_t k = 0; k < 16; ++k) EXPECT_EQ(support::get_lef32(bytes, 20 + 1228 * 6 + 76 * k + 68), 0.0f);
}
