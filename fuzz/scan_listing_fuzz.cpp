// read_scan_listing, order_strongest_first and write_scan_report on
// arbitrary bytes. The cells read must equal a plain re-reading of the
// listing line by line (std::string, no pointers into the text), in an array
// of exactly their number and in one of half that; every cell must hold an
// upper-case hardware address, a terminated name without line ends and
// finite levels. Ordered, the cells must be strongest first with equal
// levels in their old order; written into a buffer of exactly the capacity
// promised, the report must be read back by apfold's own parser to the same
// first 16 addresses, names (as apfold cuts them) and levels bit for bit,
// and by the listing reader to the same cells.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "input/decimal.h"
#include "input/scan_listing.h"
#include "input/scan_text.h"
#include "radiomap/refpoint.h"

namespace {

// --- the plain re-reading ---------------------------------------------------

struct plain_cell {
  bool address_ok = false;
  std::string address;
  bool name_seen = false;
  std::string name;
  bool signal_seen = false;
  bool signal_ok = false;
  float signal = 0;
  bool in_dbm = false;
  bool noise_seen = false;
  bool has_noise = false;
  float noise = 0;
};

std::string ltrim(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && fuzz::white(s[i])) ++i;
  return s.substr(i);
}

bool starts(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

bool hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool address_at(const std::string& s) {
  if (s.size() < 17) return false;
  for (std::size_t i = 0; i < 17; ++i) {
    if (i % 3 == 2 ? s[i] != ':' : !hex(s[i])) return false;
  }
  return true;
}

std::string upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

bool level_of(const std::string& text, float* level, bool* dbm) {
  const std::string s = ltrim(text);
  if (s.empty()) return false;
  float value = 0;
  const char* end = scan_float(s.c_str(), &value);
  if (!end || !std::isfinite(value)) return false;
  *level = value;
  *dbm = starts(ltrim(s.substr(static_cast<std::size_t>(end - s.c_str()))), "dBm");
  return true;
}

bool labelled(const std::string& line, const std::string& label, bool* seen, float* level, bool* dbm) {
  for (std::size_t at = line.find(label); at != std::string::npos; at = line.find(label, at + 1)) {
    const std::size_t sep = at + label.size();
    if (sep < line.size() && (line[sep] == '=' || line[sep] == ':')) {
      *seen = true;
      return level_of(line.substr(sep + 1), level, dbm);
    }
  }
  return false;
}

struct plain_listing {
  listing_format format = listing_format::none;
  std::vector<plain_cell> cells;
};

plain_listing plain_read(const std::string& text) {
  plain_listing l;
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (end == std::string::npos) {
      if (start < text.size()) lines.push_back(line);
      break;
    }
    lines.push_back(line);
    start = end + 1;
  }
  for (const std::string& line : lines) {
    // A wireless-tools cell: "Cell", white space, digits, "-", "Address:".
    bool wt = false;
    std::string rest;
    if (l.format != listing_format::iw) {
      std::string s = ltrim(line);
      if (starts(s, "Cell") && s.size() > 4 && fuzz::white(s[4])) {
        s = ltrim(s.substr(4));
        std::size_t digits = 0;
        while (digits < s.size() && s[digits] >= '0' && s[digits] <= '9') ++digits;
        if (digits > 0) {
          s = ltrim(s.substr(digits));
          if (starts(s, "-")) {
            s = ltrim(s.substr(1));
            if (starts(s, "Address:")) {
              wt = true;
              rest = ltrim(s.substr(8));
            }
          }
        }
      }
    }
    const bool iw = !wt && l.format != listing_format::wireless_tools && starts(line, "BSS ") &&
                    address_at(line.substr(4)) &&
                    (line.size() == 21 || line[21] == '(' || fuzz::white(line[21]));
    if (iw) rest = line.substr(4);
    if (wt || iw) {
      l.format = wt ? listing_format::wireless_tools : listing_format::iw;
      plain_cell c;
      c.address_ok = address_at(rest) && (rest.size() == 17 || rest[17] == '(' || fuzz::white(rest[17]));
      if (c.address_ok) c.address = upper(rest.substr(0, 17));
      l.cells.push_back(c);
      continue;
    }
    if (l.cells.empty()) continue;
    plain_cell& c = l.cells.back();
    const std::string t = ltrim(line);
    if (l.format == listing_format::iw) {
      if (starts(t, "SSID:")) {
        if (c.name_seen) continue;
        c.name_seen = true;
        std::string v = t.substr(5);
        if (starts(v, " ")) v = v.substr(1);
        c.name = v.substr(0, LISTED_NAME_SIZE - 1);
      } else if (starts(t, "signal:") && !c.signal_seen) {
        c.signal_seen = true;
        c.signal_ok = level_of(t.substr(7), &c.signal, &c.in_dbm);
      }
      continue;
    }
    if (starts(t, "ESSID:")) {
      if (c.name_seen) continue;
      c.name_seen = true;
      std::string v = t.substr(6);
      if (!starts(v, "\"")) continue;
      v = v.substr(1);
      const std::size_t close = v.rfind('"');
      if (close != std::string::npos) v = v.substr(0, close);
      c.name = v.substr(0, LISTED_NAME_SIZE - 1);
      continue;
    }
    if (!c.signal_seen) c.signal_ok = labelled(t, "Signal level", &c.signal_seen, &c.signal, &c.in_dbm);
    if (!c.noise_seen) {
      bool dbm = false;
      c.has_noise = labelled(t, "Noise level", &c.noise_seen, &c.noise, &dbm);
    }
  }
  if (l.format == listing_format::none &&
      (text.find("Scan completed") != std::string::npos || text.find("No scan results") != std::string::npos)) {
    l.format = listing_format::wireless_tools;
  }
  return l;
}

// --- checks ---------------------------------------------------------------------

void check_cell(const listed_cell& c) {
  FUZZ_REQUIRE(c.address[17] == '\0');
  for (std::size_t i = 0; i < 17; ++i) {
    const char a = c.address[i];
    FUZZ_REQUIRE(i % 3 == 2 ? a == ':' : ((a >= '0' && a <= '9') || (a >= 'A' && a <= 'F')));
  }
  const void* nul = std::memchr(c.name, '\0', sizeof c.name);
  FUZZ_REQUIRE(nul != nullptr);
  const std::string_view name(c.name, static_cast<std::size_t>(static_cast<const char*>(nul) - c.name));
  FUZZ_REQUIRE(name.find('\n') == std::string_view::npos);
  FUZZ_REQUIRE(std::isfinite(c.signal));
  FUZZ_REQUIRE(std::isfinite(c.noise));
  if (!c.has_noise) FUZZ_REQUIRE(fuzz::same_float(c.noise, 0.0f));
}

// A name as the report writes it: "Cell" and "Noise level" with their
// first letter escaped.
std::string escaped(const std::string& name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name.compare(i, 4, "Cell") == 0) {
      out += "\\x43";
    } else if (name.compare(i, 11, "Noise level") == 0) {
      out += "\\x4e";
    } else {
      out += name[i];
    }
  }
  return out;
}

// apfold's reading of `ESSID:"<name>"`: the first word after the quote,
// less its last byte, at most 32 bytes.
std::string apfold_name(const std::string& written) {
  const std::string line = written + "\"";
  std::size_t start = 0;
  while (start < line.size() && fuzz::white(line[start])) ++start;
  std::size_t end = start;
  while (end < line.size() && !fuzz::white(line[end])) ++end;
  std::string word = line.substr(start, end - start);
  if (!word.empty()) word.pop_back();
  return word.substr(0, 32);
}

std::vector<listed_cell> read_all(const char* text, listing_info* info) {
  const std::size_t count = read_scan_listing(text, {}, info);
  std::vector<listed_cell> cells(count);
  listing_info again{};
  FUZZ_REQUIRE(read_scan_listing(text, cells, &again) == count);
  FUZZ_REQUIRE(again.cells == count && again.left_out == info->left_out && again.format == info->format);
  return cells;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const auto text = fuzz::text_copy(data, size);
  listing_info info{};
  const std::vector<listed_cell> cells = read_all(text.get(), &info);
  const std::size_t n = cells.size();
  FUZZ_REQUIRE(info.cells == n);
  for (const listed_cell& c : cells) check_cell(c);

  // The plain re-reading agrees, cell by cell.
  const plain_listing plain = plain_read(std::string(text.get()));
  FUZZ_REQUIRE(plain.format == info.format);
  std::size_t kept = 0;
  std::size_t left_out = 0;
  for (const plain_cell& p : plain.cells) {
    if (!p.address_ok || !p.signal_ok) {
      ++left_out;
      continue;
    }
    FUZZ_REQUIRE(kept < n);
    const listed_cell& c = cells[kept++];
    FUZZ_REQUIRE(p.address == c.address);
    FUZZ_REQUIRE(p.name == c.name);
    FUZZ_REQUIRE(fuzz::same_float(p.signal, c.signal));
    FUZZ_REQUIRE(p.in_dbm == c.in_dbm);
    FUZZ_REQUIRE(p.has_noise == c.has_noise);
    if (p.has_noise) FUZZ_REQUIRE(fuzz::same_float(p.noise, c.noise));
  }
  FUZZ_REQUIRE(kept == n && left_out == info.left_out);

  // A smaller array holds the first cells, and the count stays.
  {
    std::unique_ptr<listed_cell[]> half(new listed_cell[n / 2 + 1]);
    listing_info partial{};
    FUZZ_REQUIRE(read_scan_listing(text.get(), std::span<listed_cell>(half.get(), n / 2), &partial) == n);
    for (std::size_t k = 0; k < n / 2; ++k) FUZZ_REQUIRE(std::memcmp(&half[k], &cells[k], sizeof(listed_cell)) == 0);
  }

  // Strongest first; among equal levels, the listing's order.
  std::vector<listed_cell> ordered = cells;
  order_strongest_first(ordered);
  std::vector<std::size_t> rank(n);
  for (std::size_t k = 0; k < n; ++k) rank[k] = k;
  std::stable_sort(rank.begin(), rank.end(),
                   [&](std::size_t a, std::size_t b) { return cells[a].signal > cells[b].signal; });
  for (std::size_t k = 0; k < n; ++k) {
    FUZZ_REQUIRE(std::memcmp(&ordered[k], &cells[rank[k]], sizeof(listed_cell)) == 0);
  }

  // Written into exactly the room promised.
  const std::size_t capacity = scan_report_capacity(n);
  FUZZ_REQUIRE(capacity > 0);
  std::unique_ptr<char[]> report(new char[capacity]);
  const std::size_t length = write_scan_report(ordered, report.get());
  FUZZ_REQUIRE(length < capacity && report[length] == '\0' && std::strlen(report.get()) == length);

  // apfold reads the first 16 back exactly.
  bool any_noise = false;
  for (const listed_cell& c : ordered) any_noise = any_noise || c.has_noise;
  auto record = std::make_unique<refpoint>();
  std::memset(record.get(), 0, sizeof(refpoint));
  const int parsed = parse_scan(report.get(), record.get());
  FUZZ_REQUIRE(static_cast<std::size_t>(parsed) == std::min<std::size_t>(n, MAX_APS));
  for (int k = 0; k < parsed; ++k) {
    const listed_cell& c = ordered[static_cast<std::size_t>(k)];
    const ap_reading& ap = record->ap[k];
    FUZZ_REQUIRE(std::strcmp(ap.address, c.address) == 0);
    const std::string name = apfold_name(escaped(c.name));
    FUZZ_REQUIRE(std::string(ap.essid, std::find(ap.essid, ap.essid + 32, '\0')) == name);
    FUZZ_REQUIRE(fuzz::same_float(ap.signal_level, c.signal));
    FUZZ_REQUIRE(fuzz::same_float(ap.noise_level, c.has_noise ? c.noise : 0.0f));
  }

  // And the listing reader reads the report back to the same cells.
  listing_info back_info{};
  const std::vector<listed_cell> back = read_all(report.get(), &back_info);
  FUZZ_REQUIRE(back.size() == n && back_info.left_out == 0);
  FUZZ_REQUIRE(back_info.format == listing_format::none ? n == 0 : back_info.format == listing_format::wireless_tools);
  for (std::size_t k = 0; k < n; ++k) {
    const listed_cell& a = ordered[k];
    const listed_cell& b = back[k];
    FUZZ_REQUIRE(std::strcmp(a.address, b.address) == 0);
    FUZZ_REQUIRE(escaped(a.name).substr(0, LISTED_NAME_SIZE - 1) == b.name);
    FUZZ_REQUIRE(fuzz::same_float(a.signal, b.signal));
    FUZZ_REQUIRE(a.in_dbm == b.in_dbm);
    FUZZ_REQUIRE(b.has_noise == any_noise);
    FUZZ_REQUIRE(fuzz::same_float(b.noise, a.has_noise ? a.noise : 0.0f));
  }
  return 0;
}
