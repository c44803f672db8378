// The few file-system and process calls that POSIX systems and Windows spell
// differently, as plain functions. Everything else in the library is standard
// C++. Descriptors are the C runtime's (open / _open). Every failure returns
// -1 (or null) with errno set, in the C runtime's errno values, so callers
// report it the same way on both.
#pragma once

#include <cstddef>
#include <cstdio>

// Opens an existing file for reading, in binary, not inherited by child
// processes and, on POSIX, without waiting for a writer when it is a FIFO.
// A directory is refused here on Windows (EISDIR) and by the caller's
// open_file_info check on POSIX.
int open_for_reading(const char* path);

// Creates `path`, which must not exist yet (EEXIST otherwise), for writing in
// binary, not inherited by child processes: permissions 0666 less the umask
// on POSIX, an ordinary writable file on Windows.
int create_new_file(const char* path);

// Creates a file without a name in the directory `dir`, for writing in
// binary, not inherited: Linux's O_TMPFILE. Nothing is left of it if the
// process dies before name_unnamed_file. -1 with errno set where the system
// or the file system does not offer it (and always elsewhere: ENOSYS);
// create_new_file is the way then.
int create_unnamed_file(const char* dir);

// Gives the file of create_unnamed_file the name `path` (permissions 0666
// less the umask), which must not exist yet (EEXIST). 0, or -1 with errno set.
int name_unnamed_file(int fd, const char* path);

struct open_file_info {
  bool regular;             // a regular file (after following symlinks)
  bool directory;
  unsigned long long size;  // bytes, for a regular file
};

// fstat of an open descriptor: 0, or -1 with errno set.
int stat_open_file(int fd, open_file_info* info);

// Reads up to n bytes (at most INT_MAX at once on Windows): the count read,
// 0 at the end of the file, -1 with errno set (EINTR included).
long long read_some(int fd, void* to, std::size_t n);

int close_file(int fd);

// Asks the system to start reading the whole file into its cache now
// (posix_fadvise POSIX_FADV_WILLNEED), without waiting for it; a hint, so
// nothing is reported. Nothing on Windows.
void advise_will_read(int fd);

// Whether the start of the file is in the system's cache already, found by
// a read that must not wait (Linux's preadv2 with RWF_NOWAIT): 1 when it
// is (or the file is empty), 0 when reading it would wait for the disk, -1
// when the system cannot tell (and on Windows).
int start_is_cached(int fd);

// A binary stdio stream for writing on fd; closing the stream closes fd.
std::FILE* open_write_stream(int fd);

// Hands what was written to fd to the storage device (fsync; _commit on
// Windows): 0, or -1 with errno set.
int sync_file(int fd);

// Makes a rename in the directory that holds `path` durable: fsync of the
// directory on POSIX. Windows has no such call; replace_file asks for the
// rename to be written through instead. Failures are ignored: by then the
// rename has happened.
void sync_directory_of(const char* path);

// Renames `from` to `to` in one step, replacing a file already at `to`:
// rename on POSIX; on Windows, where rename refuses an existing target,
// MoveFileExA with MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH, its
// error translated to errno. 0, or -1 with errno set.
int replace_file(const char* from, const char* to);

// The running process's id, for names no other live process uses.
unsigned long current_process_id();

// The CPUs this process may run on (at least 1): its affinity mask where the
// system has one, otherwise the processors online.
int usable_cpu_count();
