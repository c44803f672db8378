#include "radiomap/folding.h"

#include <cstdint>
#include <cstring>

namespace {

bool same_address(const ap_reading& a, const ap_reading& b) {
  // Both are terminated inside their fields, so a bounded compare is exact.
  return std::strncmp(a.address, b.address, sizeof a.address) == 0;
}

}  // namespace

int merge_scan(refpoint* base, const refpoint* other) {
  int dropped = 0;
  for (int k = 0; k < other->ap_count && k < MAX_APS; ++k) {
    const ap_reading& reading = other->ap[k];
    bool matched = false;
    for (int m = 0; m < base->ap_count; ++m) {
      ap_reading& slot = base->ap[m];
      if (same_address(slot, reading)) {
        slot.signal_level += reading.signal_level;
        slot.noise_level += reading.noise_level;
        // Unsigned, so that even a corrupt count wraps instead of overflowing.
        slot.seen = static_cast<int32_t>(static_cast<uint32_t>(slot.seen) + 1u);
        matched = true;
        break;
      }
    }
    if (matched) continue;
    if (base->ap_count >= MAX_APS) {
      // No 17th slot: the address has no place, so all its readings go,
      // in this scan and (finding no slot again) in later ones.
      ++dropped;
      continue;
    }
    base->ap[base->ap_count] = reading;
    base->ap_count += 1;
  }
  return dropped;
}

void average_refpoint(refpoint* base) {
  for (int m = 0; m < base->ap_count && m < MAX_APS; ++m) {
    ap_reading& slot = base->ap[m];
    const auto readings = static_cast<float>(slot.seen);
    slot.signal_level /= readings;
    slot.noise_level /= readings;
  }
}
