// The product getter. A header file says where each product of its data
// file starts; product_get picks records by patterns on their heading and
// second line, checks every record it uses against the data file, and
// writes the products' bytes, their records or their byte ranges.
//
// The header file is read in large blocks. With a pattern, the blocks are
// searched for a text that every match contains, as grep does, so most
// lines are never taken apart; a line is split and its patterns run only
// where that text stands.
//
// A product runs from its first byte to the next product's first byte.
// A record gives only its offset: the first byte is worked out backwards
// over the start's two lines (or, for long lines, found by the scanner
// from a line feed before them), and the record is confirmed by reading
// its lines forwards as a fresh scan does. The bytes between two checked
// records are taken to hold no other start. The header's last record is
// checked as the resume checks it, and what follows it is scanned.
//
// Where the header cannot be used, the data file is scanned with the
// scanner's own start finder, run in chunks that end where a piece of a
// line begins, so that the bytes it passed are still in the buffer when
// they are written.
//
// Module state: the patterns, the output kind and the output stream.
#include "product_get.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "files.h"
#include "header_scan.h"
#include "header_tool.h"
#include "mess.h"
#include "par_tool.h"
#include "pattern.h"
#include "resrc.h"
#include "string.h"
#include "system.h"

using hdr::DataSource;
using hdr::Taken;

namespace {

constexpr char kSOH = '\x01';
constexpr char kETX = '\x03';
// A start's first byte lies at most this far before its record offset:
// its line and the line skipped after it, 80 characters each.
constexpr long kBack = 2 * (hdr::kPiece + 1) + 2;
constexpr size_t kCopyBlock = 256 * 1024;  // data read at a time when copying
constexpr size_t kScanBlock = 64 * 1024;   // ... when scanning
constexpr size_t kProbeBlock = 4 * 1024;   // ... when reading records here and there
constexpr long kHeaderBlock = 256 * 1024;  // header bytes read at a time

struct GetState {
  PAT_chooser patterns;
  PG_output output = PG_output::text;
  FILE* out = stdout;
  std::string out_name = "standard output";
};
GetState state;

// Whether the record's fields are chosen by the patterns.
bool chosen(const hdr::RecordParts& f) { return state.patterns.chosen(f.heading, f.id); }

[[noreturn]] void output_failed() {
  MESS_print(M_error, "Unable to write output file: %s (%s)\n", state.out_name.c_str(),
             std::strerror(errno));
  KIV_exit(PG_ERROR);
}

void put(const char* data, size_t size) {
  if (size > 0 && std::fwrite(data, 1, size, state.out) != size) output_failed();
}

// ---- Output ----------------------------------------------------------------

// Writes what is chosen of one data file. Bytes are written straight from
// the data source's buffer; byte ranges that follow each other are
// gathered into one write while they fit in the buffer.
class Output {
 public:
  Output(DataSource& src, size_t block) : src_(src), block_(static_cast<long>(block)) {}

  // Where the gathered bytes begin, which the buffer must keep; LONG_MAX
  // when there are none.
  long hold() const { return to_ > from_ ? from_ : LONG_MAX; }

  // Writes the data bytes [from, to); false when the data file ended first.
  bool text(long from, long to) {
    if (to <= from) return true;
    if (to_ > from_ && from == to_ && to - from_ <= block_) {
      to_ = to;
      return true;
    }
    if (!flush()) return false;
    from_ = from;
    to_ = to;
    return to - from <= block_ || flush();
  }

  // Writes the gathered bytes; false when the data file ended first.
  bool flush() {
    long p = from_, to = to_;
    from_ = to_ = 0;
    while (p < to) {
      src_.need(p, std::min(to, p + block_));
      long n = std::min(to, src_.hi()) - p;
      if (n <= 0) return false;
      put(src_.at(p), static_cast<size_t>(n));
      p += n;
    }
    return true;
  }

 private:
  DataSource& src_;
  long block_;
  long from_ = 0, to_ = 0;
};

// ---- One data file -----------------------------------------------------------

// A product of the data file: where it begins and its record.
struct Product {
  long pos = 0;      // the record's offset
  long first = 0;    // the product's first byte
  long next = 0;     // where the lines of its start end
  long written = 0;  // bytes before this one are written (text from a stream)
  bool chosen = false;
  std::string record;
};

class FileRun {
 public:
  // `block`: data bytes read at a time.
  FileRun(FILE* data, const std::string& name, size_t block)
      : name_(name),
        block_(static_cast<long>(block)),
        src_(data, block),
        out_(src_, block_) {
    struct stat st {};
    seekable_ = src_.seekable() && fstat(fileno(data), &st) == 0;
    size_ = seekable_ ? st.st_size : 0;
  }

  // Gets the chosen products through the header file `hfd` named `hname`
  // (-1: none), or by a scan of the data file.
  void run(int hfd, const std::string& hname) {
    if (hfd < 0 || !use_header(hfd, hname)) {
      has_pending_ = false;
      walk(src_.first(), HDR_START_NONE);
    }
    if (!out_.flush()) short_read_ = true;
  }

  int written() const { return written_; }
  // The errno of a failed read of the data file, EIO when it was cut short
  // while read, or 0.
  int read_error() const { return src_.error() != 0 ? src_.error() : short_read_ ? EIO : 0; }

 private:
  // ---- Through the header file

  bool use_header(int fd, const std::string& hname) {
    struct stat st {};
    hdr::LastLine last;
    if (fstat(fd, &st) != 0) last.error = true;
    else last = hdr::read_last_record(fd, st.st_size);
    if (last.error) return unreadable(hname, errno);
    if (!last.found) {  // no record yet: everything follows the last one
      walk(src_.first(), HDR_START_NONE);
      return true;
    }
    hdr::RecordMatch m = hdr::match_record(src_, last.text);
    if (!m.found) return mismatch(hname);
    kind_ = m.type;
    // An early view stands for the record a fresh scan writes now.
    std::string record = m.early ? hdr::format_record(m.offset, m.taken.heading, m.taken.id) : last.text;
    Product tail;
    tail.pos = m.offset;
    tail.next = m.taken.next;
    make_available(std::max(src_.first(), m.offset - kBack), m.offset + hdr::kLookahead);
    tail.first = first_byte(m.offset, m.taken);
    if (tail.first < 0) return mismatch(hname);
    int err = 0;
    if (!read_lines(fd, last.begin, err)) return err != 0 ? unreadable(hname, err) : mismatch(hname);
    if (!take_record(record, &tail)) return mismatch(hname);
    walk(tail.next, kind_);
    return true;
  }

  bool mismatch(const std::string& hname) {
    MESS_print(M_warn, "Header file does not match the data file: %s, scanning the data file\n",
               hname.c_str());
    return false;
  }

  bool unreadable(const std::string& hname, int err) {
    MESS_print(M_warn, "Unable to read header file: %s (%s), scanning the data file\n",
               hname.c_str(), std::strerror(err != 0 ? err : EIO));
    return false;
  }

  // Takes the header lines in [0, end), which ends after a line feed.
  // False when a line used does not fit the data file, or (err set) when
  // the header could not be read.
  bool read_lines(int fd, long end, int& err) {
    std::unique_ptr<char[]> buf(new char[kHeaderBlock + hdr::kMaxRecord]);
    long carry = 0;
    for (long at = 0; at < end;) {
      ssize_t n = ::pread(fd, buf.get() + carry, std::min(kHeaderBlock, end - at), at);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        err = n < 0 ? errno : EIO;  // EIO: it shrank while read
        return false;
      }
      at += n;
      char* b = buf.get();
      char* e = b + carry + n;
      char* last = e;
      while (last > b && last[-1] != '\n') --last;
      if (!take_lines(b, last)) return false;
      carry = e - last;
      if (carry > hdr::kMaxRecord) return false;  // longer than any record
      std::memmove(b, last, carry);
    }
    return true;
  }

  // Takes the lines of [p, end), which ends after a line feed: with a
  // pattern only those where its text stands, and the one after a chosen
  // product, which ends it.
  bool take_lines(const char* p, const char* end) {
    while (p < end) {
      const char* line = has_pending_ ? p : state.patterns.next_line(p, end);
      if (line == end) return true;
      const char* lf = static_cast<const char*>(std::memchr(line, '\n', end - line));
      if (!take_record(std::string_view(line, lf - line), nullptr)) return false;
      p = lf + 1;
    }
    return true;
  }

  // Takes one header record: it ends the pending product and, when
  // chosen, becomes the pending one. `checked` is the record already
  // checked against the data file, if it was. False when the record does
  // not fit the data file or the record before it.
  bool take_record(std::string_view line, const Product* checked) {
    hdr::RecordParts f;
    if (!hdr::split_record(line, f)) return false;
    bool wanted = chosen(f);
    if (!wanted && !has_pending_) return true;
    long first = 0, next = 0;
    if (checked != nullptr) first = checked->first, next = checked->next;
    else if (!check(f.offset, line, first, next)) return false;
    if (has_pending_) {
      if (f.offset <= pending_.pos || first < pending_.next) return false;
      // Every product's bytes one after another are the same bytes
      // wherever the products part.
      bool parts_matter = state.output != PG_output::text || state.patterns.any();
      if (parts_matter && !no_start_between(pending_.next, first)) return false;
      finish(first);
    }
    if (wanted) begin(f.offset, first, next, true, line);
    return true;
  }

  // Whether the record `line` stands at its offset `pos` in the data file
  // as a fresh scan takes it; gives its product's first byte and where its
  // start's lines end.
  bool check(long pos, std::string_view line, long& first, long& next) {
    if (pos < src_.first()) return false;
    // One byte more than a start's lines need: a search that ends at the
    // first byte then reads nothing more.
    make_available(std::max(src_.first(), pos - kBack), pos + hdr::kLookahead + 2);
    Taken t = hdr::record_at(src_, pos, kind_);
    if (!t.complete) return false;
    char fresh[hdr::kMaxRecord + hdr::kSlack];
    char* end = hdr::format_record(fresh, pos, t.heading, t.id);
    if (line != std::string_view(fresh, end - fresh)) return false;
    first = first_byte(pos, t);
    next = t.next;
    return first >= 0;
  }

  // The first byte of the product whose record stands at `pos` and was
  // taken as `t`; -1 when it is not found. The bytes from kBack before pos
  // are available.
  long first_byte(long pos, const Taken& t) {
    if (kind_ == HDR_START_STARS)  // its "** " piece, after a line feed or at the start
      return t.piece == pos + 1 || t.piece == 0 ? t.piece : find_first(pos);
    // The line skipped after the start's line ends at pos, and the start's
    // line at the line feed before; each is at most one piece.
    long lo = src_.first();
    if (pos >= src_.hi() || src_.byte(pos) != '\n') return find_first(pos);
    long lf1 = last_lf(std::max(lo, pos - hdr::kPiece - 1), pos);
    if (lf1 < 0) return find_first(pos);
    long from = std::max(lo, lf1 - hdr::kPiece - 1);
    long lf0 = last_lf(from, lf1);
    long line = lf0 >= 0 ? lf0 + 1 : from == lo ? lo : -1;
    if (line < 0 || lf1 - line > hdr::kPiece) return find_first(pos);
    if (src_.byte(line) == kSOH) return line;
    if (line + 1 < lf1 && src_.byte(line + 1) == kSOH) return line + 1;
    return find_first(pos);
  }

  // The first byte of the product whose record stands at `pos`, found by
  // the scanner from a line feed before any place where its start can
  // begin; -1 when there is none within a block.
  long find_first(long pos) {
    long lo = std::max(src_.first(), pos - block_ + kBack);
    make_available(lo, pos + hdr::kLookahead);
    long from = last_lf(lo, pos - kBack);
    if (from < 0 && lo != src_.first()) return -1;
    hdr::StartFinder finder(src_, from < 0 ? lo : from, kind_, pos + 1);
    Taken t;
    int type;
    while ((type = finder.next(t)) != HDR_START_NONE && t.complete && t.pos <= pos)
      if (t.pos == pos) return start_byte(t, type);
    return -1;
  }

  // Whether the scanner finds no start in [from, to), from where a start's
  // lines end: the product before `to` is whole, no record is missing from
  // the header there. Most products hold no byte a start needs.
  bool no_start_between(long from, long to) {
    if (from >= to) return true;
    if (to - from <= block_) {
      make_available(from, to);
      char key = kind_ == HDR_START_SOH ? kSOH : '*';
      if (std::memchr(src_.at(from), key, to - from) == nullptr) return true;
    }
    Taken t;
    return hdr::StartFinder(src_, from, kind_, to).next(t) == HDR_START_NONE;
  }

  // The position of the last line feed in [from, to), or -1.
  long last_lf(long from, long to) const {
    if (to <= from) return -1;
    size_t at = std::string_view(src_.at(from), to - from).rfind('\n');
    return at == std::string_view::npos ? -1 : from + static_cast<long>(at);
  }

  // The first byte of the product that a scan found as `t`: its 0x01 (in
  // the first or second place of its piece) or the first '*'.
  long start_byte(const Taken& t, int type) const {
    return type == HDR_START_SOH && src_.byte(t.piece) != kSOH ? t.piece + 1 : t.piece;
  }

  // ---- Scanning the data file

  // Walks the product starts from `p` (where a scan begins or a start's
  // lines end) as a fresh scan of kind `kind` finds them, to the end.
  void walk(long p, int kind) {
    kind_ = kind;
    for (;;) {
      pass(p);
      long keep = std::max(src_.first(), p - 1);
      make_available(keep, keep + block_ + hdr::kLookahead);
      // The data file as it was when opened; a file that grows on is read
      // only that far.
      bool at_end = src_.eof() || (seekable_ && src_.hi() > size_ + hdr::kLookahead);
      long hi = seekable_ ? std::min(src_.hi(), size_) : src_.hi();
      long stop = at_end ? hi : chunk_end(p, src_.hi() - hdr::kLookahead - 1);
      Taken t;
      int type = p < stop ? hdr::StartFinder(src_, p, kind_, stop).next(t) : HDR_START_NONE;
      if (type == HDR_START_NONE) {
        if (at_end || stop <= p) break;
        p = stop;
        continue;
      }
      kind_ = type;
      long first = start_byte(t, type);
      if (has_pending_) finish(first);
      if (!t.complete) return;  // a start the feed is writing: no product yet
      if (first >= covered_) {
        char line[hdr::kMaxRecord + hdr::kSlack];
        char* end = hdr::format_record(line, t.pos, t.heading, t.id);
        std::string_view record(line, end - line);
        hdr::RecordParts f;
        begin(t.pos, first, t.next, hdr::split_record(record, f) && chosen(f), record);
      }
      p = t.next;
    }
    if (!has_pending_) return;
    long end = seekable_ ? std::min(src_.hi(), size_) : src_.hi();
    // The feed is still writing a start-of-heading product that has no
    // end-of-text byte.
    if (seekable_ && kind_ == HDR_START_SOH && !ends_with_etx(end)) {
      has_pending_ = false;
      std::string_view record = pending_.record;
      // Said louder when the user's pattern asked for it.
      if (pending_.chosen)
        MESS_print(state.patterns.any() ? M_warn : M_mess,
                   "Last product of %s is not complete yet, left out: %.*s\n", name_.c_str(),
                   static_cast<int>(record.find_last_not_of(' ') + 1), record.data());
      return;
    }
    finish(end);
  }

  // Where a chunk of the walk from `p` ends, at most at `lim`: at a line
  // feed, or where a piece of a long line begins, so that a scan from
  // there goes on as one from the start would.
  long chunk_end(long p, long lim) const {
    long lf = last_lf(p + 1, lim);
    if (lf >= 0) return lf;
    long origin = src_.byte(p) == '\n' ? p + 1 : p;
    return origin + (lim - origin) / hdr::kPiece * hdr::kPiece;
  }

  // The walk reached `stop`: from a stream, the pending product's bytes
  // before it are written now, while they are in the buffer.
  void pass(long stop) {
    if (seekable_ || !has_pending_ || !pending_.chosen || state.output != PG_output::text) return;
    if (!out_.text(pending_.written, stop)) short_read_ = true;
    pending_.written = stop;
  }

  // Whether the last byte before `end` other than carriage returns and
  // line feeds is the end-of-text byte.
  bool ends_with_etx(long end) {
    for (long p = end; p > src_.first();) {
      long from = std::max(src_.first(), p - 64);
      make_available(from, p);
      for (long q = std::min(p, src_.hi()); q > from; --q) {
        char c = src_.byte(q - 1);
        if (c != '\r' && c != '\n') return c == kETX;
      }
      p = from;
    }
    return false;
  }

  // ---- Products

  // A product begins, chosen or not; it is pending until the next begins.
  void begin(long pos, long first, long next, bool chosen, std::string_view record) {
    pending_.pos = pos;
    pending_.first = pending_.written = first;
    pending_.next = next;
    pending_.chosen = chosen;
    if (chosen) pending_.record.assign(record);
    has_pending_ = true;
  }

  // The pending product ends before `end`: it is written when chosen.
  void finish(long end) {
    has_pending_ = false;
    if (!pending_.chosen) return;
    ++written_;
    covered_ = end;
    switch (state.output) {
      case PG_output::text:
        if (!out_.text(pending_.written, end)) short_read_ = true;
        break;
      case PG_output::list:
        put(name_.data(), name_.size());
        put(":", 1);
        put(pending_.record.data(), pending_.record.size());
        put("\n", 1);
        break;
      case PG_output::ranges: {
        char range[64];
        int n = std::snprintf(range, sizeof range, " %ld-%ld\n", pending_.first, end - 1);
        put(name_.data(), name_.size());
        put(range, static_cast<size_t>(n));
        break;
      }
    }
  }

  // Makes the data bytes [keep, upto) available. Before the buffer is
  // filled again, what the output gathered is written; the pending
  // product's bytes are kept while they fit, so that they need not be
  // read again.
  void make_available(long keep, long upto) {
    long room = block_ + hdr::kLookahead;
    bool refill = keep > src_.hi() || (upto > src_.hi() && !src_.eof());
    long held = out_.hold();
    if (held < keep && (refill || upto - held > room) && !out_.flush()) short_read_ = true;
    long want = std::min(keep, out_.hold());
    bool copying = has_pending_ && pending_.chosen && state.output == PG_output::text;
    if (copying && pending_.written < want && upto - pending_.written <= room) want = pending_.written;
    src_.need(want, upto);
  }

  const std::string& name_;
  long block_;
  DataSource src_;
  Output out_;
  bool seekable_ = false;
  long size_ = 0;  // of a seekable data file when opened
  int kind_ = HDR_START_NONE;
  Product pending_;
  bool has_pending_ = false;
  long covered_ = 0;  // products before this byte were taken from the header
  int written_ = 0;
  bool short_read_ = false;
};

// Opens the header file `name` for reading, never waiting for a lock or
// on a FIFO; none (`err` set) when it cannot be read as a regular file.
FILE_fd open_header(const std::string& name, int& err) {
  std::string path;
  FILE_add_user_path(name.c_str(), path);
  int raw;
  while ((raw = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == EINTR) {
  }
  FILE_fd fd(raw);
  struct stat st {};
  if (fd.get() < 0 || fstat(fd.get(), &st) != 0) err = errno;
  else if (!S_ISREG(st.st_mode)) err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  else return fd;
  return FILE_fd();
}

}  // namespace

bool PG_set_patterns(const char* heading, const char* ident) { return state.patterns.set(heading, ident); }

bool PG_set_output(const char* word) {
  static const std::pair<const char*, PG_output> words[] = {
      {"text", PG_output::text}, {"list", PG_output::list}, {"ranges", PG_output::ranges}};
  if (word == nullptr) word = "text";
  for (const auto& [name, kind] : words) {
    if (stricmp(word, name) == 0) {
      state.output = kind;
      return true;
    }
  }
  MESS_print(M_error, "Unknown output type %s: not text, list or ranges\n", word);
  return false;
}

void PG_set_stream(FILE* out, const std::string& name) {
  state.out = out;
  state.out_name = name;
}

int PG_get_file(const FILE_named& data) {
  const std::string& filename = data.name;
  // A series passes over the hours the feed sent nothing; a file asked
  // for by name is missed as grep misses it.
  bool missing = false;
  FILE_ptr ifile(HDR_open_data(filename, &missing, data.in_series ? M_mess : M_warn));
  if (!ifile) return missing && data.in_series ? PG_NONE : PG_ERROR;
  std::string hdrname;
  // A header named after a standard stream or a command is never a file
  // on disk; a data stream cannot be read back to check records.
  struct stat st {};
  bool seekable = fstat(fileno(ifile.get()), &st) == 0 && S_ISREG(st.st_mode);
  bool named = HDR_header_name(data, hdrname, "scanning the data file") &&
               !FILE_is_stdio(hdrname.c_str()) && hdrname[0] != '|' && seekable;
  FILE_fd hfd;
  if (!named || !FILE_exist(hdrname.c_str())) {
    MESS_print(M_mess, "No header file for %s, scanning the data file\n", filename.c_str());
  } else {
    int err = 0;
    hfd = open_header(hdrname, err);
    if (hfd.get() < 0)
      MESS_print(M_warn, "Unable to read header file: %s (%s), scanning the data file\n",
                 hdrname.c_str(), std::strerror(err));
  }
  // Text is copied in large reads; records alone are read here and there.
  size_t block = state.output == PG_output::text ? kCopyBlock : hfd.get() >= 0 ? kProbeBlock : kScanBlock;
  FileRun run(ifile.get(), filename, block);
  run.run(hfd.get(), hdrname);
  if (int err = run.read_error()) {
    MESS_print(M_error, "Unable to read file: %s (%s)\n", filename.c_str(), std::strerror(err));
    return PG_ERROR;
  }
  return run.written() > 0 ? PG_WRITTEN : PG_NONE;
}

int PG_file_loop() {
  bool written = false, failed = false;
  FILE_named next;
  while (FILE_get_next(next)) {
    // A file that cannot be named cannot be read either (reported there).
    int status = next.named ? PG_get_file(next) : PG_ERROR;
    written = written || status == PG_WRITTEN;
    failed = failed || status == PG_ERROR;
  }
  return failed ? PG_ERROR : written ? PG_WRITTEN : PG_NONE;
}

namespace {

// The resources of header_tool but the overwrite policy, and the product
// pattern.
const std::vector<res_type> res_key = [] {
  std::vector<res_type> keys;
  for (const res_type* r = HDR_res_key; *r != RES_null; ++r) {
    if (*r != RES_file_param) keys.push_back(*r);
    if (*r == RES_identifier) keys.push_back(RES_product);
  }
  keys.push_back(RES_null);
  return keys;
}();

// product_get's own entries of the help text.
const std::vector<RES_help_line> help_lines = {
    {RES_product, "-pr pattern", "Heading pattern (extended regular expression, case ignored)"},
    {RES_identifier, "-id pattern", "Second-line pattern (extended regular expression, case ignored)"},
    {RES_output, "-ou type", "Output: text (the products), list (their records), ranges (their bytes)"},
    {RES_out_file, "-of file", "Output file instead of standard output"},
};

// Sends standard output to standard error while it lives, when it can.
class StdoutOnStderr {
 public:
  StdoutOnStderr() {
    std::fflush(stdout);
    saved_ = FILE_fd(dup(STDOUT_FILENO));
    if (saved_.get() >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) < 0) saved_ = FILE_fd();
  }
  ~StdoutOnStderr() {
    std::fflush(stdout);
    if (saved_.get() >= 0) dup2(saved_.get(), STDOUT_FILENO);
  }
  bool ok() const { return saved_.get() >= 0; }

 private:
  FILE_fd saved_;
};

// Chooses the first data file and starts the sequence. Standard output
// carries products, so the file list and the question go to standard
// error, and only to a user at a terminal. False (reported) when no file
// could be asked for.
bool start_files() {
  FILE_named first;
  if (!FILE_first_is_asked()) {
    FILE_get_file_only(nullptr, first);
  } else {
    StdoutOnStderr to_user;
    if (!isatty(STDIN_FILENO) || !to_user.ok()) {
      MESS_print(M_error,
                 "No data file named and no terminal to ask: name one, or give -ba for the latest\n");
      return false;
    }
    FILE_get_file_only("Enter the filename: ", first);
  }
  FILE_reset_time();
  FILE_first(first);
  return true;
}

}  // namespace

int PG_main(int argc, char** argv) {
  // Standard output carries the products: by default only warnings and
  // errors, which go to standard error, are shown.
  MESS_set(MESS_SET_DEFAULT, M_warn);
  HDR_start_settings(argc, argv, res_key.data(), HDR_res_pos,
                     "This program gets products out of data files through their header files;"
                     " exit status 0 a product was written, 1 none was chosen, 2 an error",
                     "PRODUCT GETTER", help_lines);
  bool ok = PG_set_patterns(RES_get("product"), RES_get("identifier"));
  ok = PG_set_output(RES_get("output")) && ok;
  if (!ok) return PG_ERROR;
  PAR_in_file_only("raw");  // a pattern never chooses the data type
  if (!start_files()) return PG_ERROR;
  const char* name = RES_get("out_file");
  FILE_ptr file;
  if (name != nullptr && !FILE_is_stdio(name)) {
    file.reset(FILE_open(name, "w"));
    PG_set_stream(file.get(), name);
    if (!file) output_failed();
  }
  int status = PG_file_loop();
  if (std::fflush(state.out) != 0 || (file && FILE_close(file.release()) != 0)) output_failed();
  PG_set_stream(stdout, "standard output");
  return status;
}

void PG_reset() { state = GetState(); }
