// The SVG heat map of one access point's mean signal over the survey grid.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>
#include <vector>

#include "apdump/formats.h"

namespace {

struct rgb {
  int r, g, b;
};

// Viridis at ten evenly spaced stops, from the weakest level to the
// strongest; colours between stops are interpolated linearly in sRGB, the
// same way the legend's gradient is.
constexpr rgb VIRIDIS[] = {{0x44, 0x01, 0x54}, {0x48, 0x28, 0x78}, {0x3e, 0x4a, 0x89}, {0x31, 0x68, 0x8e},
                           {0x26, 0x82, 0x8e}, {0x1f, 0x9e, 0x89}, {0x35, 0xb7, 0x79}, {0x6d, 0xcd, 0x59},
                           {0xb4, 0xde, 0x2c}, {0xfd, 0xe7, 0x25}};
constexpr int STOPS = static_cast<int>(std::size(VIRIDIS));

constexpr const char* NOT_SEEN_FILL = "#c8c8c8";
constexpr const char* NOT_FINITE_FILL = "#e7298a";
constexpr const char* EMPTY_FILL = "#ffffff";
constexpr const char* EMPTY_STROKE = "#a0a0a0";
constexpr const char* FONT = "DejaVu Sans, Helvetica, Arial, sans-serif";

struct cell {
  int64_t points = 0;  // reference points in the cell
  int64_t seeing = 0;  // of them, points that see the address
  int64_t finite = 0;  // of those, points with a finite mean signal
  double sum = 0;      // of those points' means
};

struct grid {
  int64_t min_x = 0, min_y = 0;  // survey coordinates of cell (0, 0)
  int64_t width = 0, height = 0;
};

std::string hex_colour(rgb c) {
  constexpr char digits[] = "0123456789abcdef";
  std::string s = "#";
  for (int v : {c.r, c.g, c.b}) {
    s += digits[(v >> 4) & 15];
    s += digits[v & 15];
  }
  return s;
}

std::string colour_at(double t) {
  t = t >= 0 ? std::min(t, 1.0) : 0.0;  // NaN too
  const double pos = t * (STOPS - 1);
  const int k = std::min(static_cast<int>(pos), STOPS - 2);
  const double f = pos - k;
  const rgb a = VIRIDIS[k], b = VIRIDIS[k + 1];
  auto mix = [f](int x, int y) { return static_cast<int>(std::lround(x + (y - x) * f)); };
  return hex_colour({mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)});
}

std::string px(int64_t v) { return int_text(v); }

// A level for the picture: fixed point, or six significant digits for the
// magnitudes no scan writes, which only a damaged database holds.
std::string level_text(double v, int decimals) {
  if (std::fabs(v) < 1e6) return fixed_text(v, decimals);
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
  return std::string(buf, r.ptr);
}

// The header's grid when it holds every point, else the records' bounds.
grid choose_grid(const radio_map& map, heatmap_notes* notes) {
  const db_header& h = map.header;
  const int32_t n = h.num_refpoints;
  grid g{-int64_t{h.offset_x}, -int64_t{h.offset_y}, h.width, h.height};
  bool holds = g.width >= 1 && g.height >= 1;
  int64_t min_x = INT64_MAX, max_x = INT64_MIN, min_y = INT64_MAX, max_y = INT64_MIN;
  for (int32_t i = 0; i < n; ++i) {
    const refpoint& r = map.records[static_cast<std::size_t>(i)];
    const int64_t gx = r.x - g.min_x, gy = r.y - g.min_y;
    holds = holds && gx >= 0 && gx < g.width && gy >= 0 && gy < g.height;
    min_x = std::min<int64_t>(min_x, r.x);
    max_x = std::max<int64_t>(max_x, r.x);
    min_y = std::min<int64_t>(min_y, r.y);
    max_y = std::max<int64_t>(max_y, r.y);
  }
  if (holds) return g;
  notes->warning = "the header's grid (" + int_text(h.width) + " x " + int_text(h.height) +
                   ", offsets " + int_text(h.offset_x) + ", " + int_text(h.offset_y) +
                   ") does not hold every reference point; drawing the records' own bounds";
  return grid{min_x, min_y, max_x - min_x + 1, max_y - min_y + 1};
}

// A step from 1, 2, 5 times a power of ten that cuts `range` into about five.
double nice_step(double range) {
  const double raw = range / 5;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double m = raw / power;
  return (m <= 1 ? 1 : m <= 2 ? 2 : m <= 5 ? 5 : 10) * power;
}

// The smallest of 1, 2, 5, 10, 20, ... cells whose ticks stand `gap` pixels apart.
int64_t tick_cells(int64_t cell_px, int64_t gap) {
  for (int64_t power = 1;; power *= 10) {
    for (int64_t m : {1, 2, 5}) {
      if (m * power * cell_px >= gap) return m * power;
    }
  }
}

bool multiple_of(int64_t v, int64_t step) { return ((v % step) + step) % step == 0; }

void put_text(out_sink* out, int64_t x, int64_t y, std::string_view attributes, std::string_view text) {
  put(out, "<text x=\"" + px(x) + "\" y=\"" + px(y) + "\" " + std::string(attributes) + ">");
  put_xml_text(out, text);
  put(out, "</text>\n");
}

void put_swatch(out_sink* out, int64_t x, int64_t y, std::string_view style, std::string_view label) {
  put(out, "<rect class=\"swatch\" x=\"" + px(x) + "\" y=\"" + px(y) + "\" width=\"14\" height=\"14\" " +
               std::string(style) + "/>\n");
  put_text(out, x + 20, y + 11, "font-size=\"12\"", label);
}

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

  const grid g = choose_grid(map, notes);
  if (g.width > HEATMAP_MAX_SIDE || g.height > HEATMAP_MAX_SIDE ||
      g.width * g.height > HEATMAP_MAX_CELLS) {
    notes->problem = "the grid is " + int_text(g.width) + " x " + int_text(g.height) +
                     " cells, more than can be drawn (at most " + int_text(HEATMAP_MAX_SIDE) +
                     " on a side and " + int_text(HEATMAP_MAX_CELLS) + " in all)";
    return HEATMAP_TOO_LARGE;
  }

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

  bool any_finite = false, any_not_finite = false;
  double lo = 0, hi = 0;
  for (const cell& c : cells) {
    if (c.seeing > 0 && c.finite == 0) any_not_finite = true;
    if (c.finite == 0) continue;
    const double v = c.sum / static_cast<double>(c.finite);
    lo = any_finite ? std::min(lo, v) : v;
    hi = any_finite ? std::max(hi, v) : v;
    any_finite = true;
  }
  const double weakest = lo, strongest = hi;
  if (!(hi > lo)) {  // one value: put it mid-scale, on a range that is not empty at any magnitude
    const double pad = std::max(0.5, std::fabs(hi) * 1e-6);
    lo -= pad;
    hi += pad;
  }

  // Layout, in pixels: title, then the grid with its axes, the legend right of it.
  const int64_t cell_px = std::clamp<int64_t>(480 / std::max(g.width, g.height), 4, 64);
  const int64_t left = 72, top = 76;
  const int64_t grid_w = g.width * cell_px, grid_h = g.height * cell_px;
  const int64_t legend_x = left + grid_w + 40;
  const int64_t bar_top = top + 30, bar_h = 150;
  const std::string title =
      display_name(address) + " \u2014 " + (name.empty() ? std::string("(no name)") : display_name(name));
  const int64_t width = std::max<int64_t>({legend_x + 180, left + 10 * static_cast<int64_t>(title.size()), 480});
  // Below the grid: tick labels and the axis name; the legend ends with up to three swatches.
  const int64_t height = top + std::max<int64_t>(grid_h + 50, bar_h + 30 + 24 + 3 * 22) + 16;

  put(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  put(out, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + px(width) + "\" height=\"" + px(height) +
               "\" viewBox=\"0 0 " + px(width) + " " + px(height) + "\" font-family=\"" + FONT + "\">\n");
  put(out, "<title>");
  put_xml_text(out, title);
  put(out, "</title>\n");
  put(out, "<defs><linearGradient id=\"viridis\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">");
  for (int k = 0; k < STOPS; ++k) {
    put(out, "<stop offset=\"" + fixed_text(static_cast<double>(k) / (STOPS - 1), 4) + "\" stop-color=\"" +
                 hex_colour(VIRIDIS[k]) + "\"/>");
  }
  put(out, "</linearGradient></defs>\n");
  put(out, "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n");
  put_text(out, left, 30, "font-size=\"17\" font-weight=\"bold\"", title);
  std::string subtitle = "seen at " + int_text(seeing_points) + " of " + int_text(n) + " reference points";
  if (any_finite) {
    subtitle += ", mean signal " + level_text(weakest, 1) + " to " + level_text(strongest, 1);
  }
  put_text(out, left, 52, "font-size=\"13\" fill=\"#444444\"", subtitle);

  put(out, "<g class=\"cells\" shape-rendering=\"crispEdges\">\n");
  for (int64_t gy = 0; gy < g.height; ++gy) {
    for (int64_t gx = 0; gx < g.width; ++gx) {
      const cell& c = cells[static_cast<std::size_t>(gy * g.width + gx)];
      const int64_t x = left + gx * cell_px, y = top + (g.height - 1 - gy) * cell_px;
      std::string where = "(";  // appended: see write_csv on GCC 12's -Wrestrict
      where += int_text(g.min_x + gx);
      where += ", ";
      where += int_text(g.min_y + gy);
      where += ')';
      const std::string data = "data-x=\"" + int_text(g.min_x + gx) + "\" data-y=\"" +
                               int_text(g.min_y + gy) + "\" ";
      std::string tip;
      std::string fill;
      std::string outline;
      if (c.points == 0) {
        fill = EMPTY_FILL;
        tip = where + ": no reference point";
        // A dashed outline just inside the square.
        outline = "<rect x=\"" + px(x) + ".5\" y=\"" + px(y) + ".5\" width=\"" + px(cell_px - 1) +
                  "\" height=\"" + px(cell_px - 1) + "\" fill=\"none\" stroke=\"" + EMPTY_STROKE +
                  "\" stroke-dasharray=\"3 2\"/>\n";
      } else {
        const std::string at = " (" + int_text(c.points) + (c.points == 1 ? " point)" : " points)");
        if (c.seeing == 0) {
          fill = NOT_SEEN_FILL;
          tip = where + ": not seen" + at;
        } else if (c.finite == 0) {
          fill = NOT_FINITE_FILL;
          tip = where + ": level not finite" + at;
        } else {
          const double v = c.sum / static_cast<double>(c.finite);
          fill = colour_at((v - lo) / (hi - lo));
          tip = where + ": " + level_text(v, 1) + at;
        }
      }
      put(out, std::string(c.points == 0 ? "<rect class=\"cell empty\" " : "<rect class=\"cell\" ") + data +
                   "x=\"" + px(x) + "\" y=\"" + px(y) + "\" width=\"" + px(cell_px) + "\" height=\"" +
                   px(cell_px) + "\" fill=\"" + fill + "\"><title>");
      put_xml_text(out, tip);
      put(out, "</title></rect>\n" + outline);
    }
  }
  put(out, "</g>\n");
  put(out, "<rect x=\"" + px(left) + ".5\" y=\"" + px(top) + ".5\" width=\"" + px(grid_w) + "\" height=\"" +
               px(grid_h) + "\" fill=\"none\" stroke=\"#555555\"/>\n");

  // Axes: ticks at the survey's own coordinates, at multiples of a step.
  const int64_t step = tick_cells(cell_px, 30);
  put(out, "<g class=\"axes\" font-size=\"12\" stroke-width=\"1\">\n");
  for (int64_t gx = 0; gx < g.width; ++gx) {
    if (!multiple_of(g.min_x + gx, step)) continue;
    const int64_t cx = left + gx * cell_px + cell_px / 2;
    put(out, "<line x1=\"" + px(cx) + ".5\" y1=\"" + px(top + grid_h) + "\" x2=\"" + px(cx) + ".5\" y2=\"" +
                 px(top + grid_h + 5) + "\" stroke=\"#555555\"/>\n");
    put_text(out, cx, top + grid_h + 19, "class=\"xtick\" text-anchor=\"middle\"", int_text(g.min_x + gx));
  }
  for (int64_t gy = 0; gy < g.height; ++gy) {
    if (!multiple_of(g.min_y + gy, step)) continue;
    const int64_t cy = top + (g.height - 1 - gy) * cell_px + cell_px / 2;
    put(out, "<line x1=\"" + px(left - 5) + "\" y1=\"" + px(cy) + ".5\" x2=\"" + px(left) + "\" y2=\"" +
                 px(cy) + ".5\" stroke=\"#555555\"/>\n");
    put_text(out, left - 8, cy + 4, "class=\"ytick\" text-anchor=\"end\"", int_text(g.min_y + gy));
  }
  put_text(out, left + grid_w / 2, top + grid_h + 40, "text-anchor=\"middle\" font-style=\"italic\"", "x");
  put_text(out, left - 48, top + grid_h / 2 + 4, "text-anchor=\"middle\" font-style=\"italic\"", "y");
  put(out, "</g>\n");

  // Legend: the scale in the levels' own units, then the other looks.
  put(out, "<g class=\"legend\">\n");
  put_text(out, legend_x, top + 6, "font-size=\"12\" font-weight=\"bold\"", "mean signal");
  put_text(out, legend_x, top + 20, "font-size=\"11\" fill=\"#444444\"", "level as scanned (dBm)");
  int64_t y = bar_top;
  if (any_finite) {
    put(out, "<rect x=\"" + px(legend_x) + "\" y=\"" + px(bar_top) + "\" width=\"16\" height=\"" + px(bar_h) +
                 "\" fill=\"url(#viridis)\" stroke=\"#555555\" stroke-width=\"0.5\"/>\n");
    const double tick = nice_step(hi - lo);
    const int decimals = tick >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(tick) - 1e-9));
    double v = std::ceil(lo / tick) * tick;
    for (int count = 0; count < 20 && v <= hi + tick * 1e-9; ++count, v += tick) {
      const auto ty = bar_top + static_cast<int64_t>(std::lround(static_cast<double>(bar_h) * (hi - v) / (hi - lo)));
      put(out, "<line x1=\"" + px(legend_x + 16) + "\" y1=\"" + px(ty) + ".5\" x2=\"" + px(legend_x + 21) +
                   "\" y2=\"" + px(ty) + ".5\" stroke=\"#555555\"/>\n");
      put_text(out, legend_x + 25, ty + 4, "class=\"level\" font-size=\"12\"", level_text(v, decimals));
    }
    y += bar_h + 24;
  } else {
    put_text(out, legend_x, bar_top + 12, "font-size=\"12\"", "no finite level");
    y += 24;
  }
  put_swatch(out, legend_x, y, std::string("fill=\"") + NOT_SEEN_FILL + "\"", "not seen");
  y += 22;
  put_swatch(out, legend_x, y,
             std::string("fill=\"") + EMPTY_FILL + "\" stroke=\"" + EMPTY_STROKE + "\" stroke-dasharray=\"3 2\"",
             "no reference point");
  if (any_not_finite) {
    y += 22;
    put_swatch(out, legend_x, y, std::string("fill=\"") + NOT_FINITE_FILL + "\"", "level not finite");
  }
  put(out, "</g>\n</svg>\n");
  return HEATMAP_OK;
}
