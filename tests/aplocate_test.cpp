// Locating scans: the distance and the estimate on maps worked out by hand,
// and the aplocate binary on real files: locating, leave one point out
// against a plainly written computation of its own, bad input, and its CSV,
// JSON and SVG read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "radiomap/locate.h"
#include "support.h"

using support::scan_cell;
using support::scan_report;
using support::write_file;

namespace {

refpoint record_of(int32_t x, int32_t y, const std::vector<std::pair<const char*, float>>& slots) {
  refpoint r{};
  for (const auto& [address, level] : slots) {
    ap_reading& ap = r.ap[r.ap_count++];
    std::strcpy(ap.address, address);
    ap.signal_level = level;
    ap.seen = 1;
  }
  r.x = x;
  r.y = y;
  return r;
}

double P(double level) {
  const double u = std::min(std::max(level + 100.0, 0.0), 15.0);
  return u * u;
}

support::run_result run_aplocate(const std::vector<std::string>& args) {
  std::vector<std::string> argv{APLOCATE_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return support::run(argv);
}

class Aplocate : public support::TempDirTest {};

}  // namespace

TEST(Locate, FingerprintMeansFiniteLevelsPerAddressInOrderOfFirstAppearance) {
  locator map;
  const refpoint base = record_of(0, 0, {{"A", -50}, {"B", -60}});
  build_locator(&map, &base, 1);
  const refpoint scan = record_of(0, 0, {{"B", -61}, {"X", -70}, {"B", -63}, {"A", NAN}, {"C", INFINITY}});
  const fingerprint f = fingerprint_of(map, scan);
  ASSERT_EQ(f.count, 2);  // A and C have no finite level
  EXPECT_EQ(f.id[0], map.ids.at("B"));
  EXPECT_EQ(f.level[0], -62.0);
  EXPECT_EQ(f.id[1], -1);  // X is not in the map
  EXPECT_EQ(f.level[1], -70.0);
}

TEST(Locate, DistanceComparesSharedLevelsAndChargesTheOthersABoundedPenalty) {
  locator map;
  const refpoint points[] = {record_of(0, 0, {{"A", -52}, {"C", -70}, {"D", -110}}),
                             record_of(5, 5, {{"E", -40}})};
  build_locator(&map, points, 2);
  const fingerprint q = fingerprint_of(map, record_of(0, 0, {{"A", -50}, {"B", -88}}));
  double d = 0;
  ASSERT_TRUE(signal_distance(q, map.points[0], &d));
  // Shared A: 2 dB apart. B, heard by the scan only, is 12 dB above the
  // floor; C is 30 dB above it and costs the cap; D is below the floor.
  EXPECT_EQ(P(-88), 144.0);
  EXPECT_EQ(P(-70), 225.0);
  EXPECT_EQ(P(-110), 0.0);
  EXPECT_DOUBLE_EQ(d, std::sqrt((4.0 + 144.0 + 225.0 + 0.0) / 4.0));
  EXPECT_FALSE(signal_distance(q, map.points[1], &d)) << "nothing shared";

  neighbour out[LOCATE_MAX_K];
  ASSERT_EQ(nearest_points(&map, q, -1, 4, out), 1) << "a point sharing nothing is no candidate";
  EXPECT_EQ(out[0].point, 0);
}

// The dense comparison, for reference: every map address a column, missing
// levels at -100 dBm with no cap, no normalisation, every point a candidate.
TEST(Locate, DenseDistanceTakesMissingLevelsAtTheFloor) {
  locator map;
  const refpoint points[] = {record_of(0, 0, {{"A", -52}, {"C", -70}, {"D", -110}}),
                             record_of(5, 5, {{"E", -40}})};
  build_locator(&map, points, 2, locate_method::dense);
  const fingerprint q = fingerprint_of(map, record_of(0, 0, {{"A", -50}, {"B", -88}}));
  double d = 0;
  ASSERT_TRUE(signal_distance(q, map.points[0], &d, locate_method::dense));
  // B is no column of the map; C and D count with their distance to the floor.
  EXPECT_EQ(d, std::sqrt(4.0 + 900.0 + 100.0));
  ASSERT_TRUE(signal_distance(q, map.points[1], &d, locate_method::dense));
  EXPECT_EQ(d, std::sqrt(2500.0 + 3600.0));
  neighbour out[LOCATE_MAX_K];
  ASSERT_EQ(nearest_points(&map, q, -1, 4, out), 2) << "a point sharing nothing is a candidate too";
  EXPECT_EQ(out[0].point, 0);
  EXPECT_EQ(out[1].point, 1);
  EXPECT_EQ(out[1].distance, std::sqrt(6100.0));
}

TEST(Locate, NearestFirstTiesByLowerPointAndKBeyondTheMap) {
  locator map;
  const refpoint points[] = {
      record_of(0, 0, {{"A", -60}}), record_of(1, 0, {{"A", -50}}), record_of(2, 0, {{"A", -50}}),
      record_of(3, 0, {{"A", -52}}), record_of(9, 9, {{"Z", -50}}),
  };
  build_locator(&map, points, 5);
  const fingerprint q = fingerprint_of(map, record_of(0, 0, {{"A", -50}}));
  neighbour out[LOCATE_MAX_K];
  ASSERT_EQ(nearest_points(&map, q, -1, 8, out), 4);
  const int32_t order[] = {1, 2, 3, 0};  // 1 and 2 tie at 0: the lower first
  for (int r = 0; r < 4; ++r) EXPECT_EQ(out[r].point, order[r]) << "rank " << r;
  EXPECT_EQ(out[0].distance, 0.0);
  EXPECT_EQ(out[2].distance, 2.0);
  EXPECT_EQ(out[3].distance, 10.0);

  ASSERT_EQ(nearest_points(&map, q, 1, 2, out), 2) << "point 1 left out";
  EXPECT_EQ(out[0].point, 2);
  EXPECT_EQ(out[1].point, 3);

  // Weights 1/(D+1)^2: 1 for D = 0 and 1/9 for D = 2.
  double x = 0, y = 0;
  weighted_position(map, out, 2, &x, &y);
  EXPECT_DOUBLE_EQ(x, (1.0 * 2 + 3.0 / 9) / (1.0 + 1.0 / 9));
  EXPECT_EQ(y, 0.0);
}

// The index screens candidates with sums in another order and then computes
// the exact distance of the few that can be among the nearest; the answer
// must be exactly that of the exact distance to every point. Random maps
// with levels that are not whole numbers, many near ties and some exact ties.
TEST(Locate, NearestPointsEqualTheExactDistanceToEveryPoint) {
  std::mt19937 rng(20261210);
  std::uniform_int_distribution<int> address(0, 39), count(1, 16), whole(-105, -30);
  std::uniform_int_distribution<int> tenths(0, 9);
  const auto random_record = [&](int32_t x, int32_t y) {
    static char names[40][8];
    for (int a = 0; a < 40; ++a) std::snprintf(names[a], sizeof names[a], "AP%02d", a);
    std::vector<std::pair<const char*, float>> slots;
    for (int k = count(rng); k > 0; --k) {
      slots.push_back({names[address(rng)], static_cast<float>(whole(rng)) + 0.1f * static_cast<float>(tenths(rng))});
    }
    return record_of(x, y, slots);
  };
  for (const locate_method method : {locate_method::shared, locate_method::dense}) {
    std::vector<refpoint> points;
    for (int32_t i = 0; i < 300; ++i) points.push_back(random_record(i % 20, i / 20));
    for (int32_t i = 0; i < 20; ++i) points.push_back(points[static_cast<std::size_t>(i) * 7]);  // exact ties
    locator map;
    build_locator(&map, points.data(), static_cast<int32_t>(points.size()), method);
    for (int query = 0; query < 300; ++query) {
      const fingerprint q = fingerprint_of(map, random_record(0, 0));
      const int32_t excluded = query % 3 == 0 ? query % static_cast<int32_t>(points.size()) : -1;
      std::vector<std::pair<double, int32_t>> all;
      for (int32_t p = 0; p < map.n; ++p) {
        double d = 0;
        if (p != excluded && signal_distance(q, map.points[static_cast<std::size_t>(p)], &d, method)) {
          all.push_back({d, p});
        }
      }
      std::sort(all.begin(), all.end());
      for (const int k : {1, 4, 8}) {
        neighbour out[LOCATE_MAX_K];
        const int found = nearest_points(&map, q, excluded, k, out);
        ASSERT_EQ(found, std::min<int>(k, static_cast<int>(all.size()))) << "query " << query;
        for (int r = 0; r < found; ++r) {
          EXPECT_EQ(out[r].point, all[static_cast<std::size_t>(r)].second) << "query " << query << " rank " << r;
          EXPECT_EQ(out[r].distance, all[static_cast<std::size_t>(r)].first) << "query " << query << " rank " << r;
        }
      }
    }
  }
}

// A survey of 5 points x 2 scans whose levels are chosen here, so that the
// folded fingerprints, the neighbours and the estimates can be computed
// below without the library.
struct tiny_survey {
  struct point {
    int x, y;
    std::vector<std::map<std::string, int>> scans;  // address -> level, per scan
  };
  std::vector<point> points{
      {0, 0, {{{"A", -40}, {"B", -70}}, {{"A", -42}, {"B", -72}}}},
      {1, 0, {{{"A", -50}, {"B", -60}}, {{"A", -52}, {"B", -58}, {"C", -90}}}},
      {2, 0, {{{"A", -60}, {"B", -50}, {"C", -80}}, {{"A", -61}, {"B", -49}}}},
      {2, 1, {{{"B", -55}, {"C", -60}}, {{"B", -57}, {"C", -62}}}},
      {0, 1, {{{"A", -45}, {"C", -75}}, {{"A", -47}, {"C", -77}}}},
  };

  void write() const {
    std::string seq;
    for (std::size_t i = 0; i < points.size(); ++i) {
      seq += std::to_string(i + 1) + "\t(" + std::to_string(points[i].x) + "," + std::to_string(points[i].y) + ")\n";
      for (std::size_t j = 0; j < points[i].scans.size(); ++j) {
        std::vector<scan_cell> cells;
        for (const auto& [address, level] : points[i].scans[j]) {
          cells.push_back({address, "net", std::to_string(level) + " dBm", "-95 dBm"});
        }
        write_file("scan" + std::to_string(i + 1) + "-" + std::to_string(j + 1), scan_report(cells));
      }
    }
    write_file("seq.txt", seq);
  }
};

// The estimate of scan j of point i with point i left out, computed plainly:
// fingerprints as maps (a point's is the mean over the scans that heard an
// address), every other point's distance, a full sort, k weighted.
std::pair<double, double> expected_estimate(const tiny_survey& s, std::size_t i, std::size_t j, std::size_t k) {
  std::map<std::string, double> q;
  for (const auto& [a, l] : s.points[i].scans[j]) q[a] = l;
  std::vector<std::pair<double, std::size_t>> ranked;
  for (std::size_t p = 0; p < s.points.size(); ++p) {
    if (p == i) continue;
    std::map<std::string, std::pair<double, int>> sums;
    for (const auto& scan : s.points[p].scans) {
      for (const auto& [a, l] : scan) {
        sums[a].first += l;
        sums[a].second += 1;
      }
    }
    std::map<std::string, double> r;
    for (const auto& [a, sum] : sums) r[a] = sum.first / sum.second;
    double t = 0;
    int shared = 0;
    std::map<std::string, bool> all;
    for (const auto& [a, l] : q) all[a] = true;
    for (const auto& [a, l] : r) all[a] = true;
    for (const auto& [a, unused] : all) {
      const bool in_q = q.count(a) > 0, in_r = r.count(a) > 0;
      if (in_q && in_r) {
        t += (q[a] - r[a]) * (q[a] - r[a]);
        ++shared;
      } else {
        t += P(in_q ? q[a] : r[a]);
      }
    }
    if (shared == 0) continue;
    ranked.push_back({std::sqrt(t / static_cast<double>(all.size())), p});
  }
  std::sort(ranked.begin(), ranked.end());
  double w = 0, x = 0, y = 0;
  for (std::size_t r = 0; r < std::min(k, ranked.size()); ++r) {
    const double weight = 1 / ((ranked[r].first + 1) * (ranked[r].first + 1));
    w += weight;
    x += weight * s.points[ranked[r].second].x;
    y += weight * s.points[ranked[r].second].y;
  }
  return {x / w, y / w};
}

TEST_F(Aplocate, LeaveOnePointOutAgreesWithAPlainComputation) {
  const tiny_survey survey;
  survey.write();
  for (const int k : {1, 3, 4, 8}) {
    auto r = run_aplocate({"--evaluate", "5", "2", "-k", std::to_string(k), "--csv"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::istringstream in(r.out);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "point,scan,x,y,est_x,est_y,error");
    int rows = 0;
    while (std::getline(in, line)) {
      int point = 0, scan = 0, x = 0, y = 0;
      double ex = 0, ey = 0, error = 0;
      ASSERT_EQ(std::sscanf(line.c_str(), "%d,%d,%d,%d,%lf,%lf,%lf", &point, &scan, &x, &y, &ex, &ey, &error), 7)
          << line;
      const auto [want_x, want_y] = expected_estimate(survey, static_cast<std::size_t>(point - 1),
                                                      static_cast<std::size_t>(scan - 1), static_cast<std::size_t>(k));
      EXPECT_NEAR(ex, want_x, 1e-9) << "k " << k << ": " << line;
      EXPECT_NEAR(ey, want_y, 1e-9) << "k " << k << ": " << line;
      EXPECT_NEAR(error, std::hypot(want_x - x, want_y - y), 1e-9) << line;
      ++rows;
    }
    EXPECT_EQ(rows, 10);
  }
  auto text = run_aplocate({"--evaluate", "5", "2"});
  EXPECT_EQ(text.exit_code, 0);
  EXPECT_NE(text.out.find("scans located: 10 of 10"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("centroid of the other points"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("worst points"), std::string::npos) << text.out;
}

TEST_F(Aplocate, AScanEqualToAReferencePointIsPlacedOnIt) {
  const tiny_survey survey;
  survey.write();
  ASSERT_EQ(support::run_apfold({"5", "1"}).exit_code, 0);
  auto r = run_aplocate({"-k", "1", "--csv", "scan4-1", "scan2-1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "scan,x,y,nearest_point\nscan4-1,2,1,4\nscan2-1,1,0,2\n");
}

TEST_F(Aplocate, BadInputGetsAMessageAndAStatus) {
  const tiny_survey survey;
  survey.write();
  ASSERT_EQ(support::run_apfold({"5", "2"}).exit_code, 0);
  write_file("silent", "wlan0     No scan results\n");
  write_file("short.bin", std::string(7, '\0'));
  const struct {
    std::vector<std::string> args;
    int status;
    std::string message;  // in standard error, or standard output for apfold's own
  } rows[] = {
      {{"scan1-1", "nosuch", "scan3-1"}, 1, "aplocate: nosuch: cannot read it: No such file or directory"},
      {{"scan1-1", "silent"}, 1, "aplocate: silent: no access point heard"},
      {{"--db", "nothere", "scan1-1"}, 1, "aplocate: cannot read nothere: No such file or directory"},
      {{"--db", "short.bin", "scan1-1"}, 1, "aplocate: short.bin: byte 7: the file is 7 bytes"},
      {{"-k", "0", "scan1-1"}, 2, "-k takes a whole number"},
      {{"-k", "four", "scan1-1"}, 2, "-k takes a whole number"},
      {{"-k", "9", "scan1-1"}, 2, "-k is at most 8"},
      {{"-k"}, 2, "-k needs"},
      {{}, 2, "no scan files to locate"},
      {{"--evaluate", "1", "2"}, 2, "at least 2 reference points"},
      {{"--evaluate", "5"}, 2, "needs the survey's N and S"},
      {{"--evaluate", "6", "2"}, 1, "seq_parse() failed"},
      {{"--evaluate", "5", "3"}, 2, "Failed to open scan1-3"},
      {{"--csv", "--json", "scan1-1"}, 2, "choose one of --csv and --json"},
      {{"--bogus"}, 2, "unknown option --bogus"},
      {{"--method", "knn", "scan1-1"}, 2, "--method is shared or dense, not knn"},
  };
  for (const auto& row : rows) {
    std::string what;
    for (const auto& a : row.args) what += a + " ";
    auto r = run_aplocate(row.args);
    EXPECT_EQ(r.exit_code, row.status) << what << r.out << r.err;
    EXPECT_NE((r.err + r.out).find(row.message), std::string::npos) << what << "\n" << r.out << r.err;
  }
  // The readable scans around an unreadable one are still located.
  auto r = run_aplocate({"--csv", "scan1-1", "nosuch", "scan3-1"});
  EXPECT_NE(r.out.find("\nscan1-1,"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\nscan3-1,"), std::string::npos) << r.out;
}

TEST_F(Aplocate, CsvJsonAndTheErrorMapReadBack) {
  const tiny_survey survey;
  survey.write();
  ASSERT_EQ(support::run_apfold({"5", "2"}).exit_code, 0);
  write_file("check.py", R"(
import csv, json, sys, xml.etree.ElementTree as ET
rows = list(csv.DictReader(open("eval.csv", newline="")))
assert len(rows) == 10, rows
doc = json.load(open("eval.json"))
assert doc["located"] == 10 and doc["k"] == 4 and len(doc["scans"]) == 10
for row, scan in zip(rows, doc["scans"]):
    assert float(row["est_x"]) == scan["est_x"] and float(row["error"]) == scan["error"], (row, scan)
errors = sorted(s["error"] for s in doc["scans"])
assert abs(doc["error"]["median"] - (errors[4] + errors[5]) / 2) < 1e-12
assert doc["error"]["max"] == errors[-1]
assert len(doc["by_k"]) == 8 and 1 <= doc["best_k"] <= 8
located = json.load(open("locate.json"))
assert [s["scan"] for s in located["scans"]] == ["scan2-1", "scan5-2"]
assert located["scans"][0]["nearest_point"] == 2
svg = ET.parse("errors.svg").getroot()
assert svg.tag.endswith("svg")
print("ok")
)");
  auto ev = run_aplocate({"--evaluate", "5", "2", "--csv"});
  write_file("eval.csv", ev.out);
  auto js = run_aplocate({"--evaluate", "5", "2", "--json", "--svg", "errors.svg"});
  ASSERT_EQ(js.exit_code, 0) << js.err;
  write_file("eval.json", js.out);
  auto lo = run_aplocate({"--json", "scan2-1", "scan5-2"});
  ASSERT_EQ(lo.exit_code, 0) << lo.err;
  write_file("locate.json", lo.out);
  auto py = support::run({"/usr/bin/env", "python3", "check.py"});
  EXPECT_EQ(py.exit_code, 0) << py.out << py.err;
  EXPECT_EQ(py.out, "ok\n");

  // Rendered: every reference point's cell is coloured on the scale, and
  // the empty cell (1, 1) is white.
  auto png = support::run({"/usr/bin/env", "rsvg-convert", "-o", "errors.png", "errors.svg"});
  ASSERT_EQ(png.exit_code, 0) << png.err;
  const std::string bytes = support::read_file("errors.png");
  ASSERT_GT(bytes.size(), 8u);
  EXPECT_EQ(bytes.substr(1, 3), "PNG");
  const std::string svg = support::read_file("errors.svg");
  EXPECT_NE(svg.find("data-x=\"1\" data-y=\"1\" x="), std::string::npos);
  EXPECT_NE(svg.find("class=\"cell empty\" data-x=\"1\" data-y=\"1\""), std::string::npos) << svg;
  for (const char* cell : {"data-x=\"0\" data-y=\"0\"", "data-x=\"2\" data-y=\"1\""}) {
    const auto at = svg.find(std::string("class=\"cell\" ") + cell);
    ASSERT_NE(at, std::string::npos) << cell;
    const auto fill = svg.find("fill=\"#", at);
    EXPECT_NE(svg.substr(fill, 14), "fill=\"#ffffff\"") << cell;
  }
}

// Where two CPUs are usable the evaluation splits the points between two
// threads; pinned to one CPU it locates them all in turn. The outputs must
// be the same byte for byte, on a survey large enough to be split.
TEST_F(Aplocate, EvaluationIsTheSameOnOneCpuAndTwo) {
  constexpr int n = 90, s = 3;
  std::string seq;
  for (int i = 1; i <= n; ++i) {
    const int x = (i - 1) % 10, y = (i - 1) / 10;
    seq += std::to_string(i) + "\t(" + std::to_string(x) + "," + std::to_string(y) + ")\n";
    for (int j = 1; j <= s; ++j) {
      std::vector<scan_cell> cells;
      for (int a = 0; a < 25; ++a) {
        const int ax = (a % 5) * 2, ay = (a / 5) * 2;
        const int level = -30 - 4 * (std::abs(ax - x) + std::abs(ay - y)) - (i * 7 + j * 3 + a) % 5;
        if (level < -95) continue;
        cells.push_back({"00:00:00:00:00:" + std::to_string(10 + a), "n", std::to_string(level), ""});
      }
      std::rotate(cells.begin(), cells.begin() + static_cast<long>(static_cast<std::size_t>(i + j) % cells.size()), cells.end());
      write_file("scan" + std::to_string(i) + "-" + std::to_string(j), scan_report(cells));
    }
  }
  write_file("seq.txt", seq);
  const std::vector<std::string> argv{APLOCATE_BINARY, "--evaluate", std::to_string(n), std::to_string(s), "--json"};
  const auto two = support::run(argv);
  const auto one = support::run(argv, ".", {.one_cpu = true});
  ASSERT_EQ(two.exit_code, 0) << two.err;
  ASSERT_EQ(one.exit_code, 0) << one.err;
  EXPECT_NE(two.out.find("\"located\": 270"), std::string::npos) << two.out.substr(0, 300);
  EXPECT_TRUE(one.out == two.out);
}
