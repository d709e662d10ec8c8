// product_get's writer of products.
#include "product_write.h"

#include <cerrno>
#include <climits>

#include "io.h"

namespace pg {

long data_block(PG_output output, bool through_header) {
  if (output == PG_output::text) return 256 * 1024;
  return through_header ? 4 * 1024 : 64 * 1024;
}

void Writer::begin(const Product& p) {
  copying_ = kind_ == PG_output::text;
  written_ = p.first;
}

void Writer::end(const Product& p, long end) {
  copying_ = false;
  switch (kind_) {
    case PG_output::text:
      if (!write_aside() || !text(written_, end)) cut_ = true;
      break;
    case PG_output::list:
      put(name_.data(), name_.size());
      put(":", 1);
      put(p.record.data(), p.record.size());
      put("\n", 1);
      break;
    case PG_output::ranges: {
      char range[64];
      int n = std::snprintf(range, sizeof range, " %ld-%ld\n", p.first, end - 1);
      put(name_.data(), name_.size());
      put(range, static_cast<size_t>(n));
      break;
    }
  }
}

void Writer::pass(long stop) {
  if (!copying_) return;
  if (!(hold_ ? put_aside(written_, stop) : text(written_, stop))) cut_ = true;
  written_ = stop;
}

long Writer::keep(long keep, long upto) {
  // Before the buffer is filled again, what is gathered is written.
  long room = block_ + hdr::kLookahead;
  bool refill = keep > src_.hi() || (upto > src_.hi() && !src_.eof());
  long held_from = held();
  if (held_from < keep && (refill || upto - held_from > room) && !write_gathered()) cut_ = true;
  long want = std::min(keep, held());
  if (copying_ && written_ < want && upto - written_ <= room) want = written_;
  return want;
}

void Writer::flush() {
  if (!write_gathered()) cut_ = true;
}

Outcome Writer::outcome() const {
  if (write_error_ != 0) return Outcome::failed(kWriteFailed, write_error_);
  if (cut_) return Outcome::failed(kDataCut, aside_error_ != 0 ? aside_error_ : EIO);
  return {};
}

// Writes the data bytes [from, to), gathered with those before when they
// follow them; false when the data file ended first.
bool Writer::text(long from, long to) {
  if (to <= from) return true;
  if (to_ > from_ && from == to_ && to - from_ <= block_) {
    to_ = to;
    return true;
  }
  if (!write_gathered()) return false;
  from_ = from;
  to_ = to;
  return to - from <= block_ || write_gathered();
}

// Writes the gathered bytes; false when the data file ended first.
bool Writer::write_gathered() {
  long p = from_, to = to_;
  from_ = to_ = 0;
  while (p < to && !stopped()) {
    src_.need(p, std::min(to, p + block_));
    long n = std::min(to, src_.hi()) - p;
    if (n <= 0 || src_.lo() > p) return false;
    put(src_.at(p), static_cast<size_t>(n));
    p += n;
  }
  return true;
}

// Puts the data bytes [from, to) of the pending product aside; false when
// they are not held or cannot be written.
bool Writer::put_aside(long from, long to) {
  if (aside_.get() < 0 && from < to) aside_ = FILE_fd(FILE_open_temp());
  for (long p = from; p < to;) {
    src_.need(p, std::min(to, p + block_));
    long n = std::min(to, src_.hi()) - p;
    if (n <= 0 || src_.lo() > p) return false;
    if (aside_.get() < 0 || !FILE_write_at(aside_.get(), src_.at(p), n, aside_size_)) {
      aside_error_ = errno != 0 ? errno : EIO;
      return false;
    }
    aside_size_ += n;
    p += n;
  }
  return true;
}

// Writes what was put aside, after what is gathered, and forgets it.
bool Writer::write_aside() {
  if (aside_size_ == 0) return true;
  if (!write_gathered()) return false;
  std::string block(static_cast<size_t>(std::min(aside_size_, block_)), '\0');
  for (long at = 0; at < aside_size_ && !stopped();) {
    long n = std::min(aside_size_ - at, static_cast<long>(block.size()));
    if (int err = IO_read_whole(aside_.get(), block.data(), n, at)) {
      aside_error_ = err;
      return false;
    }
    put(block.data(), static_cast<size_t>(n));
    at += n;
  }
  aside_size_ = 0;
  return true;
}

void Writer::put(const char* data, size_t size) {
  if (size == 0 || stopped()) return;
  if (std::fwrite(data, 1, size, out_) != size) write_error_ = errno != 0 ? errno : EIO;
}

}  // namespace pg
