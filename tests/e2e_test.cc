// End-to-end tests: the built header_tool run in a temporary directory
// with a clean environment and no terminal.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "tests/tool_fixture.h"

namespace {

using E2ETest = ToolTest;

std::string record(long pos, const char* heading, const char* id) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%7ld %s / %-20.20s\n", pos, heading, id);
  return buf;
}

// Two SOH products with CR CR LF line ends; the records are at the line
// feeds that end the sequence lines.
const std::string kTwoProducts =
    "\x01\r\r\n101 \r\r\nSAUS70 KWBC 081800\r\r\nMTRDEN\r\r\nbody\r\r\n\x03"
    "\x01\r\r\n102 \r\r\nFTUS80 KWBC 081800\r\r\nTAFDEN\r\r\n\x03";
const std::string kTwoRecords =
    record(10, "SAUS70 KWBC 081800", "MTRDEN") + record(59, "FTUS80 KWBC 081800", "TAFDEN");
const std::string kThirdProduct = "\x01\r\r\n103 \r\r\nWWUS30 KWNS 081810\r\r\nSEL0\r\r\n\x03";
const std::string kThirdRecord = record(101, "WWUS30 KWNS 081810", "SEL0");

TEST_F(E2ETest, HelpPrintsTheHelpTextAndNothingElse) {
  ToolRun r = run({"-h", "-fp", "etc", "2026120818.raw"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("header_tool: This program parses input data files and creates header files\n"
                        "header_tool syntax (version:5.60.2-LINUX-X11)\n"
                        "   header_tool [options...]\n"
                        "Keyed options...\n"
                        " -df file    Resource/defaults file name\n"
                        " -na name    Program name\n"
                        " -h          Print this help\n",
                        0),
            0u)
      << r.out;
  EXPECT_NE(r.out.find(" -nh hour[,step]  Number of hours to view\n"), std::string::npos);
  EXPECT_NE(r.out.find("Positional options...\n file [file...]  Input file names\n"),
            std::string::npos);
  EXPECT_EQ(r.out.find("HEADER DATA FILE GENERATOR"), std::string::npos);
  EXPECT_FALSE(exists("hdr"));
}

TEST_F(E2ETest, VersionOfEveryProgram) {
  for (const char* program : {KIV_HEADER_TOOL, KIV_HEADER_CHECK}) {
    ChildRun r = run_program({program, "-fp", "etc", "--version", "2026120818.raw"}, {}, dir_);
    EXPECT_EQ(r.status, 0) << program;
    EXPECT_EQ(r.out, fs::path(program).filename().string() + " 5.60.2\n");
    EXPECT_EQ(r.err, "");
  }
  EXPECT_FALSE(exists("hdr"));
}

TEST_F(E2ETest, BannerAndRecordsAtTheDefaultLevels) {
  write("raw/2026120818.raw", kTwoProducts);
  ToolRun r = run(with_paths({"-me", "out1", "2026120818.raw"}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "      HEADER DATA FILE GENERATOR (Ver 5.60.2-LINUX-X11)\n\n"
            "Writing to header file: hdr/2026120818.hdr\n"
            "Processing products...\n" + kTwoRecords + "hdr/2026120818.hdr: 2 records added\n");
  EXPECT_EQ(read("hdr/2026120818.hdr"), kTwoRecords);
  ToolRun again = run(with_paths({"-ba", "-me", "mess", "2026120818.raw"}));
  EXPECT_NE(again.out.find("Header file exists, left alone: hdr/2026120818.hdr\n"), std::string::npos);
}

TEST_F(E2ETest, BatchModeWithKivcurtimeTakesTheLatestPresentFile) {
  write("raw/2026120815.raw", kTwoProducts);
  write("raw/2026120816.raw", kTwoProducts);
  write("raw/2026120817.raw", "");  // not larger than the minimum size
  ToolRun r = run(with_paths({"-ba"}), {"kivcurtime=2026120818"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read("hdr/2026120816.hdr"), kTwoRecords);
  EXPECT_FALSE(exists("hdr/2026120815.hdr"));
  EXPECT_FALSE(exists("hdr/2026120817.hdr"));
}

TEST_F(E2ETest, SeriesAndPositionalFiles) {
  for (const char* h : {"16", "17", "18"}) write(std::string("raw/20261208") + h + ".raw", kTwoProducts);
  ToolRun series = run(with_paths({"-ba", "-nh", "-2", "2026120818.raw"}));
  EXPECT_EQ(series.status, 0) << series.err;
  for (const char* h : {"16", "17", "18"})
    EXPECT_EQ(read(std::string("hdr/20261208") + h + ".hdr"), kTwoRecords) << h;

  fs::remove_all(dir_ / "hdr");
  ToolRun two = run(with_paths({"-ba", "2026120816.raw", "2026120818.raw"}));
  EXPECT_EQ(two.status, 0) << two.err;
  EXPECT_TRUE(exists("hdr/2026120816.hdr"));
  EXPECT_FALSE(exists("hdr/2026120817.hdr"));
  EXPECT_TRUE(exists("hdr/2026120818.hdr"));
}

TEST_F(E2ETest, ExistingHeaderPolicyInBatchMode) {
  write("raw/2026120818.raw", kTwoProducts);
  ASSERT_EQ(run(with_paths({"-ba", "2026120818.raw"})).status, 0);
  write("raw/2026120818.raw", kTwoProducts + kThirdProduct);

  ToolRun keep = run(with_paths({"-ba", "-me", "out1", "2026120818.raw"}));
  EXPECT_EQ(keep.status, 0);
  EXPECT_EQ(read("hdr/2026120818.hdr"), kTwoRecords);  // left alone
  EXPECT_NE(keep.out.find(kThirdRecord), std::string::npos);  // records as messages only

  ToolRun app = run(with_paths({"-ba", "-pf", "app", "2026120818.raw"}));
  EXPECT_EQ(app.status, 0) << app.err;
  EXPECT_EQ(read("hdr/2026120818.hdr"), kTwoRecords + kThirdRecord);
  ASSERT_EQ(run(with_paths({"-ba", "-pf", "app", "2026120818.raw"})).status, 0);
  EXPECT_EQ(read("hdr/2026120818.hdr"), kTwoRecords + kThirdRecord);  // nothing twice

  write("hdr/2026120818.hdr", "garbage\n");
  ToolRun over = run(with_paths({"-ba", "-pf", "over", "2026120818.raw"}));
  EXPECT_EQ(over.status, 0);
  EXPECT_EQ(read("hdr/2026120818.hdr"), kTwoRecords + kThirdRecord);
}

// The data file of the hour `hours` from now, named by the convention.
std::string hour_from_now(int hours) {
  time_t t = std::time(nullptr) + hours * 3600L;
  struct tm tm {};
  gmtime_r(&t, &tm);
  char name[32];
  std::strftime(name, sizeof name, "%Y%m%d%H", &tm);
  return name;
}

TEST_F(E2ETest, MeaninglessValuesAreWarnedOnceAndChangeNothingElse) {
  // kivcurtime is read for each current file: "cu" and "cu1" read it twice.
  // A value that is no date and hour stands for the clock, so the files
  // of the hours around now are there to be found.
  for (int h = -1; h <= 1; ++h) write("raw/" + hour_from_now(h) + ".raw", kTwoProducts);
  const std::vector<std::string> now_files = {"2026120818.raw", "cu", "cu1"};
  struct Case {
    std::vector<std::string> args;
    std::string env;
    std::string warning;
    std::string header;  // hdr/2026120818.hdr afterwards
  };
  const Case cases[] = {
      {{"-pf", "apend", "2026120818.raw"}, "",
       "Unknown file parameter: apend (use, calc, over, app)\n", kTwoRecords},  // left alone
      {{"-pf", "app", "-me", "mesage", "2026120818.raw"}, "", "Unknown message level: mesage\n",
       kTwoRecords + kThirdRecord},
      {{"-pf", "app", "-nh", "abc", "2026120818.raw"}, "", "Invalid number of hours: abc\n",
       kTwoRecords + kThirdRecord},
      {now_files, "kivcurtime=tomorrow", "Invalid time in kivcurtime: tomorrow, using the clock\n",
       kTwoRecords},
      {now_files, "kivcurtime=2026-12-09T11",
       "Invalid time in kivcurtime: 2026-12-09T11, using the clock\n", kTwoRecords},
      {now_files, "kivcurtime=19991209", "Invalid time in kivcurtime: 19991209, using the clock\n",
       kTwoRecords},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_ / "hdr");
    write("raw/2026120818.raw", kTwoProducts);
    ASSERT_EQ(run(with_paths({"-ba", "2026120818.raw"})).status, 0);
    write("raw/2026120818.raw", kThirdProduct, true);
    std::vector<std::string> args = with_paths({"-ba"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    ToolRun r = run(args, c.env.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.env});
    EXPECT_EQ(r.status, 0) << c.warning;
    EXPECT_EQ(r.err, c.warning);
    EXPECT_EQ(read("hdr/2026120818.hdr"), c.header) << c.warning;
    EXPECT_FALSE(exists("hdr/2026120817.hdr")) << c.warning;  // no series
    if (c.env.empty()) continue;
    // The clock's hour and the one before (a new hour may have begun).
    EXPECT_TRUE(exists("hdr/" + hour_from_now(0) + ".hdr") || exists("hdr/" + hour_from_now(1) + ".hdr"));
    EXPECT_TRUE(exists("hdr/" + hour_from_now(-1) + ".hdr") || exists("hdr/" + hour_from_now(0) + ".hdr"));
  }
}

TEST_F(E2ETest, MissingHeaderDirectoriesAreCreated) {
  write("raw/2026120818.raw", kTwoProducts);
  ToolRun made = run({"-ba", "-fp", "etc", "-rp", "raw", "-cp", "a/b/c", "2026120818.raw"});
  EXPECT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(read("a/b/c/2026120818.hdr"), kTwoRecords);

}

TEST_F(E2ETest, UncreatableHeaderEndsWithStatus12) {
  write("raw/2026120818.raw", kTwoProducts);
  write("blocker", "a file where a directory should be");
  ToolRun r = run({"-ba", "-fp", "etc", "-rp", "raw", "-cp", "blocker/x", "2026120818.raw"});
  EXPECT_EQ(r.status, 12);
  EXPECT_EQ(r.err, "Unable to write to header file: blocker/x/2026120818.hdr"
                   " (cannot make directory blocker: Not a directory)\n");
}

TEST_F(E2ETest, OverwriteQuestionAnsweredThroughAPipe) {
  write("raw/2026120818.raw", kTwoProducts + kThirdProduct);
  struct Case { const char* answer; std::string header_after; };
  const Case cases[] = {{"Y\n", kTwoRecords + kThirdRecord},
                        {"N\n", kTwoRecords},
                        {"A\n", kTwoRecords + kThirdRecord},
                        {"", kTwoRecords}};  // end of input: left alone
  for (const Case& c : cases) {
    write("hdr/2026120818.hdr", kTwoRecords);
    std::string input = c.answer;
    ToolRun r = run(with_paths({"2026120818.raw"}), {}, &input);
    EXPECT_EQ(r.status, 0) << c.answer;
    EXPECT_NE(r.out.find("hdr/2026120818.hdr: exists overwrite (Y,N,Use,Over,App): "),
              std::string::npos)
        << c.answer;
    EXPECT_EQ(read("hdr/2026120818.hdr"), c.header_after) << c.answer;
  }
}

TEST_F(E2ETest, NoHeaderFileAndWhatToFix) {
  write("raw/notes.raw", kTwoProducts);
  write("raw/2026120818.raw", kTwoProducts);
  write("2026120818.raw", kTwoProducts);
  const std::string conv = "raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0\n";
  const std::string no_conv = "FILE_set_name: No file name convention file: etc/name_conv\n";
  const std::string no_hconv = "raw %R/%Y%m%d%h.raw - 0\n";
  const std::string no_hdr_18 = "No header file template for type raw, no header file written: raw/2026120818.raw\n";
  const std::string nothing = "No data file found in raw for template %R/%Y%m%d%h.raw\n";
  struct Case {
    std::string conv;  // "": no convention file
    std::vector<std::string> args;
    std::string err;
    std::string out;  // the records shown, "" when no data file could be named
    int status = 0;
  };
  std::vector<Case> cases = {
      {conv, {"2026120817.raw"}, "Unable to open file: raw/2026120817.raw\n" + nothing, "", 3},
      {no_hconv, {"-nh", "-1", "2026120818.raw"}, "Unable to open file: raw/2026120817.raw\n" + no_hdr_18,
       kTwoRecords},  // a gap
      {no_hconv, {"-cu", "#2026120819la#1", "-nh", "-1"},
       "Unable to open file: raw/2026120817.raw\n" + no_hdr_18 + nothing, kTwoRecords, 3},
      {"", {"2026120818.raw"},
       no_conv + "No file name convention file etc/name_conv, no header file written: 2026120818.raw\n",
       kTwoRecords},
      {"", {"raw/2026120818.raw"},
       no_conv + "No file name convention file etc/name_conv, no header file written: raw/2026120818.raw\n",
       kTwoRecords},
      {"", {"la"}, no_conv + "No file name convention file etc/name_conv: cannot name data file la\n", "", 3},
      {"", {"-nh", "-1", "#2026120818"},
       no_conv + "No file name convention file etc/name_conv: cannot name data file #2026120818\n", "", 3},
      {no_hconv, {"2026120818.raw"}, no_hdr_18, kTwoRecords},
      {conv, {"notes.raw"},
       "Data file name does not fit template %R/%Y%m%d%h.raw, no header file written: "
       "raw/notes.raw\n",
       kTwoRecords},
      {conv, {"@raw/notes.raw"}, "No date in data file name, no header file written: raw/notes.raw\n",
       kTwoRecords},
      {"raw %R/%Y%m%d%h.raw %R/%Y%m%d%h.raw 0\n", {"-pf", "over", "2026120818.raw"},
       "Header file would overwrite data file: raw/2026120818.raw\n", kTwoRecords},
  };
  // The data file again under header names of other text.
  fs::create_directory_symlink("raw", dir_ / "rawlink");
  std::vector<std::string> same_dirs = {"./raw", "rawlink"};
  const passwd* me = getpwuid(getuid());
  if (me != nullptr && fs::is_directory(me->pw_dir))
    same_dirs.push_back("~/" + fs::relative(dir_ / "raw", me->pw_dir).string());
  for (const std::string& d : same_dirs)
    cases.push_back({"raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.raw 0\n", {"-pf", "over", "-cp", d, "2026120818.raw"},
                     "Header file would overwrite data file: raw/2026120818.raw\n", kTwoRecords});
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    if (c.conv.empty()) fs::remove(dir_ / "etc/name_conv");
    else write("etc/name_conv", c.conv);
    std::vector<std::string> args = with_paths({"-ba", "-me", "warn,+out1"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    ToolRun r = run(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, c.out);  // the records only as messages
    EXPECT_FALSE(exists("hdr"));
    EXPECT_EQ(read("raw/2026120818.raw"), kTwoProducts);
  }
}

// What each program says and ends with where a data file is missing (a
// gap in a series) or a directory, and where the header's name is a FIFO,
// a directory or a command; nothing waits.
TEST_F(E2ETest, DataAndHeaderFilesThatCannotBeUsed) {
  write("raw/2026120818.raw", kTwoProducts);
  fs::create_directories(dir_ / "raw/2026120819.raw");
  const std::vector<std::string> programs = {KIV_HEADER_TOOL, KIV_HEADER_CHECK, KIV_PRODUCT_GET};
  const std::string conv = read("etc/name_conv");
  struct Case {
    const char* what;
    std::string name;    // the data files
    char header;         // at the header's name: 'r' its records, 'p' a FIFO, 'd' a directory, '|' a command
    int status[3];       // of header_tool -pf over, header_check and product_get
    std::string err[3];
  } cases[] = {
      {"a gap", "-nh -1 2026120818.raw", 'r', {0, 0, 0}, {"Unable to open file: raw/2026120817.raw\n", "", ""}},
      {"a directory as data file", "2026120819.raw", 'r', {0, 2, 2},
       {"Unable to open file: raw/2026120819.raw\n", "Unable to open file: raw/2026120819.raw (Is a directory)\n",
        "Unable to open file: raw/2026120819.raw (Is a directory)\n"}},
      {"a FIFO as header", "2026120818.raw", 'p', {12, 2, 0},
       {"Unable to write to header file: hdr/2026120818.hdr (No such device or address)\n",
        "Unable to read header file: hdr/2026120818.hdr (Not a regular file)\n",
        "Unable to read header file: hdr/2026120818.hdr (Not a regular file), scanning the data file\n"}},
      {"a directory as header", "2026120818.raw", 'd', {12, 2, 0},
       {"Unable to write to header file: hdr/2026120818.hdr (Is a directory)\n",
        "Unable to read header file: hdr/2026120818.hdr (Is a directory)\n",
        "Unable to read header file: hdr/2026120818.hdr (Is a directory), scanning the data file\n"}},
      {"a command as header", "2026120818.raw", '|', {0, 1, 0}, {"", "No header file for raw/2026120818.raw\n", ""}},
      // Only product_get reads remote files: a refused port, said as its reason ends with "(".
      {"a URL as data file", "http://127.0.0.1:9/2026120818.raw", 'r', {3, 2, 2},
       {"Unable to open file: http://127.0.0.1:9/2026120818.raw (remote files are read by product_get only)\n"
        "No data file found in http://127.0.0.1:9 for template %R/%Y%m%d%h.raw\n",
        "Unable to open file: http://127.0.0.1:9/2026120818.raw (remote files are read by product_get only)\n",
        "Unable to read file: http://127.0.0.1:9/2026120818.raw ("}},
  };
  for (const Case& c : cases) {
    for (size_t p = 0; p < programs.size(); ++p) {
      SCOPED_TRACE(std::string(c.what) + ", " + fs::path(programs[p]).filename().string());
      fs::remove_all(dir_ / "hdr");
      fs::remove(dir_ / "piped");
      write("etc/name_conv", c.header == '|' ? "raw %R/%Y%m%d%h.raw |cat>piped 0\n" : conv);
      if (c.header == 'r') write("hdr/2026120818.hdr", kTwoRecords);
      if (c.header == 'd') fs::create_directories(dir_ / "hdr/2026120818.hdr");
      if (c.header == 'p') {
        fs::create_directories(dir_ / "hdr");
        ASSERT_EQ(mkfifo((dir_ / "hdr/2026120818.hdr").c_str(), 0600), 0);
      }
      std::vector<std::string> args = {"/usr/bin/timeout", "20", programs[p], "-ba", "-fp", "etc", "-rp", "raw", "-cp", "hdr"};
      if (p == 0) args.insert(args.end(), {"-pf", "over"});
      std::istringstream names(c.name);
      for (std::string word; names >> word;) args.push_back(word);
      ChildRun r = run_program(args, {"PATH=/usr/bin:/bin"}, dir_);
      EXPECT_EQ(r.status, c.status[p]);
      if (c.err[p].ends_with("(")) EXPECT_EQ(r.err.substr(0, c.err[p].size()), c.err[p]);
      else EXPECT_EQ(r.err, c.err[p]);
      EXPECT_EQ(read("piped"), c.header == '|' && p == 0 ? kTwoRecords : "");  // only header_tool runs it
    }
  }
  write("etc/name_conv", conv);
}

}  // namespace
