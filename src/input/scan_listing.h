// The access points a Linux scanner lists, read whole from either of the two
// layouts the scanners print, and the scan report that apfold reads, written
// from them.
//
// The wireless tools ("iwlist wlan0 scan") number cells and label values:
//
//   wlan0     Scan completed :
//             Cell 01 - Address: 00:1A:2B:3C:4D:5E
//                       Quality=60/70  Signal level=-50 dBm  Noise level=-95 dBm
//                       ESSID:"Office"
//
// iw ("iw dev wlan0 scan") starts each access point at the line's start and
// indents what it heard with tabs; it prints no noise level:
//
//   BSS 00:1a:2b:3c:4d:5e(on wlan0) -- associated
//   	signal: -50.00 dBm
//   	SSID: Office
//
// Both escape the bytes of a network name that are not printable as \xNN;
// names are kept as printed, escapes included.
#pragma once

#include <cstddef>
#include <span>

enum class listing_format {
  none,            // neither layout: no cell, no "Scan completed", no "No scan results"
  wireless_tools,  // "Cell NN - Address: ..." (or a listing of no cell)
  iw,              // "BSS <address>" at a line's start
};

inline constexpr std::size_t LISTED_ADDRESS_SIZE = 18;  // "00:1A:2B:3C:4D:5E" and its NUL
// A name is at most 32 bytes, each printed as \xNN at worst: 128 characters.
inline constexpr std::size_t LISTED_NAME_SIZE = 4 * 32 + 1;

// One access point of a listing.
struct listed_cell {
  char address[LISTED_ADDRESS_SIZE];  // six octets in upper-case hex, ':' between
  char name[LISTED_NAME_SIZE];        // as printed, NUL-terminated; "" for a hidden network
  float signal;                       // finite
  float noise;                        // finite when has_noise, 0 otherwise
  bool has_noise;
  bool in_dbm;  // the levels were printed in dBm (not as "45/100")
};

struct listing_info {
  listing_format format;
  std::size_t cells;     // cells read: those the array held and any beyond
  std::size_t left_out;  // cells without a hardware address or a finite signal level
};

// Reads the NUL-terminated scanner output `text`. The layout is the one of the
// first line that starts a cell ("Cell NN - Address:" or "BSS <address>");
// without one, a wireless-tools listing that heard nothing ("Scan completed",
// "No scan results"), or none. Each cell's values are taken from its own
// lines, the first of each kind; a name or level with no line of its own in
// the cell stays unknown. Cells that lack a hardware address or a finite
// signal level are counted in left_out and not stored. The first
// cells.size() of the others fill `cells`, in the listing's order; the
// return value (and info->cells) counts them all, so a caller with too small
// an array can call again with room for that many. Lines may end in LF or
// CR LF. Prints nothing.
std::size_t read_scan_listing(const char* text, std::span<listed_cell> cells, listing_info* info);

// Orders cells by signal level, strongest first; cells of equal level keep
// their order.
void order_strongest_first(std::span<listed_cell> cells);

// Bytes write_scan_report needs at most for `count` cells, its NUL included;
// 0 when that is more than a size_t holds.
std::size_t scan_report_capacity(std::size_t count);

// Writes the cells, in their order, as a wireless-tools report that apfold
// reads back exactly: for cell k (from 01),
//
//             Cell 01 - Address: 00:1A:2B:3C:4D:5E
//                       Signal level=-50 dBm  Noise level=-95 dBm
//                       ESSID:"Office"
//
// with " dBm" only for levels in dBm, in the shortest form that reads back to
// the same float. apfold starts a cell at every "Cell" and takes a missing
// label from further on, so the name comes last in its cell, the letters
// "Cell" and "Noise level" in names are written with their first letter
// escaped (\x43ell, \x4eoise level), and noise levels are written when a
// cell has one: then in every cell, as 0 where the scanner gave none, which
// is what apfold records for a report without noise levels. `out` has room for scan_report_capacity(
// cells.size()) bytes; returns the length written before the NUL.
std::size_t write_scan_report(std::span<const listed_cell> cells, char* out);
