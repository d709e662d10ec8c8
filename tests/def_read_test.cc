#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "src/def_read.h"
#include "src/mess.h"
#include "src/resrc.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;

using Lines = std::vector<std::pair<std::string, std::string>>;

class DefReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DEF_reset();
    MESS_reset();
  }
  void TearDown() override { DEF_reset(); }

  std::string write(const std::string& name, const std::string& text) { return tmp_.write(name, text); }

  // Every (name, value) DEF_get yields from the file.
  Lines read_file(const std::string& path) {
    Lines lines;
    EXPECT_EQ(DEF_open(path.c_str()), 0) << path;
    std::string name, value;
    while (DEF_get(name, value) == 1) lines.emplace_back(name, value);
    DEF_close();
    return lines;
  }

  TempDir tmp_;
  std::string dir_ = tmp_.str();
};

TEST_F(DefReadTest, LinesAreSplitLoweredAndQuoted) {
  struct Case {
    const char* text;
    Lines expected;
  };
  const Case cases[] = {
      {"prog.file_path /data\n", {{"prog.file_path", "/data"}}},
      {"PROG.FILE_PATH: /data\n", {{"prog.file_path", "/data"}}},
      {"\tprog.a\t 1   extra words\n", {{"prog.a", "1"}}},
      {"# comment\n\n   \nprog.a 1\n", {{"prog.a", "1"}}},
      {"prog.alone\nprog.b 2\n", {{"prog.b", "2"}}},  // no value: skipped
      {"*.title \"two  words\" tail\n", {{"*.title", "two  words"}}},
      {"*.title \"unclosed rest  \n", {{"*.title", "unclosed rest  "}}},
      {"*.title \"\"\n", {{"*.title", ""}}},  // empty quotes: empty value
      {"prog.a: 1\nprog.b:: 2\n", {{"prog.a", "1"}, {"prog.b:", "2"}}},
      {"prog.last 9", {{"prog.last", "9"}}},  // no final line feed
  };
  for (const Case& c : cases) {
    DEF_reset();
    EXPECT_EQ(read_file(write("kiv.cfg", c.text)), c.expected) << c.text;
  }
}

TEST_F(DefReadTest, LongLinesContinueAsLinesOfTheirOwn) {
  // 249 characters make one line; the rest is read as the next line.
  std::string head = "prog.a " + std::string(242, 'x');
  std::string text = head + " prog.b 2\n";
  Lines got = read_file(write("kiv.cfg", text));
  Lines expected = {{"prog.a", std::string(242, 'x')}, {"prog.b", "2"}};
  EXPECT_EQ(got, expected);
}

TEST_F(DefReadTest, ConditionalSections) {
  struct Case {
    const char* tag;  // defined before reading; "" none
    const char* text;
    Lines expected;
  };
  const char* if_else =
      "IF x\nprog.a in\nELSE\nprog.a out\nEND\nprog.b after\n";
  const char* elifs =
      "IF a\nprog.v a\nELIF b\nprog.v b\nELIF c\nprog.v c\nELSE\nprog.v none\nEND\n";
  const Case cases[] = {
      {"x", if_else, {{"prog.a", "in"}, {"prog.b", "after"}}},
      {"", if_else, {{"prog.a", "out"}, {"prog.b", "after"}}},
      {"X", if_else, {{"prog.a", "in"}, {"prog.b", "after"}}},  // tags ignore case
      {"b", elifs, {{"prog.v", "b"}}},
      {"c", elifs, {{"prog.v", "c"}}},
      {"", elifs, {{"prog.v", "none"}}},
      // DEF inside an inactive section still defines the tag.
      {"", "IF no\nDEF y\nEND\nIF y\nprog.a 1\nEND\n", {{"prog.a", "1"}}},
      {"y", "UNDEF Y\nIF y\nprog.a 1\nEND\nprog.b 2\n", {{"prog.b", "2"}}},
      // Nested: inner active only while the outer is.
      {"x", "IF x\nIF z\nprog.a 1\nELSE\nprog.a 2\nEND\nEND\n", {{"prog.a", "2"}}},
      {"", "IF x\nIF z\nprog.a 1\nELSE\nprog.a 2\nEND\nEND\nprog.c 3\n", {{"prog.c", "3"}}},
      // Unmatched directives are reported and ignored.
      {"", "END\nprog.a 1\nELSE\nELIF q\nprog.b 2\n", {{"prog.a", "1"}, {"prog.b", "2"}}},
      // Directives without their word.
      {"", "IF\nprog.a 1\nDEF\nUNDEF\nprog.b 2\n", {{"prog.a", "1"}, {"prog.b", "2"}}},
      // Directive keywords are upper case only: this is a resource line.
      {"", "if x\nprog.a 1\n", {{"if", "x"}, {"prog.a", "1"}}},
  };
  for (const Case& c : cases) {
    DEF_reset();
    MESS_set(MESS_SET, M_none);  // the unmatched reports are not under test here
    if (*c.tag != '\0') DEF_tag(c.tag);
    EXPECT_EQ(read_file(write("kiv.cfg", c.text)), c.expected) << c.tag << "\n" << c.text;
  }
}

TEST_F(DefReadTest, UnmatchedAndTooDeepSectionsAreReported) {
  struct Case {
    std::string text;
    const char* report;
  };
  const Case cases[] = {
      {"END\n", "DEF_get: end without an if\n"},
      {"ELSE\n", "DEF_get: else without an if\n"},
      {"ELIF x\n", "DEF_get: elif without an if\n"},
      {"ELIF\n", ""},  // without its word the line is ignored
      {"IF a\nEND\n", ""},
      {[] {
         std::string deep;
         for (int i = 0; i < 11; ++i) deep += "IF a\n";
         return deep;
       }(),
       "DEF_get: if nesting too deep\n"},
  };
  for (const Case& c : cases) {
    DEF_reset();
    testing::internal::CaptureStderr();
    read_file(write("kiv.cfg", c.text));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.report) << c.text;
  }
}

TEST_F(DefReadTest, OpenSectionCarriesIntoTheNextFile) {
  std::string first = write("one.cfg", "IF nothere\nprog.a 1\n");
  std::string second = write("two.cfg", "prog.b 2\nEND\nprog.c 3\n");
  EXPECT_TRUE(read_file(first).empty());
  Lines expected = {{"prog.c", "3"}};
  EXPECT_EQ(read_file(second), expected);
}

TEST_F(DefReadTest, DeepNestingIsInactiveWithoutOverflow) {
  std::string text;
  DEF_tag("t");
  for (int i = 0; i < 10; ++i) text += "IF t\n";
  text += "prog.depth10 yes\n";
  text += "IF t\nprog.depth11 no\nELSE\nprog.depth11else no\nEND\n";
  text += "prog.back10 yes\n";
  for (int i = 0; i < 10; ++i) text += "END\n";
  text += "prog.top yes\n";
  Lines expected = {{"prog.depth10", "yes"}, {"prog.back10", "yes"}, {"prog.top", "yes"}};
  MESS_set(MESS_SET, M_none);
  EXPECT_EQ(read_file(write("kiv.cfg", text)), expected);

  // Each line costs the same however deep: 200,000 sections in and out
  // again take a moment, not the half minute of walking the whole stack.
  std::string many;
  for (int i = 0; i < 200000; ++i) many += "IF t\n";
  many += "prog.deep no\n";
  for (int i = 0; i < 200000; ++i) many += "END\n";
  many += "prog.out yes\n";
  std::string path = write("kiv.cfg", many);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(read_file(path), (Lines{{"prog.out", "yes"}}));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 3.0);
}

TEST_F(DefReadTest, TagLimit) {
  for (int i = 0; i < 10; ++i) EXPECT_EQ(DEF_tag(("t" + std::to_string(i)).c_str()), 0);
  EXPECT_EQ(DEF_tag("eleventh"), -1);
  // A DEF beyond ten tags is ignored too.
  Lines expected = {{"prog.b", "2"}};
  EXPECT_EQ(read_file(write("kiv.cfg", "DEF more\nIF more\nprog.a 1\nEND\nIF t9\nprog.b 2\nEND\n")),
            expected);
  DEF_clr_tag();
  EXPECT_EQ(DEF_tag("again"), 0);
}

TEST_F(DefReadTest, DirectoryCandidatesInOrder) {
  struct Case {
    std::vector<const char*> present;
    const char* chosen;  // nullptr: nothing opens
  };
  const Case cases[] = {
      {{"kiv.cfg", ".kivdef", "Kiv.res"}, "kiv.cfg"},
      {{".kivdef", "Kiv.res"}, ".kivdef"},
      {{"Kiv.res"}, "Kiv.res"},
      {{}, nullptr},
  };
  for (const Case& c : cases) {
    std::string sub = dir_ + "/d";
    fs::remove_all(sub);
    fs::create_directory(sub);
    for (const char* name : c.present)
      std::ofstream(sub + "/" + name) << "prog.from " << name << "\n";
    for (std::string arg : {sub, sub + "/"}) {
      int opened = DEF_open(arg.c_str());
      std::string name, value;
      if (c.chosen == nullptr) {
        EXPECT_EQ(opened, -1);
        EXPECT_EQ(DEF_get(name, value), -1);
      } else {
        EXPECT_EQ(opened, 0);
        EXPECT_EQ(DEF_get(name, value), 1);
        EXPECT_EQ(value, c.chosen) << arg;
      }
      DEF_close();
    }
  }
}

TEST_F(DefReadTest, NoFileMeansEndAtOnce) {
  std::string name = "keep", value = "keep";
  EXPECT_EQ(DEF_get(name, value), -1);
  EXPECT_EQ(DEF_open((dir_ + "/missing.cfg").c_str()), -1);
  EXPECT_EQ(DEF_get(name, value), -1);
  EXPECT_EQ(name, "keep");
  // A FIFO in the searched directory is skipped, never waited for.
  ASSERT_EQ(mkfifo((dir_ + "/kiv.cfg").c_str(), 0600), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(DEF_open(dir_.c_str()), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Not a regular file, ignored: " + dir_ + "/kiv.cfg\n");
  EXPECT_EQ(DEF_get(name, value), -1);
}

TEST_F(DefReadTest, QualifiedNames) {
  struct Case {
    const char* title;  // instance name ("" none)
    const char* expected;
  };
  const Case cases[] = {
      {"", "prog.file_path"},
      {"run2", "run2.file_path"},
      {"+run2", "prog.run2.file_path"},
      {"an_instance_name_longer_than_29_characters", "an_instance_name_longer_than_29_characters.file_path"},
  };
  for (const Case& c : cases) {
    DEF_reset();
    char arg0[] = "/usr/bin/prog";
    char* argv[] = {arg0, nullptr};
    RES_setCL(1, argv);
    DEF_prog();
    DEF_name(c.title);
    EXPECT_EQ(DEF_qualified("file_path"), c.expected) << c.title;
  }
  DEF_reset();
  EXPECT_EQ(DEF_qualified("file_path"), "Kiv.file_path");  // before any program name
}

// A program name is set the way decoding sets it.
class DefMatchTest : public DefReadTest {
 protected:
  void SetUp() override {
    DefReadTest::SetUp();
    static char arg0[] = "bin/prog";
    static char* argv[] = {arg0, nullptr};
    RES_setCL(1, argv);
    DEF_prog();
  }
};

TEST_F(DefMatchTest, PatternsSelectResources) {
  struct Case {
    const char* title;
    const char* resrc;
    const char* pattern;
    int expected;
  };
  const Case cases[] = {
      {"", "file_path", "prog.file_path", 1},
      {"", "file_param", "prog.file_path", 0},
      {"", "file_path", "*file_path", 1},
      {"", "file_path", "*.file_path", 1},
      {"", "file_path", "other.file_path", 0},
      {"", "file_path", "file_path", 0},  // a bare name matches nothing
      {"", "data_path", "*path", 1},
      {"", "grid_path", "*path", 1},
      {"", "path_path", "*path", 0},       // only the first occurrence counts
      {"", "file_param", "*path", 0},
      {"", "file_path", "prog.file_path*", 0},  // nothing may follow a trailing '*'
      {"", "file_path", "*", 0},
      {"", "file_path", "p*.f*h", 1},
      {"", "file_path", "p*.x*h", 0},
      {"", "file_path", "Prog.file_path", 0},  // case-sensitive
      {"run2", "file_path", "run2.file_path", 1},
      {"run2", "file_path", "prog.file_path", 0},
      {"+run2", "file_path", "prog.run2.file_path", 1},
      {"+run2", "file_path", "*run2.file_path", 1},
      {"+run2", "file_path", "prog.file_path", 0},
  };
  for (const Case& c : cases) {
    DEF_name(c.title);
    EXPECT_EQ(DEF_cmp(c.resrc, c.pattern), c.expected) << c.title << " " << c.resrc << " " << c.pattern;
  }
}

TEST_F(DefMatchTest, ValidNamesAndLastComponents) {
  struct Case {
    const char* name;
    int valid;
    const char* last;
  };
  const Case cases[] = {
      {"prog.my_own", 1, "my_own"},
      {"*.my_own", 1, "my_own"},
      {"*my_own", 1, "my_own"},
      {"other.my_own", 0, "my_own"},
      {"my_own", 0, "my_own"},  // neither '.' nor '*'
      {"a.b*c", 0, "c"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DEF_valid(c.name), c.valid) << c.name;
    std::string last;
    EXPECT_EQ(DEF_parse_name(c.name, last), 1);
    EXPECT_EQ(last, c.last) << c.name;
  }
}

TEST_F(DefMatchTest, EnvironmentLookupOrder) {
  struct Case {
    std::vector<std::pair<const char*, const char*>> set;
    const char* env;
    int found;
    const char* value;
  };
  const Case cases[] = {
      {{{"kivprog.file_path", "q"}, {"kivfile", "e"}, {"kivfile_path", "p"}}, "kivfile", 1, "q"},
      {{{"kivfile", "e"}, {"kivfile_path", "p"}}, "kivfile", 1, "e"},
      {{{"kivfile", "e"}, {"kivfile_path", "p"}}, "", 1, "p"},
      {{{"kivfile_path", "p"}}, nullptr, 1, "p"},
      {{{"KIVFILE", "upper"}}, "kivfile", 0, ""},  // names are case-sensitive
      {{}, "kivfile", 0, ""},
  };
  const char* all[] = {"kivprog.file_path", "kivfile", "kivfile_path", "KIVFILE"};
  for (const Case& c : cases) {
    for (const char* name : all) unsetenv(name);
    for (auto [name, value] : c.set) setenv(name, value, 1);
    std::string value;
    EXPECT_EQ(DEF_env("file_path", c.env, value), c.found);
    EXPECT_EQ(value, c.value);
  }
  for (const char* name : all) unsetenv(name);
}

}  // namespace
