#include "views/heatmap.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iterator>

namespace {

struct rgb {
  int r, g, b;
};

// Viridis at ten evenly spaced stops, from the lowest value to the highest;
// colours between stops are interpolated linearly in sRGB, the same way the
// legend's gradient is.
constexpr rgb VIRIDIS[] = {{0x44, 0x01, 0x54}, {0x48, 0x28, 0x78}, {0x3e, 0x4a, 0x89}, {0x31, 0x68, 0x8e},
                           {0x26, 0x82, 0x8e}, {0x1f, 0x9e, 0x89}, {0x35, 0xb7, 0x79}, {0x6d, 0xcd, 0x59},
                           {0xb4, 0xde, 0x2c}, {0xfd, 0xe7, 0x25}};
constexpr int STOPS = static_cast<int>(std::size(VIRIDIS));

constexpr const char* NO_VALUE_FILL = "#c8c8c8";
constexpr const char* NOT_FINITE_FILL = "#e7298a";
constexpr const char* EMPTY_FILL = "#ffffff";
constexpr const char* EMPTY_STROKE = "#a0a0a0";
constexpr const char* FONT = "DejaVu Sans, Helvetica, Arial, sans-serif";

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

std::string map_value_text(double v, int decimals) {
  if (std::fabs(v) < 1e6) return fixed_text(v, decimals);
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
  return std::string(buf, r.ptr);
}

map_grid grid_of(const radio_map& map, std::string* warning) {
  const db_header& h = map.header;
  const int32_t n = h.num_refpoints;
  map_grid g{-int64_t{h.offset_x}, -int64_t{h.offset_y}, h.width, h.height};
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
  *warning = "the header's grid (" + int_text(h.width) + " x " + int_text(h.height) + ", offsets " +
             int_text(h.offset_x) + ", " + int_text(h.offset_y) +
             ") does not hold every reference point; drawing the records' own bounds";
  return map_grid{min_x, min_y, max_x - min_x + 1, max_y - min_y + 1};
}

bool grid_fits(const map_grid& g, std::string* problem) {
  if (g.width <= HEATMAP_MAX_SIDE && g.height <= HEATMAP_MAX_SIDE && g.width * g.height <= HEATMAP_MAX_CELLS) {
    return true;
  }
  *problem = "the grid is " + int_text(g.width) + " x " + int_text(g.height) +
             " cells, more than can be drawn (at most " + int_text(HEATMAP_MAX_SIDE) + " on a side and " +
             int_text(HEATMAP_MAX_CELLS) + " in all)";
  return false;
}

void draw_heatmap(out_sink* out, const map_grid& g, std::span<const map_cell> cells,
                  const map_labels& labels) {
  bool any_value = false, any_not_finite = false;
  double lo = 0, hi = 0;
  for (const map_cell& c : cells) {
    if (c.look == cell_look::not_finite) any_not_finite = true;
    if (c.look != cell_look::value) continue;
    lo = any_value ? std::min(lo, c.value) : c.value;
    hi = any_value ? std::max(hi, c.value) : c.value;
    any_value = true;
  }
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
  const int64_t width =
      std::max<int64_t>({legend_x + 180, left + 10 * static_cast<int64_t>(labels.title.size()), 480});
  // Below the grid: tick labels and the axis name; the legend ends with up to three swatches.
  const int64_t height = top + std::max<int64_t>(grid_h + 50, bar_h + 30 + 24 + 3 * 22) + 16;

  put(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  put(out, "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + px(width) + "\" height=\"" + px(height) +
               "\" viewBox=\"0 0 " + px(width) + " " + px(height) + "\" font-family=\"" + FONT + "\">\n");
  put(out, "<title>");
  put_xml_text(out, labels.title);
  put(out, "</title>\n");
  put(out, "<defs><linearGradient id=\"viridis\" x1=\"0\" y1=\"1\" x2=\"0\" y2=\"0\">");
  for (int k = 0; k < STOPS; ++k) {
    put(out, "<stop offset=\"" + fixed_text(static_cast<double>(k) / (STOPS - 1), 4) + "\" stop-color=\"" +
                 hex_colour(VIRIDIS[k]) + "\"/>");
  }
  put(out, "</linearGradient></defs>\n");
  put(out, "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n");
  put_text(out, left, 30, "font-size=\"17\" font-weight=\"bold\"", labels.title);
  put_text(out, left, 52, "font-size=\"13\" fill=\"#444444\"", labels.subtitle);

  put(out, "<g class=\"cells\" shape-rendering=\"crispEdges\">\n");
  for (int64_t gy = 0; gy < g.height; ++gy) {
    for (int64_t gx = 0; gx < g.width; ++gx) {
      const map_cell& c = cells[static_cast<std::size_t>(gy * g.width + gx)];
      const int64_t x = left + gx * cell_px, y = top + (g.height - 1 - gy) * cell_px;
      std::string tip = "(";  // appended piece by piece: GCC 12's -Wrestrict, see write_csv
      tip += int_text(g.min_x + gx);
      tip += ", ";
      tip += int_text(g.min_y + gy);
      tip += "): ";
      tip += c.look == cell_look::empty ? labels.empty : c.tip;
      const std::string data = "data-x=\"" + int_text(g.min_x + gx) + "\" data-y=\"" +
                               int_text(g.min_y + gy) + "\" ";
      std::string fill;
      std::string outline;
      switch (c.look) {
        case cell_look::empty:
          fill = EMPTY_FILL;
          // A dashed outline just inside the square.
          outline = "<rect x=\"" + px(x) + ".5\" y=\"" + px(y) + ".5\" width=\"" + px(cell_px - 1) +
                    "\" height=\"" + px(cell_px - 1) + "\" fill=\"none\" stroke=\"" + EMPTY_STROKE +
                    "\" stroke-dasharray=\"3 2\"/>\n";
          break;
        case cell_look::no_value: fill = NO_VALUE_FILL; break;
        case cell_look::not_finite: fill = NOT_FINITE_FILL; break;
        case cell_look::value: fill = colour_at((c.value - lo) / (hi - lo)); break;
      }
      put(out, std::string(c.look == cell_look::empty ? "<rect class=\"cell empty\" " : "<rect class=\"cell\" ") +
                   data + "x=\"" + px(x) + "\" y=\"" + px(y) + "\" width=\"" + px(cell_px) + "\" height=\"" +
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

  // Legend: the scale in the values' own units, then the other looks.
  put(out, "<g class=\"legend\">\n");
  put_text(out, legend_x, top + 6, "font-size=\"12\" font-weight=\"bold\"", labels.scale);
  put_text(out, legend_x, top + 20, "font-size=\"11\" fill=\"#444444\"", labels.units);
  int64_t y = bar_top;
  if (any_value) {
    put(out, "<rect x=\"" + px(legend_x) + "\" y=\"" + px(bar_top) + "\" width=\"16\" height=\"" + px(bar_h) +
                 "\" fill=\"url(#viridis)\" stroke=\"#555555\" stroke-width=\"0.5\"/>\n");
    const double tick = nice_step(hi - lo);
    const int decimals = tick >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(tick) - 1e-9));
    double v = std::ceil(lo / tick) * tick;
    for (int count = 0; count < 20 && v <= hi + tick * 1e-9; ++count, v += tick) {
      const auto ty = bar_top + static_cast<int64_t>(std::lround(static_cast<double>(bar_h) * (hi - v) / (hi - lo)));
      put(out, "<line x1=\"" + px(legend_x + 16) + "\" y1=\"" + px(ty) + ".5\" x2=\"" + px(legend_x + 21) +
                   "\" y2=\"" + px(ty) + ".5\" stroke=\"#555555\"/>\n");
      put_text(out, legend_x + 25, ty + 4, "class=\"level\" font-size=\"12\"", map_value_text(v, decimals));
    }
    y += bar_h + 24;
  } else {
    put_text(out, legend_x, bar_top + 12, "font-size=\"12\"", labels.none);
    y += 24;
  }
  put_swatch(out, legend_x, y, std::string("fill=\"") + NO_VALUE_FILL + "\"", labels.no_value);
  y += 22;
  put_swatch(out, legend_x, y,
             std::string("fill=\"") + EMPTY_FILL + "\" stroke=\"" + EMPTY_STROKE + "\" stroke-dasharray=\"3 2\"",
             labels.empty);
  if (any_not_finite) {
    y += 22;
    put_swatch(out, legend_x, y, std::string("fill=\"") + NOT_FINITE_FILL + "\"", labels.not_finite);
  }
  put(out, "</g>\n</svg>\n");
}
