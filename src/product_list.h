// The products of a data file, for programs of one's own: the products
// that patterns choose, found through the data file's header file and
// checked against the data file as product_get finds and checks them (it
// stands on this call), handed over one by one with their bytes.
//
//   PAT_chooser patterns;
//   patterns.set("^SAUS70 KWBC", nullptr);
//   PL_products(data, {&patterns}, [](const PL_product& p, PL_text&) {
//     std::printf("%ld-%ld %s\n", p.first, p.last, p.heading.c_str());
//     return true;
//   });
//
// The data file comes as the naming gives it (FILE_get_next after
// RES_init and PAR_in_file, see kiv/files.h), and so does its header
// file's name. The header file is only read: its last record is checked
// as header_tool's resume checks it, every record used at its offset, and
// the bytes between a chosen product and the next record for a start the
// header lacks; products after its last record are scanned for. A header
// file that fails a check is not used: the data file is scanned instead,
// and no product is handed over twice. A product runs from its first byte
// to the next product's first byte or the end of the file; a
// start-of-heading file's last product counts only once it ends in the
// end-of-text byte 0x03.
//
// Module state: none.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "files.h"
#include "kiv.h"
#include "pattern.h"

// One chosen product of a data file.
struct PL_product {
  long first = 0;       // its first byte in the data file
  long last = 0;        // its last byte
  long offset = 0;      // its header record's offset
  std::string heading;  // the record's heading
  std::string id;       // the record's second line, without the blanks that pad it
  std::string record;   // the record line as a fresh index writes it
};

// The bytes of the product being handed over, to be read during that call.
class PL_text {
 public:
  virtual ~PL_text() = default;
  // Hands the product's bytes in order to `piece`, in pieces of at most
  // the block the data file is read in. False when the data file ended or
  // failed before them (PL_products then fails), or `piece` said false.
  virtual bool read(const std::function<bool(std::string_view piece)>& piece) = 0;
};

// Receives one chosen product; returns false when no more are wanted.
using PL_each = std::function<bool(const PL_product& product, PL_text& text)>;

namespace pg {
class Remote;
}

// What is asked of a data file.
struct PL_request {
  const PAT_chooser* patterns = nullptr;  // chooses the products; null: every one
  // More than 0: only the newest this many, newest first. The header file
  // is then read from its end, and only until they are found.
  long newest = 0;
  // The products' bytes are read: data that can only be read in order (a
  // pipe, a command) is copied to a temporary file first.
  bool text = false;
  // How http:// and https:// names are read: a run's connections and cache
  // of header files (null: a session and the default cache of this call's
  // own; product_get's run has one).
  pg::Remote* remote = nullptr;
};

// Failures of PL_products.
constexpr int PL_MISSING = 1;     // the data file does not exist
constexpr int PL_UNREADABLE = 2;  // it cannot be named, opened or read

// Hands the chosen products of the data file `data` to `each`, in the
// order of the file (or newest first), until it says false. Returns how
// many were handed over; PL_MISSING ("No data file %s", at level mess for
// a step of a num_hour series, a gap, else warn), or PL_UNREADABLE ("Unable
// to open file: %s (%s)" or "Unable to read file: %s (%s)" at level error;
// the products handed over before a failed read are right). Says at level
// mess "No header file for %s, scanning the data file", and at level warn
// "Header file does not match the data file: %s, scanning the data file"
// or "Unable to read header file: %s (%s), scanning the data file"; a
// start-of-heading file's last product without its end-of-text byte is
// left out, said "Last product of %s is not complete yet, left out: %s" at
// level mess, or warn when a pattern chose it. A data or header file named
// by an http:// or https:// URL is fetched from its server, only GET and
// HEAD requests: the header file through a cache of header files, of the
// data file only the bytes the chosen products and their checks need
// (a failed request is "Unable to read file: %s (%s)" with its reason; a
// server that ignores byte ranges is said once, "Server ignores byte
// ranges, reading whole data files: %s" at level warn).
Outcome PL_products(const FILE_named& data, const PL_request& request, const PL_each& each);
