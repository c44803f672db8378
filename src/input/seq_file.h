// The reference point sequence file "seq.txt": one entry per reference point,
// in survey order, each a sequence number and the point's grid coordinates,
// as in "1\t(0,0)". The separator before "(" is any run of white space,
// possibly empty; white space may precede each coordinate, but the comma must
// follow the x digits directly.
#pragma once

#include <cstdint>

inline constexpr const char* SEQ_FILE_NAME = "seq.txt";

// seq_parse statuses.
inline constexpr int SEQ_OK = 0;
inline constexpr int SEQ_CANNOT_LOAD = 2;   // "seq.txt" missing or unreadable
inline constexpr int SEQ_COUNT = 3;         // entries taken differ from n (n < 0)
inline constexpr int SEQ_MALFORMED = 4;     // entry malformed, missing or out of order

// Reads the first n entries of the NUL-terminated sequence text into xs and ys
// (each of n elements). Entry i+1 must carry the number i+1. Prints its own
// report on standard output on failure. The arrays keep whatever was converted
// before a failure.
int seq_parse_text(const char* text, int32_t* xs, int32_t* ys, int32_t n);

// Loads "seq.txt" from the working directory and parses it as above; a file
// that cannot be loaded gives the system-error report
// "Failed to open seq.txt" and SEQ_CANNOT_LOAD.
int seq_parse(int32_t* xs, int32_t* ys, int32_t n);

// What a whole sequence text holds, read entry by entry as seq_parse_text
// reads them.
struct seq_extent {
  int32_t count;     // entries, numbered 1 .. count in order
  int32_t last_x;    // coordinates of entry `count`; 0 when there is none
  int32_t last_y;
  bool closed;       // the last entry has its ")", so text appended after it starts a new one
  // When the text holds more than those entries (SEQ_MALFORMED): whether the
  // next one reads as an entry at all, and if so the number it carries.
  bool next_converted;
  int32_t next_number;
};

// Counts the entries of the NUL-terminated sequence text: SEQ_OK when it is
// entries 1 .. count and white space; SEQ_MALFORMED when something else
// follows entry `count` (an entry numbered otherwise, or one that does not
// convert). Either way *extent describes the entries that read. Prints
// nothing.
int seq_count_text(const char* text, seq_extent* extent);
