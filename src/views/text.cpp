#include "views/text.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace {

constexpr std::size_t SINK_CHUNK = std::size_t{1} << 16;
constexpr char HEX[] = "0123456789abcdef";

void put_hex_byte(std::string* s, unsigned char b) {
  s->push_back(HEX[b >> 4]);
  s->push_back(HEX[b & 15]);
}

}  // namespace

void put(out_sink* out, std::string_view text) {
  out->buffer.append(text);
  if (out->buffer.size() >= SINK_CHUNK) flush_sink(out);
}

void put(out_sink* out, char c) {
  out->buffer.push_back(c);
  if (out->buffer.size() >= SINK_CHUNK) flush_sink(out);
}

int flush_sink(out_sink* out) {
  if (out->file && !out->failed && !out->buffer.empty()) {
    if (std::fwrite(out->buffer.data(), 1, out->buffer.size(), out->file) != out->buffer.size()) {
      out->failed = true;
    }
  }
  out->buffer.clear();
  return out->failed ? 1 : 0;
}

std::size_t utf8_sequence(std::string_view text, std::size_t i, uint32_t* cp) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  }
  std::size_t length = 0;
  uint32_t value = 0;
  uint32_t least = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
    least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
    least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
    least = 0x10000;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(text[i + k]);
    if ((b & 0xC0) != 0x80) return 0;
    value = value << 6 | (b & 0x3Fu);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return length;
}

void put_json_string(out_sink* out, std::string_view name) {
  std::string s = "\"";
  for (std::size_t i = 0; i < name.size();) {
    uint32_t cp = 0;
    const std::size_t length = utf8_sequence(name, i, &cp);
    if (length == 0) {  // a stray byte: its Latin-1 character
      s += "\\u00";
      put_hex_byte(&s, static_cast<unsigned char>(name[i]));
      ++i;
      continue;
    }
    if (cp == '"') {
      s += "\\\"";
    } else if (cp == '\\') {
      s += "\\\\";
    } else if (cp == '\b') {
      s += "\\b";
    } else if (cp == '\f') {
      s += "\\f";
    } else if (cp == '\n') {
      s += "\\n";
    } else if (cp == '\r') {
      s += "\\r";
    } else if (cp == '\t') {
      s += "\\t";
    } else if (cp < 0x20) {
      s += "\\u00";
      put_hex_byte(&s, static_cast<unsigned char>(cp));
    } else {
      s.append(name.substr(i, length));
    }
    i += length;
  }
  s += '"';
  put(out, s);
}

void put_csv_field(out_sink* out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    put(out, field);
    return;
  }
  std::string s = "\"";
  for (char c : field) {
    if (c == '"') s += '"';
    s += c;
  }
  s += '"';
  put(out, s);
}

std::string display_name(std::string_view name, std::size_t* width) {
  std::string s;
  std::size_t shown = 0;
  for (std::size_t i = 0; i < name.size();) {
    uint32_t cp = 0;
    std::size_t length = utf8_sequence(name, i, &cp);
    const bool printable = length > 0 && cp >= 0x20 && cp != 0x7F && !(cp >= 0x80 && cp < 0xA0) &&
                           cp != 0xFFFE && cp != 0xFFFF;
    if (length == 0) length = 1;
    if (printable && cp == '\\') {
      s += "\\\\";
      shown += 2;
    } else if (printable) {
      s.append(name.substr(i, length));
      shown += 1;
    } else {
      for (std::size_t k = 0; k < length; ++k) {
        s += "\\x";
        put_hex_byte(&s, static_cast<unsigned char>(name[i + k]));
        shown += 4;
      }
    }
    i += length;
  }
  if (width) *width = shown;
  return s;
}

void put_xml_text(out_sink* out, std::string_view text) {
  std::string s;
  for (char c : text) {
    switch (c) {
      case '&': s += "&amp;"; break;
      case '<': s += "&lt;"; break;
      case '>': s += "&gt;"; break;
      case '"': s += "&quot;"; break;
      case '\'': s += "&apos;"; break;
      default: s += c;
    }
  }
  put(out, s);
}

std::string float_text(float v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string fixed_text(double v, int decimals) {
  if (!std::isfinite(v)) return float_text(static_cast<float>(v));
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  if (r.ec != std::errc{}) return "?";
  std::string s(buf, r.ptr);
  if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
  return s;
}

std::string int_text(int64_t v) { return std::to_string(v); }
