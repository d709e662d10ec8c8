#include "src/mess.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "src/date.h"
#include "src/flag.h"
#include "tests/support.h"

namespace {

class MessTest : public testing::Test {
 protected:
  void SetUp() override {
    MESS_reset();
    FLAG_state_reset();
  }
  void TearDown() override {
    MESS_reset();
    DATE_reset();
  }
  std::string path(const char* name) const { return tmp_.file(name); }
  TempDir tmp_;
};

TEST_F(MessTest, SetOperations) {
  struct Step { int oper; M_type mask; M_type level_after; int count_after; };
  struct Case { const char* name; std::vector<Step> steps; };
  const Case cases[] = {
      {"set fills lower bits",
       {{MESS_SET, M_warn, 0xff, 1}, {MESS_SET, M_mess, 0xfff, 2}, {MESS_SET, M_debug, 0xffffffff, 3}}},
      {"set sub-level", {{MESS_SET, M_warnc, 0x7f, 1}}},
      {"set zero silences", {{MESS_SET, 0, 0, 1}}},
      {"add and remove", {{MESS_ADD, M_debugc, 0x400fffff, 1}, {MESS_REMOVE, M_out2, 0x4000ffff, 2}}},
      {"uncounted change",
       {{MESS_SET_QUIET, M_mess, 0xfff, 0}, {MESS_ADD_QUIET, M_out1a, 0x1fff, 0},
        {MESS_REMOVE_QUIET, M_print, 0x1ff0, 0}}},
      {"default applies before explicit", {{MESS_SET_DEFAULT, M_warn, 0xff, 0}}},
      {"default ignored after explicit",
       {{MESS_SET, M_mess, 0xfff, 1}, {MESS_SET_DEFAULT, M_warn, 0xfff, 1}, {MESS_ADD_DEFAULT, M_debug, 0xfff, 1}}},
      {"unknown operation", {{5, M_debug, 0x000fffff, 0}, {3, M_debug, 0x000fffff, 1}}},
  };
  for (const Case& c : cases) {
    MESS_reset();
    for (const Step& s : c.steps) {
      MESS_set(s.oper, s.mask);
      EXPECT_EQ(MESS_get_level(), s.level_after) << c.name;
      EXPECT_EQ(MESS_check_set(), s.count_after) << c.name;
    }
  }
  EXPECT_EQ(MESS_check(0), 0);
}

TEST_F(MessTest, RoutingByLevel) {
  struct Case { M_type type; bool shown; bool to_err; };
  const Case cases[] = {{M_print, true, false}, {M_mess, true, false}, {M_out1, true, false},
                        {M_out2a, true, false}, {M_error, true, true},  {M_warn, true, true},
                        {M_warnc, true, true},  {M_debugc, false, false}, {M_out3, false, false}};
  for (const Case& c : cases) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int r = MESS_print(c.type, "x=%d\n", 5);
    std::string out = testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r, c.shown ? 1 : 0) << std::hex << c.type;
    EXPECT_EQ(out, c.shown && !c.to_err ? "x=5\n" : "") << std::hex << c.type;
    EXPECT_EQ(err, c.shown && c.to_err ? "x=5\n" : "") << std::hex << c.type;
  }
}

TEST_F(MessTest, OptionStringLevels) {
  struct Case { const char* option; M_type level; };
  const Case cases[] = {
      {"mess", 0xfff},           {"warn,+debugc", 0x400000ff}, {"-out2", 0x0000ffff},
      {"errorc", 0},             {"none,+debug", 0xf0000000},  {"warnc", 0x7f},
      {"Warn", 0xff},            {"WARN", 0xff},               {"warnC", 0xff},
      {"warning", 0xff},         {"messages", 0xfff},          {"bogus", 0},
      {"debugd", 0xffffffff},    {"out1,-print", 0xfff0},      {"", 0x000fffff},
  };
  for (const Case& c : cases) {
    MESS_reset();
    MESS_set_str(c.option);
    EXPECT_EQ(MESS_get_level(), c.level) << c.option;
    EXPECT_EQ(MESS_check_set(), 1) << c.option;
  }
}

TEST_F(MessTest, StampedLogAndScreenCarryTheSameText) {
  DATE_set_clock(1733722566);  // 2024-12-09 05:36:06
  std::string log = path("sub/run.log");
  MESS_set_str(("@fi:" + log + ",warn").c_str());
  testing::internal::CaptureStderr();
  EXPECT_EQ(MESS_print(M_warn, "value %s %d\n", "abc", 42), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "value abc 42\n");
  MESS_reset();  // closes the log
  EXPECT_EQ(read_file(log), "24 DEC 09  05:36:06Z -- value abc 42\n");
}

TEST_F(MessTest, LogFileModes) {
  std::string log = path("only.log");
  MESS_set_str(("fi:" + log).c_str());
  testing::internal::CaptureStdout();
  EXPECT_EQ(MESS_print(M_print, "quiet\n"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  MESS_reset();
  EXPECT_EQ(read_file(log), "quiet\n");

  std::string per = path("per.log");
  MESS_set_str(("dfi:" + per).c_str());
  testing::internal::CaptureStdout();
  MESS_print(M_print, "one\n");
  EXPECT_EQ(read_file(per), "one\n");  // closed after every message
  MESS_print(M_print, "two\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "one\ntwo\n");
  EXPECT_EQ(read_file(per), "one\ntwo\n");

  // A per-message log naming standard output must leave it open.
  MESS_reset();
  MESS_set_str("dfi:-");
  testing::internal::CaptureStdout();
  MESS_print(M_print, "a\n");
  MESS_print(M_print, "b\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "a\na\nb\nb\n");

  // An unopenable log in mode 0 makes messages vanish; others keep the screen.
  MESS_reset();
  std::string bad = "/proc/no/such/dir/x.log";
  MESS_set_str(("+fi:" + bad).c_str());
  testing::internal::CaptureStdout();
  EXPECT_EQ(MESS_print(M_print, "still\n"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "still\n");

  // A very long log name works in full.
  MESS_reset();
  std::string longname = path((std::string(200, 'n') + ".log").c_str());
  MESS_set_str(("-fi:" + longname).c_str());
  testing::internal::CaptureStdout();
  MESS_print(M_print, "long\n");
  testing::internal::GetCapturedStdout();
  MESS_reset();
  EXPECT_EQ(read_file(longname), "long\n");
}

TEST_F(MessTest, PagingHoldsAfterMaxLines) {
  int saved = dup(0);
  int devnull = open("/dev/null", O_RDONLY);
  dup2(devnull, 0);
  close(devnull);
  MESS_set_str("page,line:2");
  testing::internal::CaptureStdout();
  MESS_print(M_print, "%s\n", "a\nb\nc");  // one line feed in the format
  MESS_print(M_print, "2\n3\n");          // now 3 > 2: hold
  MESS_print(M_print, "4\n");
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "a\nb\nc\n2\n3\nPress return to continue\n4\n");
  // The prompt goes to standard error only for a mask with a bit of error
  // and a bit of warn; a plain error or warning leaves it on standard output.
  struct Hold { M_type type; const char* out; const char* err; };
  const Hold holds[] = {{M_warn, "Press\n", ""}, {M_error, "Press\n", ""},
                        {M_errora | M_warnc, "", "Press\n"}, {M_print, "Press\n", ""}};
  for (const Hold& h : holds) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    MESS_hold(h.type, "Press\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), h.err) << h.type;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), h.out) << h.type;
  }
  FLAG_set(FLAG_BATCH, 1);  // batch runs never wait
  testing::internal::CaptureStdout();
  MESS_print(M_print, "5\n6\n7\n");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "5\n6\n7\n");
  dup2(saved, 0);
  close(saved);
}

TEST_F(MessTest, LineOption) {
  // The page size only shows through when a hold happens; check the parse
  // through its effect with a tiny page.
  int saved = dup(0);
  int devnull = open("/dev/null", O_RDONLY);
  dup2(devnull, 0);
  close(devnull);
  struct Case { const char* option; int lines_before_hold; };
  const Case cases[] = {{"page,line:1", 2}, {"page,line:0", 23}, {"page,line:x", 23},
                        {"page,line", 23},  {"page,line:40", 41}};
  for (const Case& c : cases) {
    MESS_reset();
    MESS_set_str(c.option);
    testing::internal::CaptureStdout();
    for (int i = 0; i < c.lines_before_hold - 1; ++i) MESS_print(M_print, ".\n");
    std::string before = testing::internal::GetCapturedStdout();
    EXPECT_EQ(before.find("Press"), std::string::npos) << c.option;
    testing::internal::CaptureStdout();
    MESS_print(M_print, ".\n");
    EXPECT_NE(testing::internal::GetCapturedStdout().find("Press"), std::string::npos) << c.option;
  }
  dup2(saved, 0);
  close(saved);
}

TEST_F(MessTest, Banner) {
  testing::internal::CaptureStdout();
  MESS_print_prog("HEADER DATA FILE GENERATOR");
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "      HEADER DATA FILE GENERATOR (Ver 5.60.2-LINUX-X11)\n\n");
}

}  // namespace
