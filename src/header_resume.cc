// The resume: a rerun on a grown data file continues its header file
// instead of starting over. Only the header file's last record is read
// and checked (backwards from the end, in fixed pieces, so that no tail,
// however damaged, costs more memory); the records before it are echoed
// only when the user asked to see them.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "header_scan.h"
#include "mess.h"

namespace hdr {

namespace {

constexpr long kTailPiece = 64 * 1024;  // header bytes read at a time

// Reads [at, at+size) of the header file whole; false on a read error.
bool read_at(int fd, char* to, long size, long at) {
  while (size > 0) {
    ssize_t n = read_at_most(fd, to, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;  // the file shrank under us: another writer's lock is broken
      return false;
    }
    to += n;
    at += n;
    size -= n;
  }
  return true;
}

// The position of the last line feed in [lo, hi) of the header file, -1
// when there is none, -2 on a read error.
long last_lf(int fd, long lo, long hi) {
  std::unique_ptr<char[]> piece(new char[kTailPiece]);
  while (hi > lo) {
    long from = std::max(lo, hi - kTailPiece);
    if (!read_at(fd, piece.get(), hi - from, from)) return -2;
    for (long i = hi - from; i > 0; --i)
      if (piece[i - 1] == '\n') return from + i - 1;
    hi = from;
  }
  return -1;
}

// Whether a non-empty file begins as a header file does: blanks, digits,
// then a blank, or a beginning of that cut short. Sets `read_failed`
// (and errno) when its beginning could not be read.
bool looks_like_header(int fd, long size, bool& read_failed) {
  char head[64];
  long n = std::min<long>(size, sizeof head);
  read_failed = !read_at(fd, head, n, 0);
  if (read_failed) return false;
  long i = 0;
  while (i < n && head[i] == ' ') ++i;
  long digits = i;
  while (i < n && std::isdigit(static_cast<unsigned char>(head[i]))) ++i;
  if (i == n) return true;
  return i > digits && head[i] == ' ';
}

}  // namespace

LastLine read_last_record(int fd, long size) {
  LastLine last;
  long lf = last_lf(fd, 0, size);
  if (lf < 0) {
    last.error = lf == -2;
    return last;
  }
  long from = std::max(0L, lf - kMaxRecord);
  long before = last_lf(fd, from, lf);
  if (before == -2) {
    last.error = true;
    return last;
  }
  last.found = true;
  last.end = lf + 1;
  if (before == -1 && from > 0) return last;  // longer than any record
  last.begin = before + 1;
  last.text.resize(lf - last.begin);
  last.error = !read_at(fd, last.text.data(), static_cast<long>(last.text.size()), last.begin);
  return last;
}

namespace {

void echo_record(const std::string& line) {
  long offset;
  std::string_view rest;
  if (!parse_record_offset(line, offset, rest)) return;
  std::string text(rest.substr(std::min(rest.find_first_not_of(" \t\r\f\v"), rest.size())));
  MESS_print(M_out2, "%7ld %s\n", offset, text.c_str());
}

// Echoes the records in [0, end) at out2, reading forward in pieces; a
// line longer than any record is shown cut. False on a read error.
bool echo_records(int fd, long end) {
  std::unique_ptr<char[]> piece(new char[kTailPiece]);
  std::string line;
  for (long at = 0; at < end;) {
    long n = std::min(kTailPiece, end - at);
    if (!read_at(fd, piece.get(), n, at)) return false;
    for (long i = 0; i < n; ++i) {
      if (piece[i] != '\n') {
        if (static_cast<long>(line.size()) < kMaxRecord) line += piece[i];
        continue;
      }
      echo_record(line);
      line.clear();
    }
    at += n;
  }
  return true;
}

// Whether a recorded line is an early view of `fresh`: the feed was still
// writing the product, so its lines were beginnings of what is there now.
bool is_early_view(const std::string& recorded, const std::string& fresh) {
  RecordParts r, f;
  if (!split_record(recorded, r) || !split_record(fresh, f)) return false;
  return r.offset == f.offset && f.heading.starts_with(r.heading) && f.id.starts_with(r.id);
}

// The kind of the data file's first product start before `upto`, which
// every later start of the file has; HDR_START_NONE when there is none or
// the source cannot be read from its beginning.
int first_kind(DataSource& src, long upto) {
  if (!src.seekable()) return HDR_START_NONE;
  Taken t;
  return StartFinder(src, 0, HDR_START_NONE, upto).next(t);
}

// The header file could not be read back (`err` says why): it is left as
// it stands.
ResumePoint header_unread(int err) {
  return {0, HDR_START_NONE, false, false, ResumePoint::header_unread, err};
}

// Checks the last record against the data file and settles where the
// scan goes on; rewrites the record when the product was cut short then.
ResumePoint continue_after(DataSource& src, HeaderOut& out, const LastLine& last) {
  RecordMatch m = match_record(src, last.text);
  // Data that could not be read is no mismatch: the header stays as it is.
  if (src.error() != 0) return {0, HDR_START_NONE, false, false, ResumePoint::data_unread, src.error()};
  if (m.found && !m.early) return {m.taken.next, m.type, out.seek(last.end)};
  if (m.found) {
    std::string line = format_record(m.offset, m.taken.heading, m.taken.id) + '\n';
    bool ok = out.cut(last.begin) && out.append(line.data(), line.size());
    return {m.taken.next, m.type, ok};
  }
  if (!src.seekable()) {
    MESS_print(M_warn, "Header file does not match the data file at offset %ld;"
               " it cannot be rebuilt from a stream\n", m.offset);
    return {0, HDR_START_NONE, false};
  }
  MESS_print(M_warn, "Header file does not match the data file at offset %ld: rebuilding it\n",
             m.offset);
  return {0, HDR_START_NONE, out.cut(0)};
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
  bool stars = type == HDR_START_STARS;
  if (stars && (first.len < 3 || std::memcmp(src.at(first.start), "** ", 3) != 0)) return t;
  Field line = field(src, first, !stars);
  return {true, stars ? first.start : -1, pos, stars ? stars_heading(line) : line, field(src, second, !stars),
          second.next};
}

RecordMatch match_record(DataSource& src, const std::string& line) {
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
    for (int type : {HDR_START_SOH, HDR_START_STARS}) {
      if (kind != HDR_START_NONE && type != kind) continue;
      Taken t = record_at(src, m.offset, type);
      if (!t.complete) continue;
      std::string fresh = format_record(m.offset, t.heading, t.id);
      if (early ? is_early_view(line, fresh) : fresh == line) return {m.offset, true, early, type, t};
    }
  }
  return m;
}

ResumePoint resume(DataSource& src, HeaderOut& out) {
  MESS_print(M_mess, "Scanning for end of header file...\n");
  if (!out.open()) return {src.first(), HDR_START_NONE, true};
  int fd = out.fd();
  off_t size = ::lseek(fd, 0, SEEK_END);
  if (size < 0) return {0, HDR_START_NONE, out.seek(0)};  // reports the failure
  bool read_failed = false;
  if (size > 0 && !looks_like_header(fd, size, read_failed)) {
    if (read_failed) return header_unread(errno);
    MESS_print(M_warn, "Not a header file, left alone: %s\n", out.name().c_str());
    return {src.first(), HDR_START_NONE, true, true};
  }
  LastLine last = read_last_record(fd, size);
  if (!last.error && MESS_check(M_out2)) last.error = !echo_records(fd, last.end);
  if (last.error) return header_unread(errno);
  // A record cut short (a crash, a full disk) is dropped.
  if (last.end != size && !out.cut(last.end)) return {0, HDR_START_NONE, false};
  if (!last.found) return {src.first(), HDR_START_NONE, out.seek(0)};
  return continue_after(src, out, last);
}

}  // namespace hdr
