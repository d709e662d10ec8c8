// product_get run on the real bulletins, with header files in every state.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "src/product_get.h"

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

TEST_F(ProductGetTest, PatternsChooseByHeadingAndSecondLine) {
  const std::string header = join(index_of(kSoh));
  place(read_file(kSoh), &header);
  const std::string name = "raw/2026060100.raw:";
  struct Case {
    std::vector<std::string> args;
    bool named = true;  // false: names a data file that does not exist
    int status;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {{"-pr", "^saus70 kwbc"}, true, 0,
       name + "    223 SAUS70 KWBC 051400 / METAR               \n" + name +
           "   1579 SAUS70 KWBC 081400 / METAR               \n", ""},
      {{"-id", "^TAF"}, true, 0, name + "     10 FTUS43 KLOT 091553 AAB / TAFORD              \n", ""},
      {{"-pr", "KWBC", "-id", "^(BOY|TAF)"}, true, 0,
       name + "  14222 SMVD22 KWBC 110044 / BOYCM7              \n", ""},
      {{"-pr", "WWUS", "-id", "SEL[0-9]$"}, true, 0,
       name + "   8777 WWUS20 KWNS 012048 / SEL9                \n", ""},
      {{"-pr", "^KWBC"}, true, 1, "", ""},
      {{"-pr", "SAUS(70"}, false, 2, "", "Invalid pattern SAUS(70: "},
      {{"-ou", "bytes"}, false, 2, "", "Unknown output type bytes: not text, list or ranges\n"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = with_paths({"-ba", "-ou", "list"});
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(c.named ? "2026060100.raw" : "2026060101.raw");
    ToolRun r = run(args);
    SCOPED_TRACE(c.args[1]);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err.substr(0, c.err.size()), c.err);  // the reason follows an invalid pattern
    EXPECT_EQ(r.err.find("Unable to open"), std::string::npos);  // nothing read
  }
}

TEST_F(ProductGetTest, AProductWithoutItsEndOfTextIsLeftOutUntilItIsThere) {
  const std::string data = read_file(kSoh);
  const Lines products = split_products(data);
  struct Case {
    size_t cut;         // the feed has written the bytes before
    std::string shown;  // at level mess
  };
  const Case cases[] = {
      {data.rfind('\x03'),
       "Last product of raw/2026060100.raw is not complete yet, left out: "
       "  14222 SMVD22 KWBC 110044 / BOYCM7\n"},
      {data.rfind('\x01') + 20, ""},  // within the lines of its start
  };
  for (const Case& c : cases) {
    for (bool with_header : {true, false}) {
      SCOPED_TRACE(std::to_string(c.cut) + (with_header ? " with a header" : " without a header"));
      place(data.substr(0, c.cut), nullptr);
      if (with_header) write("hdr/2026060100.hdr", join(index_of(dir_ / "raw/2026060100.raw")));
      ToolRun cut = get({"-me", "mess", "-of", "out.txt"});
      EXPECT_EQ(cut.status, 0) << cut.err;
      EXPECT_EQ(cut.err, "");
      std::string none = "No header file for raw/2026060100.raw, scanning the data file\n";
      EXPECT_EQ(cut.out.substr(cut.out.find("\n\n") + 2), (with_header ? "" : none) + c.shown);
      EXPECT_EQ(read("out.txt"), join(Lines(products.begin(), products.end() - 1)));
      write("raw/2026060100.raw", data.substr(c.cut), true);
      EXPECT_EQ(get({}).out, join(products));
    }
  }
}

}  // namespace
