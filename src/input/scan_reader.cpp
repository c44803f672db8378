#include "input/scan_reader.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include "input/file_io.h"
#include "platform/platform.h"

namespace {

// Files loaded ahead at most: enough for the loader to go on through a nap
// of the caller (below). Reports are some KB each, so the slots hold a few
// MiB; the bounds further down hold when files are large.
constexpr uint32_t SLOTS = 128;

// Waking a sleeping thread is a system call and an interrupt to the other
// CPU, and paid on the loading side it would cost about as much as the
// parsing saves. So the caller, when it has caught up, naps for a while and
// looks again, and the loader wakes it only when the slots fill up, at the
// last file and after a failure.
constexpr auto CALLER_NAP = std::chrono::microseconds(200);
constexpr uint32_t WAKE_CALLER_AT = SLOTS / 2;  // files waiting

// Bytes of loaded files waiting to be parsed, beyond which no further file
// is loaded until some are parsed (the first is always loaded, however
// large).
constexpr std::size_t AHEAD_BYTES = std::size_t{4} << 20;

// Files opened ahead of the one being loaded, each with a request to the
// system to read it into its cache: on a survey that is not cached yet, the
// disk then has many reads to work on instead of one at a time. Descriptors
// only: what is read ahead sits in the system's cache, not here.
constexpr uint32_t OPEN_AHEAD = 64;

// The request costs a system call per file even when the file is cached, a
// few per cent of a run on a cached survey; so it is made only once a file
// about to be loaded is found not cached, which is checked every so many
// files until it is.
constexpr uint32_t CACHE_PROBE_EVERY = 16;

// A slot's buffer grows to the largest file it held; loading ahead, one
// larger than this is given back once parsed, so that large files leave no
// lasting cost and the idle slots keep SLOTS x 32 KiB at most.
constexpr std::size_t KEPT_CAPACITY = std::size_t{32} << 10;

struct slot {
  text_buffer text;
  std::size_t size = 0;
  int status = 0;  // load_file_into's
  int error = 0;   // its errno, when status is 1
};

// Positions in the sequence of files, counted modulo 2^32: only the
// difference of two of them, at most SLOTS, is ever used.
using position = uint32_t;

// A file opened ahead: its descriptor and size, or the errno of the open.
struct opened_file {
  int fd = -1;
  std::size_t size = 0;
  int error = 0;
};

// The files opened ahead, by whichever side loads them. They are opened in
// order, none after the first that cannot be opened (or is no regular
// file); file k (from 0) is at file[k % OPEN_AHEAD] while k < next.
struct opener {
  opened_file file[OPEN_AHEAD];
  uint64_t next = 0;
  int64_t i = 1, j = 1;  // the name of file `next`
  bool failed = false;
  bool advising = false;     // a file was found not cached: every file is advised
  uint32_t until_probe = 0;  // files to load before the cache is probed again
};

}  // namespace

struct scan_reader {
  int32_t n = 0;
  int32_t s = 0;
  bool ahead = false;

  // The caller's side.
  uint64_t remaining = 0;  // files not handed out yet
  bool ended = false;      // a failure was handed out
  bool holding = false;    // the caller holds the slot at `tail`
  uint64_t loaded = 0;      // files loaded, when loaded in the caller

  opener ahead_of_loading;

  slot slots[SLOTS];

  // Written by the loading thread: files published. Written by the caller:
  // files given back. Slot head % SLOTS is the loader's, tail % SLOTS the
  // caller's; the ones between are loaded and waiting.
  alignas(64) std::atomic<position> head{0};
  alignas(64) std::atomic<position> tail{0};
  std::atomic<std::size_t> bytes_ahead{0};  // sizes of the waiting files

  std::atomic<bool> stop{false};
  std::atomic<bool> loader_sleeping{false};
  std::atomic<bool> caller_sleeping{false};
  std::mutex mutex;  // only for sleeping and waking
  std::condition_variable loader_wake;
  std::condition_variable caller_wake;
  std::thread loader;
};

namespace {

// Whether the loader may load file h: a slot is free, and the files waiting
// are few enough in bytes (or there are none).
bool has_room(const scan_reader* r, position h) {
  const position waiting = h - r->tail.load();
  return waiting < SLOTS && (waiting == 0 || r->bytes_ahead.load() <= AHEAD_BYTES);
}

// False when the reader is being stopped.
bool wait_for_room(scan_reader* r, position h) {
  if (r->stop.load()) return false;
  if (has_room(r, h)) return true;
  std::unique_lock lock(r->mutex);
  r->loader_sleeping.store(true);
  // Files are waiting, so a napping caller has work now.
  if (r->caller_sleeping.load()) r->caller_wake.notify_one();
  while (!r->stop.load() && !has_room(r, h)) r->loader_wake.wait(lock);
  r->loader_sleeping.store(false);
  return !r->stop.load();
}

// Makes files up to h visible to the caller; `last` when no more will come.
void publish(scan_reader* r, position h, bool last) {
  r->head.store(h);
  if (!r->caller_sleeping.load()) return;
  if (last || h - r->tail.load() >= WAKE_CALLER_AT) {
    std::lock_guard lock(r->mutex);
    r->caller_wake.notify_one();
  }
}

// Opens the files before `end` not opened yet, each with a request to read
// it ahead.
void open_up_to(scan_reader* r, uint64_t end) {
  opener& o = r->ahead_of_loading;
  const uint64_t total = static_cast<uint64_t>(r->n) * static_cast<uint64_t>(r->s);
  while (!o.failed && o.next < end && o.next < total) {
    opened_file& f = o.file[o.next % OPEN_AHEAD];
    char name[32];
    format_scan_name(name, static_cast<int32_t>(o.i), static_cast<int32_t>(o.j));
    if (++o.j > r->s) {
      o.j = 1;
      ++o.i;
    }
    f.fd = open_regular_file(name, &f.size);
    f.error = f.fd < 0 ? errno : 0;
    if (f.fd < 0) {
      o.failed = true;
    } else if (o.advising) {
      advise_will_read(f.fd);
    }
    ++o.next;
  }
}

// Loads file k (opening it and those after it as far as allowed) into sl.
void load_file_at(scan_reader* r, uint64_t k, slot* sl) {
  open_up_to(r, k + OPEN_AHEAD);
  opener& o = r->ahead_of_loading;
  opened_file& f = o.file[k % OPEN_AHEAD];
  if (!o.advising && f.fd >= 0 && o.until_probe-- == 0) {
    o.until_probe = CACHE_PROBE_EVERY - 1;
    if (start_is_cached(f.fd) == 0) {
      // Not cached: from here on every file is read ahead, starting with
      // the ones open already.
      o.advising = true;
      for (uint64_t m = k; m < o.next; ++m) {
        if (o.file[m % OPEN_AHEAD].fd >= 0) advise_will_read(o.file[m % OPEN_AHEAD].fd);
      }
    }
  }
  if (f.fd < 0) {
    sl->status = 1;
    sl->error = f.error;
  } else {
    sl->status = load_open_file(f.fd, f.size, &sl->text);
    sl->error = sl->status != 0 ? errno : 0;
    if (sl->status == 0) sl->size = f.size;
    f.fd = -1;
  }
}

// Closes the files opened ahead and not loaded.
void close_opened(scan_reader* r) {
  opener& o = r->ahead_of_loading;
  for (opened_file& f : o.file) {
    if (f.fd >= 0) close_file(f.fd);
    f.fd = -1;
  }
}

void load_ahead(scan_reader* r) {
  const uint64_t total = static_cast<uint64_t>(r->n) * static_cast<uint64_t>(r->s);
  position h = 0;
  for (uint64_t k = 0; k < total; ++k) {
    if (!wait_for_room(r, h)) break;
    slot& sl = r->slots[h % SLOTS];
    load_file_at(r, k, &sl);
    if (sl.status == 0) r->bytes_ahead.fetch_add(sl.size);
    ++h;
    const bool failed = sl.status != 0;
    publish(r, h, failed || k + 1 == total);
    if (failed) break;
  }
  close_opened(r);
}

// Waits until the loader has published file t.
void wait_for_file(scan_reader* r, position t) {
  if (r->head.load() != t) return;
  std::unique_lock lock(r->mutex);
  r->caller_sleeping.store(true);
  while (r->head.load() == t) r->caller_wake.wait_for(lock, CALLER_NAP);
  r->caller_sleeping.store(false);
}

void give_back(scan_reader* r) {
  r->holding = false;
  // Loaded in the caller, the one buffer is kept whatever its size, so that
  // a survey of large files allocates a few times, not per file.
  if (!r->ahead) return;
  const position t = r->tail.load();
  slot& sl = r->slots[t % SLOTS];
  if (sl.text.capacity > KEPT_CAPACITY) {
    sl.text.data.reset();
    sl.text.capacity = 0;
  }
  if (sl.status == 0) r->bytes_ahead.fetch_sub(sl.size);
  r->tail.store(t + 1);
  if (!r->loader_sleeping.load()) return;
  // Woken with room for a good many files, or once every waiting file is
  // parsed: this side is the slower one then, and should not wake it often.
  const position waiting = r->head.load() - (t + 1);
  if (waiting == 0 || (waiting <= SLOTS / 2 && r->bytes_ahead.load() <= AHEAD_BYTES)) {
    std::lock_guard lock(r->mutex);
    r->loader_wake.notify_one();
  }
}

int next_in_caller(scan_reader* r, const char** text, std::size_t* size) {
  slot& sl = r->slots[0];
  load_file_at(r, r->loaded++, &sl);
  if (sl.status != 0) {
    r->ended = true;
    errno = sl.error;
    return 1;
  }
  *text = sl.text.data.get();
  *size = sl.size;
  return 0;
}

}  // namespace

void format_scan_name(char* name, int32_t i, int32_t j) {
  char* p = name;
  for (const char c : {'s', 'c', 'a', 'n'}) *p++ = c;
  const auto put = [&p](int32_t v) {
    char digits[10];
    int count = 0;
    auto u = static_cast<uint32_t>(v);
    do {
      digits[count++] = static_cast<char>('0' + u % 10);
      u /= 10;
    } while (u != 0);
    while (count > 0) *p++ = digits[--count];
  };
  put(i);
  *p++ = '-';
  put(j);
  *p = '\0';
}

void scan_reader_stop::operator()(scan_reader* reader) const {
  if (reader->loader.joinable()) {
    {
      std::lock_guard lock(reader->mutex);
      reader->stop.store(true);
      reader->loader_wake.notify_one();
    }
    reader->loader.join();
  } else {
    close_opened(reader);  // the loading thread closes its own
  }
  delete reader;
}

scan_reader_ptr scan_reader_start(int32_t n, int32_t s, scan_loading loading) {
  scan_reader_ptr r(new (std::nothrow) scan_reader);
  if (!r) return r;
  if (n < 1 || s < 1) return r;
  r->n = n;
  r->s = s;
  r->remaining = static_cast<uint64_t>(n) * static_cast<uint64_t>(s);
  if (loading == scan_loading::automatic && r->remaining > 1 && usable_cpu_count() > 1) {
    try {
      r->loader = std::thread(load_ahead, r.get());
      r->ahead = true;
    } catch (const std::exception&) {
      // No thread to be had (EAGAIN, no storage): load in the caller.
    }
  }
  return r;
}

int scan_reader_next(scan_reader* r, const char** text, std::size_t* size) {
  if (r->holding) give_back(r);
  if (r->ended || r->remaining == 0) {
    errno = EINVAL;
    return 1;
  }
  --r->remaining;
  r->holding = true;
  if (!r->ahead) return next_in_caller(r, text, size);

  const position t = r->tail.load();
  wait_for_file(r, t);
  const slot& sl = r->slots[t % SLOTS];
  if (sl.status != 0) {
    r->ended = true;
    errno = sl.error;
    return 1;
  }
  *text = sl.text.data.get();
  *size = sl.size;
  return 0;
}

bool scan_reader_ahead(const scan_reader* reader) { return reader->ahead; }
