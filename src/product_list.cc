// The products of a data file: the data and header files opened, the
// walks of product_find.cc run, and what they find handed over.
#include "product_list.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>

#include "header_records.h"
#include "io.h"
#include "mess.h"
#include "product_find.h"
#include "prog.h"

namespace {

constexpr long kCopyBlock = 256 * 1024;  // data read at a time when bytes are read
constexpr long kScanBlock = 64 * 1024;   // ... when scanning
constexpr long kProbeBlock = 4 * 1024;   // ... when reading records here and there

const PROG_header_use kHeaderUse = {false, "scanning the data file"};

// Opens the header file of `data` for reading, named in `hdrname`; none,
// said, when there is none to use, as for data that cannot be read again
// (`seekable` false) to check records against.
FILE_fd open_header(const FILE_named& data, bool seekable, std::string& hdrname) {
  Outcome why;
  FILE_fd hfd;
  if (PROG_header_name(data, hdrname, kHeaderUse) && seekable) hfd = PROG_open_header(hdrname, why);
  if (hfd.get() >= 0) return hfd;
  if (hdrname.empty() || !seekable || why.error == ENOENT)
    MESS_print(M_mess, "No header file for %s, scanning the data file\n", data.name.c_str());
  else
    MESS_print(M_warn, "Unable to read header file: %s (%s), scanning the data file\n", hdrname.c_str(),
               why.reason());
  return hfd;
}

// The bytes of a stream copied to an unlinked temporary file, read back at
// their positions.
class Spooled : public hdr::ByteSource {
 public:
  // Copies what `from` gives; error() is the errno when that failed.
  explicit Spooled(hdr::ByteSource& from) : start_(from.start()), file_(std::tmpfile()) {
    if (!file_) {
      error_ = errno != 0 ? errno : EIO;
      return;
    }
    std::unique_ptr<char[]> block(new char[kCopyBlock]);
    for (long n; error_ == 0 && (n = from.read(block.get(), kCopyBlock, start_ + copied_)) != 0;) {
      if (n < 0 || !write_all(block.get(), n)) error_ = errno != 0 ? errno : EIO;
      else copied_ += n;
    }
  }
  int error() const { return error_; }
  bool seekable() const override { return true; }
  long start() const override { return start_; }
  long size() const override { return start_ + copied_; }
  long read(char* to, size_t size, long at) override {
    long n;
    while ((n = IO_pread(fileno(file_.get()), to, size, at - start_)) < 0 && errno == EINTR) {
    }
    return n;
  }

 private:
  bool write_all(const char* p, long n) {
    while (n > 0) {
      long w = ::write(fileno(file_.get()), p, static_cast<size_t>(n));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) return false;
      p += w;
      n -= w;
    }
    return true;
  }

  long start_;
  FILE_ptr file_;
  long copied_ = 0;
  int error_ = 0;
};

// The bytes [from, to) of the data, read in blocks.
class SourceText : public PL_text {
 public:
  SourceText(hdr::DataSource& src, long block, long from, long to)
      : src_(src), block_(block), from_(from), to_(to) {}
  bool read(const std::function<bool(std::string_view)>& piece) override {
    for (long p = from_; p < to_;) {
      src_.need(p, std::min(to_, p + block_));
      long n = std::min(to_, src_.hi()) - p;
      if (n <= 0 || src_.lo() > p) {
        // A stream has passed them, unless they were not asked for.
        cut_ = src_.seekable();
        return false;
      }
      if (!piece(std::string_view(src_.at(p), n))) return false;
      p += n;
    }
    return true;
  }
  // The data ended before the bytes.
  bool cut() const { return cut_; }

 private:
  hdr::DataSource& src_;
  long block_;
  long from_, to_;
  bool cut_ = false;
};

// Hands the products the walks find over to the caller's function, and
// keeps the bytes of the pending product in the buffer while they fit, so
// that they need not be read again.
class Handing : public pg::ProductSink {
 public:
  Handing(hdr::DataSource& src, long block, bool text, const PL_each& each)
      : src_(src), block_(block), text_(text), each_(each) {}
  void begin(const pg::Product& p) override {
    holding_ = text_;
    held_ = p.first;
  }
  void end(const pg::Product& p, long end) override {
    holding_ = false;
    if (stop_) return;
    hdr::RecordParts r;
    hdr::split_record(p.record, r);
    out_.first = p.first;
    out_.last = end - 1;
    out_.offset = p.pos;
    out_.heading.assign(r.heading);
    out_.id.assign(r.id);
    out_.record = p.record;
    SourceText text(src_, block_, p.first, end);
    stop_ = !each_(out_, text) || text.cut();
    cut_ = cut_ || text.cut();
    ++handed_;
  }
  void drop() override { holding_ = false; }
  long keep(long keep, long upto) override {
    return holding_ && held_ < keep && upto - held_ <= block_ + hdr::kLookahead ? held_ : keep;
  }
  bool stopped() const override { return stop_; }

  long handed() const { return handed_; }
  bool cut() const { return cut_; }

 private:
  hdr::DataSource& src_;
  long block_;
  bool text_;
  const PL_each& each_;
  PL_product out_;
  bool holding_ = false;  // the pending product's bytes are kept from held_
  long held_ = 0;
  bool stop_ = false;
  bool cut_ = false;
  long handed_ = 0;
};

Outcome unreadable(const std::string& name, int err) {
  MESS_print(M_error, "Unable to read file: %s (%s)\n", name.c_str(), std::strerror(err));
  return Outcome::failed(PL_UNREADABLE, err);
}

}  // namespace

Outcome PL_products(const FILE_named& data, const PL_request& request, const PL_each& each) {
  // A file that cannot be named cannot be read either (reported there).
  if (!data.named) return Outcome::failed(PL_UNREADABLE, ENOENT);
  // A series passes over the hours the feed sent nothing; a file asked
  // for by name is missed as grep misses it.
  FILE_ptr ifile;
  PROG_opened opened = PROG_open_data(data.name, ifile, {data.in_series ? M_mess : M_warn});
  if (opened == PROG_opened::missing) return Outcome::failed(PL_MISSING, ENOENT);
  if (opened != PROG_opened::open) return Outcome::failed(PL_UNREADABLE, EIO);
  hdr::FileBytes file(ifile.get());
  hdr::ByteSource* bytes = &file;
  std::optional<Spooled> spooled;
  if (request.text && !file.seekable()) {
    spooled.emplace(file);
    if (spooled->error() != 0) return unreadable(data.name, spooled->error());
    bytes = &*spooled;
  }
  std::string hdrname;
  FILE_fd hfd = open_header(data, file.seekable(), hdrname);
  // Text is copied in large reads; records alone are read here and there.
  long block = request.text ? kCopyBlock : hfd.get() >= 0 ? kProbeBlock : kScanBlock;
  hdr::DataSource src(*bytes, block);
  PAT_chooser every;
  const PAT_chooser& patterns = request.patterns != nullptr ? *request.patterns : every;
  Handing handing(src, block, request.text, each);
  const pg::FindOptions find{patterns, request.newest};
  pg::find_products(src, block, handing, hfd.get(), hdrname, find, data.name);
  if (src.error() != 0 || handing.cut()) return unreadable(data.name, src.error() != 0 ? src.error() : EIO);
  return Outcome::done(handing.handed());
}
