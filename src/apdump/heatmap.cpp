// The SVG heat map of one access point's mean signal over the survey grid,
// drawn by the shared views/heatmap.
#include <algorithm>
#include <cmath>
#include <vector>

#include "apdump/formats.h"
#include "views/heatmap.h"

namespace {

struct cell {
  int64_t points = 0;  // reference points in the cell
  int64_t seeing = 0;  // of them, points that see the address
  int64_t finite = 0;  // of those, points with a finite mean signal
  double sum = 0;      // of those points' means
};

}  // namespace

int write_heatmap(out_sink* out, const radio_map& map, std::string_view address,
                  heatmap_notes* notes) {
  const int32_t n = map.header.num_refpoints;
  std::string_view name;
  bool found = false;
  for (int32_t i = 0; i < n && !found; ++i) {
    const refpoint& r = map.records[static_cast<std::size_t>(i)];
    for (int32_t k = 0; k < r.ap_count && !found; ++k) {
      if (slot_address(r.ap[k]) == address) {
        found = true;
        name = slot_essid(r.ap[k]);
      }
    }
  }
  if (!found) {
    notes->problem = "no reference point sees access point " + display_name(address);
    return HEATMAP_NOT_SEEN;
  }

  const map_grid g = grid_of(map, &notes->warning);
  if (!grid_fits(g, &notes->problem)) return HEATMAP_TOO_LARGE;

  std::vector<cell> cells(static_cast<std::size_t>(g.width * g.height));
  int64_t seeing_points = 0;
  for (int32_t i = 0; i < n; ++i) {
    const refpoint& r = map.records[static_cast<std::size_t>(i)];
    cell& c = cells[static_cast<std::size_t>((r.y - g.min_y) * g.width + (r.x - g.min_x))];
    ++c.points;
    bool sees = false;
    double sum = 0;
    int finite = 0;
    for (int32_t k = 0; k < r.ap_count; ++k) {
      if (slot_address(r.ap[k]) != address) continue;
      sees = true;
      if (std::isfinite(r.ap[k].signal_level)) {
        sum += r.ap[k].signal_level;
        ++finite;
      }
    }
    if (!sees) continue;
    ++seeing_points;
    ++c.seeing;
    if (finite > 0) {
      c.sum += sum / finite;
      ++c.finite;
    }
  }

  std::vector<map_cell> drawn(cells.size());
  bool any_finite = false;
  double weakest = 0, strongest = 0;
  for (std::size_t k = 0; k < cells.size(); ++k) {
    const cell& c = cells[k];
    map_cell& d = drawn[k];
    if (c.points == 0) continue;  // empty
    const std::string at = " (" + int_text(c.points) + (c.points == 1 ? " point)" : " points)");
    if (c.seeing == 0) {
      d.look = cell_look::no_value;
      d.tip = "not seen" + at;
    } else if (c.finite == 0) {
      d.look = cell_look::not_finite;
      d.tip = "level not finite" + at;
    } else {
      d.look = cell_look::value;
      d.value = c.sum / static_cast<double>(c.finite);
      d.tip = map_value_text(d.value, 1) + at;
      weakest = any_finite ? std::min(weakest, d.value) : d.value;
      strongest = any_finite ? std::max(strongest, d.value) : d.value;
      any_finite = true;
    }
  }

  map_labels labels;
  labels.title =
      display_name(address) + " \u2014 " + (name.empty() ? std::string("(no name)") : display_name(name));
  labels.subtitle = "seen at " + int_text(seeing_points) + " of " + int_text(n) + " reference points";
  if (any_finite) {
    labels.subtitle += ", mean signal " + map_value_text(weakest, 1) + " to " + map_value_text(strongest, 1);
  }
  labels.scale = "mean signal";
  labels.units = "level as scanned (dBm)";
  labels.no_value = "not seen";
  labels.not_finite = "level not finite";
  labels.empty = "no reference point";
  labels.none = "no finite level";
  draw_heatmap(out, g, drawn, labels);
  return HEATMAP_OK;
}
