// apdump's views of a database that read_database accepted: a summary for
// people, CSV and JSON for programs, and an SVG heat map of one access point.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "radiomap/db_reader.h"
#include "views/text.h"

// The header fields and whether compute_bounds over the records gives the
// same, the grid's extent, a table of the distinct access points (by
// address, as apfold matches them) sorted by how many points see them and
// then by address, the points that see none, and anything suspicious: levels
// that are not finite, `seen` below 1, unused slots that are not zero.
void write_summary(out_sink* out, std::string_view file_name, uint64_t file_size,
                   const radio_map& map);

// One row per used slot: point,x,y,address,essid,signal,noise,seen, after a
// header row; a point without access points gets one row with the last five
// fields empty. Levels in the shortest form that reads back to the same float
// ("nan", "inf", "-inf" when not finite). Rows end in LF.
void write_csv(out_sink* out, const radio_map& map);

// {"header": {...}, "refpoints": [{"point", "x", "y", "access_points":
// [{"address", "essid", "signal", "noise", "seen"}...]}...]}. Levels as in
// the CSV; a level that is not finite is null. Names as put_json_string.
void write_json(out_sink* out, const radio_map& map);

inline constexpr int HEATMAP_OK = 0;
inline constexpr int HEATMAP_NOT_SEEN = 1;   // no reference point sees the address
inline constexpr int HEATMAP_TOO_LARGE = 2;  // the grid has too many cells to draw

// What write_heatmap has to say besides the picture: why there is none
// (problem), or a remark about the grid it drew (warning). Both without the
// file name.
struct heatmap_notes {
  std::string problem;
  std::string warning;
};

// The access point's mean signal over the survey grid as an SVG document.
// One square per grid cell, placed by the header's offsets with y growing
// upwards; when the header's grid does not hold every reference point, the
// records' own bounds are drawn instead and notes->warning says so. A cell's
// value is the mean over its points of each point's mean signal for the
// address (a point holding the address in several slots counts once, with
// the average of their finite means). Colours run over viridis from the
// weakest to the strongest cell value; cells where the address is not seen
// are grey, cells with no reference point white with a dashed outline, cells
// whose levels are all not finite pink.
int write_heatmap(out_sink* out, const radio_map& map, std::string_view address,
                  heatmap_notes* notes);
