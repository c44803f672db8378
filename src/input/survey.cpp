#include "input/survey.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "input/scan_reader.h"
#include "input/scan_text.h"
#include "radiomap/folding.h"
#include "report/report.h"

int fold_survey(int32_t n, int32_t s, const int32_t* xs, const int32_t* ys, refpoint* folded,
                refpoint* later, refpoint* kept, int64_t* dropped, survey_failure* failed) {
  const scan_reader_ptr reader = scan_reader_start(n, s);
  if (!reader) {
    errno = ENOMEM;
    return SURVEY_NO_MEMORY;
  }
  for (int32_t i = 1; i <= n; ++i) {
    refpoint& base = folded[i - 1];
    refpoint* const row = kept ? kept + static_cast<std::size_t>(i - 1) * static_cast<std::size_t>(s) : nullptr;
    refpoint* const others = row ? row + 1 : later;
    for (int32_t j = 1; j <= s; ++j) {
      const char* text = nullptr;
      std::size_t size = 0;
      if (scan_reader_next(reader.get(), &text, &size) != 0) {
        failed->point = i;
        failed->scan = j;
        return SURVEY_SCAN_MISSING;
      }
      refpoint& record = j == 1 ? base : others[j - 2];
      if (j > 1) std::memset(&record, 0, sizeof record);  // as parse_scan expects
      parse_scan(text, &record);
      record.x = xs[static_cast<std::size_t>(i - 1)];
      record.y = ys[static_cast<std::size_t>(i - 1)];
      if (row && j == 1) row[0] = record;  // before it is folded into
    }
    const int64_t count = s > 1 ? fold_scans(&base, others, s - 1) : 0;
    if (dropped) dropped[i - 1] = count;
    average_refpoint(&base);
  }
  return SURVEY_OK;
}

void report_survey_failure(int status, const survey_failure& failed) {
  if (status == SURVEY_SCAN_MISSING) {
    char name[32];
    format_scan_name(name, failed.point, failed.scan);
    std::printf("Failed to open %s\n", name);
  } else {
    report_system_error("malloc failed");
  }
}
