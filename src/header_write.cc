// header_tool's checked writing of header files and of the records of a
// pass.
#include "header_write.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files.h"
#include "mess.h"

namespace hdr {

namespace {
constexpr size_t kBatch = 1024 * 1024;  // header bytes per write
}  // namespace

HeaderOut::HeaderOut(int fd, std::string name) : fd_(fd), name_(std::move(name)) {
  off_t at = fd < 0 ? -1 : ::lseek(fd, 0, SEEK_CUR);
  end_ = at < 0 ? 0 : static_cast<long>(at);
}

bool HeaderOut::fail(int err) {
  if (error_ == 0) error_ = err != 0 ? err : EIO;
  return false;
}

bool HeaderOut::cut(long length) {
  if (error_ != 0) return false;
  if (FILE_truncate(fd_, length) != 0 || ::lseek(fd_, length, SEEK_SET) < 0) return fail(errno);
  end_ = length;
  return true;
}

bool HeaderOut::seek(long length) {
  if (error_ != 0) return false;
  if (::lseek(fd_, length, SEEK_SET) < 0) return fail(errno);
  end_ = length;
  return true;
}

bool HeaderOut::append(const char* data, size_t size) {
  if (error_ != 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(fd_, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      int err = n < 0 ? errno : ENOSPC;
      // Keep the whole records that reached the file, and nothing after.
      // Only a regular file can be cut; where even that fails, the next
      // resume drops the record cut short, as after a crash.
      size_t whole = done;
      while (whole > 0 && data[whole - 1] != '\n') --whole;
      struct stat st {};
      bool regular = ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode);
      if (whole != done && regular && FILE_truncate(fd_, end_ + static_cast<long>(whole)) != 0)
        whole = done;  // what the file still holds
      end_ += static_cast<long>(whole);
      return fail(err);
    }
    done += static_cast<size_t>(n);
  }
  end_ += static_cast<long>(size);
  return true;
}

RecordSink::RecordSink(HeaderOut& out, long ppos)
    : out_(out),
      ppos_(ppos),
      show_size_(MESS_check(M_out3) != 0),
      show_record_(MESS_check(M_out1) != 0),
      batch_(new char[kBatch + kMaxRecord + kSlack]) {}

void RecordSink::add(long pos, const Field& heading, const Field& id) {
  if (show_size_) MESS_print(M_out3, "Product size: %7ld\n", pos - ppos_);
  ppos_ = pos;
  ++count_;
  bool to_file = out_.open();
  if (!to_file && !show_record_) return;  // nobody reads the record
  char* start = batch_.get() + used_;
  char* end = format_record(start, pos, heading, id);
  *end++ = '\n';
  if (show_record_) MESS_print(M_out1, "%.*s", static_cast<int>(end - start), start);
  if (!to_file) return;
  used_ = end - batch_.get();
  if (used_ >= kBatch) flush();
}

bool RecordSink::flush() {
  if (!out_.open()) return true;
  if (used_ > 0 && !out_.append(batch_.get(), used_)) stopped_ = true;
  used_ = 0;
  return !out_.failed();
}

}  // namespace hdr
