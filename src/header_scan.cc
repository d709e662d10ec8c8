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

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>

#include "io.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hdr {

namespace {
constexpr char kSOH = '\x01';
}  // namespace

// ---- The data file's bytes ---------------------------------------------------

FileBytes::FileBytes(FILE* f) : file_(f), fd_(fileno(f)) {
  long pos = IO_ftell(f);
  struct stat st {};
  seekable_ = pos >= 0 && fd_ >= 0 && IO_fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
  start_ = std::max(pos, 0L);
  if (seekable_) size_ = static_cast<long>(st.st_size);
}

long FileBytes::read(char* to, size_t size, long at) {
  if (seekable_) {
    long n;
    while ((n = IO_pread(fd_, to, size, at)) < 0 && errno == EINTR) {
    }
    return n;
  }
  if (ended_) return 0;
  size_t n = std::fread(to, 1, size, file_);
  if (std::ferror(file_)) return -1;
  ended_ = n < size;  // fread stops short only there
  return static_cast<long>(n);
}

DataSource::DataSource(ByteSource& bytes, size_t block)
    : bytes_(bytes),
      seekable_(bytes.seekable()),
      start_(bytes.start()),
      cap_((block != 0 ? block : settings().block) + 3 * kLookahead),
      buf_(std::make_unique<char[]>(cap_ + kSlack)),
      base_(bytes.start()),
      hi_(bytes.start()) {}

void DataSource::refill(long keep, long upto) {
  bool inside = keep >= base_ && keep <= hi_;
  if (seekable_ && !inside) {  // a jump: read afresh from there
    base_ = hi_ = keep;
    eof_ = error_ != 0;  // after a read error nothing more is read
  }
  while (!seekable_ && keep > hi_ && !eof_) {  // a stream can only skip ahead
    base_ = hi_;
    fill(keep);
  }
  drop_before(std::clamp(keep, base_, hi_));
  if (!eof_) fill(upto);
}

void DataSource::drop_before(long keep) {
  if (keep == base_) return;
  std::memmove(buf_.get(), buf_.get() + (keep - base_), hi_ - keep);
  base_ = keep;
}

void DataSource::fill(long upto) {
  if (settings().before_read) settings().before_read(hi_);
  while (!eof_ && hi_ - base_ < static_cast<long>(cap_)) {
    long want = static_cast<long>(cap_) - (hi_ - base_);
    long n = bytes_.read(buf_.get() + (hi_ - base_), want, hi_);
    if (n < 0) error_ = errno != 0 ? errno : EIO;
    if (n <= 0) eof_ = true;
    else hi_ += n;
    // What came short is all the source has at hand; more is asked for
    // only when needed.
    if (n > 0 && n < want && hi_ >= upto) break;
  }
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
    if (type == SCAN_START_SOH) {
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
    uint64_t starts = hit & (type == SCAN_START_SOH ? col0 | col1 : col0);
    for (; starts != 0; starts &= starts - 1) {
      long x = w + std::countr_zero(starts);
      if (type == SCAN_START_SOH) return {type, (col0 >> (x - w)) & 1 ? x : x - 1};
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
    if (col <= 1) return {SCAN_START_SOH, x - col};
    // A stray 0x01: more may follow close by.
    Start s = scan_windows(src, a, x, lim, SCAN_START_SOH);
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
    Start s = scan_windows(src, a, x, lim, SCAN_START_STARS);
    if (s.piece >= 0) return s;
  }
  return {};
}

// The first start in [from, lim): of the pass's kind, or of either kind
// while none is known.
Start find_start(const DataSource& src, Anchor a, long from, long lim, int type) {
  if (type == SCAN_START_SOH) return find_soh(src, a, from, lim);
  if (type == SCAN_START_STARS) return find_stars(src, a, from, lim);
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
  if (s.type == SCAN_START_STARS) {
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
  if (s.type == SCAN_START_SOH) {
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
    if (p_ >= lim) return SCAN_START_NONE;
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

}  // namespace hdr
