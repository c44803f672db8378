// The survey directory as apsurvey finds it, and a reference point recorded
// into it all at once. POSIX only; names are relative to the working
// directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/interrupt.h"

// A point's reports are temporary files until the point is complete, each
// tracked for interruption at the same time.
inline constexpr int32_t MAX_SCANS = INTERRUPT_MAX_FILES;

struct survey_state {
  int32_t points;  // entries of seq.txt; 0 without the file
  int32_t scans;   // scan files of each point (scan1-1, scan1-2, ...); 0 without points
  int32_t last_x;  // the last point's coordinates, when there are points
  int32_t last_y;
  bool ends_line;  // seq.txt is absent, empty or ends in white space
};

// Reads seq.txt and checks that the survey folds: entries numbered 1, 2, 3,
// ... in order with nothing else after them, the last one closed, and every
// point with the scan files that point 1 has (a regular file each, at most
// MAX_SCANS). Returns 0, or 1 with *problem saying what is wrong, the
// file's name first ("seq.txt: entry 3 is numbered 4, ...").
int read_survey(survey_state* state, std::string* problem);

// The first name among scan<point>-1 .. scan<point>-<scans> that is there
// already, as any kind of file; "" when none is.
std::string existing_scan_file(int32_t point, int32_t scans);

// A reference point being recorded: its scan files, written one by one under
// temporary names as the scans come in, and put in place all at once.
struct point_file {
  char name[32];  // scan<i>-<j>
  char temp[64];  // scan<i>-<j>.tmp.<pid>, while it is being written
  int handle;     // its tracking for interruption; -1 when none
  bool made;      // `temp` was created
  bool placed;    // `temp` was renamed to `name`
};

struct point_files {
  int32_t point;
  int32_t count;  // files begun, 0 .. MAX_SCANS
  point_file file[MAX_SCANS];
};

// Starts point `point` with no file.
void begin_point(point_files* p, int32_t point);

// Writes the next scan's report (scan<point>-<count+1>) to a new file under
// its temporary name: tracked for interruption first, so that SIGINT,
// SIGTERM, SIGHUP or SIGQUIT remove it from then on, created exclusively
// (never through a link that is there already), written, synced and closed.
// Returns 0, or 1 with *problem naming the file and the system's reason
// (what was created stays for discard_point).
int add_scan(point_files* p, const char* text, std::size_t size, std::string* problem);

// Completes the point: with SIGINT, SIGTERM, SIGHUP and SIGQUIT held back
// until it is complete or gone, renames the files into place (refusing
// names that are taken), syncs the directory and appends the entry
// "<point>\t(<x>,<y>)\n" to seq.txt, after a line end when `ends_line` is
// false. On a failure removes everything of the point and cuts seq.txt back
// to its old size. Returns 0, or 1 with *problem.
int commit_point(point_files* p, int32_t x, int32_t y, bool ends_line, std::string* problem);

// Removes whatever was made for the point and stops tracking it; errno is
// kept.
void discard_point(point_files* p);

// A point's coordinates as a surveyor types them: "3,4", "(3,4)" or "3 4",
// white space allowed around each part, each a 32-bit integer with an
// optional sign. 0 with *x and *y set, or 1.
int parse_coordinates(std::string_view text, int32_t* x, int32_t* y);
