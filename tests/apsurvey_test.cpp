// The real apsurvey binary, run as a process in a survey directory, with
// fake scanners: small shell scripts written here that print listings in
// the wireless tools' and iw's layouts, fail, print nothing, hang or get
// refused. Real signals interrupt it in the middle of a point, a file-size
// limit fills its disk, and the surveys it records are folded by the real
// apfold and read back by the real apdump. The parts it is built on (the
// survey directory, the coordinates, the default scanner) are also called
// directly.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "apsurvey/scanner.h"
#include "apsurvey/survey.h"
#include "support.h"

using support::exists;
using support::list_dir;
using support::read_file;
using support::run_result;
using support::write_file;

namespace {

// --- listings, written from the two layouts -----------------------------------

struct ap {
  std::string address;  // as the scanner prints it
  std::string name;
  std::string signal;   // as printed, without the unit
  std::string noise;    // "" when the scanner prints none
};

std::string two_digits(int n) {
  char text[16];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

// What "iwlist wlan0 scan" prints.
std::string iwlist_listing(const std::vector<ap>& aps) {
  std::string text = "wlan0     Scan completed :\n";
  int n = 1;
  for (const ap& a : aps) {
    text += "          Cell " + two_digits(n++) + " - Address: " + a.address + "\n";
    text += "                    Channel:11\n"
            "                    Frequency:2.462 GHz (Channel 11)\n";
    text += "                    Quality=42/70  Signal level=" + a.signal + " dBm";
    if (!a.noise.empty()) text += "  Noise level=" + a.noise + " dBm";
    text += "\n                    Encryption key:on\n";
    text += "                    ESSID:\"" + a.name + "\"\n";
    text += "                    Bit Rates:6 Mb/s; 9 Mb/s; 12 Mb/s; 18 Mb/s; 24 Mb/s\n"
            "                              36 Mb/s; 48 Mb/s; 54 Mb/s\n"
            "                    Mode:Master\n"
            "                    Extra:tsf=00000004d2ff8b1c\n"
            "                    Extra: Last beacon=612ms ago\n"
            "                    IE: IEEE 802.11i/WPA2 Version 1\n"
            "                        Group Cipher : CCMP\n";
  }
  return text;
}

// What "iw dev wlan0 scan" prints (no noise levels); the first access point
// is the one the interface is associated with.
std::string iw_listing(const std::vector<ap>& aps) {
  std::string text;
  bool first = true;
  for (const ap& a : aps) {
    text += "BSS " + a.address + "(on wlan0)" + (first ? " -- associated" : "") + "\n";
    first = false;
    text += "\tlast seen: 812.104s [boottime]\n"
            "\tTSF: 812093716 usec (0d, 00:13:32)\n"
            "\tfreq: 5180\n"
            "\tbeacon interval: 100 TUs\n"
            "\tcapability: ESS Privacy SpectrumMgmt ShortSlotTime (0x0511)\n";
    text += "\tsignal: " + a.signal + " dBm\n";
    text += "\tlast seen: 96 ms ago\n"
            "\tInformation elements from Probe Response frame:\n";
    text += "\tSSID: " + a.name + "\n";
    text += "\tSupported rates: 6.0* 9.0 12.0* 18.0 24.0* 36.0 48.0 54.0 \n"
            "\tRSN:\t * Version: 1\n"
            "\t\t * Group cipher: CCMP\n"
            "\t\t * Pairwise ciphers: CCMP\n"
            "\t\t * Authentication suites: PSK\n"
            "\tBSS Load:\n"
            "\t\t * station count: 4\n"
            "\t\t * channel utilisation: 61/255\n";
  }
  return text;
}

// The report apsurvey writes, for cells given in the order it must write
// them, with addresses and levels as it must write them.
std::string report(const std::vector<ap>& cells) {
  std::string text;
  int n = 1;
  for (const ap& c : cells) {
    text += "          Cell " + two_digits(n++) + " - Address: " + c.address + "\n";
    text += "                    Signal level=" + c.signal + " dBm";
    if (!c.noise.empty()) text += "  Noise level=" + c.noise + " dBm";
    text += "\n                    ESSID:\"" + c.name + "\"\n";
  }
  return text;
}

// Regular files of a directory with their contents.
std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& name : list_dir(dir)) files[name] = read_file(dir + "/" + name);
  return files;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Apsurvey : public support::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    ASSERT_EQ(mkdir("survey", 0755), 0);
    ASSERT_EQ(mkdir("bin", 0755), 0);
  }

  // A fake scanner: run k runs step k (shell commands), the last step again
  // on every later run, or with `cycle` step 1 again after the last. It
  // counts its runs in bin/<name>.runs. Returns its absolute path.
  std::string scanner(const std::string& name, const std::vector<std::string>& steps, bool cycle = false) {
    const std::string bin = dir_ + "/bin/";
    std::string script = "#!/bin/sh\n"
                         "runs=$(cat '" + bin + name + ".runs' 2>/dev/null || echo 0)\n"
                         "runs=$((runs + 1))\n"
                         "echo $runs > '" + bin + name + ".runs'\n";
    const std::string count = std::to_string(steps.size());
    script += cycle ? "step=$(( (runs - 1) % " + count + " + 1 ))\n"
                    : "step=$runs; [ $step -gt " + count + " ] && step=" + count + "\n";
    script += "case $step in\n";
    for (std::size_t k = 0; k < steps.size(); ++k) script += std::to_string(k + 1) + ") " + steps[k] + " ;;\n";
    script += "esac\n";
    const std::string path = bin + name;
    write_file(path, script);
    EXPECT_EQ(chmod(path.c_str(), 0755), 0);
    return path;
  }

  // A step that prints `text` (kept in a file beside the scanner).
  std::string prints(const std::string& text) {
    const std::string path = dir_ + "/bin/listing" + std::to_string(++listings_);
    write_file(path, text);
    return "cat '" + path + "'";
  }

  int runs(const std::string& name) {
    bool ok = false;
    const std::string text = read_file("bin/" + name + ".runs", &ok);
    return ok ? std::atoi(text.c_str()) : 0;
  }

  run_result apsurvey(const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> argv{APSURVEY_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return support::run_with_input(argv, input, "survey");
  }

 private:
  int listings_ = 0;
};

const std::vector<ap> three = {
    {"00:1a:2b:3c:4d:01", "Office", "-70", "-95"},
    {"00:1a:2b:3c:4d:02", "Guest Net", "-50", "-94"},
    {"00:1A:2B:3C:4D:03", "", "-61", "-93"},
};

}  // namespace

// Whichever layout the scanner prints, the report is the wireless tools'
// layout, strongest first, addresses in upper case, names kept (hidden ones
// empty), noise levels only when the scanner gave some.
TEST_F(Apsurvey, WritesEitherLayoutStrongestFirst) {
  const struct {
    const char* what;
    std::string listing;
    std::string written;
    std::string warning;  // "" for none
  } rows[] = {
      {"wireless tools with noise levels", iwlist_listing(three),
       report({{"00:1A:2B:3C:4D:02", "Guest Net", "-50", "-94"},
               {"00:1A:2B:3C:4D:03", "", "-61", "-93"},
               {"00:1A:2B:3C:4D:01", "Office", "-70", "-95"}}),
       ""},
      {"wireless tools without noise levels, ties in the scanner's order",
       iwlist_listing({{"00:00:00:00:00:0a", "a", "-60", ""},
                       {"00:00:00:00:00:0b", "b", "-40", ""},
                       {"00:00:00:00:00:0c", "c", "-60", ""},
                       {"00:00:00:00:00:0d", "d", "-40", ""}}),
       report({{"00:00:00:00:00:0B", "b", "-40", ""},
               {"00:00:00:00:00:0D", "d", "-40", ""},
               {"00:00:00:00:00:0A", "a", "-60", ""},
               {"00:00:00:00:00:0C", "c", "-60", ""}}),
       ""},
      {"iw, hidden and escaped names, fractions",
       iw_listing({{"f4:f2:6d:01:78:99", "Guest Net", "-71.50", ""},
                   {"34:fc:b9:b7:99:2b", "", "-48.00", ""},
                   {"00:0f:66:e8:87:45", "\\x00\\x00\\x00\\x00", "-80.25", ""},
                   {"00:0f:66:e8:87:46", "Cellar", "-90.00", ""}}),
       report({{"34:FC:B9:B7:99:2B", "", "-48", ""},
               {"F4:F2:6D:01:78:99", "Guest Net", "-71.5", ""},
               {"00:0F:66:E8:87:45", "\\x00\\x00\\x00\\x00", "-80.25", ""},
               {"00:0F:66:E8:87:46", "\\x43ellar", "-90", ""}}),
       ""},
      {"few heard", iw_listing({{"00:00:00:00:00:01", "only", "-77.00", ""}}),
       report({{"00:00:00:00:00:01", "only", "-77", ""}}), "only 1 access point heard"},
      {"none heard", "wlan0     No scan results\n", "", "no access point heard"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove_all("survey");
    ASSERT_EQ(mkdir("survey", 0755), 0);
    const std::string command = scanner("s", {prints(row.listing)});
    const run_result r = apsurvey({"--scanner", command, "--scans", "2", "--wait", "0", "--at", "3,-4"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(read_file("survey/scan1-1"), row.written);
    EXPECT_EQ(read_file("survey/scan1-2"), row.written);
    EXPECT_EQ(read_file("survey/seq.txt"), "1\t(3,-4)\n");
    EXPECT_EQ(list_dir("survey"), (std::vector<std::string>{"scan1-1", "scan1-2", "seq.txt"}));
    EXPECT_TRUE(contains(r.out, "Point 1 at (3,-4)\n")) << r.out;
    EXPECT_TRUE(r.out.ends_with("Fold the survey with: apfold 1 2\n")) << r.out;
    if (row.warning.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_TRUE(contains(r.err, "apsurvey: point 1, scan 2 of 2: " + row.warning + "\n")) << r.err;
    }
  }
}

// --raw writes what a wireless-tools scanner printed, byte for byte; an iw
// listing, which apfold cannot read, is refused before anything is kept.
TEST_F(Apsurvey, RawKeepsWirelessToolsOutputAndRefusesIw) {
  const std::string listing = iwlist_listing(three) + "\r\n trailing bytes \x01\xff";
  const run_result kept =
      apsurvey({"--raw", "--scanner", scanner("wt", {prints(listing)}), "--scans", "1", "--wait", "0", "--at", "0,0"});
  EXPECT_EQ(kept.exit_code, 0) << kept.err;
  EXPECT_TRUE(read_file("survey/scan1-1") == listing);

  const auto before = snapshot("survey");
  const run_result refused = apsurvey(
      {"--raw", "--scanner", scanner("iw", {prints(iw_listing(three))}), "--wait", "0", "--at", "1,0"});
  EXPECT_EQ(refused.exit_code, 2);
  EXPECT_TRUE(contains(refused.err, "--raw keeps a wireless-tools listing as it is, but the scanner prints the iw "
                                    "layout"))
      << refused.err;
  EXPECT_EQ(runs("iw"), 1);
  EXPECT_EQ(snapshot("survey"), before);
}

// Points typed one after another: the accepted forms, a line that is no
// point (said, and skipped), blank lines, and "q", after which nothing is
// read; the end of input finishes as well.
TEST_F(Apsurvey, RecordsPointsReadFromStandardInput) {
  const std::string command = scanner("s", {prints(iwlist_listing(three)), prints(iw_listing(three))}, true);
  const run_result r =
      apsurvey({"--scanner", command, "--scans", "2", "--wait", "0"}, "0,0\n(1,-2)\n\n  3 4  \nnonsense\n-5,6\nq\n9,9\n");
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(read_file("survey/seq.txt"), "1\t(0,0)\n2\t(1,-2)\n3\t(3,4)\n4\t(-5,6)\n");
  EXPECT_EQ(list_dir("survey").size(), 9u);
  EXPECT_EQ(runs("s"), 8);
  EXPECT_EQ(r.err,
            "apsurvey: \"nonsense\" is not a point: type x,y (or (x,y), or x y) in whole numbers, or q to finish\n");
  EXPECT_TRUE(contains(r.out, "New survey: 2 scans a point\n")) << r.out;
  EXPECT_TRUE(contains(r.out, "Point 3 at (3,4)\n  scan 1 of 2: 3 access points\n  scan 2 of 2: 3 access points\n"
                              "Point 3 recorded: scan3-1 .. scan3-2\n"))
      << r.out;
  EXPECT_TRUE(r.out.ends_with("Fold the survey with: apfold 4 2\n")) << r.out;
  // Scans alternate between the layouts; the reports differ only in the
  // noise levels, which iw does not print.
  EXPECT_EQ(read_file("survey/scan2-1"), report({{"00:1A:2B:3C:4D:02", "Guest Net", "-50", "-94"},
                                                 {"00:1A:2B:3C:4D:03", "", "-61", "-93"},
                                                 {"00:1A:2B:3C:4D:01", "Office", "-70", "-95"}}));
  EXPECT_EQ(read_file("survey/scan2-2"), report({{"00:1A:2B:3C:4D:02", "Guest Net", "-50", ""},
                                                 {"00:1A:2B:3C:4D:03", "", "-61", ""},
                                                 {"00:1A:2B:3C:4D:01", "Office", "-70", ""}}));

  // Resumed with the end of input (no final line end) instead of "q".
  const run_result more = apsurvey({"--scanner", command, "--wait", "0"}, "7,8");
  EXPECT_EQ(more.exit_code, 0) << more.err;
  EXPECT_EQ(read_file("survey/seq.txt"), "1\t(0,0)\n2\t(1,-2)\n3\t(3,4)\n4\t(-5,6)\n5\t(7,8)\n");
  EXPECT_TRUE(more.out.ends_with("Fold the survey with: apfold 5 2\n")) << more.out;
}

// A survey goes on where seq.txt ends, with the scan count its files have,
// whether apsurvey or a person wrote it.
TEST_F(Apsurvey, ResumesAnExistingSurvey) {
  const std::string command = scanner("s", {prints(iwlist_listing(three))});
  write_file("survey/seq.txt", "1\t(0,0)\r\n2 ( 5,-1)");  // by hand: CR LF, no final line end
  for (const char* name : {"scan1-1", "scan1-2", "scan1-3", "scan2-1", "scan2-2", "scan2-3"}) {
    write_file(std::string("survey/") + name, "an old report\n");
  }
  const run_result r = apsurvey({"--scanner", command, "--wait", "0", "--at", "6,-1"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "Survey of 2 points, 3 scans a point, the last at (5,-1)\n")) << r.out;
  EXPECT_EQ(read_file("survey/seq.txt"), "1\t(0,0)\r\n2 ( 5,-1)\n3\t(6,-1)\n");
  EXPECT_TRUE(exists("survey/scan3-3"));
  EXPECT_FALSE(exists("survey/scan3-4"));
  EXPECT_EQ(read_file("survey/scan1-1"), "an old report\n");

  // The same count given explicitly is fine.
  const run_result same = apsurvey({"--scanner", command, "--scans", "3", "--wait", "0", "--at", "7,-1"});
  EXPECT_EQ(same.exit_code, 0) << same.err;
  EXPECT_TRUE(same.out.ends_with("Fold the survey with: apfold 4 3\n")) << same.out;

  // apfold reads the whole of it.
  const run_result folded = support::run_apfold({"4", "3"}, "survey");
  EXPECT_EQ(folded.exit_code, 0) << folded.out;
}

// A survey that would not fold, or that apsurvey would make unfoldable, is
// refused before the scanner runs and before anything is written.
TEST_F(Apsurvey, RefusesAnInconsistentSurvey) {
  const struct {
    const char* what;
    std::string seq;  // "" for no seq.txt
    std::vector<std::string> scans;
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {"a gap in the numbering", "1\t(0,0)\n2\t(0,1)\n4\t(0,2)\n", {"scan1-1", "scan2-1"}, {},
       "seq.txt: entry 3 is numbered 4: entries must be numbered 1, 2, 3, ... in order"},
      {"an entry that does not read", "1\t(0,0)\n2\t(0;1)\n", {"scan1-1"}, {},
       "seq.txt: entry 2 does not read as \"2<TAB>(x,y)\""},
      {"a last entry without its parenthesis", "1\t(0,0)\n2\t(0,1\n", {"scan1-1", "scan2-1"}, {},
       "seq.txt: entry 2 has no closing parenthesis, so no entry can follow it"},
      {"a NUL byte", std::string("1\t(0,0)\n\0" "2\t(0,1)\n", 17), {"scan1-1"}, {},
       "seq.txt: holds a NUL byte, after which apfold reads nothing"},
      {"a missing scan file", "1\t(0,0)\n2\t(0,1)\n3\t(0,2)\n",
       {"scan1-1", "scan1-2", "scan2-1", "scan2-2", "scan3-1"}, {},
       "scan3-2: missing: point 3 has fewer scan files than point 1 (2)"},
      {"no scan file at all", "1\t(0,0)\n", {}, {}, "scan1-1: missing: seq.txt has 1 point, but point 1 has no scan file"},
      {"--scans disagreeing", "1\t(0,0)\n", {"scan1-1", "scan1-2"}, {"--scans", "3"},
       "--scans 3 disagrees with the survey, whose points have 2 scans each (scan1-1 .. scan1-2)"},
      {"scan files of the next point", "1\t(0,0)\n", {"scan1-1", "scan2-1"}, {},
       "scan2-1: is there already, but seq.txt ends at point 1; move the scan files of point 2 away to record it"},
      {"scan files of a first point without seq.txt", "", {"scan1-3"}, {"--scans", "3"},
       "scan1-3: is there already, but seq.txt has no point; move the scan files of point 1 away to record it"},
  };
  const std::string command = scanner("s", {prints(iwlist_listing(three))});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove_all("survey");
    ASSERT_EQ(mkdir("survey", 0755), 0);
    if (!row.seq.empty()) write_file("survey/seq.txt", row.seq);
    for (const auto& name : row.scans) write_file("survey/" + name, "report\n");
    const auto before = snapshot("survey");
    std::vector<std::string> args{"--scanner", command, "--wait", "0", "--at", "9,9"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const run_result r = apsurvey(args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "apsurvey: " + row.message + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(snapshot("survey"), before);
    EXPECT_EQ(runs("s"), 0);
  }
  // A scan file that is a directory cannot be folded either.
  std::filesystem::remove_all("survey");
  ASSERT_EQ(mkdir("survey", 0755), 0);
  write_file("survey/seq.txt", "1\t(0,0)\n2\t(0,1)\n");
  write_file("survey/scan1-1", "report\n");
  ASSERT_EQ(mkdir("survey/scan2-1", 0755), 0);
  const run_result dir = apsurvey({"--scanner", command, "--at", "9,9"});
  EXPECT_EQ(dir.exit_code, 1);
  EXPECT_EQ(dir.err, "apsurvey: scan2-1: not a regular file\n");
  ASSERT_EQ(rmdir("survey/scan2-1"), 0);
  ASSERT_EQ(mkdir("survey/seq.txt.d", 0755), 0);
  std::filesystem::remove("survey/seq.txt");
  std::filesystem::rename("survey/seq.txt.d", "survey/seq.txt");
  const run_result seq_dir = apsurvey({"--scanner", command, "--at", "9,9"});
  EXPECT_EQ(seq_dir.exit_code, 1);
  EXPECT_EQ(seq_dir.err, "apsurvey: seq.txt: Is a directory\n");
  EXPECT_EQ(runs("s"), 0);
}

// A scanner that fails is run again, twice; when every run fails the point
// is given up and nothing of it stays, not even the scans that worked. The
// survey recorded before it is untouched.
TEST_F(Apsurvey, FailingScannersAreRetriedThenThePointIsGivenUp) {
  const struct {
    const char* what;
    std::string step;  // what the scanner does once the first scan of the point is done
    std::vector<std::string> args;
    std::string said;
  } rows[] = {
      {"a failing status", "echo 'device busy' >&2; exit 1", {}, "the scanner exited with status 1: device busy"},
      {"no output", "exit 0", {}, "the scanner printed nothing"},
      {"no listing", "echo 'hello there'", {}, "the scanner printed no scan listing (hello there)"},
      {"killed", "kill -9 $$", {}, "the scanner was ended by signal 9 (Killed)"},
      {"hanging", "sleep 60", {"--timeout", "1"}, "the scanner gave no answer within 1 s"},
      {"closing its output but going on", "exec >&- 2>&-; sleep 60", {"--timeout", "0.5"},
       "the scanner gave no answer within 0.5 s"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove_all("survey");
    ASSERT_EQ(mkdir("survey", 0755), 0);
    write_file("survey/seq.txt", "1\t(0,0)\n");
    write_file("survey/scan1-1", "report\n");
    write_file("survey/scan1-2", "report\n");
    write_file("survey/scan1-3", "report\n");
    const auto before = snapshot("survey");
    const std::string name = std::string("s") + std::to_string(&row - rows);
    const std::string command = scanner(name, {prints(iw_listing(three)), row.step});
    // exec: the shell apsurvey starts is the scanner, so that a signal ends
    // the scanner itself.
    std::vector<std::string> args{"--scanner", "exec " + command, "--wait", "0", "--at", "1,1"};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const run_result r = apsurvey(args);
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(runs(name), 4);
    const std::string where = "apsurvey: point 2, scan 2 of 3: ";
    EXPECT_EQ(r.err, where + row.said + "; trying again\n" + where + row.said + "; trying again\n" + where + row.said +
                         "\napsurvey: point 2 given up: the scanner failed 3 times at scan 2; nothing of the point is "
                         "kept\n");
    EXPECT_EQ(snapshot("survey"), before);
    EXPECT_TRUE(r.out.ends_with("Fold the survey with: apfold 1 3\n")) << r.out;
  }
}

// In a session a point given up is only that: the next one is recorded, and
// the status still says that one was lost. A scanner that recovers within
// its runs loses nothing.
TEST_F(Apsurvey, AGivenUpPointDoesNotEndTheSession) {
  const std::string fine = prints(iwlist_listing(three));
  const std::string command = scanner("s", {fine, "exit 1", "exit 1", "exit 1", fine, "exit 1", fine});
  const run_result r = apsurvey({"--scanner", command, "--scans", "2", "--wait", "0"}, "0,0\n5,5\n");
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(runs("s"), 7);
  EXPECT_EQ(read_file("survey/seq.txt"), "1\t(5,5)\n");
  EXPECT_EQ(list_dir("survey"), (std::vector<std::string>{"scan1-1", "scan1-2", "seq.txt"}));
  EXPECT_TRUE(contains(r.err, "point 1 given up")) << r.err;
  EXPECT_TRUE(contains(r.err, "apsurvey: point 1, scan 2 of 2: the scanner exited with status 1; trying again\n"))
      << r.err;
}

// Both scanners need root for a fresh scan; refused, apsurvey says so and
// stops at once, without trying again.
TEST_F(Apsurvey, LackOfPrivilegesIsSaidPlainly) {
  const struct {
    const char* what;
    std::string step;
  } rows[] = {
      {"iw", "echo 'command failed: Operation not permitted (-1)' >&2; exit 255"},
      {"iwlist", "echo 'wlan0     Interface doesn'\"'\"'t support scanning : Operation not permitted' >&2; exit 0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string command = scanner(row.what, {row.step});
    const run_result r = apsurvey({"--scanner", command, "--wait", "0"}, "0,0\n1,1\n");
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(runs(row.what), 1);
    EXPECT_TRUE(contains(r.err, "apsurvey: the scanner was refused for lack of privileges: a fresh scan needs root; "
                                "run apsurvey as root (sudo apsurvey ...)\n"))
        << r.err;
    EXPECT_EQ(list_dir("survey"), std::vector<std::string>{});
  }
}

namespace {

// apsurvey started with standard input from a file, its output to files, so
// that a test can signal it while it runs.
struct started {
  pid_t pid = -1;
};

started start_apsurvey(const std::vector<std::string>& args, const std::string& input_file) {
  std::vector<std::string> argv{APSURVEY_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  std::fflush(nullptr);
  started s;
  s.pid = fork();
  if (s.pid == 0) {
    const rlimit no_core{0, 0};  // SIGQUIT's default action dumps core
    setrlimit(RLIMIT_CORE, &no_core);
    // Whatever this test runs under (nohup, a background job), the signals
    // reach apsurvey with their default actions.
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int in = open(input_file.c_str(), O_RDONLY);
    const int out = open("out.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open("err.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || chdir("survey") != 0) _exit(126);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> raw;
    for (auto& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    execv(raw[0], raw.data());
    _exit(127);
  }
  return s;
}

bool wait_for_file(const std::string& path) {
  for (int i = 0; i < 3000; ++i) {
    if (exists(path) && !read_file(path).empty()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Whether a process has ended: gone, or a zombie nobody has reaped yet.
bool has_ended(pid_t pid) {
  for (int i = 0; i < 500; ++i) {
    bool ok = false;
    const std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat", &ok);
    const std::size_t close = stat.rfind(')');
    if (!ok || stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z")) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace

// A real signal in the middle of a point, while the scanner runs and the
// first scan of the point is already written under its temporary name: the
// survey is left as it was after the previous point (no scan file of the
// interrupted point, no temporary file, seq.txt as it was), the scanner is
// killed with its process group, and apsurvey dies of the signal.
TEST_F(Apsurvey, ASignalInTheMiddleOfAPointLeavesTheSurveyAsItWas) {
  for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(strsignal(sig));
    std::filesystem::remove_all("survey");
    ASSERT_EQ(mkdir("survey", 0755), 0);
    const std::string name = "s" + std::to_string(sig);
    const std::string pid_file = dir_ + "/bin/" + name + ".pid";
    const std::string listing = prints(iwlist_listing(three));
    // Point 1: scans 1 and 2; point 2: scan 1, then a scan that hangs in a
    // child of the shell.
    const std::string command =
        scanner(name, {listing, listing, listing, "sleep 60 & echo $! > '" + pid_file + "'; wait"});
    write_file("input.txt", "0,0\n1,1\n");
    const started run = start_apsurvey({"--scanner", command, "--scans", "2", "--wait", "0"}, "input.txt");
    ASSERT_GT(run.pid, 0);
    ASSERT_TRUE(wait_for_file(pid_file)) << read_file("err.txt");
    const pid_t sleeper = std::atoi(read_file(pid_file).c_str());
    const std::string temporary = "survey/scan2-1.tmp." + std::to_string(run.pid);
    EXPECT_TRUE(exists(temporary)) << "the interrupted point's first scan is written";
    EXPECT_EQ(list_dir("survey").size(), 4u);

    ASSERT_EQ(kill(run.pid, sig), 0);
    int status = 0;
    ASSERT_EQ(waitpid(run.pid, &status, 0), run.pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status << "\n" << read_file("err.txt");
    EXPECT_EQ(WTERMSIG(status), sig);
    EXPECT_EQ(list_dir("survey"), (std::vector<std::string>{"scan1-1", "scan1-2", "seq.txt"}));
    EXPECT_EQ(read_file("survey/seq.txt"), "1\t(0,0)\n");
    EXPECT_TRUE(has_ended(sleeper)) << "the scanner's child " << sleeper << " still runs";
    kill(sleeper, SIGKILL);
  }
}

// Without room on the disk (a file-size limit here), the point goes, and
// what the survey held stays as it was: when a report cannot be written, and
// when seq.txt cannot take the new entry, which is then cut back to its
// size.
TEST_F(Apsurvey, AFullDiskLeavesTheSurveyAsItWas) {
  std::string seq;
  for (int i = 1; i <= 60; ++i) {
    seq += std::to_string(i) + "\t(" + std::to_string(i) + ",0)\n";
    write_file("survey/scan" + std::to_string(i) + "-1", "r\n");
  }
  write_file("survey/seq.txt", seq);
  const auto before = snapshot("survey");
  const std::string written = report({{"00:1A:2B:3C:4D:02", "Guest Net", "-50", "-94"},
                                      {"00:1A:2B:3C:4D:03", "", "-61", "-93"},
                                      {"00:1A:2B:3C:4D:01", "Office", "-70", "-95"}});
  ASSERT_LT(written.size(), seq.size());
  const std::string command = scanner("s", {prints(iwlist_listing(three))});
  const struct {
    const char* what;
    long long limit;
    std::string file;
  } rows[] = {
      {"a report", static_cast<long long>(written.size()) - 1, "scan61-1.tmp."},
      {"seq.txt", static_cast<long long>(seq.size()) + 5, "seq.txt"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::vector<std::string> argv{APSURVEY_BINARY, "--scanner", command, "--wait", "0", "--at", "61,0"};
    const run_result r = support::run_with_input(argv, "", "survey", {.file_size = row.limit});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_TRUE(contains(r.err, "apsurvey: point 61 not recorded: " + row.file)) << r.err;
    EXPECT_TRUE(r.err.ends_with(": File too large\n")) << r.err;
    EXPECT_EQ(snapshot("survey"), before);
  }
  const run_result room = apsurvey({"--scanner", command, "--wait", "0", "--at", "61,0"});
  EXPECT_EQ(room.exit_code, 0) << room.err;
  EXPECT_EQ(read_file("survey/scan61-1"), written);
}

// End to end: a survey recorded from scanners of both layouts, each hearing
// 20 access points in no particular order, folded by apfold and read back
// by apdump. apfold keeps 16 cells of a report; strongest first, they are the
// 16 strongest, with exactly the levels the scanners printed.
TEST_F(Apsurvey, RecordedSurveyFoldsAndReadsBack) {
  // Access point k (0..19) at point p: signal -(30 + 3k + p), shuffled.
  const int order[20] = {7, 19, 3, 12, 0, 15, 9, 1, 18, 5, 11, 16, 2, 8, 14, 4, 17, 10, 6, 13};
  const auto listing_at = [&](int point, bool iw) {
    std::vector<ap> aps;
    for (int k : order) {
      char address[32];
      std::snprintf(address, sizeof address, "02:00:00:00:%02x:%02x", 0xa0 + k, 0xb0 + k);
      const std::string name = k == 4 ? "" : k == 5 ? "Guest Net" : "net" + std::to_string(k);
      const std::string signal = std::to_string(-(30 + 3 * k + point)) + (iw ? ".00" : "");
      aps.push_back({address, name, signal, iw ? "" : "-90"});
    }
    return iw ? iw_listing(aps) : iwlist_listing(aps);
  };
  // Each point is scanned three times: wireless tools, iw, wireless tools.
  std::vector<std::string> steps;
  for (int point = 1; point <= 3; ++point) {
    steps.push_back(prints(listing_at(point, false)));
    steps.push_back(prints(listing_at(point, true)));
    steps.push_back(prints(listing_at(point, false)));
  }
  const std::string command = scanner("s", steps);
  const run_result r = apsurvey({"--scanner", command, "--scans", "3", "--wait", "0"}, "0,0\n(2,0)\n1 -1\n");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  ASSERT_TRUE(r.out.ends_with("Fold the survey with: apfold 3 3\n")) << r.out;

  const run_result folded = support::run_apfold({"3", "3"}, "survey");
  ASSERT_EQ(folded.exit_code, 0) << folded.out;
  EXPECT_EQ(folded.out, "Writing database\n") << "the 16 strongest are the same in every scan";
  const run_result dumped = support::run({APDUMP_BINARY, "--csv", "db.bin"}, "survey");
  ASSERT_EQ(dumped.exit_code, 0) << dumped.err;

  std::string expected = "point,x,y,address,essid,signal,noise,seen\n";
  const int xs[] = {0, 2, 1};
  const int ys[] = {0, 0, -1};
  for (int point = 1; point <= 3; ++point) {
    for (int k = 0; k < 16; ++k) {
      char address[32];
      std::snprintf(address, sizeof address, "02:00:00:00:%02X:%02X", 0xa0 + k, 0xb0 + k);
      // apfold's reading of a name: its first word less its last byte.
      const std::string name = k == 4 ? "" : k == 5 ? "Gues" : "net" + std::to_string(k);
      // Noise -90 twice and none (0) once: a mean of -60.
      expected += std::to_string(point) + "," + std::to_string(xs[point - 1]) + "," + std::to_string(ys[point - 1]) +
                  "," + address + "," + name + "," + std::to_string(-(30 + 3 * k + point)) + ",-60,3\n";
    }
  }
  EXPECT_EQ(dumped.out, expected);
}

// --- the command line ------------------------------------------------------------

TEST_F(Apsurvey, HelpVersionAndUsageErrors) {
  const run_result help = apsurvey({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: apsurvey [--scans S] [--scanner COMMAND]")) << help.out;
  const run_result version = apsurvey({"--version"});
  EXPECT_EQ(version.exit_code, 0);
  EXPECT_EQ(version.out, std::string("apsurvey ") + APFOLD_VERSION + "\n");

  const struct {
    std::vector<std::string> args;
    std::string message;
  } rows[] = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"survey"}, "unexpected argument survey"},
      {{"--scans"}, "--scans needs a value"},
      {{"--scans", "0"}, "--scans 0: not a count from 1 to 64"},
      {{"--scans", "65"}, "--scans 65: not a count from 1 to 64"},
      {{"--scans", "3x"}, "--scans 3x: not a count from 1 to 64"},
      {{"--wait", "-1"}, "--wait -1: not a number of seconds from 0 to 3600"},
      {{"--wait", "1s"}, "--wait 1s: not a number of seconds from 0 to 3600"},
      {{"--timeout", "0"}, "--timeout 0: not a number of seconds above 0, at most 3600"},
      {{"--timeout", "3601"}, "--timeout 3601: not a number of seconds above 0, at most 3600"},
      {{"--at", "3;4"}, "--at 3;4: not a point X,Y of whole numbers"},
      {{"--at", "2147483648,0"}, "--at 2147483648,0: not a point X,Y of whole numbers"},
      {{"--scanner", ""}, "--scanner needs a command"},
  };
  for (const auto& row : rows) {
    const run_result r = apsurvey(row.args);
    EXPECT_EQ(r.exit_code, 2) << row.message;
    EXPECT_TRUE(r.err.starts_with("apsurvey: " + row.message + "\nUsage: apsurvey")) << r.err;
    EXPECT_EQ(r.out, "") << row.message;
  }
  EXPECT_EQ(list_dir("survey"), std::vector<std::string>{});
}

// --- the parts, called directly --------------------------------------------------

TEST(ApsurveyParts, CoordinatesAsASurveyorTypesThem) {
  const struct {
    const char* text;
    bool ok;
    int32_t x = 0, y = 0;
  } rows[] = {
      {"3,4", true, 3, 4},          {"(3,4)", true, 3, 4},        {"3 4", true, 3, 4},
      {" ( -3 , +4 ) ", true, -3, 4}, {"3,\t-4", true, 3, -4},     {"0 0", true, 0, 0},
      {"-2147483648,2147483647", true, INT32_MIN, INT32_MAX},
      {"2147483648,0", false},      {"34", false},                {"3,", false},
      {",4", false},                {"(3,4", false},              {"3,4)", false},
      {"3,4,5", false},             {"3;4", false},               {"3.5,4", false},
      {"+-3,4", false},             {"", false},                  {"q", false},
      {"3, 4 x", false},            {"((3,4))", false},
  };
  for (const auto& row : rows) {
    int32_t x = 7, y = 7;
    EXPECT_EQ(parse_coordinates(row.text, &x, &y) == 0, row.ok) << "\"" << row.text << "\"";
    if (row.ok) {
      EXPECT_EQ(x, row.x) << row.text;
      EXPECT_EQ(y, row.y) << row.text;
    }
  }
}

TEST_F(Apsurvey, DefaultScannerIsIwOnTheFirstWirelessInterface) {
  // A stand-in for /sys/class/net and for the directories of PATH.
  for (const char* d : {"net", "net/eth0", "net/wlp3s0", "net/wlan1", "net/wlan1/wireless", "net/wlp3s0/phy80211",
                        "net/lo", "with-iw", "without-iw"}) {
    ASSERT_EQ(mkdir(d, 0755), 0) << d;
  }
  write_file("with-iw/iw", "#!/bin/sh\n");
  ASSERT_EQ(chmod("with-iw/iw", 0755), 0);
  write_file("without-iw/iw", "not a program\n");  // not executable
  const std::string path = dir_ + "/without-iw:" + dir_ + "/with-iw";
  EXPECT_EQ(default_scanner("net", path.c_str(), false), "iw dev 'wlan1' scan");
  EXPECT_EQ(default_scanner("net", path.c_str(), true), "iwlist 'wlan1' scan");
  EXPECT_EQ(default_scanner("net", (dir_ + "/without-iw").c_str(), false), "iwlist 'wlan1' scan");
  EXPECT_EQ(default_scanner("net", nullptr, false), "iwlist 'wlan1' scan");
  std::filesystem::remove_all("net/wlan1");
  EXPECT_EQ(default_scanner("net", path.c_str(), false), "iw dev 'wlp3s0' scan");
  std::filesystem::remove_all("net/wlp3s0");
  EXPECT_EQ(default_scanner("net", path.c_str(), false), "iwlist scan");
  EXPECT_EQ(default_scanner("missing", path.c_str(), false), "iwlist scan");
  EXPECT_EQ(shell_quote("it's"), "'it'\\''s'");
}

// A temporary name that is taken (by a file a dead run with the same pid
// left, or by a link planted there) is replaced, never written through; a
// scan file that turns up under a point's name before it is complete stops
// the point, and everything of it goes.
TEST_F(Apsurvey, PointFilesAreNeverWrittenThroughALink) {
  write_file("victim", "precious");
  const std::string temporary = "scan1-1.tmp." + std::to_string(getpid());
  ASSERT_EQ(symlink("victim", temporary.c_str()), 0);
  const auto owned = std::make_unique<point_files>();
  point_files* point = owned.get();
  begin_point(point, 1);
  std::string problem;
  ASSERT_EQ(add_scan(point, "report one\n", 11, &problem), 0) << problem;
  EXPECT_EQ(read_file("victim"), "precious");
  struct stat st {};
  ASSERT_EQ(lstat(temporary.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(read_file(temporary), "report one\n");
  ASSERT_EQ(add_scan(point, "report two\n", 11, &problem), 0) << problem;

  write_file("scan1-2", "someone else's");
  EXPECT_EQ(commit_point(point, 4, 5, true, &problem), 1);
  EXPECT_EQ(problem, "scan1-2: is there already");
  EXPECT_EQ(list_dir("."), (std::vector<std::string>{"bin", "scan1-2", "survey", "victim"}));
  EXPECT_EQ(read_file("scan1-2"), "someone else's");

  ASSERT_EQ(unlink("scan1-2"), 0);
  begin_point(point, 1);
  ASSERT_EQ(add_scan(point, "a", 1, &problem), 0) << problem;
  ASSERT_EQ(add_scan(point, "b", 1, &problem), 0) << problem;
  EXPECT_EQ(commit_point(point, 4, 5, false, &problem), 0) << problem;
  EXPECT_EQ(read_file("seq.txt"), "\n1\t(4,5)\n");
  EXPECT_EQ(read_file("scan1-2"), "b");
}
