// header_tool's writing of header files: the checked writes of a header
// file, the records of a pass, and the resume that continues a header
// file. Nothing here is part of the library's interface; header_tool.h is.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "header_records.h"
#include "kiv.h"

namespace hdr {

// The header file as this run writes it: every write, cut and close is
// checked. At the first failed write, writing stops for good and the
// file is cut back to the end of its last whole record, so it never
// holds a record half written or one after a hole.
class HeaderOut {
 public:
  // `fd` -1: no header file. The descriptor stays the caller's.
  HeaderOut(int fd, std::string name);
  bool open() const { return fd_ >= 0; }
  const std::string& name() const { return name_; }
  // Where the whole records end, which is where the next write goes.
  long end() const { return end_; }
  // Cuts the file at `length` and writes on from there.
  bool cut(long length);
  // Writes on from `length`, which is where the whole records end.
  bool seek(long length);
  // Writes `size` bytes of whole records after the end.
  bool append(const char* data, size_t size);
  bool failed() const { return error_ != 0; }
  int error() const { return error_; }  // errno of the failure, or 0
  // Records a failure (the first one counts); returns false.
  bool fail(int err);
  int fd() const { return fd_; }

 private:
  int fd_;
  std::string name_;
  long end_ = 0;
  int error_ = 0;
};

// Reports and writes the records of one pass: the out3 product sizes and
// the out1 records, and the header file in writes of about 1 MiB.
class RecordSink {
 public:
  // Records from the pass that begins at data position `ppos`.
  RecordSink(HeaderOut& out, long ppos);
  RecordSink(const RecordSink&) = delete;
  RecordSink& operator=(const RecordSink&) = delete;

  void add(long pos, const Field& heading, const Field& id);
  // Writes what is batched; false when a write failed, now or before.
  bool flush();
  int count() const { return count_; }
  // A write failed: no more records are wanted.
  bool stopped() const { return stopped_; }

 private:
  HeaderOut& out_;
  long ppos_;
  int count_ = 0;
  bool stopped_ = false;
  bool show_size_;
  bool show_record_;
  std::unique_ptr<char[]> batch_;
  size_t used_ = 0;
};

// Where the scan goes on after a resume.
struct ResumePoint {
  long start = 0;               // data-file position where the scan begins
  int type = SCAN_START_NONE;   // start kind of the last record
  bool keep = false;            // the header file is not ours to write
  Outcome failure;              // ok, or why it cannot go on: a failure of HDR_process
};

// Reads the header file back to its last record, checks that record
// against the data file and says where the scan continues; see
// HDR_process. Leaves `out` at the end of the records kept.
ResumePoint resume(DataSource& src, HeaderOut& out);

}  // namespace hdr
