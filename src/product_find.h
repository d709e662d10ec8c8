// product_get's finding of products: a data file's products found through
// its header file or by a scan, each checked as a fresh index finds it,
// and handed to a ProductSink (the library call's, which hands them
// over, or one that keeps the newest) with its first byte and its end. Nothing here is part of the library's
// interface.
//
// A product runs from its first byte to the next product's first byte.
// A record gives only its offset: the first byte is worked out backwards
// over the start's two lines (or, for long lines, found by the scanner
// from a line feed before them), and the record is confirmed by reading
// its lines forwards as a fresh scan does. The bytes between two checked
// records are taken to hold no other start. The header's last record is
// checked as the resume checks it, and what follows it is scanned.
#pragma once

#include <string>
#include <string_view>

#include "header_records.h"
#include "pattern.h"

namespace pg {

// The data bytes around a record's offset that the walks read to check it:
// from this far before it (a start's first byte lies at most its line and
// the line skipped after it, 80 characters each, before the offset) ...
constexpr long kRecordBefore = 2 * (hdr::kPiece + 1) + 2;
// ... to this far after it (room for the lines of the start).
constexpr long kRecordAfter = hdr::kLookahead + 2;
constexpr long kHeaderBlock = 256 * 1024;  // header bytes read at a time

// A product of the data file.
struct Product {
  long pos = 0;         // its record's offset
  long first = 0;       // its first byte
  long lines_end = 0;   // where the lines of its start end
  bool chosen = false;  // the patterns choose its record
  std::string record;   // its header record, for a chosen product
};

// Receives the chosen products the walks find, and has its say in what
// the data buffer keeps.
class ProductSink {
 public:
  virtual ~ProductSink() = default;
  // The chosen product `p` begins; end() or drop() follows.
  virtual void begin(const Product& p) = 0;
  // The chosen product `p` ends before `end`: it is [p.first, end).
  virtual void end(const Product& p, long end) = 0;
  // The chosen product that began will not end: it is left out.
  virtual void drop() = 0;
  // The first data byte to keep when a walk needs [keep, upto): `keep`,
  // or one before it that the sink still wants.
  virtual long keep(long keep, long upto) = 0;
  // Nothing more is wanted (its output failed): the walks stop.
  virtual bool stopped() const = 0;
};

// What the walks are asked for.
struct FindOptions {
  const PAT_chooser& patterns;  // chooses the products
  // More than 0: only the newest this many are handed on, newest first.
  long newest = 0;
};

// The products of one data file as the walks find them: the pending one
// (begun, its end not found yet), the start kind, and what was handed on.
class Finding {
 public:
  // `block`: the data bytes the source reads at a time.
  Finding(hdr::DataSource& src, ProductSink& sink, long block) : src_(src), sink_(sink), block_(block) {}
  hdr::DataSource& src() { return src_; }
  long block() const { return block_; }
  // The data file's start kind, once known.
  int kind = SCAN_START_NONE;

  // Makes the data bytes [keep, upto) available, and keeps what the sink wants.
  void need(long keep, long upto) { src_.need(sink_.keep(keep, upto), upto); }
  bool has_pending() const { return has_pending_; }
  const Product& pending() const { return pending_; }
  // A product begins (the one pending before must have ended).
  void begin(long pos, long first, long lines_end, bool chosen, std::string_view record);
  // The pending product ends before `end`.
  void finish(long end);
  // The pending product is given up: it is not handed on.
  void drop();
  // Chosen products before this byte were handed on whole.
  long covered() const { return covered_; }
  // How many chosen products were handed on whole.
  int handed_on() const { return handed_on_; }
  bool stopped() const { return sink_.stopped(); }

 private:
  hdr::DataSource& src_;
  ProductSink& sink_;
  long block_;
  Product pending_;
  bool has_pending_ = false;
  long covered_ = 0;
  int handed_on_ = 0;
};

// Where products begin in the data file, read as a fresh index reads it.
class Starts {
 public:
  explicit Starts(Finding& f) : f_(f), src_(f.src()) {}
  // Whether the record `line` stands at its offset `pos` as a fresh scan
  // takes it; gives its product's first byte and where its start's lines
  // end.
  bool check(long pos, std::string_view line, long& first, long& lines_end);
  // The first byte of the product whose record stands at `pos` and was
  // taken as `t`; -1 when it is not found. The bytes from kRecordBefore before
  // pos are available.
  long first_byte(long pos, const hdr::Taken& t);
  // Whether the scanner finds no start in [from, to), from where a start's
  // lines end: the product before `to` is whole, no record is missing from
  // the header there.
  bool none_between(long from, long to);
  // The first byte of the product that a scan found as `t` of kind `kind`.
  long start_byte(const hdr::Taken& t, int kind) const;
  // The position of the last line feed held in [from, to), or -1.
  long last_lf(long from, long to) const;

 private:
  long find_first(long pos);

  Finding& f_;
  hdr::DataSource& src_;
};

// A header file's last record, checked against the data file.
struct Tail {
  bool found = false;  // the header holds a record
  long begin = 0;      // where its line begins in the header file
  std::string record;  // its line, as a fresh scan writes it now
  Product product;     // its product's offset, first byte and lines' end
};

// The products through the header file: its last record is checked as the
// resume checks it, every record used at its offset, and the bytes between
// a chosen product and the next record for a start the header lacks. Each
// walk returns false after "Header file does not match the data file: %s,
// scanning the data file" or "Unable to read header file: %s (%s),
// scanning the data file" at level warn (nothing is said when the data
// file could not be read or the sink stopped).
class HeaderWalk {
 public:
  HeaderWalk(Finding& f, Starts& starts, const FindOptions& options)
      : f_(f), starts_(starts), options_(options) {}
  // Hands on the products of the records of the header file `fd` (named
  // `name` in warnings). True when it could be used to its last record:
  // the walk of the data file then goes on at `from`.
  bool walk(int fd, const std::string& name, long& from);
  // Reads and checks the last record of the header file `fd` into `tail`
  // (none found: the header holds no record), and sets the start kind.
  bool last(int fd, const std::string& name, Tail& tail);
  // Hands on the chosen products of the records before `tail`, read from
  // the header's end, the last first, until `want` are handed on. Sets
  // `earliest` to the first byte of each product handed on.
  bool walk_back(int fd, const std::string& name, const Tail& tail, long want, long& earliest);

 private:
  bool walk_records(int fd, long end, Outcome& unread);
  bool take_lines(std::string_view lines);
  bool take_record(std::string_view line, const Product* checked);
  bool mismatch(const std::string& name);
  bool unreadable(const std::string& name, const Outcome& read);

  Finding& f_;
  Starts& starts_;
  const FindOptions& options_;
};

// The products from a position on, found by the scanner's own start
// finder, run in chunks that end where a piece of a line begins, so that
// the bytes it passed are still in the buffer when they are handed on.
class DataWalk {
 public:
  // `name`: the data file's, for messages.
  DataWalk(Finding& f, Starts& starts, const FindOptions& options, const std::string& name)
      : f_(f), src_(f.src()), starts_(starts), options_(options), name_(name) {}
  // Walks from `p` (where a scan begins or a start's lines end) to the end
  // of the data file as it was when opened. A start-of-heading file's last
  // product without its end-of-text byte is left out (not when the bytes
  // are a pipe's, whose end is the end): "Last product of %s is not
  // complete yet, left out: %s" at level mess, or warn when a pattern
  // chose it.
  void walk(long p);

 private:
  bool next_start(long& p, hdr::Taken& t, int& kind);
  void end_of_data();
  long chunk_end(long p, long lim) const;
  bool ends_with_etx(long end);

  Finding& f_;
  hdr::DataSource& src_;
  Starts& starts_;
  const FindOptions& options_;
  const std::string& name_;
};

// Finds the chosen products of the data file in `src` (read `block` bytes
// at a time): through the header file `hfd` named `hname` when it is one
// (hfd -1: none) and can be used, else by a scan; hands them to `sink`, in
// the order of the file or, for options.newest, the newest first. Returns
// how many chosen products were handed on whole.
int find_products(hdr::DataSource& src, long block, ProductSink& sink, int hfd, const std::string& hname,
                  const FindOptions& options, const std::string& name);

}  // namespace pg
