// The product scanner. It is exact to the byte with the line reader
// (fgetnline with a limit of 80): every line is read as pieces of at most
// 80 characters, and a record's offset is the stream position taken
// before a read. It does not read line by line, though: it reads the data
// file in large blocks and jumps from one candidate byte (0x01, or the
// '*' runs that end in "** ") to the next, working out from the last line
// feed whether the candidate stands where a piece begins. After a
// candidate that is no start it goes straight to the next piece, so no
// input, whatever its bytes, costs more than a few steps per piece. Only
// the lines around a product start are read as lines.
#include "header_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>

#include "mess.h"

namespace hdr {

ScanSettings& settings() {
  static ScanSettings state;
  return state;
}

// ---- The data file's bytes ---------------------------------------------------

DataSource::DataSource(FILE* f)
    : file_(f), cap_(settings().block + 3 * kLookahead), buf_(new char[cap_ + kSlack]) {
  long pos = std::ftell(f);
  struct stat st {};
  fd_ = fileno(f);
  seekable_ = pos >= 0 && fd_ >= 0 && fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  start_ = std::max(pos, 0L);
  base_ = hi_ = start_;
}

void DataSource::refill(long keep) {
  bool inside = keep >= base_ && keep <= hi_;
  if (seekable_ && !inside) {  // a jump: read afresh from there
    base_ = hi_ = keep;
    eof_ = false;
  }
  while (!seekable_ && keep > hi_ && !eof_) {  // a stream can only skip ahead
    base_ = hi_;
    fill();
  }
  drop_before(std::clamp(keep, base_, hi_));
  if (!eof_) fill();
}

void DataSource::drop_before(long keep) {
  if (keep == base_) return;
  std::memmove(buf_.get(), buf_.get() + (keep - base_), hi_ - keep);
  base_ = keep;
}

void DataSource::fill() {
  if (settings().before_read) settings().before_read(hi_);
  while (!eof_ && hi_ - base_ < static_cast<long>(cap_)) {
    char* to = buf_.get() + (hi_ - base_);
    size_t room = cap_ - (hi_ - base_);
    ssize_t n;
    if (seekable_) {
      n = ::pread(fd_, to, room, hi_);
      if (n < 0 && errno == EINTR) continue;
    } else {
      n = static_cast<ssize_t>(std::fread(to, 1, room, file_));
      if (static_cast<size_t>(n) < room) eof_ = true;  // fread stops only there
      if (std::ferror(file_)) n = -1;
    }
    if (n < 0) {
      error_ = errno != 0 ? errno : EIO;
      eof_ = true;
    } else if (n == 0) {
      eof_ = true;
    }
    if (n > 0) hi_ += n;
  }
}

namespace {
constexpr char kSOH = '\x01';
}  // namespace

// ---- Header records --------------------------------------------------------------

namespace {

// Copies at most `max` (20 or 80) characters of `f` to `to`; returns the
// end. The copy is one fixed-size move, which the compiler makes a few
// vector stores: the data buffer and every record buffer have kSlack
// bytes of room after what they hold.
char* put_field(char* to, const Field& f, long max) {
  if (f.len <= 0) return to;
  if (max <= 32) std::memcpy(to, f.text, 32);
  else std::memcpy(to, f.text, kPiece);
  if (!f.strip) return to + std::min(f.len, max);
  // Carriage returns come at the end of a line, if anywhere.
  long len = f.len;
  while (len > 0 && f.text[len - 1] == '\r') --len;
  if (std::memchr(f.text, '\r', len) == nullptr) return to + std::min(len, max);
  char* stop = to + max;
  for (const char* from = f.text; from != f.text + f.len && to != stop; ++from) {
    *to = *from;
    to += *from != '\r';
  }
  return to;
}

}  // namespace

char* format_record(char* to, long pos, const Field& heading, const Field& id) {
  char num[24];
  long digits = std::to_chars(num, num + sizeof num, pos).ptr - num;
  std::memcpy(to, "        ", 8);
  to += std::max(7 - digits, 0L);
  for (long i = 0; i < digits; ++i) *to++ = num[i];
  *to++ = ' ';
  to = put_field(to, heading, kPiece);
  std::memcpy(to, " / ", 3);
  to += 3;
  char* id_end = put_field(to, id, kIdWidth);
  std::memcpy(id_end, "                    ", kIdWidth);
  return to + kIdWidth;
}

std::string format_record(long pos, const Field& heading, const Field& id) {
  char line[kMaxRecord + kSlack];
  return std::string(line, format_record(line, pos, heading, id));
}

// ---- Writing the header file -----------------------------------------------------

HeaderOut::HeaderOut(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
  off_t at = fd < 0 ? -1 : ::lseek(fd, 0, SEEK_CUR);
  end_ = at < 0 ? 0 : static_cast<long>(at);
}

bool HeaderOut::fail(int err) {
  if (error_ == 0) error_ = err != 0 ? err : EIO;
  return false;
}

bool HeaderOut::cut(long length) {
  if (error_ != 0) return false;
  if (::ftruncate(fd_, length) != 0 || ::lseek(fd_, length, SEEK_SET) < 0) return fail(errno);
  end_ = length;
  return true;
}

bool HeaderOut::seek(long length) {
  if (error_ != 0) return false;
  if (::lseek(fd_, length, SEEK_SET) < 0) return fail(errno);
  end_ = length;
  return true;
}

bool HeaderOut::append(const char* data, size_t size) {
  if (error_ != 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd_, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : ENOSPC;
      // Keep the whole records that reached the file, and nothing after.
      size_t whole = done;
      while (whole > 0 && data[whole - 1] != '\n') --whole;
      if (whole != done) {
        struct stat st {};
        // Only a regular file can be cut; if even that fails, the next
        // resume drops the record cut short.
        if (::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) &&
            ::ftruncate(fd_, end_ + static_cast<long>(whole)) != 0)
          err = err != 0 ? err : errno;
      }
      end_ += static_cast<long>(whole);
      return fail(err);
    }
    done += static_cast<size_t>(n);
  }
  end_ += static_cast<long>(size);
  return true;
}

namespace {
constexpr size_t kBatch = 1024 * 1024;  // header bytes per write
}

RecordSink::RecordSink(HeaderOut& out, long ppos)
    : out_(&out),
      ppos_(ppos),
      show_size_(MESS_check(M_out3) != 0),
      show_record_(MESS_check(M_out1) != 0),
      batch_(new char[kBatch + kMaxRecord + kSlack]) {}

RecordSink::RecordSink(const HDR_record_fn& each)
    : each_(&each), batch_(new char[kMaxRecord + kSlack]) {}

void RecordSink::add(long pos, const Field& heading, const Field& id) {
  if (show_size_) MESS_print(M_out3, "Product size: %7ld\n", pos - ppos_);
  ppos_ = pos;
  ++count_;
  if (each_ != nullptr) {
    char* end = format_record(batch_.get(), pos, heading, id);
    stopped_ = !(*each_)(pos, std::string_view(batch_.get(), end - batch_.get()));
    return;
  }
  bool to_file = out_->open();
  if (!to_file && !show_record_) return;  // nobody reads the record
  char* start = batch_.get() + used_;
  char* end = format_record(start, pos, heading, id);
  *end++ = '\n';
  if (show_record_) MESS_print(M_out1, "%.*s", static_cast<int>(end - start), start);
  if (!to_file) return;
  used_ = end - batch_.get();
  if (used_ >= kBatch) flush();
}

bool RecordSink::flush() {
  if (out_ == nullptr || !out_->open()) return true;
  if (used_ > 0 && !out_->append(batch_.get(), used_)) stopped_ = true;
  used_ = 0;
  return !out_->failed();
}

// ---- Finding starts ----------------------------------------------------------------

namespace {

// The anchor of x, from an anchor at or before it: the last line feed
// before x tells where x's pieces begin.
Anchor locate(const DataSource& src, const Anchor& a, long x) {
  const char* lo = src.at(a.pos);
  for (const char* q = src.at(x); q > lo; --q)
    if (q[-1] == '\n') return {x, a.pos + (q - lo), true};
  return {x, a.origin, a.after_lf};
}

// The first position after x, at column `col` of its piece, where a piece
// may begin: after the next line feed, or 80 characters on. Moves `a`.
long next_piece(const DataSource& src, Anchor& a, long x, long col, long lim) {
  long stop = std::min(x - col + kPiece, lim);
  long lf = find_byte(src, x, stop, '\n');
  if (lf < stop) {
    a = {lf + 1, lf + 1, true};
    return lf + 1;
  }
  a = {stop, a.origin, a.after_lf};
  return stop;
}

// The first 0x01 in [from, lim) at the first or second place of a piece.
Start find_soh(const DataSource& src, Anchor a, long from, long lim) {
  for (long x = from; x < lim;) {
    x = find_byte(src, x, lim, kSOH);
    if (x >= lim) break;
    a = locate(src, a, x);
    long col = (x - a.origin) % kPiece;
    if (col <= 1) return {HDR_START_SOH, x - col, a};
    x = next_piece(src, a, x, col, lim);
  }
  return {};
}

// The first "** " in [from, lim) at the first place of a piece. In a run
// of '*' only the place two before its end can begin "** ".
Start find_stars(const DataSource& src, Anchor a, long from, long lim) {
  const long hi = src.hi();
  for (long x = from; x < lim;) {
    x = find_byte(src, x, lim, '*');
    if (x >= lim) break;
    long end = x;
    while (end < hi && src.byte(end) == '*') ++end;
    if (end - x < 2 || end >= hi || src.byte(end) != ' ') {
      x = end;
      continue;
    }
    x = end - 2;
    if (x >= lim) break;
    a = locate(src, a, x);
    long col = (x - a.origin) % kPiece;
    if (col == 0) return {HDR_START_STARS, x, a};
    x = next_piece(src, a, x, col, lim);
  }
  return {};
}

// The first start in [from, lim): of the pass's kind, or of either kind
// while none is known.
Start find_start(const DataSource& src, const Anchor& a, long from, long lim, int type) {
  if (type == HDR_START_SOH) return find_soh(src, a, from, lim);
  if (type == HDR_START_STARS) return find_stars(src, a, from, lim);
  Start soh = find_soh(src, a, from, lim);
  Start stars = find_stars(src, a, from, soh.piece >= 0 ? soh.piece : lim);
  return stars.piece >= 0 ? stars : soh;
}

// The stream position before the read that delivered the piece at `s`.
long position_before(const Start& s) {
  bool first_piece = s.piece == s.anchor.origin && s.anchor.after_lf;
  return first_piece ? s.piece - 1 : s.piece;
}

// Reads the lines of the start `s` into `t`.
void take_start(const DataSource& src, const Start& s, Taken& t) {
  t.complete = false;
  Piece first = take_piece(src, s.piece);
  if (s.type == HDR_START_SOH) {
    Piece skipped = read_piece(src, first.next);
    if (skipped.eof()) return;
    Piece heading = read_piece(src, skipped.next);
    Piece id = heading.eof() ? heading : read_piece(src, heading.next);
    if (id.eof()) return;
    t.pos = skipped.next;
    t.heading = field(src, heading, true);
    t.id = field(src, id, true);
    t.next = id.next;
  } else {
    Piece id = read_piece(src, first.next);
    if (id.eof()) return;
    t.pos = position_before(s);
    t.heading = stars_heading(field(src, first, false));
    t.id = field(src, id, false);
    t.next = id.next;
  }
  t.complete = true;
}

}  // namespace

StartFinder::StartFinder(DataSource& src, long p, int type, long stop)
    : src_(src), p_(p), type_(type), stop_(stop), anchor_{p, p, false} {}

int StartFinder::next(Taken& t) {
  for (;;) {
    // Search only where the lines of a start are all in the buffer; the
    // byte before p_ may begin a piece.
    src_.need(std::max(src_.first(), p_ - 1), p_ + kLookahead + 1);
    long lim = src_.eof() ? src_.hi() : src_.hi() - kLookahead;
    lim = std::min(lim, stop_);
    if (p_ >= lim) return HDR_START_NONE;
    Start s = find_start(src_, anchor_, p_, lim, type_);
    if (s.piece < 0) {
      anchor_ = locate(src_, anchor_, lim);
      p_ = lim;
      continue;
    }
    type_ = s.type;
    take_start(src_, s, t);
    if (!t.complete) {
      p_ = src_.hi();  // a product cut short by the end of the input
      return s.type;
    }
    p_ = t.next;
    anchor_ = {p_, p_, false};
    return s.type;
  }
}

long scan_source(DataSource& src, RecordSink& sink, long p, int type) {
  StartFinder finder(src, p, type);
  Taken t;
  while (!sink.stopped() && finder.next(t) != HDR_START_NONE && t.complete)
    sink.add(t.pos, t.heading, t.id);
  return finder.pos();
}

}  // namespace hdr
