// The decimal scanner against the C library, in the "C" locale. For the
// number at the start of any text (after white space):
//   - the scanner consumes exactly the longest prefix in the accepted syntax;
//   - the float and double it gives equal strtof / strtod of that prefix, bit
//     for bit, and strtof / strtod consume that whole prefix;
//   - unless the text there reads as a hexadecimal, inf or nan form (which
//     the C library takes and the scanner does not), strtod on the original
//     text stops exactly where the scanner does.
#include <cctype>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "decimal_model.h"
#include "fuzz_support.h"
#include "input/decimal.h"

namespace {

bool starts_with_nocase(const char* p, const char* word) {
  for (; *word; ++p, ++word) {
    if (std::tolower(static_cast<unsigned char>(*p)) != *word) return false;
  }
  return true;
}

// A form that strtod reads further than the decimal syntax does.
bool library_only_form(const char* p) {
  if (*p == '+' || *p == '-') ++p;
  return starts_with_nocase(p, "0x") || starts_with_nocase(p, "inf") ||
         starts_with_nocase(p, "nan");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!std::setlocale(LC_ALL, "C")) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const auto text = fuzz::text_copy(data, size);
  const char* s = text.get();
  const char* p = s;
  while (fuzz::white(*p)) ++p;
  const std::size_t len = fuzz::longest_decimal(p);

  float f = 0.0f;
  double d = 0.0;
  const char* f_end = scan_float(s, &f);
  const char* d_end = scan_double(s, &d);

  if (!library_only_form(p)) {
    char* lib_end = nullptr;
    (void)std::strtod(s, &lib_end);
    // Without a number strtod reports the start of the text, not p.
    FUZZ_REQUIRE(lib_end == (len == 0 ? s : p + len));
  }
  if (len == 0) {
    FUZZ_REQUIRE(f_end == nullptr && d_end == nullptr);
    return 0;
  }
  FUZZ_REQUIRE(f_end == p + len && d_end == p + len);

  // The number alone, in a buffer of exactly its size.
  std::unique_ptr<char[]> number(new char[len + 1]);
  std::memcpy(number.get(), p, len);
  number[len] = '\0';
  char* lib_f_end = nullptr;
  char* lib_d_end = nullptr;
  const float lib_f = std::strtof(number.get(), &lib_f_end);
  const double lib_d = std::strtod(number.get(), &lib_d_end);
  FUZZ_REQUIRE(lib_f_end == number.get() + len && lib_d_end == number.get() + len);

  uint32_t fa, fb;
  std::memcpy(&fa, &f, 4);
  std::memcpy(&fb, &lib_f, 4);
  FUZZ_REQUIRE(fa == fb);
  uint64_t da, db;
  std::memcpy(&da, &d, 8);
  std::memcpy(&db, &lib_d, 8);
  FUZZ_REQUIRE(da == db);
  return 0;
}
