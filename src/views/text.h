// Output plumbing shared by apdump's formats: a buffered sink, the UTF-8
// reading of stored names and their escaping for each format, and numbers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Text collected in `buffer` and written to `file` in large pieces. With no
// file the text is dropped as it comes (for fuzzing the formats). `failed`
// tells whether any write fell short.
struct out_sink {
  std::FILE* file = nullptr;
  std::string buffer;
  bool failed = false;
};

void put(out_sink* out, std::string_view text);
void put(out_sink* out, char c);
// Writes what is buffered; returns 0 when every byte so far reached the file.
int flush_sink(out_sink* out);

// The length of the well-formed UTF-8 sequence that starts text[i] (1..4)
// with its code point in *cp, or 0 when the byte there starts none: a
// continuation byte, C0/C1/F5..FF, a sequence cut short, an overlong form,
// a surrogate or a value past U+10FFFF.
std::size_t utf8_sequence(std::string_view text, std::size_t i, uint32_t* cp);

// A stored name as a JSON string, quotes included. Well-formed UTF-8 is kept;
// '"' and '\' are escaped, control characters become \b \f \n \r \t or
// \u00XX, and each byte outside a well-formed sequence becomes the \u00XX
// escape of the Latin-1 character with that value (0xFF gives "\u00ff").
void put_json_string(out_sink* out, std::string_view name);

// A field of a CSV row: the bytes unchanged, in double quotes with inner
// quotes doubled when the field holds a comma, a quote, CR or LF.
void put_csv_field(out_sink* out, std::string_view field);

// A name as a person reads it: printable UTF-8 unchanged; each byte of a
// control character (C0, DEL, C1), of U+FFFE/U+FFFF and each byte outside a
// well-formed sequence as \xNN; a backslash as \\. *width (if given) gets the
// number of characters shown.
std::string display_name(std::string_view name, std::size_t* width = nullptr);

// Text for XML character data and attribute values: & < > " ' as entities.
// The input must already be display text (display_name), so every character
// is one XML allows.
void put_xml_text(out_sink* out, std::string_view text);

// The shortest text that reads back to exactly this float (std::to_chars):
// "-71.666664", "1e-45", "nan", "-inf".
std::string float_text(float v);
// A level for people: fixed point with `decimals` digits, "-0.0" shown as "0.0".
std::string fixed_text(double v, int decimals);
std::string int_text(int64_t v);
