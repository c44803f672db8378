#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "radiomap/folding.h"

namespace {

struct reading {
  const char* address;
  const char* essid;
  float signal;
  float noise;
};

// A freshly parsed scan record: the readings in order, each seen once.
refpoint scan(const std::vector<reading>& readings) {
  refpoint r;
  std::memset(&r, 0, sizeof r);
  for (const auto& in : readings) {
    ap_reading& ap = r.ap[r.ap_count++];
    std::strncpy(ap.address, in.address, sizeof ap.address - 1);
    std::strncpy(ap.essid, in.essid, sizeof ap.essid);
    ap.signal_level = in.signal;
    ap.noise_level = in.noise;
    ap.seen = 1;
  }
  return r;
}

refpoint fold(std::vector<refpoint> scans, int* dropped = nullptr) {
  refpoint base = scans.at(0);
  int total = 0;
  for (std::size_t j = 1; j < scans.size(); ++j) total += merge_scan(&base, &scans[j]);
  average_refpoint(&base);
  if (dropped) *dropped = total;
  return base;
}

std::string addr(int k) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "00:00:00:00:00:%02X", k);
  return buf;
}

}  // namespace

TEST(Folding, AveragesByAddressInOrderOfFirstAppearance) {
  refpoint r = fold({scan({{"A", "net", -50, -90}}),
                     scan({{"A", "net", -60, -92}, {"B", "other", -70, -91}}),
                     scan({{"A", "net", -55, -94}})});
  ASSERT_EQ(r.ap_count, 2);
  EXPECT_STREQ(r.ap[0].address, "A");
  EXPECT_EQ(r.ap[0].signal_level, -55.0f);
  EXPECT_EQ(r.ap[0].noise_level, -92.0f);
  EXPECT_EQ(r.ap[0].seen, 3);
  EXPECT_STREQ(r.ap[1].address, "B");
  EXPECT_EQ(r.ap[1].signal_level, -70.0f);
  EXPECT_EQ(r.ap[1].seen, 1);
}

TEST(Folding, LateAddressAppendedAfterEarlierOnes) {
  refpoint r = fold({scan({{"A", "", -50, 0}}), scan({{"B", "", -60, 0}}),
                     scan({{"C", "", -70, 0}, {"A", "", -52, 0}})});
  ASSERT_EQ(r.ap_count, 3);
  EXPECT_STREQ(r.ap[2].address, "C");
  EXPECT_EQ(r.ap[0].signal_level, -51.0f);
}

TEST(Folding, KeepsTheNameFromTheFirstScanThatSawTheAddress) {
  refpoint r = fold({scan({{"A", "First", -50, 0}}), scan({{"A", "Second", -50, 0}})});
  EXPECT_STREQ(r.ap[0].essid, "First");
}

TEST(Folding, DuplicateInFirstScanKeepsTwoSlotsLaterReadingsGoToTheFirst) {
  refpoint r = fold({scan({{"A", "", -50, 0}, {"A", "", -40, 0}}), scan({{"A", "", -60, 0}})});
  ASSERT_EQ(r.ap_count, 2);
  EXPECT_EQ(r.ap[0].signal_level, -55.0f);
  EXPECT_EQ(r.ap[0].seen, 2);
  EXPECT_EQ(r.ap[1].signal_level, -40.0f);
  EXPECT_EQ(r.ap[1].seen, 1);
}

TEST(Folding, DuplicateInALaterScanIsAppendedOnceThenMatched) {
  refpoint r = fold({scan({{"A", "", -50, 0}}), scan({{"B", "", -60, 0}, {"B", "", -70, 0}})});
  ASSERT_EQ(r.ap_count, 2);
  EXPECT_EQ(r.ap[1].seen, 2);
  EXPECT_EQ(r.ap[1].signal_level, -65.0f);
}

TEST(Folding, AddressesDifferingInCaseAreDifferentAccessPoints) {
  refpoint r = fold({scan({{"aa:bb", "", -50, 0}}), scan({{"AA:BB", "", -60, 0}})});
  ASSERT_EQ(r.ap_count, 2);
  EXPECT_EQ(r.ap[0].seen, 1);
  EXPECT_EQ(r.ap[1].seen, 1);
}

TEST(Folding, SingleScanIsDividedByOneAndUnchanged) {
  const refpoint parsed = scan({{"A", "x", -50.25f, -95.5f}, {"B", "y", 0.1f, 1e-40f}});
  refpoint r = fold({parsed});
  EXPECT_EQ(std::memcmp(&r, &parsed, sizeof r), 0);
}

TEST(Folding, SumsInSinglePrecisionInScanOrder) {
  // 2^24 + 1 rounds back to 2^24 in single precision at every step, so the
  // mean is 2^24 / 3 rounded to float; a double sum would give 5592406.
  refpoint r = fold({scan({{"A", "", 16777216.0f, 0}}), scan({{"A", "", 1.0f, 0}}),
                     scan({{"A", "", 1.0f, 0}})});
  const float sum = (16777216.0f + 1.0f) + 1.0f;
  EXPECT_EQ(sum, 16777216.0f);
  EXPECT_EQ(r.ap[0].signal_level, sum / 3.0f);
  EXPECT_NE(r.ap[0].signal_level, 5592406.0f);
}

TEST(Folding, NoSeventeenthSlotAndEveryReadingOfADroppedAddressIsDropped) {
  std::vector<reading> first, second, third;
  std::vector<std::string> names;
  for (int k = 0; k < 20; ++k) names.push_back(addr(k));
  for (std::size_t k = 0; k < 14; ++k) {
    first.push_back({names[k].c_str(), "", -40.0f - static_cast<float>(k), 0});
  }
  // Adds 14..17: two fit, two are dropped; then 16 and 17 come back.
  for (std::size_t k = 14; k < 18; ++k) second.push_back({names[k].c_str(), "", -60, 0});
  third.push_back({names[16].c_str(), "", -61, 0});
  third.push_back({names[17].c_str(), "", -62, 0});
  third.push_back({names[15].c_str(), "", -80, 0});

  refpoint guard[2];
  std::memset(guard, 0x5a, sizeof guard);
  guard[0] = fold({scan(first), scan(second), scan(third)}, nullptr);
  int dropped = 0;
  refpoint r = fold({scan(first), scan(second), scan(third)}, &dropped);
  EXPECT_EQ(dropped, 4);
  ASSERT_EQ(r.ap_count, MAX_APS);
  EXPECT_EQ(std::string(r.ap[15].address), names[15]);
  EXPECT_EQ(r.ap[15].seen, 2);
  EXPECT_EQ(r.ap[15].signal_level, -70.0f);
  for (int k = 0; k < MAX_APS; ++k) {
    EXPECT_NE(std::string(r.ap[k].address), names[16]);
    EXPECT_NE(std::string(r.ap[k].address), names[17]);
  }
  // The record next to the folded one is untouched.
  unsigned char expected[sizeof(refpoint)];
  std::memset(expected, 0x5a, sizeof expected);
  EXPECT_EQ(std::memcmp(&guard[1], expected, sizeof expected), 0);
}

// fold_scans is the driver's fast path for folding one point; it must give
// exactly what merge_scan gives, scan after scan, including the drops past
// sixteen slots, duplicates within a scan and bytes after terminators.
TEST(Folding, FoldScansEqualsMergeScanScanAfterScan) {
  uint64_t state = 0x2545F4914F6CDD1Dull;
  const auto next = [&state](uint32_t bound) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state % bound);
  };
  for (int round = 0; round < 3000; ++round) {
    const int scans = 1 + static_cast<int>(next(8));
    std::vector<refpoint> recs(static_cast<std::size_t>(scans));
    for (refpoint& r : recs) {
      std::memset(&r, 0, sizeof r);
      r.ap_count = static_cast<int32_t>(next(MAX_APS + 1));
      for (int k = 0; k < r.ap_count; ++k) {
        ap_reading& ap = r.ap[k];
        // A small alphabet of addresses, so that matches and overflows are common;
        // lengths up to 31 reach into every 8-byte word of the field.
        const uint32_t len = 1 + next(31);
        const char letter = static_cast<char>('a' + next(3));
        for (uint32_t b = 0; b < len; ++b) ap.address[b] = b + 1 == len ? letter : 'x';
        if (next(4) == 0 && len < 30) ap.address[len + 1] = 'g';  // garbage after the terminator
        ap.signal_level = -static_cast<float>(next(1000)) / 7.0f;
        ap.noise_level = static_cast<float>(next(1000)) / 3.0f;
        ap.seen = 1;
      }
    }
    refpoint by_merge = recs[0];
    int merged_drops = 0;
    for (int j = 1; j < scans; ++j) merged_drops += merge_scan(&by_merge, &recs[static_cast<std::size_t>(j)]);
    refpoint by_fold = recs[0];
    const int64_t fold_drops = fold_scans(&by_fold, recs.data() + 1, scans - 1);
    ASSERT_EQ(fold_drops, merged_drops) << "round " << round;
    ASSERT_EQ(std::memcmp(&by_fold, &by_merge, sizeof(refpoint)), 0) << "round " << round;
  }
}
