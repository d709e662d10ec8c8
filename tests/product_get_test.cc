// product_get run on the real bulletins, with header files in every state.
#include <fcntl.h>
#include <regex.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "src/files.h"
#include "src/header_records.h"
#include "src/http.h"
#include "src/mess.h"
#include "src/par_tool.h"
#include "src/product_list.h"
#include "src/prog.h"
#include "src/resrc.h"

// The fixture runs the binary that KIV_HEADER_TOOL names.
#undef KIV_HEADER_TOOL
#define KIV_HEADER_TOOL KIV_PRODUCT_GET
#include "tests/tool_fixture.h"
#include "tests/web_server.h"

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

// The text of `products` to read, as an independent reading of it: the
// start-of-heading line, carriage returns and end-of-text bytes dropped,
// no line feed at either end of a product, one empty line between them.
std::string plain_of(const Lines& products) {
  std::string out;
  for (std::string p : products) {
    if (p[0] == '\x01') p.erase(0, p.find('\n') + 1);
    std::erase_if(p, [](char c) { return c == '\r' || c == '\x03'; });
    p.erase(0, p.find_first_not_of('\n'));
    p.erase(p.find_last_not_of('\n') + 1);
    out += (out.empty() ? "" : "\n") + p + "\n";
  }
  return out;
}

// The last `n` of `lines`, the last first.
Lines newest(const Lines& lines, size_t n) { return Lines(lines.rbegin(), lines.rbegin() + n); }

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
  // The products the library call hands over for raw/2026060100.raw, named
  // as product_get names it, each checked against its first and last byte.
  Lines library_products() {
    std::vector<std::string> args = {"t", "-ba", "-me", "warn", "-fp", dir_ / "etc", "-rp", dir_ / "raw",
                                      "-cp", dir_ / "hdr", "2026060100.raw"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    RES_reset();
    FILE_reset();
    RES_init(static_cast<int>(argv.size()), argv.data(), PROG_base_keys, PROG_positional);
    PAR_in_file_only("raw");
    FILE_named data;
    FILE_get_file_only("", data);
    Lines got;
    Outcome listed = PL_products(data, {nullptr, 0, true}, [&](const PL_product& p, PL_text& text) {
      std::string bytes;
      EXPECT_TRUE(text.read([&](std::string_view piece) { return bytes.append(piece), true; }));
      EXPECT_EQ(p.last + 1 - p.first, static_cast<long>(bytes.size()));
      got.push_back(bytes);
      return true;
    });
    EXPECT_EQ(listed.count, static_cast<long>(got.size()));
    return got;
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
      std::vector<long> firsts;
      std::string read_back;
      int fd = open((dir_ / "raw/2026060100.raw").c_str(), O_RDONLY);
      std::istringstream lines(ranges.out);
      for (std::string name, range; lines >> name >> range;) {
        EXPECT_EQ(name, "raw/2026060100.raw");
        long first = std::stol(range), last = std::stol(range.substr(range.find('-') + 1));
        firsts.push_back(first);
        size_t at = read_back.size();
        pieces.push_back(text.out.substr(at, last - first + 1));
        read_back.resize(at + last - first + 1);
        EXPECT_EQ(pread(fd, read_back.data() + at, last - first + 1, first), last - first + 1);
      }
      close(fd);
      EXPECT_EQ(pieces, products);
      EXPECT_EQ(read_back, text.out);
      EXPECT_EQ(library_products(), products);
      EXPECT_EQ(get({"-ne", "3"}).out, join(newest(products, 3)));
      EXPECT_EQ(get({"-ou", "plain"}).out, plain_of(products));
      // JSON lines that parse, with each product's place, record and bytes.
      ToolRun json = get({"-ou", "json,text"});
      const std::string python = "import json, sys\nfor line in sys.stdin: json.loads(line)\n";
      EXPECT_EQ(run_program({"/usr/bin/python3", "-c", python}, {}, dir_, &json.out).status, 0);
      const Lines records = index_of(path);
      std::istringstream objects(json.out);
      size_t i = 0;
      for (std::string line; std::getline(objects, line) && i < products.size(); ++i) {
        nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
        hdr::RecordParts r;
        ASSERT_TRUE(hdr::split_record(std::string_view(records[i]).substr(0, records[i].size() - 1), r));
        std::string heading(r.heading.substr(0, r.heading.find_last_not_of(' ') + 1));
        EXPECT_EQ(j["file"], "raw/2026060100.raw");
        EXPECT_EQ(j["offset"], r.offset);
        EXPECT_EQ(j["heading"], heading);
        EXPECT_EQ(j["id"], std::string(r.id));
        EXPECT_EQ(j["text"], products[i]);
        EXPECT_EQ(j["first"], firsts[i]);
        EXPECT_EQ(j["last"].get<long>() + 1 - firsts[i], static_cast<long>(products[i].size()));
        if (j.contains("ttaaii")) {
          std::string bbb = j.contains("bbb") ? " " + j["bbb"].get<std::string>() : "";
          EXPECT_EQ(heading, j["ttaaii"].get<std::string>() + " " + j["cccc"].get<std::string>() + " " +
                                 j["ddhhmm"].get<std::string>() + bbb);
        }
      }
      EXPECT_EQ(i, products.size());
    }
    // Data from a pipe, whole and the newest three.
    EXPECT_EQ(run(with_paths({"-ba", "-"}), {}, &data).out, join(products));
    EXPECT_EQ(run(with_paths({"-ba", "-ne", "3", "-"}), {}, &data).out, join(newest(products, 3)));
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
  // A series after it: nothing at 01, the example file at 02 with its header.
  const Lines soh = index_of(kSoh);
  Lines listing;
  for (const std::string& record : good) listing.push_back("raw/2026060100.raw:" + record);
  for (const std::string& record : soh) listing.push_back("raw/2026060102.raw:" + record);
  const size_t n = soh.size() + good.size() - 5;  // down to the fifth record of the feed
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    place(read_file(kFeed), c.header == "-" ? nullptr : &c.header);
    ToolRun r = get({"-me", "mess", "-ou", "list", "-of", "out.txt"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read("out.txt"), join(good, "raw/2026060100.raw:"));
    EXPECT_EQ(r.out.substr(r.out.find("\n\n") + 2), c.out);  // after the banner
    EXPECT_EQ(r.err, c.err);
    write("raw/2026060102.raw", read_file(kSoh));
    write("hdr/2026060102.hdr", join(soh));
    ToolRun last = run(with_paths({"-ba", "-ou", "list", "-ne", std::to_string(n), "-nh", "2", "2026060100.raw"}));
    EXPECT_EQ(last.status, 0);
    EXPECT_EQ(last.out, join(newest(listing, n)));
    EXPECT_EQ(last.err, c.err);
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
      {{"-ba", "-of", "/dev/full", "-ou", "plain", "-ne", "2", "2026060100.raw"}, 2, true, "",
       "Unable to write output file: /dev/full (No space left on device)\n"},
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

// A heading's day, hour and minute are the last ones at or before the end
// of the data file's hour.
TEST_F(ProductGetTest, JsonDatesAHeadingByItsDataFile) {
  struct Case {
    std::string file;     // the data file's date
    std::string heading;
    std::string parts;    // the parts decoded, "" for none
  };
  const Case cases[] = {
      {"2027010100", "SAUS70 KWBC 312355", R"("ttaaii":"SAUS70","cccc":"KWBC","ddhhmm":"312355","time":"2026-12-31T23:55:00Z")"},
      {"2026120100", "FXUS63 KDMX 302300 RRA",
       R"("ttaaii":"FXUS63","cccc":"KDMX","ddhhmm":"302300","bbb":"RRA","time":"2026-11-30T23:00:00Z")"},
      {"2026120818", "WWUS83 KGRR 081900", R"("ttaaii":"WWUS83","cccc":"KGRR","ddhhmm":"081900","time":"2026-12-08T19:00:00Z")"},
      {"2026120818", "WWUS83 KGRR 081901", R"("ttaaii":"WWUS83","cccc":"KGRR","ddhhmm":"081901","time":"2026-11-08T19:01:00Z")"},
      {"2026030112", "SAUS70 KWBC 290000", R"("ttaaii":"SAUS70","cccc":"KWBC","ddhhmm":"290000","time":"2026-01-29T00:00:00Z")"},
      {"2026120818", "SAUS70 KWBC 321200", ""},
      {"2026120818", "SAUS70 KWBC 081200 RR", ""},
      {"2026120818", "ZME1 CWA 030105", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " " + c.heading);
    fs::remove_all(dir_ / "raw");
    write("raw/" + c.file + ".raw", "\x01\r\r\n123 \r\r\n" + c.heading + "\r\r\nAFDDMX\r\r\ntext\r\r\n\x03");
    ToolRun r = run(with_paths({"-ba", "-ou", "json", c.file + ".raw"}));
    std::string parts = c.parts.empty() ? "" : "," + c.parts;
    EXPECT_EQ(r.out, R"({"file":"raw/)" + c.file + R"(.raw","first":0,"last":)" + std::to_string(30 + c.heading.size()) +
                         R"(,"offset":10,"heading":")" + c.heading + R"(","id":"AFDDMX")" + parts + "}\n");
  }
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
  std::string writing = "\x01\r\r\n123 \r\r\nWWUS99 KXXX 010000\r\r\nLONG\r\r\n";
  while (writing.size() < 300000) writing += "THE FEED IS STILL WRITING THIS PRODUCT\r\r\n";
  const Case cases[] = {
      {data.substr(0, data.rfind('\x03')), "", left_out},
      // Read past a block while its record is taken.
      {data + writing, "",
       "Last product of raw/2026060100.raw is not complete yet, left out:   15052 WWUS99 KXXX 010000 / LONG\n"},
      {data.substr(0, data.rfind('\x03')), "^boy", left_out},
      {data.substr(0, data.rfind('\x01') + 20), "", ""},  // within the lines of its start
      {data.substr(0, data.size() - 1) + "\r\r\n\r", "", ""},  // whole, carriage returns after it
  };
  for (const Case& c : cases) {
    // A pipe has ended where it ends: its last product is whole, whatever
    // is written of it.
    std::string piped;
    std::istringstream ranges(run(with_paths({"-ba", "-ou", "ranges", "-"}), {}, &c.written).out);
    for (std::string name; ranges >> name;) {
      long first = 0, last = 0;
      char dash = 0;
      ranges >> first >> dash >> last;
      piped += c.written.substr(first, last + 1 - first);
    }
    EXPECT_EQ(run(with_paths({"-ba", "-"}), {}, &c.written).out, piped);
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

// One step of the files on a web server; what product_get says of them
// is what it says of the same local files, unless the step says `err`.
struct RemoteStep {
  const char* what;
  std::function<void()> place;   // the files now (null: as they were)
  int server;                    // 0: lighttpd, 1: python's (no ranges), 2: refused, 3: stalled
  std::vector<std::string> args;  // options and data files
  int requests;                  // in lighttpd's log (-1: not counted)
  long most_bytes;               // ... sent at most
  long header_bytes;             // ... of which the first request (-1: any)
  std::string err;               // "": as locally; else it holds this, for each file
};

TEST_F(ProductGetTest, RemoteFilesGiveWhatTheSameLocalFilesGive) {
  if (!HTTP_supported()) GTEST_SKIP() << "built without libcurl";
  web::WebServer lighttpd(web::WebServer::lighttpd, dir_), python(web::WebServer::python, dir_);
  ASSERT_TRUE(lighttpd.running() && python.running());
  web::RefusedPort refused;
  web::StalledServer stalled;
  const std::string data = read_file(kFeed);
  const Lines good = index_of(kFeed);
  const std::string header = join(good), behind = join(Lines(good.begin(), good.begin() + 41));
  const long one = 109123 - 108574;  // the one NWUS54 KLCH product
  const std::string heading = "^NWUS54 KLCH", two = "^(NWUS54 KLCH|WWUS40)";
  auto both = [&](const std::string& hdr) { place(data, &hdr); };
  const RemoteStep steps[] = {
      {"up to date, first read: the header whole and the file's start", [&] { both(header); }, 0,
       {"-pr", heading, "2026060100.raw"}, 4, long(header.size()) + one + 4096, -1, ""},
      {"up to date: the header revalidated, the product with its checks, the tail", nullptr, 0,
       {"-pr", heading, "2026060100.raw"}, 3, one + 4096, 512, ""},
      {"header behind: the products after its last record scanned", [&] {
         both(behind);
         fs::remove_all(dir_ / "cache");
       }, 0, {"-pr", two, "2026060100.raw"}, 4, 32768, -1, ""},
      {"header grown on the server: only its new bytes fetched", [&] { both(header); }, 0,
       {"-pr", two, "2026060100.raw"}, 3, 16384, 512 + long(header.size() - behind.size()), ""},
      {"no header: the data file read whole", [&] { place(data, nullptr); }, 0,
       {"-pr", two, "2026060100.raw"}, 2, long(data.size()) + 1024, -1, ""},
      {"another file's header: the data file read whole after the warning",
       [&] { both(join(index_of(kSoh))); }, 0, {"-pr", two, "2026060100.raw"}, -1, 0, -1, ""},
      {"data file replaced: a chosen heading is gone", [&] {
         std::string changed = data;
         changed[changed.find("NWUS54 KLCH")+5] = '5';
         place(changed, &header);
       }, 0, {"-pr", heading, "2026060100.raw"}, -1, 0, -1, ""},
      {"a gap in a series", [&] { both(header); }, 0, {"-pr", heading, "-nh", "1", "2026060100.raw"}, 5,
       one + 4096 + 2048, -1, ""},
      {"the feed still writing a long last product: left out, read whole as a stream", [&] {
         std::string body;
         while (body.size() < 300000) body += "THE FEED IS STILL WRITING THIS PRODUCT\r\r\n";
         place(data + "\x01\r\r\n123 \r\r\nWWUS99 KXXX 010000\r\r\nLONG\r\r\n" + body, nullptr);
       }, 0, {"2026060100.raw"}, 2, long(data.size()) + 320000, -1, ""},
      {"server without ranges: said once, each data file read whole", [&] {
         both(header);
         write("raw/2026060101.raw", data);
       },
       1, {"-pr", heading, "-nh", "1", "2026060100.raw"}, -1, 0, -1,
       "Server ignores byte ranges, reading whole data files: " + python.url("").substr(0, python.url("").size() - 1)},
      {"connection refused: the server asked once", nullptr, 2, {"-pr", heading, "-nh", "1", "2026060100.raw"},
       -1, 0, -1, "Couldn't connect to server; 3 attempts)"},
      {"a server that stalls: given up after its time-outs", nullptr, 3,
       {"-to", "1", "-pr", heading, "-nh", "1", "2026060100.raw"}, -1, 0, -1,
       "Operation too slow. Less than 1 bytes/sec transferred the last 1 seconds; 3 attempts)"},
  };
  for (const RemoteStep& s : steps) {
    SCOPED_TRACE(s.what);
    if (s.place) s.place();
    std::string base = std::vector<std::string>{lighttpd.url(""), python.url(""), refused.url(""),
                                                stalled.url("")}[s.server];
    std::vector<std::string> args = {"-ba", "-me", "mess", "-hc", "cache", "-fp", "etc",
                                     "-rp", base + "raw", "-cp", base + "hdr"};
    args.insert(args.end(), s.args.begin(), s.args.end());
    lighttpd.take_requests();
    ToolRun remote = run(args);
    std::vector<web::Logged> log = lighttpd.take_requests();
    for (std::string* text : {&remote.out, &remote.err})
      for (size_t at; (at = text->find(base)) != std::string::npos;) text->erase(at, base.size());
    args.erase(args.begin() + 7, args.begin() + 11);
    ToolRun local = run(with_paths(args));
    EXPECT_EQ(remote.out, s.server < 2 ? local.out : local.out.substr(0, local.out.find("\n\n") + 2));
    if (s.err.empty()) {
      EXPECT_EQ(remote.status, local.status);
      EXPECT_EQ(remote.err, local.err);
    } else {
      EXPECT_EQ(remote.status, s.server < 2 ? local.status : 2);
      EXPECT_EQ(remote.err.find(s.err) == 0 || remote.err.find(s.err + "\n") != std::string::npos, true)
          << remote.err;
    }
    if (s.requests < 0) continue;
    long bytes = 0;
    for (const web::Logged& l : log) bytes += l.bytes;
    EXPECT_EQ(static_cast<int>(log.size()), s.requests);
    EXPECT_LE(bytes, s.most_bytes);
    if (s.header_bytes >= 0 && !log.empty()) {
      EXPECT_EQ(log[0].bytes, s.header_bytes);
    }
  }
}

}  // namespace
