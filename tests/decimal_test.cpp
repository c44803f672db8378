// The decimal number reader shared by the scan levels and the laser ranges:
// which texts are numbers and how far they reach (decimal_length), and the
// values scan_float / scan_double give them. Values are compared bit for bit
// against the C library's correctly rounded strtof / strtod of the same
// validated text, read in the "C" locale.
#include <gtest/gtest.h>

#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "input/decimal.h"

namespace {

uint32_t bits(float f) { return std::bit_cast<uint32_t>(f); }
uint64_t bits(double d) { return std::bit_cast<uint64_t>(d); }

// A copy of the text in a heap block of exactly its size plus the NUL, so a
// read past the terminator is caught by the address sanitizer.
std::unique_ptr<char[]> exact_copy(const std::string& text) {
  auto buf = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(buf.get(), text.data(), text.size());
  buf[text.size()] = '\0';
  return buf;
}

constexpr float kFloatSentinel = 123.25f;
constexpr double kDoubleSentinel = -987.125;

// --- Where a number ends -------------------------------------------------

struct length_case {
  const char* name;
  const char* text;
  std::size_t length;
};

const length_case kLengthCases[] = {
    {"empty", "", 0},
    {"integer", "1", 1},
    {"negative", "-50", 3},
    {"plus sign", "+7", 2},
    {"leading point", ".5", 2},
    {"trailing point", "5.", 2},
    {"point among digits", "12.75", 5},
    {"signed leading point", "-.5", 3},
    {"point then exponent", "5.e3", 4},
    {"exponent", "1e5", 3},
    {"capital exponent", "1E5", 3},
    {"exponent with sign", "1e+05x", 5},
    {"negative exponent", "2.5e-3", 6},
    {"leading zeros", "00012", 5},
    {"exponent without digits", "1e", 1},
    {"exponent sign without digits", "1e+", 1},
    {"exponent minus without digits", "1e-x", 1},
    {"second exponent not taken", "1e5e6", 3},
    {"second point stops", "1.2.3", 3},
    {"double point", "1..2", 2},
    {"fraction of levels", "45/100", 2},
    {"unit glued on", "-50dBm", 3},
    {"hexadecimal stops at x", "0x10", 1},
    {"comma is no point", "1,5", 1},
    {"space ends number", "1 e5", 1},
    {"lone minus", "-", 0},
    {"lone plus", "+", 0},
    {"lone point", ".", 0},
    {"signed lone point", "-.", 0},
    {"point then exponent only", ".e5", 0},
    {"exponent alone", "e5", 0},
    {"double sign", "--1", 0},
    {"mixed signs", "+-1", 0},
    {"inf", "inf", 0},
    {"infinity", "-infinity", 0},
    {"nan", "nan", 0},
    {"NAN", "NAN(123)", 0},
    {"leading space not skipped", " 1", 0},
    {"leading tab not skipped", "\t1", 0},
    {"byte above 127", "\xb2", 0},
    {"long digit run", "123456789012345678901234567890.5e-10", 36},
};

TEST(DecimalLength, NumberSyntax) {
  for (const auto& row : kLengthCases) {
    auto buf = exact_copy(row.text);
    EXPECT_EQ(decimal_length(buf.get()), row.length) << row.name << ": \"" << row.text << "\"";
  }
}

// Every prefix of a number in its own exact-sized buffer: the terminating NUL
// always ends the number, and nothing past it is read.
TEST(DecimalLength, StopsAtTheTerminatorOfEveryPrefix) {
  const std::string full = "-12.50e+07";
  const std::size_t want[] = {0, 0, 2, 3, 4, 5, 6, 6, 6, 9, 10};  // by prefix length
  for (std::size_t len = 0; len <= full.size(); ++len) {
    auto buf = exact_copy(full.substr(0, len));
    EXPECT_EQ(decimal_length(buf.get()), want[len]) << "prefix \"" << full.substr(0, len) << "\"";
  }
}

// --- Level words ------------------------------------------------------------

struct float_case {
  const char* name;
  const char* text;
  bool number;       // false: no number, value untouched, nullptr returned
  float value;       // compared bit for bit
  std::size_t used;  // characters consumed, leading white space included
};

const float inf_f = std::numeric_limits<float>::infinity();

const float_case kFloatCases[] = {
    {"negative integer", "-50", true, -50.0f, 3},
    {"relative level", "45/100", true, 45.0f, 2},
    {"unit glued on", "-50dBm", true, -50.0f, 3},
    {"leading point", ".5", true, 0.5f, 2},
    {"plus sign", "+7", true, 7.0f, 2},
    {"point then exponent", "5.e3", true, 5000.0f, 4},
    {"trailing point", "5.", true, 5.0f, 2},
    {"hexadecimal reads zero", "0x10", true, 0.0f, 1},
    {"negative zero", "-0", true, -0.0f, 2},
    {"exponent without digits", "1e", true, 1.0f, 1},
    {"exponent sign without digits", "2E-", true, 2.0f, 1},
    {"beyond float range", "1e40", true, inf_f, 4},
    {"beyond float range negative", "-1e40", true, -inf_f, 5},
    {"tiny rounds to zero", "1e-50", true, 0.0f, 5},
    {"tiny negative rounds to negative zero", "-1e-50", true, -0.0f, 6},
    {"tiny stays subnormal", "1e-40", true, 1e-40f, 5},
    {"largest float", "3.4028234663852886e38", true, std::numeric_limits<float>::max(), 21},
    {"smallest subnormal", "1.401298464324817e-45", true,
     std::numeric_limits<float>::denorm_min(), 21},
    {"smallest normal", "1.1754943508222875e-38", true, std::numeric_limits<float>::min(), 22},
    // Just above the midpoint between 1 and the next float: correct rounding
    // goes up; rounding to double first lands on the midpoint and then down.
    {"no double rounding", "1.00000005960464477550", true, 1.00000011920928955078125f, 22},
    {"all white space kinds skipped", " \t\n\v\f\r-50", true, -50.0f, 9},
    {"exponent glued on twice", "1e5e6", true, 1e5f, 3},
    {"empty", "", false, 0.0f, 0},
    {"only white space", " \t\r\n", false, 0.0f, 0},
    {"lone minus", "-", false, 0.0f, 0},
    {"lone plus", "+", false, 0.0f, 0},
    {"lone point", ".", false, 0.0f, 0},
    {"inf", "inf", false, 0.0f, 0},
    {"INF", "INF", false, 0.0f, 0},
    {"nan", "nan", false, 0.0f, 0},
    {"signed nan", "-nan", false, 0.0f, 0},
    {"unit only", "dBm", false, 0.0f, 0},
    {"no-break space is not white space", "\xa0" "5", false, 0.0f, 0},
    {"sign then space", "- 5", false, 0.0f, 0},
};

TEST(DecimalScanFloat, LevelWords) {
  for (const auto& row : kFloatCases) {
    auto buf = exact_copy(row.text);
    float value = kFloatSentinel;
    const char* end = scan_float(buf.get(), &value);
    if (row.number) {
      ASSERT_NE(end, nullptr) << row.name;
      EXPECT_EQ(static_cast<std::size_t>(end - buf.get()), row.used) << row.name;
      EXPECT_EQ(bits(value), bits(row.value))
          << row.name << ": got " << value << ", want " << row.value;
    } else {
      EXPECT_EQ(end, nullptr) << row.name;
      EXPECT_EQ(bits(value), bits(kFloatSentinel)) << row.name << ": value was changed";
    }
  }
}

TEST(DecimalScanDouble, NoNumberLeavesValueUntouched) {
  for (const char* text : {"", "  ", "-", ".", "inf", "nan", "x1", "+.e1"}) {
    auto buf = exact_copy(text);
    double value = kDoubleSentinel;
    EXPECT_EQ(scan_double(buf.get(), &value), nullptr) << '"' << text << '"';
    EXPECT_EQ(bits(value), bits(kDoubleSentinel)) << '"' << text << '"';
  }
}

// --- Agreement with correctly rounded conversion ------------------------------

// Texts that are numbers from their first non-blank byte to their end. Each
// is read by strtof and strtod too (none is inf, nan or hexadecimal, so the
// C library reads exactly the same characters).
const char* const kReferenceTexts[] = {
    "0", "-0", "+0", "0.0", ".0", "0e999999", "-0.000e-99999",
    "1", "-1", "0.1", "-0.3", "1.5", "123.456", "-95", "-53", "44", "3.14159265358979323846",
    "16777216", "16777217", "16777219", "9007199254740993", "1e22", "1e23",
    // float range ends
    "3.4028234663852886e38", "3.4028235e38", "3.40282356e38", "3.4028235677973366e38",
    "3.40282357e38", "3.5e38", "4e38", "-4e38", "1e39", "1e40", "-1e40",
    "1.1754943508222875e-38", "1.1754942e-38", "1e-40", "-1e-40", "1.4e-45",
    "1.401298464324817e-45", "7.0064923216240853e-46", "7.0064923216240862e-46",
    "7.00649232162408535461864791644958065640130970938257885878534141944895541342930300743319094181060791015625e-46",
    "7e-46", "8e-46", "1e-46", "-1e-46", "1e-50", "-1e-50",
    // double range ends
    "1e308", "1.7976931348623157e308", "1.7976931348623158e308", "1.7976931348623159e308",
    "1e309", "-1e309", "2.2250738585072011e-308", "2.2250738585072012e-308",
    "4.9406564584124654e-324", "2.4703282292062327e-324", "2.4703282292062328e-324",
    "1e-320", "1e-400", "-1e-400",
    // huge and tiny exponents, long mantissas
    "1e99999999999999999999", "-1e99999999999999999999", "1e-99999999999999999999",
    "-1e-99999999999999999999", "1e2147483648", "1e-2147483649", "1e9223372036854775808",
    "0.00000000000000000000000000000000000000000000000000000000001e100",
    "0.0000000000000000000000000000000000000000001e84",
    "100000000000000000000000000000000000000000000000000e-100",
    "100000000000000000000000000000000000000000000000000e-20",
    "000000000000000000000000000000000000000000000000123e36",
    "123456789012345678901234567890123456789012345678901234567890e-30",
    "0.0000000000000000000000000000000000000000000000000000000000000000000000000123",
    "1.00000005960464477550", "1.000000059604644775390625", "1.0000000596046447753906250001",
    "0.1e-44", "10e-46", "340282356779733661637539395458142568447",
    "340282356779733661637539395458142568448", "340282366920938463463374607431768211456",
    " \t\n\v\f\r 2.5", "+.5e+1", "5.e3", "-.0001E-2",
};

TEST(DecimalScanFloat, MatchesCorrectlyRoundedConversion) {
  for (const char* text : kReferenceTexts) {
    auto buf = exact_copy(text);
    char* ref_end = nullptr;
    const float want = std::strtof(buf.get(), &ref_end);
    float got = kFloatSentinel;
    const char* end = scan_float(buf.get(), &got);
    ASSERT_NE(end, nullptr) << text;
    EXPECT_EQ(end, ref_end) << text;
    EXPECT_EQ(bits(got), bits(want)) << text << ": got " << got << ", want " << want;
  }
}

TEST(DecimalScanDouble, MatchesCorrectlyRoundedConversion) {
  for (const char* text : kReferenceTexts) {
    auto buf = exact_copy(text);
    char* ref_end = nullptr;
    const double want = std::strtod(buf.get(), &ref_end);
    double got = kDoubleSentinel;
    const char* end = scan_double(buf.get(), &got);
    ASSERT_NE(end, nullptr) << text;
    EXPECT_EQ(end, ref_end) << text;
    EXPECT_EQ(bits(got), bits(want)) << text << ": got " << got << ", want " << want;
  }
}

// Generated numbers of every shape (signs, points, exponents, long mantissas,
// exponents near both ends of both ranges), each followed by a byte that ends
// it, compared with strtof / strtod for value and length.
TEST(DecimalScan, GeneratedNumbersMatchCorrectlyRoundedConversion) {
  uint64_t state = 0x9e3779b97f4a7c15u;
  auto next = [&state](uint32_t bound) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<uint32_t>((state >> 33) % bound);
  };
  const char* const tails[] = {"", " dBm", "/100", "dBm", ",5", "e", "e+", ".", "x"};
  int mismatches = 0;
  for (int n = 0; n < 20000 && mismatches < 20; ++n) {
    std::string text;
    if (next(4) == 0) text += " \t\r\n"[next(4)];
    if (next(3) == 0) text += next(2) ? '-' : '+';
    const uint32_t int_digits = next(4) == 0 ? next(40) : next(6);
    const bool point = next(2) == 0;
    uint32_t frac_digits = point ? (next(4) == 0 ? next(40) : next(8)) : 0;
    if (int_digits + frac_digits == 0) frac_digits = 1 + next(3);
    const bool need_point = point || int_digits == 0;
    for (uint32_t i = 0; i < int_digits; ++i) text += static_cast<char>('0' + next(10));
    if (need_point) text += '.';
    for (uint32_t i = 0; i < frac_digits; ++i) text += static_cast<char>('0' + next(10));
    if (next(3) != 0) {
      text += next(2) ? 'e' : 'E';
      const uint32_t sign = next(3);
      if (sign == 1) text += '-';
      if (sign == 2) text += '+';
      const uint32_t range = next(6);
      const uint32_t exp = range == 0 ? next(10) : range == 1 ? 30 + next(20)
                         : range == 2 ? 290 + next(40) : range == 3 ? next(400)
                         : range == 4 ? 40 + next(10) : next(60);
      text += std::to_string(exp);
    }
    text += tails[next(sizeof tails / sizeof tails[0])];

    auto buf = exact_copy(text);
    char* ref_end_f = nullptr;
    char* ref_end_d = nullptr;
    const float want_f = std::strtof(buf.get(), &ref_end_f);
    const double want_d = std::strtod(buf.get(), &ref_end_d);
    float got_f = kFloatSentinel;
    double got_d = kDoubleSentinel;
    const char* end_f = scan_float(buf.get(), &got_f);
    const char* end_d = scan_double(buf.get(), &got_d);
    const bool ok = end_f == ref_end_f && end_d == ref_end_d && bits(got_f) == bits(want_f) &&
                    bits(got_d) == bits(want_d);
    if (!ok) {
      ++mismatches;
      ADD_FAILURE() << "\"" << text << "\": float " << got_f << " want " << want_f << ", double "
                    << got_d << " want " << want_d << ", length "
                    << (end_f ? end_f - buf.get() : -1) << " want " << (ref_end_f - buf.get());
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// The decimal point is "." whatever the locale says; in a locale whose point
// is "," a comma still ends the number.
TEST(DecimalScan, PointIsIndependentOfLocale) {
  const char* const names[] = {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8",
                               "fr_FR", "nl_NL.UTF-8", "ru_RU.UTF-8"};
  const char* chosen = nullptr;
  for (const char* name : names) {
    if (std::setlocale(LC_ALL, name) != nullptr &&
        std::strcmp(std::localeconv()->decimal_point, ",") == 0) {
      chosen = name;
      break;
    }
  }
  if (!chosen) {
    std::setlocale(LC_ALL, "C");
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  float f = kFloatSentinel;
  double d = kDoubleSentinel;
  const char* point = "-2.5e1 dBm";
  EXPECT_EQ(scan_float(point, &f), point + 6);
  EXPECT_EQ(scan_double(point, &d), point + 6);
  const char* comma = "1,5";
  float fc = kFloatSentinel;
  double dc = kDoubleSentinel;
  EXPECT_EQ(scan_float(comma, &fc), comma + 1);
  EXPECT_EQ(scan_double(comma, &dc), comma + 1);
  EXPECT_EQ(decimal_length("0.75"), 4u);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(f, -25.0f) << chosen;
  EXPECT_EQ(d, -25.0) << chosen;
  EXPECT_EQ(fc, 1.0f) << chosen;
  EXPECT_EQ(dc, 1.0) << chosen;
}

}  // namespace
