#include "radiomap/db_reader.h"

#include <cstring>
#include <new>

namespace {

int32_t le32s(std::span<const unsigned char> b, std::size_t offset) {
  const uint32_t v = static_cast<uint32_t>(b[offset]) | static_cast<uint32_t>(b[offset + 1]) << 8 |
                     static_cast<uint32_t>(b[offset + 2]) << 16 |
                     static_cast<uint32_t>(b[offset + 3]) << 24;
  return static_cast<int32_t>(v);
}

int refuse(db_read_error* error, int status, uint64_t offset, std::string message) {
  error->status = status;
  error->offset = offset;
  error->message = std::move(message);
  return status;
}

std::string num(uint64_t v) { return std::to_string(v); }
std::string num(int64_t v) { return std::to_string(v); }

}  // namespace

std::string_view slot_address(const ap_reading& ap) {
  return {ap.address, strnlen(ap.address, sizeof ap.address)};
}

std::string_view slot_essid(const ap_reading& ap) {
  return {ap.essid, strnlen(ap.essid, sizeof ap.essid)};
}

int read_database(std::span<const unsigned char> bytes, radio_map* map, db_read_error* error) {
  map->header = db_header{};
  map->records.reset();
  *error = db_read_error{};
  const uint64_t size = bytes.size();

  if (size < DB_HEADER_SIZE) {
    return refuse(error, DB_READ_SHORT_HEADER, size,
                  "the file is " + num(size) + " bytes, shorter than the " + num(uint64_t{DB_HEADER_SIZE}) +
                      "-byte header");
  }
  const int32_t n = le32s(bytes, offsetof(db_header, num_refpoints));
  if (n < 0) {
    return refuse(error, DB_READ_NEGATIVE_COUNT, offsetof(db_header, num_refpoints),
                  "num_refpoints is " + num(int64_t{n}) + ", a negative count");
  }
  const uint64_t expected = DB_HEADER_SIZE + REFPOINT_SIZE * static_cast<uint64_t>(n);
  if (size != expected) {
    // Where the file stops fitting: its end when it is short, the first
    // extra byte when it is long.
    const uint64_t at = size < expected ? size : expected;
    return refuse(error, DB_READ_SIZE_MISMATCH, at,
                  "the file is " + num(size) + " bytes, but num_refpoints " + num(int64_t{n}) +
                      " needs 20 + 1228 x " + num(int64_t{n}) + " = " + num(expected));
  }

  for (int32_t i = 0; i < n; ++i) {
    const std::size_t record = DB_HEADER_SIZE + REFPOINT_SIZE * static_cast<std::size_t>(i);
    const std::string which = "reference point " + num(int64_t{i} + 1);
    const std::size_t count_at = record + offsetof(refpoint, ap_count);
    const int32_t count = le32s(bytes, count_at);
    if (count < 0 || count > MAX_APS) {
      return refuse(error, DB_READ_BAD_AP_COUNT, count_at,
                    which + ": ap_count " + num(int64_t{count}) + " is outside 0.." +
                        num(int64_t{MAX_APS}));
    }
    for (int32_t k = 0; k < count; ++k) {
      const std::size_t slot = record + AP_READING_SIZE * static_cast<std::size_t>(k);
      const auto address = bytes.subspan(slot + offsetof(ap_reading, address), sizeof(ap_reading::address));
      if (std::memchr(address.data(), 0, address.size()) == nullptr) {
        return refuse(error, DB_READ_UNTERMINATED_ADDRESS, slot,
                      which + ", access point " + num(int64_t{k} + 1) +
                          ": the address has no terminator in its 32 bytes");
      }
    }
  }

  std::unique_ptr<refpoint[]> records;
  if (n > 0) {
    records.reset(new (std::nothrow) refpoint[static_cast<std::size_t>(n)]);
    if (!records) {
      return refuse(error, DB_READ_NO_MEMORY, DB_HEADER_SIZE,
                    "no storage for " + num(int64_t{n}) + " records");
    }
    std::memcpy(records.get(), bytes.data() + DB_HEADER_SIZE, REFPOINT_SIZE * static_cast<std::size_t>(n));
  }
  std::memcpy(&map->header, bytes.data(), DB_HEADER_SIZE);
  map->records = std::move(records);
  return DB_READ_OK;
}
