// Locating a scan with a radio map: k nearest reference points in signal
// space.
//
// A fingerprint is, per access point address (exact text, as folding
// matches them), the mean of the finite signal levels: of a scan's cells (the
// first MAX_APS, as parse_scan keeps them), or of a record's slot means (an
// address held in two slots gets the mean of the two). Entries keep the order
// in which their addresses first appear.
//
// A scan and a reference point each hold at most 16 of the access points
// audible where they were taken, and which 16 depends on the order the
// scanner listed them in; so an access point missing on one side says little
// about how strong it is. The distance therefore compares the levels of the
// shared access points and charges each unshared one a bounded penalty:
//   P(L) = min(max(L - LOCATE_FLOOR, 0), LOCATE_CAP)^2
//   t    = sum over shared addresses of (a - b)^2
//        + sum over addresses of one side only of P(level)
//   D    = sqrt(t / (|Q| + |R| - shared))
// summed over the scan's entries in order, then the reference point's own.
// A point sharing no address with the scan is no candidate. The estimate is
// the mean of the k nearest candidates' coordinates (ties: the lower point
// number first) weighted by 1 / (D + 1)^2.
//
// For comparison the textbook dense comparison is there too: every address
// of the map a column, a level missing on one side taken as LOCATE_FLOOR,
// Euclidean distance (addresses the map does not know are no column); every
// point is a candidate.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "radiomap/refpoint.h"

inline constexpr double LOCATE_FLOOR = -100.0;  // dBm: no penalty for a level this weak
inline constexpr double LOCATE_CAP = 15.0;      // dB: the most one unshared access point costs
inline constexpr int LOCATE_DEFAULT_K = 4;
inline constexpr int LOCATE_MAX_K = 8;          // neighbours kept per query

enum class locate_method {
  shared,  // shared access points, a bounded penalty for the others (the default)
  dense,   // every address a column, missing levels at the floor
};

// An address known to the map has its index there; others have -1 (each
// still an entry of its own).
struct fingerprint {
  int32_t count = 0;
  int32_t id[MAX_APS];
  double level[MAX_APS];
};

struct neighbour {
  int32_t point = 0;  // index in the map, from 0
  double distance = 0;
};

// Where an address is held: the point and that point's level and penalty.
struct holding {
  int32_t point = 0;
  double level = 0;
  double penalty = 0;
};

// A radio map ready for queries: the records' fingerprints, the map's
// addresses numbered in order of first appearance, and for each address the
// points that hold it, with scratch space for one query at a time.
//
// A query screens every point that shares an address with the scan through
// that index, summing each point's distance in a different order than
// signal_distance (the penalties of all entries, then what sharing changes),
// which is cheap but may differ in the last bits; the points that can be
// among the k nearest by that sum, with a margin far above any such
// difference, then get their exact distance. The answer is the same as
// computing the exact distance to every point.
struct locator {
  locate_method method = locate_method::shared;
  int32_t n = 0;
  std::vector<fingerprint> points;
  std::vector<int32_t> xs, ys;
  std::vector<double> penalties;  // by point: the sum of its entries' penalties
  std::unordered_map<std::string, int32_t> ids;
  std::vector<std::vector<holding>> holders;  // by address id, points ascending
  // Scratch for the query being answered.
  uint32_t query = 0;
  struct tally {
    uint32_t query = 0;  // the query that last touched the point
    int32_t shared = 0;  // addresses it shares with that query
    double change = 0;   // what sharing changes in its sum
  };
  std::vector<tally> tallies;     // by point
  std::vector<int32_t> touched;   // the points the query shares an address with
  std::vector<double> screened;   // their screening distances
  std::vector<double> ranked;     // the same, partly sorted
  std::vector<uint32_t> heard;    // by address id: the query that holds it
  std::vector<int32_t> heard_at;  // by address id: its entry in that query
};

void build_locator(locator* map, const refpoint* records, int32_t n,
                   locate_method method = locate_method::shared);

// The fingerprint of a scan (or any record), with the map's address ids.
fingerprint fingerprint_of(const locator& map, const refpoint& record);

// The distance D between a scan's and a reference point's fingerprints;
// false when they share no address (the shared method only).
bool signal_distance(const fingerprint& q, const fingerprint& r, double* distance,
                     locate_method method = locate_method::shared);

// The min(k, candidates) nearest points other than `excluded` (-1: none),
// nearest first, ties by the lower index; k at most LOCATE_MAX_K. Returns
// how many.
int nearest_points(locator* map, const fingerprint& q, int32_t excluded, int k, neighbour* out);

// The weighted mean position of the first `count` neighbours.
void weighted_position(const locator& map, const neighbour* nearest, int count, double* x, double* y);
