// read_database on arbitrary bytes, then every apdump view of what it accepts.
// The status and the byte offset must agree with a plain reading of the
// layout: header complete, num_refpoints not negative, size exactly
// 20 + 1228 * N, each ap_count within 0..16, each used address terminated;
// the first problem in file order is the one reported. An accepted database
// must hold the file's bytes unchanged, and its summary, CSV, JSON and heat
// map must be written without fault: JSON and the SVG as valid UTF-8 with no
// control bytes but line feeds, the CSV with one row per used slot (or per
// point without any) after its header row.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "apdump/formats.h"
#include "radiomap/db_reader.h"
#include "views/text.h"
#include "fuzz_support.h"

namespace {

int32_t le32s(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}

// The status and offset a plain reading of the layout gives.
int expected_status(const uint8_t* data, std::size_t size, uint64_t* offset) {
  if (size < 20) {
    *offset = size;
    return DB_READ_SHORT_HEADER;
  }
  const int32_t n = le32s(data);
  if (n < 0) {
    *offset = 0;
    return DB_READ_NEGATIVE_COUNT;
  }
  const uint64_t want = 20 + 1228 * static_cast<uint64_t>(n);
  if (size != want) {
    *offset = size < want ? size : want;
    return DB_READ_SIZE_MISMATCH;
  }
  for (std::size_t rec = 20; rec < size; rec += 1228) {
    const int32_t count = le32s(data + rec + 1216);
    if (count < 0 || count > 16) {
      *offset = rec + 1216;
      return DB_READ_BAD_AP_COUNT;
    }
    for (std::size_t k = 0; k < static_cast<std::size_t>(count); ++k) {
      if (!std::memchr(data + rec + 76 * k, 0, 32)) {
        *offset = rec + 76 * k;
        return DB_READ_UNTERMINATED_ADDRESS;
      }
    }
  }
  *offset = 0;
  return DB_READ_OK;
}

// Every byte in a well-formed UTF-8 sequence, and no control byte but LF.
bool clean_text(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    const std::size_t length = utf8_sequence(text, i, &cp);
    if (length == 0 || (cp < 0x20 && cp != '\n')) return false;
    i += length;
  }
  return true;
}

// Runs a view into memory and returns all it wrote.
template <typename View>
std::string collect(View view) {
  char* text = nullptr;
  std::size_t length = 0;
  std::FILE* f = open_memstream(&text, &length);
  FUZZ_REQUIRE(f != nullptr);
  out_sink out{f, {}, false};
  view(&out);
  FUZZ_REQUIRE(flush_sink(&out) == 0);
  FUZZ_REQUIRE(std::fclose(f) == 0);
  std::string result(text, length);
  std::free(text);
  return result;
}

std::size_t count_lines(std::string_view text) {
  std::size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  radio_map map;
  db_read_error error;
  const int status = read_database(std::span<const unsigned char>(data, size), &map, &error);
  uint64_t offset = 0;
  FUZZ_REQUIRE(status == expected_status(data, size, &offset));
  if (status != DB_READ_OK) {
    FUZZ_REQUIRE(error.status == status);
    FUZZ_REQUIRE(error.offset == offset);
    FUZZ_REQUIRE(!error.message.empty());
    FUZZ_REQUIRE(map.records == nullptr);
    return 0;
  }

  const int32_t n = map.header.num_refpoints;
  FUZZ_REQUIRE(std::memcmp(&map.header, data, 20) == 0);
  FUZZ_REQUIRE(n == 0 || std::memcmp(map.records.get(), data + 20, 1228 * static_cast<std::size_t>(n)) == 0);

  const std::string summary = collect([&](out_sink* out) { write_summary(out, "fuzz.bin", size, map); });
  FUZZ_REQUIRE(clean_text(summary));

  std::size_t rows = 1;
  for (int32_t i = 0; i < n; ++i) {
    const int32_t count = map.records[static_cast<std::size_t>(i)].ap_count;
    rows += count == 0 ? 1 : static_cast<std::size_t>(count);
  }
  const std::string csv = collect([&](out_sink* out) { write_csv(out, map); });
  // Quoted names may hold line feeds of their own.
  FUZZ_REQUIRE(count_lines(csv) >= rows);

  const std::string json = collect([&](out_sink* out) { write_json(out, map); });
  FUZZ_REQUIRE(clean_text(json));

  // The heat map of the first address, when the grid it would draw (the
  // header's or the records' own) is small enough to draw quickly; and of an
  // address no slot can hold.
  if (n > 0 && map.records[0].ap_count > 0) {
    int64_t min_x = INT64_MAX, max_x = INT64_MIN, min_y = INT64_MAX, max_y = INT64_MIN;
    for (int32_t i = 0; i < n; ++i) {
      const refpoint& r = map.records[static_cast<std::size_t>(i)];
      min_x = r.x < min_x ? r.x : min_x;
      max_x = r.x > max_x ? r.x : max_x;
      min_y = r.y < min_y ? r.y : min_y;
      max_y = r.y > max_y ? r.y : max_y;
    }
    const int64_t width = max_x - min_x + 1, height = max_y - min_y + 1;
    const int64_t header_w = map.header.width, header_h = map.header.height;
    const bool small = width <= 64 && height <= 64 && (header_w <= 0 || header_h <= 0 ||
                                                        (header_w <= 64 && header_h <= 64));
    if (small) {
      const std::string address(slot_address(map.records[0].ap[0]));
      heatmap_notes notes;
      int drawn = -1;
      const std::string svg = collect([&](out_sink* out) { drawn = write_heatmap(out, map, address, &notes); });
      FUZZ_REQUIRE(drawn == HEATMAP_OK || drawn == HEATMAP_TOO_LARGE);
      FUZZ_REQUIRE(drawn == HEATMAP_OK ? clean_text(svg) && svg.ends_with("</svg>\n") : svg.empty());
    }
  }
  heatmap_notes notes;
  const std::string none = collect([&](out_sink* out) {
    FUZZ_REQUIRE(write_heatmap(out, map, std::string(40, 'A'), &notes) == HEATMAP_NOT_SEEN);
  });
  FUZZ_REQUIRE(none.empty() && !notes.problem.empty());
  return 0;
}
