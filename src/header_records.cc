// Header records: the record line, the reader of header files and the
// checks of a record against its data file.
#include "header_records.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "io.h"

namespace hdr {

// ---- The record line ---------------------------------------------------------

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
  char* end = num + sizeof num;
  char* digits = end;
  if (pos >= 0) {
    unsigned long v = static_cast<unsigned long>(pos);
    do *--digits = static_cast<char>('0' + v % 10);
    while ((v /= 10) != 0);
  } else {
    digits = std::to_chars(num, end, pos).ptr;
    std::rotate(num, digits, end);
    digits = num + (end - digits);
  }
  long n = end - digits;
  std::memcpy(to, "        ", 8);
  to += std::max(7 - n, 0L);
  for (; digits != end; ++digits) *to++ = *digits;
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

bool parse_record_offset(std::string_view line, long& offset, std::string_view& rest) {
  size_t at = line.find_first_not_of(' ');
  if (at == std::string_view::npos) return false;
  const char* end = line.data() + line.size();
  long value = 0;
  auto [stop, ec] = std::from_chars(line.data() + at, end, value);
  if (ec != std::errc() || value > kMaxOffset) return false;
  offset = value;
  rest = std::string_view(stop, end - stop);
  return true;
}

bool split_record(std::string_view line, RecordParts& parts) {
  constexpr size_t kTail = 3 + kIdWidth;  // " / " and the identification
  std::string_view rest;
  if (!parse_record_offset(line, parts.offset, rest) || !rest.starts_with(' ') ||
      rest.size() < 1 + kTail || rest.compare(rest.size() - kTail, 3, " / ") != 0)
    return false;
  parts.heading = rest.substr(1, rest.size() - 1 - kTail);
  parts.id = rest.substr(rest.size() - kIdWidth);
  parts.id = parts.id.substr(0, parts.id.find_last_not_of(' ') + 1);
  return true;
}

// ---- Reading header files ----------------------------------------------------

HeaderReader::HeaderReader(int fd, long end, long block)
    : fd_(fd), end_(end), block_(block), buf_(new char[block + kMaxRecord]) {}

// Reads the next block after what is held, which moves to the front.
// False when nothing more comes: at the end, or after a failure.
bool HeaderReader::fill() {
  if (done_) return false;
  std::memmove(buf_.get(), buf_.get() + pos_, lim_ - pos_);
  lim_ -= pos_;
  pos_ = 0;
  long want = end_ < 0 ? block_ : std::min(block_, end_ - at_);
  long n = 0;
  if (want > 0) {
    while ((n = IO_pread(fd_, buf_.get() + lim_, static_cast<size_t>(want), at_)) < 0 && errno == EINTR) {
    }
  }
  if (n < 0 || (n == 0 && end_ >= 0 && at_ < end_)) outcome_ = Outcome::failed(kUnread, n < 0 ? errno : EIO);
  if (n <= 0) {
    done_ = true;
    return false;
  }
  at_ += n;
  lim_ += n;
  return true;
}

std::string_view HeaderReader::whole_lines() {
  for (;;) {
    std::string_view held(buf_.get() + pos_, lim_ - pos_);
    size_t lf = held.rfind('\n');
    if (lf != std::string_view::npos) {
      pos_ += static_cast<long>(lf) + 1;
      return held.substr(0, lf + 1);
    }
    if (static_cast<long>(held.size()) > kMaxRecord || !fill()) return {};
  }
}

// Passes over the rest of a line longer than kMaxRecord; false when the
// file ends (or fails) before its line feed.
bool HeaderReader::skip_line() {
  for (pos_ = lim_; fill(); pos_ = lim_) {
    const void* lf = std::memchr(buf_.get(), '\n', lim_);
    if (lf != nullptr) {
      pos_ = static_cast<const char*>(lf) - buf_.get() + 1;
      return true;
    }
  }
  return false;
}

bool HeaderReader::next_line(HeaderLine& line) {
  for (;;) {
    const char* from = buf_.get() + pos_;
    long held = lim_ - pos_;
    const void* found = std::memchr(from, '\n', held);
    long len = found != nullptr ? static_cast<const char*>(found) - from : held;
    if (found != nullptr || len > kMaxRecord || (done_ && held > 0)) {
      line.text = std::string_view(from, std::min(len, kMaxRecord));
      line.cut = len > kMaxRecord;
      line.ended = found != nullptr;
      pos_ += found != nullptr ? len + 1 : len;
      if (found != nullptr || !line.cut) return outcome_.ok();
      long_.assign(line.text);  // the beginning is kept; the rest passed over
      line.text = long_;
      line.ended = skip_line();
      return outcome_.ok();
    }
    if (done_) return false;
    fill();  // at the end the loop takes what is held
  }
}

HeaderBackReader::HeaderBackReader(int fd, long end, long block)
    : fd_(fd), block_(block), buf_(new char[block + kMaxRecord + 1]), base_(end), cur_(end) {}

bool HeaderBackReader::prev_line(std::string_view& line) {
  if (cur_ <= 0 || too_long_ || !outcome_.ok()) return false;
  long stop = cur_ - 1;  // the line feed that ends the line
  for (;;) {
    const char* held = buf_.get();
    const void* lf = stop > base_ ? memrchr(held, '\n', stop - base_) : nullptr;
    if (lf != nullptr || base_ == 0) {
      long begin = lf != nullptr ? base_ + (static_cast<const char*>(lf) - held) + 1 : 0;
      too_long_ = stop - begin > kMaxRecord;
      if (too_long_) return false;
      line = std::string_view(held + (begin - base_), stop - begin);
      cur_ = begin;
      return true;
    }
    too_long_ = stop - base_ > kMaxRecord;
    if (too_long_) return false;
    // The block before moves in ahead of what is held.
    long from = std::max(0L, base_ - block_);
    std::memmove(buf_.get() + (base_ - from), buf_.get(), cur_ - base_);
    int err = IO_read_whole(fd_, buf_.get(), base_ - from, from);
    if (err != 0) {
      outcome_ = Outcome::failed(kUnread, err);
      return false;
    }
    base_ = from;
  }
}

namespace {

constexpr long kTailPiece = 64 * 1024;  // header bytes read at a time from the end

// The position of the last line feed in [lo, hi) of the header file, -1
// when there is none; `err` set when reading failed.
long last_lf(int fd, long lo, long hi, int& err) {
  std::unique_ptr<char[]> piece(new char[kTailPiece]);
  while (hi > lo) {
    long from = std::max(lo, hi - kTailPiece);
    if ((err = IO_read_whole(fd, piece.get(), hi - from, from)) != 0) return -1;
    for (long i = hi - from; i > 0; --i)
      if (piece[i - 1] == '\n') return from + i - 1;
    hi = from;
  }
  return -1;
}

}  // namespace

Outcome read_last_record(int fd, long size, LastLine& last) {
  last = LastLine();
  int err = 0;
  long lf = last_lf(fd, 0, size, err);
  if (lf < 0) return err != 0 ? Outcome::failed(kUnread, err) : Outcome();
  long from = std::max(0L, lf - kMaxRecord);
  long before = last_lf(fd, from, lf, err);
  if (err != 0) return Outcome::failed(kUnread, err);
  last.found = true;
  last.end = lf + 1;
  if (before == -1 && from > 0) return {};  // longer than any record
  last.begin = before + 1;
  last.text.resize(lf - last.begin);
  err = IO_read_whole(fd, last.text.data(), static_cast<long>(last.text.size()), last.begin);
  return err != 0 ? Outcome::failed(kUnread, err) : Outcome();
}

// ---- Records against the data file --------------------------------------------

namespace {

// Whether a recorded line is an early view of `fresh`: the feed was still
// writing the product, so its lines were beginnings of what is there now.
bool is_early_view(std::string_view recorded, std::string_view fresh) {
  RecordParts r, f;
  if (!split_record(recorded, r) || !split_record(fresh, f)) return false;
  return r.offset == f.offset && f.heading.starts_with(r.heading) && f.id.starts_with(r.id);
}

// The kind of the data file's first product start before `upto`, which
// every later start of the file has; SCAN_START_NONE when there is none or
// the source cannot be read from its beginning.
int first_kind(DataSource& src, long upto) {
  if (!src.seekable()) return SCAN_START_NONE;
  Taken t;
  return StartFinder(src, 0, SCAN_START_NONE, upto).next(t);
}

}  // namespace

Taken record_at(DataSource& src, long pos, int type) {
  Taken t;
  if (pos < src.first()) return t;
  src.need(pos, pos + kLookahead);
  if (pos >= src.hi()) return t;
  Piece first = read_piece(src, pos);
  Piece second = first.eof() ? first : read_piece(src, first.next);
  if (second.eof()) return t;
  bool stars = type == SCAN_START_STARS;
  if (stars && (first.len < 3 || std::memcmp(src.at(first.start), "** ", 3) != 0)) return t;
  Field line = field(src, first, !stars);
  return {true, stars ? first.start : -1, pos, stars ? stars_heading(line) : line, field(src, second, !stars),
          second.next};
}

RecordMatch match_record(DataSource& src, std::string_view line) {
  RecordMatch m;
  std::string_view rest;
  if (!parse_record_offset(line, m.offset, rest)) {
    m.offset = -1;
    return m;
  }
  // The lines at the offset can read as a record of either kind; only
  // the file's own kind is the record a fresh scan wrote.
  int kind = first_kind(src, m.offset + kPiece + 1);
  for (bool early : {false, true}) {
    for (int type : {SCAN_START_SOH, SCAN_START_STARS}) {
      if (kind != SCAN_START_NONE && type != kind) continue;
      Taken t = record_at(src, m.offset, type);
      if (!t.complete) continue;
      std::string fresh = format_record(m.offset, t.heading, t.id);
      if (early ? is_early_view(line, fresh) : fresh == line) return {m.offset, true, early, type, t};
    }
  }
  return m;
}

}  // namespace hdr
