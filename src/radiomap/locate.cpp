#include "radiomap/locate.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

std::string_view address_of(const ap_reading& ap) {
  return {ap.address, strnlen(ap.address, sizeof ap.address)};
}

// What an entry the other side lacks costs.
double penalty(double level, locate_method method) {
  if (method == locate_method::dense) {
    const double u = level - LOCATE_FLOOR;
    return u * u;
  }
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

void build_locator(locator* map, const refpoint* records, int32_t n, locate_method method) {
  *map = locator{};
  map->method = method;
  map->n = n;
  const auto count = static_cast<std::size_t>(std::max(n, 0));
  map->points.resize(count);
  map->xs.resize(count);
  map->ys.resize(count);
  map->penalties.assign(count, 0.0);
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
      map->penalties[i] += penalty(g.level[m], method);
      map->holders[static_cast<std::size_t>(at->second)].push_back(
          {static_cast<int32_t>(i), g.level[m], penalty(g.level[m], method)});
    }
    map->xs[i] = records[i].x;
    map->ys[i] = records[i].y;
  }
  map->tallies.assign(count, locator::tally{});
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
                   int32_t shared_count, locate_method method) {
  const bool dense = method == locate_method::dense;
  double t = 0;
  for (int32_t a = 0; a < q.count; ++a) {
    if (match[a] >= 0) {
      const double d = q.level[a] - r.level[match[a]];
      t += d * d;
    } else if (!(dense && q.id[a] < 0)) {  // an address the map lacks is no column
      t += penalty(q.level[a], method);
    }
  }
  for (int32_t b = 0; b < r.count; ++b) {
    if (!shared[b]) t += penalty(r.level[b], method);
  }
  if (dense) return std::sqrt(t);
  return std::sqrt(t / static_cast<double>(q.count + r.count - shared_count));
}

}  // namespace

bool signal_distance(const fingerprint& q, const fingerprint& r, double* distance, locate_method method) {
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
  if (count == 0 && method == locate_method::shared) return false;
  *distance = distance_of(q, r, match, shared, count, method);
  return true;
}

int nearest_points(locator* map, const fingerprint& q, int32_t excluded, int k, neighbour* out) {
  k = std::clamp(k, 0, LOCATE_MAX_K);
  if (k == 0) return 0;
  if (++map->query == 0) {  // wrapped: forget every earlier query
    for (locator::tally& t : map->tallies) t.query = 0;
    std::fill(map->heard.begin(), map->heard.end(), 0u);
    map->query = 1;
  }
  const uint32_t query = map->query;

  // Screening: for every point sharing an address, the sum of all penalties
  // corrected, per shared address, from two penalties to the squared
  // difference.
  const locate_method method = map->method;
  const bool dense = method == locate_method::dense;
  double own = 0;
  for (int32_t a = 0; a < q.count; ++a) {
    if (!(dense && q.id[a] < 0)) own += penalty(q.level[a], method);
  }
  map->touched.clear();
  for (int32_t a = 0; a < q.count; ++a) {
    if (q.id[a] < 0) continue;
    const auto id = static_cast<std::size_t>(q.id[a]);
    map->heard[id] = query;
    map->heard_at[id] = a;
    const double level = q.level[a];
    const double pa = penalty(level, method);
    for (const holding& h : map->holders[id]) {
      if (h.point == excluded) continue;
      locator::tally& t = map->tallies[static_cast<std::size_t>(h.point)];
      if (t.query != query) {
        t = {query, 0, 0.0};
        map->touched.push_back(h.point);
      }
      const double d = level - h.level;
      t.change += d * d - pa - h.penalty;
      ++t.shared;
    }
  }
  if (dense) {  // every point is a candidate, sharing or not
    for (int32_t p = 0; p < map->n; ++p) {
      const auto i = static_cast<std::size_t>(p);
      if (p == excluded || map->tallies[i].query == query) continue;
      map->tallies[i] = {query, 0, 0.0};
      map->touched.push_back(p);
    }
  }
  const std::size_t candidates = map->touched.size();
  if (candidates == 0) return 0;
  map->screened.resize(candidates);
  double largest = 0;  // of the terms' magnitudes, over the union sizes
  for (std::size_t c = 0; c < candidates; ++c) {
    const auto p = static_cast<std::size_t>(map->touched[c]);
    const locator::tally& tally = map->tallies[p];
    const double union_size = dense ? 1.0 : q.count + map->points[p].count - tally.shared;
    const double penalties = own + map->penalties[p];
    const double t = penalties + tally.change;
    map->screened[c] = std::max(t, 0.0) / union_size;
    // The terms summed are at most 3 x penalties + change in magnitude: the
    // squared differences add up to change plus the shared penalties.
    largest = std::max(largest, (3 * penalties + std::fabs(tally.change)) / union_size);
  }
  // The k-th smallest screening value; a point further than it by more than
  // any rounding of the sums (a few dozen terms, each rounded once, are far
  // below a billionth of the largest) cannot be among the k nearest.
  double limit = INFINITY;
  if (candidates > static_cast<std::size_t>(k)) {
    std::vector<double>& kth = map->ranked;
    kth.assign(map->screened.begin(), map->screened.end());
    std::nth_element(kth.begin(), kth.begin() + (k - 1), kth.end());
    limit = kth[static_cast<std::size_t>(k - 1)] + 1e-9 * largest;
  }

  int found = 0;
  for (std::size_t c = 0; c < candidates; ++c) {
    if (map->screened[c] > limit) continue;
    const int32_t p = map->touched[c];
    const fingerprint& r = map->points[static_cast<std::size_t>(p)];
    int32_t match[MAX_APS];
    bool shared[MAX_APS];
    std::fill_n(match, q.count, -1);
    int32_t count = 0;
    for (int32_t b = 0; b < r.count; ++b) {
      const auto id = static_cast<std::size_t>(r.id[b]);
      shared[b] = map->heard[id] == query;
      if (shared[b]) {
        match[map->heard_at[id]] = b;
        ++count;
      }
    }
    const double d = distance_of(q, r, match, shared, count, method);
    if (found == k && !before(d, p, out[k - 1].distance, out[k - 1].point)) continue;
    int at = found < k ? found++ : k - 1;
    while (at > 0 && before(d, p, out[at - 1].distance, out[at - 1].point)) {
      out[at] = out[at - 1];
      --at;
    }
    out[at] = {p, d};
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
