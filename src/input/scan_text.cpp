#include "input/scan_text.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "input/decimal.h"

namespace {

constexpr auto npos = std::string_view::npos;

// Finds the first occurrence of a label at or after a position. Cells are
// visited in increasing order, so the answer for the previous cell is still
// the answer for this one unless it lies before the new start: remembering it
// keeps a report that lacks a label linear instead of cells x size.
struct label_search {
  std::string_view label;
  bool either_separator;  // the label may end in "=" or ":"
  std::size_t next = 0;
  bool searched = false;
};

std::size_t find_label(std::string_view text, label_search& s, std::size_t from) {
  if (s.searched && (s.next == npos || s.next >= from)) return s.next;
  s.searched = true;
  std::size_t at = from;
  for (;;) {
    at = text.find(s.label, at);
    if (at == npos || !s.either_separator) break;
    const std::size_t sep = at + s.label.size();
    if (sep < text.size() && (text[sep] == '=' || text[sep] == ':')) break;
    ++at;
  }
  s.next = at;
  return at;
}

// The white-space-delimited word at or after `from` (leading white space
// skipped); empty when the text ends first.
std::string_view word_at(std::string_view text, std::size_t from) {
  while (from < text.size() && is_space(text[from])) ++from;
  std::size_t end = from;
  while (end < text.size() && !is_space(text[end])) ++end;
  return text.substr(std::min(from, text.size()), end - std::min(from, text.size()));
}

void copy_field(char* field, std::size_t capacity, std::string_view word) {
  std::memcpy(field, word.data(), std::min(word.size(), capacity));
}

float level_at(std::string_view text, std::size_t from) {
  const std::string_view word = word_at(text, from);
  float value = 0.0f;
  // The word ends at white space or the end of the text, and a number
  // contains neither, so converting in place reads the word's leading number.
  if (!word.empty()) scan_float(word.data(), &value);
  return value;
}

}  // namespace

int parse_scan(const char* text_cstr, refpoint* record) {
  const std::string_view text(text_cstr);
  constexpr std::string_view cell_word = "Cell";
  label_search address{"Address:", false};
  label_search essid{"ESSID:", false};
  label_search signal{"Signal level", true};
  label_search noise{"Noise level", true};

  int count = 0;
  std::size_t cell = text.find(cell_word);
  while (cell != npos && count < MAX_APS) {
    ap_reading& ap = record->ap[count];
    std::memset(&ap, 0, sizeof ap);
    ap.seen = 1;

    if (std::size_t at = find_label(text, address, cell); at != npos) {
      copy_field(ap.address, sizeof ap.address - 1, word_at(text, at + address.label.size()));
    }
    if (std::size_t at = find_label(text, essid, cell); at != npos) {
      const std::size_t quote = at + essid.label.size();
      if (quote < text.size() && text[quote] == '"') {
        std::string_view word = word_at(text, quote + 1);
        if (!word.empty()) word.remove_suffix(1);
        copy_field(ap.essid, sizeof ap.essid, word);
      }
    }
    if (std::size_t at = find_label(text, signal, cell); at != npos) {
      ap.signal_level = level_at(text, at + signal.label.size() + 1);
    }
    if (std::size_t at = find_label(text, noise, cell); at != npos) {
      ap.noise_level = level_at(text, at + noise.label.size() + 1);
    }

    ++count;
    cell = text.find(cell_word, cell + cell_word.size());
  }
  record->ap_count = count;
  return count;
}
