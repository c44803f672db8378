// Whole-file loading and text appending.
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

// Storage for loading file after file: it grows to the largest file loaded
// and is kept, so a run over many files allocates a few times, not per file.
struct text_buffer {
  std::unique_ptr<char[]> data;
  std::size_t capacity = 0;  // bytes at data
};

// load_file into *buffer: returns 0 when data holds every byte of the file
// followed by one NUL and *size the file size; otherwise 1, with errno set,
// for the same reasons load_file yields nothing (storage that cannot be had
// is storage for a file larger than any before). The buffer stays usable
// after a failure; only its content is lost.
int load_file_into(const char* path, text_buffer* buffer, std::size_t* size);

// load_file_into in two steps, for a caller that opens files ahead of
// reading them. open_regular_file opens `path` for reading, refuses anything
// but a regular file as load_file does and sizes it: the descriptor, or -1
// with errno set. load_open_file then reads it whole into *buffer, with a NUL
// after it, and closes it: 0, or 1 with errno set.
int open_regular_file(const char* path, std::size_t* size);
int load_open_file(int fd, std::size_t size, text_buffer* buffer);

// Appends the NUL-terminated `text` to `path`, creating it if absent, in text
// mode (on Windows each line feed becomes CR LF). Returns 0 only when every
// byte reached the file; 1 when it cannot be opened or the write or the
// close fails.
int append_text(const char* path, const char* text);
