// Scanner listings read whole from either layout (wireless tools, iw), and
// the reports written from them, which apfold's own parser must read back to
// exactly the same addresses, names and levels.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "input/scan_listing.h"
#include "input/scan_text.h"
#include "radiomap/refpoint.h"

namespace {

struct want_cell {
  std::string address;
  std::string name;
  float signal = 0.0f;
  bool has_noise = false;
  float noise = 0.0f;
  bool in_dbm = true;
};

struct read_result {
  std::size_t returned = 0;
  listing_info info{};
  std::vector<listed_cell> cells;
};

// Reads a copy of `text` kept in a heap block of exactly its size and a NUL,
// so that the address sanitizer catches a read past the terminator, into an
// array of `room` cells (all of them when room is -1: a first call counts).
read_result read(const std::string& text, long room = -1) {
  auto buf = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(buf.get(), text.data(), text.size());
  buf[text.size()] = '\0';
  read_result r;
  listing_info counted{};
  const std::size_t all = read_scan_listing(buf.get(), {}, &counted);
  r.cells.resize(room < 0 ? all : static_cast<std::size_t>(room));
  r.returned = read_scan_listing(buf.get(), r.cells, &r.info);
  EXPECT_EQ(r.returned, all) << "the count does not depend on the room";
  EXPECT_EQ(counted.left_out, r.info.left_out);
  return r;
}

uint32_t bits(float f) { return std::bit_cast<uint32_t>(f); }

void expect_cells(const read_result& r, const std::vector<want_cell>& want, const std::string& what) {
  SCOPED_TRACE(what);
  ASSERT_EQ(r.returned, want.size());
  ASSERT_EQ(r.info.cells, want.size());
  for (std::size_t k = 0; k < want.size(); ++k) {
    const listed_cell& c = r.cells[k];
    const want_cell& w = want[k];
    EXPECT_EQ(std::string(c.address), w.address) << "cell " << k;
    EXPECT_EQ(std::string(c.name), w.name) << "cell " << k;
    EXPECT_EQ(bits(c.signal), bits(w.signal)) << "cell " << k << ": " << c.signal;
    EXPECT_EQ(c.has_noise, w.has_noise) << "cell " << k;
    EXPECT_EQ(bits(c.noise), bits(w.noise)) << "cell " << k << ": " << c.noise;
    EXPECT_EQ(c.in_dbm, w.in_dbm) << "cell " << k;
  }
}

// --- fixtures, written from the two layouts --------------------------------

// A wireless-tools cell with the lines a driver typically prints around the
// ones that matter.
std::string wt_cell(int n, const std::string& address, const std::string& quality_line,
                    const std::string& essid_line) {
  char number[8];
  std::snprintf(number, sizeof number, "%02d", n);
  return std::string("          Cell ") + number + " - Address: " + address + "\n" +
         "                    Channel:6\n"
         "                    Frequency:2.437 GHz (Channel 6)\n"
         "                    " + quality_line + "\n"
         "                    Encryption key:on\n"
         "                    " + essid_line + "\n"
         "                    Bit Rates:1 Mb/s; 2 Mb/s; 5.5 Mb/s; 11 Mb/s; 6 Mb/s\n"
         "                              9 Mb/s; 12 Mb/s; 18 Mb/s\n"
         "                    Mode:Master\n"
         "                    Extra:tsf=0000000a1b2c3d4e\n"
         "                    Extra: Last beacon=40ms ago\n"
         "                    IE: IEEE 802.11i/WPA2 Version 1\n"
         "                        Group Cipher : CCMP\n"
         "                        Pairwise Ciphers (1) : CCMP\n"
         "                        Authentication Suites (1) : PSK\n";
}

const std::string wt_head = "wlan0     Scan completed :\n";

// An iw access point with the lines iw prints around the ones that matter.
std::string iw_bss(const std::string& head, const std::string& signal_line,
                   const std::string& ssid_line) {
  return head + "\n" +
         "\tlast seen: 4021.516s [boottime]\n"
         "\tTSF: 49781208733 usec (0d, 13:49:41)\n"
         "\tfreq: 2437\n"
         "\tbeacon interval: 100 TUs\n"
         "\tcapability: ESS Privacy ShortSlotTime RadioMeasure (0x1411)\n" +
         (signal_line.empty() ? "" : signal_line + "\n") +
         "\tlast seen: 212 ms ago\n"
         "\tInformation elements from Probe Response frame:\n" +
         (ssid_line.empty() ? "" : ssid_line + "\n") +
         "\tSupported rates: 1.0* 2.0* 5.5* 11.0* 9.0 18.0 36.0 54.0 \n"
         "\tDS Parameter set: channel 6\n"
         "\tRSN:\t * Version: 1\n"
         "\t\t * Group cipher: CCMP\n"
         "\t\t * Pairwise ciphers: CCMP\n"
         "\t\t * Authentication suites: PSK\n"
         "\t\t * Capabilities: 1-PTKSA-RC 1-GTKSA-RC (0x0000)\n"
         "\tBSS Load:\n"
         "\t\t * station count: 2\n"
         "\t\t * channel utilisation: 27/255\n"
         "\tHT capabilities:\n"
         "\t\tCapabilities: 0x1ad\n"
         "\t\t\tRX LDPC\n";
}

std::string crlf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

TEST(ScanListing, ReadsEitherLayout) {
  const struct {
    const char* what;
    std::string text;
    listing_format format;
    std::vector<want_cell> cells;
    std::size_t left_out;
  } rows[] = {
      {"wireless tools, '=' labels, noise levels",
       wt_head + wt_cell(1, "00:1a:2b:3c:4d:01", "Quality=40/70  Signal level=-70 dBm  Noise level=-95 dBm",
                         "ESSID:\"Office\"") +
           wt_cell(2, "00:1A:2B:3C:4D:02", "Quality=60/70  Signal level=-50 dBm  Noise level=-94 dBm",
                   "ESSID:\"Guest Net\""),
       listing_format::wireless_tools,
       {{"00:1A:2B:3C:4D:01", "Office", -70, true, -95},
        {"00:1A:2B:3C:4D:02", "Guest Net", -50, true, -94}},
       0},
      {"wireless tools, ':' labels, no noise level",
       wt_head + wt_cell(1, "aa:bb:cc:dd:ee:ff", "Quality:0/100  Signal level:-61 dBm", "ESSID:\"x\""),
       listing_format::wireless_tools, {{"AA:BB:CC:DD:EE:FF", "x", -61}}, 0},
      {"wireless tools, relative levels",
       wt_head + wt_cell(1, "00:00:00:00:00:01", "Quality=45/100  Signal level=45/100  Noise level=0/100",
                         "ESSID:\"rel\""),
       listing_format::wireless_tools, {{"00:00:00:00:00:01", "rel", 45, true, 0, false}}, 0},
      {"wireless tools, hidden and odd names",
       wt_head + wt_cell(1, "00:00:00:00:00:01", "Signal level=-40 dBm", "ESSID:\"\"") +
           wt_cell(2, "00:00:00:00:00:02", "Signal level=-41 dBm", "ESSID:off/any") +
           wt_cell(3, "00:00:00:00:00:03", "Signal level=-42 dBm", "ESSID:\"say \"hi\"\" [2]") +
           wt_cell(4, "00:00:00:00:00:04", "Signal level=-43 dBm", "ESSID:\"no end") +
           wt_cell(5, "00:00:00:00:00:05", "Signal level=-44 dBm", "ESSID:\"\\x00\\x00\\x00\""),
       listing_format::wireless_tools,
       {{"00:00:00:00:00:01", "", -40},
        {"00:00:00:00:00:02", "", -41},
        {"00:00:00:00:00:03", "say \"hi\"", -42},
        {"00:00:00:00:00:04", "no end", -43},
        {"00:00:00:00:00:05", "\\x00\\x00\\x00", -44}},
       0},
      {"wireless tools, CR LF line ends",
       crlf(wt_head + wt_cell(1, "00:00:00:00:00:0a", "Quality=1/70  Signal level=-89 dBm  Noise level=-90 dBm",
                              "ESSID:\"crlf\"")),
       listing_format::wireless_tools, {{"00:00:00:00:00:0A", "crlf", -89, true, -90}}, 0},
      {"wireless tools, fractions and odd spacing",
       "Cell 7 -Address:01:02:03:04:05:06\nSignal level=-52.25dBm Noise level=-95.5 dBm\nESSID:\"f\"\n",
       listing_format::wireless_tools, {{"01:02:03:04:05:06", "f", -52.25f, true, -95.5f}}, 0},
      {"wireless tools, cells left out: no level, no address, a bad address",
       wt_head + "          Cell 01 - Address: 00:00:00:00:00:01\n                    ESSID:\"quiet\"\n" +
           wt_cell(2, "00:00:00:00:00:02", "Signal level=-60 dBm", "ESSID:\"kept\"") +
           "          Cell 03 - Address:\n                    Signal level=-61 dBm\n" +
           wt_cell(4, "00:00:00:00:00", "Signal level=-62 dBm", "ESSID:\"short\"") +
           wt_cell(5, "00:00:00:00:00:0G", "Signal level=-63 dBm", "ESSID:\"G\"") +
           wt_cell(6, "00:00:00:00:00:011", "Signal level=-64 dBm", "ESSID:\"long\"") +
           wt_cell(7, "00:00:00:00:00:07", "Signal level=inf dBm", "ESSID:\"nan\"") +
           wt_cell(8, "00:00:00:00:00:08", "Signal level=1e39 dBm", "ESSID:\"huge\""),
       listing_format::wireless_tools, {{"00:00:00:00:00:02", "kept", -60}}, 7},
      {"wireless tools, a level is not looked for on the next line",
       "Cell 01 - Address: 00:00:00:00:00:01\n Signal level=\n-50 dBm\n Noise level=-90\n",
       listing_format::wireless_tools, {}, 1},
      {"wireless tools, the first of each kind in the cell, none from the next",
       "Cell 01 - Address: 00:00:00:00:00:01\n Signal level=-50 dBm\n Signal level=-10 dBm\n"
       " ESSID:\"first\"\n ESSID:\"second\"\n"
       "Cell 02 - Address: 00:00:00:00:00:02\n Signal level=-51 dBm\n"
       "Cell 03 - Address: 00:00:00:00:00:03\n Noise level=-99 dBm\n ESSID:\"late\"\n Signal level=-52 dBm\n",
       listing_format::wireless_tools,
       {{"00:00:00:00:00:01", "first", -50},
        {"00:00:00:00:00:02", "", -51},
        {"00:00:00:00:00:03", "late", -52, true, -99}},
       0},
      {"wireless tools, a label in a name is no level",
       "Cell 01 - Address: 00:00:00:00:00:01\n ESSID:\"Signal level=-1\"\n Signal level=-70 dBm\n",
       listing_format::wireless_tools, {{"00:00:00:00:00:01", "Signal level=-1", -70}}, 0},
      {"wireless tools, nothing heard", "wlan0     No scan results\n", listing_format::wireless_tools, {}, 0},
      {"wireless tools, a scan of no cells", wt_head, listing_format::wireless_tools, {}, 0},
      {"iw, associated, escapes and spaces kept",
       iw_bss("BSS 00:1a:2b:3c:4d:5e(on wlan0) -- associated", "\tsignal: -52.00 dBm", "\tSSID: Guest Net") +
           iw_bss("BSS 00:1a:2b:3c:4d:5f(on wlan0)", "\tsignal: -71.50 dBm", "\tSSID: \\x20lead\\x5c") +
           iw_bss("BSS 00:1a:2b:3c:4d:60(on wlan0)", "\tsignal: -80.00 dBm", "\tSSID: "),
       listing_format::iw,
       {{"00:1A:2B:3C:4D:5E", "Guest Net", -52},
        {"00:1A:2B:3C:4D:5F", "\\x20lead\\x5c", -71.5f},
        {"00:1A:2B:3C:4D:60", "", -80}},
       0},
      {"iw, older heads, no SSID line, CR LF",
       crlf(iw_bss("BSS 00:00:00:00:00:01 (on wlan1)", "\tsignal: -60.00 dBm", "\tSSID: old") +
            iw_bss("BSS 00:00:00:00:00:02", "\tsignal: -61.00 dBm", "")),
       listing_format::iw, {{"00:00:00:00:00:01", "old", -60}, {"00:00:00:00:00:02", "", -61}}, 0},
      {"iw, no signal line, and lines that are no access point",
       "BSS Load: 3\n" + iw_bss("BSS 00:00:00:00:00:01(on wlan0)", "", "\tSSID: mute") +
           " BSS 00:00:00:00:00:09(on wlan0)\n" +
           iw_bss("BSS 00:00:00:00:00:02(on wlan0)", "\tsignal: 45/100", "\tSSID: rel"),
       listing_format::iw, {{"00:00:00:00:00:02", "rel", 45, false, 0, false}}, 1},
      {"iw, a Cell line inside is only a line",
       iw_bss("BSS 00:00:00:00:00:01(on wlan0)", "\tsignal: -60.00 dBm", "\tSSID: a") +
           "Cell 02 - Address: 00:00:00:00:00:02\n Signal level=-50 dBm\n",
       listing_format::iw, {{"00:00:00:00:00:01", "a", -60}}, 0},
      {"a refusal", "command failed: Operation not permitted (-1)\n", listing_format::none, {}, 0},
      {"nothing", "", listing_format::none, {}, 0},
      {"a word", "Cell", listing_format::none, {}, 0},
  };
  for (const auto& row : rows) {
    const read_result r = read(row.text);
    EXPECT_EQ(r.info.format, row.format) << row.what;
    EXPECT_EQ(r.info.left_out, row.left_out) << row.what;
    expect_cells(r, row.cells, row.what);
  }
}

// Every cell is read, however many, and an array that is too small holds the
// first ones while the count tells how many there are.
TEST(ScanListing, ReadsEveryCellAndCountsBeyondTheArray) {
  std::string text = wt_head;
  for (int k = 1; k <= 40; ++k) {
    char address[32];
    std::snprintf(address, sizeof address, "00:00:00:00:00:%02x", k);
    text += wt_cell(k, address, "Signal level=-" + std::to_string(30 + k) + " dBm", "ESSID:\"n\"");
  }
  const read_result all = read(text);
  ASSERT_EQ(all.returned, 40u);
  EXPECT_EQ(std::string(all.cells[39].address), "00:00:00:00:00:28");
  EXPECT_EQ(all.cells[39].signal, -70.0f);

  const read_result few = read(text, 3);
  EXPECT_EQ(few.returned, 40u);
  EXPECT_EQ(few.info.cells, 40u);
  ASSERT_EQ(few.cells.size(), 3u);
  EXPECT_EQ(std::string(few.cells[2].address), "00:00:00:00:00:03");
}

TEST(ScanListing, LongNamesAreCutToTheirRoom) {
  const std::string name(300, 'n');
  const read_result r = read("BSS 00:00:00:00:00:01(on wlan0)\n\tsignal: -1.00 dBm\n\tSSID: " + name + "\n");
  ASSERT_EQ(r.returned, 1u);
  EXPECT_EQ(std::string(r.cells[0].name), name.substr(0, LISTED_NAME_SIZE - 1));
}

// Every prefix of a listing ends in a defined result: no read past the text,
// never more cells than the whole listing has.
TEST(ScanListing, EveryPrefixOfAListingReads) {
  for (const std::string& text :
       {wt_head + wt_cell(1, "00:00:00:00:00:01", "Quality=40/70  Signal level=-70 dBm  Noise level=-95 dBm",
                          "ESSID:\"Office\""),
        iw_bss("BSS 00:00:00:00:00:01(on wlan0) -- associated", "\tsignal: -52.00 dBm", "\tSSID: a b")}) {
    for (std::size_t n = 0; n <= text.size(); ++n) {
      const read_result r = read(text.substr(0, n));
      ASSERT_LE(r.returned, 1u) << n;
      if (r.returned == 1) {
        EXPECT_TRUE(std::isfinite(r.cells[0].signal)) << n;
      }
    }
  }
}

TEST(ScanListing, OrdersStrongestFirstKeepingTiesInOrder) {
  std::vector<listed_cell> cells(6);
  const float levels[] = {-70, -50, -70, -90, -50, -20};
  for (std::size_t k = 0; k < cells.size(); ++k) {
    std::memset(&cells[k], 0, sizeof cells[k]);
    std::snprintf(cells[k].address, sizeof cells[k].address, "00:00:00:00:00:%02u", static_cast<unsigned>(k % 100));
    cells[k].signal = levels[k];
  }
  order_strongest_first(cells);
  std::string order;
  for (const auto& c : cells) order += std::string(c.address).substr(15) + " ";
  EXPECT_EQ(order, "05 01 04 00 02 03 ");
}

namespace {

listed_cell make_cell(const std::string& address, const std::string& name, float signal, bool has_noise = false,
                      float noise = 0.0f, bool in_dbm = true) {
  listed_cell c;
  std::memset(&c, 0, sizeof c);
  std::memcpy(c.address, address.data(), std::min(address.size(), sizeof c.address - 1));
  std::memcpy(c.name, name.data(), std::min(name.size(), sizeof c.name - 1));
  c.signal = signal;
  c.has_noise = has_noise;
  c.noise = noise;
  c.in_dbm = in_dbm;
  return c;
}

std::string write(const std::vector<listed_cell>& cells) {
  const std::size_t capacity = scan_report_capacity(cells.size());
  auto out = std::make_unique<char[]>(capacity);
  const std::size_t n = write_scan_report(cells, out.get());
  EXPECT_LT(n, capacity);
  EXPECT_EQ(out[n], '\0');
  return std::string(out.get(), n);
}

// apfold's reading of a network name: its first word less the last byte,
// at most 32 bytes.
std::string apfold_name(const std::string& name) {
  std::string word = name + "\"";
  std::size_t start = 0;
  while (start < word.size() && (word[start] == ' ' || word[start] == '\t')) ++start;
  std::size_t end = start;
  while (end < word.size() && word[end] != ' ' && word[end] != '\t' && word[end] != '\r' && word[end] != '\n') ++end;
  word = word.substr(start, end - start);
  if (!word.empty()) word.pop_back();
  return word.substr(0, 32);
}

}  // namespace

TEST(ScanReport, WritesTheWirelessToolsLayout) {
  EXPECT_EQ(write({make_cell("00:1A:2B:3C:4D:5E", "Office", -50, true, -95),
                   make_cell("00:1A:2B:3C:4D:5F", "", -71.5f),
                   make_cell("00:1A:2B:3C:4D:60", "rel", 45, true, 0, false)}),
            "          Cell 01 - Address: 00:1A:2B:3C:4D:5E\n"
            "                    Signal level=-50 dBm  Noise level=-95 dBm\n"
            "                    ESSID:\"Office\"\n"
            "          Cell 02 - Address: 00:1A:2B:3C:4D:5F\n"
            "                    Signal level=-71.5 dBm  Noise level=0 dBm\n"
            "                    ESSID:\"\"\n"
            "          Cell 03 - Address: 00:1A:2B:3C:4D:60\n"
            "                    Signal level=45  Noise level=0\n"
            "                    ESSID:\"rel\"\n");
  // Without a noise level anywhere, none is written.
  EXPECT_EQ(write({make_cell("00:1A:2B:3C:4D:5E", "a", -50), make_cell("00:1A:2B:3C:4D:5F", "b", -60)}),
            "          Cell 01 - Address: 00:1A:2B:3C:4D:5E\n"
            "                    Signal level=-50 dBm\n"
            "                    ESSID:\"a\"\n"
            "          Cell 02 - Address: 00:1A:2B:3C:4D:5F\n"
            "                    Signal level=-60 dBm\n"
            "                    ESSID:\"b\"\n");
  EXPECT_EQ(write({}), "");
  EXPECT_EQ(scan_report_capacity(SIZE_MAX), 0u);
  EXPECT_EQ(scan_report_capacity(0), 1u);
}

TEST(ScanReport, CellNumbersCountOnPastNinetyNine) {
  std::vector<listed_cell> cells;
  for (int k = 0; k < 101; ++k) cells.push_back(make_cell("00:00:00:00:00:00", "", -50));
  const std::string text = write(cells);
  EXPECT_NE(text.find("Cell 09 - "), std::string::npos);
  EXPECT_NE(text.find("Cell 99 - "), std::string::npos);
  EXPECT_NE(text.find("Cell 100 - "), std::string::npos);
  EXPECT_NE(text.find("Cell 101 - "), std::string::npos);
}

// What is written, apfold reads: the first 16 cells, each with its own
// address, name (as apfold cuts names), levels bit for bit and noise 0 where
// there is none, whatever the name holds.
TEST(ScanReport, ApfoldReadsWhatIsWritten) {
  const float smallest = std::numeric_limits<float>::denorm_min();
  const std::vector<listed_cell> cells = {
      make_cell("00:00:00:00:00:01", "Office", -50, true, -95),
      make_cell("00:00:00:00:00:02", "Guest Net", -52.25f, true, -95.5f),
      make_cell("00:00:00:00:00:03", "Cellar", -60),  // no noise: apfold must not find one further on
      make_cell("00:00:00:00:00:04", "x Noise level=5 Cell", -61),
      make_cell("00:00:00:00:00:05", "Address: 11:11:11:11:11:11", -0.0f, true, 0.1f),
      make_cell("00:00:00:00:00:06", "Signal level=1", 3.4028235e38f, true, -3.4028235e38f),
      make_cell("00:00:00:00:00:07", "ESSID:\"y\"", smallest, true, -smallest),
      make_cell("00:00:00:00:00:08", "\\x00\\x00", 1e-30f, true, 123456.79f),
      make_cell("00:00:00:00:00:09", std::string(128, 'w'), -1.17549435e-38f),
      make_cell("00:00:00:00:00:0A", "CellCellCell", 45, true, 0, false),
      make_cell("00:00:00:00:00:0B", "a\"b", -70),
      make_cell("00:00:00:00:00:0C", "Noise level:Noise level=", -71),
      make_cell("00:00:00:00:00:0D", "", -72, true, -96),
      make_cell("00:00:00:00:00:0E", "ce ll CELL", -73),
      make_cell("00:00:00:00:00:0F", "last16", -74, true, -97),
      make_cell("00:00:00:00:00:10", "Cell", -75),
      make_cell("00:00:00:00:00:11", "seventeenth", -76, true, -98),
  };
  const std::string text = write(cells);
  auto record = std::make_unique<refpoint>();
  std::memset(record.get(), 0, sizeof(refpoint));
  ASSERT_EQ(parse_scan(text.c_str(), record.get()), MAX_APS) << text;
  for (int k = 0; k < MAX_APS; ++k) {
    const listed_cell& c = cells[static_cast<std::size_t>(k)];
    const ap_reading& ap = record->ap[k];
    // The name as written: "Cell" and "Noise level" with an escaped first letter.
    std::string written = c.name;
    for (const char* word : {"Cell", "Noise level"}) {
      for (std::size_t at = written.find(word); at != std::string::npos; at = written.find(word, at + 4)) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(word[0]));
        written.replace(at, 1, escape);
      }
    }
    EXPECT_EQ(std::string(ap.address), std::string(c.address)) << k;
    EXPECT_EQ(std::string(ap.essid, std::find(ap.essid, ap.essid + 32, '\0')), apfold_name(written)) << k << " " << c.name;
    EXPECT_EQ(bits(ap.signal_level), bits(c.signal)) << k;
    EXPECT_EQ(bits(ap.noise_level), bits(c.has_noise ? c.noise : 0.0f)) << k;
  }

  // Read back by the listing reader, the cells are the same, names as written.
  listing_info info{};
  std::vector<listed_cell> again(cells.size());
  ASSERT_EQ(read_scan_listing(text.c_str(), again, &info), cells.size());
  EXPECT_EQ(info.format, listing_format::wireless_tools);
  for (std::size_t k = 0; k < cells.size(); ++k) {
    EXPECT_EQ(std::string(again[k].address), std::string(cells[k].address)) << k;
    EXPECT_EQ(bits(again[k].signal), bits(cells[k].signal)) << k;
    EXPECT_TRUE(again[k].has_noise) << k << ": some cells have a noise level, so all are written with one";
    EXPECT_EQ(bits(again[k].noise), bits(cells[k].has_noise ? cells[k].noise : 0.0f)) << k;
    EXPECT_EQ(again[k].in_dbm, cells[k].in_dbm) << k;
    if (std::string(cells[k].name).find("ell") == std::string::npos &&
        std::string(cells[k].name).find("oise") == std::string::npos) {
      EXPECT_EQ(std::string(again[k].name), std::string(cells[k].name)) << k;
    }
  }
}
