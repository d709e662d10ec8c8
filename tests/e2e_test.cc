// End-to-end tests: the built header_tool run in a temporary directory
// with a clean environment and no terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status = -1;
  std::string out, err;
};

std::string read_fd(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, n);
  return s;
}

class E2ETest : public testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kiv_e2e_XXXXXX";
    dir_ = mkdtemp(tmpl);
    write("etc/name_conv", "raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0\n");
  }
  void TearDown() override {
    fs::remove_all(dir_);
  }

  void write(const std::string& name, const std::string& text) {
    fs::path p = dir_ / name;
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(dir_ / name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  bool exists(const std::string& name) const { return fs::exists(dir_ / name); }

  // Runs the tool in the temporary directory with only the given
  // environment; `input` (when given) is its standard input, otherwise it
  // has none at all.
  ToolRun run(std::vector<std::string> args, std::vector<std::string> env = {},
          const std::string* input = nullptr) {
    args.insert(args.begin(), KIV_HEADER_TOOL);
    env.push_back("PATH=/usr/bin:/bin");
    env.push_back("HOME=" + dir_.string());
    int out[2], err[2], in[2];
    if (pipe(out) != 0 || pipe(err) != 0 || pipe(in) != 0) return {};
    pid_t pid = fork();
    if (pid == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      if (input != nullptr) dup2(in[0], 0);
      else close(0);
      for (int fd : {out[0], out[1], err[0], err[1], in[0], in[1]}) close(fd);
      if (chdir(dir_.c_str()) != 0) _exit(99);
      std::vector<char*> argv, envp;
      for (auto& a : args) argv.push_back(a.data());
      for (auto& e : env) envp.push_back(e.data());
      argv.push_back(nullptr);
      envp.push_back(nullptr);
      execve(argv[0], argv.data(), envp.data());
      _exit(98);
    }
    close(out[1]);
    close(err[1]);
    close(in[0]);
    if (input != nullptr && !input->empty()) {
      ssize_t ignored = ::write(in[1], input->data(), input->size());
      (void)ignored;
    }
    close(in[1]);
    ToolRun r;
    r.out = read_fd(out[0]);  // small outputs: pipes do not fill
    r.err = read_fd(err[0]);
    close(out[0]);
    close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
  }

  // Options that every run shares: the convention and the directories.
  static std::vector<std::string> with_paths(std::vector<std::string> extra) {
    std::vector<std::string> args = {"-fp", "etc", "-rp", "raw", "-cp", "hdr"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  fs::path dir_;
};

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

TEST_F(E2ETest, MissingFileIsReportedOnceAndTheRunEndsNormally) {
  ToolRun r = run(with_paths({"-ba", "2026120818.raw"}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Unable to open file: raw/2026120818.raw\n");
  EXPECT_FALSE(exists("hdr/2026120818.hdr"));
}

TEST_F(E2ETest, BannerAndRecordsAtTheDefaultLevels) {
  write("raw/2026120818.raw", kTwoProducts);
  ToolRun r = run(with_paths({"-me", "out1", "2026120818.raw"}));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "      HEADER DATA FILE GENERATOR (Ver 5.60.2-LINUX-X11)\n\n"
            "Writing to header file: hdr/2026120818.hdr\n"
            "Processing products...\n" + kTwoRecords);
  EXPECT_EQ(read("hdr/2026120818.hdr"), kTwoRecords);
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
  EXPECT_EQ(r.err, "Unable to write to header file: blocker/x/2026120818.hdr\n");
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

TEST_F(E2ETest, NoHeaderForNamesWithoutADateOrThatWouldOverwriteTheData) {
  write("raw/notes.raw", kTwoProducts);
  ToolRun nodate = run(with_paths({"-ba", "-me", "warn,+out1", "@raw/notes.raw"}));
  EXPECT_EQ(nodate.status, 0);
  EXPECT_NE(nodate.err.find("raw/notes.raw"), std::string::npos) << nodate.err;
  EXPECT_EQ(nodate.out, kTwoRecords);
  EXPECT_FALSE(exists("hdr"));

  write("etc/name_conv", "raw %R/%Y%m%d%h.raw %R/%Y%m%d%h.raw 0\n");
  write("raw/2026120818.raw", kTwoProducts);
  ToolRun same = run(with_paths({"-ba", "-pf", "over", "-me", "warn,+out1", "2026120818.raw"}));
  EXPECT_EQ(same.status, 0);
  EXPECT_EQ(same.err, "Header file would overwrite data file: raw/2026120818.raw\n");
  EXPECT_EQ(same.out, kTwoRecords);
  EXPECT_EQ(read("raw/2026120818.raw"), kTwoProducts);
}

}  // namespace
