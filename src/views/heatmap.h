// A survey grid drawn as an SVG heat map: one square per grid cell, y growing
// upwards, the survey's own coordinates on the axes, cells with a value
// coloured on the viridis scale from the lowest value (dark purple) to the
// highest (yellow), with a legend. apdump draws an access point's signal
// with it and aplocate the error of each reference point.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "radiomap/db_reader.h"
#include "views/text.h"

inline constexpr int64_t HEATMAP_MAX_SIDE = 1000;
inline constexpr int64_t HEATMAP_MAX_CELLS = 250000;

// The cells drawn: survey coordinates of cell (0, 0) and the extent.
struct map_grid {
  int64_t min_x = 0, min_y = 0;
  int64_t width = 0, height = 0;
};

// The header's grid when it holds every reference point; otherwise the
// records' own bounds, and *warning says so.
map_grid grid_of(const radio_map& map, std::string* warning);

// Whether a grid is small enough to draw (HEATMAP_MAX_SIDE on a side,
// HEATMAP_MAX_CELLS in all); otherwise *problem says why not.
bool grid_fits(const map_grid& g, std::string* problem);

// How one cell looks.
enum class cell_look {
  empty,       // no reference point: white, dashed outline
  no_value,    // reference points, but nothing to show for them: grey
  not_finite,  // reference points whose values are all not finite: pink
  value,       // coloured by `value`
};

struct map_cell {
  cell_look look = cell_look::empty;
  double value = 0;  // for cell_look::value
  std::string tip;   // shown on hover after "(x, y): "; empty cells say legend.empty
};

// The words of a map besides its cells.
struct map_labels {
  std::string title;       // first line, bold; also the document's <title>
  std::string subtitle;    // second line
  std::string scale;       // the legend's heading, e.g. "mean signal"
  std::string units;       // below it, e.g. "level as scanned (dBm)"
  std::string no_value;    // swatch text for cell_look::no_value
  std::string not_finite;  // swatch text for cell_look::not_finite (shown only when used)
  std::string empty;       // swatch text for cell_look::empty
  std::string none;        // the legend's text instead of the scale when no cell has a value
};

// Writes the SVG document for g.width x g.height cells, given row by row
// from the lowest y (cells[gy * width + gx]); g must fit (grid_fits).
void draw_heatmap(out_sink* out, const map_grid& g, std::span<const map_cell> cells,
                  const map_labels& labels);

// A value for a map: fixed point with `decimals` digits, or six significant
// digits for magnitudes of a million and more.
std::string map_value_text(double v, int decimals);
