// The product scanner. It is exact to the byte with the line reader
// (fgetnline with a limit of 80): every line is read as pieces of at most
// 80 characters, and a record's offset is the stream position taken
// before a read. It does not read line by line, though: it reads the data
// file in fixed blocks (pread, or fread for streams) and jumps with memchr
// from one candidate byte (0x01, or '*') to the next, working out from the
// last line feed whether the candidate stands where a piece begins. Where
// candidates come thick, 64-byte windows with one bit per byte judge them
// all at once, so no input, whatever its bytes, costs more than a few
// steps per window. Only the lines around a product start are read, through
// a bit map of their line feeds.
#include "header_scan.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>

#include "files.h"
#include "mess.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hdr {

namespace {
constexpr char kSOH = '\x01';
constexpr size_t kBatch = 1024 * 1024;  // header bytes per write
}  // namespace

ScanSettings& settings() {
  static ScanSettings state;
  return state;
}

ssize_t read_at_most(int fd, char* to, size_t size, long at) {
  if (settings().io.pread) return settings().io.pread(fd, to, size, at);
  return ::pread(fd, to, size, at);
}

int close_fd(int fd) {
  if (settings().io.close) return settings().io.close(fd);
  return ::close(fd);
}

// ---- The data file's bytes ---------------------------------------------------

DataSource::DataSource(FILE* f, size_t block)
    : file_(f),
      cap_((block != 0 ? block : settings().block) + 3 * kLookahead),
      buf_(std::make_unique<char[]>(cap_ + kSlack)) {
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
      n = read_at_most(fd_, to, room, hi_);
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
  if (FILE_truncate(fd_, length) != 0 || ::lseek(fd_, length, SEEK_SET) < 0) return fail(errno);
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
      // Only a regular file can be cut; where even that fails, the next
      // resume drops the record cut short, as after a crash.
      size_t whole = done;
      while (whole > 0 && data[whole - 1] != '\n') --whole;
      struct stat st {};
      bool regular = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
      if (whole != done && regular && FILE_truncate(fd_, end_ + static_cast<long>(whole)) != 0)
        whole = done;  // what the file still holds
      end_ += static_cast<long>(whole);
      return fail(err);
    }
    done += static_cast<size_t>(n);
  }
  end_ += static_cast<long>(size);
  return true;
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

// Bit i set where p[i] == c, for the 16 bytes at p.
inline unsigned eq16(const char* p, char c) {
#if defined(__SSE2__)
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  return static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(c))));
#else
  unsigned m = 0;
  for (int i = 0; i < 16; ++i) m |= unsigned(p[i] == c) << i;
  return m;
#endif
}

// Bit i set where p[i] == c, for the 64 bytes at p.
inline uint64_t eq64(const char* p, char c) {
  return uint64_t(eq16(p, c)) | uint64_t(eq16(p + 16, c)) << 16 | uint64_t(eq16(p + 32, c)) << 32 |
         uint64_t(eq16(p + 48, c)) << 48;
}

// The anchor of x, from an anchor at or before it: the last line feed
// before x tells where x's pieces begin. Searches back 16 bytes at a time.
Anchor locate(const DataSource& src, Anchor a, long x) {
  const char* lo = src.at(a.pos);
  const char* q = src.at(x);
  for (; q - lo >= 16; q -= 16) {
    unsigned m = eq16(q - 16, '\n');
    if (m != 0) return {x, a.pos + (q - 16 - lo) + (32 - std::countl_zero(m))};
  }
  for (; q > lo; --q)
    if (q[-1] == '\n') return {x, a.pos + (q - lo)};
  return {x, a.origin};
}

constexpr long kWindow = 64;

// Looks for a start of `type` window by window (64 bytes, one bit each)
// from `w`, for as long as the windows hold candidate bytes: input where
// candidates come thick (short lines of '*', stray 0x01 bytes) then costs
// a few steps per window instead of a search call per candidate. Returns
// the first start in [w, lim), or no start with `w` where the candidates
// ran out; `a` must be the anchor of `w` and follows it.
Start scan_windows(const DataSource& src, Anchor& a, long& w, long lim, int type) {
  for (; w < lim; w += kWindow) {
    const char* p = src.at(w);
    long n = std::min(kWindow, lim - w);
    uint64_t valid = n == kWindow ? ~uint64_t(0) : (uint64_t(1) << n) - 1;
    uint64_t lf = eq64(p, '\n') & valid;
    uint64_t bytes, hit;
    if (type == HDR_START_SOH) {
      bytes = hit = eq64(p, kSOH) & valid;
    } else {
      bytes = eq64(p, '*') & valid;
      hit = bytes & eq64(p + 1, '*') & eq64(p + 2, ' ');
    }
    // Columns 0 and 1: on the grid of the line that holds w (up to its
    // first line feed in the window), or just after a line feed here.
    uint64_t first_line = lf != 0 ? (lf ^ (lf - 1)) : ~uint64_t(0);
    long c0 = (w - a.origin) % kPiece;
    long g0 = (kPiece - c0) % kPiece, g1 = (kPiece + 1 - c0) % kPiece;
    uint64_t col0 = ((g0 < kWindow ? uint64_t(1) << g0 : 0) & first_line) | lf << 1;
    uint64_t col1 = ((g1 < kWindow ? uint64_t(1) << g1 : 0) & first_line) | lf << 2;
    uint64_t starts = hit & (type == HDR_START_SOH ? col0 | col1 : col0);
    for (; starts != 0; starts &= starts - 1) {
      long x = w + std::countr_zero(starts);
      if (type == HDR_START_SOH) return {type, (col0 >> (x - w)) & 1 ? x : x - 1};
      if (x + 2 < src.hi()) return {type, x};  // past the end only at its end
    }
    a = {w + n, lf != 0 ? w + 64 - std::countl_zero(lf) : a.origin};
    if (bytes == 0) {
      w += n;
      return {};
    }
  }
  return {};
}

// The first 0x01 in [from, lim) at the first or second place of a piece.
Start find_soh(const DataSource& src, Anchor a, long from, long lim) {
  for (long x = from; x < lim;) {
    x = find_byte(src, x, lim, kSOH);
    if (x >= lim) break;
    a = locate(src, a, x);
    long col = (x - a.origin) % kPiece;
    if (col <= 1) return {HDR_START_SOH, x - col};
    // A stray 0x01: more may follow close by.
    Start s = scan_windows(src, a, x, lim, HDR_START_SOH);
    if (s.piece >= 0) return s;
  }
  return {};
}

// The first "** " in [from, lim) at the first place of a piece.
Start find_stars(const DataSource& src, Anchor a, long from, long lim) {
  for (long x = from; x < lim;) {
    x = find_byte(src, x, lim, '*');
    if (x >= lim) break;
    a = locate(src, a, x);
    Start s = scan_windows(src, a, x, lim, HDR_START_STARS);
    if (s.piece >= 0) return s;
  }
  return {};
}

// The first start in [from, lim): of the pass's kind, or of either kind
// while none is known.
Start find_start(const DataSource& src, Anchor a, long from, long lim, int type) {
  if (type == HDR_START_SOH) return find_soh(src, a, from, lim);
  if (type == HDR_START_STARS) return find_stars(src, a, from, lim);
  Start soh = find_soh(src, a, from, lim);
  Start stars = find_stars(src, a, from, soh.piece >= 0 ? soh.piece : lim);
  return stars.piece >= 0 ? stars : soh;
}

// The stream position before the read that delivered the piece at `s`:
// the line feed before it, which that read skipped, if there is one in
// the pass that began at `first`.
long position_before(const DataSource& src, const Start& s, long first) {
  return s.piece > first && src.byte(s.piece - 1) == '\n' ? s.piece - 1 : s.piece;
}

// Where the line feeds, carriage returns and NUL bytes are among the 64
// bytes at a start, one bit each: with it, the few lines of a start are
// read without a search call per line.
constexpr long kMapBytes = 64;

struct ByteMap {
  uint64_t lf, cr, nul;

  explicit ByteMap(const char* p)
      : lf(eq64(p, '\n')), cr(eq64(p, '\r')), nul(eq64(p, '\0')) {}

  // The first set bit of `m` at or after `i` (at most kMapBytes), or
  // kMapBytes.
  static long next(uint64_t m, long i) {
    uint64_t w = i < kMapBytes ? m >> i : 0;
    return w != 0 ? i + std::countr_zero(w) : kMapBytes;
  }
  bool is_lf(long i) const { return (lf >> i) & 1; }
  // Where the piece that begins at `i` ends: its line feed or 80 on.
  long piece_end(long i) const { return std::min(next(lf, i), i + kPiece); }
  // Where the read after a piece that ended at `e` (< kMapBytes) begins.
  long read_from(long e) const { return e + is_lf(e); }
};

// The field [b, e) of the mapped bytes at `text`, cut at its first NUL.
// When `strip` and its carriage returns all stand at its end, it is
// given as the plain text before them.
Field mapped_field(const ByteMap& m, const char* text, long b, long e, bool strip) {
  e = std::min(e, ByteMap::next(m.nul, b));
  if (!strip) return {text + b, e - b, false};
  long cr = std::min(ByteMap::next(m.cr, b), e);
  // Carriage returns from cr to e (the bits of [cr, e) all set)?
  uint64_t span = e - cr >= 64 ? ~uint64_t(0) : ((uint64_t(1) << (e - cr)) - 1);
  if (cr == e || ((m.cr >> cr) & span) == span) return {text + b, cr - b, false};
  return {text + b, e - b, true};
}

// take_start through a byte map; false when the start's lines do not all
// lie in the mapped bytes (take_start then reads them).
bool take_mapped(const DataSource& src, const Start& s, long first, Taken& t) {
  if (s.piece + kMapBytes > src.hi()) return false;
  const char* text = src.at(s.piece);
  ByteMap m(text);
  long e1 = m.piece_end(0);
  if (e1 >= kMapBytes) return false;
  long s2 = m.read_from(e1), e2 = m.piece_end(s2);
  if (e2 >= kMapBytes) return false;
  if (s.type == HDR_START_STARS) {
    t.pos = position_before(src, s, first);
    t.heading = stars_heading(mapped_field(m, text, 0, e1, false));
    t.id = mapped_field(m, text, s2, e2, false);
    t.next = s.piece + e2;
  } else {
    long s3 = m.read_from(e2), e3 = m.piece_end(s3);
    if (e3 >= kMapBytes) return false;
    long s4 = m.read_from(e3), e4 = m.piece_end(s4);
    if (e4 >= kMapBytes) return false;
    t.pos = s.piece + e2;
    t.heading = mapped_field(m, text, s3, e3, true);
    t.id = mapped_field(m, text, s4, e4, true);
    t.next = s.piece + e4;
  }
  t.complete = true;
  return true;
}

// Whether `last`, the last piece a start needs, is the end of a line the
// feed is still writing: the input ends right after it, with no line feed,
// before the line reader's 80 characters. (The byte-map path always sees
// the line feed, so only reads near the end of the input come here.)
bool unfinished(const DataSource& src, const Piece& last) {
  return src.eof() && last.next == src.hi() && last.len < kPiece;
}

// Reads the lines of the start `s` of the pass that began at `pass`.
void take_start(const DataSource& src, const Start& s, long pass, Taken& t) {
  if (take_mapped(src, s, pass, t)) return;
  t.complete = false;
  Piece first = take_piece(src, s.piece);
  if (s.type == HDR_START_SOH) {
    Piece skipped = read_piece(src, first.next);
    if (skipped.eof()) return;
    Piece heading = read_piece(src, skipped.next);
    Piece id = heading.eof() ? heading : read_piece(src, heading.next);
    if (id.eof() || unfinished(src, id)) return;
    t.pos = skipped.next;
    t.heading = field(src, heading, true);
    t.id = field(src, id, true);
    t.next = id.next;
  } else {
    Piece id = read_piece(src, first.next);
    if (id.eof() || unfinished(src, id)) return;
    t.pos = position_before(src, s, pass);
    t.heading = stars_heading(field(src, first, false));
    t.id = field(src, id, false);
    t.next = id.next;
  }
  t.complete = true;
}

}  // namespace

StartFinder::StartFinder(DataSource& src, long p, int type, long stop)
    : src_(src), first_(p), p_(p), type_(type), stop_(stop), anchor_{p, p} {}

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
    t.piece = s.piece;
    take_start(src_, s, first_, t);
    if (!t.complete) {
      p_ = src_.hi();  // a product cut short by the end of the input
      return s.type;
    }
    p_ = t.next;
    anchor_ = {p_, p_};
    return s.type;
  }
}

void scan_source(DataSource& src, RecordSink& sink, long p, int type) {
  StartFinder finder(src, p, type);
  Taken t;
  while (!sink.stopped() && finder.next(t) != HDR_START_NONE && t.complete)
    sink.add(t.pos, t.heading, t.id);
}

}  // namespace hdr
