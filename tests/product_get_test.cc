// product_get run on the real bulletins, with header files in every state.
#include <fcntl.h>
#include <regex.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "src/header_records.h"

// The fixture runs the binary that KIV_HEADER_TOOL names.
#undef KIV_HEADER_TOOL
#define KIV_HEADER_TOOL KIV_PRODUCT_GET
#include "tests/tool_fixture.h"

namespace {

const std::string kFeed = std::string(KIV_TEST_DATA) + "/feed_concat_text.raw";
const std::string kSoh = std::string(KIV_SOURCE_DIR) + "/examples/raw/2026120818.raw";
const std::string kStars = std::string(KIV_SOURCE_DIR) + "/examples/raw/2026120819.raw";

// An independent splitter: reads the data as lines in pieces of at most 80
// characters; a piece with 0x01 first or second, or one that begins with
// "** ", starts a product (the first kind seen is the file's), and the
// start's own lines (four, or two) are passed over. A start-of-heading
// file's last product counts when it ends in 0x03 (before CR and LF).
Lines split_products(const std::string& d) {
  struct Piece { size_t at; std::string_view text; };
  std::vector<Piece> pieces;
  for (size_t i = 0; i < d.size();) {
    size_t lf = d.find('\n', i);
    size_t end = std::min({lf == std::string::npos ? d.size() : lf, i + 80, d.size()});
    pieces.push_back({i, std::string_view(d).substr(i, end - i)});
    i = end < d.size() && d[end] == '\n' ? end + 1 : end;
  }
  std::vector<size_t> starts;
  char kind = 0;
  for (size_t k = 0; k < pieces.size();) {
    std::string_view t = pieces[k].text;
    size_t soh = t.substr(0, 2).find('\x01');
    if (kind != '*' && soh != std::string_view::npos) {
      kind = 1, starts.push_back(pieces[k].at + soh), k += 4;
    } else if (kind != 1 && t.substr(0, 3) == "** ") {
      kind = '*', starts.push_back(pieces[k].at), k += 2;
    } else {
      ++k;
    }
  }
  starts.push_back(d.size());
  size_t last = d.find_last_not_of("\r\n");
  if (kind == 1 && (last == std::string::npos || d[last] != '\x03')) starts.pop_back();
  Lines products;
  for (size_t i = 0; i + 1 < starts.size(); ++i)
    products.push_back(d.substr(starts[i], starts[i + 1] - starts[i]));
  return products;
}

class ProductGetTest : public ToolTest {
 protected:
  // Puts `data` in place as the data file raw/2026060100.raw and `header`
  // (unless null) as its header file.
  void place(const std::string& data, const std::string* header) {
    write("raw/2026060100.raw", data);
    fs::remove_all(dir_ / "hdr");
    if (header != nullptr) write("hdr/2026060100.hdr", *header);
  }
  ToolRun get(std::vector<std::string> args) {
    args.insert(args.begin(), "-ba");
    args.push_back("2026060100.raw");
    return run(with_paths(args));
  }
};

TEST_F(ProductGetTest, ProductsAreWhatAnIndependentSplitterFinds) {
  for (const std::string& path : {kFeed, kSoh, kStars}) {
    const std::string data = read_file(path);
    const Lines products = split_products(data);
    ASSERT_GE(products.size(), 10u) << path;
    const std::string header = join(index_of(path));
    for (const std::string* h : {&header, static_cast<const std::string*>(nullptr)}) {
      SCOPED_TRACE(path + (h ? " with its header" : " without a header"));
      place(data, h);
      ToolRun text = get({});
      ToolRun ranges = get({"-ou", "ranges"});
      ASSERT_EQ(text.status, 0) << text.err;
      EXPECT_EQ(text.out, join(products));
      // The text split where the ranges say, and the ranges read back.
      Lines pieces;
      std::string read_back;
      int fd = open((dir_ / "raw/2026060100.raw").c_str(), O_RDONLY);
      std::istringstream lines(ranges.out);
      for (std::string name, range; lines >> name >> range;) {
        EXPECT_EQ(name, "raw/2026060100.raw");
        long first = std::stol(range), last = std::stol(range.substr(range.find('-') + 1));
        size_t at = read_back.size();
        pieces.push_back(text.out.substr(at, last - first + 1));
        read_back.resize(at + last - first + 1);
        EXPECT_EQ(pread(fd, read_back.data() + at, last - first + 1, first), last - first + 1);
      }
      close(fd);
      EXPECT_EQ(pieces, products);
      EXPECT_EQ(read_back, text.out);
    }
  }
}

TEST_F(ProductGetTest, EveryHeaderStateGivesTheProductsOfAFreshIndex) {
  const Lines good = index_of(kFeed);
  const std::string all = join(good);
  const std::string mismatch =
      "Header file does not match the data file: hdr/2026060100.hdr, scanning the data file\n";
  const std::string none = "No header file for raw/2026060100.raw, scanning the data file\n";
  struct Case {
    const char* what;
    std::string header;  // "-": no header file
    std::string out;     // messages on standard output, then on standard error
    std::string err;
  };
  const Case cases[] = {
      {"up to date", all, "", ""},
      {"behind by three records", join(Lines(good.begin(), good.end() - 3)), "", ""},
      {"missing", "-", none, ""},
      {"of another data file", join(index_of(kSoh)), "", mismatch},
      {"a record in the middle with its offset moved by one", join(offset_plus_one(good, 20)), "",
       mismatch},
      {"a last line cut short", all.substr(0, all.size() - 12), "", ""},
      {"a record in the middle missing", [&] {
         Lines l = good;
         l.erase(l.begin() + 19);
         return join(l);
       }(), "", mismatch},
      {"a record in the middle with another heading", [&] {
         Lines l = good;
         l[19][9] ^= 0x20;
         return join(l);
       }(), "", mismatch},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    place(read_file(kFeed), c.header == "-" ? nullptr : &c.header);
    ToolRun r = get({"-me", "mess", "-ou", "list", "-of", "out.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read("out.txt"), join(good, "raw/2026060100.raw:"));
    EXPECT_EQ(r.out.substr(r.out.find("\n\n") + 2), c.out);  // after the banner
    EXPECT_EQ(r.err, c.err);
  }
}

// Whether regexec matches `field` with the pattern (an empty one: any).
bool regexec_matches(const std::string& pattern, std::string_view field) {
  if (pattern.empty()) return true;
  regex_t re;
  if (regcomp(&re, pattern.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB) != 0) return false;
  bool match = regexec(&re, std::string(field).c_str(), 0, nullptr, 0) == 0;
  regfree(&re);
  return match;
}

TEST_F(ProductGetTest, PatternsChooseWhatRegexecMatchesAsTyped) {
  const Lines records = index_of(kSoh);
  const std::string header = join(records);
  place(read_file(kSoh), &header);
  write("etc/parse.lup", "WW text\n");  // a type for headings, which patterns never choose
  struct Case {
    std::string heading, ident;  // -pr and -id ("": not given)
    size_t chosen;               // of the ten products
  };
  const Case cases[] = {
      {"^saus70 kwbc", "", 2},
      {"", "^taf", 1},
      {"KWBC", "^(BOY|TAF)", 1},
      {"WWUS", "SEL[0-9]$", 1},
      {"WWUS", "", 2},
      {"^KWBC", "", 0},
      {"[[:digit:]]{6}$", "", 8},
      {"\\bKWBC\\b", "", 3},
      {"^\\w+\\s\\<k", "", 10},
      {"SAUS70 KWB{,2}C", "", 2},
      {"SAUS70 KWBCX{1}?", "", 2},
      {"SAUS70 KWBX+?C", "", 2},
      {"SAUS70 KWBX+{0}C", "", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.heading + " / " + c.ident);
    std::string expected;
    for (const std::string& line : records) {
      hdr::RecordParts f;
      ASSERT_TRUE(hdr::split_record(std::string_view(line).substr(0, line.size() - 1), f));
      if (regexec_matches(c.heading, f.heading) && regexec_matches(c.ident, f.id))
        expected += "raw/2026060100.raw:" + line;
    }
    EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), static_cast<long>(c.chosen));
    std::vector<std::string> args = {"-ou", "list"};
    for (const auto& [option, pattern] : {std::pair{"-pr", c.heading}, {"-id", c.ident}})
      if (!pattern.empty()) args.insert(args.end(), {option, pattern});
    ToolRun r = get(args);
    EXPECT_EQ(r.status, c.chosen > 0 ? 0 : 1);
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(ProductGetTest, EveryAnswerIsSaid) {
  place(read_file(kSoh), nullptr);
  write("raw/notes.raw", read_file(kSoh));
  write("etc/same", "raw %R/%Y%m%d%h.raw %R/%Y%m%d%h.raw 0\n");
  const std::string no_terminal =
      "No data file named and no terminal to ask: name one, or give -ba for the latest\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    bool untouched;   // the output file keeps what it held
    std::string out;  // messages on standard output after the banner
    std::string err;  // standard error
  };
  const Case cases[] = {
      {{}, 2, true, "", no_terminal},
      {{"-ba", "-pr", "SAUS(70", "2026060100.raw"}, 2, true, "",
       "Invalid pattern SAUS(70: Unmatched ( or \\(\n"},
      {{"-ba", "-ou", "bytes", "2026060100.raw"}, 2, true, "",
       "Unknown output type bytes: not text, plain, list, ranges, json or json,text\n"},
      {{"-ba", "2026060101.raw", "2026060100.raw"}, 2, false, "", "No data file raw/2026060101.raw\n"},
      {{"-ba", "-me", "mess", "-pr", "^KWBC", "-nh", "1", "2026060100.raw"}, 1, false,
       "No header file for raw/2026060100.raw, scanning the data file\nNo data file raw/2026060101.raw\n", ""},
      {{"-ba", "-pr", "^KWBC", "@raw/notes.raw"}, 1, false, "",
       "No date in data file name, scanning the data file: raw/notes.raw\n"},
      {{"-ba", "-nc", "same", "-pr", "^KWBC", "2026060100.raw"}, 1, false, "",
       "Header file is the data file itself, scanning the data file: raw/2026060100.raw\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    write("out.txt", "held\n");
    std::vector<std::string> args = with_paths({"-of", "out.txt"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    ToolRun r = run(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out.substr(std::min(r.out.size(), r.out.find("\n\n") + 2)), c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(read("out.txt") == "held\n", c.untouched);
  }
  ToolRun help = run({"-h"});
  EXPECT_NE(help.out.find("\n -pr pattern  Heading pattern"), std::string::npos);
  EXPECT_EQ(help.out.find("Product name"), std::string::npos);
}

TEST_F(ProductGetTest, AProductWithoutItsEndOfTextIsLeftOutUntilItIsThere) {
  const std::string data = read_file(kSoh);
  const std::string left_out =
      "Last product of raw/2026060100.raw is not complete yet, left out: "
      "  14222 SMVD22 KWBC 110044 / BOYCM7\n";
  struct Case {
    std::string written;  // what the feed has written so far
    std::string ident;    // -id, which chooses the last product alone ("": every one)
    std::string shown;    // at level mess, or at warn when a pattern chose it
  };
  const Case cases[] = {
      {data.substr(0, data.rfind('\x03')), "", left_out},
      {data.substr(0, data.rfind('\x03')), "^boy", left_out},
      {data.substr(0, data.rfind('\x01') + 20), "", ""},  // within the lines of its start
      {data.substr(0, data.size() - 1) + "\r\r\n\r", "", ""},  // whole, carriage returns after it
  };
  for (const Case& c : cases) {
    for (bool with_header : {true, false}) {
      SCOPED_TRACE(testing::PrintToString(c.written.substr(c.written.size() - 4)) + c.ident +
                   (with_header ? " with a header" : " without a header"));
      place(c.written, nullptr);
      if (with_header) write("hdr/2026060100.hdr", join(index_of(dir_ / "raw/2026060100.raw")));
      std::vector<std::string> args = {"-me", "mess", "-of", "out.txt"};
      if (!c.ident.empty()) args.insert(args.end(), {"-id", c.ident});
      ToolRun cut = get(args);
      bool all = c.ident.empty();
      EXPECT_EQ(cut.status, all ? 0 : 1) << cut.err;
      EXPECT_EQ(cut.err, all ? "" : c.shown);
      std::string none = "No header file for raw/2026060100.raw, scanning the data file\n";
      EXPECT_EQ(cut.out.substr(cut.out.find("\n\n") + 2), (with_header ? "" : none) + (all ? c.shown : ""));
      EXPECT_EQ(read("out.txt"), all ? join(split_products(c.written)) : "");
      if (data.compare(0, c.written.size(), c.written) != 0) continue;
      write("raw/2026060100.raw", data.substr(c.written.size()), true);
      EXPECT_EQ(get({}).out, join(split_products(data)));
    }
  }
}

}  // namespace
