// aplocate [--db FILE] [-k K] [--method M] [--csv | --json] SCAN...
// aplocate --evaluate N S [-k K] [--method M] [--csv | --json] [--svg FILE]
//
// Locates scan reports with a radio map (k nearest reference points in
// signal space, radiomap/locate.h), or judges a survey by leaving each
// reference point out of its own map in turn and locating its scans.
//
// Exit status: 0 when every scan was located (and every output written);
// 1 when a scan could not be read or located, the database cannot be read
// or is not one, seq.txt is missing or malformed, storage runs out, or an
// output cannot be written; 2 for a usage error, or (--evaluate, as apfold)
// when a scan file of the survey cannot be read.
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "input/file_io.h"
#include "input/scan_text.h"
#include "input/seq_file.h"
#include "input/survey.h"
#include "platform/platform.h"
#include "radiomap/database.h"
#include "radiomap/db_reader.h"
#include "radiomap/locate.h"
#include "report/report.h"
#include "views/heatmap.h"
#include "views/text.h"

#ifndef APLOCATE_VERSION
#error "APLOCATE_VERSION comes from the build"
#endif

namespace {

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

struct free_deleter {
  void operator()(void* p) const { std::free(p); }
};
constexpr int EXIT_SCAN_MISSING = 2;

constexpr const char* USAGE =
    "Usage: aplocate [--db FILE] [-k K] [--method M] [--csv | --json] SCAN...\n"
    "           locate each scan report with the radio map FILE (db.bin)\n"
    "       aplocate --evaluate N S [-k K] [--method M] [--csv | --json] [--svg FILE]\n"
    "           in a survey directory: fold the N x S scans as apfold would, locate\n"
    "           every scan with the map without its own point, and report the error\n"
    "       aplocate --help | --version\n"
    "  -k K        neighbours averaged, 1 to 8 (4)\n"
    "  --method M  shared (the default: shared access points, a bounded penalty\n"
    "              for the others) or dense (every address a column, -100 dBm\n"
    "              for a missing level), for comparison\n";

enum class format { text, csv, json };

struct options {
  bool evaluate = false;
  int32_t n = 0, s = 0;
  int k = LOCATE_DEFAULT_K;
  locate_method method = locate_method::shared;
  format out = format::text;
  const char* db = DATABASE_FILE_NAME;
  const char* svg = nullptr;
  std::vector<const char*> scans;
};

int usage_error(const std::string& message) {
  std::fprintf(stderr, "aplocate: %s\n%s", message.c_str(), USAGE);
  return EXIT_USAGE;
}

// A whole decimal number within [low, high], nothing else.
bool parse_int(std::string_view text, int64_t low, int64_t high, int64_t* value) {
  int64_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc{} || end != text.data() + text.size() || v < low || v > high) return false;
  *value = v;
  return true;
}

// A position exactly as computed: the shortest text that reads back to the
// same double.
std::string position_text(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string point_text(const locator& map, int32_t p) {
  const auto i = static_cast<std::size_t>(p);
  return int_text(int64_t{p} + 1) + " at (" + int_text(map.xs[i]) + ", " + int_text(map.ys[i]) + ")";
}

// ---------------------------------------------------------------------------
// Locating scans with a database.

struct located {
  std::string scan;
  bool ok = false;
  std::string why;  // when not
  double x = 0, y = 0;
  neighbour nearest[LOCATE_MAX_K];
  int count = 0;
};

int locate_scans(const options& opt) {
  std::size_t size = 0;
  auto bytes = load_file(opt.db, &size);
  if (!bytes) {
    std::fprintf(stderr, "aplocate: cannot read %s: %s\n", opt.db, std::strerror(errno));
    return EXIT_FAILED;
  }
  radio_map db;
  db_read_error error;
  const std::span<const unsigned char> content(reinterpret_cast<const unsigned char*>(bytes.get()), size);
  if (read_database(content, &db, &error) != DB_READ_OK) {
    std::fprintf(stderr, "aplocate: %s: byte %llu: %s\n", opt.db, static_cast<unsigned long long>(error.offset),
                 error.message.c_str());
    return EXIT_FAILED;
  }
  bytes.reset();
  locator map;
  build_locator(&map, db.records.get(), db.header.num_refpoints, opt.method);

  std::vector<located> results;
  bool all = true;
  text_buffer text;
  for (const char* name : opt.scans) {
    located r;
    r.scan = name;
    std::size_t length = 0;
    if (load_file_into(name, &text, &length) != 0) {
      r.why = std::string("cannot read it: ") + std::strerror(errno);
    } else {
      auto record = std::make_unique<refpoint>();  // zero-filled, as parse_scan expects
      parse_scan(text.data.get(), record.get());
      const fingerprint q = fingerprint_of(map, *record);
      if (q.count == 0) {
        r.why = "no access point heard";
      } else {
        r.count = nearest_points(&map, q, -1, opt.k, r.nearest);
        if (r.count == 0) {
          r.why = "no access point it hears is in the map";
        } else {
          weighted_position(map, r.nearest, r.count, &r.x, &r.y);
          r.ok = true;
        }
      }
    }
    if (!r.ok) {
      all = false;
      std::fflush(stdout);
      std::fprintf(stderr, "aplocate: %s: %s\n", name, r.why.c_str());
    }
    results.push_back(std::move(r));
  }

  out_sink out{stdout, {}, false};
  if (opt.out == format::csv) {
    put(&out, "scan,x,y,nearest_point\n");
    for (const located& r : results) {
      if (!r.ok) continue;
      put_csv_field(&out, r.scan);
      put(&out, "," + position_text(r.x) + "," + position_text(r.y) + "," +
                    int_text(int64_t{r.nearest[0].point} + 1) + "\n");
    }
  } else if (opt.out == format::json) {
    put(&out, "{\"k\": " + int_text(opt.k) + ", \"scans\": [");
    for (std::size_t i = 0; i < results.size(); ++i) {
      const located& r = results[i];
      put(&out, i == 0 ? "\n  {\"scan\": " : ",\n  {\"scan\": ");
      put_json_string(&out, r.scan);
      if (!r.ok) {
        put(&out, ", \"located\": false, \"why\": ");
        put_json_string(&out, r.why);
        put(&out, "}");
        continue;
      }
      put(&out, ", \"located\": true, \"x\": " + position_text(r.x) + ", \"y\": " + position_text(r.y) +
                    ", \"nearest_point\": " + int_text(int64_t{r.nearest[0].point} + 1) + ", \"neighbours\": [");
      for (int k = 0; k < r.count; ++k) {
        const auto p = static_cast<std::size_t>(r.nearest[k].point);
        put(&out, std::string(k == 0 ? "" : ", ") + "{\"point\": " + int_text(int64_t{r.nearest[k].point} + 1) +
                      ", \"x\": " + int_text(map.xs[p]) + ", \"y\": " + int_text(map.ys[p]) +
                      ", \"distance\": " + position_text(r.nearest[k].distance) + "}");
      }
      put(&out, "]}");
    }
    put(&out, results.empty() ? "]}\n" : "\n]}\n");
  } else {
    for (const located& r : results) {
      if (!r.ok) continue;
      put(&out, display_name(r.scan) + ": (" + fixed_text(r.x, 2) + ", " + fixed_text(r.y, 2) +
                    "), nearest point " + point_text(map, r.nearest[0].point) + ", " +
                    fixed_text(r.nearest[0].distance, 2) + " dB away in signal space\n");
    }
  }
  if (flush_sink(&out) != 0 || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "aplocate: cannot write the output: %s\n", std::strerror(errno));
    return EXIT_FAILED;
  }
  return all ? 0 : EXIT_FAILED;
}

// ---------------------------------------------------------------------------
// Leave one point out.

struct trial {
  int32_t point = 0;  // from 0
  int32_t scan = 0;   // from 0
  bool ok = false;
  bool silent = false;  // not located: no access point heard
  const char* why = "";
  double x = 0, y = 0;     // the estimate with k
  double error = 0;        // with k
  double centroid = 0;     // the error of answering the other points' centroid
  double by_k[LOCATE_MAX_K] = {};  // the error with 1 .. 8 neighbours
};

struct figures {
  std::size_t count = 0;
  double mean = 0, median = 0, p90 = 0, max = 0;
};

// The mean in the order given; the median (the mean of the middle two for
// an even count); the 90th percentile as the ceil(0.9 n)-th smallest.
figures figures_of(std::vector<double> v) {
  figures f;
  f.count = v.size();
  if (v.empty()) return f;
  double sum = 0;
  for (const double e : v) sum += e;
  f.mean = sum / static_cast<double>(v.size());
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  f.median = n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  f.p90 = v[(9 * n + 9) / 10 - 1];
  f.max = v.back();
  return f;
}

std::string figures_json(const figures& f) {
  if (f.count == 0) return "null";
  return "{\"mean\": " + position_text(f.mean) + ", \"median\": " + position_text(f.median) +
         ", \"p90\": " + position_text(f.p90) + ", \"max\": " + position_text(f.max) + "}";
}

std::string figures_line(const figures& f) {
  return "mean " + fixed_text(f.mean, 2) + ", median " + fixed_text(f.median, 2) + ", 90th percentile " +
         fixed_text(f.p90, 2) + ", max " + fixed_text(f.max, 2);
}

int write_error_map(const char* path, const locator& map, const std::vector<double>& point_error,
                    const std::vector<int32_t>& point_located, int k, const figures& all) {
  radio_map grid_source;
  grid_source.header.num_refpoints = map.n;
  auto records = std::unique_ptr<refpoint[]>(new (std::nothrow) refpoint[static_cast<std::size_t>(map.n)]());
  if (!records) {
    errno = ENOMEM;
    report_system_error("aplocate: no storage for the map");
    return EXIT_FAILED;
  }
  for (int32_t i = 0; i < map.n; ++i) {
    records[static_cast<std::size_t>(i)].x = map.xs[static_cast<std::size_t>(i)];
    records[static_cast<std::size_t>(i)].y = map.ys[static_cast<std::size_t>(i)];
  }
  grid_source.header = compute_bounds(records.get(), map.n);
  grid_source.records = std::move(records);
  std::string warning, problem;
  const map_grid g = grid_of(grid_source, &warning);
  if (!grid_fits(g, &problem)) {
    std::fprintf(stderr, "aplocate: %s: %s\n", path, problem.c_str());
    return EXIT_FAILED;
  }
  struct cell {
    int64_t points = 0, located = 0;
    double sum = 0;
  };
  std::vector<cell> cells(static_cast<std::size_t>(g.width * g.height));
  for (int32_t i = 0; i < map.n; ++i) {
    const auto p = static_cast<std::size_t>(i);
    cell& c = cells[static_cast<std::size_t>((map.ys[p] - g.min_y) * g.width + (map.xs[p] - g.min_x))];
    ++c.points;
    if (point_located[p] > 0) {
      c.sum += point_error[p];
      ++c.located;
    }
  }
  std::vector<map_cell> drawn(cells.size());
  for (std::size_t i = 0; i < cells.size(); ++i) {
    const cell& c = cells[i];
    if (c.points == 0) continue;
    const std::string at = " (" + int_text(c.points) + (c.points == 1 ? " point)" : " points)");
    if (c.located == 0) {
      drawn[i].look = cell_look::no_value;
      drawn[i].tip = "no scan located" + at;
    } else {
      drawn[i].look = cell_look::value;
      drawn[i].value = c.sum / static_cast<double>(c.located);
      drawn[i].tip = "mean error " + map_value_text(drawn[i].value, 2) + at;
    }
  }
  map_labels labels;
  labels.title = "Leave-one-point-out error, k = " + int_text(k);
  labels.subtitle = "each point's scans located without it: median " + fixed_text(all.median, 2) +
                    ", 90th percentile " + fixed_text(all.p90, 2) + " grid units";
  labels.scale = "mean error";
  labels.units = "grid units";
  labels.no_value = "no scan located";
  labels.not_finite = "not finite";
  labels.empty = "no reference point";
  labels.none = "no scan located";
  std::FILE* f = std::fopen(path, "wb");
  if (!f) {
    std::fprintf(stderr, "aplocate: cannot write %s: %s\n", path, std::strerror(errno));
    return EXIT_FAILED;
  }
  out_sink out{f, {}, false};
  draw_heatmap(&out, g, drawn, labels);
  const bool failed = flush_sink(&out) != 0 || std::fflush(f) != 0 || std::ferror(f);
  const int saved = errno;
  if (std::fclose(f) != 0 || failed) {
    std::fprintf(stderr, "aplocate: cannot write %s: %s\n", path, std::strerror(failed ? saved : errno));
    return EXIT_FAILED;
  }
  return 0;
}

int evaluate(const options& opt) {
  const int32_t n = opt.n, s = opt.s;
  const auto count = static_cast<std::size_t>(n);
  const auto scans = count * static_cast<std::size_t>(s);
  std::unique_ptr<int32_t[]> xs(new (std::nothrow) int32_t[count]);
  std::unique_ptr<int32_t[]> ys(new (std::nothrow) int32_t[count]);
  if (!xs || !ys) {
    errno = ENOMEM;
    report_system_error("malloc failed");
    return EXIT_FAILED;
  }
  if (seq_parse(xs.get(), ys.get(), n) != SEQ_OK) {
    std::printf("seq_parse() failed\n");
    return EXIT_FAILED;
  }
  // Zero-filled records: the folded map and every scan as parsed.
  std::unique_ptr<refpoint[]> folded(new (std::nothrow) refpoint[count]());
  // calloc: fresh pages are zero already, so the largest block is not
  // written twice.
  const std::unique_ptr<refpoint[], free_deleter> kept(static_cast<refpoint*>(std::calloc(scans, sizeof(refpoint))));
  if (!folded || !kept) {
    errno = ENOMEM;
    report_system_error("calloc() failed");
    return EXIT_FAILED;
  }
  survey_failure failed;
  const int read = fold_survey(n, s, xs.get(), ys.get(), folded.get(), nullptr, kept.get(), nullptr, &failed);
  if (read != SURVEY_OK) {
    report_survey_failure(read, failed);
    return read == SURVEY_SCAN_MISSING ? EXIT_SCAN_MISSING : EXIT_FAILED;
  }

  locator map;
  build_locator(&map, folded.get(), n, opt.method);
  double sum_x = 0, sum_y = 0;
  for (std::size_t i = 0; i < count; ++i) {
    sum_x += map.xs[i];
    sum_y += map.ys[i];
  }

  // Every scan located without its own point. The points are split between
  // two threads where two CPUs are usable, each with a locator of its own
  // (the queries' scratch space); every trial is computed the same either
  // way, and the figures are gathered afterwards in point order.
  std::vector<trial> trials(scans);
  const auto locate_points = [&](locator* with, int32_t from, int32_t to) {
    for (int32_t i = from; i < to; ++i) {
      const auto p = static_cast<std::size_t>(i);
      const double tx = with->xs[p], ty = with->ys[p];
      const double cx = (sum_x - tx) / (n - 1), cy = (sum_y - ty) / (n - 1);
      for (int32_t j = 0; j < s; ++j) {
        const std::size_t at = p * static_cast<std::size_t>(s) + static_cast<std::size_t>(j);
        trial& t = trials[at];
        t.point = i;
        t.scan = j;
        const fingerprint q = fingerprint_of(*with, kept[at]);
        if (q.count == 0) {
          t.silent = true;
          t.why = "no access point heard";
          continue;
        }
        neighbour nearest[LOCATE_MAX_K];
        const int found = nearest_points(with, q, i, LOCATE_MAX_K, nearest);
        if (found == 0) {
          t.why = "shares no access point with the other points";  // the shared method only
          continue;
        }
        t.ok = true;
        for (int k = 1; k <= LOCATE_MAX_K; ++k) {
          double x = 0, y = 0;
          weighted_position(*with, nearest, std::min(k, found), &x, &y);
          t.by_k[k - 1] = std::hypot(x - tx, y - ty);
          if (k == opt.k) {
            t.x = x;
            t.y = y;
            t.error = t.by_k[k - 1];
          }
        }
        t.centroid = std::hypot(cx - tx, cy - ty);
      }
    }
  };
  const int32_t half = n / 2;
  bool split = false;
  if (usable_cpu_count() > 1 && n >= 64) {
    locator second;
    build_locator(&second, folded.get(), n, opt.method);
    try {
      std::thread other(locate_points, &second, half, n);
      split = true;
      locate_points(&map, 0, half);
      other.join();
    } catch (const std::exception&) {
      // No thread to be had: the caller locates them all, below.
    }
  }
  if (!split) locate_points(&map, 0, n);

  std::vector<double> errors, centroid_errors;
  std::vector<double> k_errors[LOCATE_MAX_K];
  std::vector<double> point_error(count, 0.0);
  std::vector<int32_t> point_located(count, 0);
  std::size_t not_heard = 0, not_shared = 0;
  for (const trial& t : trials) {
    const auto p = static_cast<std::size_t>(t.point);
    if (!t.ok) {
      ++(t.silent ? not_heard : not_shared);
      continue;
    }
    for (int k = 1; k <= LOCATE_MAX_K; ++k) k_errors[k - 1].push_back(t.by_k[k - 1]);
    errors.push_back(t.error);
    centroid_errors.push_back(t.centroid);
    point_error[p] += t.error;
    ++point_located[p];
  }
  for (std::size_t p = 0; p < count; ++p) {
    if (point_located[p] > 0) point_error[p] /= point_located[p];
  }

  const figures all = figures_of(errors);
  const figures centroid = figures_of(centroid_errors);
  figures per_k[LOCATE_MAX_K];
  int best_k = 1;
  for (int k = 1; k <= LOCATE_MAX_K; ++k) {
    per_k[k - 1] = figures_of(k_errors[k - 1]);
    if (per_k[k - 1].median < per_k[best_k - 1].median) best_k = k;  // the smaller k on a tie
  }
  // The points with the largest mean error, worst first (ties: lower number).
  std::vector<int32_t> worst;
  for (int32_t i = 0; i < n; ++i) {
    if (point_located[static_cast<std::size_t>(i)] > 0) worst.push_back(i);
  }
  std::stable_sort(worst.begin(), worst.end(), [&](int32_t a, int32_t b) {
    return point_error[static_cast<std::size_t>(a)] > point_error[static_cast<std::size_t>(b)];
  });
  if (worst.size() > 5) worst.resize(5);

  out_sink out{stdout, {}, false};
  if (opt.out == format::csv) {
    put(&out, "point,scan,x,y,est_x,est_y,error\n");
    for (const trial& t : trials) {
      if (!t.ok) continue;
      const auto p = static_cast<std::size_t>(t.point);
      put(&out, int_text(int64_t{t.point} + 1) + "," + int_text(int64_t{t.scan} + 1) + "," + int_text(map.xs[p]) +
                    "," + int_text(map.ys[p]) + "," + position_text(t.x) + "," + position_text(t.y) + "," +
                    position_text(t.error) + "\n");
    }
  } else if (opt.out == format::json) {
    put(&out, "{\"points\": " + int_text(n) + ", \"scans_per_point\": " + int_text(s) + ", \"method\": " +
                  (opt.method == locate_method::dense ? "\"dense\"" : "\"shared\"") + ", \"k\": " +
                  int_text(opt.k) + ", \"located\": " + int_text(static_cast<int64_t>(errors.size())) +
                  ", \"not_located\": [");
    bool first = true;
    for (const trial& t : trials) {
      if (t.ok) continue;
      put(&out, std::string(first ? "" : ", ") + "{\"point\": " + int_text(int64_t{t.point} + 1) +
                    ", \"scan\": " + int_text(int64_t{t.scan} + 1) + ", \"why\": ");
      put_json_string(&out, t.why);
      put(&out, "}");
      first = false;
    }
    put(&out, "],\n \"error\": " + figures_json(all) + ",\n \"centroid_error\": " + figures_json(centroid) +
                  ",\n \"by_k\": [");
    for (int k = 1; k <= LOCATE_MAX_K; ++k) {
      put(&out, std::string(k == 1 ? "" : ", ") + "{\"k\": " + int_text(k) + ", \"error\": " +
                    figures_json(per_k[k - 1]) + "}");
    }
    put(&out, "],\n \"best_k\": " + int_text(best_k) + ",\n \"scans\": [");
    first = true;
    for (const trial& t : trials) {
      if (!t.ok) continue;
      const auto p = static_cast<std::size_t>(t.point);
      put(&out, std::string(first ? "\n  " : ",\n  ") + "{\"point\": " + int_text(int64_t{t.point} + 1) +
                    ", \"scan\": " + int_text(int64_t{t.scan} + 1) + ", \"x\": " + int_text(map.xs[p]) +
                    ", \"y\": " + int_text(map.ys[p]) + ", \"est_x\": " + position_text(t.x) +
                    ", \"est_y\": " + position_text(t.y) + ", \"error\": " + position_text(t.error) + "}");
      first = false;
    }
    put(&out, "]}\n");
  } else {
    put(&out, "Leave one point out: " + int_text(n) + " reference points x " + int_text(s) + " scans, k = " +
                  int_text(opt.k) + (opt.method == locate_method::dense ? ", dense method" : "") + "\n");
    put(&out, "scans located: " + int_text(static_cast<int64_t>(errors.size())) + " of " +
                  int_text(static_cast<int64_t>(scans)) + "\n");
    if (not_heard > 0) put(&out, "  not located, no access point heard: " + int_text(static_cast<int64_t>(not_heard)) + "\n");
    if (not_shared > 0) {
      put(&out, "  not located, sharing no access point with the other points: " +
                    int_text(static_cast<int64_t>(not_shared)) + "\n");
    }
    if (!errors.empty()) {
      put(&out, "error (grid units): " + figures_line(all) + "\n");
      put(&out, "answering the centroid of the other points instead: " + figures_line(centroid) + "\n");
      put(&out, "best k from 1 to " + int_text(LOCATE_MAX_K) + ": k = " + int_text(best_k) + ", median " +
                    fixed_text(per_k[best_k - 1].median, 2) + "\n");
      put(&out, "worst points (mean error):\n");
      for (const int32_t i : worst) {
        put(&out, "  point " + point_text(map, i) + ": " + fixed_text(point_error[static_cast<std::size_t>(i)], 2) +
                      "\n");
      }
    }
  }
  if (flush_sink(&out) != 0 || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "aplocate: cannot write the output: %s\n", std::strerror(errno));
    return EXIT_FAILED;
  }
  if (opt.svg) {
    if (const int status = write_error_map(opt.svg, map, point_error, point_located, opt.k, all); status != 0) {
      return status;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  options opt;
  bool format_given = false, options_done = false, db_given = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && (arg == "--help" || arg == "-h")) {
      std::fputs(USAGE, stdout);
      return std::fflush(stdout) == 0 ? 0 : EXIT_FAILED;
    } else if (!options_done && arg == "--version") {
      std::printf("aplocate %s\n", APLOCATE_VERSION);
      return std::fflush(stdout) == 0 ? 0 : EXIT_FAILED;
    } else if (!options_done && (arg == "--csv" || arg == "--json")) {
      if (format_given) return usage_error("choose one of --csv and --json");
      format_given = true;
      opt.out = arg == "--csv" ? format::csv : format::json;
    } else if (!options_done && arg == "-k") {
      int64_t k = 0;
      if (!has_value) return usage_error("-k needs a number of neighbours");
      if (!parse_int(argv[++i], 1, 1000000, &k)) {
        return usage_error("-k takes a whole number of neighbours from 1 to " + int_text(LOCATE_MAX_K) + ", not " +
                           std::string(argv[i]));
      }
      if (k > LOCATE_MAX_K) return usage_error("-k is at most " + int_text(LOCATE_MAX_K));
      opt.k = static_cast<int>(k);
    } else if (!options_done && arg == "--method") {
      if (!has_value) return usage_error("--method needs shared or dense");
      const std::string_view m = argv[++i];
      if (m == "shared") {
        opt.method = locate_method::shared;
      } else if (m == "dense") {
        opt.method = locate_method::dense;
      } else {
        return usage_error("--method is shared or dense, not " + std::string(m));
      }
    } else if (!options_done && arg == "--db") {
      if (!has_value) return usage_error("--db needs a file");
      opt.db = argv[++i];
      db_given = true;
    } else if (!options_done && arg == "--svg") {
      if (!has_value) return usage_error("--svg needs a file");
      opt.svg = argv[++i];
    } else if (!options_done && arg == "--evaluate") {
      if (i + 2 >= argc) return usage_error("--evaluate needs the survey's N and S");
      int64_t n = 0, s = 0;
      if (!parse_int(argv[i + 1], 0, INT32_MAX, &n) || !parse_int(argv[i + 2], 0, INT32_MAX, &s)) {
        return usage_error("--evaluate takes two whole numbers, N and S, not " + std::string(argv[i + 1]) + " " +
                           std::string(argv[i + 2]));
      }
      opt.evaluate = true;
      opt.n = static_cast<int32_t>(n);
      opt.s = static_cast<int32_t>(s);
      i += 2;
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      return usage_error("unknown option " + std::string(arg));
    } else {
      opt.scans.push_back(argv[i]);
    }
  }
  if (opt.evaluate) {
    if (!opt.scans.empty()) return usage_error("--evaluate takes no scan files");
    if (db_given) return usage_error("--evaluate folds the survey itself and takes no --db");
    if (opt.n < 2) return usage_error("--evaluate needs at least 2 reference points, one to leave out");
    if (opt.s < 1) return usage_error("--evaluate needs at least 1 scan per point");
    const auto scans = static_cast<uint64_t>(opt.n) * static_cast<uint64_t>(opt.s);
    if (scans > (uint64_t{1} << 40) / sizeof(refpoint)) {
      return usage_error("--evaluate " + int_text(opt.n) + " " + int_text(opt.s) + " is more scans than can be held");
    }
    return evaluate(opt);
  }
  if (opt.svg) return usage_error("--svg draws the error map of --evaluate");
  if (opt.scans.empty()) return usage_error("no scan files to locate");
  return locate_scans(opt);
}
