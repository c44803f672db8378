// Micro-benchmarks of the per-scan work: loading and parsing a report,
// folding a point's scans and the decimal scanner.
//
//   apfold_micro [--benchmark_filter=REGEX] ...
//
// The reports are built here in the layout gen_survey.py writes: a typical
// one has 19 cells (the mean of its 8 to 30), a noise-less one prints
// "Quality:0/100  Signal level:-70 dBm" and no noise level anywhere.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "input/decimal.h"
#include "input/file_io.h"
#include "input/scan_text.h"
#include "radiomap/folding.h"
#include "radiomap/refpoint.h"

namespace {

// A small deterministic generator, so every run parses the same bytes.
struct lcg {
  uint64_t state;
  uint32_t next() {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<uint32_t>(state >> 33);
  }
  int between(int lo, int hi) {
    return lo + static_cast<int>(next() % static_cast<uint32_t>(hi - lo + 1));
  }
};

const char* const kNames[] = {"eduroam", "Campus",    "Campus-5G", "Guest Net", "Library",
                              "Lab",     "HR-Office", "Printer-2F", "",         "Staff"};

std::string address_of(int ap) {
  char text[32];
  std::snprintf(text, sizeof text, "00:24:6C:%02X:%02X:%02X", (ap * 37) & 0xff, (ap * 101) & 0xff,
                ap & 0xff);
  return text;
}

// One iwlist-style report of `cells` cells, access points `first_ap`, ... .
std::string make_report(int cells, bool noise, int first_ap = 0, uint64_t seed = 1) {
  lcg rng{seed};
  std::string text = "wlan0     Scan completed :\n";
  for (int k = 0; k < cells; ++k) {
    const int ap = first_ap + k;
    const int channel = (ap % 2 == 0) ? 1 + 5 * (ap % 3) : 36 + 4 * (ap % 8);
    const int signal = -rng.between(40, 92);
    char block[1024];
    char quality[128];
    if (noise) {
      std::snprintf(quality, sizeof quality,
                    "Quality=%d/70  Signal level=%d dBm  Noise level=%d dBm", signal + 110, signal,
                    -rng.between(89, 96));
    } else {
      std::snprintf(quality, sizeof quality, "Quality:0/100  Signal level:%d dBm", signal);
    }
    std::snprintf(block, sizeof block,
                  "          Cell %02d - Address: %s\n"
                  "                    Channel:%d\n"
                  "                    Frequency:%s GHz (Channel %d)\n"
                  "                    %s\n"
                  "                    Encryption key:on\n"
                  "                    ESSID:\"%s\"\n"
                  "                    Bit Rates:6 Mb/s; 12 Mb/s; 24 Mb/s; 54 Mb/s\n"
                  "                    Mode:Master\n"
                  "                    Extra:tsf=%016x\n"
                  "                    Extra: Last beacon=%dms ago\n"
                  "                    IE: IEEE 802.11i/WPA2 Version 1\n"
                  "                        Group Cipher : CCMP\n"
                  "                        Pairwise Ciphers (1) : CCMP\n"
                  "                        Authentication Suites (1) : PSK\n",
                  k + 1, address_of(ap).c_str(), channel, channel < 14 ? "2.437" : "5.18", channel,
                  quality, kNames[ap % 10], rng.next(), rng.between(0, 1500));
    text += block;
  }
  text += "\n";
  return text;
}

void parse_report(benchmark::State& state, const std::string& text) {
  refpoint record{};
  for (auto _ : state) {
    benchmark::DoNotOptimize(parse_scan(text.c_str(), &record));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["report_bytes"] = static_cast<double>(text.size());
}

void BM_parse_scan_typical(benchmark::State& state) {
  parse_report(state, make_report(19, true));
}
BENCHMARK(BM_parse_scan_typical);

void BM_parse_scan_noiseless(benchmark::State& state) {
  parse_report(state, make_report(19, false));
}
BENCHMARK(BM_parse_scan_noiseless);

// Growing noise-less reports: every cell looks for a noise level up to the
// end of the text. Linear parsing shows as flat bytes per second and an
// O(N) fit over the report size.
void BM_parse_scan_noiseless_growing(benchmark::State& state) {
  const std::string text = make_report(static_cast<int>(state.range(0)), false);
  parse_report(state, text);
  state.SetComplexityN(static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_parse_scan_noiseless_growing)
    ->RangeMultiplier(4)
    ->Range(16, 16 << 10)
    ->Complexity(benchmark::oN);

// The worst case for label searches: 16 cells and then a long tail with no
// label at all, so none of the four is ever found after the last cell.
void BM_parse_scan_labels_missing_growing(benchmark::State& state) {
  std::string text;
  for (int k = 0; k < 16; ++k) text += "          Cell " + std::to_string(k + 1) + " - \n";
  const std::string filler = "                    Extra: Last beacon=12ms ago\n";
  while (text.size() < static_cast<std::size_t>(state.range(0))) text += filler;
  parse_report(state, text);
  state.SetComplexityN(static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_parse_scan_labels_missing_growing)
    ->RangeMultiplier(4)
    ->Range(1 << 10, 4 << 20)
    ->Complexity(benchmark::oN);

// One point's 20 scans, each hearing 16 access points of a neighbourhood of
// 24, as in a survey: folding them drops some readings.
std::vector<refpoint> point_scans() {
  constexpr int kScans = 20;
  std::vector<refpoint> scans(kScans);
  for (std::size_t j = 0; j < scans.size(); ++j) {
    const int first = static_cast<int>(j * 7 % 9);
    const std::string text = make_report(16, true, first, j + 1);
    parse_scan(text.c_str(), &scans[j]);
  }
  return scans;
}

// Folding one point with merge_scan, scan after scan.
void BM_merge_scan(benchmark::State& state) {
  const std::vector<refpoint> scans = point_scans();
  refpoint base{};
  int64_t dropped = 0;
  for (auto _ : state) {
    base = scans[0];
    for (std::size_t j = 1; j < scans.size(); ++j) dropped += merge_scan(&base, &scans[j]);
    average_refpoint(&base);
    benchmark::DoNotOptimize(base);
  }
  benchmark::DoNotOptimize(dropped);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(scans.size() - 1));
}
BENCHMARK(BM_merge_scan);

// The same point folded the way apfold does it, in one call; checked
// against merge_scan first.
void BM_fold_scans(benchmark::State& state) {
  const std::vector<refpoint> scans = point_scans();
  const auto count = static_cast<int32_t>(scans.size() - 1);
  refpoint expected = scans[0];
  int64_t expected_dropped = 0;
  for (std::size_t j = 1; j < scans.size(); ++j) {
    expected_dropped += merge_scan(&expected, &scans[j]);
  }
  refpoint base = scans[0];
  if (fold_scans(&base, &scans[1], count) != expected_dropped ||
      std::memcmp(&base, &expected, sizeof base) != 0) {
    state.SkipWithError("fold_scans differs from merge_scan");
    return;
  }
  int64_t dropped = 0;
  for (auto _ : state) {
    base = scans[0];
    dropped += fold_scans(&base, &scans[1], count);
    average_refpoint(&base);
    benchmark::DoNotOptimize(base);
  }
  benchmark::DoNotOptimize(dropped);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * count);
}
BENCHMARK(BM_fold_scans);

// Loading one typical report, with a new buffer per file and into one
// buffer kept between files. The file is written to the working directory.
constexpr const char* kLoadFile = "apfold_micro_load.tmp";

bool write_report_file() {
  const std::string text = make_report(19, true);
  std::FILE* f = std::fopen(kLoadFile, "wb");
  if (!f) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  return std::fclose(f) == 0 && ok;
}

void BM_load_file(benchmark::State& state) {
  if (!write_report_file()) {
    state.SkipWithError("cannot write the report file");
    return;
  }
  for (auto _ : state) {
    auto text = load_file(kLoadFile);
    benchmark::DoNotOptimize(text.get());
  }
  std::remove(kLoadFile);
}
BENCHMARK(BM_load_file);

void BM_load_file_into(benchmark::State& state) {
  if (!write_report_file()) {
    state.SkipWithError("cannot write the report file");
    return;
  }
  text_buffer buffer;
  for (auto _ : state) {
    std::size_t size = 0;
    benchmark::DoNotOptimize(load_file_into(kLoadFile, &buffer, &size));
  }
  std::remove(kLoadFile);
}
BENCHMARK(BM_load_file_into);

void BM_scan_float(benchmark::State& state) {
  // Levels as reports write them, and a few of the rarer forms.
  const char* const words[] = {"-73", "-91", "44/100", "-50dBm", "-8", "60/70", "-100", "-67.5"};
  std::size_t i = 0;
  for (auto _ : state) {
    float value = 0;
    benchmark::DoNotOptimize(scan_float(words[i], &value));
    benchmark::DoNotOptimize(value);
    i = (i + 1) % (sizeof words / sizeof words[0]);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_scan_float);

void BM_decimal_length(benchmark::State& state) {
  const char* const words[] = {"-73 dBm", "1.5e-3", "44/100", "+12345.678"};
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(decimal_length(words[i]));
    i = (i + 1) % (sizeof words / sizeof words[0]);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_decimal_length);

}  // namespace

BENCHMARK_MAIN();
