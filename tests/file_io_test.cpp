#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "input/file_io.h"
#include "report/report.h"
#include "support.h"

using support::TempDirTest;

class FileIo : public TempDirTest {};

TEST_F(FileIo, LoadsEveryByteAndAppendsOneNul) {
  const struct {
    const char* name;
    std::string content;
  } rows[] = {
      {"empty", ""},
      {"text", "1\t(0,0)\n2\t(0,1)\n"},
      {"crlf kept", "Cell 01\r\n  Address: AA\r\n"},
      {"nul inside", std::string("ab\0cd", 5)},
      {"high bytes", "\xff\xfe\x80 \x7f"},
  };
  for (const auto& row : rows) {
    support::write_file("f", row.content);
    std::size_t size = 12345;
    auto text = load_file("f", &size);
    ASSERT_TRUE(text) << row.name;
    EXPECT_EQ(size, row.content.size()) << row.name;
    EXPECT_EQ(std::string(text.get(), size), row.content) << row.name;
    EXPECT_EQ(text[size], '\0') << row.name;
  }
}

TEST_F(FileIo, YieldsNothingForWhatIsNoRegularFile) {
  ASSERT_EQ(mkdir("dir", 0755), 0);
  ASSERT_EQ(mkfifo("fifo", 0644), 0);  // would block a reader that waited for a writer
  ASSERT_EQ(symlink("missing", "dangling"), 0);
  const struct {
    const char* path;
    int error;
  } rows[] = {
      {"missing", ENOENT}, {"dir", EISDIR},     {"fifo", EINVAL},
      {"dangling", ENOENT}, {"/dev/null", EINVAL}, {"/dev/zero", EINVAL},
  };
  for (const auto& row : rows) {
    errno = 0;
    EXPECT_FALSE(load_file(row.path)) << row.path;
    EXPECT_EQ(errno, row.error) << row.path;
  }
}

TEST_F(FileIo, FollowsASymlinkToARegularFile) {
  support::write_file("real", "abc");
  ASSERT_EQ(symlink("real", "link"), 0);
  auto text = load_file("link");
  ASSERT_TRUE(text);
  EXPECT_STREQ(text.get(), "abc");
}

TEST_F(FileIo, AppendTextAppendsBytesUnchanged) {
  EXPECT_EQ(append_text("log", "one\n"), 0);
  EXPECT_EQ(append_text("log", "two\r\nthree"), 0);
  EXPECT_EQ(append_text("log", ""), 0);
  EXPECT_EQ(support::read_file("log"), "one\ntwo\r\nthree");
}

TEST_F(FileIo, AppendTextReportsEveryFailure) {
  ASSERT_EQ(mkdir("dir", 0755), 0);
  EXPECT_NE(append_text("dir", "x"), 0);
  EXPECT_NE(append_text("no/such/dir/file", "x"), 0);
  // The text fits the stdio buffer, so the failure only shows at flush/close.
  EXPECT_NE(append_text("/dev/full", "x\n"), 0);
}

TEST_F(FileIo, AppendTextFailsPastAFileSizeLimit) {
  support::write_file("log", "12345");
  auto r = support::run_in_child([] { return append_text("log", "6789"); }, {.file_size = 7});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(support::read_file("log"), "1234567");  // what fitted below the limit
  support::write_file("log", "12345");
  auto fits = support::run_in_child([] { return append_text("log", "67"); }, {.file_size = 7});
  EXPECT_EQ(fits.exit_code, 0);
}

TEST_F(FileIo, SystemErrorReport) {
  const std::string with_message = support::capture_stderr([] {
    errno = ENOENT;
    report_system_error("Failed to open seq.txt");
  });
  EXPECT_EQ(with_message, "Failed to open seq.txt: No such file or directory\n");
  const std::string bare = support::capture_stderr([] {
    errno = ENOMEM;
    report_system_error("");
  });
  EXPECT_EQ(bare, "Cannot allocate memory\n");
}
