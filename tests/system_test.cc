#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "src/mess.h"
#include "src/resrc.h"
#include "src/system.h"
#include "tests/support.h"

namespace {

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

class SystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MESS_reset();
    RES_reset();
  }
  void TearDown() override { RES_reset(); }
};

TEST_F(SystemTest, PromptsStoresFirstWordOrKeepsDefault) {
  struct Case {
    const char* input;
    const char* initial;
    int length;
    const char* expected;
    size_t prompts;
  };
  const Case cases[] = {
      {"\n", "Y", 2, "Y", 1},                        // empty answer keeps the default
      {"", "keep", 10, "keep", 1},                   // end of input: unchanged, no loop
      {"abcdef\n", "", 4, "abc", 1},                 // cut to length-1
      {"   file1 file2\n", "", 80, "file1", 1},      // first word only
      {"\tword\t \n", "", 80, "word", 1},            // tabs are blanks too
      {"xy\n", "", 1, "x", 1},                       // a length below 2 counts as 2
      {"set a=1\nanswer\n", "", 80, "answer", 2},    // set asks again
      {"set a=1\n\n", "", 80, "set", 2},             // the word is stored before the check
      {"set a=1\n", "def", 80, "set", 2},            // set, then end of input
  };
  for (const Case& c : cases) {
    ChildRun run = run_in_child(c.input, [&] {
      std::string str = c.initial;
      return KIV_prompts("Name? ", str, c.length);
    });
    EXPECT_EQ(run.status, 0) << c.input;
    EXPECT_EQ(run.result, c.expected) << c.input;
    EXPECT_EQ(count(run.out, "Name? "), c.prompts) << c.input;
  }
}

TEST_F(SystemTest, PromptReadsAtMost79CharactersPerAnswer) {
  struct Case {
    std::string input;
    std::string first, second;
  };
  const std::string a79(79, 'a');
  const Case cases[] = {
      {a79 + "bcd\nnext\n", a79, "bcd"},  // the rest is the next answer
      {a79 + "\nnext\n", a79, "next"},    // an exact fit leaves no empty answer
  };
  for (const Case& c : cases) {
    ChildRun run = run_in_child(c.input, [] {
      std::string one, two;
      KIV_prompts("? ", one, 200);
      KIV_prompts("? ", two, 200);
      return one + "|" + two;
    });
    EXPECT_EQ(run.result, c.first + "|" + c.second);
  }
}

TEST_F(SystemTest, PromptfRetriesOnNonNumbersAndStopsAtEnd) {
  struct Case {
    const char* input;
    const char* expected;
    size_t prompts;
  };
  const Case cases[] = {
      {"abc\n12.5\n", "12.50", 2},
      {"\n", "0.00", 1},
      {"   \n", "0.00", 1},
      {"3x\n", "3.00", 1},
      {"  -4.25  \n", "-4.25", 1},
      {"", "0.00", 1},
      {"abc\nxyz\n", "0.00", 3},  // end of input after two refusals
      {"set a=2\n7\n", "7.00", 2},
  };
  for (const Case& c : cases) {
    ChildRun run = run_in_child(c.input, [] {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.2f", KIV_promptf("Lat? "));
      return std::string(buf);
    });
    EXPECT_EQ(run.status, 0) << c.input;
    EXPECT_EQ(run.result, c.expected) << c.input;
    EXPECT_EQ(count(run.out, "Lat? "), c.prompts) << c.input;
  }
}

TEST_F(SystemTest, ExitTypedAtAPromptEndsWithStatusZero) {
  const char* inputs[] = {"exit\n", "EXIT\n", "exiting now\n", "set a=1\nexit\n"};
  for (const char* input : inputs) {
    ChildRun word = run_in_child(input, [] {
      std::string str;
      KIV_prompts("? ", str, 20);
      return std::string("returned");
    });
    EXPECT_EQ(word.status, 0) << input;
    EXPECT_EQ(word.result, "") << input;
    ChildRun number = run_in_child(input, [] {
      KIV_promptf("? ");
      return std::string("returned");
    });
    EXPECT_EQ(number.status, 0) << input;
    EXPECT_EQ(number.result, "") << input;
  }
}

TEST_F(SystemTest, ExitEndsTheProcessWithItsStatusAndFlushes) {
  for (int status : {0, 7, 12}) {
    ChildRun run = run_in_child("", [status]() -> std::string {
      std::printf("pending");  // still buffered when KIV_exit runs
      KIV_exit(status);
    });
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.out, "pending");
  }
}

TEST_F(SystemTest, SetCommandStoresResources) {
  struct Case {
    const char* line;
    const char* name;
    const char* value;  // nullptr: absent
  };
  const Case cases[] = {
      {"set filename=abc.dat", "filename", "abc.dat"},
      {"set filename abc.dat", "filename", "abc.dat"},
      {"set filename = abc.dat", "filename", "abc.dat"},
      {"SET  filename==abc.dat", "filename", "abc.dat"},
      {"set title two words", "title", "two words"},
      {"set current", "current", ""},  // a name alone: stored without a value
      {"set current  ", "current", ""},
      {"set a_resource_name_longer_than_nineteen x", "a_resource_name_longer_than_nineteen", "x"},
  };
  for (const Case& c : cases) {
    RES_reset();
    EXPECT_EQ(KIV_set_command(c.line), 1) << c.line;
    const char* got = RES_get(c.name);
    ASSERT_NE(got, nullptr) << c.line;
    EXPECT_STREQ(got, c.value) << c.line;
  }
}

TEST_F(SystemTest, NonCommandsAreNotTaken) {
  for (const char* line : {"", "se", "hello", "ex", "exi", " set a=1", "file.dat"})
    EXPECT_EQ(KIV_set_command(line), 0) << line;
  EXPECT_EQ(KIV_set_command(nullptr), 0);
}

TEST_F(SystemTest, SetAloneListsResourcesAndAsksAgain) {
  ChildRun run = run_in_child("set\nfile1\n", [] {
    RES_put("alpha", "one");
    std::string str;
    return KIV_prompts("File? ", str, 80);
  });
  EXPECT_EQ(run.result, "file1");
  EXPECT_EQ(count(run.out, "File? "), 2u);
  EXPECT_NE(run.out.find("Set resources\n"), std::string::npos);
  EXPECT_NE(run.out.find("alpha: one\n"), std::string::npos);
}

TEST_F(SystemTest, PromptIsNotAFormat) {
  ChildRun run = run_in_child("\n", [] {
    std::string str;
    KIV_prompts("100%s done %d? ", str, 10);
    return str;
  });
  EXPECT_EQ(run.out, "100%s done %d? ");
}

TEST_F(SystemTest, SleepRefusesNonPositiveTimes) {
  struct Case {
    float secs;
    int expected;
    double min_elapsed;
  };
  const Case cases[] = {{0.0f, -1, 0}, {-1.0f, -1, 0}, {0.02f, 0, 0.02}};
  for (const Case& c : cases) {
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(KIV_sleep(c.secs), c.expected);
    std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took.count(), c.min_elapsed);
  }
}

TEST_F(SystemTest, Version) { EXPECT_STREQ(KIV_version(), "5.60.2-LINUX-X11"); }

}  // namespace
