// product_get's writer of products: what it writes of each chosen product
// that PL_products hands over. Nothing here is part of the library's
// interface.
#pragma once

#include <cstdio>
#include <string>

#include "files.h"
#include "product_get.h"
#include "product_list.h"

namespace pg {

// Writes the chosen products of one data file to `out`: their bytes
// (text), their text to read (plain), their records (list), their byte
// ranges (ranges) or JSON objects (json, json_text). Small writes are
// gathered into large ones; after a failed write nothing more is written.
class Writer {
 public:
  // `data`: the data file, whose name is written and whose date (with the
  // file period `period`, seconds) dates headings; `run` counts the
  // products written.
  Writer(PG_output kind, FILE* out, const FILE_named& data, long period, PG_run& run)
      : kind_(kind), out_(out), data_(data), period_(period), run_(run) {}

  // Writes the product `p`, reading its bytes from `text` as the kind
  // needs; false after a failed write.
  bool write(const PL_product& p, PL_text& text);
  // Writes what is gathered; false after a failed write.
  bool flush();
  // The errno of the failed write, or 0.
  int error() const { return error_; }

 private:
  void plain(PL_text& text);
  void json(const PL_product& p, PL_text& text);
  bool put(const char* data, size_t size);
  bool put(std::string_view s) { return put(s.data(), s.size()); }

  PG_output kind_;
  FILE* out_;
  const FILE_named& data_;
  long period_;
  PG_run& run_;
  std::string held_;  // gathered, not written yet
  int error_ = 0;
};

}  // namespace pg
