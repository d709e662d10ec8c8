#include "src/tools.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Read {
  int result;
  std::string text;
  long pos_after;  // ftell after the call
};

std::vector<Read> read_all(const std::string& content, int len) {
  FILE* f = tmpfile();
  fwrite(content.data(), 1, content.size(), f);
  fseek(f, 0, SEEK_SET);
  std::vector<Read> reads;
  char buf[256];
  for (;;) {
    std::snprintf(buf, sizeof buf, "stale");
    int r = fgetnline(f, buf, len);
    reads.push_back({r, buf, ftell(f)});
    if (r < 0) break;
  }
  fclose(f);
  return reads;
}

TEST(Fgetnline, PiecesPositionsAndEnds) {
  struct Case {
    const char* name;
    std::string content;
    int len;
    std::vector<Read> reads;
  };
  const std::string l200(200, 'x');
  const std::string l80(80, 'y');
  const Case cases[] = {
      {"empty line between", "abc\n\ndef", 80,
       {{3, "abc", 3}, {0, "", 4}, {3, "def", 8}, {-1, "stale", 8}}},
      {"leading line feed", "\nabc\n", 80, {{3, "abc", 4}, {-1, "stale", 5}}},
      {"two leading line feeds", "\n\nabc", 80, {{0, "", 1}, {3, "abc", 5}, {-1, "stale", 5}}},
      {"no final line feed", "ab\ncd", 80, {{2, "ab", 2}, {2, "cd", 5}, {-1, "stale", 5}}},
      {"final line feed", "ab\n", 80, {{2, "ab", 2}, {-1, "stale", 3}}},
      {"carriage returns kept", "a\r\r\nb", 80, {{3, "a\r\r", 3}, {1, "b", 5}, {-1, "stale", 5}}},
      {"long line in pieces", l200 + "\n", 80,
       {{80, std::string(80, 'x'), 80},
        {80, std::string(80, 'x'), 160},
        {40, std::string(40, 'x'), 200},
        {-1, "stale", 201}}},
      {"exactly len", l80 + "\nz", 80, {{80, l80, 80}, {1, "z", 82}, {-1, "stale", 82}}},
      {"len+1 then empty", l80 + "y\n\n", 80,
       {{80, l80, 80}, {1, "y", 81}, {0, "", 82}, {-1, "stale", 83}}},
      {"empty stream", "", 80, {{-1, "stale", 0}}},
      {"only line feeds", "\n\n\n", 80, {{0, "", 1}, {0, "", 2}, {-1, "stale", 3}}},
      {"leading blanks kept", "  x", 80, {{3, "  x", 3}, {-1, "stale", 3}}},
  };
  for (const Case& c : cases) {
    auto got = read_all(c.content, c.len);
    ASSERT_EQ(got.size(), c.reads.size()) << c.name;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].result, c.reads[i].result) << c.name << " read " << i;
      EXPECT_EQ(got[i].text, c.reads[i].text) << c.name << " read " << i;
      EXPECT_EQ(got[i].pos_after, c.reads[i].pos_after) << c.name << " read " << i;
    }
  }
}

TEST(Fgetstring, ResultCodes) {
  FILE* f = tmpfile();
  fputs("abc\n\ndef", f);
  fseek(f, 0, SEEK_SET);
  std::string s = "keep";
  EXPECT_EQ(fgetstring(f, s, 249), 1);
  EXPECT_EQ(s, "abc");
  EXPECT_EQ(fgetstring(f, s, 249), 0);
  EXPECT_EQ(s, "");
  EXPECT_EQ(fgetstring(f, s, 2), 1);
  EXPECT_EQ(s, "de");
  EXPECT_EQ(fgetstring(f, s, 2), 1);
  EXPECT_EQ(s, "f");
  EXPECT_EQ(fgetstring(f, s, 2), -1);
  EXPECT_EQ(s, "f");
  fclose(f);
}

}  // namespace
