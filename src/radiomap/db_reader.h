// Reading a radio map database ("db.bin") back from its bytes. Every size,
// count and terminator is checked against the layout in radiomap/database.h
// and radiomap/refpoint.h before any record is used; a file that does not
// fit is refused with the byte offset where it stops fitting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "radiomap/database.h"
#include "radiomap/refpoint.h"

inline constexpr int DB_READ_OK = 0;
inline constexpr int DB_READ_SHORT_HEADER = 1;          // fewer than 20 bytes
inline constexpr int DB_READ_NEGATIVE_COUNT = 2;        // num_refpoints < 0
inline constexpr int DB_READ_SIZE_MISMATCH = 3;         // size != 20 + 1228 * N
inline constexpr int DB_READ_BAD_AP_COUNT = 4;          // ap_count outside 0..MAX_APS
inline constexpr int DB_READ_UNTERMINATED_ADDRESS = 5;  // no NUL in a used address
inline constexpr int DB_READ_NO_MEMORY = 6;             // no storage for the records

// A database as read: the header as stored and its records, copied out of
// the file's bytes so that they are aligned like any refpoint array.
struct radio_map {
  db_header header{};
  std::unique_ptr<refpoint[]> records;  // header.num_refpoints of them
};

// Why a file was refused: the status, the byte offset in the file where the
// problem is, and a sentence saying what is wrong (without the file name).
struct db_read_error {
  int status = DB_READ_OK;
  uint64_t offset = 0;
  std::string message;
};

// Checks `bytes` in this order: the header is complete, num_refpoints is not
// negative, the size is exactly 20 + 1228 * num_refpoints, and in each record
// ap_count is within 0..MAX_APS and each of the ap_count used addresses has
// its terminator. Returns DB_READ_OK with *map filled, or another status with
// *error filled and *map left empty.
int read_database(std::span<const unsigned char> bytes, radio_map* map, db_read_error* error);

// The text of a used slot's address (up to its terminator) and name (up to
// its terminator, or all 32 bytes).
std::string_view slot_address(const ap_reading& ap);
std::string_view slot_essid(const ap_reading& ap);
