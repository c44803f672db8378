// A whole survey folded into records, as apfold folds it: the scan files
// scan1-1 ... scan<n>-<s> loaded in that order (ahead on a second thread
// where one can be had, input/scan_reader), each parsed with parse_scan,
// each point's scans folded with fold_scans as soon as they are read, and
// averaged.
#pragma once

#include <cstdint>

#include "radiomap/refpoint.h"

// Where a survey could not be read.
struct survey_failure {
  int32_t point = 0;  // from 1
  int32_t scan = 0;   // from 1
};

inline constexpr int SURVEY_OK = 0;
inline constexpr int SURVEY_SCAN_MISSING = 1;  // *failed names the file; errno says why
inline constexpr int SURVEY_NO_MEMORY = 2;     // no storage for the reader

// Folds the n x s scans into folded[0 .. n-1] (zero-filled by the caller),
// each record stamped with its point's xs/ys. With `kept` (n x s records),
// every parsed scan is kept there, scan j of point i at (i-1) * s + (j-1),
// and folded from there; otherwise `later` (s - 1 records) holds a point's
// scans 2 .. s while it is folded. dropped[i-1] (when given) receives the
// readings point i dropped for want of a 17th slot.
int fold_survey(int32_t n, int32_t s, const int32_t* xs, const int32_t* ys, refpoint* folded,
                refpoint* later, refpoint* kept, int64_t* dropped, survey_failure* failed);

// Says why fold_survey failed, as apfold says it: "Failed to open scan2-1"
// on standard output for a file, the system-error report "malloc failed"
// for storage.
void report_survey_failure(int status, const survey_failure& failed);
