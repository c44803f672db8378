// Folding the scans of one reference point into one record: the union of the
// access points seen, matched by exact address text, with levels summed in
// scan order and then averaged over the readings behind each slot.
#pragma once

#include <cstddef>
#include <cstdint>

#include "radiomap/refpoint.h"

// Adds every slot of `other` to `base`: a slot whose address `base` already
// holds adds its levels to the first such slot and counts one more reading;
// any other slot is appended whole (name, levels, seen). Slots appended here
// are match candidates for the later slots of the same `other`. A reading
// that would need a slot past MAX_APS is dropped; returns how many were.
// Between the first merge and average_refpoint, `base` holds level sums.
int merge_scan(refpoint* base, const refpoint* other);

// The folding of one reference point: merge_scan of others[0], others[1],
// ... others[count - 1] into `base` in that order; returns the readings
// dropped in all. The result is the same, bit for bit, as those merge_scan
// calls. `base` must hold 0 to MAX_APS slots, as parse_scan leaves a record.
int64_t fold_scans(refpoint* base, const refpoint* others, int32_t count);

// Turns the sums into means: each slot's levels divided by its `seen`.
void average_refpoint(refpoint* base);
