// The summary: what a surveyor wants to know about a database at a glance.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "apdump/formats.h"

namespace {

constexpr std::size_t MAX_LISTED = 20;  // lines of each list before "... and N more"

struct access_point {
  std::string address;
  std::vector<std::string> names;  // distinct, in order of first appearance
  int64_t points = 0;              // points that see it
  int64_t finite_points = 0;       // of them, points with a finite mean signal
  double sum = 0;
  double least = 0;
  double most = 0;
};

std::string point_label(const refpoint& r, int32_t i) {
  return "point " + int_text(int64_t{i} + 1) + " at (" + int_text(r.x) + ", " + int_text(r.y) + ")";
}

std::string pad_left(std::string_view s, std::size_t width) {
  return std::string(width > s.size() ? width - s.size() : 0, ' ') + std::string(s);
}

// `text` shown `shown` characters wide, padded with spaces to `width`.
std::string pad_right(std::string_view text, std::size_t shown, std::size_t width) {
  return std::string(text) + std::string(width > shown ? width - shown : 0, ' ');
}

bool all_zero(const ap_reading& ap) {
  static const ap_reading zero{};
  return std::memcmp(&ap, &zero, sizeof ap) == 0;
}

void put_list(out_sink* out, std::string_view title, const std::vector<std::string>& lines) {
  if (lines.empty()) {
    put(out, std::string(title) + ": none\n");
    return;
  }
  put(out, std::string(title) + " (" + int_text(static_cast<int64_t>(lines.size())) + "):\n");
  for (std::size_t i = 0; i < lines.size() && i < MAX_LISTED; ++i) put(out, "  " + lines[i] + "\n");
  if (lines.size() > MAX_LISTED) {
    put(out, "  ... and " + int_text(static_cast<int64_t>(lines.size() - MAX_LISTED)) + " more\n");
  }
}

// Collects the access points of all records and the suspicious slots.
void survey_access_points(const radio_map& map, std::vector<access_point>* aps,
                          std::vector<std::string>* no_ap, std::vector<std::string>* suspicious) {
  std::map<std::string, std::size_t, std::less<>> index;
  const int32_t n = map.header.num_refpoints;
  for (int32_t i = 0; i < n; ++i) {
    const refpoint& r = map.records[static_cast<std::size_t>(i)];
    if (r.ap_count == 0) no_ap->push_back(point_label(r, i));
    for (int32_t k = 0; k < r.ap_count; ++k) {
      const ap_reading& ap = r.ap[k];
      const std::string where = point_label(r, i) + ", access point " + int_text(int64_t{k} + 1) +
                                " (" + display_name(slot_address(ap)) + ")";
      if (!std::isfinite(ap.signal_level)) {
        suspicious->push_back(where + ": signal level " + float_text(ap.signal_level) + " is not finite");
      }
      if (!std::isfinite(ap.noise_level)) {
        suspicious->push_back(where + ": noise level " + float_text(ap.noise_level) + " is not finite");
      }
      if (ap.seen < 1) suspicious->push_back(where + ": seen " + int_text(ap.seen) + " is below 1");
    }
    for (int32_t k = r.ap_count; k < MAX_APS; ++k) {
      if (!all_zero(r.ap[k])) {
        suspicious->push_back(point_label(r, i) + ": unused slot " + int_text(int64_t{k} + 1) +
                              " is not all zero");
      }
    }

    // Each address once per point, with the mean of its slots' finite means.
    for (int32_t k = 0; k < r.ap_count; ++k) {
      const std::string_view address = slot_address(r.ap[k]);
      bool earlier = false;
      for (int32_t e = 0; e < k && !earlier; ++e) earlier = slot_address(r.ap[e]) == address;
      if (earlier) continue;
      double sum = 0;
      int finite = 0;
      for (int32_t m = k; m < r.ap_count; ++m) {
        if (slot_address(r.ap[m]) != address) continue;
        if (std::isfinite(r.ap[m].signal_level)) {
          sum += r.ap[m].signal_level;
          ++finite;
        }
      }
      auto found = index.find(address);
      if (found == index.end()) {
        found = index.emplace(std::string(address), aps->size()).first;
        aps->push_back(access_point{});
        aps->back().address = std::string(address);
      }
      access_point& a = (*aps)[found->second];
      const std::string name(slot_essid(r.ap[k]));
      if (std::find(a.names.begin(), a.names.end(), name) == a.names.end()) a.names.push_back(name);
      ++a.points;
      if (finite > 0) {
        const double value = sum / finite;
        a.least = a.finite_points == 0 ? value : std::min(a.least, value);
        a.most = a.finite_points == 0 ? value : std::max(a.most, value);
        a.sum += value;
        ++a.finite_points;
      }
    }
  }
  std::sort(aps->begin(), aps->end(), [](const access_point& a, const access_point& b) {
    if (a.points != b.points) return a.points > b.points;
    return a.address < b.address;
  });
}

void put_header_check(out_sink* out, const radio_map& map) {
  const db_header& h = map.header;
  const db_header c = compute_bounds(map.records.get(), h.num_refpoints);
  const std::pair<const char*, std::pair<int32_t, int32_t>> fields[] = {
      {"num_refpoints", {h.num_refpoints, c.num_refpoints}},
      {"width", {h.width, c.width}},
      {"height", {h.height, c.height}},
      {"offset_x", {h.offset_x, c.offset_x}},
      {"offset_y", {h.offset_y, c.offset_y}},
  };
  put(out, pad_right("Header", 6, 15) + pad_left("stored", 11) + "   from the records\n");
  bool agree = true;
  for (const auto& [name, values] : fields) {
    const bool same = values.first == values.second;
    agree = agree && same;
    put(out, "  " + pad_right(name, std::strlen(name), 13) + pad_left(int_text(values.first), 11) +
                 "   " + int_text(values.second) + (same ? "" : "   differs") + "\n");
  }
  put(out, agree ? "  The header agrees with the records.\n"
                 : "  The header does not agree with the records.\n");
}

void put_grid(out_sink* out, const radio_map& map) {
  const int32_t n = map.header.num_refpoints;
  if (n == 0) {
    put(out, "Grid: no reference points\n");
    return;
  }
  std::vector<std::pair<int32_t, int32_t>> cells;
  cells.reserve(static_cast<std::size_t>(n));
  for (int32_t i = 0; i < n; ++i) {
    const refpoint& r = map.records[static_cast<std::size_t>(i)];
    cells.emplace_back(r.x, r.y);
  }
  std::sort(cells.begin(), cells.end());
  const auto occupied =
      static_cast<int64_t>(std::unique(cells.begin(), cells.end()) - cells.begin());
  int64_t min_x = cells.front().first, max_x = min_x;
  int64_t min_y = cells.front().second, max_y = min_y;
  for (int64_t k = 0; k < occupied; ++k) {
    const auto& [x, y] = cells[static_cast<std::size_t>(k)];
    min_x = std::min<int64_t>(min_x, x);
    max_x = std::max<int64_t>(max_x, x);
    min_y = std::min<int64_t>(min_y, y);
    max_y = std::max<int64_t>(max_y, y);
  }
  const int64_t width = max_x - min_x + 1;
  const int64_t height = max_y - min_y + 1;
  put(out, "Grid: x from " + int_text(min_x) + " to " + int_text(max_x) + ", y from " + int_text(min_y) +
               " to " + int_text(max_y) + ": " + int_text(width) + " x " + int_text(height) +
               " cells, " + int_text(occupied) + " with a reference point, " +
               int_text(width * height - occupied) + " without\n");
}

void put_table(out_sink* out, const std::vector<access_point>& aps) {
  if (aps.empty()) {
    put(out, "Access points: none\n");
    return;
  }
  struct row {
    std::string address, name;
    std::size_t address_width = 0, name_width = 0;
  };
  std::vector<row> rows;
  std::size_t address_width = 7, name_width = 4;
  for (const access_point& a : aps) {
    row r;
    r.address = display_name(a.address, &r.address_width);
    if (a.names.front().empty()) {
      r.name = "(no name)";
      r.name_width = r.name.size();
    } else {
      r.name = display_name(a.names.front(), &r.name_width);
    }
    if (a.names.size() > 1) {
      const std::string more = " (+" + int_text(static_cast<int64_t>(a.names.size() - 1)) + " other)";
      r.name += more;
      r.name_width += more.size();
    }
    address_width = std::max(address_width, r.address_width);
    name_width = std::max(name_width, r.name_width);
    rows.push_back(std::move(r));
  }
  put(out, "Access points, by the number of points that see them:\n");
  put(out, "  " + pad_right("address", 7, address_width) + "  " + pad_right("name", 4, name_width) +
               "  points     mean      min      max\n");
  for (std::size_t i = 0; i < aps.size(); ++i) {
    const access_point& a = aps[i];
    std::string line = "  " + pad_right(rows[i].address, rows[i].address_width, address_width) + "  " +
                       pad_right(rows[i].name, rows[i].name_width, name_width) + "  " +
                       pad_left(int_text(a.points), 6);
    if (a.finite_points > 0) {
      line += pad_left(fixed_text(a.sum / static_cast<double>(a.finite_points), 1), 9) +
              pad_left(fixed_text(a.least, 1), 9) + pad_left(fixed_text(a.most, 1), 9);
    } else {
      line += pad_left("-", 9) + pad_left("-", 9) + pad_left("-", 9);
    }
    put(out, line + "\n");
  }
}

}  // namespace

void write_summary(out_sink* out, std::string_view file_name, uint64_t file_size,
                   const radio_map& map) {
  std::vector<access_point> aps;
  std::vector<std::string> no_ap, suspicious;
  survey_access_points(map, &aps, &no_ap, &suspicious);

  put(out, display_name(file_name) + ": " + int_text(static_cast<int64_t>(file_size)) + " bytes, " +
               int_text(map.header.num_refpoints) + " reference points, " +
               int_text(static_cast<int64_t>(aps.size())) + " distinct access points\n\n");
  put_header_check(out, map);
  put(out, "\n");
  put_grid(out, map);
  put(out, "\n");
  put_table(out, aps);
  put(out, "\n");
  put_list(out, "Points that see no access point", no_ap);
  put_list(out, "Suspicious", suspicious);
}
