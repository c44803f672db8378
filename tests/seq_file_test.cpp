// The reference point sequence file: entries "%d\t(%d,%d)" read in order
// into the coordinate arrays, the reports and statuses of every failure, and
// loading "seq.txt" from the working directory.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "input/seq_file.h"
#include "support.h"

namespace {

constexpr int32_t kUntouched = 0x5a5a5a5a;

struct seq_run {
  int status = -1;
  std::string out;
  std::vector<int32_t> xs, ys;
};

// Parses a copy of `text` (which may hold NUL bytes; a NUL is appended) kept
// in a heap block of exactly its size, with coordinate arrays of exactly n
// elements, so any read past the text or write past the arrays is caught by
// the address sanitizer. The arrays start out filled with kUntouched.
seq_run parse_text(const std::string& text, int32_t n) {
  auto buf = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(buf.get(), text.data(), text.size());
  buf[text.size()] = '\0';
  const std::size_t len = n > 0 ? static_cast<std::size_t>(n) : 0;
  auto xs = std::make_unique<int32_t[]>(len == 0 ? 1 : len);
  auto ys = std::make_unique<int32_t[]>(len == 0 ? 1 : len);
  for (std::size_t i = 0; i < (len == 0 ? 1 : len); ++i) xs[i] = ys[i] = kUntouched;
  seq_run r;
  r.out = support::capture_stdout(
      [&] { r.status = seq_parse_text(buf.get(), xs.get(), ys.get(), n); });
  r.xs.assign(xs.get(), xs.get() + (len == 0 ? 1 : len));
  r.ys.assign(ys.get(), ys.get() + (len == 0 ? 1 : len));
  return r;
}

std::string on_sequence(int entry) {
  return "seq_parse() failed on sequence " + std::to_string(entry) + "\n";
}

std::string mismatch(long long i, long long number_less_one) {
  return "seq_parse() failed sequence mismatch " + std::to_string(i) + " != " +
         std::to_string(number_less_one) + "\n";
}

// --- Accepted texts -----------------------------------------------------------

struct accepted_case {
  const char* name;
  std::string text;
  std::vector<int32_t> xs, ys;  // n is their length
};

const int32_t kMax = std::numeric_limits<int32_t>::max();
const int32_t kMin = std::numeric_limits<int32_t>::min();

const accepted_case kAccepted[] = {
    {"two lines with tabs", "1\t(3,4)\n2\t(-5,6)\n", {3, -5}, {4, 6}},
    {"space instead of tab", "1 (3,4)\n2 (-5,6)\n", {3, -5}, {4, 6}},
    {"nothing before the parenthesis", "1(3,4)\n2(-5,6)\n", {3, -5}, {4, 6}},
    {"white space before each coordinate", "1\t( 3, 4)\n2\t(\t-5,\n6)\n", {3, -5}, {4, 6}},
    {"white space before the closing parenthesis", "1\t(3,4 )\n2\t(-5,6\t)\n", {3, -5}, {4, 6}},
    {"windows line ends", "1\t(3,4)\r\n2\t(-5,6)\r\n", {3, -5}, {4, 6}},
    {"old mac line ends", "1\t(3,4)\r2\t(-5,6)\r", {3, -5}, {4, 6}},
    {"several entries on one line", "1\t(3,4) 2\t(-5,6)", {3, -5}, {4, 6}},
    {"entries run together", "1(3,4)2(-5,6)", {3, -5}, {4, 6}},
    {"blank lines and indentation", "\n\n  \t1\t(3,4)\n\n\n   2   (-5,6)\n\n", {3, -5}, {4, 6}},
    {"vertical tab and form feed", "\v1\f(3,4)\f2\v(-5,6)", {3, -5}, {4, 6}},
    {"long run of white space", "1" + std::string(500, ' ') + "(3,4)" + std::string(500, '\n') +
                                    "2\t(-5,6)",
     {3, -5}, {4, 6}},
    {"explicit signs", "+1\t(+3,-4)\n+2\t(-0,+0)\n", {3, 0}, {-4, 0}},
    {"leading zeros", "001\t(007,-0008)\n0002\t(00,010)\n", {7, 0}, {-8, 10}},
    {"many leading zeros", std::string(40, '0') + "1\t(" + std::string(40, '0') +
                               "2147483647,-" + std::string(40, '0') + "2147483648)",
     {kMax}, {kMin}},
    {"32-bit limits", "1\t(2147483647,-2147483648)\n2\t(-2147483648,2147483647)\n",
     {kMax, kMin}, {kMin, kMax}},
    {"text after the last needed entry ignored", "1\t(3,4)\n2\t(-5,6)\n3\t(garbage\nxyz",
     {3, -5}, {4, 6}},
    {"extra entries ignored", "1\t(3,4)\n2\t(-5,6)\n3\t(7,8)\n4\t(9,10)\n", {3, -5}, {4, 6}},
    {"out of order entry after the last needed one", "1\t(3,4)\n2\t(-5,6)\n9\t(7,8)\n",
     {3, -5}, {4, 6}},
    {"missing parenthesis after the last entry", "1\t(3,4)\n2\t(-5,6", {3, -5}, {4, 6}},
    {"text after y up to the parenthesis", "1\t(3,4 metres)\n2\t(-5,6;junk)\n", {3, -5},
     {4, 6}},
    // The next entry starts after the first ")" at or after the current one;
    // without its own ")" an entry swallows everything up to the next one.
    {"missing parenthesis skips to the next one", "1\t(3,4\n2\t(9,9)\n2\t(-5,6)\n", {3, -5},
     {4, 6}},
    {"grid of ten points",
     "1\t(0,0)\n2\t(0,1)\n3\t(0,2)\n4\t(1,2)\n5\t(1,1)\n6\t(1,0)\n7\t(2,0)\n8\t(2,1)\n"
     "9\t(2,2)\n10\t(-1,-1)\n",
     {0, 0, 0, 1, 1, 1, 2, 2, 2, -1}, {0, 1, 2, 2, 1, 0, 0, 1, 2, -1}},
};

TEST(SeqText, AcceptedEntries) {
  for (const auto& row : kAccepted) {
    const auto n = static_cast<int32_t>(row.xs.size());
    const seq_run r = parse_text(row.text, n);
    EXPECT_EQ(r.status, SEQ_OK) << row.name;
    EXPECT_EQ(r.out, "") << row.name;
    EXPECT_EQ(r.xs, row.xs) << row.name;
    EXPECT_EQ(r.ys, row.ys) << row.name;
  }
}

TEST(SeqText, ZeroEntriesConvertNothing) {
  for (const char* text : {"", "garbage", "1\t(3 ,4)", "2\t(0,0)"}) {
    const seq_run r = parse_text(text, 0);
    EXPECT_EQ(r.status, SEQ_OK) << '"' << text << '"';
    EXPECT_EQ(r.out, "") << '"' << text << '"';
    EXPECT_EQ(r.xs[0], kUntouched) << '"' << text << '"';
    EXPECT_EQ(r.ys[0], kUntouched) << '"' << text << '"';
  }
}

// --- Rejected texts -----------------------------------------------------------

struct rejected_case {
  const char* name;
  std::string text;
  int32_t n;
  std::string report;
  std::vector<int32_t> kept_xs, kept_ys;  // entries before the failing one
};

const rejected_case kRejected[] = {
    // Entry cannot be converted.
    {"empty text", "", 1, on_sequence(1), {}, {}},
    {"only white space", " \r\n\t\n", 2, on_sequence(1), {}, {}},
    {"white space before the comma", "1\t(3 ,4)\n", 1, on_sequence(1), {}, {}},
    {"white space before the comma later", "1\t(3,4)\n2\t(5\t,6)\n", 2, on_sequence(2), {3},
     {4}},
    {"short file", "1\t(3,4)\n2\t(-5,6)\n3\t(7,8)\n", 5, on_sequence(4), {3, -5, 7}, {4, 6, 8}},
    {"no opening parenthesis", "1\t3,4)", 1, on_sequence(1), {}, {}},
    {"square brackets", "1\t[3,4]", 1, on_sequence(1), {}, {}},
    {"semicolon for comma", "1\t(3;4)", 1, on_sequence(1), {}, {}},
    {"no y", "1\t(3,)", 1, on_sequence(1), {}, {}},
    {"no x", "1\t(,4)", 1, on_sequence(1), {}, {}},
    {"lone sign for x", "1\t(-,4)", 1, on_sequence(1), {}, {}},
    {"space after sign", "1\t(- 3,4)", 1, on_sequence(1), {}, {}},
    {"no sequence number", "\t(3,4)", 1, on_sequence(1), {}, {}},
    {"decimal sequence number", "1.0\t(3,4)", 1, on_sequence(1), {}, {}},
    {"decimal coordinate", "1\t(3.5,4)", 1, on_sequence(1), {}, {}},
    {"text before the entry", "# points\n1\t(3,4)", 1, on_sequence(1), {}, {}},
    {"text between close and next entry", "1\t(3,4)junk\n2\t(5,6)\n", 2, on_sequence(2), {3},
     {4}},
    {"text ends inside the entry", "1\t(3,4)\n2\t(5", 2, on_sequence(2), {3}, {4}},
    // A converted entry with no ")" after it, while more entries are needed:
    // the next entry is not converted.
    {"missing parenthesis at end", "1\t(3,4\n", 2, on_sequence(2), {3}, {4}},
    {"missing parenthesis before a parenthesis-less entry", "1\t(3,4)\n2\t(5,6\n3\t(7,8\n", 3,
     on_sequence(3), {3, 5}, {4, 6}},
    // Out of range numbers are not converted.
    {"sequence number above int32", "2147483648\t(0,0)", 1, on_sequence(1), {}, {}},
    {"sequence number wraps to 1", "4294967297\t(0,0)", 1, on_sequence(1), {}, {}},
    {"x above int32", "1\t(2147483648,0)", 1, on_sequence(1), {}, {}},
    {"x below int32", "1\t(-2147483649,0)", 1, on_sequence(1), {}, {}},
    {"x wraps to 0", "1\t(4294967296,0)", 1, on_sequence(1), {}, {}},
    {"y above int32", "1\t(0,2147483648)", 1, on_sequence(1), {}, {}},
    {"y below int32", "1\t(0,-2147483649)", 1, on_sequence(1), {}, {}},
    {"y far beyond 64 bits", "1\t(0,123456789012345678901234567890)", 1, on_sequence(1), {}, {}},
    {"out of range in a later entry", "1\t(3,4)\n2\t(99999999999,6)\n", 2, on_sequence(2), {3},
     {4}},
    // Sequence number differs from the entry's place.
    {"entries 1 then 3", "1\t(0,0)\n3\t(1,1)\n", 2, mismatch(1, 2), {0}, {0}},
    {"first entry numbered 2", "2\t(0,0)\n1\t(1,1)\n", 2, mismatch(0, 1), {}, {}},
    {"first entry numbered 0", "0\t(0,0)\n", 1, mismatch(0, -1), {}, {}},
    {"negative sequence number", "-1\t(0,0)\n", 1, mismatch(0, -2), {}, {}},
    {"sequence number repeated", "1\t(0,0)\n1\t(1,1)\n", 2, mismatch(1, 0), {0}, {0}},
    {"largest sequence number", "1\t(0,0)\n2147483647\t(1,1)\n", 2, mismatch(1, 2147483646), {0},
     {0}},
    {"missing parenthesis skips an entry", "1\t(3,4\n2\t(5,6)\n3\t(7,8)\n", 2, mismatch(1, 2), {3},
     {4}},
    {"NUL ends the text", std::string("1\t(3,4)\n") + '\0' + "2\t(5,6)\n", 2, on_sequence(2), {3}, {4}},
};

TEST(SeqText, RejectedEntries) {
  for (const auto& row : kRejected) {
    const seq_run r = parse_text(row.text, row.n);
    EXPECT_EQ(r.status, SEQ_MALFORMED) << row.name;
    EXPECT_EQ(r.out, row.report) << row.name;
    for (std::size_t i = 0; i < row.kept_xs.size(); ++i) {
      EXPECT_EQ(r.xs[i], row.kept_xs[i]) << row.name << ": xs[" << i << "]";
      EXPECT_EQ(r.ys[i], row.kept_ys[i]) << row.name << ": ys[" << i << "]";
    }
  }
}

TEST(SeqText, NegativeCountTakesNothing) {
  for (const int32_t n : {-1, -5, kMin}) {
    const seq_run r = parse_text("1\t(3,4)\n2\t(5,6)\n", n);
    EXPECT_EQ(r.status, SEQ_COUNT) << n;
    EXPECT_EQ(r.out, "Not enough sequence data in seq.txt\nFound 1 coordinate pairs\n") << n;
    EXPECT_EQ(r.xs[0], kUntouched) << n;
    EXPECT_EQ(r.ys[0], kUntouched) << n;
  }
}

// Arrays larger than n: only the first n elements are written, even though
// the text holds more entries.
TEST(SeqText, WritesOnlyTheFirstNElements) {
  int32_t xs[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
  int32_t ys[4] = {kUntouched, kUntouched, kUntouched, kUntouched};
  const std::string out = support::capture_stdout([&] {
    EXPECT_EQ(seq_parse_text("1\t(1,2)\n2\t(3,4)\n3\t(5,6)\n4\t(7,8)\n", xs, ys, 2), SEQ_OK);
  });
  EXPECT_EQ(out, "");
  EXPECT_EQ(xs[0], 1);
  EXPECT_EQ(ys[0], 2);
  EXPECT_EQ(xs[1], 3);
  EXPECT_EQ(ys[1], 4);
  EXPECT_EQ(xs[2], kUntouched);
  EXPECT_EQ(ys[2], kUntouched);
  EXPECT_EQ(xs[3], kUntouched);
  EXPECT_EQ(ys[3], kUntouched);
}

// Every prefix of a valid file, in its own exact-sized buffer: either all
// three entries are there (the last one's y digit included) and it succeeds,
// or the first entry whose y digit is cut off is reported as not converted.
TEST(SeqText, EveryPrefixEndsInADefinedResult) {
  const std::string full = "1\t(30,4)\r\n2\t( -512, 6 )\r\n3\t(7,-8)\r\n";
  const int32_t n = 3;
  const std::vector<int32_t> want_xs = {30, -512, 7};
  const std::vector<int32_t> want_ys = {4, 6, -8};
  // Position just past each entry's y digit.
  std::vector<std::size_t> y_end;
  for (const char* y : {"4)", "6 )", "-8)"}) {
    y_end.push_back(full.find(y) + std::strcspn(y, " )"));
  }
  for (std::size_t len = 0; len <= full.size(); ++len) {
    const std::string prefix = full.substr(0, len);
    const seq_run r = parse_text(prefix, n);
    int complete = 0;
    while (complete < n && len >= y_end[static_cast<std::size_t>(complete)]) ++complete;
    if (complete == n) {
      EXPECT_EQ(r.status, SEQ_OK) << "prefix length " << len;
      EXPECT_EQ(r.out, "") << "prefix length " << len;
      EXPECT_EQ(r.xs, want_xs) << "prefix length " << len;
      EXPECT_EQ(r.ys, want_ys) << "prefix length " << len;
    } else {
      EXPECT_EQ(r.status, SEQ_MALFORMED) << "prefix length " << len;
      EXPECT_EQ(r.out, on_sequence(complete + 1)) << "prefix length " << len;
      for (int i = 0; i < complete; ++i) {
        EXPECT_EQ(r.xs[static_cast<std::size_t>(i)], want_xs[static_cast<std::size_t>(i)])
            << "prefix length " << len;
        EXPECT_EQ(r.ys[static_cast<std::size_t>(i)], want_ys[static_cast<std::size_t>(i)])
            << "prefix length " << len;
      }
    }
  }
}

// --- Counting a whole text ----------------------------------------------------

struct count_run {
  int status = -1;
  std::string out;
  seq_extent extent{};
};

count_run count_text(const std::string& text) {
  auto buf = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(buf.get(), text.data(), text.size());
  buf[text.size()] = '\0';
  count_run r;
  r.out = support::capture_stdout([&] { r.status = seq_count_text(buf.get(), &r.extent); });
  return r;
}

// A count is only worth what apfold makes of it: a text counted as n entries
// reads with seq_parse_text as n entries ending at the same coordinates, and,
// when its last entry is closed, an entry "n+1\t(x,y)\n" appended to it
// reads as entry n + 1.
TEST(SeqText, CountsEntriesAsTheReaderReadsThem) {
  const struct {
    const char* name;
    std::string text;
    int status;
    int32_t count, last_x, last_y;
    bool closed;
    bool next_converted;
    int32_t next_number;
  } rows[] = {
      {"empty", "", SEQ_OK, 0, 0, 0, true, false, 0},
      {"white space only", " \n\r\n\t", SEQ_OK, 0, 0, 0, true, false, 0},
      {"two entries", "1\t(3,4)\n2\t(-5,6)\n", SEQ_OK, 2, -5, 6, true, false, 0},
      {"no final line end", "1\t(3,4)\n2\t(-5,6)", SEQ_OK, 2, -5, 6, true, false, 0},
      {"CR LF and trailing blank lines", "1\t(3,4)\r\n2 (7,8)\r\n\r\n  \n", SEQ_OK, 2, 7, 8, true, false, 0},
      {"run together", "1(0,0)2(1,1)3(2,2)", SEQ_OK, 3, 2, 2, true, false, 0},
      {"text after y", "1\t(3,4 m)\n", SEQ_OK, 1, 3, 4, true, false, 0},
      {"last entry unclosed", "1\t(3,4)\n2\t(5,6\n", SEQ_OK, 2, 5, 6, false, false, 0},
      {"unclosed entry swallows the next", "1\t(3,4\n2\t(5,6)\n", SEQ_OK, 1, 3, 4, true, false, 0},
      {"32-bit limits", "1\t(2147483647,-2147483648)\n", SEQ_OK, 1, kMax, kMin, true, false, 0},
      {"a gap", "1\t(0,0)\n2\t(0,1)\n4\t(0,2)\n", SEQ_MALFORMED, 2, 0, 1, true, true, 4},
      {"a repeat", "1\t(0,0)\n1\t(0,1)\n", SEQ_MALFORMED, 1, 0, 0, true, true, 1},
      {"not starting at 1", "2\t(0,0)\n", SEQ_MALFORMED, 0, 0, 0, true, true, 2},
      {"garbage after the entries", "1\t(0,0)\nend\n", SEQ_MALFORMED, 1, 0, 0, true, false, 0},
      {"an entry cut short", "1\t(0,0)\n2\t(", SEQ_MALFORMED, 1, 0, 0, true, false, 0},
      {"space before the comma", "1\t(0 ,0)\n", SEQ_MALFORMED, 0, 0, 0, true, false, 0},
      {"coordinate out of range", "1\t(2147483648,0)\n", SEQ_MALFORMED, 0, 0, 0, true, false, 0},
      {"NUL ends the text", std::string("1\t(3,4)\n") + '\0' + "junk", SEQ_OK, 1, 3, 4, true, false, 0},
  };
  for (const auto& row : rows) {
    const count_run r = count_text(row.text);
    EXPECT_EQ(r.status, row.status) << row.name;
    EXPECT_EQ(r.out, "") << row.name;
    EXPECT_EQ(r.extent.count, row.count) << row.name;
    EXPECT_EQ(r.extent.last_x, row.last_x) << row.name;
    EXPECT_EQ(r.extent.last_y, row.last_y) << row.name;
    EXPECT_EQ(r.extent.closed, row.closed) << row.name;
    EXPECT_EQ(r.extent.next_converted, row.next_converted) << row.name;
    if (row.next_converted) {
      EXPECT_EQ(r.extent.next_number, row.next_number) << row.name;
    }
    if (r.status != SEQ_OK) continue;

    const int32_t n = r.extent.count;
    if (n > 0) {
      const seq_run all = parse_text(row.text, n);
      EXPECT_EQ(all.status, SEQ_OK) << row.name;
      EXPECT_EQ(all.xs.back(), row.last_x) << row.name;
      EXPECT_EQ(all.ys.back(), row.last_y) << row.name;
    }
    const std::string appended = row.text.substr(0, row.text.find('\0')) +
                                 (row.text.empty() || row.text.back() == '\n' ? "" : "\n") +
                                 std::to_string(n + 1) + "\t(-7,9)\n";
    const seq_run more = parse_text(appended, n + 1);
    EXPECT_EQ(more.status == SEQ_OK && more.xs.back() == -7 && more.ys.back() == 9, row.closed) << row.name;
  }
}

TEST(SeqText, CountsEveryPrefixWithoutReadingPastIt) {
  const std::string text = "1\t(0,0)\n2\t(-1,10)\n3\t(22,-3)\n";
  for (std::size_t n = 0; n <= text.size(); ++n) {
    const count_run r = count_text(text.substr(0, n));
    EXPECT_TRUE(r.status == SEQ_OK || r.status == SEQ_MALFORMED) << n;
    EXPECT_LE(r.extent.count, 3) << n;
  }
  EXPECT_EQ(count_text(text).extent.count, 3);
}

// --- Loading seq.txt ------------------------------------------------------------

class SeqFile : public support::TempDirTest {
 protected:
  struct result {
    int status = -1;
    std::string out, err;
  };
  result parse(int32_t* xs, int32_t* ys, int32_t n) {
    result r;
    r.err = support::capture_stderr(
        [&] { r.out = support::capture_stdout([&] { r.status = seq_parse(xs, ys, n); }); });
    return r;
  }
};

TEST_F(SeqFile, ReadsSeqTxtInTheWorkingDirectory) {
  support::write_file("seq.txt", "1\t(3,4)\r\n2\t(-5,6)\r\n3\t(7,8)\r\n");
  support::write_file("other.txt", "1\t(9,9)\n2\t(9,9)\n");
  int32_t xs[2] = {kUntouched, kUntouched};
  int32_t ys[2] = {kUntouched, kUntouched};
  const result r = parse(xs, ys, 2);
  EXPECT_EQ(r.status, SEQ_OK);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(xs[0], 3);
  EXPECT_EQ(ys[0], 4);
  EXPECT_EQ(xs[1], -5);
  EXPECT_EQ(ys[1], 6);
}

TEST_F(SeqFile, MissingFileCannotBeLoaded) {
  for (const int32_t n : {2, 0}) {
    int32_t xs[2] = {kUntouched, kUntouched};
    int32_t ys[2] = {kUntouched, kUntouched};
    const result r = parse(xs, ys, n);
    EXPECT_EQ(r.status, SEQ_CANNOT_LOAD) << "n = " << n;
    EXPECT_EQ(r.out, "") << "n = " << n;
    EXPECT_EQ(r.err, std::string("Failed to open seq.txt: ") + std::strerror(ENOENT) + "\n")
        << "n = " << n;
    EXPECT_EQ(xs[0], kUntouched);
    EXPECT_EQ(ys[0], kUntouched);
  }
}

TEST_F(SeqFile, OnlyTheExactNameIsLoaded) {
  support::write_file("SEQ.TXT", "1\t(3,4)\n");
  support::write_file("seq.txt.bak", "1\t(3,4)\n");
  int32_t xs[1] = {kUntouched};
  int32_t ys[1] = {kUntouched};
  const result r = parse(xs, ys, 1);
  EXPECT_EQ(r.status, SEQ_CANNOT_LOAD);
  EXPECT_EQ(r.err, std::string("Failed to open seq.txt: ") + std::strerror(ENOENT) + "\n");
}

TEST_F(SeqFile, DirectoryCannotBeLoaded) {
  ASSERT_EQ(mkdir("seq.txt", 0755), 0);
  int32_t xs[1] = {kUntouched};
  int32_t ys[1] = {kUntouched};
  const result r = parse(xs, ys, 1);
  EXPECT_EQ(r.status, SEQ_CANNOT_LOAD);
  EXPECT_EQ(r.out, "");
  const std::string prefix = "Failed to open seq.txt: ";
  ASSERT_GT(r.err.size(), prefix.size() + 1) << r.err;
  EXPECT_EQ(r.err.substr(0, prefix.size()), prefix);
  EXPECT_EQ(r.err.back(), '\n');
  EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
}

TEST_F(SeqFile, UnreadableFileCannotBeLoaded) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  support::write_file("seq.txt", "1\t(3,4)\n");
  ASSERT_EQ(chmod("seq.txt", 0), 0);
  int32_t xs[1] = {kUntouched};
  int32_t ys[1] = {kUntouched};
  const result r = parse(xs, ys, 1);
  EXPECT_EQ(r.status, SEQ_CANNOT_LOAD);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string("Failed to open seq.txt: ") + std::strerror(EACCES) + "\n");
}

// n = 0 converts nothing, but the file must still be there.
TEST_F(SeqFile, ZeroEntriesNeedALoadableFile) {
  support::write_file("seq.txt", "");
  int32_t xs[1] = {kUntouched};
  int32_t ys[1] = {kUntouched};
  const result r = parse(xs, ys, 0);
  EXPECT_EQ(r.status, SEQ_OK);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(xs[0], kUntouched);
}

TEST_F(SeqFile, ReportsOfTheTextGoToStandardOutput) {
  struct row {
    const char* name;
    std::string content;
    int32_t n;
    int status;
    std::string out;
  };
  const row rows[] = {
      {"short file", "1\t(0,0)\n2\t(0,1)\n3\t(1,1)\n", 5, SEQ_MALFORMED, on_sequence(4)},
      {"out of order", "1\t(0,0)\n3\t(0,1)\n", 2, SEQ_MALFORMED, mismatch(1, 2)},
      {"empty file", "", 1, SEQ_MALFORMED, on_sequence(1)},
      {"NUL byte ends the text", std::string("1\t(3,4)\r\n") + '\0' + "2\t(5,6)\r\n", 2,
       SEQ_MALFORMED, on_sequence(2)},
      {"text before a NUL byte", std::string("1\t(3,4)\r\n") + '\0' + "2\t(5,6)\r\n", 1, SEQ_OK, ""},
      {"negative count", "1\t(0,0)\n", -1, SEQ_COUNT,
       "Not enough sequence data in seq.txt\nFound 1 coordinate pairs\n"},
  };
  for (const auto& c : rows) {
    support::write_file("seq.txt", c.content);
    int32_t xs[5] = {};
    int32_t ys[5] = {};
    const result r = parse(xs, ys, c.n);
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.out, c.out) << c.name;
    EXPECT_EQ(r.err, "") << c.name;
  }
}

}  // namespace
