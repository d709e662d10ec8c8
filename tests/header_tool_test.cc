// Tests of the product scanner and the header-file resume. The fast
// scanner is checked byte for byte against a deliberately simple one that
// reads the data file line by line with fgetnline.
#include "src/header_tool.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bench/raw_generator.h"
#include "bench/scan_files.h"
#include "tests/simple_scanner.h"
#include "src/header_records.h"
#include "src/mess.h"
#include "src/string.h"
#include "src/tools.h"
#include "tests/support.h"

namespace {

using rawgen::awkward_file;
using rawgen::feed_file;
using rawgen::random_bytes;
using rawgen::Style;

// ---- Running either scanner on a text ------------------------------------

struct Result {
  std::string header, out, err;
  int status = 0;
};

class HeaderTool : public ::testing::Test {
 protected:
  void SetUp() override {
    MESS_reset();
    SCAN_reset();
    MESS_set(MESS_SET, M_out3);  // every message of the scanner
  }
  void TearDown() override {
    MESS_reset();
    SCAN_reset();
  }

  std::string data_path() const { return dir_.file("data.raw"); }
  std::string header_path() const { return dir_.file("data.hdr"); }

  // Runs HDR_process on the data file as it stands; the header file is
  // opened "r+" in append mode (created empty when missing) and "w" else.
  Result process(int mode, bool with_header = true) {
    if (mode == FILE_APPEND && !std::filesystem::exists(header_path()))
      write_file(header_path(), "");
    FILE* in = std::fopen(data_path().c_str(), "rb");
    FILE* hdr = nullptr;
    if (with_header) hdr = std::fopen(header_path().c_str(), mode == FILE_APPEND ? "r+" : "w");
    Result r;
    {
      Capture cap(dir_);
      Outcome done = HDR_process(in, hdr != nullptr ? fileno(hdr) : -1, header_path(), mode);
      r.status = done.ok() ? static_cast<int>(done.count) : done.code;
      cap.stop();
      r.out = cap.out;
      r.err = cap.err;
    }
    if (hdr != nullptr) std::fclose(hdr);
    std::fclose(in);
    r.header = read_file(header_path());
    return r;
  }

  Result fast(const std::string& data) {
    write_file(data_path(), data);
    return process(FILE_NEW);
  }

  Result reference(const std::string& data) {
    write_file(data_path(), data);
    FILE* in = std::fopen(data_path().c_str(), "rb");
    FILE* hdr = std::fopen(header_path().c_str(), "w");
    Result r;
    {
      Capture cap(dir_);
      simple_scan(in, hdr);
      cap.stop();
      r.out = cap.out;
      r.err = cap.err;
    }
    std::fclose(hdr);
    std::fclose(in);
    r.header = read_file(header_path());
    return r;
  }

  // The records SCAN_records hands over, as header-file lines.
  std::string handed_over(const std::string& data) {
    write_file(data_path(), data);
    FILE* in = std::fopen(data_path().c_str(), "rb");
    std::string out;
    SCAN_records(in, [&](long, std::string_view rec) { return (out.append(rec) += '\n'), true; });
    std::fclose(in);
    return out;
  }

  void expect_same_as_reference(const std::string& data, const std::string& label) {
    Result want = reference(data);
    Result got = fast(data);
    ASSERT_EQ(got.header, want.header) << label;
    ASSERT_EQ(got.out, want.out) << label;
    // Small blocks put block boundaries everywhere: in lines, in starts.
    SCAN_set_block(512 + data.size() % 997);
    got = fast(data);
    SCAN_reset();
    ASSERT_EQ(got.header, want.header) << label << " (small blocks)";
    ASSERT_EQ(got.out, want.out) << label << " (small blocks)";
  }

  TempDir dir_;
};

std::string record(long pos, const std::string& heading, const std::string& id) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%7ld %s / %-20.20s\n", pos, heading.c_str(), id.c_str());
  return buf;
}

// ---- Edge cases with known records ----------------------------------------

TEST_F(HeaderTool, RecordsOfHandMadeFiles) {
  const std::string soh = "\x01\r\r\n123 \r\r\nSAUS70 KWBC 081800\r\r\nMTRDSM\r\r\nbody\r\r\n\x03";
  struct Case {
    const char* name;
    std::string data;
    std::string header;
  } cases[] = {
      {"empty data file", "", ""},
      {"stars line first", "** ABCDEFG ***\nSECOND\nbody\n", record(0, "ABCDEFG", "SECOND")},
      {"stars line later: offset of the line feed before it", "junk\n** HEAD1234\nID\n",
       record(4, "HEAD", "ID")},
      {"leading line feed", "\n** ABCDEFGH\nID\n", record(0, "ABCD", "ID")},
      {"SOH first character: offset of the line feed before the heading", soh,
       record(10, "SAUS70 KWBC 081800", "MTRDSM")},
      {"SOH second character after ETX", "x\n\x03\x01\r\r\n1\nHEAD\nID\n", record(8, "HEAD", "ID")},
      {"stars kind ignores SOH lines", "** ABCDEFGH\nID\n\x01\n1\nHEAD\nID2\n",
       record(0, "ABCD", "ID")},
      {"SOH kind ignores stars lines", soh + "\n** ABCDEFGH\nID\n",
       record(10, "SAUS70 KWBC 081800", "MTRDSM")},
      {"stars piece at characters 81 to 83", std::string(80, 'A') + "** HEADXXXX\nID\n",
       record(80, "HEAD", "ID")},
      {"SOH at character 82 of a long line", std::string(81, 'A') + "\x01\n1\nHEAD\nID\n",
       record(84, "HEAD", "ID")},
      {"SOH at character 83 is no start", std::string(82, 'A') + "\x01\n1\nHEAD\nID\n", ""},
      {"long second id cut to 20", "** ABCDEFGH\n0123456789012345678901234\n",
       record(0, "ABCD", "01234567890123456789")},
      {"second line not finished: held back", "x\n** ABCDEFGH\nID", ""},
      {"SOH second id not finished: held back", "\x01\r\r\n1\r\r\nHEAD\r\r\nID", ""},
      {"second line of 80 characters without line feed", "** ABCDEFGH\n" + std::string(80, 'I'),
       record(0, "ABCD", std::string(20, 'I'))},
      {"stars start without its second line", "x\n** ABCDEFGH\n", ""},
      {"SOH start without its second id", "\x01\r\r\n123\r\r\nHEADING", ""},
      {"SOH start without its heading", "A\n\x01\r\r\n123\r\r\n", ""},
      {"short stars line: empty heading", "** AB\nID\n", record(0, "", "ID")},
      {"seven-character stars line: empty heading", "** ABCD\nID\n", record(0, "", "ID")},
      {"NUL ends a field", std::string("\x01\n1\nSA\0US\nID\0X\n", 15), record(3, "SA", "ID")},
      {"NUL in a stars line", std::string("** ABCDEF\0GHIJK\nID\n", 19), record(0, "AB", "ID")},
      {"stale second byte of an empty line is no start",
       "\x01\nseq\nX\x01HEAD\nID\n\nA\n\nB\n", record(5, "X\x01HEAD", "ID")},
      {"CRs removed from SOH heading and id", "\x01\r\n1\r\nSA\rUS\r\r\nI\rD\r\r\n",
       record(5, "SAUS", "ID")},
      {"CRs kept in a stars second line", "** ABCDEFGH\nID\r\r\n", record(0, "ABCD", "ID\r\r")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fast(c.data).header, c.header) << c.name;
    EXPECT_EQ(reference(c.data).header, c.header) << c.name << " (reference)";
    EXPECT_EQ(handed_over(c.data), c.header) << c.name << " (handed over)";
  }
}

TEST_F(HeaderTool, MessagesOfOneProduct) {
  Result r = fast("junk\n** ABCDEFGH\nID\nbody\n** IJKLMNOP\nID2\n");
  EXPECT_EQ(r.out, "Processing products...\n"
                   "Product size:       4\n" +
                       record(4, "ABCD", "ID") + "Product size:      20\n" + record(24, "IJKL", "ID2"));
  EXPECT_EQ(r.status, 2);
}

TEST_F(HeaderTool, OffsetsOfTenMillionTakeMoreColumns) {
  std::string data;
  for (int i = 0; i < 100001; ++i) data += std::string(99, 'A') + "\n";
  data += "** HEADXXXX\nID\n";
  Result r = fast(data);
  EXPECT_EQ(r.header, record(10000099, "HEAD", "ID"));
  EXPECT_EQ(r.header.size(), 8 + 1 + 4 + 3 + 20 + 1u);
}

TEST(RecordLine, OffsetsReadBackAsWritten) {
  // The formatter copies fields in fixed-size moves: they need room after them.
  char head_text[hdr::kPiece + hdr::kSlack] = "HEAD", id_text[hdr::kPiece + hdr::kSlack] = "ID";
  const hdr::Field heading{head_text, 4}, id{id_text, 2};
  for (long pos : {0L, 9999999L, 10000000L, 4294967296L, 5000000000L}) {
    std::string line = hdr::format_record(pos, heading, id);
    hdr::RecordParts parts;
    ASSERT_TRUE(hdr::split_record(line, parts)) << line;
    EXPECT_EQ(parts.offset, pos) << line;
    EXPECT_EQ(parts.heading, "HEAD") << line;
    EXPECT_EQ(parts.id, "ID") << line;
  }
  // No file has such offsets; taken in, they overflow what reads after them.
  for (const char* line : {"99999999999999999999 HEAD", "9223372036854775807 HEAD"}) {
    long offset = 0;
    std::string_view rest;
    EXPECT_FALSE(hdr::parse_record_offset(line, offset, rest)) << line;
  }
}

// ---- The differential test --------------------------------------------------

// A sample that still meets every boundary kind of the generators (start
// bytes and "** " at and around the 80-character piece edges, line ends,
// no final line feed); bench/scan_sweep runs thousands by hand.
TEST_F(HeaderTool, SameAsLineByLineScanner) {
  struct Family {
    const char* name;
    int cases;
    std::string (*make)(uint64_t);
  } families[] = {
      {"awkward lines", 50, awkward_file},
      {"random bytes", 50, random_bytes},
      {"SOH feed", 20, [](uint64_t s) { return feed_file(Style::soh, s, 40000); }},
      {"stars feed", 20, [](uint64_t s) { return feed_file(Style::stars, s, 40000); }},
  };
  for (const Family& f : families) {
    for (int i = 0; i < f.cases; ++i) {
      expect_same_as_reference(f.make(i), std::string(f.name) + " seed " + std::to_string(i));
      if (HasFatalFailure()) return;
    }
  }
}

TEST_F(HeaderTool, LargeFilesCrossWindowsAndChunks) {
  for (Style style : {Style::soh, Style::stars}) {
    std::string data = feed_file(style, 7, 9 * 1024 * 1024);
    expect_same_as_reference(data, style == Style::soh ? "SOH" : "stars");
  }
}

// ---- Real bulletins ----------------------------------------------------------

std::string unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

TEST_F(HeaderTool, RealFeedFragmentGivesTheListedStarts) {
  std::ifstream tsv(std::string(KIV_TEST_DATA) + "/feed_concat_text.soh_line_starts.tsv");
  std::string line, want;
  std::getline(tsv, line);  // column names
  while (std::getline(tsv, line)) {
    std::vector<std::string> col = parse_string(line, '\t');
    col.resize(7);
    std::string id = unescape(col[6]);
    wsstrip_string(id);
    want += record(std::stol(col[3]), unescape(col[5]), id);
  }
  std::string data = read_file(std::string(KIV_TEST_DATA) + "/feed_concat_text.raw");
  ASSERT_EQ(data.size(), 219107u);
  EXPECT_EQ(fast(data).header, want);
  expect_same_as_reference(data, "feed fragment");
}

TEST_F(HeaderTool, RealRadarProductWithStrayStartAtTheEnd) {
  // A payload 0x01 in column 1 of the last line but one: its lines run
  // past the end of the file, so it gives no record.
  std::string data = read_file(std::string(KIV_TEST_DATA) + "/NCR_20260601_0000_1970date");
  Result r = fast(data);
  EXPECT_EQ(r.header.substr(0, 40), record(10, "SDUS52 KFFC 010000", "NCRATL").substr(0, 40));
  expect_same_as_reference(data, "radar");
}

// ---- Standard input and pipes ---------------------------------------------------

// A stream that cannot seek, fed by a child process in small writes.
FILE* pipe_from(const std::string& data, pid_t& child) {
  int fds[2];
  if (pipe(fds) != 0) return nullptr;
  child = fork();
  if (child == 0) {
    close(fds[0]);
    for (size_t at = 0; at < data.size(); at += 1000)
      if (write(fds[1], data.data() + at, std::min<size_t>(1000, data.size() - at)) < 0) _exit(1);
    _exit(0);
  }
  close(fds[1]);
  return fdopen(fds[0], "r");
}

TEST_F(HeaderTool, PipeGivesTheSameRecordsAsTheFile) {
  std::string data = feed_file(Style::soh, 3, 300000);
  std::string whole = fast(data).header;
  std::string half = fast(data.substr(0, data.size() / 2)).header;
  MESS_set(MESS_SET, M_warn);
  struct Case {
    const char* name;
    int mode;
    std::string header;  // before the run
  } cases[] = {
      {"new header file", FILE_NEW, ""},
      {"append: skips to the last record", FILE_APPEND, half},
      {"append: nothing new", FILE_APPEND, whole},
  };
  for (const Case& c : cases) {
    write_file(header_path(), c.header);
    pid_t child = 0;
    FILE* in = pipe_from(data, child);
    ASSERT_NE(in, nullptr);
    FILE* hdr = std::fopen(header_path().c_str(), c.mode == FILE_NEW ? "w" : "r+");
    EXPECT_TRUE(HDR_process(in, fileno(hdr), header_path(), c.mode).ok()) << c.name;
    std::fclose(hdr);
    std::fclose(in);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(read_file(header_path()), whole) << c.name;
  }
}

// ---- Resume -------------------------------------------------------------------

TEST_F(HeaderTool, RerunOnUnchangedFileAddsNothing) {
  std::string data = feed_file(Style::soh, 11, 20000);
  std::string whole = fast(data).header;
  Result r = process(FILE_APPEND);
  EXPECT_EQ(r.header, whole);
  // Each existing record is echoed as it stands, then nothing is found
  // after the last.
  EXPECT_EQ(r.out, "Scanning for end of header file...\n" + whole + "Processing products...\n");
  EXPECT_EQ(r.status, 0);
}

TEST_F(HeaderTool, AppendRecordsOnlyTheNewProducts) {
  for (Style style : {Style::soh, Style::stars}) {
    std::string data = feed_file(style, 5, 30000);
    std::string whole = fast(data).header;
    size_t cut = data.size() / 2;
    write_file(data_path(), data.substr(0, cut));
    process(FILE_NEW);
    write_file(data_path(), data.substr(cut), true);
    Result r = process(FILE_APPEND);
    EXPECT_EQ(r.header, whole);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(HeaderTool, AppendWithoutRecordsScansFromTheStart) {
  std::string data = feed_file(Style::soh, 2, 10000);
  std::string whole = fast(data).header;
  write_file(header_path(), "");
  EXPECT_EQ(process(FILE_APPEND).header, whole);
  write_file(header_path(), "  123 partial rec");
  EXPECT_EQ(process(FILE_APPEND).header, whole);
  // No header file at all: the records appear only as messages.
  write_file(header_path(), "");
  Result r = process(FILE_APPEND, false);
  EXPECT_EQ(r.header, "");
  EXPECT_NE(r.out.find(whole.substr(0, whole.find('\n') + 1)), std::string::npos);
}

TEST_F(HeaderTool, ResumeFromLastCompleteRecordAfterHeaderCut) {
  std::string data = feed_file(Style::soh, 9, 30000);
  std::string whole = fast(data).header;
  std::mt19937_64 rng(1);
  for (int i = 0; i < 40; ++i) {
    write_file(header_path(), whole.substr(0, rng() % whole.size()));
    MESS_set(MESS_SET, i % 2 ? M_out2 : M_mess);  // reading it all, or only its tail
    Result r = process(FILE_APPEND);
    ASSERT_EQ(r.header, whole) << i;
    ASSERT_EQ(r.err, "");
  }
}

TEST_F(HeaderTool, LongHeadingsInTheHeaderFile) {
  std::string data;
  for (int i = 0; i < 5; ++i)
    data += "\x01\n" + std::to_string(i) + "\n" + std::string(70, 'H') + std::to_string(i) + "\nID\nbody\n";
  std::string whole = fast(data).header;
  write_file(data_path(), data + "\x01\n9\nNEW\nID\n");
  Result r = process(FILE_APPEND);
  EXPECT_EQ(r.header, whole + record(data.size() + 3, "NEW", "ID"));
}

TEST_F(HeaderTool, UnfinishedLineIsRecordedOnlyWhenComplete) {
  std::string first = "\x01\r\r\n001 \r\r\nSAUS70 KWBC 081800\r\r\nMTRD";
  std::string rest = "SM KDSM\r\r\nbody\r\r\n\x03";
  std::string whole = fast(first + rest).header;
  write_file(data_path(), first);
  EXPECT_EQ(process(FILE_NEW).header, "");
  write_file(data_path(), rest, true);
  Result r = process(FILE_APPEND);
  EXPECT_EQ(r.header, whole);
  EXPECT_EQ(r.err, "");
  // A header written from the unfinished line (by an earlier version) is
  // corrected in place.
  write_file(header_path(), record(10, "SAUS70 KWBC 081800", "MTRD"));
  EXPECT_EQ(process(FILE_APPEND).header, whole);
}

TEST_F(HeaderTool, HeaderThatDoesNotMatchIsRebuiltUnlessItIsNoHeader) {
  std::string other = fast(feed_file(Style::soh, 1, 10000)).header;
  std::string data = feed_file(Style::soh, 2, 10000);
  std::string whole = fast(data).header;
  struct Case {
    const char* name;
    std::string header;
    bool rebuilt;  // else left as it is
    const char* err;
  } cases[] = {
      {"another data file's records", other, true, "rebuilding"},
      {"offset beyond the end", record(data.size() + 100, "X", "Y"), true, "rebuilding"},
      {"a record that does not match", "   12 garbage\n", true, "rebuilding"},
      {"not a header file", "garbage line\n", false, "Not a header file, left alone: "},
      {"binary", std::string("\x7f" "ELF\0\0\n", 7), false, "Not a header file, left alone: "},
  };
  for (const Case& c : cases) {
    write_file(header_path(), c.header);
    Result r = process(FILE_APPEND);
    EXPECT_EQ(r.header, c.rebuilt ? whole : c.header) << c.name;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << c.name << ": " << r.err;
    EXPECT_GE(r.status, 0) << c.name;
  }
}

TEST_F(HeaderTool, ResumeKeepsTheKindOfTheLastRecord) {
  // A "** " line after the resume point is an ordinary line in a file
  // whose products start with SOH.
  std::string head = "\x01\n1\nHEAD1\nID\nbody\n";
  std::string tail = "** NOT A START ****\nx\n\x01\n2\nHEAD2\nID\n";
  std::string whole = fast(head + tail).header;
  ASSERT_EQ(whole, record(3, "HEAD1", "ID") + record(head.size() + 25, "HEAD2", "ID"));
  write_file(data_path(), head);
  process(FILE_NEW);
  write_file(data_path(), tail, true);
  EXPECT_EQ(process(FILE_APPEND).header, whole);
}

TEST_F(HeaderTool, DataFileCutOrRewrittenDuringTheScan) {
  std::string data = feed_file(Style::soh, 21, 60000);
  struct Case {
    const char* name;
    size_t during;  // the file is cut to this many bytes at the second read
    size_t after;   // and holds this many at the next append run
  } cases[] = {
      {"cut in the middle of a product", 25000, 25000},
      {"rewritten in place, the copy under way", 35000, data.size()},
      {"emptied", 0, data.size()},
  };
  MESS_set(MESS_SET, M_warn);
  for (const Case& c : cases) {
    std::string now = fast(data.substr(0, c.after)).header;
    write_file(data_path(), data);
    std::filesystem::remove(header_path());
    SCAN_set_block(4096);
    long second = 0;  // where the second read began
    SCAN_set_read_hook([&](long pos) {
      if (pos > 0 && second == 0) write_file(data_path(), data.substr(0, c.during));
      if (pos > 0 && second == 0) second = pos;
    });
    Result r = process(FILE_NEW);
    SCAN_reset();
    ASSERT_GT(second, 0) << c.name;
    // Records only for the products whose lines were all read.
    EXPECT_EQ(r.header, fast(data.substr(0, std::max<size_t>(second, c.during))).header) << c.name;
    write_file(data_path(), data.substr(0, c.after));
    EXPECT_EQ(process(FILE_APPEND).header, now) << c.name;
  }
}

// ---- A growing data file ----------------------------------------------------------

TEST_F(HeaderTool, GrowingFileEndsIndexedAsAWhole) {
  MESS_set(MESS_SET, M_warn);
  for (uint64_t seed = 0; seed < 12; ++seed) {
    Style style = seed % 2 ? Style::stars : Style::soh;
    std::string data = feed_file(style, seed, 15000 + seed * 1000);
    std::string whole = fast(data).header;
    std::filesystem::remove(header_path());
    write_file(data_path(), "");
    std::mt19937_64 rng(seed);
    for (size_t at = 0; at < data.size();) {
      size_t piece = 1 + rng() % (seed < 6 ? 40 : 2000);
      write_file(data_path(), data.substr(at, piece), true);
      at += piece;
      if (seed == 3) MESS_set(MESS_SET, at % 2 ? M_out2 : M_warn);
      Result r = process(FILE_APPEND);
      ASSERT_EQ(r.err, "") << "seed " << seed << " at " << at;
      ASSERT_EQ(r.status >= 0, true);
    }
    ASSERT_EQ(read_file(header_path()), whole) << "seed " << seed;
  }
}

}  // namespace
