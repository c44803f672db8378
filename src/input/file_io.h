// Whole-file loading, text appending and the system-error report.
#pragma once

#include <cstddef>
#include <memory>

// Reads the regular file at `path` whole, in binary, into a new buffer holding
// every byte unchanged followed by one NUL. Yields nothing (and sets errno)
// when the file cannot be opened, is not a regular file (directories, FIFOs
// and devices are refused without blocking), cannot be sized, when storage
// cannot be had, or when fewer bytes than the file size could be read.
// Prints nothing. When `size` is given it receives the file size.
std::unique_ptr<char[]> load_file(const char* path, std::size_t* size = nullptr);

// Appends the NUL-terminated `text` to `path`, creating it if absent, in text
// mode (on Windows each line feed becomes CR LF). Returns 0 only when every
// byte reached the file; 1 when it cannot be opened or the write or the
// close fails.
int append_text(const char* path, const char* text);

// Prints "<message>: <text of the current errno>\n" on standard error, or just
// the error text and the newline when the message is empty. Standard output is
// flushed first so the report lands after what the run already printed.
void report_system_error(const char* message);
