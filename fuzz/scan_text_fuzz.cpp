// parse_scan on arbitrary bytes. Besides the record invariants, the record
// must equal what a plain re-reading of the report gives: every label
// searched afresh from each cell's start, each word copied out on its own
// before its number is converted.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "input/decimal.h"
#include "input/scan_text.h"
#include "radiomap/refpoint.h"

namespace {

constexpr auto npos = std::string_view::npos;

// First occurrence of `label` at or after `from`; with `either` it must be
// followed by '=' or ':'.
std::size_t find_label(std::string_view text, std::string_view label, std::size_t from,
                       bool either) {
  for (std::size_t at = text.find(label, from); at != npos; at = text.find(label, at + 1)) {
    if (!either) return at;
    const std::size_t sep = at + label.size();
    if (sep < text.size() && (text[sep] == '=' || text[sep] == ':')) return at;
  }
  return npos;
}

std::string word_at(std::string_view text, std::size_t from) {
  while (from < text.size() && fuzz::white(text[from])) ++from;
  std::string word;
  while (from < text.size() && !fuzz::white(text[from])) word.push_back(text[from++]);
  return word;
}

float level_of(const std::string& word) {
  float value = 0.0f;
  scan_float(word.c_str(), &value);
  return value;
}

void expected_record(std::string_view text, refpoint* r) {
  int count = 0;
  for (std::size_t cell = text.find("Cell"); cell != npos && count < MAX_APS;
       cell = text.find("Cell", cell + 4)) {
    ap_reading& ap = r->ap[count++];
    ap.seen = 1;
    if (std::size_t at = find_label(text, "Address:", cell, false); at != npos) {
      const std::string w = word_at(text, at + 8);
      std::memcpy(ap.address, w.data(), std::min<std::size_t>(w.size(), 31));
    }
    if (std::size_t at = find_label(text, "ESSID:", cell, false); at != npos) {
      if (at + 6 < text.size() && text[at + 6] == '"') {
        std::string w = word_at(text, at + 7);
        if (!w.empty()) w.pop_back();
        std::memcpy(ap.essid, w.data(), std::min<std::size_t>(w.size(), 32));
      }
    }
    if (std::size_t at = find_label(text, "Signal level", cell, true); at != npos) {
      ap.signal_level = level_of(word_at(text, at + 13));
    }
    if (std::size_t at = find_label(text, "Noise level", cell, true); at != npos) {
      ap.noise_level = level_of(word_at(text, at + 12));
    }
  }
  r->ap_count = count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const auto text = fuzz::text_copy(data, size);
  auto record = std::make_unique<refpoint>();
  std::memset(record.get(), 0, sizeof(refpoint));
  const int count = parse_scan(text.get(), record.get());

  FUZZ_REQUIRE(count == record->ap_count);
  fuzz::check_record(*record);
  for (int k = 0; k < count; ++k) FUZZ_REQUIRE(record->ap[k].seen == 1);
  FUZZ_REQUIRE(record->x == 0 && record->y == 0);

  auto expected = std::make_unique<refpoint>();
  std::memset(expected.get(), 0, sizeof(refpoint));
  expected_record(std::string_view(text.get()), expected.get());
  FUZZ_REQUIRE(expected->ap_count == count);
  for (int k = 0; k < MAX_APS; ++k) {
    const ap_reading& got = record->ap[k];
    const ap_reading& want = expected->ap[k];
    FUZZ_REQUIRE(std::memcmp(got.address, want.address, sizeof got.address) == 0);
    FUZZ_REQUIRE(std::memcmp(got.essid, want.essid, sizeof got.essid) == 0);
    FUZZ_REQUIRE(fuzz::same_float(got.signal_level, want.signal_level));
    FUZZ_REQUIRE(fuzz::same_float(got.noise_level, want.noise_level));
    FUZZ_REQUIRE(got.seen == want.seen);
  }
  return 0;
}
