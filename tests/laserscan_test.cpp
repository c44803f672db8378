// Laser range scans: the range text turned into points, the range file reader
// and the 16392-byte record file. Expected points are computed here from the
// documented geometry (accumulated angle, reading divided by 5, cos/sin) and
// compared bit for bit; record files are decoded straight from their bytes.
#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "laser/laserscan.h"
#include "support.h"

namespace {

// The documented geometry, written out independently of the header.
constexpr double kStartAngle = 2.6179938779914944;  // nearest double to 5*pi/6
constexpr double kAngleStep = 0.006145045444209698;
constexpr int kSlots = 1024;
constexpr std::size_t kRecordSize = 16392;
constexpr int32_t kSentinelCount = -7;
constexpr int32_t kSentinelReserved = 0x5a5aa5a5;

uint64_t bits(double d) { return std::bit_cast<uint64_t>(d); }

// theta(k), accumulated one step at a time and rounded to double each time.
// volatile keeps the compiler from folding anything at build time.
double theta_of(int k) {
  volatile double t = kStartAngle;
  for (int i = 0; i < k; ++i) t = t + kAngleStep;
  return t;
}

// The point stored for divided reading q in slot k, with the run-time cos/sin.
laser_point expected_point(int k, double q) {
  volatile double t = theta_of(k);
  volatile double vq = q;
  const double c = std::cos(t);
  const double s = std::sin(t);
  return {c * vq, s * vq};
}

// The trace line printed for counted pass k with divided reading q.
std::string trace_line(int k, double q) {
  const laser_point p = expected_point(k, q);
  char buf[256];
  std::snprintf(buf, sizeof buf, "%d %lf %lf %lf %lf\n", k, q, theta_of(k + 1), p.x, p.y);
  return buf;
}

laser_point sentinel_point(int k) { return {1000.0 + k + 0.25, -0.5 - k}; }

// A heap record (so a write past its end is caught by the address sanitizer)
// holding recognisable values in every field.
std::unique_ptr<laserscan> sentinel_scan() {
  auto scan = std::make_unique<laserscan>();
  for (int k = 0; k < kSlots; ++k) scan->points[k] = sentinel_point(k);
  scan->count = kSentinelCount;
  scan->reserved = kSentinelReserved;
  return scan;
}

void expect_slot(const laserscan& scan, int k, const laser_point& want) {
  EXPECT_EQ(bits(scan.points[k].x), bits(want.x))
      << "slot " << k << " x: got " << scan.points[k].x << ", want " << want.x;
  EXPECT_EQ(bits(scan.points[k].y), bits(want.y))
      << "slot " << k << " y: got " << scan.points[k].y << ", want " << want.y;
}

// Slots [0, divided.size()) hold the points of the given divided readings,
// the rest still hold the caller's values; reserved is never touched.
void expect_points(const laserscan& scan, const std::vector<double>& divided) {
  for (std::size_t k = 0; k < divided.size(); ++k) {
    expect_slot(scan, static_cast<int>(k), expected_point(static_cast<int>(k), divided[k]));
  }
  for (int k = static_cast<int>(divided.size()); k < kSlots; ++k) {
    expect_slot(scan, k, sentinel_point(k));
  }
  EXPECT_EQ(scan.reserved, kSentinelReserved);
}

std::string expected_trace(const std::vector<double>& divided, int count) {
  std::string out;
  for (int k = 0; k < count; ++k) out += trace_line(k, divided[static_cast<std::size_t>(k)]);
  return out;
}

std::string report(int err) {
  return std::string("Unable to write laserscan\n: ") + std::strerror(err) + "\n";
}

// --- Range text conversion -------------------------------------------------

struct text_case {
  const char* name;
  std::string text;
  int count;
  std::vector<double> divided;  // divided reading stored in each written slot
};

void PrintTo(const text_case& c, std::ostream* os) { *os << c.name; }

class LaserTextCase : public ::testing::TestWithParam<text_case> {};

TEST_P(LaserTextCase, StoresPointsCountsAndTraces) {
  const text_case& c = GetParam();
  auto scan = sentinel_scan();
  int result = -1;
  const std::string out =
      support::capture_stdout([&] { result = parse_laserscan_text(c.text.c_str(), scan.get()); });
  EXPECT_EQ(result, c.count);
  EXPECT_EQ(scan->count, c.count);
  expect_points(*scan, c.divided);
  EXPECT_EQ(out, expected_trace(c.divided, c.count));
}

const text_case kTextCases[] = {
    {"TrailingSpace", "500 1000 ", 2, {100.0, 200.0, 40.0}},
    {"NoTrailingSpace", "500 1000", 1, {100.0, 200.0}},
    {"OneReadingWithSpace", "500 ", 1, {100.0, 20.0}},
    {"OneReadingNoSpace", "500", 0, {100.0}},
    {"EmptyText", "", 0, {0.0}},
    {"OnlyASpace", " ", 1, {0.0, 0.0}},
    {"FirstWordNoNumber", "abc 500 ", 2, {0.0, 100.0, 20.0}},
    {"WordWithoutNumberRepeatsDividedReading", "500 abc 1000 ", 3, {100.0, 20.0, 200.0, 40.0}},
    {"AdjacentSpacesCountNextReadingTwice", "500  1000 ", 3, {100.0, 200.0, 200.0, 40.0}},
    {"ReadingAfterLineEndSkipped", "500\n1000 2000 ", 2, {100.0, 400.0, 80.0}},
    {"ReadingAfterTabSkipped", "500\t1000 2000 ", 2, {100.0, 400.0, 80.0}},
    {"WindowsLineEndAtTheEnd", "500 1000 \r\n", 2, {100.0, 200.0, 40.0}},
    {"LeadingSpacesEachCount", "  500 ", 3, {100.0, 100.0, 100.0, 20.0}},
    {"LeadingTabSkipped", "\t500 ", 1, {100.0, 20.0}},
    {"TrailingLettersIgnored", "12abc 500 ", 2, {12.0 / 5.0, 100.0, 20.0}},
    // Divided, not multiplied by 0.2: 3 * 0.2 is one unit above 3 / 5.
    {"DividedByFive", "3 7 ", 2, {3.0 / 5.0, 7.0 / 5.0, (7.0 / 5.0) / 5.0}},
    {"FractionOnly", "500 .5 ", 2, {100.0, 0.5 / 5.0, (0.5 / 5.0) / 5.0}},
    {"PointAtEnd", "5. ", 1, {1.0, 0.2}},
    {"PlusSign", "+35 ", 1, {7.0, 7.0 / 5.0}},
    {"NegativeReading", "-500 ", 1, {-100.0, -20.0}},
    {"Exponent", "1e3 2.5E-1 ", 2, {200.0, 0.25 / 5.0, (0.25 / 5.0) / 5.0}},
    {"ExponentWithPlus", "1E+2 ", 1, {20.0, 4.0}},
    {"ExponentWithoutDigits", "1e 500 ", 2, {0.2, 100.0, 20.0}},
    {"HexadecimalReadsAsZero", "500 0x10 ", 2, {100.0, 0.0, 0.0}},
    {"CommaStopsTheNumber", "500 2,5 ", 2, {100.0, 2.0 / 5.0, (2.0 / 5.0) / 5.0}},
    {"InfIsNoNumber", "500 inf ", 2, {100.0, 20.0, 4.0}},
    {"NanIsNoNumber", "500 nan ", 2, {100.0, 20.0, 4.0}},
    {"LoneSignIsNoNumber", "500 - ", 2, {100.0, 20.0, 4.0}},
    {"LonePointIsNoNumber", "500 . ", 2, {100.0, 20.0, 4.0}},
    {"ExponentAloneIsNoNumber", "500 e5 ", 2, {100.0, 20.0, 4.0}},
};

INSTANTIATE_TEST_SUITE_P(Laser, LaserTextCase, ::testing::ValuesIn(kTextCases),
                         [](const ::testing::TestParamInfo<text_case>& case_info) {
                           return std::string(case_info.param.name);
                         });

// The worked example, with its values and trace written out literally.
TEST(LaserText, WorkedExampleLiteralValues) {
  auto scan = sentinel_scan();
  const std::string out =
      support::capture_stdout([&] { EXPECT_EQ(parse_laserscan_text("500 1000 ", scan.get()), 2); });
  EXPECT_EQ(out,
            "0 100.000000 2.624139 -86.602540 50.000000\n"
            "1 200.000000 2.630284 -173.816311 98.933766\n");
  EXPECT_NEAR(scan->points[0].x, -86.60254037844386, 1e-12);
  EXPECT_NEAR(scan->points[0].y, 50.0, 1e-12);
  EXPECT_NEAR(scan->points[2].x, 40.0 * std::cos(2.630283968879914), 1e-12);
  EXPECT_NEAR(scan->points[2].y, 40.0 * std::sin(2.630283968879914), 1e-12);
}

// With no reading to repeat, the first point is 0 times cos/sin of 150
// degrees: a negative zero x (cos is negative there) and a positive zero y.
TEST(LaserText, NoFirstReadingGivesSignedZeros) {
  for (const char* text : {"", "abc 500 "}) {
    SCOPED_TRACE(text);
    auto scan = sentinel_scan();
    support::capture_stdout([&] { parse_laserscan_text(text, scan.get()); });
    EXPECT_EQ(scan->points[0].x, 0.0);
    EXPECT_TRUE(std::signbit(scan->points[0].x));
    EXPECT_EQ(scan->points[0].y, 0.0);
    EXPECT_FALSE(std::signbit(scan->points[0].y));
  }
}

// --- The 1024-slot limit -----------------------------------------------------

struct cap_case {
  const char* name;
  int readings;
  bool trailing_space;
  int count;
};

void PrintTo(const cap_case& c, std::ostream* os) { *os << c.name; }

// Reading i: integers and halves, all exact, so the expected divided value
// is simply value / 5.
double reading_value(int i) { return 3.0 + 7.0 * i + ((i % 2) ? 0.5 : 0.0); }

std::string reading_text(int n, bool trailing_space) {
  std::string text;
  for (int i = 0; i < n; ++i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, (i % 2) ? "%d.5" : "%d", 3 + 7 * i);
    text += buf;
    if (i + 1 < n || trailing_space) text += ' ';
  }
  return text;
}

class LaserCapCase : public ::testing::TestWithParam<cap_case> {};

TEST_P(LaserCapCase, WritesAtMost1024Slots) {
  const cap_case& c = GetParam();
  const std::string text = reading_text(c.readings, c.trailing_space);
  ASSERT_DOUBLE_EQ(reading_value(1), 10.5);
  std::vector<double> divided;
  for (int i = 0; i < c.readings && i < kSlots; ++i) divided.push_back(reading_value(i) / 5.0);
  if (c.trailing_space && c.readings < kSlots) divided.push_back(divided.back() / 5.0);

  auto scan = sentinel_scan();
  int result = -1;
  const std::string out =
      support::capture_stdout([&] { result = parse_laserscan_text(text.c_str(), scan.get()); });
  EXPECT_EQ(result, c.count);
  EXPECT_EQ(scan->count, c.count);
  expect_points(*scan, divided);
  EXPECT_EQ(out, expected_trace(divided, c.count));
}

const cap_case kCapCases[] = {
    {"Readings1023WithSpaces", 1023, true, 1023},
    {"Readings1023LastWithoutSpace", 1023, false, 1022},
    {"Readings1024WithSpaces", 1024, true, 1024},
    {"Spaces1023AndTrailingReading", 1024, false, 1023},
    {"Readings1025WithSpaces", 1025, true, 1024},
    {"Readings1025LastWithoutSpace", 1025, false, 1024},
    {"Readings3000WithSpaces", 3000, true, 1024},
};

INSTANTIATE_TEST_SUITE_P(Laser, LaserCapCase, ::testing::ValuesIn(kCapCases),
                         [](const ::testing::TestParamInfo<cap_case>& case_info) {
                           return std::string(case_info.param.name);
                         });

// The last slot's angle is reached only by accumulation; theta(0) + k * step
// differs in the last bits for most k, which the bitwise slot check catches.
TEST(LaserText, AngleIsAccumulatedNotMultiplied) {
  int differing = 0;
  for (int k = 0; k < kSlots; ++k) {
    if (bits(theta_of(k)) != bits(kStartAngle + k * kAngleStep)) ++differing;
  }
  ASSERT_GT(differing, 0);  // the check below is meaningful only if so
  const std::string text = reading_text(kSlots, true);
  auto scan = sentinel_scan();
  support::capture_stdout([&] { parse_laserscan_text(text.c_str(), scan.get()); });
  expect_slot(*scan, 1023, expected_point(1023, reading_value(1023) / 5.0));
}

// --- The range file ----------------------------------------------------------

class LaserParseFile : public support::TempDirTest {};

TEST_F(LaserParseFile, LoadsAndConvertsTheText) {
  support::write_file("ranges.txt", "500 1000 ");
  auto scan = sentinel_scan();
  int result = -1;
  const std::string out =
      support::capture_stdout([&] { result = parse_laserscan("ranges.txt", scan.get()); });
  EXPECT_EQ(result, 0);  // 0 once loaded, not the count
  EXPECT_EQ(scan->count, 2);
  expect_points(*scan, {100.0, 200.0, 40.0});
  EXPECT_EQ(out,
            "0 100.000000 2.624139 -86.602540 50.000000\n"
            "1 200.000000 2.630284 -173.816311 98.933766\n");
}

TEST_F(LaserParseFile, EmptyFileIsLoaded) {
  support::write_file("empty.txt", "");
  auto scan = sentinel_scan();
  int result = -1;
  const std::string out =
      support::capture_stdout([&] { result = parse_laserscan("empty.txt", scan.get()); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(scan->count, 0);
  expect_points(*scan, {0.0});
  EXPECT_EQ(out, "");
}

TEST_F(LaserParseFile, StopsAtNulByte) {
  support::write_file("nul.txt", std::string("500 \0 1000 2000 ", 16));
  auto scan = sentinel_scan();
  int result = -1;
  const std::string out =
      support::capture_stdout([&] { result = parse_laserscan("nul.txt", scan.get()); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(scan->count, 1);
  expect_points(*scan, {100.0, 20.0});
  EXPECT_EQ(out, expected_trace({100.0, 20.0}, 1));
}

TEST_F(LaserParseFile, WindowsLineEndsAreWhiteSpace) {
  support::write_file("crlf.txt", "500 1000 \r\n");
  auto scan = sentinel_scan();
  int result = -1;
  support::capture_stdout([&] { result = parse_laserscan("crlf.txt", scan.get()); });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(scan->count, 2);
  expect_points(*scan, {100.0, 200.0, 40.0});
}

TEST_F(LaserParseFile, UnloadableFileLeavesRecordUntouched) {
  ASSERT_EQ(mkdir("adir", 0755), 0);
  for (const char* path : {"missing.txt", "adir", "nodir/ranges.txt"}) {
    SCOPED_TRACE(path);
    auto scan = sentinel_scan();
    const laserscan before = *scan;
    int result = -1;
    std::string out;
    const std::string err = support::capture_stderr([&] {
      out = support::capture_stdout([&] { result = parse_laserscan(path, scan.get()); });
    });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out, std::string("Failed to open ") + path + "\n");
    EXPECT_EQ(err, "");
    EXPECT_EQ(std::memcmp(&before, scan.get(), sizeof before), 0);
  }
}

// --- The record file ---------------------------------------------------------

// A record with distinctive values, including ones whose bits must survive
// unchanged: signed zero, infinities, a NaN with a payload, a subnormal.
std::unique_ptr<laserscan> pattern_scan(int32_t count) {
  auto scan = std::make_unique<laserscan>();
  for (int k = 0; k < kSlots; ++k) {
    scan->points[k] = {k * 1.5 - 700.125, -k / 3.0};
  }
  scan->points[1] = {-0.0, std::numeric_limits<double>::infinity()};
  scan->points[2] = {std::bit_cast<double>(uint64_t{0x7ff8000000012345}),
                     std::numeric_limits<double>::denorm_min()};
  scan->points[1023] = {-std::numeric_limits<double>::infinity(), 1e308};
  scan->count = count;
  scan->reserved = kSentinelReserved;
  return scan;
}

void expect_file_holds(const std::string& path, const laserscan& scan) {
  bool ok = false;
  const std::string bytes = support::read_file(path, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(bytes.size(), kRecordSize);
  for (int k = 0; k < kSlots; ++k) {
    const std::size_t at = 16 * static_cast<std::size_t>(k);
    EXPECT_EQ(bits(support::get_lef64(bytes, at)), bits(scan.points[k].x)) << "slot " << k;
    EXPECT_EQ(bits(support::get_lef64(bytes, at + 8)), bits(scan.points[k].y)) << "slot " << k;
  }
  EXPECT_EQ(support::get_le32s(bytes, 16384), scan.count);
  EXPECT_EQ(support::get_le32(bytes, 16388), 0u);
}

class LaserWriteCount : public support::TempDirTest,
                        public ::testing::WithParamInterface<int32_t> {};

TEST_P(LaserWriteCount, FileIsTheWholeRecordWhateverTheCount) {
  auto scan = pattern_scan(GetParam());
  const laserscan before = *scan;
  int result = -1;
  std::string out;
  const std::string err = support::capture_stderr([&] {
    out = support::capture_stdout([&] { result = write_laserscan("scan.bin", scan.get()); });
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(err, "");
  expect_file_holds("scan.bin", before);
  EXPECT_EQ(std::memcmp(&before, scan.get(), sizeof before), 0);  // caller's record unchanged
}

INSTANTIATE_TEST_SUITE_P(Laser, LaserWriteCount,
                         ::testing::Values(0, 1, 2, 1023, 1024, -1, 5000,
                                           std::numeric_limits<int32_t>::min()));

class LaserWrite : public support::TempDirTest {};

TEST_F(LaserWrite, TruncatesALongerFile) {
  support::write_file("scan.bin", std::string(20000, 'x'));
  auto scan = pattern_scan(3);
  EXPECT_EQ(write_laserscan("scan.bin", scan.get()), 0);
  expect_file_holds("scan.bin", *scan);
}

TEST_F(LaserWrite, ReplacesAShorterFile) {
  support::write_file("scan.bin", "old");
  auto scan = pattern_scan(3);
  EXPECT_EQ(write_laserscan("scan.bin", scan.get()), 0);
  expect_file_holds("scan.bin", *scan);
}

TEST_F(LaserWrite, ParsedScanRoundTripsThroughTheFile) {
  support::write_file("ranges.txt", "500 1000 3 ");
  auto scan = sentinel_scan();
  support::capture_stdout([&] { EXPECT_EQ(parse_laserscan("ranges.txt", scan.get()), 0); });
  EXPECT_EQ(write_laserscan("scan.bin", scan.get()), 0);
  const std::string bytes = support::read_file("scan.bin");
  ASSERT_EQ(bytes.size(), kRecordSize);
  const std::vector<double> divided = {100.0, 200.0, 3.0 / 5.0, (3.0 / 5.0) / 5.0};
  for (std::size_t k = 0; k < divided.size(); ++k) {
    const laser_point p = expected_point(static_cast<int>(k), divided[k]);
    EXPECT_EQ(bits(support::get_lef64(bytes, 16 * k)), bits(p.x)) << "slot " << k;
    EXPECT_EQ(bits(support::get_lef64(bytes, 16 * k + 8)), bits(p.y)) << "slot " << k;
  }
  EXPECT_EQ(bits(support::get_lef64(bytes, 16 * 4)), bits(sentinel_point(4).x));
  EXPECT_EQ(support::get_le32s(bytes, 16384), 3);
  EXPECT_EQ(support::get_le32(bytes, 16388), 0u);
  EXPECT_EQ(scan->reserved, kSentinelReserved);
}

// Runs write_laserscan and checks it failed with the report for `err_no`.
void expect_write_fails(const char* path, int err_no) {
  auto scan = pattern_scan(2);
  const laserscan before = *scan;
  int result = -1;
  std::string out;
  const std::string err = support::capture_stderr([&] {
    out = support::capture_stdout([&] { result = write_laserscan(path, scan.get()); });
  });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(err, report(err_no));
  EXPECT_EQ(out, "");
  EXPECT_EQ(std::memcmp(&before, scan.get(), sizeof before), 0);
}

TEST_F(LaserWrite, DirectoryInThePlaceOfTheFile) {
  ASSERT_EQ(mkdir("scan.bin", 0755), 0);
  expect_write_fails("scan.bin", EISDIR);
  struct stat st {};
  ASSERT_EQ(stat("scan.bin", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST_F(LaserWrite, MissingParentDirectory) {
  expect_write_fails("nodir/scan.bin", ENOENT);
  EXPECT_FALSE(support::exists("nodir"));
}

TEST_F(LaserWrite, FullDevice) {
  if (!support::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  expect_write_fails("/dev/full", ENOSPC);
}

// write_laserscan run in a child under a file-size limit. The limit covers
// every regular file the child writes, the capture file for standard error
// included, so the report is taken through a pipe instead.
struct limited_write {
  support::run_result run;
  std::string err;
};

limited_write write_under_limit(const laserscan& scan, long long limit) {
  limited_write w;
  int fds[2];
  if (pipe(fds) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return w;
  }
  w.run = support::run_in_child(
      [&] {
        dup2(fds[1], 2);
        close(fds[0]);
        close(fds[1]);
        const int rc = write_laserscan("scan.bin", &scan);
        std::fflush(stderr);
        return rc;
      },
      {.file_size = limit});
  close(fds[1]);
  char buf[4096];
  ssize_t got;
  while ((got = read(fds[0], buf, sizeof buf)) > 0) w.err.append(buf, static_cast<std::size_t>(got));
  close(fds[0]);
  return w;
}

class LaserWriteSizeLimit : public support::TempDirTest,
                            public ::testing::WithParamInterface<long long> {};

TEST_P(LaserWriteSizeLimit, WriteBeyondTheLimitIsReported) {
  auto scan = pattern_scan(2);
  const limited_write w = write_under_limit(*scan, GetParam());
  EXPECT_EQ(w.run.term_signal, 0);
  EXPECT_EQ(w.run.exit_code, 1);
  EXPECT_EQ(w.err, report(EFBIG));
  EXPECT_EQ(w.run.out, "");
  EXPECT_EQ(w.run.err, "");
}

INSTANTIATE_TEST_SUITE_P(Laser, LaserWriteSizeLimit,
                         ::testing::Values(0LL, 1LL, 4096LL, 16383LL, 16384LL, 16385LL, 16391LL));

TEST_F(LaserWrite, SizeLimitOfExactlyTheRecordSucceeds) {
  auto scan = pattern_scan(2);
  const limited_write w = write_under_limit(*scan, static_cast<long long>(kRecordSize));
  EXPECT_EQ(w.run.term_signal, 0);
  EXPECT_EQ(w.run.exit_code, 0);
  EXPECT_EQ(w.err, "");
  expect_file_holds("scan.bin", *scan);
}

}  // namespace
