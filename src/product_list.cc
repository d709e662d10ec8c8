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
#include "product_remote.h"
#include "prog.h"

namespace {

constexpr long kCopyBlock = 256 * 1024;  // data read at a time when bytes are read
constexpr long kScanBlock = 64 * 1024;   // ... when scanning
constexpr long kProbeBlock = 4 * 1024;   // ... when reading records here and there

const PROG_header_use kHeaderUse = {false, "scanning the data file"};

// Opens the header file of `data` for reading (a remote one through the
// cache of `remote`), named in `hdrname`; none, said, when there is none
// to use, as for data that cannot be read again (`seekable` false) to
// check records against.
FILE_fd open_header(const FILE_named& data, bool seekable, pg::Remote* remote, std::string& hdrname) {
  pg::HeaderOpened h;
  h.missing = !PROG_header_name(data, hdrname, kHeaderUse) || !seekable;
  if (!h.missing) h = pg::open_header_file(remote, hdrname);
  if (h.fd.get() < 0) pg::say_header_unused(data, hdrname, h);
  return std::move(h.fd);
}

// Bytes of the pending product that left the data buffer of a file read in
// order, which does not come back: put aside in an unnamed temporary file
// until the product ends.
class Aside {
 public:
  // Puts the bytes [from, to) of `src`, which it holds, aside; false when
  // they cannot be written (error() says why).
  bool put(const hdr::DataSource& src, long from, long to) {
    if (fd_.get() < 0) fd_ = FILE_fd(FILE_open_temp());
    if (fd_.get() >= 0 && FILE_write_at(fd_.get(), src.at(from), to - from, size_)) {
      size_ += to - from;
      return true;
    }
    error_ = errno != 0 ? errno : EIO;
    return false;
  }
  // Hands what was put aside to `piece` in pieces of at most `block` bytes.
  bool read(long block, const std::function<bool(std::string_view)>& piece) {
    std::string buf(static_cast<size_t>(std::min(size_, block)), '\0');
    for (long at = 0, n; at < size_; at += n) {
      n = std::min(size_ - at, static_cast<long>(buf.size()));
      if ((error_ = IO_read_whole(fd_.get(), buf.data(), n, at)) != 0) return false;
      if (!piece(std::string_view(buf.data(), n))) return false;
    }
    return true;
  }
  void clear() { size_ = 0; }
  long size() const { return size_; }
  int error() const { return error_; }

 private:
  FILE_fd fd_;
  long size_ = 0;
  int error_ = 0;
};

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
  // Still a pipe's bytes, which ended where they ended.
  bool is_file() const override { return false; }
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

// The bytes [from, to) of the data, read in blocks: those put aside
// first, then the rest.
class SourceText : public PL_text {
 public:
  SourceText(hdr::DataSource& src, long block, long from, long to, Aside& aside)
      : src_(src), block_(block), from_(from), to_(to), aside_(aside) {}
  bool read(const std::function<bool(std::string_view)>& piece) override {
    if (!aside_.read(block_, piece)) return !(cut_ = aside_.error() != 0);
    for (long p = from_ + aside_.size(); p < to_;) {
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
  Aside& aside_;
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
    aside_.clear();
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
    SourceText text(src_, block_, p.first, end, aside_);
    stop_ = !each_(out_, text) || text.cut();
    cut_ = cut_ || text.cut();
    ++handed_;
  }
  void drop() override { holding_ = false; }
  long keep(long keep, long upto) override {
    if (!holding_ || held_ >= keep) return keep;
    if (upto - held_ <= block_ + hdr::kLookahead) return held_;
    // A file read in order does not come back.
    if (!src_.seekable() && !aside_.put(src_, held_, keep)) cut_ = stop_ = true;
    if (!src_.seekable()) held_ = keep;
    return keep;
  }
  bool stopped() const override { return stop_; }

  long handed() const { return handed_; }
  bool cut() const { return cut_; }
  // The errno of what cut the data short, when it was a call of its own.
  int error() const { return aside_.error(); }

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
  Aside aside_;  // of a file read in order
};

Outcome unreadable(const std::string& name, const std::string& reason) {
  MESS_print(M_error, "Unable to read file: %s (%s)\n", name.c_str(), reason.c_str());
  return Outcome::failed(PL_UNREADABLE, EIO);
}

// Finds the products of the data file `data` in `bytes`, through the
// header file `hfd` (-1: none) named `hdrname`, and hands them over. A
// failed read is said with `why` of its errno.
Outcome hand_over(hdr::ByteSource& bytes, int hfd, const std::string& hdrname, const FILE_named& data,
                  const PL_request& request, const PL_each& each, const std::function<std::string(int)>& why) {
  // Text is copied in large reads; records alone are read here and there.
  long block = request.text ? kCopyBlock : hfd >= 0 ? kProbeBlock : kScanBlock;
  hdr::DataSource src(bytes, block);
  PAT_chooser every;
  const PAT_chooser& patterns = request.patterns != nullptr ? *request.patterns : every;
  Handing handing(src, block, request.text, each);
  const pg::FindOptions find{patterns, request.newest};
  pg::find_products(src, block, handing, hfd, hdrname, find, data.name);
  int err = src.error() != 0 ? src.error() : handing.error() != 0 ? handing.error() : EIO;
  if (src.error() != 0 || handing.cut()) return unreadable(data.name, why(err));
  return Outcome::done(handing.handed());
}

std::string system_reason(int err) { return std::strerror(err); }

// PL_products of a data file named by a URL.
Outcome remote_products(const FILE_named& data, const PL_request& request, const PL_each& each) {
  std::unique_ptr<pg::Remote> own;
  PAT_chooser every;
  pg::RemoteData remote(pg::remote_or_own(request.remote, own), data,
                        request.patterns != nullptr ? *request.patterns : every, request.newest);
  Outcome opened = remote.open();
  if (!opened.ok()) return opened;
  return hand_over(remote.bytes(), remote.header(), remote.header_name(), data, request, each, [&](int err) {
    std::string failure = remote.failure();
    return failure.empty() ? system_reason(err) : failure;
  });
}

}  // namespace

Outcome PL_products(const FILE_named& data, const PL_request& request, const PL_each& each) {
  // A file that cannot be named cannot be read either (reported there).
  if (!data.named) return Outcome::failed(PL_UNREADABLE, ENOENT);
  if (HTTP_is_url(data.name)) return remote_products(data, request, each);
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
    if (spooled->error() != 0) return unreadable(data.name, system_reason(spooled->error()));
    bytes = &*spooled;
  }
  std::string hdrname;
  FILE_fd hfd = open_header(data, file.seekable(), request.remote, hdrname);
  return hand_over(*bytes, hfd.get(), hdrname, data, request, each, system_reason);
}
