#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "radiomap/database.h"
#include "support.h"

using support::encode_header;
using support::TempDirTest;

namespace {

std::vector<refpoint> points(const std::vector<std::pair<int32_t, int32_t>>& coords) {
  std::vector<refpoint> v(coords.size());
  if (!v.empty()) std::memset(v.data(), 0, v.size() * sizeof(refpoint));
  for (std::size_t i = 0; i < coords.size(); ++i) {
    v[i].x = coords[i].first;
    v[i].y = coords[i].second;
  }
  return v;
}

std::string header_bytes(const db_header& h) {
  return encode_header(h.num_refpoints, h.width, h.height, h.offset_x, h.offset_y);
}

}  // namespace

TEST(Database, BoundsOfTheGrid) {
  const struct {
    const char* name;
    std::vector<std::pair<int32_t, int32_t>> coords;
    std::string header;
  } rows[] = {
      {"two points", {{2, 3}, {5, -1}}, encode_header(2, 4, 5, -2, 1)},
      {"one at origin", {{0, 0}}, encode_header(1, 1, 1, 0, 0)},
      {"duplicates", {{1, 1}, {1, 1}, {3, 1}}, encode_header(3, 3, 1, -1, -1)},
      {"empty run", {}, encode_header(0, 2, 2, -2147483647, -2147483647)},
      // Extremes wrap as 32-bit two's complement: 2^32 -> 0, -INT_MIN -> INT_MIN.
      {"full range", {{INT_MIN, INT_MAX}, {INT_MAX, INT_MIN}},
       encode_header(2, 0, 0, INT_MIN, INT_MIN)},
      {"one at int max", {{INT_MAX, INT_MAX}}, encode_header(1, 1, 1, -INT_MAX, -INT_MAX)},
  };
  for (const auto& row : rows) {
    auto recs = points(row.coords);
    db_header h = compute_bounds(recs.data(), static_cast<int32_t>(recs.size()));
    EXPECT_EQ(header_bytes(h), row.header) << row.name;
  }
}

// Every file test runs with both ways of making the new file: without a name
// until it is complete (where the system allows it) and under the temporary
// name from the start.
class DatabaseFile : public TempDirTest, public ::testing::WithParamInterface<temporary_file> {
 protected:
  // Two records with some content, and the bytes they must produce.
  void SetUp() override {
    TempDirTest::SetUp();
    recs_ = points({{2, 3}, {5, -1}});
    std::strcpy(recs_[0].ap[0].address, "00:11:22:33:44:55");
    std::strcpy(recs_[0].ap[0].essid, "Office");
    recs_[0].ap[0].signal_level = -55.5f;
    recs_[0].ap[0].noise_level = -95.0f;
    recs_[0].ap[0].seen = 3;
    recs_[0].ap_count = 1;
    header_ = compute_bounds(recs_.data(), 2);
    expected_ = encode_header(2, 4, 5, -2, 1) +
                support::encode_record(2, 3, {{"00:11:22:33:44:55", "Office", -55.5f, -95.0f, 3}}) +
                support::encode_record(5, -1, {});
  }

  int write(const char* path = "db.bin") const {
    return write_database(&header_, recs_.data(), path, GetParam());
  }

  // Everything in the directory apart from the files a test put there.
  void expect_only(const std::vector<std::string>& names) {
    EXPECT_EQ(support::list_dir("."), names);
  }

  std::vector<refpoint> recs_;
  db_header header_{};
  std::string expected_;
};

TEST_P(DatabaseFile, WritesHeaderThenRecordsByteForByte) {
  ASSERT_EQ(write(), 0);
  EXPECT_EQ(support::read_file("db.bin"), expected_);
  EXPECT_EQ(expected_.size(), 20u + 2 * 1228u);
  expect_only({"db.bin"});
}

TEST_P(DatabaseFile, EmptyRunIsTheBareHeader) {
  db_header h = compute_bounds(nullptr, 0);
  ASSERT_EQ(write_database(&h, nullptr, "db.bin", GetParam()), 0);
  const std::string bytes = support::read_file("db.bin");
  const unsigned char golden[20] = {0, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 0,
                                    1, 0, 0, 0x80, 1, 0, 0, 0x80};
  EXPECT_EQ(bytes, std::string(reinterpret_cast<const char*>(golden), 20));
}

TEST_P(DatabaseFile, ReplacesALargerExistingFileInsteadOfAppending) {
  support::write_file("db.bin", std::string(100000, 'x'));
  ASSERT_EQ(write(), 0);
  EXPECT_EQ(support::read_file("db.bin"), expected_);
  expect_only({"db.bin"});
}

TEST_P(DatabaseFile, IgnoresAStaleTemporaryFileOfAnotherProcess) {
  support::write_file("db.bin.tmp.1", "left by a crash");
  ASSERT_EQ(write(), 0);
  EXPECT_EQ(support::read_file("db.bin"), expected_);
}

// A leftover under this process's own temporary name is from a dead process
// that had the same pid: it is replaced, not an obstacle.
TEST_P(DatabaseFile, ReplacesAStaleTemporaryFileUnderItsOwnName) {
  const std::string own = "db.bin.tmp." + std::to_string(getpid());
  support::write_file(own, "left by a crash");
  ASSERT_EQ(write(), 0);
  EXPECT_EQ(support::read_file("db.bin"), expected_);
  expect_only({"db.bin"});
}

// A new database gets 0666 less the umask, like any file a program creates;
// one that replaces another gets the same, not the old file's mode.
TEST_P(DatabaseFile, ModeIsTheUsualLessTheUmask) {
  support::write_file("db.bin", "old");
  ASSERT_EQ(chmod("db.bin", 0600), 0);
  for (const mode_t mask : {mode_t{022}, mode_t{077}, mode_t{0}}) {
    const mode_t before = umask(mask);
    const int status = write();
    umask(before);
    ASSERT_EQ(status, 0);
    struct stat st {};
    ASSERT_EQ(stat("db.bin", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask) << "umask " << std::oct << mask;
  }
}

// A file-size limit stops the write at every interesting point: inside the
// header, at its end, inside and at the end of the first record, one byte
// short of the whole. Each must fail with the report, leave the old
// database untouched and leave no temporary file.
TEST_P(DatabaseFile, FileSizeLimitAnywhereLeavesTheOldDatabase) {
  const std::string old_db = "previous database contents";
  const long long size = static_cast<long long>(expected_.size());
  for (long long limit : {0LL, 1LL, 19LL, 20LL, 21LL, 1247LL, 1248LL, size - 1}) {
    support::write_file("db.bin", old_db);
    auto r = support::run_in_child([&] { return write(); }, {.file_size = limit});
    EXPECT_EQ(r.exit_code, 1) << "limit " << limit;
    EXPECT_EQ(r.err, "Unable to write data to file: File too large\n") << "limit " << limit;
    EXPECT_EQ(support::read_file("db.bin"), old_db) << "limit " << limit;
    EXPECT_EQ(support::list_dir("."), std::vector<std::string>{"db.bin"}) << "limit " << limit;
  }
  auto r = support::run_in_child([&] { return write(); }, {.file_size = size});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(support::read_file("db.bin"), expected_);
}

TEST_P(DatabaseFile, DirectoryInThePlaceOfTheDatabase) {
  ASSERT_EQ(mkdir("db.bin", 0755), 0);
  support::write_file("db.bin/inside", "kept");
  std::string err = support::capture_stderr([&] { EXPECT_EQ(write(), 1); });
  EXPECT_EQ(err, "Unable to write file: Is a directory\n");
  expect_only({"db.bin"});
  EXPECT_EQ(support::read_file("db.bin/inside"), "kept");
}

TEST_P(DatabaseFile, MissingDirectoryCannotBeCreated) {
  std::string err = support::capture_stderr(
      [&] { EXPECT_EQ(write("no/such/db.bin"), 1); });
  EXPECT_EQ(err, "Unable to write file: No such file or directory\n");
}

TEST_P(DatabaseFile, ReadOnlyDirectory) {
  ASSERT_EQ(mkdir("ro", 0755), 0);
  support::write_file("ro/db.bin", "old");
  ASSERT_EQ(chmod("ro", 0555), 0);
  // Root ignores permission bits; only test where they are enforced.
  if (access("ro", W_OK) == 0) {
    chmod("ro", 0755);
    GTEST_SKIP() << "permission bits are not enforced for this user";
  }
  std::string err = support::capture_stderr(
      [&] { EXPECT_EQ(write("ro/db.bin"), 1); });
  chmod("ro", 0755);
  EXPECT_EQ(err, "Unable to write file: Permission denied\n");
  EXPECT_EQ(support::read_file("ro/db.bin"), "old");
}

INSTANTIATE_TEST_SUITE_P(Ways, DatabaseFile,
                         ::testing::Values(temporary_file::automatic, temporary_file::named),
                         [](const ::testing::TestParamInfo<temporary_file>& way) {
                           return way.param == temporary_file::named ? "named" : "unnamed";
                         });
