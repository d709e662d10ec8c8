// header_check run on damaged copies of a real data file's header.
#include <cstdio>
#include <optional>
#include <regex>
#include <string>
#include <vector>


// The fixture runs the binary that KIV_HEADER_TOOL names.
#undef KIV_HEADER_TOOL
#define KIV_HEADER_TOOL KIV_HEADER_CHECK
#include "tests/tool_fixture.h"

namespace {

using HeaderCheckTest = ToolTest;

TEST_F(HeaderCheckTest, DamagedHeadersAreFoundAtTheirFirstWrongLine) {
  const std::string data = std::string(KIV_TEST_DATA) + "/feed_concat_text.raw";
  const Lines good = index_of(data);
  const long n = static_cast<long>(good.size());
  ASSERT_GT(n, 30);
  write("raw/2026060100.raw", read(data));  // an absolute name reads that file
  write("raw/2026060102.raw", read(data));  // checked after it, with a good header

  auto erase = [&](size_t line) { Lines l = good; l.erase(l.begin() + line - 1); return join(l); };
  auto insert = [&](size_t at, size_t from, size_t count) {
    Lines l = good;
    l.insert(l.begin() + at, good.begin() + from - 1, good.begin() + from - 1 + count);
    return join(l);
  };
  Lines heading = good;
  heading[9][8] ^= 0x20;
  // NUL bytes from within line 10 to within line 12, line feeds included.
  std::string nul_run = join(good);
  size_t line10 = join(Lines(good.begin(), good.begin() + 9)).size();
  nul_run.replace(line10 + 20, good[9].size() + good[10].size(), good[9].size() + good[10].size(), '\0');
  auto summary = [&](long checked, int missing, int extra, int differing, long behind = 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%ld records checked, %d missing, %d extra, %d differing",
                  checked, missing, extra, differing);
    std::string s = buf;
    if (behind > 0) s += ", behind by " + std::to_string(behind) + " records";
    return s;
  };
  enum Form { kFile, kNone, kDirectory };
  struct Case {
    const char* what;
    std::string header;
    int status;
    long first_line;   // of the first difference; 0: none reported
    std::string sums;  // the summary line after the header's name; "" none
    Form form = kFile;
  };
  const Case cases[] = {
      {"intact", join(good), 0, 0, summary(n, 0, 0, 0)},
      {"record missing", erase(10), 1, 10, summary(n - 1, 1, 0, 0)},
      {"record duplicated", insert(10, 10, 1), 1, 11, summary(n + 1, 0, 1, 0)},
      {"block duplicated", insert(20, 5, 5), 1, 21, summary(n + 5, 0, 5, 0)},
      {"offset off by one", join(offset_plus_one(good, 10)), 1, 10, summary(n, 0, 0, 1)},
      {"heading changed", join(heading), 1, 10, summary(n, 0, 0, 1)},
      {"NUL run", nul_run, 1, 10, summary(n - 2, 2, 0, 1)},
      {"another file's header",
       join(index_of(std::string(KIV_SOURCE_DIR) + "/examples/raw/2026120818.raw")), 1, 1, ""},
      {"behind by three", join(Lines(good.begin(), good.end() - 3)), 0, 0,
       summary(n - 3, 0, 0, 0, 3)},
      {"empty", "", 0, 0, summary(0, 0, 0, 0, n)},
      {"no header file", "", 1, 0, "", kNone},
      {"unreadable header", "", 2, 0, "", kDirectory},
  };
  const std::regex first(R"(hdr/2026060100\.hdr:(\d+): header has )");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_ / "hdr");
    if (c.form == kFile) write("hdr/2026060100.hdr", c.header);
    if (c.form == kDirectory) fs::create_directories(dir_ / "hdr/2026060100.hdr");
    write("hdr/2026060102.hdr", join(good));
    // The series: a missing hour next (a gap, which changes no status), then
    // one with a good header; the status is the worst of all files'.
    ToolRun r = run(with_paths({"-ba", "-me", "mess", "-nh", "2", "2026060100.raw"}));
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.out.find("No data file raw/2026060101.raw\n"), std::string::npos) << r.out;
    std::smatch m;
    long line = std::regex_search(r.err, m, first) ? std::stol(m[1]) : 0;
    EXPECT_EQ(line, c.first_line) << r.err;
    if (!c.sums.empty()) {
      EXPECT_NE(r.out.find("hdr/2026060100.hdr: " + c.sums + "\n"), std::string::npos) << r.out;
    }
    if (c.form == kNone) {
      EXPECT_EQ(r.err, "No header file for raw/2026060100.raw\n");
    }
    if (c.form == kDirectory) {
      EXPECT_EQ(r.err, "Unable to read header file: hdr/2026060100.hdr (Is a directory)\n");
    }
  }
}

}  // namespace
