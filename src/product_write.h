// product_get's writer of products: what it writes of each chosen product
// of one data file, and what of the data it keeps in the buffer for that.
// Nothing here is part of the library's interface.
#pragma once

#include <cstdio>
#include <string>

#include "files.h"
#include "product_find.h"
#include "product_get.h"

namespace pg {

// The data bytes read at a time for `output`: large reads when products
// are copied, small ones when records alone are read here and there
// through a header file (`through_header`), else what the scanner suits.
long data_block(PG_output output, bool through_header);

// The failures of a Writer's outcome.
constexpr int kWriteFailed = 1;  // the output could not be written
constexpr int kDataCut = 2;      // the data file ended before a product's bytes

// Writes the chosen products of one data file to `out`: their bytes
// (text), their records (list) or their byte ranges (ranges). Bytes are
// written straight from the data buffer, and byte ranges that follow each
// other are gathered into one write while they fit in it; the bytes of the
// pending product are kept in the buffer while they fit, so that they need
// not be read again. From a file read as a stream, whose last product may
// turn out not to be complete, the bytes of the pending product that leave
// the buffer are put aside in an unnamed temporary file until its end is
// found. After a failed write nothing more is written.
class Writer : public ProductSink {
 public:
  // `block`: the data bytes `src` reads at a time; `name`: the data
  // file's, as written in lists and ranges.
  Writer(hdr::DataSource& src, long block, PG_output kind, FILE* out, const std::string& name)
      : src_(src), block_(block), kind_(kind), out_(out), name_(name), hold_(!src.seekable() && src.is_file()) {}

  void begin(const Product& p) override;
  void end(const Product& p, long end) override;
  void drop() override {
    copying_ = false;
    aside_size_ = 0;
  }
  void pass(long stop) override;
  long keep(long keep, long upto) override;
  bool stopped() const override { return write_error_ != 0; }

  // Writes what is gathered.
  void flush();
  // ok; kWriteFailed with the reason; or kDataCut when the data file ended
  // before bytes to be written were read (EIO), or bytes could not be put
  // aside (the reason).
  Outcome outcome() const;

 private:
  bool text(long from, long to);
  bool write_gathered();
  bool put_aside(long from, long to);
  bool write_aside();
  void put(const char* data, size_t size);
  // Where the gathered bytes begin, which the buffer must keep; LONG_MAX
  // when there are none.
  long held() const { return to_ > from_ ? from_ : LONG_MAX; }

  hdr::DataSource& src_;
  long block_;
  PG_output kind_;
  FILE* out_;
  const std::string& name_;
  long from_ = 0, to_ = 0;  // the bytes gathered for one write
  bool copying_ = false;    // a chosen product's bytes are being written
  long written_ = 0;        // ... those before this byte are
  bool cut_ = false;        // the data ended before bytes to be written
  int write_error_ = 0;
  bool hold_;               // the pending product's bytes are put aside
  FILE_fd aside_;           // ... into this file, once needed
  long aside_size_ = 0;     // ... this many of them
  int aside_error_ = 0;
};

}  // namespace pg
