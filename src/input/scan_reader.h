// The scan files of a run, in the order they are folded: scan1-1 ...
// scan1-<S>, scan2-1, ... scan<N>-<S>.
//
// A survey's run mostly waits for the system to open and copy its files, so
// a second thread loads them ahead, a bounded number at a time, while the
// caller parses the ones already loaded; the parsing then costs hardly any
// wall time. With a single usable CPU, or when no thread can be started,
// each file is loaded by the caller when it asks for it. Either way the files
// are opened one after another in the order above, and none after the first
// that cannot be loaded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// "scan<i>-<j>", as printf's "scan%d-%d" writes it for positive i and j,
// without a format parse per file. `name` has room for 32 bytes.
void format_scan_name(char* name, int32_t i, int32_t j);

struct scan_reader;
struct scan_reader_stop {
  void operator()(scan_reader* reader) const;  // stops the loading thread, waits for it
};
using scan_reader_ptr = std::unique_ptr<scan_reader, scan_reader_stop>;

enum class scan_loading {
  automatic,  // ahead on a second thread when more than one CPU is usable
  in_caller,  // each file when asked for
};

// A reader of the n x s scan files (none when n or s is below 1); null when
// its storage cannot be had.
scan_reader_ptr scan_reader_start(int32_t n, int32_t s,
                                  scan_loading loading = scan_loading::automatic);

// The next file in order, as load_file_into gives it: 0 with *text holding
// its bytes and a NUL (valid until the next call) and *size its size; 1 with
// errno set when it cannot be loaded, which ends the files. Asking past the
// last file, or again after a failure, yields 1 with errno EINVAL.
int scan_reader_next(scan_reader* reader, const char** text, std::size_t* size);

// Whether the files are being loaded on a second thread.
bool scan_reader_ahead(const scan_reader* reader);
