#include "input/scan_listing.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "input/decimal.h"

namespace {

constexpr std::size_t ADDRESS_LENGTH = 17;  // six octets of two digits and five ':'
static_assert(LISTED_ADDRESS_SIZE == ADDRESS_LENGTH + 1);

// The line starting at p, without its LF or CR LF; *next is the start of the
// following line, or null after the last.
std::string_view line_at(const char* p, const char** next) {
  const char* newline = std::strchr(p, '\n');
  const char* end = newline ? newline : p + std::strlen(p);
  *next = newline ? newline + 1 : nullptr;
  if (end > p && end[-1] == '\r') --end;
  return {p, static_cast<std::size_t>(end - p)};
}

std::string_view trim_left(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && is_space(s[i])) ++i;
  return s.substr(i);
}

bool is_hex(char c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

char upper(char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c; }

// True when s starts with a hardware address, copied in upper case to `to`.
bool read_address(std::string_view s, char* to) {
  if (s.size() < ADDRESS_LENGTH) return false;
  for (std::size_t i = 0; i < ADDRESS_LENGTH; ++i) {
    const bool colon = i % 3 == 2;
    if (colon ? s[i] != ':' : !is_hex(s[i])) return false;
  }
  for (std::size_t i = 0; i < ADDRESS_LENGTH; ++i) to[i] = upper(s[i]);
  to[ADDRESS_LENGTH] = '\0';
  return true;
}

// "Cell 01 - Address: <word>": true for such a line (indented or not), with
// `rest` the text after "Address:".
bool wireless_tools_cell(std::string_view line, std::string_view* rest) {
  std::string_view s = trim_left(line);
  if (!s.starts_with("Cell") || s.size() < 5 || !is_space(s[4])) return false;
  s = trim_left(s.substr(4));
  std::size_t digits = 0;
  while (digits < s.size() && is_digit(s[digits])) ++digits;
  if (digits == 0) return false;
  s = trim_left(s.substr(digits));
  if (!s.starts_with('-')) return false;
  s = trim_left(s.substr(1));
  if (!s.starts_with("Address:")) return false;
  *rest = trim_left(s.substr(8));
  return true;
}

// "BSS <address>" at the line's very start, the address ending the line or
// followed by "(on wlan0)" or white space.
bool iw_cell(std::string_view line, std::string_view* rest) {
  if (!line.starts_with("BSS ")) return false;
  const std::string_view s = line.substr(4);
  char address[LISTED_ADDRESS_SIZE];
  if (!read_address(s, address)) return false;
  if (s.size() > ADDRESS_LENGTH && s[ADDRESS_LENGTH] != '(' && !is_space(s[ADDRESS_LENGTH])) return false;
  *rest = s;
  return true;
}

// A level: the number at the start of s (white space first skipped), finite,
// and whether "dBm" follows it. False when there is none.
bool read_level(std::string_view s, float* level, bool* dbm) {
  // scan_float skips white space, line ends included: it must start on the
  // number itself, which then cannot run past the line.
  s = trim_left(s);
  if (s.empty()) return false;
  float value = 0.0f;
  const char* end = scan_float(s.data(), &value);
  if (!end || !std::isfinite(value)) return false;
  *level = value;
  *dbm = trim_left(s.substr(static_cast<std::size_t>(end - s.data()))).starts_with("dBm");
  return true;
}

// The level after the first "<label>=" or "<label>:" in the line.
bool labelled_level(std::string_view line, std::string_view label, bool* found, float* level,
                    bool* dbm) {
  for (std::size_t at = line.find(label); at != std::string_view::npos; at = line.find(label, at + 1)) {
    const std::size_t sep = at + label.size();
    if (sep < line.size() && (line[sep] == '=' || line[sep] == ':')) {
      *found = true;
      return read_level(line.substr(sep + 1), level, dbm);
    }
  }
  return false;
}

void copy_name(std::string_view name, char* to) {
  const std::size_t n = std::min(name.size(), LISTED_NAME_SIZE - 1);
  std::memcpy(to, name.data(), n);
  to[n] = '\0';
}

// What is known of the cell being read.
struct cell_state {
  listed_cell cell;
  bool address_ok;
  bool name_seen;
  bool signal_seen;
  bool signal_ok;
  bool noise_seen;
};

void start_cell(cell_state* c, std::string_view rest) {
  std::memset(c, 0, sizeof *c);
  c->address_ok = read_address(rest, c->cell.address);
  // A word longer than an address is no address.
  if (c->address_ok && rest.size() > ADDRESS_LENGTH && !is_space(rest[ADDRESS_LENGTH]) &&
      rest[ADDRESS_LENGTH] != '(') {
    c->address_ok = false;
  }
}

void wireless_tools_line(cell_state* c, std::string_view line) {
  const std::string_view s = trim_left(line);
  if (s.starts_with("ESSID:")) {
    // The name is everything between the first and the last quote; a line
    // without quotes ("ESSID:off/any") names no network.
    if (c->name_seen) return;
    c->name_seen = true;
    std::string_view value = s.substr(6);
    if (!value.starts_with('"')) return;
    value.remove_prefix(1);
    const std::size_t close = value.rfind('"');
    if (close != std::string_view::npos) value = value.substr(0, close);
    copy_name(value, c->cell.name);
    return;
  }
  if (!c->signal_seen) {
    bool dbm = false;
    c->signal_ok = labelled_level(s, "Signal level", &c->signal_seen, &c->cell.signal, &dbm);
    if (c->signal_ok) c->cell.in_dbm = dbm;
  }
  if (!c->noise_seen) {
    bool dbm = false;
    c->cell.has_noise = labelled_level(s, "Noise level", &c->noise_seen, &c->cell.noise, &dbm);
  }
}

void iw_line(cell_state* c, std::string_view line) {
  const std::string_view s = trim_left(line);
  if (s.starts_with("SSID:")) {
    if (c->name_seen) return;
    c->name_seen = true;
    std::string_view value = s.substr(5);
    if (value.starts_with(' ')) value.remove_prefix(1);
    copy_name(value, c->cell.name);
  } else if (s.starts_with("signal:") && !c->signal_seen) {
    c->signal_seen = true;
    bool dbm = false;
    c->signal_ok = read_level(s.substr(7), &c->cell.signal, &dbm);
    if (c->signal_ok) c->cell.in_dbm = dbm;
  }
}

// Keeps a finished cell, or counts it as left out.
void finish_cell(const cell_state& c, std::span<listed_cell> cells, listing_info* info) {
  if (!c.address_ok || !c.signal_ok) {
    ++info->left_out;
    return;
  }
  if (info->cells < cells.size()) cells[info->cells] = c.cell;
  ++info->cells;
}

// Length of a field's text: up to its NUL, at most `size` bytes.
std::size_t field_length(const char* field, std::size_t size) {
  const void* nul = std::memchr(field, '\0', size);
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - field) : size;
}

// Where a cell of the report begins and its lines are indented, as the
// wireless tools print them.
constexpr std::string_view CELL_INDENT = "          ";
constexpr std::string_view VALUE_INDENT = "                    ";

// The longest text one cell takes: the three lines with the largest numbers
// and a name whose every byte is printed in a 4-character escape, with the
// escapes of the two label words added at most once per 4 characters.
constexpr std::size_t LEVEL_CHARS = 32;  // a float's shortest form is 15 at most
constexpr std::size_t REPORT_CELL_MAX =
    CELL_INDENT.size() + 5 + 20 + 12 + ADDRESS_LENGTH + 1 +                  // Cell line
    VALUE_INDENT.size() + 13 + LEVEL_CHARS + 4 + 14 + LEVEL_CHARS + 4 + 1 +  // levels
    VALUE_INDENT.size() + 7 + (LISTED_NAME_SIZE - 1) * 7 / 4 + 2;            // name
static_assert(REPORT_CELL_MAX < 512);

char* put(char* out, std::string_view s) {
  std::memcpy(out, s.data(), s.size());
  return out + s.size();
}

char* put_level(char* out, float level, bool dbm) {
  char digits[LEVEL_CHARS];
  const auto result = std::to_chars(digits, digits + sizeof digits, level);
  out = put(out, std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
  return dbm ? put(out, " dBm") : out;
}

// Cell numbers from 01, as "%02zu" gives them.
char* put_number(char* out, std::size_t n) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, n);
  if (n < 10) *out++ = '0';
  return put(out, std::string_view(digits, static_cast<std::size_t>(result.ptr - digits)));
}

char* put_name(char* out, std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    const std::string_view rest = name.substr(i);
    if (rest.starts_with("Cell")) {
      out = put(out, "\\x43");
    } else if (rest.starts_with("Noise level")) {
      out = put(out, "\\x4e");
    } else {
      *out++ = name[i];
    }
  }
  return out;
}

}  // namespace

std::size_t read_scan_listing(const char* text, std::span<listed_cell> cells, listing_info* info) {
  *info = listing_info{listing_format::none, 0, 0};
  cell_state current;
  bool in_cell = false;
  for (const char* p = text; p != nullptr && *p != '\0';) {
    const std::string_view line = line_at(p, &p);
    std::string_view rest;
    const bool starts_wt = info->format != listing_format::iw && wireless_tools_cell(line, &rest);
    const bool starts_iw = !starts_wt && info->format != listing_format::wireless_tools && iw_cell(line, &rest);
    if (starts_wt || starts_iw) {
      if (in_cell) finish_cell(current, cells, info);
      info->format = starts_wt ? listing_format::wireless_tools : listing_format::iw;
      start_cell(&current, rest);
      in_cell = true;
    } else if (in_cell) {
      if (info->format == listing_format::iw) {
        iw_line(&current, line);
      } else {
        wireless_tools_line(&current, line);
      }
    }
  }
  if (in_cell) finish_cell(current, cells, info);
  if (info->format == listing_format::none &&
      (std::strstr(text, "Scan completed") || std::strstr(text, "No scan results"))) {
    info->format = listing_format::wireless_tools;
  }
  return info->cells;
}

void order_strongest_first(std::span<listed_cell> cells) {
  std::stable_sort(cells.begin(), cells.end(),
                   [](const listed_cell& a, const listed_cell& b) { return a.signal > b.signal; });
}

std::size_t scan_report_capacity(std::size_t count) {
  if (count > (SIZE_MAX - 1) / REPORT_CELL_MAX) return 0;
  return count * REPORT_CELL_MAX + 1;
}

std::size_t write_scan_report(std::span<const listed_cell> cells, char* out) {
  const bool any_noise =
      std::any_of(cells.begin(), cells.end(), [](const listed_cell& c) { return c.has_noise; });
  char* p = out;
  for (std::size_t k = 0; k < cells.size(); ++k) {
    const listed_cell& c = cells[k];
    p = put(p, CELL_INDENT);
    p = put(p, "Cell ");
    p = put_number(p, k + 1);
    p = put(p, " - Address: ");
    p = put(p, std::string_view(c.address, field_length(c.address, ADDRESS_LENGTH)));
    p = put(p, "\n");
    p = put(p, VALUE_INDENT);
    p = put(p, "Signal level=");
    p = put_level(p, c.signal, c.in_dbm);
    if (any_noise) {
      p = put(p, "  Noise level=");
      p = put_level(p, c.has_noise ? c.noise : 0.0f, c.in_dbm);
    }
    p = put(p, "\n");
    p = put(p, VALUE_INDENT);
    p = put(p, "ESSID:\"");
    p = put_name(p, std::string_view(c.name, field_length(c.name, LISTED_NAME_SIZE - 1)));
    p = put(p, "\"\n");
  }
  *p = '\0';
  return static_cast<std::size_t>(p - out);
}
