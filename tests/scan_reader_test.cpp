#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "input/scan_reader.h"
#include "platform/platform.h"
#include "support.h"

using support::TempDirTest;

namespace {

std::string name_of(int32_t i, int32_t j) {
  char name[32];
  format_scan_name(name, i, j);
  return name;
}

// The text of file number k (from 0): sizes vary from empty to `large`
// bytes, and every file differs from its neighbours.
std::string content_of(int k, std::size_t large) {
  if (k % 97 == 5) return "";
  std::string text = "file " + std::to_string(k) + "\n";
  if (k % 50 == 7) text.append(large, static_cast<char>('a' + k % 26));
  if (k % 31 == 3) text += std::string("nul\0inside", 10);
  text.append(static_cast<std::size_t>(k % 13) * 40, 'x');
  return text;
}

void write_survey(int32_t n, int32_t s, std::size_t large) {
  int k = 0;
  for (int32_t i = 1; i <= n; ++i) {
    for (int32_t j = 1; j <= s; ++j) support::write_file(name_of(i, j), content_of(k++, large));
  }
}

const char* mode_name(scan_loading mode) {
  return mode == scan_loading::automatic ? "automatic" : "in_caller";
}

}  // namespace

TEST(ScanName, IsWrittenAsPrintfWouldWriteIt) {
  const struct {
    int32_t i, j;
    const char* name;
  } rows[] = {
      {1, 1, "scan1-1"},
      {12, 3, "scan12-3"},
      {100, 20, "scan100-20"},
      {2147483647, 2147483647, "scan2147483647-2147483647"},
  };
  for (const auto& row : rows) EXPECT_EQ(name_of(row.i, row.j), row.name);
}

class ScanReader : public TempDirTest, public ::testing::WithParamInterface<scan_loading> {};

INSTANTIATE_TEST_SUITE_P(Modes, ScanReader,
                         ::testing::Values(scan_loading::automatic, scan_loading::in_caller),
                         [](const auto& param_info) { return std::string(mode_name(param_info.param)); });

TEST_P(ScanReader, LoadsOnASecondThreadOnlyWhenAskedAndAble) {
  write_survey(1, 2, 0);
  auto reader = scan_reader_start(1, 2, GetParam());
  ASSERT_TRUE(reader);
  EXPECT_EQ(scan_reader_ahead(reader.get()),
            GetParam() == scan_loading::automatic && usable_cpu_count() > 1);
  // A single file is never worth a thread.
  auto single = scan_reader_start(1, 1, GetParam());
  ASSERT_TRUE(single);
  EXPECT_FALSE(scan_reader_ahead(single.get()));
}

// Every file whole and in order, however many there are and whatever the
// caller's pace: surveys larger than the slots ahead, files that outgrow the
// bytes held ahead, a caller that falls behind now and then.
TEST_P(ScanReader, HandsOutEveryFileInOrder) {
  const struct {
    const char* what;
    int32_t n, s;
    std::size_t large;   // bytes of every 50th file
    int pause_every;     // the caller sleeps before every such file; 0: never
  } rows[] = {
      {"one point", 1, 5, 100, 0},
      {"one scan per point", 9, 1, 100, 0},
      {"wrapping the slots", 7, 45, 100, 0},
      {"large files", 4, 40, 1536 * 1024, 50},
      {"caller falling behind", 6, 50, 40 * 1024, 60},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    write_survey(row.n, row.s, row.large);
    auto reader = scan_reader_start(row.n, row.s, GetParam());
    ASSERT_TRUE(reader);
    int k = 0;
    for (int32_t i = 1; i <= row.n; ++i) {
      for (int32_t j = 1; j <= row.s; ++j, ++k) {
        if (row.pause_every != 0 && k % row.pause_every == 0) {
          std::this_thread::sleep_for(std::chrono::milliseconds(15));
        }
        const char* text = nullptr;
        std::size_t size = 0;
        ASSERT_EQ(scan_reader_next(reader.get(), &text, &size), 0) << name_of(i, j);
        const std::string want = content_of(k, row.large);
        ASSERT_EQ(size, want.size()) << name_of(i, j);
        ASSERT_EQ(std::string(text, size), want) << name_of(i, j);
        ASSERT_EQ(text[size], '\0') << name_of(i, j);
      }
    }
    const char* text = nullptr;
    std::size_t size = 0;
    errno = 0;
    EXPECT_EQ(scan_reader_next(reader.get(), &text, &size), 1);
    EXPECT_EQ(errno, EINVAL);
  }
}

// The files before the first that cannot be loaded are handed out, then
// that one with its errno, then nothing more.
TEST_P(ScanReader, EndsAtTheFirstFileThatCannotBeLoaded) {
  constexpr int32_t n = 4;
  constexpr int32_t s = 50;
  const struct {
    const char* what;
    int32_t i, j;  // the file that cannot be loaded
    bool directory;
    int error;
  } rows[] = {
      {"first file missing", 1, 1, false, ENOENT},
      {"second file missing", 1, 2, false, ENOENT},
      {"missing beyond the slots ahead", 3, 40, false, ENOENT},
      {"last file missing", 4, 50, false, ENOENT},
      {"a directory", 2, 7, true, EISDIR},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    write_survey(n, s, 100);
    const std::string bad = name_of(row.i, row.j);
    std::filesystem::remove(bad);
    if (row.directory) std::filesystem::create_directory(bad);
    auto reader = scan_reader_start(n, s, GetParam());
    ASSERT_TRUE(reader);
    const int good = (row.i - 1) * s + (row.j - 1);
    const char* text = nullptr;
    std::size_t size = 0;
    for (int k = 0; k < good; ++k) {
      ASSERT_EQ(scan_reader_next(reader.get(), &text, &size), 0) << "file " << k;
      ASSERT_EQ(std::string(text, size), content_of(k, 100)) << "file " << k;
    }
    errno = 0;
    EXPECT_EQ(scan_reader_next(reader.get(), &text, &size), 1);
    EXPECT_EQ(errno, row.error);
    errno = 0;
    EXPECT_EQ(scan_reader_next(reader.get(), &text, &size), 1);
    EXPECT_EQ(errno, EINVAL);
    reader.reset();
    if (row.directory) std::filesystem::remove(bad);
  }
}

TEST_P(ScanReader, HasNoFilesWithoutPointsOrScans) {
  write_survey(2, 2, 0);
  const struct {
    int32_t n, s;
  } rows[] = {{0, 2}, {2, 0}, {0, 0}, {-1, 2}, {2, -5}};
  for (const auto& row : rows) {
    auto reader = scan_reader_start(row.n, row.s, GetParam());
    ASSERT_TRUE(reader);
    const char* text = nullptr;
    std::size_t size = 0;
    errno = 0;
    EXPECT_EQ(scan_reader_next(reader.get(), &text, &size), 1) << row.n << " x " << row.s;
    EXPECT_EQ(errno, EINVAL) << row.n << " x " << row.s;
  }
}

// A reader given up part way (the loader busy, or asleep with every slot
// full) stops its loader and returns.
TEST_P(ScanReader, CanBeStoppedPartWay) {
  write_survey(10, 40, 100);
  for (const int taken : {0, 1, 10, 399}) {
    for (const bool let_it_fill : {false, true}) {
      auto reader = scan_reader_start(10, 40, GetParam());
      ASSERT_TRUE(reader);
      const char* text = nullptr;
      std::size_t size = 0;
      for (int k = 0; k < taken; ++k) {
        ASSERT_EQ(scan_reader_next(reader.get(), &text, &size), 0) << "file " << k;
      }
      if (let_it_fill) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      reader.reset();  // hangs here if the loader does not stop
    }
  }
}
