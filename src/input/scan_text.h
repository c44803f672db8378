// Wireless scan reports in the layout of the Linux wireless tools' scan
// listing: every access point is a cell introduced by "Cell", described by
// labelled values further on:
//
//   Cell 01 - Address: 00:1A:2B:3C:4D:5E
//             ESSID:"Office"
//             Quality=60/70  Signal level=-50 dBm  Noise level=-95 dBm
#pragma once

#include "radiomap/refpoint.h"

// Fills slots 0..count-1 of the zero-filled `record` from the NUL-terminated
// scan text, one slot per cell in order, at most MAX_APS; sets ap_count and
// returns the count. Each label is taken from its first occurrence at or
// after the cell's "Cell", so a cell lacking a label takes it from a later
// cell; a label found nowhere leaves its field zero. Prints nothing.
//   "Address:"        first word after it -> address (at most 31 bytes kept)
//   "ESSID:"          a '"' directly after it, then the next word less its
//                     last byte -> essid (at most 32 bytes kept); otherwise ""
//   "Signal level=" / "Signal level:"  leading number of the next word
//   "Noise level="  / "Noise level:"   likewise
int parse_scan(const char* text, refpoint* record);
