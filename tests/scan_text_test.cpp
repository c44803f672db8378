// Wireless scan reports: cells found by "Cell", each label taken from its
// first occurrence at or after the cell start, words cut at white space and
// to the field sizes, levels read as decimal numbers. Records are checked
// whole: used slots field by field (bytes after a terminator included), the
// unused slots all zero, ap_count and the untouched coordinates.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "input/scan_text.h"
#include "radiomap/refpoint.h"
#include "support.h"

namespace {

struct want_ap {
  std::string address;
  std::string essid;
  float signal = 0.0f;
  float noise = 0.0f;
};

struct parsed {
  int result = -1;
  std::string out;  // what parse_scan printed
  std::unique_ptr<refpoint> rec;
};

// Parses a copy of `text` (which may hold NUL bytes; one is appended) kept in
// a heap block of exactly its size, so the address sanitizer catches any read
// past the terminator, into a zero-filled heap record.
parsed parse(const std::string& text) {
  auto buf = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(buf.get(), text.data(), text.size());
  buf[text.size()] = '\0';
  parsed p;
  p.rec = std::make_unique<refpoint>();
  std::memset(p.rec.get(), 0, sizeof(refpoint));
  p.out = support::capture_stdout([&] { p.result = parse_scan(buf.get(), p.rec.get()); });
  return p;
}

std::string field(const char (&f)[32]) { return std::string(f, sizeof f); }

std::string padded(const std::string& s) {
  std::string f = s.substr(0, 32);
  f.resize(32, '\0');
  return f;
}

uint32_t bits(float f) { return std::bit_cast<uint32_t>(f); }

bool all_zero(const void* p, std::size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  for (std::size_t i = 0; i < n; ++i) {
    if (b[i] != 0) return false;
  }
  return true;
}

// The record holds exactly `want` in its first slots, zero bytes elsewhere.
void expect_record(const parsed& p, const std::vector<want_ap>& want, const std::string& name) {
  SCOPED_TRACE(name);
  const refpoint& rec = *p.rec;
  const auto count = static_cast<int>(want.size());
  EXPECT_EQ(p.out, "") << "parse_scan printed something";
  EXPECT_EQ(p.result, count);
  EXPECT_EQ(rec.ap_count, count);
  EXPECT_EQ(rec.x, 0);
  EXPECT_EQ(rec.y, 0);
  for (int i = 0; i < MAX_APS; ++i) {
    const ap_reading& ap = rec.ap[i];
    if (i >= count) {
      EXPECT_TRUE(all_zero(&ap, sizeof ap)) << "unused slot " << i << " is not all zero";
      continue;
    }
    const want_ap& w = want[static_cast<std::size_t>(i)];
    ASSERT_LE(w.address.size(), 31u) << "bad expectation";
    EXPECT_EQ(field(ap.address), padded(w.address)) << "slot " << i << " address";
    EXPECT_EQ(field(ap.essid), padded(w.essid)) << "slot " << i << " essid";
    EXPECT_EQ(bits(ap.signal_level), bits(w.signal))
        << "slot " << i << " signal " << ap.signal_level << ", want " << w.signal;
    EXPECT_EQ(bits(ap.noise_level), bits(w.noise))
        << "slot " << i << " noise " << ap.noise_level << ", want " << w.noise;
    EXPECT_EQ(ap.seen, 1) << "slot " << i;
  }
}

std::string with_crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string nul_joined(const std::string& a, const std::string& b) { return a + '\0' + b; }

// --- Single cells and the label rules --------------------------------------------

struct scan_case {
  const char* name;
  std::string text;
  std::vector<want_ap> aps;
};

const std::string kTypicalCell =
    "Cell 01 - Address: 00:1A:2B:3C:4D:5E\n"
    "          ESSID:\"Office\"\n"
    "          Quality=60/70  Signal level=-50 dBm  Noise level=-95 dBm\n";

const scan_case kLabelCases[] = {
    {"typical cell", kTypicalCell, {{"00:1A:2B:3C:4D:5E", "Office", -50.0f, -95.0f}}},
    {"colon separators",
     "Cell 01 - Address: A1\n ESSID:\"n1\"\n Quality:0/100  Signal level:-55 dBm  Noise "
     "level:-95 dBm\n",
     {{"A1", "n1", -55.0f, -95.0f}}},
    {"level label without separator skipped",
     "Cell 01 - Address: A1\n Signal level -40 dBm\n Noise level 7\n"
     " Signal level=-55 dBm  Noise level=-90 dBm\n",
     {{"A1", "", -55.0f, -90.0f}}},
    {"colon found before equals", "Cell 1 Signal level:-41 Signal level=-42 Noise level:-91 "
                                  "Noise level=-92",
     {{"", "", -41.0f, -91.0f}}},
    {"equals found before colon", "Cell 1 Signal level=-42 Signal level:-41 Noise level=-92 "
                                  "Noise level:-91",
     {{"", "", -42.0f, -92.0f}}},
    {"labels are case-sensitive",
     "Cell 01 address: a1 essid:\"low\" signal level=-40 noise level=-90 SIGNAL LEVEL=-41\n"
     " Address: A2 ESSID:\"up\" Signal level=-60 Noise level=-91\n",
     {{"A2", "up", -60.0f, -91.0f}}},
    {"labels before the first Cell ignored",
     "Address: A0 ESSID:\"zero\" Signal level=-10 Noise level=-11\nCell 01 - Address: A1\n",
     {{"A1", "", 0.0f, 0.0f}}},
    {"labels in any order",
     "Cell 01 - Noise level=-90 dBm ESSID:\"x1\" Signal level=-40 dBm Address: A1",
     {{"A1", "x1", -40.0f, -90.0f}}},
    {"address glued to its label", "Cell 01 - Address:00:11:22:33:44:55\n",
     {{"00:11:22:33:44:55", "", 0.0f, 0.0f}}},
    {"address word ends at any white space", "Cell 01 - Address:\v\fA1\fjunk\vmore",
     {{"A1", "", 0.0f, 0.0f}}},
    {"bytes above 127 are not white space", "Cell 01 - Address: A1\xa0" "B2\x85" "C3 end",
     {{"A1\xa0" "B2\x85" "C3", "", 0.0f, 0.0f}}},
    {"address at the end of the text", "Cell 01 - Address:", {{"", "", 0.0f, 0.0f}}},
    {"address followed only by white space", "Cell 01 - Address: \r\n\t \v\f",
     {{"", "", 0.0f, 0.0f}}},
    {"no address anywhere",
     "Cell 01 - ESSID:\"x1\"\n Signal level=-40 dBm  Noise level=-90 dBm\n",
     {{"", "x1", -40.0f, -90.0f}}},
    {"signal label at the end of the text", "Cell 01 - Address: A1 Signal level=",
     {{"A1", "", 0.0f, 0.0f}}},
    {"signal label followed only by white space", "Cell 01 - Address: A1 Signal level=  \r\n",
     {{"A1", "", 0.0f, 0.0f}}},
    {"level word after white space", "Cell 01 Signal level= -50 dBm  Noise level:\t-95 dBm",
     {{"", "", -50.0f, -95.0f}}},
    {"level words without a number", "Cell 01 Signal level=- dBm  Noise level=inf",
     {{"", "", 0.0f, 0.0f}}},
    {"level word cut at white space", "Cell 01 Signal level=-5\v0  Noise level=-9\f5",
     {{"", "", -5.0f, -9.0f}}},
    {"no noise anywhere", "Cell 01 - Address: A1\n Quality=57/70  Signal level=-53 dBm\n",
     {{"A1", "", -53.0f, 0.0f}}},
    // The network name.
    {"hidden name", "Cell 01 - Address: A1\n ESSID:\"\"\n Signal level=-50",
     {{"A1", "", -50.0f, 0.0f}}},
    {"hidden name at the end", "Cell 01 - Address: A1 ESSID:\"\"", {{"A1", "", 0.0f, 0.0f}}},
    {"hidden name with windows line end", "Cell 01 - Address: A1\r\n ESSID:\"\"\r\n",
     {{"A1", "", 0.0f, 0.0f}}},
    {"name with a space", "Cell 01 - Address: A1\n ESSID:\"Guest Net\"\n",
     {{"A1", "Gues", 0.0f, 0.0f}}},
    {"name with a tab", "Cell 01 - Address: A1\n ESSID:\"Guest\tNet\"\n",
     {{"A1", "Gues", 0.0f, 0.0f}}},
    {"space between label and quote", "Cell 01 - Address: A1\n ESSID: \"Office\"\n",
     {{"A1", "", 0.0f, 0.0f}}},
    {"name without quotes", "Cell 01 - Address: A1\n ESSID:off/any\n",
     {{"A1", "", 0.0f, 0.0f}}},
    {"quote at the end of the text", "Cell 01 - Address: A1 ESSID:\"", {{"A1", "", 0.0f, 0.0f}}},
    {"quote then only white space", "Cell 01 - Address: A1 ESSID:\" \r\n",
     {{"A1", "", 0.0f, 0.0f}}},
    {"unterminated name at the end", "Cell 01 - Address: A1 ESSID:\"Office",
     {{"A1", "Offic", 0.0f, 0.0f}}},
    {"white space after the opening quote", "Cell 01 ESSID:\" lead\"", {{"", "lead", 0.0f, 0.0f}}},
    {"one-letter name", "Cell 01 ESSID:\"x\"\n", {{"", "x", 0.0f, 0.0f}}},
    {"escaped bytes kept as written", "Cell 01 ESSID:\"caf\\xC3\\xA9\"\n",
     {{"", "caf\\xC3\\xA9", 0.0f, 0.0f}}},
    {"raw bytes above 127 kept", "Cell 01 ESSID:\"caf\xc3\xa9\xa0" "x\"\n",
     {{"", "caf\xc3\xa9\xa0" "x", 0.0f, 0.0f}}},
    {"label spelled with a space", "Cell 01 ESSID :\"x\"\n", {{"", "", 0.0f, 0.0f}}},
    // Carriage returns are white space.
    {"windows line ends",
     "Cell 01 - Address: 00:1A:2B:3C:4D:5E\r\n ESSID:\"Office\"\r\n"
     " Quality=60/70  Signal level=-50\r\n Noise level=-95\r\n",
     {{"00:1A:2B:3C:4D:5E", "Office", -50.0f, -95.0f}}},
    {"lone carriage returns", "Cell 01 - Address: A1\rESSID:\"Office\"\rSignal level=-50\r"
                              "Noise level=-95\r",
     {{"A1", "Office", -50.0f, -95.0f}}},
    // A NUL byte ends the text.
    {"NUL before the next cell", nul_joined("Cell 01 - Address: A1\n", "Cell 02 - Address: A2\n"),
     {{"A1", "", 0.0f, 0.0f}}},
    {"NUL inside the address", nul_joined("Cell 01 - Address: A1", "B2\n"),
     {{"A1", "", 0.0f, 0.0f}}},
    {"NUL after a label", nul_joined("Cell 01 - Address:", " A1\n Signal level=-50"),
     {{"", "", 0.0f, 0.0f}}},
    {"NUL inside the name", nul_joined("Cell 01 ESSID:\"Off", "ice\"\n"), {{"", "Of", 0.0f, 0.0f}}},
    {"NUL inside a level", nul_joined("Cell 01 Signal level=-5", "0 dBm"),
     {{"", "", -5.0f, 0.0f}}},
    {"NUL before the level", nul_joined("Cell 01 Signal level=", "-50 dBm"),
     {{"", "", 0.0f, 0.0f}}},
    // Where cells start.
    {"no Cell", "wlan0     No scan results\n Address: A1 ESSID:\"x\" Signal level=-50\n", {}},
    {"empty text", "", {}},
    {"lower-case cell starts nothing", "cell 01 - Address: A1\n Signal level=-50\n", {}},
    {"capitals CELL start nothing", "CELL 01 - Address: A1\n", {}},
    {"Cell inside another word starts a cell",
     "Cell 01 - Address: A1\n ESSID:\"MyCellular\"\n Signal level=-50 dBm\n",
     {{"A1", "MyCellular", -50.0f, 0.0f}, {"", "", -50.0f, 0.0f}}},
    {"Cell at the very end", "Cell 01 - Address: A1\n Signal level=-50 dBm Cell",
     {{"A1", "", -50.0f, 0.0f}, {"", "", 0.0f, 0.0f}}},
};

TEST(ScanText, LabelRules) {
  for (const auto& row : kLabelCases) expect_record(parse(row.text), row.aps, row.name);
}

// --- Level words ----------------------------------------------------------------

struct level_case {
  const char* name;
  const char* word;
  float value;  // compared bit for bit
};

const float kInf = std::numeric_limits<float>::infinity();

const level_case kLevelCases[] = {
    {"negative integer", "-50", -50.0f},
    {"relative level", "45/100", 45.0f},
    {"unit glued on", "-50dBm", -50.0f},
    {"leading point", ".5", 0.5f},
    {"plus sign", "+7", 7.0f},
    {"point then exponent", "5.e3", 5000.0f},
    {"fraction", "-53.25", -53.25f},
    {"hexadecimal", "0x10", 0.0f},
    {"inf", "inf", 0.0f},
    {"nan", "nan", 0.0f},
    {"lone minus", "-", 0.0f},
    {"unit only", "dBm", 0.0f},
    {"beyond float range", "1e40", kInf},
    {"beyond float range negative", "-1e40", -kInf},
    {"tiny", "1e-50", 0.0f},
    {"tiny negative", "-1e-50", -0.0f},
    {"subnormal", "1e-40", 1e-40f},
    {"nearest float, not via double", "1.00000005960464477550", 1.00000011920928955078125f},
    {"nearest float of a long mantissa", "-0.1000000000000000055511151231257827", -0.1f},
};

TEST(ScanText, LevelWordsConvertTheirLeadingNumber) {
  for (const auto& row : kLevelCases) {
    for (const char* sep : {"=", ":"}) {
      const std::string text = std::string("Cell 01 - Address: A1\n Quality=1/70  Signal level") +
                               sep + row.word + " dBm  Noise level" + sep + row.word + "\n";
      expect_record(parse(text), {{"A1", "", row.value, row.value}},
                    std::string(row.name) + " with " + sep);
    }
  }
}

// --- Field sizes -------------------------------------------------------------------

TEST(ScanText, LongWordsAreCutToTheirFields) {
  const std::string a40 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcd";
  const std::string n40 = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";
  struct row {
    const char* name;
    std::string address_word, essid_text;  // essid_text: what follows ESSID:
    std::string address, essid;
  };
  const row rows[] = {
      {"31-byte address kept whole", a40.substr(0, 31), "\"x\"", a40.substr(0, 31), "x"},
      {"32-byte address", a40.substr(0, 32), "\"x\"", a40.substr(0, 31), "x"},
      {"40-byte address", a40, "\"x\"", a40.substr(0, 31), "x"},
      {"31-byte name keeps a terminator", "A1", "\"" + n40.substr(0, 31) + "\"", "A1",
       n40.substr(0, 31)},
      {"32-byte name fills the field", "A1", "\"" + n40.substr(0, 32) + "\"", "A1",
       n40.substr(0, 32)},
      {"33-byte name", "A1", "\"" + n40.substr(0, 33) + "\"", "A1", n40.substr(0, 32)},
      {"40-byte name", "A1", "\"" + n40 + "\"", "A1", n40.substr(0, 32)},
      {"long first word of a name", "A1", "\"" + n40 + " tail\"", "A1", n40.substr(0, 32)},
      {"33-byte word less its last byte", "A1", "\"" + n40.substr(0, 33) + " tail\"", "A1",
       n40.substr(0, 32)},
      {"32-byte word less its last byte", "A1", "\"" + n40.substr(0, 32) + " tail\"", "A1",
       n40.substr(0, 31)},
  };
  for (const auto& c : rows) {
    for (const bool levels : {true, false}) {
      // With and without levels after the long words: neither field spills
      // into its neighbour.
      const std::string text = "Cell 01 - Address: " + c.address_word + "\n ESSID:" +
                               c.essid_text + "\n" +
                               (levels ? " Signal level=-50 dBm  Noise level=-95 dBm\n" : "");
      const float s = levels ? -50.0f : 0.0f;
      const float n = levels ? -95.0f : 0.0f;
      expect_record(parse(text), {{c.address, c.essid, s, n}},
                    std::string(c.name) + (levels ? " with levels" : " without levels"));
    }
  }
}

// --- Several cells ------------------------------------------------------------------

// Cell k of a generated report: address ...:<k in hex>, name "net<k>",
// signal -30-k, noise -90-k (when given).
std::string numbered_cell(int k, bool noise = true) {
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "          Cell %02d - Address: 00:00:00:00:00:%02X\n"
                "                    ESSID:\"net%d\"\n"
                "                    Quality=%d/70  Signal level=%d dBm",
                k, k, k, 70 - k, -30 - k);
  std::string s = buf;
  if (noise) s += "  Noise level=" + std::to_string(-90 - k) + " dBm";
  return s + "\n";
}

want_ap numbered_ap(int k, float noise) {
  char addr[32];
  std::snprintf(addr, sizeof addr, "00:00:00:00:00:%02X", k);
  return {addr, "net" + std::to_string(k), static_cast<float>(-30 - k), noise};
}

TEST(ScanText, AtMostSixteenCellsAreStored) {
  for (const int cells : {15, 16, 17, 20}) {
    std::string text = "wlan0     Scan completed :\n";
    for (int k = 1; k <= cells; ++k) text += numbered_cell(k);
    std::vector<want_ap> want;
    for (int k = 1; k <= std::min(cells, MAX_APS); ++k) {
      want.push_back(numbered_ap(k, static_cast<float>(-90 - k)));
    }
    expect_record(parse(text), want, std::to_string(cells) + " cells");
  }
}

// A label a cell lacks is taken from its first occurrence further on; when
// there is none the field stays zero and the cell still counts.
TEST(ScanText, MissingLabelsComeFromLaterCells) {
  const scan_case rows[] = {
      {"noise from the next cell, none at the end",
       numbered_cell(1, false) + numbered_cell(2) + numbered_cell(3, false) + numbered_cell(4) +
           numbered_cell(5, false),
       {numbered_ap(1, -92.0f), numbered_ap(2, -92.0f), numbered_ap(3, -94.0f),
        numbered_ap(4, -94.0f), numbered_ap(5, 0.0f)}},
      {"noise from a cell two further on",
       numbered_cell(1, false) + numbered_cell(2, false) + numbered_cell(3),
       {numbered_ap(1, -93.0f), numbered_ap(2, -93.0f), numbered_ap(3, -93.0f)}},
      {"address and name from the next cell",
       "Cell 01 - Quality=60/70  Signal level=-50 dBm  Noise level=-95 dBm\n"
       "Cell 02 - Address: A2\n ESSID:\"two\"\n Signal level=-60 dBm  Noise level=-96 dBm\n",
       {{"A2", "two", -50.0f, -95.0f}, {"A2", "two", -60.0f, -96.0f}}},
      {"nothing after the last cell start",
       "Cell 01 - Address: A1\n ESSID:\"one\"\n Signal level=-50 dBm  Noise level=-95 dBm\n"
       "Cell 02 - Mode:Master\n",
       {{"A1", "one", -50.0f, -95.0f}, {"", "", 0.0f, 0.0f}}},
  };
  for (const auto& row : rows) expect_record(parse(row.text), row.aps, row.name);
}

// Every "Cell" starts a cell, one inside a network name too. The extra cell
// takes each label from its first occurrence after that point: here the
// levels from the rest of the current cell, address and name from the next.
TEST(ScanText, NameContainingCellStartsAnExtraCell) {
  const std::string text =
      "Cell 01 - Address: AA:BB:CC:DD:EE:01\n"
      "          ESSID:\"Cellar\"\n"
      "          Quality=60/70  Signal level=-50 dBm  Noise level=-95 dBm\n"
      "Cell 02 - Address: AA:BB:CC:DD:EE:02\n"
      "          ESSID:\"Office\"\n"
      "          Quality=40/70  Signal level=-70 dBm  Noise level=-96 dBm\n";
  expect_record(parse(text),
                {{"AA:BB:CC:DD:EE:01", "Cellar", -50.0f, -95.0f},
                 {"AA:BB:CC:DD:EE:02", "Office", -50.0f, -95.0f},
                 {"AA:BB:CC:DD:EE:02", "Office", -70.0f, -96.0f}},
                "Cellar");
}

// Addresses are stored as written: case is kept, and a repeated address is
// stored again in its own slot.
TEST(ScanText, AddressesStoredAsWrittenAndRepeated) {
  const std::string text =
      "wlan0     Scan completed :\n"
      "          Cell 01 - Address: AA:BB:CC:DD:EE:01\n"
      "                    ESSID:\"Office\"\n"
      "                    Quality=60/70  Signal level=-50 dBm  Noise level=-95 dBm\n"
      "          Cell 02 - Address: aa:bb:cc:dd:ee:01\n"
      "                    ESSID:\"Office\"\n"
      "                    Quality=50/70  Signal level=-60 dBm  Noise level=-96 dBm\n"
      "          Cell 03 - Address: AA:BB:CC:DD:EE:01\n"
      "                    ESSID:\"Office-5G\"\n"
      "                    Quality=40/70  Signal level=-70 dBm  Noise level=-97 dBm\n";
  expect_record(parse(text),
                {{"AA:BB:CC:DD:EE:01", "Office", -50.0f, -95.0f},
                 {"aa:bb:cc:dd:ee:01", "Office", -60.0f, -96.0f},
                 {"AA:BB:CC:DD:EE:01", "Office-5G", -70.0f, -97.0f}},
                "repeated addresses");
}

// --- Whole reports as drivers print them -------------------------------------------

// A current driver: levels in dBm with "=", no noise level at all, other
// interfaces listed first.
const std::string kModernReport =
    "lo        Interface doesn't support scanning.\n"
    "\n"
    "eth0      Interface doesn't support scanning.\n"
    "\n"
    "wlan0     Scan completed :\n"
    "          Cell 01 - Address: 00:1A:2B:3C:4D:5E\n"
    "                    Channel:6\n"
    "                    Frequency:2.437 GHz (Channel 6)\n"
    "                    Quality=57/70  Signal level=-53 dBm  \n"
    "                    Encryption key:on\n"
    "                    ESSID:\"Office\"\n"
    "                    Bit Rates:1 Mb/s; 2 Mb/s; 5.5 Mb/s; 11 Mb/s; 6 Mb/s\n"
    "                              9 Mb/s; 12 Mb/s; 18 Mb/s\n"
    "                    Bit Rates:24 Mb/s; 36 Mb/s; 48 Mb/s; 54 Mb/s\n"
    "                    Mode:Master\n"
    "                    Extra:tsf=000000a1b2c3d4e5\n"
    "                    Extra: Last beacon=120ms ago\n"
    "                    IE: Unknown: 00064F6666696365\n"
    "                    IE: IEEE 802.11i/WPA2 Version 1\n"
    "                        Group Cipher : CCMP\n"
    "                        Pairwise Ciphers (1) : CCMP\n"
    "                        Authentication Suites (1) : PSK\n"
    "          Cell 02 - Address: 00:1a:2b:3c:4d:5f\n"
    "                    Channel:11\n"
    "                    Frequency:2.462 GHz (Channel 11)\n"
    "                    Quality=31/70  Signal level=-79 dBm  \n"
    "                    Encryption key:off\n"
    "                    ESSID:\"Guest Net\"\n"
    "                    Bit Rates:1 Mb/s; 2 Mb/s; 5.5 Mb/s; 11 Mb/s\n"
    "                    Mode:Master\n"
    "                    Extra: Last beacon=480ms ago\n"
    "          Cell 03 - Address: 02:00:00:00:00:03\n"
    "                    Channel:36\n"
    "                    Frequency:5.18 GHz (Channel 36)\n"
    "                    Quality=70/70  Signal level=-38 dBm  \n"
    "                    Encryption key:on\n"
    "                    ESSID:\"\"\n"
    "                    Mode:Master\n"
    "                    Extra: Last beacon=12ms ago\n"
    "\n";

const std::vector<want_ap> kModernAps = {
    {"00:1A:2B:3C:4D:5E", "Office", -53.0f, 0.0f},
    {"00:1a:2b:3c:4d:5f", "Gues", -79.0f, 0.0f},
    {"02:00:00:00:00:03", "", -38.0f, 0.0f},
};

// An older driver: ":" after the level labels, a noise level, the name before
// the levels, and a network whose name contains "Cell".
const std::string kOlderReport =
    "eth1      Scan completed :\n"
    "          Cell 01 - Address: 00:0F:66:AA:BB:01\n"
    "                    ESSID:\"linksys\"\n"
    "                    Protocol:IEEE 802.11bg\n"
    "                    Mode:Master\n"
    "                    Channel:6\n"
    "                    Encryption key:off\n"
    "                    Bit Rates:1 Mb/s; 2 Mb/s; 5.5 Mb/s; 11 Mb/s; 6 Mb/s\n"
    "                    Quality:0/100  Signal level:-55 dBm  Noise level:-95 dBm\n"
    "                    Extra: Last beacon: 36ms ago\n"
    "          Cell 02 - Address: 00:0F:66:AA:BB:02\n"
    "                    ESSID:\"Cellar\"\n"
    "                    Protocol:IEEE 802.11b\n"
    "                    Mode:Master\n"
    "                    Channel:1\n"
    "                    Encryption key:on\n"
    "                    Quality:0/100  Signal level:-71 dBm  Noise level:-94 dBm\n"
    "                    Extra: Last beacon: 1020ms ago\n"
    "          Cell 03 - Address: 00:0F:66:AA:BB:03\n"
    "                    ESSID:\"lab\"\n"
    "                    Protocol:IEEE 802.11g\n"
    "                    Mode:Ad-Hoc\n"
    "                    Channel:11\n"
    "                    Quality:0/100  Signal level:-80 dBm  Noise level:-92 dBm\n";

const std::vector<want_ap> kOlderAps = {
    {"00:0F:66:AA:BB:01", "linksys", -55.0f, -95.0f},
    {"00:0F:66:AA:BB:02", "Cellar", -71.0f, -94.0f},
    {"00:0F:66:AA:BB:03", "lab", -71.0f, -94.0f},  // from the "Cell" in "Cellar"
    {"00:0F:66:AA:BB:03", "lab", -80.0f, -92.0f},
};

// Relative levels, an unnamed "off/any" entry, names printed with \xNN
// escapes, cell numbers past 99, noise given only by some cells.
const std::string kRelativeReport =
    "ath0      Scan completed :\n"
    "          Cell 98 - Address: 00:11:22:33:44:98\n"
    "                    ESSID:\"caf\\xC3\\xA9\"\n"
    "                    Mode:Master\n"
    "                    Frequency:2.412 GHz (Channel 1)\n"
    "                    Quality=44/100  Signal level=44/100\n"
    "                    Encryption key:off\n"
    "          Cell 99 - Address: 00:11:22:33:44:99\n"
    "                    ESSID:off/any\n"
    "                    Quality=0/100  Signal level=12/100\n"
    "          Cell 100 - Address: 00:11:22:33:44:A0\n"
    "                    ESSID:\"\\x00\\x00\\x00\\x00\"\n"
    "                    Quality=70/100  Signal level=70/100  Noise level=5/100\n"
    "          Cell 101 - Address: 00:11:22:33:44:A1\n"
    "                    ESSID:\"x\"\n"
    "                    Quality=3/100  Signal level=3/100\n";

const std::vector<want_ap> kRelativeAps = {
    {"00:11:22:33:44:98", "caf\\xC3\\xA9", 44.0f, 5.0f},
    {"00:11:22:33:44:99", "", 12.0f, 5.0f},
    {"00:11:22:33:44:A0", "\\x00\\x00\\x00\\x00", 70.0f, 5.0f},
    {"00:11:22:33:44:A1", "x", 3.0f, 0.0f},
};

struct report_case {
  const char* name;
  const std::string* text;
  const std::vector<want_ap>* aps;
};

const report_case kReports[] = {
    {"modern driver", &kModernReport, &kModernAps},
    {"older driver", &kOlderReport, &kOlderAps},
    {"relative levels", &kRelativeReport, &kRelativeAps},
};

TEST(ScanText, RealisticReports) {
  for (const auto& row : kReports) {
    expect_record(parse(*row.text), *row.aps, row.name);
    expect_record(parse(with_crlf(*row.text)), *row.aps, std::string(row.name) + ", CRLF");
  }
}

// Every prefix of a report, each in its own exact-sized buffer: one slot per
// "Cell" that fits in the prefix, every stored word a prefix of the word the
// whole report gives (never anything else, never past the text), levels
// defined, the rest of the record zero.
TEST(ScanText, EveryPrefixEndsInADefinedResult) {
  for (const auto& row : kReports) {
    for (const bool crlf : {false, true}) {
      const std::string full = crlf ? with_crlf(*row.text) : *row.text;
      const parsed whole = parse(full);
      for (std::size_t len = 0; len <= full.size(); ++len) {
        const std::string prefix = full.substr(0, len);
        const parsed p = parse(prefix);
        const std::string where =
            std::string(row.name) + (crlf ? " CRLF" : "") + ", prefix length " + std::to_string(len);
        int cells = 0;
        for (std::size_t at = prefix.find("Cell"); at != std::string::npos;
             at = prefix.find("Cell", at + 4)) {
          ++cells;
        }
        cells = std::min(cells, MAX_APS);
        ASSERT_EQ(p.result, cells) << where;
        ASSERT_EQ(p.rec->ap_count, cells) << where;
        EXPECT_EQ(p.out, "") << where;
        EXPECT_EQ(p.rec->x, 0) << where;
        EXPECT_EQ(p.rec->y, 0) << where;
        for (int i = 0; i < MAX_APS; ++i) {
          const ap_reading& ap = p.rec->ap[i];
          if (i >= cells) {
            EXPECT_TRUE(all_zero(&ap, sizeof ap)) << where << ", slot " << i;
            continue;
          }
          const ap_reading& ref = whole.rec->ap[i];
          EXPECT_EQ(ap.seen, 1) << where << ", slot " << i;
          const std::string address = field(ap.address);
          const std::size_t alen = address.find('\0');
          ASSERT_NE(alen, std::string::npos) << where << ", slot " << i;
          EXPECT_TRUE(all_zero(ap.address + alen, 32 - alen)) << where << ", slot " << i;
          EXPECT_EQ(field(ref.address).compare(0, alen, address, 0, alen), 0)
              << where << ", slot " << i << " address " << address.substr(0, alen);
          const std::string essid = field(ap.essid);
          const std::size_t elen = std::min(essid.find('\0'), essid.size());
          EXPECT_TRUE(all_zero(ap.essid + elen, 32 - elen)) << where << ", slot " << i;
          EXPECT_EQ(field(ref.essid).compare(0, elen, essid, 0, elen), 0)
              << where << ", slot " << i << " essid " << essid.substr(0, elen);
          EXPECT_FALSE(std::isnan(ap.signal_level)) << where << ", slot " << i;
          EXPECT_FALSE(std::isnan(ap.noise_level)) << where << ", slot " << i;
        }
        if (::testing::Test::HasFatalFailure() || ::testing::Test::HasFailure()) return;
      }
    }
  }
}

}  // namespace
