// apdump [--csv | --json | --svg ADDRESS] [FILE]
//
// Reads a radio map database that apfold wrote (FILE, "db.bin" by default)
// and shows it: a summary for a person, the records as CSV or JSON, or an
// access point's heat map as SVG, on standard output.
//
// Exit status: 0 when the view was written (also for --help and --version);
// 1 when the file cannot be read, is not a well-formed database, the access
// point is not in it, its grid is too large to draw, or the output cannot be
// written; 2 for a usage error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "apdump/formats.h"
#include "input/file_io.h"
#include "radiomap/database.h"
#include "radiomap/db_reader.h"
#include "views/text.h"

#ifndef APDUMP_VERSION
#error "APDUMP_VERSION comes from the build"
#endif

namespace {

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

constexpr const char* USAGE =
    "Usage: apdump [FILE]                 summary of a radio map database (FILE: db.bin)\n"
    "       apdump --csv [FILE]           one row per reference point and access point\n"
    "       apdump --json [FILE]          the whole database as JSON\n"
    "       apdump --svg ADDRESS [FILE]   heat map of one access point's mean signal\n"
    "       apdump --help | --version\n";

enum class view { summary, csv, json, svg };

int usage_error(const std::string& message) {
  std::fprintf(stderr, "apdump: %s\n%s", message.c_str(), USAGE);
  return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
  view mode = view::summary;
  bool mode_given = false;
  const char* address = nullptr;
  const char* file = DATABASE_FILE_NAME;
  bool file_given = false;
  bool options_done = false;

  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!options_done && arg == "--") {
      options_done = true;
    } else if (!options_done && (arg == "--help" || arg == "-h")) {
      std::fputs(USAGE, stdout);
      return std::fflush(stdout) == 0 ? 0 : EXIT_FAILED;
    } else if (!options_done && arg == "--version") {
      std::printf("apdump %s\n", APDUMP_VERSION);
      return std::fflush(stdout) == 0 ? 0 : EXIT_FAILED;
    } else if (!options_done && (arg == "--csv" || arg == "--json" || arg == "--svg")) {
      if (mode_given) return usage_error("choose one of --csv, --json and --svg");
      mode_given = true;
      mode = arg == "--csv" ? view::csv : arg == "--json" ? view::json : view::svg;
      if (mode == view::svg) {
        if (i + 1 >= argc) return usage_error("--svg needs an access point address");
        address = argv[++i];
      }
    } else if (!options_done && arg.size() > 1 && arg[0] == '-') {
      return usage_error("unknown option " + std::string(arg));
    } else {
      if (file_given) return usage_error("more than one file: " + std::string(file) + " and " + std::string(arg));
      file = argv[i];
      file_given = true;
    }
  }

  std::size_t size = 0;
  auto bytes = load_file(file, &size);
  if (!bytes) {
    std::fprintf(stderr, "apdump: cannot read %s: %s\n", file, std::strerror(errno));
    return EXIT_FAILED;
  }
  radio_map map;
  db_read_error error;
  const std::span<const unsigned char> content(reinterpret_cast<const unsigned char*>(bytes.get()), size);
  if (read_database(content, &map, &error) != DB_READ_OK) {
    std::fprintf(stderr, "apdump: %s: byte %llu: %s\n", file,
                 static_cast<unsigned long long>(error.offset), error.message.c_str());
    return EXIT_FAILED;
  }
  bytes.reset();

  out_sink out{stdout, {}, false};
  switch (mode) {
    case view::summary: write_summary(&out, file, size, map); break;
    case view::csv: write_csv(&out, map); break;
    case view::json: write_json(&out, map); break;
    case view::svg: {
      heatmap_notes notes;
      const int status = write_heatmap(&out, map, address, &notes);
      if (!notes.warning.empty()) std::fprintf(stderr, "apdump: %s: %s\n", file, notes.warning.c_str());
      if (status != HEATMAP_OK) {
        std::fprintf(stderr, "apdump: %s: %s\n", file, notes.problem.c_str());
        return EXIT_FAILED;
      }
      break;
    }
  }
  if (flush_sink(&out) != 0 || std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "apdump: cannot write the output: %s\n", std::strerror(errno));
    return EXIT_FAILED;
  }
  return 0;
}
