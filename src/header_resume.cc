// The resume: a rerun on a grown data file continues its header file
// instead of starting over. Only the header file's last record is read
// and checked (backwards from the end, in fixed pieces, so that no tail,
// however damaged, costs more memory); the records before it are echoed
// only when the user asked to see them.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "header_tool.h"
#include "header_write.h"
#include "io.h"
#include "mess.h"

namespace hdr {

namespace {

constexpr long kEchoBlock = 64 * 1024;  // header bytes read at a time to echo

// Whether a non-empty file begins as a header file does: blanks, digits,
// then a blank, or a beginning of that cut short. Sets `err` when its
// beginning could not be read.
bool looks_like_header(int fd, long size, int& err) {
  char head[64];
  long n = std::min<long>(size, sizeof head);
  if ((err = IO_read_whole(fd, head, n, 0)) != 0) return false;
  long i = 0;
  while (i < n && head[i] == ' ') ++i;
  long digits = i;
  while (i < n && std::isdigit(static_cast<unsigned char>(head[i]))) ++i;
  if (i == n) return true;
  return i > digits && head[i] == ' ';
}

void echo_record(std::string_view line) {
  long offset;
  std::string_view rest;
  if (!parse_record_offset(line, offset, rest)) return;
  std::string text(rest.substr(std::min(rest.find_first_not_of(" \t\r\f\v"), rest.size())));
  MESS_print(M_out2, "%7ld %s\n", offset, text.c_str());
}

// Echoes the records in [0, end) at out2; a line longer than any record
// is shown cut. Returns ok or the read failure.
Outcome echo_records(int fd, long end) {
  HeaderReader reader(fd, end, kEchoBlock);
  HeaderLine line;
  while (reader.next_line(line)) echo_record(line.text);
  return reader.outcome();
}

ResumePoint failed(int code, int err) {
  ResumePoint at;
  at.failure = Outcome::failed(code, err);
  return at;
}

// The scan goes on at `start` with the start kind `type` when what was
// done to the header file before (`written`) went well.
ResumePoint go_on(const HeaderOut& out, bool written, long start, int type = SCAN_START_NONE) {
  if (!written) return failed(HDR_WRITE_FAILED, out.error());
  ResumePoint at;
  at.start = start;
  at.type = type;
  return at;
}

// Checks the last record against the data file and settles where the
// scan goes on; rewrites the record when the product was cut short then.
ResumePoint continue_after(DataSource& src, HeaderOut& out, const LastLine& last) {
  RecordMatch m = match_record(src, last.text);
  // Data that could not be read is no mismatch: the header stays as it is.
  if (src.error() != 0) return failed(HDR_READ_FAILED, src.error());
  if (m.found && !m.early) return go_on(out, out.seek(last.end), m.taken.next, m.type);
  if (m.found) {
    std::string line = format_record(m.offset, m.taken.heading, m.taken.id) + '\n';
    bool ok = out.cut(last.begin) && out.append(line.data(), line.size());
    return go_on(out, ok, m.taken.next, m.type);
  }
  if (!src.seekable()) {
    MESS_print(M_warn, "Header file does not match the data file at offset %ld;"
               " it cannot be rebuilt from a stream\n", m.offset);
    ResumePoint at;
    at.failure.code = HDR_OUT_OF_LINE;
    return at;
  }
  MESS_print(M_warn, "Header file does not match the data file at offset %ld: rebuilding it\n",
             m.offset);
  return go_on(out, out.cut(0), 0);
}

}  // namespace

ResumePoint resume(DataSource& src, HeaderOut& out) {
  MESS_print(M_mess, "Scanning for end of header file...\n");
  if (!out.open()) return go_on(out, true, src.first());
  int fd = out.fd();
  off_t size = ::lseek(fd, 0, SEEK_END);
  if (size < 0) return go_on(out, out.seek(0), 0);  // reports the failure
  int err = 0;
  if (size > 0 && !looks_like_header(fd, size, err)) {
    if (err != 0) return failed(HDR_HEADER_UNREADABLE, err);
    MESS_print(M_warn, "Not a header file, left alone: %s\n", out.name().c_str());
    ResumePoint at = go_on(out, true, src.first());
    at.keep = true;
    return at;
  }
  LastLine last;
  Outcome read = read_last_record(fd, size, last);
  if (read.ok() && MESS_check(M_out2)) read = echo_records(fd, last.end);
  if (!read.ok()) return failed(HDR_HEADER_UNREADABLE, read.error);
  // A record cut short (a crash, a full disk) is dropped.
  if (last.end != size && !out.cut(last.end)) return go_on(out, false, 0);
  if (!last.found) return go_on(out, out.seek(0), src.first());
  return continue_after(src, out, last);
}

}  // namespace hdr
