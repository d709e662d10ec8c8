// The header generator's insides, shared by its source files: the data
// file's bytes, the line reader's pieces, finding product starts, header
// records and the checked writing of the header file. Nothing here is
// part of the library's interface; header_tool.h is.
#pragma once

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <sys/types.h>

#include "header_tool.h"

namespace hdr {

constexpr long kPiece = 80;         // characters per line read
constexpr long kLookahead = 1024;   // room for the lines of one start
constexpr size_t kIdWidth = 20;     // second identification in a record
constexpr long kMaxRecord = 4096;   // longer header lines are no records
constexpr long kSlack = 128;        // room after buffers for fixed-size copies

// ---- The data file's bytes ---------------------------------------------------

// The data file read into one fixed buffer, by absolute position: pread
// for regular files, fread for streams (which also hands over what a
// prompt left in the stream's buffer). Memory stays fixed whatever the
// file size. A file that shrinks or changes while it is read simply ends
// where the reads end; a read error ends it too and is remembered.
class DataSource {
 public:
  // `block`: bytes read at a time, 0 for the module's setting; a reader
  // that jumps from record to record wants less than a scan.
  explicit DataSource(FILE* f, size_t block = 0);
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;

  bool seekable() const { return seekable_; }
  // The earliest position that can be asked for.
  long first() const { return seekable_ ? 0 : start_; }
  // The stream's position when the source was made.
  long start() const { return start_; }
  // Makes bytes from `keep` on available, as many as the buffer holds and
  // at least up to `upto` where the input reaches; bytes before `keep` may
  // be given up. upto - keep must stay within the block size plus
  // kLookahead. A stream cannot go back before what it still holds.
  void need(long keep, long upto) {
    if (keep >= base_ && keep <= hi_ && (upto <= hi_ || eof_)) return;
    refill(keep);
  }
  long hi() const { return hi_; }     // end of the available bytes
  bool eof() const { return eof_; }   // hi() is the end of the input
  int error() const { return error_; }  // errno of a failed read, or 0
  const char* at(long p) const { return buf_.get() + (p - base_); }
  char byte(long p) const { return buf_[p - base_]; }

 private:
  void refill(long keep);
  void fill();
  void drop_before(long keep);

  FILE* file_;
  int fd_ = -1;
  bool seekable_ = false;
  long start_ = 0;
  size_t cap_;
  std::unique_ptr<char[]> buf_;
  long base_ = 0;  // position of buf_[0]
  long hi_ = 0;
  bool eof_ = false;
  int error_ = 0;
};

// ---- Pieces, fields and starts ---------------------------------------------

// What one read of the line reader delivers: the piece [start, start+len)
// and the position after the read (the line feed that ends the line stays
// unread); len -1 at the end of the input.
struct Piece {
  long start = 0;
  long len = -1;
  long next = 0;
  bool eof() const { return len < 0; }
};

// The first `c` in [from, lim), or lim.
inline long find_byte(const DataSource& src, long from, long lim, char c) {
  const void* hit = std::memchr(src.at(from), c, lim - from);
  return hit != nullptr ? from + (static_cast<const char*>(hit) - src.at(from)) : lim;
}

// The piece that begins at `from`: up to the line feed or 80 characters.
inline Piece take_piece(const DataSource& src, long from) {
  long stop = find_byte(src, from, std::min(src.hi(), from + kPiece), '\n');
  return {from, stop - from, stop};
}

// The read from position `p`; the caller has made kLookahead bytes
// available after it.
inline Piece read_piece(const DataSource& src, long p) {
  long end = src.hi();
  if (p < end && src.byte(p) != '\n') return take_piece(src, p);
  if (p >= end) return {p, -1, p};
  ++p;  // the line feed that ended the previous line
  if (p < end && src.byte(p) != '\n') return take_piece(src, p);
  if (p >= end) return {p, -1, p};
  return {p, 0, p};  // an empty line
}

// A field of a record as it stands in the data: up to its first NUL byte
// (a record is one text line), carriage returns dropped when `strip`.
struct Field {
  const char* text = "";
  long len = 0;
  bool strip = false;
};

inline Field field(const DataSource& src, const Piece& piece, bool strip) {
  const char* text = src.at(piece.start);
  const void* nul = std::memchr(text, '\0', piece.len);
  return {text, nul ? static_cast<const char*>(nul) - text : piece.len, strip};
}

// The heading of a "** " line: without its first three and last four
// characters; empty when those overlap.
inline Field stars_heading(Field line) {
  if (line.len <= 7) return {};
  return {line.text + 3, line.len - 7, false};
}

// A record as a fresh scan makes it, and the position after its lines.
// The fields point into the data source's buffer.
struct Taken {
  bool complete = false;  // false: the lines it needs run past the end
  long piece = -1;        // where the start's first piece begins; -1: not known
  long pos = 0;
  Field heading, id;
  long next = 0;
};

// Appends the record line "%7ld %s / %-20.20s" (no line feed) at `to`,
// which has room for kMaxRecord bytes; returns its end.
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

// ---- Writing the header file -----------------------------------------------

// The header file as this run writes it: every write, cut and close is
// checked. At the first failed write, writing stops for good and the
// file is cut back to the end of its last whole record, so it never
// holds a record half written or one after a hole.
class HeaderOut {
 public:
  // `fd` -1: no header file. The descriptor stays the caller's.
  HeaderOut(int fd, std::string name);
  bool open() const { return fd_ >= 0; }
  const std::string& name() const { return name_; }
  // Where the whole records end, which is where the next write goes.
  long end() const { return end_; }
  // Cuts the file at `length` and writes on from there.
  bool cut(long length);
  // Writes on from `length`, which is where the whole records end.
  bool seek(long length);
  // Writes `size` bytes of whole records after the end.
  bool append(const char* data, size_t size);
  bool failed() const { return error_ != 0; }
  int error() const { return error_; }  // errno of the failure, or 0
  // Records a failure (the first one counts); returns false.
  bool fail(int err);
  int fd() const { return fd_; }

 private:
  int fd_;
  std::string name_;
  long end_ = 0;
  int error_ = 0;
};

// Reports and writes the records of one pass: the out3 product sizes and
// the out1 records, and the header file in writes of about 1 MiB.
class RecordSink {
 public:
  // Records from the pass that begins at data position `ppos`.
  RecordSink(HeaderOut& out, long ppos);
  // A sink that hands each record to `each` and prints nothing.
  explicit RecordSink(const HDR_record_fn& each);
  RecordSink(const RecordSink&) = delete;
  RecordSink& operator=(const RecordSink&) = delete;

  void add(long pos, const Field& heading, const Field& id);
  // Writes what is batched; false when a write failed, now or before.
  bool flush();
  int count() const { return count_; }
  // No more records are wanted: a write failed, or `each` said so.
  bool stopped() const { return stopped_; }

 private:
  HeaderOut* out_ = nullptr;
  long ppos_ = 0;
  int count_ = 0;
  bool stopped_ = false;
  bool show_size_ = false;
  bool show_record_ = false;
  const HDR_record_fn* each_ = nullptr;
  std::unique_ptr<char[]> batch_;
  size_t used_ = 0;
};

// ---- Scanning ------------------------------------------------------------------

// What is known about the line that holds a position: where its pieces
// begin (any position on that grid of 80 will do). Two words, so that it
// travels in registers.
struct Anchor {
  long pos = 0;
  long origin = 0;
};

// A product start: its kind and where its first piece begins.
struct Start {
  int type = HDR_START_NONE;
  long piece = -1;
};

// Walks the product starts of a data file from position `p`, as a pass
// that knows the start kind `type` (HDR_START_NONE: not yet) would find
// them, up to the position `stop`.
class StartFinder {
 public:
  StartFinder(DataSource& src, long p, int type, long stop = LONG_MAX);
  // The next start: fills `t` (t.complete false when its lines run past
  // the end of the input, which ends the walk) and returns its kind, or
  // HDR_START_NONE when there is none before the end or `stop`.
  int next(Taken& t);

 private:
  DataSource& src_;
  long first_;  // where the walk began
  long p_;
  int type_;
  long stop_;
  Anchor anchor_;
};

// Scans from position `p` with the start kind `type`, handing each record
// to `sink` until the input ends or the sink stops.
void scan_source(DataSource& src, RecordSink& sink, long p, int type);

// ---- Resume ----------------------------------------------------------------------

// The record a pass of start kind `type` takes at the record offset `pos`
// from the two pieces read there (for "** ", the first must be a "** "
// line, which is then t.piece); complete false when there is none. Makes
// the bytes available.
Taken record_at(DataSource& src, long pos, int type);

// How a header record stands against the data file.
struct RecordMatch {
  long offset = -1;            // the line's offset; -1 when it has none
  bool found = false;          // a fresh scan's record at that offset fits the line
  bool early = false;          // ... as an early view: the feed was still writing it
  int type = HDR_START_NONE;   // the start kind of that record
  Taken taken;                 // that record as a fresh scan takes it
};

// Checks the header line `line` (without its line feed) as the resume
// checks a header file's last record: the record a fresh scan of the data
// file's start kind wrote at the line's offset is the line itself, or the
// line is an early view of it (written while the feed was still writing
// the product). Prints nothing.
RecordMatch match_record(DataSource& src, const std::string& line);

// A header file's last complete record line (one whose line feed is there).
struct LastLine {
  bool found = false;
  std::string text;  // without its line feed; empty for a line too long to be a record
  long begin = 0;
  long end = 0;      // after its line feed: where a record cut short (if any) begins
  bool error = false;  // reading failed (errno says why)
};

// Reads the last complete record of the header file `fd` of `size` bytes,
// backwards from the end in fixed pieces.
LastLine read_last_record(int fd, long size);

// Where the scan goes on after a resume.
struct ResumePoint {
  long start = 0;              // data-file position where the scan begins
  int type = HDR_START_NONE;   // start kind of the last record
  bool ok = true;              // false: the header file cannot be continued
  bool keep = false;           // true: the header file is not ours to write
  // Why it cannot be continued when no write failed (errno says more).
  enum Unread { none, header_unread, data_unread } unread = none;
  int error = 0;               // errno of that failed read
};

// Reads the header file back to its last record, checks that record
// against the data file and says where the scan continues; see
// HDR_process. Leaves `out` at the end of the records kept.
ResumePoint resume(DataSource& src, HeaderOut& out);

// The module's settings for tests: the block size, a call before reads,
// and the system calls that read the data and header files and close the
// header file (null: the system's own), so that tests can fail them.
struct ScanSettings {
  size_t block = 64 * 1024;  // fits the caches; larger blocks measured slower
  std::function<void(long)> before_read;
  HDR_io io;
};
ScanSettings& settings();

// pread and close through the settings; EINTR is retried by the callers.
ssize_t read_at_most(int fd, char* to, size_t size, long at);
int close_fd(int fd);

}  // namespace hdr
