#include "radiomap/locate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

std::string_view address_of(const ap_reading& ap) {
  return {ap.address, strnlen(ap.address, sizeof ap.address)};
}

double penalty(double level) {
  const double u = std::min(std::max(level - LOCATE_FLOOR, 0.0), LOCATE_CAP);
  return u * u;
}

// The addresses of a record's used slots with finite levels, grouped by
// text in order of first appearance: their slot lists and mean levels.
struct grouped {
  int32_t count = 0;
  std::string_view address[MAX_APS];
  double level[MAX_APS];
};

grouped group_slots(const refpoint& r) {
  grouped g;
  int32_t members[MAX_APS] = {};
  const int used = std::clamp(r.ap_count, 0, MAX_APS);
  for (int k = 0; k < used; ++k) {
    const float level = r.ap[k].signal_level;
    if (!std::isfinite(level)) continue;
    const std::string_view a = address_of(r.ap[k]);
    int32_t m = 0;
    while (m < g.count && g.address[m] != a) ++m;
    if (m == g.count) {
      g.address[m] = a;
      g.level[m] = 0;
      ++g.count;
    }
    g.level[m] += level;
    ++members[m];
  }
  for (int32_t m = 0; m < g.count; ++m) g.level[m] /= members[m];
  return g;
}

// Whether candidate (d, p) comes before (e, q).
bool before(double d, int32_t p, double e, int32_t q) { return d < e || (d == e && p < q); }

}  // namespace

void build_locator(locator* map, const refpoint* records, int32_t n) {
  *map = locator{};
  map->n = n;
  const auto count = static_cast<std::size_t>(std::max(n, 0));
  map->points.resize(count);
  map->xs.resize(count);
  map->ys.resize(count);
  map->visited.assign(count, 0);
  for (std::size_t i = 0; i < count; ++i) {
    const grouped g = group_slots(records[i]);
    fingerprint& f = map->points[i];
    f.count = g.count;
    for (int32_t m = 0; m < g.count; ++m) {
      const auto [at, added] =
          map->ids.try_emplace(std::string(g.address[m]), static_cast<int32_t>(map->holders.size()));
      if (added) map->holders.emplace_back();
      f.id[m] = at->second;
      f.level[m] = g.level[m];
      map->holders[static_cast<std::size_t>(at->second)].push_back(static_cast<int32_t>(i));
    }
    map->xs[i] = records[i].x;
    map->ys[i] = records[i].y;
  }
  map->heard.assign(map->holders.size(), 0);
  map->heard_at.assign(map->holders.size(), -1);
}

fingerprint fingerprint_of(const locator& map, const refpoint& record) {
  const grouped g = group_slots(record);
  fingerprint f;
  f.count = g.count;
  for (int32_t m = 0; m < g.count; ++m) {
    const auto at = map.ids.find(std::string(g.address[m]));
    f.id[m] = at == map.ids.end() ? -1 : at->second;
    f.level[m] = g.level[m];
  }
  return f;
}

namespace {

// D from the entries of q each entry of r matches (match[a] for q's entry a,
// -1 for none; shared[b] for r's entry b), summed over q in order, then over
// r's own entries in order.
double distance_of(const fingerprint& q, const fingerprint& r, const int32_t* match, const bool* shared,
                   int32_t shared_count) {
  double t = 0;
  for (int32_t a = 0; a < q.count; ++a) {
    if (match[a] >= 0) {
      const double d = q.level[a] - r.level[match[a]];
      t += d * d;
    } else {
      t += penalty(q.level[a]);
    }
  }
  for (int32_t b = 0; b < r.count; ++b) {
    if (!shared[b]) t += penalty(r.level[b]);
  }
  return std::sqrt(t / static_cast<double>(q.count + r.count - shared_count));
}

}  // namespace

bool signal_distance(const fingerprint& q, const fingerprint& r, double* distance) {
  int32_t match[MAX_APS];
  bool shared[MAX_APS] = {};
  int32_t count = 0;
  for (int32_t a = 0; a < q.count; ++a) {
    match[a] = -1;
    if (q.id[a] < 0) continue;
    for (int32_t b = 0; b < r.count; ++b) {
      if (r.id[b] == q.id[a]) {
        match[a] = b;
        shared[b] = true;
        ++count;
        break;
      }
    }
  }
  if (count == 0) return false;
  *distance = distance_of(q, r, match, shared, count);
  return true;
}

int nearest_points(locator* map, const fingerprint& q, int32_t excluded, int k, neighbour* out) {
  k = std::clamp(k, 0, LOCATE_MAX_K);
  if (k == 0) return 0;
  if (++map->query == 0) {  // wrapped: forget every earlier query
    std::fill(map->visited.begin(), map->visited.end(), 0u);
    map->query = 1;
  }
  // Which of the map's addresses the query holds, and where: every
  // candidate is then matched in one pass over its own entries.
  for (int32_t a = 0; a < q.count; ++a) {
    if (q.id[a] < 0) continue;
    map->heard[static_cast<std::size_t>(q.id[a])] = map->query;
    map->heard_at[static_cast<std::size_t>(q.id[a])] = a;
  }
  int found = 0;
  for (int32_t a = 0; a < q.count; ++a) {
    if (q.id[a] < 0) continue;
    for (const int32_t p : map->holders[static_cast<std::size_t>(q.id[a])]) {
      uint32_t& seen = map->visited[static_cast<std::size_t>(p)];
      if (seen == map->query || p == excluded) continue;
      seen = map->query;
      // Every candidate shares q's entry a at least.
      const fingerprint& r = map->points[static_cast<std::size_t>(p)];
      int32_t match[MAX_APS];
      bool shared[MAX_APS];
      std::fill_n(match, q.count, -1);
      int32_t count = 0;
      for (int32_t b = 0; b < r.count; ++b) {
        const auto id = static_cast<std::size_t>(r.id[b]);
        shared[b] = map->heard[id] == map->query;
        if (shared[b]) {
          match[map->heard_at[id]] = b;
          ++count;
        }
      }
      // Once k are found, a candidate whose partial sum already puts it
      // beyond the k-th is passed over; the margin keeps rounding from
      // passing over one that the exact distance would keep.
      const int32_t union_size = q.count + r.count - count;
      const double limit = found == k ? out[k - 1].distance * out[k - 1].distance *
                                            static_cast<double>(union_size) * (1 + 1e-9)
                                      : INFINITY;
      double t = 0;
      for (int32_t e = 0; e < q.count && t <= limit; ++e) {
        if (match[e] >= 0) {
          const double diff = q.level[e] - r.level[match[e]];
          t += diff * diff;
        } else {
          t += penalty(q.level[e]);
        }
      }
      for (int32_t b = 0; b < r.count && t <= limit; ++b) {
        if (!shared[b]) t += penalty(r.level[b]);
      }
      if (t > limit) continue;
      const double d = std::sqrt(t / static_cast<double>(union_size));
      if (found == k && !before(d, p, out[k - 1].distance, out[k - 1].point)) continue;
      int at = found < k ? found++ : k - 1;
      while (at > 0 && before(d, p, out[at - 1].distance, out[at - 1].point)) {
        out[at] = out[at - 1];
        --at;
      }
      out[at] = {p, d};
    }
  }
  return found;
}

void weighted_position(const locator& map, const neighbour* nearest, int count, double* x, double* y) {
  double w_sum = 0, x_sum = 0, y_sum = 0;
  for (int r = 0; r < count; ++r) {
    const double w = 1.0 / ((nearest[r].distance + 1.0) * (nearest[r].distance + 1.0));
    const auto p = static_cast<std::size_t>(nearest[r].point);
    w_sum += w;
    x_sum += w * map.xs[p];
    y_sum += w * map.ys[p];
  }
  *x = x_sum / w_sum;
  *y = y_sum / w_sum;
}
