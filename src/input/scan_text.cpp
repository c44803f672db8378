#include "input/scan_text.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "input/decimal.h"

namespace {

// Finds the first occurrence of a label at or after a position. Cells are
// visited in increasing order, so the answer for the previous cell is still
// the answer for this one unless it lies before the new start: remembering it
// keeps a report that lacks a label linear instead of cells x size.
//
// The text is searched as the C string it is, with strstr: it stops at the
// terminator without measuring the text first, and the C libraries filter
// candidates many bytes at a time, where a search by first character stops
// at every "C" of "Channel" and "CCMP".
struct label_search {
  std::string_view label;  // a literal, so data() is terminated for strstr
  bool either_separator;   // the label may end in "=" or ":"
  const char* next = nullptr;
  bool searched = false;
};

const char* find_label(label_search& s, const char* from) {
  if (s.searched && (s.next == nullptr || s.next >= from)) return s.next;
  s.searched = true;
  const char* at = from;
  for (;;) {
    at = std::strstr(at, s.label.data());
    if (!at || !s.either_separator) break;
    // At worst the terminator, which is neither separator.
    const char sep = at[s.label.size()];
    if (sep == '=' || sep == ':') break;
    ++at;
  }
  s.next = at;
  return at;
}

// True for the bytes that end a word: white space and the terminator.
constexpr auto word_ends = [] {
  struct table {
    bool at[256];
  } t{};
  for (char c : {'\0', ' ', '\t', '\n', '\v', '\f', '\r'}) {
    t.at[static_cast<unsigned char>(c)] = true;
  }
  return t;
}();

// The white-space-delimited word at or after `from` (leading white space
// skipped); empty when the text ends first.
std::string_view word_at(const char* from) {
  while (is_space(*from)) ++from;
  const char* end = from;
  while (!word_ends.at[static_cast<unsigned char>(*end)]) ++end;
  return {from, static_cast<std::size_t>(end - from)};
}

void copy_field(char* field, std::size_t capacity, std::string_view word) {
  std::memcpy(field, word.data(), std::min(word.size(), capacity));
}

// The leading number of the word at or after `from`, 0 without one.
// scan_float skips the same white space as word_at and stops at the first
// byte that cannot continue a number, which the word's end always is, so
// the word need not be delimited first.
float level_at(const char* from) {
  float value = 0.0f;
  scan_float(from, &value);
  return value;
}

}  // namespace

int parse_scan(const char* text, refpoint* record) {
  constexpr std::string_view cell_word = "Cell";
  label_search address{"Address:", false};
  label_search essid{"ESSID:", false};
  label_search signal{"Signal level", true};
  label_search noise{"Noise level", true};

  int count = 0;
  const char* cell = std::strstr(text, cell_word.data());
  while (cell != nullptr && count < MAX_APS) {
    ap_reading& ap = record->ap[count];
    std::memset(&ap, 0, sizeof ap);
    ap.seen = 1;

    if (const char* at = find_label(address, cell)) {
      copy_field(ap.address, sizeof ap.address - 1, word_at(at + address.label.size()));
    }
    if (const char* at = find_label(essid, cell)) {
      const char* quote = at + essid.label.size();
      if (*quote == '"') {
        std::string_view word = word_at(quote + 1);
        if (!word.empty()) word.remove_suffix(1);
        copy_field(ap.essid, sizeof ap.essid, word);
      }
    }
    if (const char* at = find_label(signal, cell)) {
      ap.signal_level = level_at(at + signal.label.size() + 1);
    }
    if (const char* at = find_label(noise, cell)) {
      ap.noise_level = level_at(at + noise.label.size() + 1);
    }

    ++count;
    cell = std::strstr(cell + cell_word.size(), cell_word.data());
  }
  record->ap_count = count;
  return count;
}
