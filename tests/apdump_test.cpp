// The real apdump binary, run as a process on databases that the real apfold
// built from small surveys, or on databases put together byte by byte here.
// CSV and JSON are read back by Python's own parsers, and the SVG is rendered
// by librsvg and its pixels read back from the PNG; those tests are skipped
// when python3 or rsvg-convert is not installed.
#include <gtest/gtest.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <sys/stat.h>

#include "support.h"

using support::encode_header;
using support::encode_record;
using support::expected_ap;
using support::get_le32s;
using support::get_lef32;
using support::write_file;

namespace {

constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float Inf = std::numeric_limits<float>::infinity();

support::run_result run_apdump(const std::vector<std::string>& args, const std::string& cwd = ".") {
  std::vector<std::string> argv{APDUMP_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return support::run(argv, cwd);
}

bool tool_available(const std::vector<std::string>& probe) {
  std::vector<std::string> argv{"/usr/bin/env"};
  argv.insert(argv.end(), probe.begin(), probe.end());
  return support::run(argv).exit_code == 0;
}

bool have_python() { return tool_available({"python3", "-c", "import csv, json, struct, zlib, xml.etree.ElementTree"}); }
bool have_rsvg() { return tool_available({"rsvg-convert", "--version"}); }

// Runs a Python script (written to the test directory) with arguments.
support::run_result run_python(const std::string& script, const std::vector<std::string>& args) {
  write_file("check.py", script);
  std::vector<std::string> argv{"/usr/bin/env", "python3", "check.py"};
  argv.insert(argv.end(), args.begin(), args.end());
  return support::run(argv);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    s += digits[b >> 4];
    s += digits[b & 15];
  }
  return s;
}

uint32_t float_bits(float f) {
  uint32_t u;
  std::memcpy(&u, &f, 4);
  return u;
}

// Floats compared bit for bit; any NaN matches any NaN.
bool same_float(float a, float b) { return (std::isnan(a) && std::isnan(b)) || float_bits(a) == float_bits(b); }

// The text read as a float, or nothing when it is not one whole number.
bool parse_float(std::string_view text, float* out) {
  if (text == "nan" || text == "-nan") {
    *out = NaN;
    return true;
  }
  if (text == "inf" || text == "-inf") {
    *out = text[0] == '-' ? -Inf : Inf;
    return true;
  }
  const auto r = std::from_chars(text.data(), text.data() + text.size(), *out);
  return r.ec == std::errc{} && r.ptr == text.data() + text.size();
}

// --- surveys, built into db.bin by the real apfold ---------------------------

using cell = support::scan_cell;
constexpr auto report = support::scan_report;

struct survey_point {
  int x, y;
  std::vector<std::vector<cell>> scans;  // one report per scan
};

// Writes seq.txt and the scan reports and runs apfold on them.
void build_survey(const std::vector<survey_point>& points) {
  std::string seq;
  for (std::size_t i = 0; i < points.size(); ++i) {
    seq += std::to_string(i + 1) + "\t(" + std::to_string(points[i].x) + "," + std::to_string(points[i].y) + ")\n";
    for (std::size_t j = 0; j < points[i].scans.size(); ++j) {
      write_file("scan" + std::to_string(i + 1) + "-" + std::to_string(j + 1), report(points[i].scans[j]));
    }
  }
  write_file("seq.txt", seq);
  const std::size_t scans = points.empty() ? 1 : points[0].scans.size();
  auto r = support::run_apfold({std::to_string(points.size()), std::to_string(scans)});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
}

// --- database fields, decoded from the bytes by the documented offsets -------

struct slot_fields {
  std::string address, essid;
  float signal, noise;
  int32_t seen;
};
struct point_fields {
  int32_t x, y;
  std::vector<slot_fields> slots;
};

std::vector<point_fields> decode(const std::string& bytes) {
  std::vector<point_fields> points;
  const int32_t n = get_le32s(bytes, 0);
  for (int32_t i = 0; i < n; ++i) {
    const std::size_t rec = 20 + 1228 * static_cast<std::size_t>(i);
    point_fields p{get_le32s(bytes, rec + 1220), get_le32s(bytes, rec + 1224), {}};
    const int32_t count = get_le32s(bytes, rec + 1216);
    for (int32_t k = 0; k < count; ++k) {
      const std::size_t slot = rec + 76 * static_cast<std::size_t>(k);
      const std::string address = bytes.substr(slot, 32);
      const std::string essid = bytes.substr(slot + 32, 32);
      p.slots.push_back({address.substr(0, address.find('\0')), essid.substr(0, essid.find('\0')),
                         get_lef32(bytes, slot + 64), get_lef32(bytes, slot + 68), get_le32s(bytes, slot + 72)});
    }
    points.push_back(p);
  }
  return points;
}

// --- CSV as RFC 4180 reads it -------------------------------------------------

// Rows of fields; *ok turns false on a quote in an unquoted field or text
// after a closing quote.
std::vector<std::vector<std::string>> parse_csv(std::string_view text, bool* ok) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  *ok = true;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '"') {
      ++i;
      for (;; ++i) {
        if (i >= text.size()) {
          *ok = false;
          return rows;
        }
        if (text[i] == '"') {
          if (i + 1 < text.size() && text[i + 1] == '"') {
            field += '"';
            ++i;
          } else {
            ++i;
            break;
          }
        } else {
          field += text[i];
        }
      }
      if (i < text.size() && text[i] != ',' && text[i] != '\n') *ok = false;
    } else {
      while (i < text.size() && text[i] != ',' && text[i] != '\n') {
        if (text[i] == '"') *ok = false;
        field += text[i++];
      }
    }
    row.push_back(field);
    field.clear();
    if (i < text.size() && text[i] == ',') {
      ++i;
      if (i == text.size()) row.push_back("");
    } else {
      rows.push_back(row);
      row.clear();
      ++i;  // past the LF
    }
  }
  return rows;
}

// Checks the CSV against the database fields: one row per slot, one row
// with empty access point fields for a point without any.
void expect_csv_matches(const std::string& csv, const std::vector<point_fields>& points) {
  bool ok = false;
  const auto rows = parse_csv(csv, &ok);
  ASSERT_TRUE(ok) << csv;
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0], (std::vector<std::string>{"point", "x", "y", "address", "essid", "signal", "noise", "seen"}));
  std::size_t r = 1;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const point_fields& p = points[i];
    const std::vector<std::string> where{std::to_string(i + 1), std::to_string(p.x), std::to_string(p.y)};
    if (p.slots.empty()) {
      ASSERT_LT(r, rows.size());
      EXPECT_EQ(rows[r++], (std::vector<std::string>{where[0], where[1], where[2], "", "", "", "", ""}));
      continue;
    }
    for (std::size_t k = 0; k < p.slots.size(); ++k, ++r) {
      ASSERT_LT(r, rows.size()) << "point " << i + 1;
      const auto& row = rows[r];
      ASSERT_EQ(row.size(), 8u) << r;
      const slot_fields& s = p.slots[k];
      EXPECT_EQ(std::vector<std::string>(row.begin(), row.begin() + 3), where) << r;
      EXPECT_EQ(row[3], s.address) << r;
      EXPECT_EQ(row[4], s.essid) << r;
      float signal = 0, noise = 0;
      EXPECT_TRUE(parse_float(row[5], &signal)) << row[5];
      EXPECT_TRUE(parse_float(row[6], &noise)) << row[6];
      EXPECT_TRUE(same_float(signal, s.signal)) << row[5] << " vs " << s.signal;
      EXPECT_TRUE(same_float(noise, s.noise)) << row[6] << " vs " << s.noise;
      EXPECT_EQ(row[7], std::to_string(s.seen)) << r;
    }
  }
  EXPECT_EQ(r, rows.size());
}

// Python's csv module reading the file: each row as its fields' bytes in hex.
constexpr const char* CSV_READER = R"(import csv, sys
with open(sys.argv[1], newline='', encoding='utf-8', errors='surrogateescape') as f:
    for row in csv.reader(f, strict=True):
        print('|'.join(field.encode('utf-8', 'surrogateescape').hex() for field in row))
)";

void expect_python_csv_agrees(const std::string& csv) {
  write_file("out.csv", csv);
  auto r = run_python(CSV_READER, {"out.csv"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  bool ok = false;
  std::string want;
  for (const auto& row : parse_csv(csv, &ok)) {
    for (std::size_t f = 0; f < row.size(); ++f) want += (f ? "|" : "") + hex(row[f]);
    want += "\n";
  }
  EXPECT_EQ(r.out, want);
}

// Python's json module reading the file strictly (valid UTF-8, no NaN or
// Infinity): the header, then each point and each access point with its
// names as code points and its numbers as the text that was parsed.
constexpr const char* JSON_READER = R"(import json, sys
def refuse(name):
    sys.exit('not JSON: ' + name)
with open(sys.argv[1], encoding='utf-8', errors='strict') as f:
    doc = json.load(f, parse_constant=refuse, parse_int=str, parse_float=str)
def cps(s):
    return '.'.join('%x' % ord(c) for c in s)
assert sorted(doc) == ['header', 'refpoints'], sorted(doc)
h = doc['header']
assert sorted(h) == ['height', 'num_refpoints', 'offset_x', 'offset_y', 'width'], sorted(h)
print('header', h['num_refpoints'], h['width'], h['height'], h['offset_x'], h['offset_y'])
for p in doc['refpoints']:
    assert sorted(p) == ['access_points', 'point', 'x', 'y'], sorted(p)
    print('point', p['point'], p['x'], p['y'], len(p['access_points']))
    for a in p['access_points']:
        assert sorted(a) == ['address', 'essid', 'noise', 'seen', 'signal'], sorted(a)
        print('ap', cps(a['address']), cps(a['essid']), a['signal'], a['noise'], a['seen'])
)";

std::string code_points(std::string_view ascii) {
  std::string s;
  char buf[8];
  for (char c : ascii) {
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(static_cast<unsigned char>(c)));
    s += (s.empty() ? "" : ".") + std::string(buf);
  }
  return s;
}

// The JSON read by Python against the database fields; names given as code
// points by `names` (defaults: the bytes as ASCII).
void expect_python_json_matches(const std::string& json, const std::string& bytes,
                                const std::map<std::string, std::string>& names = {}) {
  write_file("out.json", json);
  auto r = run_python(JSON_READER, {"out.json"});
  ASSERT_EQ(r.exit_code, 0) << r.err << json;
  const auto lines = lines_of(r.out);
  const auto points = decode(bytes);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "header " + std::to_string(get_le32s(bytes, 0)) + " " + std::to_string(get_le32s(bytes, 4)) +
                          " " + std::to_string(get_le32s(bytes, 8)) + " " + std::to_string(get_le32s(bytes, 12)) +
                          " " + std::to_string(get_le32s(bytes, 16)));
  auto name_of = [&](const std::string& raw) {
    auto found = names.find(raw);
    return found != names.end() ? found->second : code_points(raw);
  };
  std::size_t l = 1;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const auto& p = points[i];
    ASSERT_LT(l, lines.size());
    EXPECT_EQ(lines[l++], "point " + std::to_string(i + 1) + " " + std::to_string(p.x) + " " + std::to_string(p.y) +
                              " " + std::to_string(p.slots.size()));
    for (const auto& s : p.slots) {
      ASSERT_LT(l, lines.size());
      // Fields are separated by single spaces; an empty name is an empty field.
      std::vector<std::string> words;
      std::istringstream fields(lines[l++]);
      for (std::string word; std::getline(fields, word, ' ');) words.push_back(word);
      ASSERT_EQ(words.size(), 6u) << lines[l - 1];
      const std::string &tag = words[0], &address = words[1], &essid = words[2], &signal = words[3],
                        &noise = words[4], &seen = words[5];
      EXPECT_EQ(tag, "ap");
      EXPECT_EQ(address, name_of(s.address));
      EXPECT_EQ(essid, name_of(s.essid));
      for (const auto& [text, value] : {std::pair{signal, s.signal}, std::pair{noise, s.noise}}) {
        if (!std::isfinite(value)) {
          EXPECT_EQ(text, "None") << "a level that is not finite is null";
        } else {
          float f = 0;
          EXPECT_TRUE(parse_float(text, &f) && same_float(f, value)) << text << " vs " << value;
        }
      }
      EXPECT_EQ(seen, std::to_string(s.seen));
    }
  }
  EXPECT_EQ(l, lines.size());
}

// --- PNG pixels, decoded by Python's zlib --------------------------------------

// Prints "W H", then "R G B" for each "X,Y" argument. Handles the 8-bit RGB
// and RGBA images rsvg-convert writes, with every row filter.
constexpr const char* PNG_PIXELS = R"(import struct, sys, zlib
data = open(sys.argv[1], 'rb').read()
assert data[:8] == b'\x89PNG\r\n\x1a\n', 'not a PNG'
pos, idat = 8, b''
while pos < len(data):
    length, kind = struct.unpack('>I4s', data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    pos += 12 + length
    if kind == b'IHDR':
        w, h, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
    elif kind == b'IDAT':
        idat += body
    elif kind == b'IEND':
        break
assert depth == 8 and colour in (2, 6) and interlace == 0, (depth, colour, interlace)
bpp = 4 if colour == 6 else 3
raw = zlib.decompress(idat)
stride = w * bpp
rows, prev, i = [], bytearray(stride), 0
for y in range(h):
    f = raw[i]
    line = bytearray(raw[i + 1:i + 1 + stride])
    i += 1 + stride
    for x in range(stride):
        a = line[x - bpp] if x >= bpp else 0
        b = prev[x]
        c = prev[x - bpp] if x >= bpp else 0
        if f == 1:
            line[x] = (line[x] + a) & 255
        elif f == 2:
            line[x] = (line[x] + b) & 255
        elif f == 3:
            line[x] = (line[x] + (a + b) // 2) & 255
        elif f == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
            line[x] = (line[x] + pred) & 255
    rows.append(line)
    prev = line
print(w, h)
for arg in sys.argv[2:]:
    x, y = map(int, arg.split(','))
    px = rows[y][x * bpp:x * bpp + 3]
    print(px[0], px[1], px[2])
)";

struct colour {
  int r, g, b;
};

std::ostream& operator<<(std::ostream& o, const colour& c) {
  return o << "rgb(" << c.r << ", " << c.g << ", " << c.b << ")";
}

bool near(colour a, colour b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

struct rendering {
  int width = 0, height = 0;
  std::vector<colour> samples;
};

// Renders the SVG with librsvg and reads back the colours at the points.
rendering render(const std::string& svg, const std::vector<std::pair<int, int>>& points) {
  rendering out;
  write_file("map.svg", svg);
  auto convert = support::run({"/usr/bin/env", "rsvg-convert", "-o", "map.png", "map.svg"});
  EXPECT_EQ(convert.exit_code, 0) << convert.err;
  std::vector<std::string> args{"map.png"};
  for (const auto& [x, y] : points) args.push_back(std::to_string(x) + "," + std::to_string(y));
  auto r = run_python(PNG_PIXELS, args);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::istringstream in(r.out);
  in >> out.width >> out.height;
  for (std::size_t k = 0; k < points.size(); ++k) {
    colour c{};
    in >> c.r >> c.g >> c.b;
    out.samples.push_back(c);
  }
  return out;
}

// A cell square as the SVG places it, found by its survey coordinates.
struct cell_rect {
  double x = 0, y = 0, w = 0, h = 0;
  std::string fill;
  std::pair<int, int> centre() const { return {static_cast<int>(x + w / 2), static_cast<int>(y + h / 2)}; }
};

std::map<std::pair<int, int>, cell_rect> cell_rects(const std::string& svg) {
  std::map<std::pair<int, int>, cell_rect> cells;
  const std::regex rect(R"re(<rect class="cell[^"]*" data-x="(-?\d+)" data-y="(-?\d+)" x="([\d.]+)" y="([\d.]+)" width="(\d+)" height="(\d+)" fill="([^"]+)")re");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), rect); it != std::sregex_iterator(); ++it) {
    const auto& m = *it;
    cells[{std::stoi(m[1]), std::stoi(m[2])}] = {std::stod(m[3]), std::stod(m[4]), std::stod(m[5]),
                                                std::stod(m[6]), m[7]};
  }
  return cells;
}

// Text elements of a class, as (x, y, text).
std::vector<std::tuple<int, int, std::string>> texts_of_class(const std::string& svg, const std::string& cls) {
  std::vector<std::tuple<int, int, std::string>> texts;
  const std::regex text(R"re(<text x="(-?\d+)" y="(-?\d+)" class=")re" + cls + R"re("[^>]*>([^<]*)</text>)re");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), text); it != std::sregex_iterator(); ++it) {
    texts.emplace_back(std::stoi((*it)[1]), std::stoi((*it)[2]), (*it)[3]);
  }
  return texts;
}

constexpr colour GREY{200, 200, 200};
constexpr colour WHITE{255, 255, 255};
// Reference values of matplotlib's viridis at 0, 0.25, 0.5 and 1.
constexpr colour VIRIDIS_0{68, 1, 84};
constexpr colour VIRIDIS_25{59, 82, 139};
constexpr colour VIRIDIS_50{33, 145, 140};
constexpr colour VIRIDIS_100{253, 231, 37};

std::string project_version() {
  const std::string cmake =
      support::read_file((std::filesystem::path(APFOLD_EXAMPLE_SURVEY) / ".." / ".." / "CMakeLists.txt").string());
  std::smatch m;
  if (!std::regex_search(cmake, m, std::regex(R"re(project\(apfold VERSION ([0-9.]+))re"))) return "?";
  return m[1];
}

class Apdump : public support::TempDirTest {};

}  // namespace

// --- the command line ----------------------------------------------------------

TEST_F(Apdump, HelpVersionAndUsageErrors) {
  const auto help = run_apdump({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: apdump [FILE]")) << help.out;
  for (const char* mode : {"--csv [FILE]", "--json [FILE]", "--svg ADDRESS [FILE]", "--version"}) {
    EXPECT_NE(help.out.find(mode), std::string::npos) << mode;
  }
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(run_apdump({"-h"}).out, help.out);

  const auto version = run_apdump({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, "apdump " + project_version() + "\n");

  const struct {
    std::vector<std::string> args;
    const char* message;
  } errors[] = {
      {{"--bogus"}, "apdump: unknown option --bogus\n"},
      {{"-x", "db.bin"}, "apdump: unknown option -x\n"},
      {{"--svg"}, "apdump: --svg needs an access point address\n"},
      {{"--csv", "--json"}, "apdump: choose one of --csv, --json and --svg\n"},
      {{"--svg", "AA", "--csv"}, "apdump: choose one of --csv, --json and --svg\n"},
      {{"a.bin", "b.bin"}, "apdump: more than one file: a.bin and b.bin\n"},
  };
  for (const auto& e : errors) {
    const auto r = run_apdump(e.args);
    EXPECT_EQ(r.exit_code, 2) << e.message;
    EXPECT_EQ(r.out, "") << e.message;
    EXPECT_TRUE(r.err.starts_with(e.message)) << r.err;
    EXPECT_NE(r.err.find("Usage: apdump"), std::string::npos) << e.message;
  }
}

TEST_F(Apdump, ReadsDbBinByDefaultAndNamesFilesItCannotRead) {
  auto missing = run_apdump({});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "apdump: cannot read db.bin: No such file or directory\n");
  EXPECT_EQ(missing.out, "");
  ASSERT_EQ(mkdir("maps", 0755), 0);
  auto dir = run_apdump({"--csv", "maps"});
  EXPECT_EQ(dir.exit_code, 1);
  EXPECT_EQ(dir.err, "apdump: cannot read maps: Is a directory\n");

  build_survey({{0, 0, {{{"AA", "net", "-50", "-90"}}}}});
  const auto by_default = run_apdump({});
  EXPECT_EQ(by_default.exit_code, 0) << by_default.err;
  EXPECT_TRUE(by_default.out.starts_with("db.bin: 1248 bytes, 1 reference points, 1 distinct access points\n"))
      << by_default.out;
  EXPECT_EQ(run_apdump({"db.bin"}).out, by_default.out);
  // "--" ends the options, so a file may start with a dash.
  std::filesystem::copy_file("db.bin", "-odd.bin");
  const auto dashed = run_apdump({"--csv", "--", "-odd.bin"});
  EXPECT_EQ(dashed.exit_code, 0) << dashed.err;
  EXPECT_EQ(dashed.out, run_apdump({"--csv"}).out);

  // Output that cannot be written is an error too.
  const auto full = support::run({"/bin/sh", "-c", std::string("exec '") + APDUMP_BINARY + "' --json > /dev/full"});
  EXPECT_EQ(full.exit_code, 1);
  EXPECT_EQ(full.err, "apdump: cannot write the output: No space left on device\n");
}

// --- refusing what is not a database ---------------------------------------------

TEST_F(Apdump, MalformedDatabasesAreRefusedWithTheByteOffset) {
  const std::string one = encode_record(0, 0, {{"AA", "n", -50, -90, 1}});
  auto with_count = [](std::string rec, int32_t count) {
    std::string b;
    support::put_le32(b, static_cast<uint32_t>(count));
    rec.replace(1216, 4, b);
    return rec;
  };
  auto unterminated = [](std::string rec, std::size_t slot) {
    rec.replace(76 * slot, 32, std::string(32, 'A'));
    return rec;
  };
  const std::vector<expected_ap> three{{"A1", "x", -1, -2, 1}, {"A2", "y", -3, -4, 1}, {"A3", "z", -5, -6, 1}};
  const struct {
    const char* what;
    std::string bytes;
    const char* message;
  } rows[] = {
      {"empty", "", "byte 0: the file is 0 bytes, shorter than the 20-byte header"},
      {"seven bytes", std::string(7, '\0'), "byte 7: the file is 7 bytes, shorter than the 20-byte header"},
      {"header less one", encode_header(0, 2, 2, 0, 0).substr(0, 19),
       "byte 19: the file is 19 bytes, shorter than the 20-byte header"},
      {"negative count", encode_header(-1, 1, 1, 0, 0), "byte 0: num_refpoints is -1, a negative count"},
      {"most negative count", encode_header(INT32_MIN, 1, 1, 0, 0) + one,
       "byte 0: num_refpoints is -2147483648, a negative count"},
      {"no record", encode_header(1, 1, 1, 0, 0),
       "byte 20: the file is 20 bytes, but num_refpoints 1 needs 20 + 1228 x 1 = 1248"},
      {"record cut short", encode_header(1, 1, 1, 0, 0) + one.substr(0, 1227),
       "byte 1247: the file is 1247 bytes, but num_refpoints 1 needs 20 + 1228 x 1 = 1248"},
      {"byte too many", encode_header(1, 1, 1, 0, 0) + one + "x",
       "byte 1248: the file is 1249 bytes, but num_refpoints 1 needs 20 + 1228 x 1 = 1248"},
      {"records without count", encode_header(0, 2, 2, 0, 0) + one,
       "byte 20: the file is 1248 bytes, but num_refpoints 0 needs 20 + 1228 x 0 = 20"},
      {"huge count", encode_header(INT32_MAX, 1, 1, 0, 0) + one,
       "byte 1248: the file is 1248 bytes, but num_refpoints 2147483647 needs 20 + 1228 x 2147483647 = "
       "2637109918536"},
      {"ap_count 17", encode_header(1, 1, 1, 0, 0) + with_count(one, 17),
       "byte 1236: reference point 1: ap_count 17 is outside 0..16"},
      {"ap_count -1 in record 2", encode_header(2, 1, 1, 0, 0) + one + with_count(one, -1),
       "byte 2464: reference point 2: ap_count -1 is outside 0..16"},
      {"ap_count huge in record 3", encode_header(3, 1, 1, 0, 0) + one + one + with_count(one, INT32_MAX),
       "byte 3692: reference point 3: ap_count 2147483647 is outside 0..16"},
      {"address without terminator", encode_header(2, 1, 1, 0, 0) + one + unterminated(encode_record(0, 0, three), 2),
       "byte 1400: reference point 2, access point 3: the address has no terminator in its 32 bytes"},
      {"first slot", encode_header(1, 1, 1, 0, 0) + unterminated(one, 0),
       "byte 20: reference point 1, access point 1: the address has no terminator in its 32 bytes"},
      // Problems are reported in file order: record 1's address before record 2's count.
      {"first problem wins", encode_header(2, 1, 1, 0, 0) + unterminated(one, 0) + with_count(one, 99),
       "byte 20: reference point 1, access point 1: the address has no terminator in its 32 bytes"},
  };
  for (const auto& row : rows) {
    write_file("bad.bin", row.bytes);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"bad.bin"}, {"--csv", "bad.bin"}, {"--json", "bad.bin"}, {"--svg", "AA", "bad.bin"}}) {
      const auto r = run_apdump(args);
      EXPECT_EQ(r.exit_code, 1) << row.what << " " << args[0];
      EXPECT_EQ(r.term_signal, 0) << row.what;
      EXPECT_EQ(r.err, std::string("apdump: bad.bin: ") + row.message + "\n") << row.what << " " << args[0];
      EXPECT_EQ(r.out, "") << row.what << " " << args[0];
    }
  }
}

TEST_F(Apdump, AcceptsEveryWellFormedRecordShape) {
  std::vector<expected_ap> full;
  for (int k = 0; k < 16; ++k) full.push_back({"AP" + std::to_string(k), "n", -50.0f - static_cast<float>(k), -90, 1});
  std::string unused_unterminated = encode_record(3, 4, {{"AA", "n", -50, -90, 1}});
  unused_unterminated.replace(76, 32, std::string(32, 'B'));  // slot 2 is not in use
  const struct {
    const char* what;
    std::string bytes;
  } rows[] = {
      {"bare header", encode_header(0, 2, 2, -2147483647, -2147483647)},
      {"no access points", encode_header(1, 1, 1, 0, 0) + encode_record(0, 0, {})},
      {"sixteen access points", encode_header(1, 1, 1, 0, 0) + encode_record(0, 0, full)},
      {"32-byte name", encode_header(1, 1, 1, 0, 0) +
                           encode_record(0, 0, {{std::string(31, 'A'), std::string(32, 'n'), -1, -2, 1}})},
      {"unused slot without terminator", encode_header(1, 1, 1, -3, -4) + unused_unterminated},
  };
  for (const auto& row : rows) {
    write_file("ok.bin", row.bytes);
    const auto summary = run_apdump({"ok.bin"});
    EXPECT_EQ(summary.exit_code, 0) << row.what << summary.err;
    const auto csv = run_apdump({"--csv", "ok.bin"});
    EXPECT_EQ(csv.exit_code, 0) << row.what << csv.err;
    expect_csv_matches(csv.out, decode(row.bytes));
  }
}

// --- CSV and JSON round trips --------------------------------------------------------

TEST_F(Apdump, CsvCarriesEveryFieldOfSurveysApfoldBuilt) {
  const struct {
    const char* what;
    std::vector<survey_point> points;
  } surveys[] = {
      {"means that are not round",
       {{0, 0, {{{"00:0A:00:00:00:01", "Office", "-70", "-90"}, {"00:0A:00:00:00:02", "Guest Net", "-81", ""}},
                {{"00:0A:00:00:00:01", "Office", "-72", "-91"}},
                {{"00:0A:00:00:00:01", "Office", "-73", "-93"}, {"00:0A:00:00:00:02", "x", "-80.5", "-90"}}}},
        {1, 0, {{{"00:0A:00:00:00:01", "Office", "-50.25", "-95.5"}}, {}, {{"AA", "", "44/100", ""}}}}}},
      {"negative coordinates and a point that sees nothing",
       {{-3, 7, {{{"AA", "a", "-40", "-90"}}}}, {-5, -2, {{}}}, {4, -2, {{{"BB", "b", "-60", "-92"}, {"AA", "a", "-41", ""}}}}}},
      {"same address twice in a scan, and in two cases",
       {{2, 3, {{{"aa:bb", "", "-40", "-95"}, {"aa:bb", "", "-41", "-95"}, {"AA:BB", "upper", "-45", "-96"}}}}}},
  };
  for (const auto& s : surveys) {
    SCOPED_TRACE(s.what);
    for (const auto& name : support::list_dir(".")) std::filesystem::remove_all(name);
    build_survey(s.points);
    const std::string bytes = support::read_file("db.bin");
    const auto r = run_apdump({"--csv"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    expect_csv_matches(r.out, decode(bytes));
  }
  // Means in their shortest round-trip form: -215 / 3 is -71.666664.
  for (const auto& name : support::list_dir(".")) std::filesystem::remove_all(name);
  build_survey(surveys[0].points);
  EXPECT_EQ(lines_of(run_apdump({"--csv"}).out),
            (std::vector<std::string>{"point,x,y,address,essid,signal,noise,seen",
                                      "1,0,0,00:0A:00:00:00:01,Office,-71.666664,-91.333336,3",
                                      "1,0,0,00:0A:00:00:00:02,Gues,-80.75,-45,2",
                                      "2,1,0,00:0A:00:00:00:01,Office,-50.25,-95.5,1", "2,1,0,AA,,44,0,1"}));
}

TEST_F(Apdump, ExampleSurveyReadsBackThroughPythonsParsers) {
  std::filesystem::copy(APFOLD_EXAMPLE_SURVEY, ".", std::filesystem::copy_options::recursive);
  ASSERT_EQ(support::run_apfold({"12", "3"}).exit_code, 0);
  const std::string bytes = support::read_file("db.bin");
  const auto csv = run_apdump({"--csv"});
  ASSERT_EQ(csv.exit_code, 0);
  expect_csv_matches(csv.out, decode(bytes));
  const auto json = run_apdump({"--json"});
  ASSERT_EQ(json.exit_code, 0);
  if (!have_python()) GTEST_SKIP() << "python3 is not installed";
  expect_python_csv_agrees(csv.out);
  expect_python_json_matches(json.out, bytes);
}

// Names are bytes: CSV carries them unchanged (quoted where RFC 4180 needs
// it), JSON keeps well-formed UTF-8 and gives every other byte as its Latin-1
// character. Levels that are not finite are nan/inf in CSV and null in JSON.
TEST_F(Apdump, OddNamesAndLevelsSurviveCsvAndJson) {
  const struct {
    std::string name;
    std::string json;  // code points Python reads from the JSON
  } names[] = {
      {"a,b", "61.2c.62"},
      {"say \"hi\"", "73.61.79.20.22.68.69.22"},
      {"line\nbreak", "6c.69.6e.65.a.62.72.65.61.6b"},
      {"cr\rlf\n", "63.72.d.6c.66.a"},
      {"tab\there", "74.61.62.9.68.65.72.65"},
      {"\x01\x1f\x7f", "1.1f.7f"},
      {"back\\slash", "62.61.63.6b.5c.73.6c.61.73.68"},
      {"caf\xc3\xa9", "63.61.66.e9"},
      {"\xf0\x9f\x93\xb6 bars", "1f4f6.20.62.61.72.73"},
      {"\xff\xfe", "ff.fe"},
      {"\xc0\xaf overlong", "c0.af.20.6f.76.65.72.6c.6f.6e.67"},
      {"\xed\xa0\x80", "ed.a0.80"},
      {"cut \xe2\x82", "63.75.74.20.e2.82"},
      {"\xf4\x90\x80\x80", "f4.90.80.80"},
      {"\xc3\xa9\xa9", "e9.a9"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345", "41.42.43.44.45.46.47.48.49.4a.4b.4c.4d.4e.4f.50.51.52.53.54.55.56.57.58.59.5a.30.31.32.33.34.35"},
      {"", ""},
  };
  const float levels[] = {NaN, Inf, -Inf, -0.0f, 0.1f, 1e-45f, std::numeric_limits<float>::max(), -71.666664f, 44.0f};
  std::string bytes;
  std::map<std::string, std::string> json_names;
  std::vector<std::string> records;
  std::size_t count = 0;
  std::vector<expected_ap> aps;
  for (std::size_t k = 0; k < std::size(names); ++k) {
    json_names[names[k].name] = names[k].json;
    const float signal = levels[k % std::size(levels)];
    const float noise = levels[(k + 3) % std::size(levels)];
    // Odd names go into the address field too, where they fit in 31 bytes.
    const std::string address = names[k].name.size() <= 31 ? names[k].name : "AA:BB";
    if (address == "AA:BB") json_names["AA:BB"] = code_points("AA:BB");
    aps.push_back({address, names[k].name, signal, noise, static_cast<int32_t>(k) - 2});
    if (aps.size() == 16 || k + 1 == std::size(names)) {
      records.push_back(encode_record(static_cast<int32_t>(count), -1, aps));
      ++count;
      aps.clear();
    }
  }
  records.push_back(encode_record(9, 9, {}));
  bytes = encode_header(static_cast<int32_t>(records.size()), 10, 11, 0, 1);
  for (const auto& r : records) bytes += r;
  write_file("db.bin", bytes);

  const auto csv = run_apdump({"--csv"});
  ASSERT_EQ(csv.exit_code, 0) << csv.err;
  expect_csv_matches(csv.out, decode(bytes));
  EXPECT_NE(csv.out.find(",\"a,b\",\"a,b\","), std::string::npos);
  EXPECT_NE(csv.out.find(",\"say \"\"hi\"\"\","), std::string::npos);
  EXPECT_NE(csv.out.find(",nan,"), std::string::npos);
  EXPECT_NE(csv.out.find(",-inf,"), std::string::npos);
  const auto json = run_apdump({"--json"});
  ASSERT_EQ(json.exit_code, 0) << json.err;
  EXPECT_NE(json.out.find("\"essid\": \"\\u0001\\u001f\x7f\""), std::string::npos) << json.out;
  EXPECT_NE(json.out.find("\"essid\": \"\\u00ff\\u00fe\""), std::string::npos);
  EXPECT_NE(json.out.find("\"signal\": null"), std::string::npos);
  EXPECT_NE(json.out.find("\"signal\": -0,"), std::string::npos);
  EXPECT_NE(json.out.find("\"signal\": 1e-45,"), std::string::npos);
  if (!have_python()) GTEST_SKIP() << "python3 is not installed";
  expect_python_csv_agrees(csv.out);
  expect_python_json_matches(json.out, bytes, json_names);
}

TEST_F(Apdump, EmptyDatabaseHasNoRows) {
  write_file("seq.txt", "");
  ASSERT_EQ(support::run_apfold({"0", "1"}).exit_code, 0);
  const auto summary = run_apdump({});
  ASSERT_EQ(summary.exit_code, 0);
  EXPECT_TRUE(summary.out.starts_with("db.bin: 20 bytes, 0 reference points, 0 distinct access points\n"));
  EXPECT_NE(summary.out.find("The header agrees with the records."), std::string::npos) << summary.out;
  EXPECT_NE(summary.out.find("Grid: no reference points\n"), std::string::npos);
  EXPECT_EQ(run_apdump({"--csv"}).out, "point,x,y,address,essid,signal,noise,seen\n");
  const auto json = run_apdump({"--json"});
  EXPECT_EQ(json.out,
            "{\n  \"header\": {\"num_refpoints\": 0, \"width\": 2, \"height\": 2, \"offset_x\": -2147483647, "
            "\"offset_y\": -2147483647},\n  \"refpoints\": []\n}\n");
  const auto svg = run_apdump({"--svg", "AA"});
  EXPECT_EQ(svg.exit_code, 1);
  EXPECT_EQ(svg.err, "apdump: db.bin: no reference point sees access point AA\n");
  EXPECT_EQ(svg.out, "");
  if (!have_python()) GTEST_SKIP() << "python3 is not installed";
  expect_python_json_matches(json.out, support::read_file("db.bin"));
}

// --- the summary ---------------------------------------------------------------------------

TEST_F(Apdump, SummaryChecksTheHeaderAndListsAccessPointsAndOddities) {
  std::string dirty = encode_record(2, 1, {});
  dirty[64] = 1;  // unused slot 1's signal level
  const std::string bytes =
      encode_header(4, 9, 2, 0, 0) +
      encode_record(0, 0, {{"AA:01", "Office", -40, -90, 3}, {"BB:02", "", -70, -91, 2}, {"AA:01", "Office", -50, -90, 1}}) +
      encode_record(1, 0, {{"BB:02", "Other", -60, -92, 1}, {"CC:03", "ctl\x01name", NaN, -Inf, 0}}) + dirty +
      encode_record(2, 1, {{"AA:01", "Office", -60, -90, 2}});
  write_file("odd.bin", bytes);
  const auto r = run_apdump({"odd.bin"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out,
            "odd.bin: 4932 bytes, 4 reference points, 3 distinct access points\n"
            "\n"
            "Header              stored   from the records\n"
            "  num_refpoints          4   4\n"
            "  width                  9   3   differs\n"
            "  height                 2   2\n"
            "  offset_x               0   0\n"
            "  offset_y               0   0\n"
            "  The header does not agree with the records.\n"
            "\n"
            "Grid: x from 0 to 2, y from 0 to 1: 3 x 2 cells, 3 with a reference point, 3 without\n"
            "\n"
            "Access points, by the number of points that see them:\n"
            "  address  name                  points     mean      min      max\n"
            "  AA:01    Office                     2    -52.5    -60.0    -45.0\n"
            "  BB:02    (no name) (+1 other)       2    -65.0    -70.0    -60.0\n"
            "  CC:03    ctl\\x01name                1        -        -        -\n"
            "\n"
            "Points that see no access point (1):\n"
            "  point 3 at (2, 1)\n"
            "Suspicious (4):\n"
            "  point 2 at (1, 0), access point 2 (CC:03): signal level nan is not finite\n"
            "  point 2 at (1, 0), access point 2 (CC:03): noise level -inf is not finite\n"
            "  point 2 at (1, 0), access point 2 (CC:03): seen 0 is below 1\n"
            "  point 3 at (2, 1): unused slot 1 is not all zero\n");
}

TEST_F(Apdump, SummaryOfTheExampleSurvey) {
  std::filesystem::copy(APFOLD_EXAMPLE_SURVEY, ".", std::filesystem::copy_options::recursive);
  ASSERT_EQ(support::run_apfold({"12", "3"}).exit_code, 0);
  const auto r = run_apdump({});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto lines = lines_of(r.out);
  ASSERT_GE(lines.size(), 40u);
  EXPECT_EQ(lines[0], "db.bin: 14756 bytes, 12 reference points, 23 distinct access points");
  EXPECT_NE(r.out.find("  The header agrees with the records.\n"), std::string::npos);
  EXPECT_NE(r.out.find("Grid: x from -1 to 2, y from 0 to 2: 4 x 3 cells, 12 with a reference point, 0 without\n"),
            std::string::npos);
  EXPECT_NE(r.out.find("Points that see no access point: none\nSuspicious: none\n"), std::string::npos);

  // The table: 23 rows in order of points seeing them, ties by address; the
  // counts agree with the records.
  const auto points = decode(support::read_file("db.bin"));
  std::map<std::string, std::set<std::size_t>> seen_by;
  for (std::size_t i = 0; i < points.size(); ++i) {
    for (const auto& s : points[i].slots) seen_by[s.address].insert(i);
  }
  std::vector<std::pair<std::size_t, std::string>> want;
  for (const auto& [address, who] : seen_by) want.emplace_back(who.size(), address);
  std::sort(want.begin(), want.end(), [](const auto& a, const auto& b) {
    return a.first != b.first ? a.first > b.first : a.second < b.second;
  });
  const auto table = std::find(lines.begin(), lines.end(), "Access points, by the number of points that see them:");
  ASSERT_NE(table, lines.end());
  ASSERT_EQ(want.size(), 23u);
  for (std::size_t k = 0; k < want.size(); ++k) {
    std::istringstream row(*(table + 2 + static_cast<long>(k)));
    std::string address;
    row >> address;
    EXPECT_EQ(address, want[k].second) << k;
    EXPECT_NE(row.str().find(" " + std::to_string(want[k].first) + "    "), std::string::npos) << row.str();
  }
  // The hidden network has no name; "Guest Net" was cut to "Gues" by apfold.
  EXPECT_NE(r.out.find("(no name)"), std::string::npos);
  EXPECT_NE(r.out.find(" Gues "), std::string::npos);
}

// --- the heat map ----------------------------------------------------------------------------

// A 3 x 2 grid at x -1..1, y 5..6 (offsets 1 and -5): AA at three points of
// the lower row and the right of the upper row, BB alone at the upper left,
// no point at (0, 6).
class ApdumpHeatMap : public support::TempDirTest {
 protected:
  void SetUp() override {
    support::TempDirTest::SetUp();
    build_survey({{-1, 5, {{{"AA:AA", "Lobby", "-40", "-90"}, {"BB", "other", "-50", "-90"}}}},
                  {0, 5, {{{"AA:AA", "Lobby", "-60", "-90"}}}},
                  {1, 5, {{{"AA:AA", "Lobby", "-80", "-90"}}}},
                  {-1, 6, {{{"BB", "other", "-55", "-90"}}}},
                  {1, 6, {{{"BB", "other", "-55", "-90"}, {"AA:AA", "Lobby", "-70", "-90"}}}}});
  }
};

TEST_F(ApdumpHeatMap, RendersTheGridWithYUpwardsOnTheViridisScale) {
  const auto r = run_apdump({"--svg", "AA:AA"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string& svg = r.out;
  EXPECT_TRUE(svg.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\""));
  EXPECT_NE(svg.find("<title>AA:AA \u2014 Lobby</title>"), std::string::npos);

  const auto cells = cell_rects(svg);
  ASSERT_EQ(cells.size(), 6u);
  for (int x = -1; x <= 1; ++x) {
    // y grows upwards, x to the right, and the squares tile the grid.
    EXPECT_EQ(cells.at({x, 6}).y + cells.at({x, 6}).h, cells.at({x, 5}).y) << x;
    if (x < 1) {
      EXPECT_EQ(cells.at({x, 5}).x + cells.at({x, 5}).w, cells.at({x + 1, 5}).x) << x;
    }
  }

  // Tick labels are the survey's own coordinates, each under or beside its cells.
  const auto xticks = texts_of_class(svg, "xtick");
  ASSERT_EQ(xticks.size(), 3u);
  for (const auto& [x, y, label] : xticks) {
    EXPECT_EQ(x, cells.at({std::stoi(label), 5}).centre().first) << label;
  }
  const auto yticks = texts_of_class(svg, "ytick");
  ASSERT_EQ(yticks.size(), 2u);
  for (const auto& [x, y, label] : yticks) {
    EXPECT_NEAR(y, cells.at({-1, std::stoi(label)}).centre().second, 6) << label;
  }
  // The legend counts in the levels' own units.
  std::set<std::string> levels;
  for (const auto& t : texts_of_class(svg, "level")) levels.insert(std::get<2>(t));
  EXPECT_EQ(levels, (std::set<std::string>{"-80", "-70", "-60", "-50", "-40"}));

  if (!have_python()) GTEST_SKIP() << "python3 is not installed";
  if (!have_rsvg()) GTEST_SKIP() << "rsvg-convert is not installed";
  write_file("map.svg", svg);
  const auto xml = run_python("import sys, xml.etree.ElementTree as t\nt.parse(sys.argv[1])\n", {"map.svg"});
  EXPECT_EQ(xml.exit_code, 0) << xml.err;

  const std::regex bar(R"re(<rect x="(\d+)" y="(\d+)" width="16" height="(\d+)" fill="url\(#viridis\)")re");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(svg, m, bar));
  const int bar_x = std::stoi(m[1]) + 8, bar_top = std::stoi(m[2]), bar_h = std::stoi(m[3]);

  const auto c = [&](int x, int y) { return cells.at({x, y}).centre(); };
  const int cell_h = static_cast<int>(cells.at({-1, 5}).h);
  const auto pic = render(svg, {c(-1, 5), c(0, 5), c(1, 5), c(1, 6), c(-1, 6), c(0, 6),
                                {c(-1, 5).first, c(-1, 5).second - cell_h},  // one cell above the strongest
                                {bar_x, bar_top + 2}, {bar_x, bar_top + bar_h - 2}});
  const std::string svg_w = std::regex_search(svg, m, std::regex(R"re(width="(\d+)" height="(\d+)" viewBox)re")) ? m[1].str() : "";
  EXPECT_EQ(std::to_string(pic.width), svg_w);
  ASSERT_EQ(pic.samples.size(), 9u);
  EXPECT_PRED3(near, pic.samples[0], VIRIDIS_100, 3) << pic.samples[0] << " strongest, -40";
  EXPECT_PRED3(near, pic.samples[1], VIRIDIS_50, 4) << pic.samples[1] << " -60, mid-scale";
  EXPECT_PRED3(near, pic.samples[2], VIRIDIS_0, 3) << pic.samples[2] << " weakest, -80";
  EXPECT_PRED3(near, pic.samples[3], VIRIDIS_25, 4) << pic.samples[3] << " -70";
  EXPECT_PRED3(near, pic.samples[4], GREY, 0) << pic.samples[4] << " not seen";
  EXPECT_PRED3(near, pic.samples[5], WHITE, 0) << pic.samples[5] << " no reference point";
  EXPECT_PRED3(near, pic.samples[6], GREY, 0) << pic.samples[6] << " (-1, 6) is drawn above (-1, 5)";
  EXPECT_PRED3(near, pic.samples[7], VIRIDIS_100, 12) << pic.samples[7] << " legend top: strongest";
  EXPECT_PRED3(near, pic.samples[8], VIRIDIS_0, 12) << pic.samples[8] << " legend bottom: weakest";
}

TEST_F(ApdumpHeatMap, RefusesAddressesNobodySees) {
  const auto r = run_apdump({"--svg", "aa:aa"});  // addresses match as written
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "apdump: db.bin: no reference point sees access point aa:aa\n");
  EXPECT_EQ(r.out, "");
  const auto other = run_apdump({"--svg", "BB"});
  EXPECT_EQ(other.exit_code, 0);
  const auto cells = cell_rects(other.out);
  EXPECT_EQ(cells.at({0, 5}).fill, "#c8c8c8");
  EXPECT_EQ(cells.at({1, 5}).fill, "#c8c8c8");
  EXPECT_EQ(cells.at({0, 6}).fill, "#ffffff");
  // Two points at -55 and one at -50: the strongest is yellow, one value is the other end.
  EXPECT_EQ(cells.at({-1, 5}).fill, "#fde725");
  EXPECT_EQ(cells.at({-1, 6}).fill, "#440154");
}

TEST_F(Apdump, HeatMapOfNonFiniteLevelsSharedCellsAndAWrongHeader) {
  const std::string db = "survey.bin";
  // Header offsets that put the points outside its grid: the records' own
  // bounds are drawn, with a warning. Two points share (0, 0): their means
  // are averaged. (1, 0) sees AA only with a NaN level.
  write_file(db, encode_header(3, 2, 1, 5, 5) + encode_record(0, 0, {{"AA", "n", -40, -90, 1}}) +
                     encode_record(0, 0, {{"AA", "n", -60, -90, 1}}) + encode_record(1, 0, {{"AA", "n", NaN, -90, 1}}));
  const auto r = run_apdump({"--svg", "AA", db});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err, "apdump: " + db +
                       ": the header's grid (2 x 1, offsets 5, 5) does not hold every reference point; drawing the "
                       "records' own bounds\n");
  const auto cells = cell_rects(r.out);
  ASSERT_EQ(cells.size(), 2u);
  EXPECT_EQ(cells.at({1, 0}).fill, "#e7298a");
  EXPECT_NE(r.out.find("<title>(0, 0): -50.0 (2 points)</title>"), std::string::npos);
  EXPECT_NE(r.out.find("level not finite"), std::string::npos);

  // A single value sits mid-scale, whatever its magnitude.
  for (const float level : {-55.0f, 1.4757395e20f, -3.4e38f, 1e-45f}) {
    write_file(db, encode_header(1, 1, 1, 0, 0) + encode_record(0, 0, {{"AA", "n", level, -90, 1}}));
    const auto one = run_apdump({"--svg", "AA", db});
    EXPECT_EQ(one.exit_code, 0) << level;
    EXPECT_EQ(one.err, "") << level;
    const std::string fill = cell_rects(one.out).at({0, 0}).fill;
    ASSERT_EQ(fill.size(), 7u);
    const colour c{std::stoi(fill.substr(1, 2), nullptr, 16), std::stoi(fill.substr(3, 2), nullptr, 16),
                   std::stoi(fill.substr(5, 2), nullptr, 16)};
    EXPECT_PRED3(near, c, VIRIDIS_50, 4) << level << " " << c;
  }

  // A grid too large to draw is refused rather than written.
  write_file(db, encode_header(2, 5001, 1, 0, 0) + encode_record(0, 0, {{"AA", "n", -40, -90, 1}}) +
                     encode_record(5000, 0, {{"AA", "n", -60, -90, 1}}));
  const auto large = run_apdump({"--svg", "AA", db});
  EXPECT_EQ(large.exit_code, 1);
  EXPECT_EQ(large.err, "apdump: " + db +
                           ": the grid is 5001 x 1 cells, more than can be drawn (at most 1000 on a side and 250000 "
                           "in all)\n");
  EXPECT_EQ(large.out, "");
}

TEST_F(Apdump, HeatMapOfTheExampleSurveyRenders) {
  if (!have_python()) GTEST_SKIP() << "python3 is not installed";
  if (!have_rsvg()) GTEST_SKIP() << "rsvg-convert is not installed";
  std::filesystem::copy(APFOLD_EXAMPLE_SURVEY, ".", std::filesystem::copy_options::recursive);
  ASSERT_EQ(support::run_apfold({"12", "3"}).exit_code, 0);
  // The access point every point hears; the strongest cell is yellow, the weakest purple.
  const auto r = run_apdump({"--svg", "F4:F2:6D:BC:AB:08"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const auto cells = cell_rects(r.out);
  ASSERT_EQ(cells.size(), 12u);
  std::vector<std::pair<int, int>> centres;
  for (const auto& [where, rect] : cells) centres.push_back(rect.centre());
  const auto pic = render(r.out, centres);
  for (const colour& c : pic.samples) EXPECT_FALSE(near(c, GREY, 0)) << c << ": every point hears it";
  // Every point has a cell of its own: the strongest is yellow, the weakest purple.
  std::map<std::pair<int, int>, float> level;
  for (const auto& p : decode(support::read_file("db.bin"))) {
    for (const auto& s : p.slots) {
      if (s.address == "F4:F2:6D:BC:AB:08") level[{p.x, p.y}] = s.signal;
    }
  }
  ASSERT_EQ(level.size(), 12u);
  const auto by_level = [](const auto& a, const auto& b) { return a.second < b.second; };
  const auto weakest = std::min_element(level.begin(), level.end(), by_level)->first;
  const auto strongest = std::max_element(level.begin(), level.end(), by_level)->first;
  const auto ends = render(r.out, {cells.at(weakest).centre(), cells.at(strongest).centre()});
  ASSERT_EQ(ends.samples.size(), 2u);
  EXPECT_PRED3(near, ends.samples[0], VIRIDIS_0, 3) << ends.samples[0];
  EXPECT_PRED3(near, ends.samples[1], VIRIDIS_100, 3) << ends.samples[1];
}
