// merge_scan, fold_scans and average_refpoint on records made from the fuzzer's bytes.
// The first byte picks how the records are made:
//   even: the rest is split at NUL bytes into up to 8 scan texts, each parsed
//         by parse_scan into its own record;
//   odd:  records built directly from the bytes (slot count, addresses from a
//         small alphabet so that they often repeat, names up to the full 32
//         bytes, any float bit patterns, seen 1..256), made valid.
// Record 1 is the base; the others are merged into it in order, then it is
// averaged. The result must satisfy the record invariants and equal a
// plain recomputation of the fold (first match by address, appended while
// slots remain, dropped after), the merged records must stay unchanged, and
// each merge must report the readings it dropped. fold_scans, which does all
// the merges of a point at once, must give the same record, byte for byte,
// and the same number of dropped readings.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "input/scan_text.h"
#include "radiomap/folding.h"
#include "radiomap/refpoint.h"

namespace {

constexpr std::size_t max_records = 8;

struct byte_reader {
  const uint8_t* p;
  std::size_t left;
  uint8_t next() {
    if (left == 0) return 0;
    --left;
    return *p++;
  }
  float next_float() {
    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(next()) << (8 * i);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
};

std::unique_ptr<refpoint> zero_record() {
  auto r = std::make_unique<refpoint>();
  std::memset(r.get(), 0, sizeof(refpoint));
  return r;
}

std::vector<std::unique_ptr<refpoint>> parsed_records(const uint8_t* data, std::size_t size) {
  std::vector<std::unique_ptr<refpoint>> records;
  std::size_t start = 0;
  while (records.size() < max_records) {
    std::size_t end = start;
    while (end < size && data[end] != 0) ++end;
    const auto text = fuzz::text_copy(data + start, end - start);
    records.push_back(zero_record());
    parse_scan(text.get(), records.back().get());
    if (end >= size) break;
    start = end + 1;
  }
  return records;
}

std::vector<std::unique_ptr<refpoint>> raw_records(const uint8_t* data, std::size_t size) {
  byte_reader in{data, size};
  std::vector<std::unique_ptr<refpoint>> records;
  const std::size_t n = 1 + in.next() % max_records;
  for (std::size_t i = 0; i < n; ++i) {
    auto r = zero_record();
    r->ap_count = in.next() % (MAX_APS + 1);
    for (int k = 0; k < r->ap_count; ++k) {
      ap_reading& ap = r->ap[k];
      const uint8_t a = in.next();
      if (a == 0xff) {
        std::memset(ap.address, 'Z', 31);
      } else {
        std::memset(ap.address, 'A' + (a >> 3) % 4, a & 7u);
      }
      const uint8_t e = in.next();
      std::memset(ap.essid, 'a' + (e >> 6), e % 33u);
      ap.signal_level = in.next_float();
      ap.noise_level = in.next_float();
      ap.seen = 1 + in.next();
    }
    records.push_back(std::move(r));
  }
  return records;
}

struct model_slot {
  std::string address;
  ap_reading first;  // the reading the slot was made from
  float signal, noise;
  int32_t seen;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  auto records = data[0] % 2 == 0 ? parsed_records(data + 1, size - 1)
                                  : raw_records(data + 1, size - 1);
  for (const auto& r : records) fuzz::check_record(*r);
  refpoint& base = *records[0];
  base.x = 7;
  base.y = -3;

  // The later records side by side, as fold_scans takes them, in a heap
  // block of exactly their size.
  const std::size_t later = records.size() - 1;
  std::unique_ptr<refpoint[]> others(new refpoint[later]);
  for (std::size_t j = 0; j < later; ++j) others[j] = *records[j + 1];
  auto folded = std::make_unique<refpoint>(base);
  const int64_t fold_dropped = fold_scans(folded.get(), others.get(), static_cast<int32_t>(later));

  std::vector<model_slot> model;
  for (int k = 0; k < base.ap_count; ++k) {
    const ap_reading& ap = base.ap[k];
    model.push_back({ap.address, ap, ap.signal_level, ap.noise_level, ap.seen});
  }

  int64_t total_dropped = 0;
  for (std::size_t j = 1; j < records.size(); ++j) {
    const refpoint& other = *records[j];
    int want_dropped = 0;
    for (int k = 0; k < other.ap_count; ++k) {
      const ap_reading& ap = other.ap[k];
      bool matched = false;
      for (auto& slot : model) {
        if (slot.address == ap.address) {
          slot.signal += ap.signal_level;
          slot.noise += ap.noise_level;
          slot.seen += 1;
          matched = true;
          break;
        }
      }
      if (matched) continue;
      if (model.size() < static_cast<std::size_t>(MAX_APS)) {
        model.push_back({ap.address, ap, ap.signal_level, ap.noise_level, ap.seen});
      } else {
        ++want_dropped;
      }
    }
    const refpoint before = other;
    const int dropped = merge_scan(&base, &other);
    FUZZ_REQUIRE(dropped == want_dropped);
    total_dropped += dropped;
    FUZZ_REQUIRE(std::memcmp(&before, &other, sizeof before) == 0);
    fuzz::check_record(base);
  }
  FUZZ_REQUIRE(fold_dropped == total_dropped);
  FUZZ_REQUIRE(std::memcmp(folded.get(), &base, sizeof base) == 0);
  for (std::size_t j = 0; j < later; ++j) {
    FUZZ_REQUIRE(std::memcmp(&others[j], records[j + 1].get(), sizeof(refpoint)) == 0);
  }
  average_refpoint(&base);
  fuzz::check_record(base);

  FUZZ_REQUIRE(base.ap_count == static_cast<int32_t>(model.size()));
  FUZZ_REQUIRE(base.x == 7 && base.y == -3);
  for (std::size_t m = 0; m < model.size(); ++m) {
    const ap_reading& got = base.ap[m];
    const model_slot& want = model[m];
    FUZZ_REQUIRE(std::memcmp(got.address, want.first.address, sizeof got.address) == 0);
    FUZZ_REQUIRE(std::memcmp(got.essid, want.first.essid, sizeof got.essid) == 0);
    FUZZ_REQUIRE(got.seen == want.seen);
    const auto readings = static_cast<float>(want.seen);
    FUZZ_REQUIRE(fuzz::same_float(got.signal_level, want.signal / readings));
    FUZZ_REQUIRE(fuzz::same_float(got.noise_level, want.noise / readings));
  }
  return 0;
}
