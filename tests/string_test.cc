#include "src/string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const char* text, char delim, int* status) {
  int argc = -1;
  char** argv = reinterpret_cast<char**>(1);
  *status = parse_string(text, delim, &argc, &argv);
  std::vector<std::string> out(argv, argv + argc);
  free_parsed_array(argc, argv);
  return out;
}

TEST(ParseString, TokenCounts) {
  struct Case {
    const char* text;
    char delim;
    int status;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {"a,,b,", ',', 0, {"a", "", "b"}},
      {",", ',', 0, {""}},
      {",,,", ',', 0, {""}},
      {",a", ',', 0, {"", "a"}},
      {"a,b,,", ',', 0, {"a", "b"}},
      {"one", ',', 0, {"one"}},
      {"l1\nl2,x\nl3", '\n', 0, {"l1", "l2,x", "l3"}},
      {"/a//b", '/', 0, {"", "a", "", "b"}},
      {"", ',', -1, {}},
      {nullptr, ',', -1, {}},
  };
  for (const Case& c : cases) {
    int status = 0;
    EXPECT_EQ(split(c.text, c.delim, &status), c.tokens) << (c.text ? c.text : "(null)");
    EXPECT_EQ(status, c.status);
    if (c.text != nullptr) {
      EXPECT_EQ(parse_string(std::string(c.text), c.delim), c.tokens);
    }
  }
}

TEST(ParseString, FailedSplitLeavesNothingToFree) {
  int argc = 5;
  char** argv = nullptr;
  EXPECT_EQ(parse_string("", ',', &argc, &argv), -1);
  EXPECT_EQ(argc, 0);
  EXPECT_EQ(argv, nullptr);
  EXPECT_EQ(free_parsed_array(argc, argv), 0);
}

TEST(Compare, CaseInsensitive) {
  struct Case {
    const char* a;
    const char* b;
    int n;  // -1: stricmp
    bool equal;
  };
  const Case cases[] = {
      {"LINE", "line", -1, true},    {"abc", "abd", -1, false},   {"abc", "ab", -1, false},
      {"", "", -1, true},            {"Fi:log", "fi", 2, true},   {"abc", "", 0, false},
      {"", "", 0, true},             {"cu12", "CU", 2, true},     {"c", "cu", 2, false},
      {"exiting", "exit", 4, true},  {"abc", "abd", 2, true},     {"a", "b", -5, false},
      {nullptr, "a", -1, false},     {"a", nullptr, 3, false},
  };
  for (const Case& c : cases) {
    int r = c.n == -1 ? stricmp(c.a, c.b) : strnicmp(c.a, c.b, c.n);
    EXPECT_EQ(r == 0, c.equal) << (c.a ? c.a : "null") << " vs " << (c.b ? c.b : "null")
                               << " n=" << c.n;
  }
  EXPECT_LT(stricmp("a", "B"), 0);
  EXPECT_GT(strnicmp("z", "A", 1), 0);
}

TEST(Edit, InPlace) {
  char yes[] = "yes \r\n";
  EXPECT_EQ(wstrim_string(yes), 1);
  EXPECT_STREQ(yes, "yes");
  char ab[] = "a\rb\n  ";
  wsstrip_string(ab);
  EXPECT_STREQ(ab, "ab  ");
  char tabs[] = "x\t ";
  wstrim_string(tabs);
  EXPECT_STREQ(tabs, "x\t");
  char blanks[] = "a b c";
  fill_string(blanks, ' ', '_');
  EXPECT_STREQ(blanks, "a_b_c");
  char cut[] = "a b c";
  fill_string(cut, ' ', '\0');
  EXPECT_STREQ(cut, "a");
  char mixed[] = "aBz-09";
  EXPECT_EQ(up_string(mixed), 1);
  EXPECT_STREQ(mixed, "ABZ-09");
  EXPECT_EQ(low_string(mixed), 1);
  EXPECT_STREQ(mixed, "abz-09");
  char empty[] = "";
  EXPECT_EQ(up_string(empty), 0);
  EXPECT_EQ(low_string(nullptr), 0);

  std::string s = "a\rb\n ";
  wstrim_string(s);
  EXPECT_EQ(s, "ab");
  s = "a b c";
  fill_string(s, ' ', '\0');
  EXPECT_EQ(s, "a");
}

}  // namespace
