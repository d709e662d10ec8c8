// The header generator. The scanner finds where each product of a raw data
// file starts and writes one header record per product; the resume lets a
// rerun on a grown data file continue its header file instead of starting
// over. The file loop and the start-up follow at the end of the file.
//
// The scanner is exact to the byte with the line reader (fgetnline with a
// limit of 80): every line is read as pieces of at most 80 characters,
// and a record's offset is the stream position taken before a read. It
// does not read line by line, though: it maps the data file in windows (or
// reads blocks from a stream) and jumps with memchr from one candidate
// byte (0x01, or '*') to the next, working out from the last line feed
// whether that byte stands at the first or second place of a line piece.
// Only the few lines around a product start are read as lines.
//
// Module state: none. Everything lives in the objects of one call; the
// header files are the only memory between runs.
#include "header_tool.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "files.h"
#include "flag.h"
#include "mess.h"
#include "par_tool.h"
#include "resrc.h"
#include "string.h"
#include "system.h"

namespace {

constexpr long kPiece = 80;             // characters per line read
constexpr long kChunk = 256 * 1024;     // bytes searched between refills
constexpr long kLookahead = 1024;       // room for the lines of one start
constexpr long kWindow = 4 * 1024 * 1024;       // mapped bytes at a time
constexpr long kStreamBuffer = 4 * 1024 * 1024;  // block buffer for streams
constexpr size_t kIdWidth = 20;        // second identification in a record
constexpr char kSOH = '\x01';

// ---- The data file's bytes -------------------------------------------------

// Random access to the data file by absolute position, through a mapped
// window for regular files and a block buffer for streams (pipes,
// terminals). Memory stays fixed whatever the file size: only what the
// caller still needs is kept.
class DataSource {
 public:
  explicit DataSource(FILE* f) : file_(f) {
    long pos = std::ftell(f);
    start_ = std::max(pos, 0L);
    struct stat st {};
    int fd = fileno(f);
    if (pos >= 0 && fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
      fd_ = fd;
      size_ = st.st_size;
      mapped_ = true;
      need(pos, pos + kChunk);
      if (!map_failed_) return;
      unmap();
      mapped_ = false;  // cannot be mapped: read it as a stream
    }
    buffer_.resize(kStreamBuffer);
    data_ = buffer_.data();
    base_ = hi_ = start_;
    eof_ = false;
  }
  ~DataSource() { unmap(); }
  DataSource(const DataSource&) = delete;
  DataSource& operator=(const DataSource&) = delete;

  // Whether earlier positions can be read again.
  bool seekable() const { return mapped_; }
  // The earliest position that can be asked for.
  long first() const { return mapped_ ? 0 : start_; }
  // The stream's position when the source was made.
  long start() const { return start_; }
  // Makes [keep, upto) available as far as the input reaches; bytes before
  // `keep` may be given up. upto - keep must stay within kChunk + kLookahead.
  void need(long keep, long upto) {
    if (mapped_) return need_mapped(keep, upto);
    need_streamed(keep, upto);
  }
  long hi() const { return hi_; }        // end of the available bytes
  bool eof() const { return eof_; }      // hi() is the end of the input
  const char* at(long p) const { return data_ + (p - base_); }
  char byte(long p) const { return data_[p - base_]; }
  // Leaves the stream where a line-by-line reader would have left it.
  void finish(long p) {
    unmap();
    if (mapped_) std::fseek(file_, p, SEEK_SET);
  }

 private:
  void need_mapped(long keep, long upto) {
    upto = std::min(upto, size_);
    if (window_ && keep >= base_ && upto <= hi_) return;
    unmap();
    // Mapped bytes past the end of the file fault: take its size afresh,
    // which also follows a file the feed is still writing.
    struct stat st {};
    if (fstat(fd_, &st) == 0) size_ = st.st_size;
    upto = std::min(upto, size_);
    long page = sysconf(_SC_PAGESIZE);
    long start = std::min(keep, size_) / page * page;
    long end = std::min(size_, std::max(start + kWindow, upto));
    base_ = hi_ = start;
    eof_ = end >= size_;
    window_ = true;
    if (end <= start) return;
    void* m = mmap(nullptr, end - start, PROT_READ, MAP_PRIVATE, fd_, start);
    if (m == MAP_FAILED) {
      map_failed_ = true;
      eof_ = true;  // the end of what can be read
      return;
    }
    map_ = m;
    map_len_ = end - start;
    data_ = static_cast<const char*>(m);
    hi_ = end;
  }

  void need_streamed(long keep, long upto) {
    long cap = static_cast<long>(buffer_.size());
    while (!eof_ && hi_ < upto) {
      drop_before(std::clamp(keep, base_, hi_));
      size_t room = cap - (hi_ - base_);
      if (room == 0) return;  // more than the buffer holds was asked for
      size_t n = std::fread(buffer_.data() + (hi_ - base_), 1, room, file_);
      hi_ += static_cast<long>(n);
      if (n < room) eof_ = true;
    }
  }

  void drop_before(long keep) {
    if (keep == base_) return;
    std::memmove(buffer_.data(), buffer_.data() + (keep - base_), hi_ - keep);
    base_ = keep;
  }

  void unmap() {
    if (map_ != nullptr) munmap(map_, map_len_);
    map_ = nullptr;
    map_len_ = 0;
    window_ = false;
  }

  FILE* file_;
  int fd_ = -1;
  bool mapped_ = false;
  long size_ = 0;
  long start_ = 0;
  const char* data_ = nullptr;
  long base_ = 0;  // position of data_[0]
  long hi_ = 0;
  bool eof_ = true;
  bool window_ = false;      // [base_, hi_) is the current mapped window
  bool map_failed_ = false;
  void* map_ = nullptr;
  size_t map_len_ = 0;
  std::vector<char> buffer_;
};

// ---- One read of the line reader --------------------------------------------

// What fgetnline with a limit of 80 delivers from position `at`: the
// piece [start, start+len) and the position after the read (the line feed
// that ends the line stays unread); len -1 at end of input.
struct Piece {
  long start = 0;
  long len = -1;
  long next = 0;
  bool eof() const { return len < 0; }
};

Piece take_piece(const DataSource& src, long from) {
  long lim = std::min(src.hi(), from + kPiece);
  const void* lf = std::memchr(src.at(from), '\n', lim - from);
  long stop = lf ? from + (static_cast<const char*>(lf) - src.at(from)) : lim;
  return {from, stop - from, stop};
}

// The caller has made the next kLookahead bytes available.
Piece read_piece(const DataSource& src, long p) {
  long end = src.hi();
  if (p < end && src.byte(p) != '\n') return take_piece(src, p);
  if (p >= end) return {p, -1, p};
  ++p;  // the line feed that ended the previous line
  if (p < end && src.byte(p) != '\n') return take_piece(src, p);
  if (p >= end) return {p, -1, p};
  return {p, 0, p};  // an empty line
}

// A field of a record as it stands in the data: the piece's text up to
// its first NUL byte (a record is one text line and never holds a NUL),
// whose carriage returns are dropped when `strip` is set.
struct Field {
  const char* text = "";
  long len = 0;
  bool strip = false;
};

Field field(const DataSource& src, const Piece& piece, bool strip) {
  const char* text = src.at(piece.start);
  const void* nul = std::memchr(text, '\0', piece.len);
  return {text, nul ? static_cast<const char*>(nul) - text : piece.len, strip};
}

// The heading of a "** " line: without its first three and last four
// characters; empty when those overlap.
Field stars_heading(Field line) {
  if (line.len <= 7) return {};
  return {line.text + 3, line.len - 7, false};
}

// ---- Header records ----------------------------------------------------------

// Copies at most `max` characters of `f` to `to`; returns the end.
char* put_field(char* to, const Field& f, long max) {
  const char* from = f.text;
  const char* end = f.text + f.len;
  char* stop = to + max;
  for (; from != end && to != stop; ++from) {
    *to = *from;
    to += !f.strip || *from != '\r';
  }
  return to;
}

// Appends "%7ld %s / %-20.20s" (without its line feed) to `out`.
void format_record(long pos, const Field& heading, const Field& id, std::string& out) {
  size_t old = out.size();
  out.resize(old + 32 + heading.len + kIdWidth);
  char* to = out.data() + old;
  char num[24];
  size_t digits = std::to_chars(num, num + sizeof num, pos).ptr - num;
  for (size_t i = digits; i < 7; ++i) *to++ = ' ';
  to = std::copy(num, num + digits, to);
  *to++ = ' ';
  to = put_field(to, heading, heading.len);
  to = std::copy_n(" / ", 3, to);
  char* id_end = put_field(to, id, kIdWidth);
  to = std::fill_n(id_end, kIdWidth - (id_end - to), ' ');
  out.resize(to - out.data());
}

std::string format_record(long pos, const Field& heading, const Field& id) {
  std::string out;
  format_record(pos, heading, id, out);
  return out;
}

bool writes_to(FILE* hfile) {
  return hfile != nullptr && hfile != stdout && fileno(hfile) != STDOUT_FILENO;
}

// Reports and writes the records of one pass. Records reach the header
// file whole, in batches, so a crash leaves at most the last one cut short
// (which the next resume drops).
class RecordSink {
 public:
  RecordSink(FILE* hfile, long ppos) : hfile_(writes_to(hfile) ? hfile : nullptr), ppos_(ppos) {}
  // A sink that hands the records to `each` and prints nothing.
  explicit RecordSink(const HDR_record_fn& each) : hfile_(nullptr), ppos_(0), each_(&each) {
    show_size_ = show_record_ = false;
  }
  bool stopped() const { return stopped_; }
  ~RecordSink() { flush(); }
  void add(long pos, const Field& heading, const Field& id) {
    if (show_size_) MESS_print(M_out3, "Product size: %7ld\n", pos - ppos_);
    ppos_ = pos;
    ++count_;
    if (each_ != nullptr) return hand_over(pos, heading, id);
    if (hfile_ == nullptr && !show_record_) return;  // nobody reads the record
    size_t at = batch_.size();
    format_record(pos, heading, id, batch_);
    batch_ += '\n';
    if (show_record_) MESS_print(M_out1, "%s", batch_.c_str() + at);
    if (hfile_ == nullptr) batch_.clear();
    else if (batch_.size() >= kBatch) write_batch();
  }
  int count() const { return count_; }
  void flush() {
    if (hfile_ == nullptr) return;
    write_batch();
    std::fflush(hfile_);
  }

 private:
  static constexpr size_t kBatch = 64 * 1024;
  void hand_over(long pos, const Field& heading, const Field& id) {
    batch_.clear();
    format_record(pos, heading, id, batch_);
    stopped_ = !(*each_)(pos, batch_);
  }
  void write_batch() {
    std::fwrite(batch_.data(), 1, batch_.size(), hfile_);
    batch_.clear();
  }
  FILE* hfile_;
  long ppos_;
  int count_ = 0;
  bool show_size_ = MESS_check(M_out3);
  bool show_record_ = MESS_check(M_out1);
  const HDR_record_fn* each_ = nullptr;
  bool stopped_ = false;
  std::string batch_;
};

// ---- Finding starts ----------------------------------------------------------

// What is known about the line that holds a position: the position where
// its 80-character pieces begin (any position on that grid will do), and
// whether that is just after a line feed.
struct Anchor {
  long pos = 0;
  long origin = 0;
  bool after_lf = false;
};

// The anchor of x, from an anchor at or before it.
Anchor locate(const DataSource& src, const Anchor& a, long x) {
  const char* lo = src.at(a.pos);
  for (const char* q = src.at(x); q > lo; --q)
    if (q[-1] == '\n') return {x, a.pos + (q - lo), true};
  return {x, a.origin, a.after_lf};
}

struct Start {
  int type = HDR_START_NONE;
  long piece = -1;  // where the start piece begins
  Anchor anchor;    // of that piece
};

// The byte a start of `type` has at the first or second place of a piece.
char candidate_byte(int type) { return type == HDR_START_SOH ? kSOH : '*'; }

// Whether the candidate byte at a.pos opens a start of `type`.
Start start_at(const DataSource& src, const Anchor& a, int type) {
  long x = a.pos;
  long col = (x - a.origin) % kPiece;
  if (type == HDR_START_SOH) return col <= 1 ? Start{type, x - col, a} : Start{};
  bool stars = col == 0 && x + 2 < src.hi() && src.byte(x + 1) == '*' && src.byte(x + 2) == ' ';
  return stars ? Start{type, x, a} : Start{};
}

// The first start of kind `type` whose candidate byte lies in [from, lim).
Start find_kind(const DataSource& src, Anchor a, long from, long lim, int type) {
  for (long x = from; x < lim; ++x) {
    const void* hit = std::memchr(src.at(x), candidate_byte(type), lim - x);
    if (hit == nullptr) break;
    x += static_cast<const char*>(hit) - src.at(x);
    a = locate(src, a, x);
    Start s = start_at(src, a, type);
    if (s.piece >= 0) return s;
  }
  return {};
}

// The first start in [from, lim): of the pass's kind, or of either kind
// while none is known.
Start find_start(const DataSource& src, const Anchor& a, long from, long lim, int type) {
  if (type != HDR_START_NONE) return find_kind(src, a, from, lim, type);
  Start soh = find_kind(src, a, from, lim, HDR_START_SOH);
  Start stars = find_kind(src, a, from, soh.piece >= 0 ? soh.piece : lim, HDR_START_STARS);
  return stars.piece >= 0 ? stars : soh;
}

// The stream position before the read that delivered the piece at `s`.
long position_before(const Start& s) {
  bool first_piece = s.piece == s.anchor.origin && s.anchor.after_lf;
  return first_piece ? s.piece - 1 : s.piece;
}

// A record as a fresh scan makes it, and the position after its lines.
// The fields point into the data source's bytes.
struct Taken {
  bool complete = false;  // false: the lines it needs run past the end
  long pos = 0;
  Field heading, id;
  long next = 0;
};

// Reads the lines of a start whose first piece is at `s.piece` into `t`.
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

// The scan proper, from position p with the kind `type`; returns the
// position where the input ended.
long scan_source(DataSource& src, RecordSink& sink, long p, int type) {
  Anchor a{p, p, false};
  Taken t;
  for (;;) {
    src.need(p, p + kChunk + kLookahead);
    if (p >= src.hi()) break;
    long lim = std::min(src.hi(), p + kChunk);
    Start s = find_start(src, a, p, lim, type);
    if (s.piece < 0) {
      a = locate(src, a, lim);
      p = lim;
      continue;
    }
    type = s.type;
    take_start(src, s, t);
    if (!t.complete) return src.hi();  // no record from a product cut short
    sink.add(t.pos, t.heading, t.id);
    p = t.next;
    if (sink.stopped()) break;
    a = {p, p, false};
  }
  return p;
}

// ---- The resume ----------------------------------------------------------------

// The header file's last complete record line (without its line feed),
// where it begins and where it ends (after its line feed).
struct LastLine {
  bool found = false;
  std::string text;
  long begin = 0;
  long end = 0;  // where a record cut short (if any) begins
};

// The offset of a record line, and the text after it and its white space.
bool parse_offset(const std::string& line, long& offset, std::string& rest) {
  const char* s = line.c_str();
  char* after = nullptr;
  offset = std::strtol(s, &after, 10);
  if (after == s) return false;
  while (*after == ' ' || *after == '\t' || *after == '\r' || *after == '\f' || *after == '\v')
    ++after;
  rest = after;
  return true;
}

// Reads every record, echoing each at level out2.
LastLine read_all_records(FILE* hfile) {
  LastLine last;
  std::fseek(hfile, 0, SEEK_SET);
  char* buf = nullptr;
  size_t cap = 0;
  long at = 0;
  ssize_t n;
  while ((n = getline(&buf, &cap, hfile)) > 0) {
    if (buf[n - 1] != '\n') break;  // cut short: dropped
    std::string line(buf, n - 1);
    long offset;
    std::string rest;
    if (parse_offset(line, offset, rest)) MESS_print(M_out2, "%7ld %s\n", offset, rest.c_str());
    last = {true, line, at, at + n};
    at += n;
  }
  std::free(buf);
  return last;
}

// Reads only as much of the end of the file as holds its last record.
LastLine read_last_record(FILE* hfile) {
  if (std::fseek(hfile, 0, SEEK_END) != 0) return {};
  long size = std::ftell(hfile);
  for (long want = 4096;; want *= 2) {
    long from = std::max(0L, size - want);
    std::string tail(size - from, '\0');
    std::fseek(hfile, from, SEEK_SET);
    if (std::fread(tail.data(), 1, tail.size(), hfile) != tail.size()) return {};
    size_t end = tail.rfind('\n');
    if (end == std::string::npos) {
      if (from == 0) return {};
      continue;
    }
    size_t before = end == 0 ? std::string::npos : tail.rfind('\n', end - 1);
    if (before == std::string::npos && from > 0) continue;
    size_t begin = before == std::string::npos ? 0 : before + 1;
    return {true, tail.substr(begin, end - begin), from + static_cast<long>(begin),
            from + static_cast<long>(end) + 1};
  }
}

// Cuts the header file at `length` and leaves it positioned there.
void cut_header(FILE* hfile, long length) {
  std::fflush(hfile);
  std::fseek(hfile, 0, SEEK_END);
  if (std::ftell(hfile) != length) {
    if (ftruncate(fileno(hfile), length) != 0)
      MESS_print(M_warn, "Unable to shorten the header file\n");
  }
  std::fseek(hfile, length, SEEK_SET);
}

// A record line split into its fields.
struct Fields {
  long offset = 0;
  std::string heading, id;
};

bool split_record(const std::string& line, Fields& f) {
  std::string rest;
  const size_t tail = 3 + kIdWidth;  // " / " and the identification
  if (!parse_offset(line, f.offset, rest) || rest.size() + 1 < tail) return false;
  // The heading began right after the single blank that ends the offset.
  size_t head = line.find_first_not_of(' ');
  head = line.find(' ', head);
  if (head == std::string::npos || line.size() < head + 1 + tail) return false;
  if (line.compare(line.size() - tail, 3, " / ") != 0) return false;
  f.heading = line.substr(head + 1, line.size() - tail - head - 1);
  f.id = line.substr(line.size() - kIdWidth);
  return true;
}

// Whether a recorded line is an early view of `fresh`: the feed was still
// writing the product, so its lines were beginnings of what is there now.
bool is_early_view(const std::string& recorded, const std::string& fresh) {
  Fields r, f;
  if (!split_record(recorded, r) || !split_record(fresh, f)) return false;
  std::string id = r.id;
  id.erase(id.find_last_not_of(' ') + 1);
  return r.offset == f.offset && f.heading.starts_with(r.heading) && f.id.starts_with(id);
}

// The two records a fresh scan could have written at `pos`, one per kind.
struct Candidate {
  int type;
  Taken taken;
};

std::vector<Candidate> records_at(DataSource& src, long pos) {
  std::vector<Candidate> out;
  if (pos < src.first()) return out;
  src.need(pos, pos + kLookahead);
  if (pos >= src.hi()) return out;
  Piece first = read_piece(src, pos);
  Piece second = first.eof() ? first : read_piece(src, first.next);
  if (second.eof()) return out;
  Taken soh{true, pos, field(src, first, true), field(src, second, true), second.next};
  out.push_back({HDR_START_SOH, soh});
  if (first.len >= 3 && std::memcmp(src.at(first.start), "** ", 3) == 0) {
    Field line = field(src, first, false);
    Taken stars{true, pos, stars_heading(line), field(src, second, false), second.next};
    out.push_back({HDR_START_STARS, stars});
  }
  return out;
}

// The kind of the data file's first product start before `upto`, which
// every later start of the file has; HDR_START_NONE when there is none or
// the source cannot be read from its beginning.
int first_kind(DataSource& src, long upto) {
  if (!src.seekable()) return HDR_START_NONE;
  Anchor a{0, 0, false};
  for (long p = 0; p < upto;) {
    src.need(p, p + kChunk + kLookahead);
    if (p >= src.hi()) break;
    long lim = std::min({src.hi(), p + kChunk, upto});
    Start s = find_start(src, a, p, lim, HDR_START_NONE);
    if (s.piece >= 0) return s.type;
    a = locate(src, a, lim);
    p = lim;
  }
  return HDR_START_NONE;
}

// Checks the last record against the data file and settles where the
// scan goes on; rewrites the record when the product was cut short then.
HDR_resume_point continue_after(DataSource& src, FILE* hfile, const LastLine& last) {
  Fields rec;
  long offset = -1;
  std::string rest;
  if (parse_offset(last.text, offset, rest)) {
    // The lines at the offset can read as a record of either kind; only
    // the file's own kind is the record a fresh scan wrote.
    int kind = first_kind(src, offset + kPiece + 1);
    std::vector<Candidate> fresh = records_at(src, offset);
    std::erase_if(fresh, [kind](const Candidate& c) { return kind != HDR_START_NONE && c.type != kind; });
    for (const Candidate& c : fresh) {
      if (format_record(offset, c.taken.heading, c.taken.id) == last.text)
        return {c.taken.next, c.type, true};
    }
    for (const Candidate& c : fresh) {
      std::string line = format_record(offset, c.taken.heading, c.taken.id);
      if (!is_early_view(last.text, line)) continue;
      cut_header(hfile, last.begin);
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), hfile);
      return {c.taken.next, c.type, true};
    }
  }
  if (!src.seekable()) {
    MESS_print(M_warn, "Header file does not match the data file at offset %ld;"
               " it cannot be rebuilt from a stream\n", offset);
    return {0, HDR_START_NONE, false};
  }
  MESS_print(M_warn, "Header file does not match the data file at offset %ld: rebuilding it\n",
             offset);
  cut_header(hfile, 0);
  return {0, HDR_START_NONE, true};
}

HDR_resume_point resume_source(DataSource& src, FILE* hfile) {
  MESS_print(M_mess, "Scanning for end of header file...\n");
  if (!writes_to(hfile)) return {src.first(), HDR_START_NONE, true};
  LastLine last = MESS_check(M_out2) ? read_all_records(hfile) : read_last_record(hfile);
  std::fseek(hfile, 0, SEEK_END);
  long size = std::ftell(hfile);
  if (last.end != size) cut_header(hfile, last.end);  // a record cut short
  HDR_resume_point at;
  if (last.found) at = continue_after(src, hfile, last);
  else at = {src.first(), HDR_START_NONE, true};
  std::fseek(hfile, 0, SEEK_END);
  return at;
}

int scan_from(DataSource& src, FILE* hfile, long start, int type) {
  MESS_print(M_mess, "Processing products...\n");
  RecordSink sink(hfile, start);
  long end = scan_source(src, sink, start, type);
  sink.flush();
  src.finish(end);
  return sink.count();
}

}  // namespace

HDR_resume_point HDR_resume(FILE* ifile, FILE* hfile) {
  if (ifile == nullptr) return {0, HDR_START_NONE, false};
  DataSource src(ifile);
  HDR_resume_point at = resume_source(src, hfile);
  src.finish(at.start);
  return at;
}

int HDR_scan(FILE* ifile, FILE* hfile, long start, int type) {
  if (ifile == nullptr) return -1;
  DataSource src(ifile);
  if (start < 0) start = src.start();
  return scan_from(src, hfile, start, type);
}

int HDR_scan_records(FILE* ifile, const HDR_record_fn& each) {
  if (ifile == nullptr || std::fseek(ifile, 0, SEEK_SET) != 0) return -1;
  DataSource src(ifile);
  RecordSink sink(each);
  long end = scan_source(src, sink, 0, HDR_START_NONE);
  src.finish(end);
  return sink.count();
}

int HDR_process(FILE* ifile, FILE* hfile, int mode) {
  if (ifile == nullptr) return -1;
  DataSource src(ifile);
  long start = src.start();
  int type = HDR_START_NONE;
  if (mode == FILE_APPEND) {
    HDR_resume_point at = resume_source(src, hfile);
    if (!at.ok) return -1;
    start = at.start;
    type = at.type;
  }
  return scan_from(src, hfile, start, type);
}

// ---- File loop and start-up ------------------------------------------------

namespace {

// The resources this tool accepts as keyed options, then positionally.
const res_type res_key[] = {
    RES_help,       RES_batch,     RES_message,    RES_file_path, RES_data_path,
    RES_con_path,   RES_grid_path, RES_raw_path,   RES_image_path, RES_watch_path,
    RES_text_path,  RES_model_path, RES_sat_path,  RES_name_conv, RES_in_file,
    RES_out_file,   RES_file_param, RES_current,   RES_hour,      RES_num_hour,
    RES_identifier, RES_output,    RES_parameter,  RES_null};
const res_type res_pos[] = {RES_filenames, RES_null};

// True when both names lead to the same existing file, or are the same text.
bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa {}, sb {};
  return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The header file's name for the data file, or false when the data file
// gets none: it is standard input, its name gives no date, or the header
// name would be the data file itself.
bool header_name(const std::string& filename, const Date& datim, std::string& hdrfilename) {
  hdrfilename.clear();
  if (FILE_is_stdio(filename.c_str())) return false;  // data from standard input
  if (datim.year == NO_VALUE) {
    MESS_print(M_warn, "No date in data file name, no header file written: %s\n", filename.c_str());
    return false;
  }
  Date copy = datim;
  FILE_hdr_set_date(&copy, hdrfilename);
  if (!FILE_is_stdio(hdrfilename.c_str()) && same_file(hdrfilename, filename)) {
    MESS_print(M_warn, "Header file would overwrite data file: %s\n", filename.c_str());
    return false;
  }
  return true;
}

// Opens the header file as the mode says; none in mode 3.
FILE_ptr open_header(const std::string& hdrfilename, int mode) {
  if (mode == FILE_NEW) {
    MESS_print(M_mess, "Writing to header file: %s\n", hdrfilename.c_str());
    FILE_ptr hfile(FILE_open(hdrfilename.c_str(), "w"));
    if (!hfile) {
      MESS_print(M_warn, "Unable to write to header file: %s\n", hdrfilename.c_str());
      KIV_exit(EXIT_HEADER_UNWRITABLE);
    }
    return hfile;
  }
  if (mode == FILE_APPEND) {
    MESS_print(M_mess, "Appending to header file: %s\n", hdrfilename.c_str());
    return FILE_ptr(FILE_open(hdrfilename.c_str(), "r+"));
  }
  return nullptr;
}

void index_file(const std::string& filename) {
  Date datim;
  FILE_get_date(&datim);
  // A directory opens for reading but yields nothing: not a data file.
  FILE_ptr ifile(FILE_is_dir(filename.c_str()) ? nullptr : FILE_open(filename.c_str(), "r"));
  if (!ifile) {
    MESS_print(M_error, "Unable to open file: %s\n", filename.c_str());
    return;
  }
  std::string hdrfilename;
  int mode = FILE_KEEP;
  if (header_name(filename, datim, hdrfilename)) mode = FILE_overwrite(hdrfilename.c_str(), FILE_ASK_APPEND);
  FILE_ptr hfile = open_header(hdrfilename, mode);
  HDR_process(ifile.get(), hfile.get(), mode);
}

}  // namespace

int HDR_file_loop() {
  std::string filename;
  while (FILE_get_next(filename)) index_file(filename);
  return 0;
}

int HDR_main(int argc, char** argv) {
  RES_init(argc, argv, res_key, res_pos);
  if (FLAG_help()) {
    std::string program = RES_get_progname();
    MESS_print(M_print, "%s: This program parses input data files and creates header files\n",
               program.c_str());
    RES_help_print(program.c_str(), res_key, res_pos);
    KIV_exit(0);
  }
  MESS_print_prog("HEADER DATA FILE GENERATOR");
  PAR_in_file("raw");
  std::string filename;
  FILE_get_file_only("Enter the filename: ", &filename);
  Date datim;
  FILE_get_date(&datim);
  FILE_reset_time();
  FILE_first(datim);
  return HDR_file_loop();
}

bool HDR_header_name(const std::string& filename, const Date& datim, std::string& hdrfilename) {
  return header_name(filename, datim, hdrfilename);
}
