// The scanner's public face: a fresh index handed over record by record,
// and the read settings.
//
// Module state: the read settings (hdr::settings).
#include "scan.h"

#include <algorithm>

#include "header_records.h"

namespace hdr {

ScanSettings& settings() {
  static ScanSettings state;
  return state;
}

}  // namespace hdr

namespace {

// Hands each record of a scan to the caller's function as its line.
class Handover {
 public:
  explicit Handover(const SCAN_record_fn& each) : each_(each) {}
  void add(long pos, const hdr::Field& heading, const hdr::Field& id) {
    ++count_;
    char* end = hdr::format_record(line_, pos, heading, id);
    stopped_ = !each_(pos, std::string_view(line_, end - line_));
  }
  bool stopped() const { return stopped_; }
  long count() const { return count_; }

 private:
  const SCAN_record_fn& each_;
  char line_[hdr::kMaxRecord + hdr::kSlack];
  long count_ = 0;
  bool stopped_ = false;
};

}  // namespace

Outcome SCAN_records(FILE* ifile, const SCAN_record_fn& each) {
  if (ifile == nullptr) return Outcome::failed(SCAN_READ_FAILED, EBADF);
  hdr::FileBytes bytes(ifile);
  hdr::DataSource src(bytes);
  Handover handover(each);
  hdr::scan_source(src, handover, src.first(), SCAN_START_NONE);
  if (src.error() != 0) return Outcome::failed(SCAN_READ_FAILED, src.error());
  return Outcome::done(handover.count());
}

void SCAN_set_block(size_t bytes) { hdr::settings().block = std::max<size_t>(bytes, 512); }

void SCAN_set_read_hook(std::function<void(long position)> hook) {
  hdr::settings().before_read = std::move(hook);
}

void SCAN_reset() { hdr::settings() = hdr::ScanSettings(); }
