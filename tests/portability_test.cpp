// What apfold does the same on every system, and the one thing it does not.
// These run on Linux and, cross-built, on Windows (under wine in CI): the
// database is binary and byte for byte the same everywhere, survey files are
// read byte for byte, the database replaces an existing one, and appended
// text takes the system's line ends.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "input/file_io.h"
#include "laser/laserscan.h"
#include "radiomap/database.h"
#include "support.h"

using support::encode_header;
using support::encode_record;
using support::read_file;
using support::write_file;

namespace {

#ifdef _WIN32
constexpr const char* NEWLINE = "\r\n";  // a console program's text-mode standard output
#else
constexpr const char* NEWLINE = "\n";
#endif

// The float with exactly these bits.
float float_of(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

std::string golden(const char* name) {
  bool ok = false;
  const std::string bytes =
      read_file(support::fixture_path(APFOLD_GOLDEN_DIR) + "/" + name, &ok);
  EXPECT_TRUE(ok) << "missing golden file " << name;
  return bytes;
}

class Portability : public support::TempDirTest {};

}  // namespace

TEST_F(Portability, AppendedTextTakesTheSystemsLineEnds) {
  write_file("log", "kept\n");
  EXPECT_EQ(append_text("log", "one\ntwo\r\n"), 0);
  EXPECT_EQ(append_text("log", "three"), 0);
#ifdef _WIN32
  // Text mode: every line feed reaches the file as CR LF, also one that a
  // CR already precedes.
  EXPECT_EQ(read_file("log"), "kept\none\r\ntwo\r\r\nthree");
#else
  EXPECT_EQ(read_file("log"), "kept\none\ntwo\r\nthree");
#endif
}

TEST_F(Portability, LoadedFilesKeepEveryByte) {
  // CR LF, a lone CR, Ctrl-Z (the end of a text-mode file on Windows) and a
  // NUL: binary reading keeps them all.
  static const char bytes[] = "Cell 01\r\n  Address: AA\r\x1a\n\0tail\r\n";
  const std::string content(bytes, sizeof bytes - 1);
  write_file("scan1-1", content);
  std::size_t size = 0;
  auto text = load_file("scan1-1", &size);
  ASSERT_TRUE(text);
  ASSERT_EQ(size, content.size());
  EXPECT_EQ(std::string(text.get(), size), content);
  EXPECT_EQ(text[size], '\0');
}

TEST_F(Portability, MissingFilesAndDirectoriesAreRefusedAlike) {
  errno = 0;
  EXPECT_FALSE(load_file("missing"));
  EXPECT_EQ(errno, ENOENT);
  std::filesystem::create_directory("dir");
  errno = 0;
  EXPECT_FALSE(load_file("dir"));
  EXPECT_EQ(errno, EISDIR);
}

TEST_F(Portability, DatabaseIsWrittenInBinary) {
  // Levels, counts and coordinates whose bytes are LF, CR and Ctrl-Z: a
  // text-mode write would add a CR before each LF.
  std::vector<refpoint> recs(2);
  std::memset(recs.data(), 0, recs.size() * sizeof(refpoint));
  std::strcpy(recs[0].ap[0].address, "0a:0d:1a");
  std::strcpy(recs[0].ap[0].essid, "line\nfeed\r");
  recs[0].ap[0].signal_level = float_of(0x0a0d1a0au);
  recs[0].ap[0].noise_level = float_of(0x0d0a0d0au);
  recs[0].ap[0].seen = 0x0a0a;
  recs[0].ap_count = 1;
  recs[0].x = 10;
  recs[0].y = 0x0d0a;
  recs[1].x = -10;
  recs[1].y = 13;
  const db_header header = compute_bounds(recs.data(), 2);
  ASSERT_EQ(write_database(&header, recs.data(), "db.bin"), 0);
  const std::string expected =
      encode_header(2, 21, 0x0d0a - 13 + 1, 10, -13) +
      encode_record(10, 0x0d0a,
                    {{"0a:0d:1a", "line\nfeed\r", float_of(0x0a0d1a0au), float_of(0x0d0a0d0au),
                      0x0a0a}}) +
      encode_record(-10, 13, {});
  EXPECT_EQ(read_file("db.bin"), expected);
  EXPECT_EQ(support::list_dir("."), std::vector<std::string>{"db.bin"});
}

TEST_F(Portability, DatabaseReplacesAnExistingOne) {
  // Renaming over an existing file is refused on Windows unless asked for.
  write_file("db.bin", std::string(5000, 'x'));
  const db_header empty = compute_bounds(nullptr, 0);
  ASSERT_EQ(write_database(&empty, nullptr, "db.bin"), 0);
  EXPECT_EQ(read_file("db.bin"), encode_header(0, 2, 2, -2147483647, -2147483647));
  ASSERT_EQ(write_database(&empty, nullptr, "db.bin"), 0);
  EXPECT_EQ(read_file("db.bin"), encode_header(0, 2, 2, -2147483647, -2147483647));
  EXPECT_EQ(support::list_dir("."), std::vector<std::string>{"db.bin"});
}

TEST_F(Portability, DirectoryInThePlaceOfTheDatabase) {
  std::filesystem::create_directory("db.bin");
  write_file("db.bin/inside", "kept");
  const db_header empty = compute_bounds(nullptr, 0);
  const std::string err =
      support::capture_stderr([&] { EXPECT_EQ(write_database(&empty, nullptr, "db.bin"), 1); });
  EXPECT_EQ(err, std::string("Unable to write file: ") + std::strerror(EISDIR) + "\n");
  EXPECT_EQ(support::list_dir("."), std::vector<std::string>{"db.bin"});
  EXPECT_EQ(read_file("db.bin/inside"), "kept");
}

TEST_F(Portability, LaserScanRecordIsWrittenInBinary) {
  laserscan scan;
  std::memset(&scan, 0, sizeof scan);
  scan.points[0].x = 10.0;  // 0x4024000000000000
  std::memcpy(&scan.points[0].y, "\n\r\x1a\n\n\r\x1a\n", 8);
  scan.count = 0x0a0d;
  ASSERT_EQ(write_laserscan("scan.laser", &scan), 0);
  const std::string bytes = read_file("scan.laser");
  ASSERT_EQ(bytes.size(), LASERSCAN_SIZE);
  EXPECT_EQ(bytes.substr(8, 8), "\n\r\x1a\n\n\r\x1a\n");
  EXPECT_EQ(support::get_lef64(bytes, 0), 10.0);
  EXPECT_EQ(support::get_le32(bytes, 16384), 0x0a0du);
}

// The golden database is what the Linux build writes for the example survey
// (scripts/make_golden.sh); every build must write exactly those bytes.
TEST_F(Portability, ExampleSurveyGivesTheGoldenDatabase) {
  std::filesystem::copy(support::fixture_path(APFOLD_EXAMPLE_SURVEY), ".",
                        std::filesystem::copy_options::recursive);
  const auto r = support::run_apfold({"12", "3"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string nl = NEWLINE;
  EXPECT_EQ(r.out, "Reference point 5: more than 16 access points, 2 readings dropped" + nl +
                       "Reference point 6: more than 16 access points, 2 readings dropped" + nl +
                       "Reference point 7: more than 16 access points, 1 readings dropped" + nl +
                       "Reference point 11: more than 16 access points, 3 readings dropped" + nl +
                       "Writing database" + nl);
  EXPECT_EQ(r.err, "");
  const std::string expected = golden("example.db.bin");
  ASSERT_EQ(expected.size(), 20u + 12 * 1228u);
  const std::string bytes = read_file("db.bin");
  ASSERT_EQ(bytes.size(), expected.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    ASSERT_EQ(bytes[i], expected[i]) << "first difference at byte " << i;
  }
}

TEST_F(Portability, CommandLineOutcomes) {
  const std::string nl = NEWLINE;
  const auto usage = support::run_apfold({"1"});
  EXPECT_EQ(usage.exit_code, 0);
  EXPECT_EQ(usage.out, "Usage: apfold <num_refpoints> <num_scans>" + nl);

  const auto no_seq = support::run_apfold({"1", "1"});
  EXPECT_EQ(no_seq.exit_code, 1);
  EXPECT_EQ(no_seq.out, "seq_parse() failed" + nl);
  EXPECT_EQ(no_seq.err, "Failed to open seq.txt: " + std::string(std::strerror(ENOENT)) + nl);

  write_file("seq.txt", "1\t(0,0)\r\n2\t(0,1)\r\n");
  write_file("scan1-1", "Cell 01 - Address: AA\r\n Signal level=-50 dBm\r\n");
  const auto missing = support::run_apfold({"2", "1"});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_EQ(missing.out, "Failed to open scan2-1" + nl);
  EXPECT_FALSE(support::exists("db.bin"));

  write_file("scan2-1", "");
  const auto written = support::run_apfold({"2", "1"});
  EXPECT_EQ(written.exit_code, 0);
  EXPECT_EQ(written.out, "Writing database" + nl);
  EXPECT_EQ(read_file("db.bin"), encode_header(2, 1, 2, 0, 0) +
                                     encode_record(0, 0, {{"AA", "", -50.0f, 0.0f, 1}}) +
                                     encode_record(0, 1, {}));
}

// File names: Windows matches them without regard to case (so does wine),
// POSIX systems byte for byte.
TEST_F(Portability, FileNamesMatchAsTheSystemMatchesThem) {
  write_file("SEQ.TXT", "1\t(3,4)\n");
  write_file("SCAN1-1", "Cell 01 - Address: AA\n Signal level=-50 dBm\n");
  const auto r = support::run_apfold({"1", "1"});
#ifdef _WIN32
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(read_file("db.bin"), encode_header(1, 1, 1, -3, -4) +
                                     encode_record(3, 4, {{"AA", "", -50.0f, 0.0f, 1}}));
#else
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "seq_parse() failed\n");
  EXPECT_FALSE(support::exists("db.bin"));
#endif
}

// apdump writes its views to standard output, which on Windows is in text
// mode: CSV rows end in CR LF there (as RFC 4180 has them), in LF elsewhere.
TEST_F(Portability, ApdumpCsvRowsEndInTheSystemsLineEnds) {
  write_file("db.bin", encode_header(1, 1, 1, 0, 0) +
                           encode_record(0, 0, {{"AA", "Office", -50.0f, -90.0f, 2}}));
  const auto r = support::run({support::fixture_path(APDUMP_BINARY), "--csv", "db.bin"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string nl = NEWLINE;
  EXPECT_EQ(r.out, "point,x,y,address,essid,signal,noise,seen" + nl + "1,0,0,AA,Office,-50,-90,2" + nl);
}
