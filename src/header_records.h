// Header records: the record line "%7ld %s / %-20.20s" written and read
// back, the one reader of header files (forward in blocks, and the last
// record), and the checks of a record against its data file. The reader
// and the checks serve header_tool's resume, header_check and
// product_get; every read goes through the system-call seam (io.h).
// Nothing here is part of the library's interface.
#pragma once

#include <climits>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "header_scan.h"
#include "kiv.h"

namespace hdr {

constexpr size_t kIdWidth = 20;     // second identification in a record
constexpr long kMaxRecord = 4096;   // longer header lines are no records

// ---- The record line ---------------------------------------------------------

// Appends the record line "%7ld %s / %-20.20s" (no line feed) at `to`,
// which has room for kMaxRecord + kSlack bytes; returns its end.
char* format_record(char* to, long pos, const Field& heading, const Field& id);
std::string format_record(long pos, const Field& heading, const Field& id);

// The largest offset a record may give: more than any file holds, and far
// enough below LONG_MAX that reading ahead of it cannot overflow.
constexpr long kMaxOffset = LONG_MAX / 2;

// Reads the offset a record line begins with: blanks, then a decimal
// number (a '-' allowed) of at most kMaxOffset. Sets `offset`, and `rest`
// to the text right after the number; returns false, changing neither,
// when the line begins with no such number.
bool parse_record_offset(std::string_view line, long& offset, std::string_view& rest);

// A record line's parts; the views point into the line.
struct RecordParts {
  long offset = 0;
  std::string_view heading;
  std::string_view id;  // without the blanks that pad it to kIdWidth
};

// Splits a record line "OFFSET HEADING / IDENT" (kIdWidth characters of
// IDENT, one blank after OFFSET); false when the line has no such form.
bool split_record(std::string_view line, RecordParts& parts);

// ---- Reading header files ----------------------------------------------------

// The failure code of the reader's outcomes.
constexpr int kUnread = 1;

// One line of a header file, valid until the reader's next call.
struct HeaderLine {
  std::string_view text;  // without its line feed; at most kMaxRecord bytes
  bool cut = false;       // the line is longer than `text`
  bool ended = true;      // false: the file's last line, without a line feed
};

// Reads a header file forward from its start, in blocks, with memory of
// about a block and kMaxRecord whatever the file and its lines.
class HeaderReader {
 public:
  // Reads [0, end) of the header file `fd` (`end` -1: to the end of the
  // file) in reads of `block` bytes.
  HeaderReader(int fd, long end, long block);
  HeaderReader(const HeaderReader&) = delete;
  HeaderReader& operator=(const HeaderReader&) = delete;

  // The whole lines held from here on, each with its line feed, for a
  // caller that searches many lines at once; empty at the end, after a
  // failure, or when the next line is longer than kMaxRecord or has no
  // line feed (next_line takes it).
  std::string_view whole_lines();
  // The next line; false at the end or after a failure.
  bool next_line(HeaderLine& line);
  // ok, or kUnread with the reason (EIO when the file ended before `end`:
  // it shrank while read).
  const Outcome& outcome() const { return outcome_; }

 private:
  bool fill();
  bool skip_line();

  int fd_;
  long end_;
  long block_;
  std::unique_ptr<char[]> buf_;
  long pos_ = 0, lim_ = 0;  // the bytes held and not yet handed out
  long at_ = 0;             // the file position after them
  bool done_ = false;
  std::string long_;  // the beginning of a line longer than kMaxRecord
  Outcome outcome_;
};

// Reads a header file's lines backward, from a line's start to the file's
// start, in blocks, with memory of about a block and kMaxRecord whatever
// the file; for a reader that wants only the last records.
class HeaderBackReader {
 public:
  // Reads [0, end) of the header file `fd`, where `end` is 0 or follows a
  // line feed, in reads of `block` bytes.
  HeaderBackReader(int fd, long end, long block);
  HeaderBackReader(const HeaderBackReader&) = delete;
  HeaderBackReader& operator=(const HeaderBackReader&) = delete;

  // The line before the one handed out last (at first, the one that ends
  // at `end`), without its line feed, valid until the next call; false at
  // the file's start, after a failure, or at a line longer than kMaxRecord
  // (too_long() then).
  bool prev_line(std::string_view& line);
  bool too_long() const { return too_long_; }
  // ok, or kUnread with the reason.
  const Outcome& outcome() const { return outcome_; }

 private:
  int fd_;
  long block_;
  std::unique_ptr<char[]> buf_;
  long base_, cur_;  // buf_ holds [base_, cur_) of the file, not yet handed out
  bool too_long_ = false;
  Outcome outcome_;
};

// A header file's last complete record line (one whose line feed is there).
struct LastLine {
  bool found = false;
  std::string text;  // without its line feed; empty for a line too long to be a record
  long begin = 0;
  long end = 0;      // after its line feed: where a record cut short (if any) begins
};

// Reads the last complete line of the header file `fd` of `size` bytes
// into `last`, backwards from the end in fixed pieces. Returns ok, or
// kUnread with the reason.
Outcome read_last_record(int fd, long size, LastLine& last);

// ---- Records against the data file --------------------------------------------
// The resume checks a header file's last record before it appends;
// product_get checks the last record and every record it uses, with these
// same rules, so that a header file one accepts the other accepts too.

// The record a pass of start kind `type` takes at the record offset `pos`
// from the two pieces read there (for "** ", the first must be a "** "
// line, which is then t.piece); complete false when there is none. Makes
// the bytes available.
Taken record_at(DataSource& src, long pos, int type);

// How a header record stands against the data file.
struct RecordMatch {
  long offset = -1;             // the line's offset; -1 when it has none
  bool found = false;           // a fresh scan's record at that offset fits the line
  bool early = false;           // ... as an early view: the feed was still writing it
  int type = SCAN_START_NONE;   // the start kind of that record
  Taken taken;                  // that record as a fresh scan takes it
};

// Checks the header line `line` (without its line feed): the record a
// fresh scan of the data file's start kind wrote at the line's offset is
// the line itself, or the line is an early view of it (written while the
// feed was still writing the product). Prints nothing.
RecordMatch match_record(DataSource& src, std::string_view line);

}  // namespace hdr
