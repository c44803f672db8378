#include "radiomap/folding.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

// Flags (in its top bit) every zero byte of v, and above the lowest zero
// byte perhaps a 0x01 byte too: up to the lowest zero byte it is exact.
constexpr uint64_t zero_bytes(uint64_t v) {
  return (v - 0x0101010101010101u) & ~v & 0x8080808080808080u;
}

// strncmp over the 32-byte fields, eight bytes at a time: the addresses
// differ at the first differing byte unless a terminator comes before it.
// Folding compares every reading with every slot, so this is its hot loop.
bool same_address(const ap_reading& a, const ap_reading& b) {
  static_assert(sizeof a.address % 8 == 0);
  for (std::size_t i = 0; i < sizeof a.address; i += 8) {
    uint64_t x = 0;
    uint64_t y = 0;
    std::memcpy(&x, a.address + i, 8);  // little-endian: byte 0 lowest
    std::memcpy(&y, b.address + i, 8);
    const uint64_t zeros = zero_bytes(x);
    if (const uint64_t diff = x ^ y; diff != 0) {
      const uint64_t below = (diff & (~diff + 1)) - 1;  // bits under the first difference
      return (zeros & below) != 0;
    }
    if (zeros != 0) return true;
  }
  return true;
}

// An address as the text it holds: the field with every byte after the
// terminator zeroed, so that two addresses are the same text exactly when
// their keys are equal.
struct address_key {
  uint64_t word[4];
};

address_key key_of(const ap_reading& ap) {
  address_key key{};
  for (std::size_t i = 0; i < 4; ++i) {
    uint64_t w = 0;
    std::memcpy(&w, ap.address + 8 * i, 8);
    if (const uint64_t zeros = zero_bytes(w); zeros != 0) {
      const uint64_t lowest = zeros & (~zeros + 1);
      key.word[i] = w & (lowest ^ (lowest - 1));  // through the terminator
      break;
    }
    key.word[i] = w;
  }
  return key;
}

bool same_key(const address_key& a, const address_key& b) {
  return ((a.word[0] ^ b.word[0]) | (a.word[1] ^ b.word[1]) | (a.word[2] ^ b.word[2]) |
          (a.word[3] ^ b.word[3])) == 0;
}

// One byte digesting a key, to rule most slots out eight at a time.
uint64_t tag_of(const address_key& key) {
  const uint64_t mixed = (key.word[0] + 3 * key.word[1] + 5 * key.word[2] + 7 * key.word[3]) *
                         0x9e3779b97f4a7c15u;
  return mixed >> 56;
}

}  // namespace

int64_t fold_scans(refpoint* base, const refpoint* others, int32_t count) {
  // The keys of base's slots are made once and kept up to date as slots are
  // appended, instead of comparing each reading with each slot byte-wise;
  // byte m % 8 of tags[m / 8] is the tag of slot m.
  address_key keys[MAX_APS];
  uint64_t tags[MAX_APS / 8] = {};
  // Clamped only so that a corrupt count cannot index past the keys.
  int slots = std::clamp(base->ap_count, 0, MAX_APS);
  const auto add_key = [&keys, &tags](int m, const address_key& key) {
    keys[m] = key;
    tags[m / 8] |= tag_of(key) << (8 * (m % 8));
  };
  for (int m = 0; m < slots; ++m) add_key(m, key_of(base->ap[m]));

  int64_t dropped = 0;
  for (int32_t j = 0; j < count; ++j) {
    const refpoint& other = others[j];
    for (int k = 0; k < other.ap_count && k < MAX_APS; ++k) {
      const ap_reading& reading = other.ap[k];
      const address_key key = key_of(reading);
      const uint64_t spread = tag_of(key) * 0x0101010101010101u;
      // The first slot, in order, with the same key. zero_bytes flags every
      // slot whose tag matches (and perhaps a few more): each is checked.
      int match = -1;
      for (int half = 0; half < MAX_APS / 8 && match < 0; ++half) {
        for (uint64_t hits = zero_bytes(tags[half] ^ spread); hits != 0; hits &= hits - 1) {
          const int m = 8 * half + std::countr_zero(hits) / 8;
          if (m >= slots) break;
          if (same_key(keys[m], key)) {
            match = m;
            break;
          }
        }
      }
      if (match >= 0) {
        ap_reading& slot = base->ap[match];
        slot.signal_level += reading.signal_level;
        slot.noise_level += reading.noise_level;
        // Unsigned, so that even a corrupt count wraps instead of overflowing.
        slot.seen = static_cast<int32_t>(static_cast<uint32_t>(slot.seen) + 1u);
      } else if (slots >= MAX_APS) {
        ++dropped;  // no 17th slot, as in merge_scan
      } else {
        base->ap[slots] = reading;
        add_key(slots, key);
        base->ap_count = ++slots;
      }
    }
  }
  return dropped;
}

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
