// product_get's finding of products: the walks through the header file and
// through the data file, and the checks of where products begin.
#include "product_find.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <deque>
#include <utility>

#include "io.h"
#include "mess.h"

namespace pg {

namespace {

constexpr char kSOH = '\x01';
constexpr char kETX = '\x03';

}  // namespace

// ---- Finding -----------------------------------------------------------------

void Finding::begin(long pos, long first, long lines_end, bool chosen, std::string_view record) {
  pending_.pos = pos;
  pending_.first = first;
  pending_.lines_end = lines_end;
  pending_.chosen = chosen;
  has_pending_ = true;
  if (!chosen) return;
  pending_.record.assign(record);
  sink_.begin(pending_);
}

void Finding::finish(long end) {
  has_pending_ = false;
  if (!pending_.chosen) return;
  ++handed_on_;
  covered_ = end;
  sink_.end(pending_, end);
}

void Finding::drop() {
  if (has_pending_ && pending_.chosen) sink_.drop();
  has_pending_ = false;
}

// ---- Starts ------------------------------------------------------------------

bool Starts::check(long pos, std::string_view line, long& first, long& lines_end) {
  if (pos < src_.first()) return false;
  // One byte more than a start's lines need: a search that ends at the
  // first byte then reads nothing more.
  f_.need(std::max(src_.first(), pos - kRecordBefore), pos + kRecordAfter);
  hdr::Taken t = hdr::record_at(src_, pos, f_.kind);
  if (!t.complete) return false;
  char fresh[hdr::kMaxRecord + hdr::kSlack];
  char* end = hdr::format_record(fresh, pos, t.heading, t.id);
  if (line != std::string_view(fresh, end - fresh)) return false;
  first = first_byte(pos, t);
  lines_end = t.next;
  return first >= 0;
}

long Starts::first_byte(long pos, const hdr::Taken& t) {
  if (f_.kind == SCAN_START_STARS)  // its "** " piece, after a line feed or at the start
    return t.piece == pos + 1 || t.piece == 0 ? t.piece : find_first(pos);
  // The line skipped after the start's line ends at pos, and the start's
  // line at the line feed before; each is at most one piece.
  long lo = src_.first();
  if (src_.lo() > std::max(lo, pos - kRecordBefore)) return -1;  // not read: a read failed
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

// The first byte of the product whose record stands at `pos`, found by the
// scanner from a line feed before any place where its start can begin; -1
// when there is none within a block.
long Starts::find_first(long pos) {
  long lo = std::max(src_.first(), pos - f_.block() + kRecordBefore);
  f_.need(lo, pos + hdr::kLookahead);
  if (src_.lo() > lo) return -1;  // not read: a read failed
  long from = last_lf(lo, pos - kRecordBefore);
  if (from < 0 && lo != src_.first()) return -1;
  hdr::StartFinder finder(src_, from < 0 ? lo : from, f_.kind, pos + 1);
  hdr::Taken t;
  int kind;
  while ((kind = finder.next(t)) != SCAN_START_NONE && t.complete && t.pos <= pos)
    if (t.pos == pos) return start_byte(t, kind);
  return -1;
}

bool Starts::none_between(long from, long to) {
  if (from >= to) return true;
  // Most products hold no byte a start needs.
  if (to - from <= f_.block()) {
    f_.need(from, to);
    char key = f_.kind == SCAN_START_SOH ? kSOH : '*';
    if (to <= src_.hi() && std::memchr(src_.at(from), key, to - from) == nullptr) return true;
  }
  hdr::Taken t;
  return hdr::StartFinder(src_, from, f_.kind, to).next(t) == SCAN_START_NONE;
}

long Starts::last_lf(long from, long to) const {
  from = std::max(from, src_.lo());
  to = std::min(to, src_.hi());
  if (to <= from) return -1;
  size_t at = std::string_view(src_.at(from), to - from).rfind('\n');
  return at == std::string_view::npos ? -1 : from + static_cast<long>(at);
}

long Starts::start_byte(const hdr::Taken& t, int kind) const {
  // Its 0x01 (in the first or second place of its piece) or the first '*'.
  return kind == SCAN_START_SOH && src_.byte(t.piece) != kSOH ? t.piece + 1 : t.piece;
}

// ---- Through the header file --------------------------------------------------

bool HeaderWalk::walk(int fd, const std::string& name, long& from) {
  Tail tail;
  if (!last(fd, name, tail)) return false;
  if (!tail.found) return true;  // no record yet: everything follows the last one
  Outcome read;
  if (!walk_records(fd, tail.begin, read)) return read.ok() ? mismatch(name) : unreadable(name, read);
  if (!take_record(tail.record, &tail.product)) return mismatch(name);
  from = tail.product.lines_end;
  return true;
}

bool HeaderWalk::last(int fd, const std::string& name, Tail& tail) {
  struct stat st {};
  hdr::LastLine last;
  Outcome read = IO_fstat(fd, &st) != 0 ? Outcome::failed(hdr::kUnread, errno)
                                        : hdr::read_last_record(fd, st.st_size, last);
  if (!read.ok()) return unreadable(name, read);
  if (!last.found) return true;
  hdr::DataSource& src = f_.src();
  hdr::RecordMatch m = hdr::match_record(src, last.text);
  if (!m.found) return mismatch(name);
  f_.kind = m.type;
  tail.found = true;
  tail.begin = last.begin;
  // An early view stands for the record a fresh scan writes now.
  tail.record = m.early ? hdr::format_record(m.offset, m.taken.heading, m.taken.id) : last.text;
  tail.product.pos = m.offset;
  tail.product.lines_end = m.taken.next;
  f_.need(std::max(src.first(), m.offset - kRecordBefore), m.offset + hdr::kLookahead);
  tail.product.first = starts_.first_byte(m.offset, m.taken);
  return tail.product.first >= 0 || mismatch(name);
}

bool HeaderWalk::walk_back(int fd, const std::string& name, const Tail& tail, long want, long& earliest) {
  hdr::HeaderBackReader reader(fd, tail.begin, kHeaderBlock);
  Product later = tail.product;  // the product of the record after the line
  bool later_checked = true;
  std::string later_line;  // ... its line, until it is checked
  std::string_view line;
  while (f_.handed_on() < want && !f_.stopped() && reader.prev_line(line)) {
    hdr::RecordParts r;
    bool wanted = options_.patterns.may_choose(line);
    if (wanted && !hdr::split_record(line, r)) return mismatch(name);
    if (!wanted || !options_.patterns.chosen(r.heading, r.id)) {
      later_line.assign(line);
      later_checked = false;
      continue;
    }
    long first = 0, lines_end = 0;
    if (!starts_.check(r.offset, line, first, lines_end)) return mismatch(name);
    if (!later_checked) {
      hdr::RecordParts next;
      if (!hdr::split_record(later_line, next) ||
          !starts_.check(next.offset, later_line, later.first, later.lines_end))
        return mismatch(name);
      later.pos = next.offset;
    }
    if (later.pos <= r.offset || later.first < lines_end || !starts_.none_between(lines_end, later.first))
      return mismatch(name);
    f_.begin(r.offset, first, lines_end, true, line);
    f_.finish(later.first);
    earliest = first;
    later.pos = r.offset;
    later.first = first;
    later.lines_end = lines_end;
    later_checked = true;
  }
  if (!reader.outcome().ok()) return unreadable(name, reader.outcome());
  return !reader.too_long() || mismatch(name);
}

bool HeaderWalk::unreadable(const std::string& name, const Outcome& read) {
  MESS_print(M_warn, "Unable to read header file: %s (%s), scanning the data file\n", name.c_str(),
             read.reason());
  return false;
}

bool HeaderWalk::mismatch(const std::string& name) {
  if (f_.src().error() == 0 && !f_.stopped())
    MESS_print(M_warn, "Header file does not match the data file: %s, scanning the data file\n",
               name.c_str());
  return false;
}

// Takes the header lines in [0, end), which ends after a line feed. False
// when a line used does not fit the data file, or (`unread` set) when the
// header could not be read.
bool HeaderWalk::walk_records(int fd, long end, Outcome& unread) {
  hdr::HeaderReader reader(fd, end, kHeaderBlock);
  for (std::string_view lines; !(lines = reader.whole_lines()).empty();)
    if (f_.stopped() || !take_lines(lines)) return false;
  hdr::HeaderLine longer;  // than any record: no header file of ours
  bool more = reader.next_line(longer);
  unread = reader.outcome();
  return unread.ok() && !more;
}

// Takes the lines of `lines`, each ended by its line feed: with a pattern
// only those where its text stands, and the one after a chosen product,
// which ends it.
bool HeaderWalk::take_lines(std::string_view lines) {
  const char* p = lines.data();
  const char* end = p + lines.size();
  while (p < end) {
    const char* line = f_.has_pending() ? p : options_.patterns.next_line(p, end);
    if (line == end) return true;
    const char* lf = static_cast<const char*>(std::memchr(line, '\n', end - line));
    if (!take_record(std::string_view(line, lf - line), nullptr)) return false;
    p = lf + 1;
  }
  return true;
}

// Takes one header record: it ends the pending product and, when chosen,
// becomes the pending one. `checked` is the record already checked against
// the data file, if it was. False when the record does not fit the data
// file or the record before it.
bool HeaderWalk::take_record(std::string_view line, const Product* checked) {
  hdr::RecordParts r;
  if (!hdr::split_record(line, r)) return false;
  bool wanted = options_.patterns.chosen(r.heading, r.id);
  if (!wanted && !f_.has_pending()) return true;
  long first = 0, lines_end = 0;
  if (checked != nullptr) first = checked->first, lines_end = checked->lines_end;
  else if (!starts_.check(r.offset, line, first, lines_end)) return false;
  if (f_.has_pending()) {
    const Product& p = f_.pending();
    if (r.offset <= p.pos || first < p.lines_end) return false;
    if (!starts_.none_between(p.lines_end, first)) return false;
    f_.finish(first);
  }
  if (wanted) f_.begin(r.offset, first, lines_end, true, line);
  return true;
}

// ---- Through the data file ----------------------------------------------------

void DataWalk::walk(long p) {
  hdr::Taken t;
  int kind;
  while (!f_.stopped() && next_start(p, t, kind)) {
    f_.kind = kind;
    long first = starts_.start_byte(t, kind);
    // Its record first: the pending product handed on may read its bytes
    // and move the buffer that the start's fields point into.
    char line[hdr::kMaxRecord + hdr::kSlack];
    std::string_view record(line, t.complete ? hdr::format_record(line, t.pos, t.heading, t.id) - line : 0);
    if (f_.has_pending()) f_.finish(first);
    if (!t.complete) return;  // a start the feed is writing: no product yet
    if (first >= f_.covered()) {
      hdr::RecordParts r;
      bool chosen = hdr::split_record(record, r) && options_.patterns.chosen(r.heading, r.id);
      f_.begin(t.pos, first, t.next, chosen, record);
    }
    p = t.next;
  }
  end_of_data();
}

// Finds the next start from `p` into `t` (and `kind`), chunk by chunk,
// within the data file as it was when opened; false at its end.
bool DataWalk::next_start(long& p, hdr::Taken& t, int& kind) {
  bool seekable = src_.seekable();
  for (;;) {
    long keep = std::max(src_.first(), p - 1);
    // Enough for a chunk past p: the buffer is filled again once a block,
    // when little is left, not after every product.
    f_.need(keep, keep + 2 * hdr::kLookahead);
    // A file that grows on is read only as far as it was.
    bool at_end = src_.eof() || (seekable && src_.hi() > src_.size() + hdr::kLookahead);
    long hi = seekable ? std::min(src_.hi(), src_.size()) : src_.hi();
    long stop = at_end ? hi : chunk_end(p, src_.hi() - hdr::kLookahead - 1);
    kind = p < stop ? hdr::StartFinder(src_, p, f_.kind, stop).next(t) : SCAN_START_NONE;
    if (kind != SCAN_START_NONE) return true;
    if (at_end || stop <= p) return false;
    p = stop;
  }
}

// The walk reached the end of the data: the pending product ends there,
// unless it is not complete yet.
void DataWalk::end_of_data() {
  if (!f_.has_pending()) return;
  // A product cut short by a failed read is no product.
  if (src_.error() != 0 || f_.stopped()) return f_.drop();
  long end = src_.seekable() ? std::min(src_.hi(), src_.size()) : src_.hi();
  // The feed is still writing a start-of-heading product of a file that
  // has no end-of-text byte.
  if (!src_.is_file() || f_.kind != SCAN_START_SOH || ends_with_etx(end)) return f_.finish(end);
  const Product& p = f_.pending();
  // Said louder when the user's pattern asked for it.
  if (p.chosen)
    MESS_print(options_.patterns.any() ? M_warn : M_mess, "Last product of %s is not complete yet, left out: %.*s\n",
               name_.c_str(), static_cast<int>(p.record.find_last_not_of(' ') + 1), p.record.data());
  f_.drop();
}

// Where a chunk of the walk from `p` ends, at most at `lim`: at a line
// feed, or where a piece of a long line begins, so that a scan from there
// goes on as one from the start would.
long DataWalk::chunk_end(long p, long lim) const {
  long lf = starts_.last_lf(p + 1, lim);
  if (lf >= 0) return lf;
  long origin = src_.byte(p) == '\n' ? p + 1 : p;
  return origin + (lim - origin) / hdr::kPiece * hdr::kPiece;
}

// Whether the last byte before `end` other than carriage returns and line
// feeds is the end-of-text byte.
bool DataWalk::ends_with_etx(long end) {
  for (long p = end; p > src_.first();) {
    long from = std::max(src_.first(), p - 64);
    f_.need(from, p);
    for (long q = std::min(p, src_.hi()); q > std::max(from, src_.lo()); --q) {
      char c = src_.byte(q - 1);
      if (c != '\r' && c != '\n') return c == kETX;
    }
    if (src_.lo() > from) return false;  // a stream holds no more before
    p = from;
  }
  return false;
}

// ---- The coordinator ----------------------------------------------------------

namespace {

// Keeps the last products handed to it, of those that begin before a
// byte, and hands them on to another sink, the last first.
class Newest : public ProductSink {
 public:
  // Keeps at most `want` products that begin before `before`; the walks
  // stop at a chosen product that does not.
  Newest(ProductSink& out, long want, long before = LONG_MAX) : out_(out), want_(want), before_(before) {}
  void begin(const Product& p) override { beyond_ = p.first >= before_; }
  void end(const Product& p, long end) override {
    kept_.push_back({p, end});
    if (static_cast<long>(kept_.size()) > want_) kept_.pop_front();
  }
  void drop() override {}
  long keep(long keep, long) override { return keep; }
  bool stopped() const override { return beyond_ || out_.stopped(); }

  // Hands the products kept on, the last first; returns how many, and
  // sets `earliest` to the first byte of the last one handed on.
  long hand_on(long& earliest) {
    long handed = 0;
    for (; !kept_.empty() && !out_.stopped(); kept_.pop_back(), ++handed) {
      const auto& [p, end] = kept_.back();
      out_.begin(p);
      out_.end(p, end);
      earliest = p.first;
    }
    return handed;
  }

 private:
  ProductSink& out_;
  long want_;
  long before_;
  bool beyond_ = false;
  std::deque<std::pair<Product, long>> kept_;
};

// Scans the data file in `src` from `from` into `newest`, with `pending`
// (a product found before, that a start there ends) first; `kind` is the
// file's start kind when known.
void scan_into(Newest& newest, hdr::DataSource& src, long block, const FindOptions& options,
               const std::string& name, long from, const Tail* pending, int kind) {
  Finding f(src, newest, block);
  Starts starts(f);
  f.kind = kind;
  if (pending != nullptr) {
    hdr::RecordParts r;
    const Product& p = pending->product;
    bool chosen = hdr::split_record(pending->record, r) && options.patterns.chosen(r.heading, r.id);
    f.begin(p.pos, p.first, p.lines_end, chosen, pending->record);
  }
  DataWalk(f, starts, options, name).walk(from);
}

// The newest products: those after the header's last record by a scan,
// then the records from the header's end, until enough are handed on; a
// header that fails a check leaves the products before the earliest one
// handed on to a scan of the whole data file.
int find_newest(hdr::DataSource& src, long block, ProductSink& sink, int hfd, const std::string& hname,
                const FindOptions& options, const std::string& name) {
  long want = options.newest;
  long earliest = LONG_MAX;
  Finding back(src, sink, block);
  Starts starts(back);
  HeaderWalk header(back, starts, options);
  Tail tail;
  long handed = 0;
  if (hfd >= 0 && header.last(hfd, hname, tail)) {
    Newest after(sink, want);
    scan_into(after, src, block, options, name, tail.found ? tail.product.lines_end : src.first(),
              tail.found ? &tail : nullptr, back.kind);
    handed = after.hand_on(earliest);
    if (!tail.found || handed == want || header.walk_back(hfd, hname, tail, want - handed, earliest))
      return static_cast<int>(handed + back.handed_on());
    handed += back.handed_on();
  }
  if (src.error() != 0 || sink.stopped()) return static_cast<int>(handed);
  Newest before(sink, want - handed, earliest);
  scan_into(before, src, block, options, name, src.first(), nullptr, SCAN_START_NONE);
  return static_cast<int>(handed + before.hand_on(earliest));
}

}  // namespace

int find_products(hdr::DataSource& src, long block, ProductSink& sink, int hfd, const std::string& hname,
                  const FindOptions& options, const std::string& name) {
  if (options.newest > 0) return find_newest(src, block, sink, hfd, hname, options, name);
  Finding f(src, sink, block);
  Starts starts(f);
  long from = src.first();
  if (hfd >= 0 && !HeaderWalk(f, starts, options).walk(hfd, hname, from)) {
    f.drop();  // the data file is scanned instead, from its start
    f.kind = SCAN_START_NONE;
    from = src.first();
  }
  if (!f.stopped()) DataWalk(f, starts, options, name).walk(from);
  return f.handed_on();
}

}  // namespace pg
