// The product scanner's insides, shared by the programs: where a data
// file's bytes come from, the line reader's pieces, and finding product
// starts. Nothing here is part of the library's interface; scan.h is.
#pragma once

#include <algorithm>
#include <climits>
#include <cstring>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "scan.h"

namespace hdr {

constexpr long kPiece = 80;         // characters per line read
constexpr long kLookahead = 1024;   // room for the lines of one start
constexpr long kSlack = 128;        // room after buffers for fixed-size copies

// ---- The data file's bytes ---------------------------------------------------

// Where a data file's bytes come from: read at any position (a regular
// file), or only in order (a stream).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Whether read() takes any position; false: each read goes on from the
  // last.
  virtual bool seekable() const = 0;
  // The position of the first byte it gives.
  virtual long start() const = 0;
  // The size when it was opened, where it is known (a seekable source, a
  // file read in order); else -1.
  virtual long size() const = 0;
  // Whether the bytes are a file's, which a feed may still be writing:
  // seekable, or a stream of known size (a file read in order). Else they
  // are a pipe's, which ends where it ends.
  virtual bool is_file() const { return seekable() || size() >= 0; }
  // Reads up to `size` bytes at `at` into `to`: the count, 0 at the end,
  // or -1 with errno set. A short count is all the source has at hand
  // there (a file at its end, a stream that failed, bytes whose rest costs
  // a request): it is asked again for what follows only when that is
  // needed.
  virtual long read(char* to, size_t size, long at) = 0;
};

// A data file's bytes from an open stream: with pread for a regular file
// whose status and position can be read, else in order with fread (which
// also hands over what a prompt left in the stream's buffer). Its status
// and position are read once, here, through the system-call seam.
class FileBytes : public ByteSource {
 public:
  explicit FileBytes(FILE* f);
  bool seekable() const override { return seekable_; }
  long start() const override { return start_; }
  long size() const override { return size_; }
  long read(char* to, size_t size, long at) override;

 private:
  FILE* file_;
  int fd_ = -1;
  bool seekable_ = false;
  long start_ = 0;
  long size_ = -1;
  bool ended_ = false;  // a stream gave its last bytes
};

// A data file's bytes in one fixed buffer, by absolute position. Memory
// stays fixed whatever the file size. A file that shrinks or changes while
// it is read simply ends where the reads end; a read error ends it for
// good and is remembered.
class DataSource {
 public:
  // `block`: bytes read at a time, 0 for the module's setting; a reader
  // that jumps from record to record wants less than a scan.
  explicit DataSource(ByteSource& bytes, size_t block = 0);
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;

  bool seekable() const { return seekable_; }
  // The earliest position that can be asked for.
  long first() const { return seekable_ ? 0 : start_; }
  // The position the source began at.
  long start() const { return start_; }
  // The size of the source when opened, when known; else -1.
  long size() const { return bytes_.size(); }
  // Whether the bytes are a file's (ByteSource::is_file).
  bool is_file() const { return bytes_.is_file(); }
  // Makes bytes from `keep` on available, as many as the buffer holds and
  // at least up to `upto` where the input reaches; bytes before `keep` may
  // be given up. upto - keep must stay within the block size plus
  // kLookahead. A stream cannot go back before what it still holds.
  void need(long keep, long upto) {
    if (keep >= base_ && keep <= hi_ && (upto <= hi_ || eof_)) return;
    refill(keep, upto);
  }
  long lo() const { return base_; }   // start of the available bytes
  long hi() const { return hi_; }     // end of the available bytes
  bool eof() const { return eof_; }   // hi() is the end of the input
  int error() const { return error_; }  // errno of a failed read, or 0
  const char* at(long p) const { return buf_.get() + (p - base_); }
  char byte(long p) const { return buf_[p - base_]; }

 private:
  void refill(long keep, long upto);
  void fill(long upto);
  void drop_before(long keep);

  ByteSource& bytes_;
  bool seekable_;  // the source's, asked once
  long start_;
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
  int type = SCAN_START_NONE;
  long piece = -1;
};

// Walks the product starts of a data file from position `p`, as a pass
// that knows the start kind `type` (SCAN_START_NONE: not yet) would find
// them, up to the position `stop`.
class StartFinder {
 public:
  StartFinder(DataSource& src, long p, int type, long stop = LONG_MAX);
  // The next start: fills `t` (t.complete false when its lines run past
  // the end of the input, which ends the walk) and returns its kind, or
  // SCAN_START_NONE when there is none before the end or `stop`.
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
// to `sink` (sink.add(pos, heading, id)) until the input ends or
// sink.stopped().
template <class Sink>
void scan_source(DataSource& src, Sink& sink, long p, int type) {
  StartFinder finder(src, p, type);
  Taken t;
  while (!sink.stopped() && finder.next(t) != SCAN_START_NONE && t.complete)
    sink.add(t.pos, t.heading, t.id);
}

// The module's read settings for tests: the block size and a call before
// reads.
struct ScanSettings {
  size_t block = 64 * 1024;  // fits the caches; larger blocks measured slower
  std::function<void(long)> before_read;
};
ScanSettings& settings();

}  // namespace hdr
