// The header generator: the product scanner and header records, the loop
// over data files and the tool's start-up. main only calls HDR_main.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "kiv.h"

// Kinds of product start. The first start found in a pass fixes the kind
// for the rest of that pass.
constexpr int HDR_START_NONE = 0;  // not known yet
constexpr int HDR_START_STARS = 1;  // lines that begin with "** "
constexpr int HDR_START_SOH = 2;    // a 0x01 byte as first or second character

// The work on one open data file: in append mode the resume of the
// existing header file, then the scan. `hfile` may be null; records go to
// it unless it is null or standard output, and always to the out1 messages.
// Returns the number of records found, or -1 when the header file could
// not be brought in line with the data file. The data stream is left at
// the end of what was scanned.
int HDR_process(FILE* ifile, FILE* hfile, int mode);

// Where the scan goes on after a resume.
struct HDR_resume_point {
  long start = 0;                // data-file position where the scan begins
  int type = HDR_START_NONE;     // start kind of the last record
  bool ok = true;                // false: the header file cannot be continued
};

// Reads the header file `hfile` (opened "r+") to its end, drops a record
// cut short, checks its last record against the data file and says where
// the scan continues: after the last recorded product, or at 0 when there
// is no usable record (the header file is then emptied, with a warning if
// it did not match the data file). Leaves `hfile` positioned at its end
// and a seekable `ifile` at the returned start; a stream that cannot seek
// has been read past it, so streams go through HDR_process instead.
HDR_resume_point HDR_resume(FILE* ifile, FILE* hfile);

// Scans the data file from position `start` (negative: the stream's
// current position) with the start kind already known (`type`), writing
// one record per product. Returns the number of records.
int HDR_scan(FILE* ifile, FILE* hfile, long start = -1, int type = HDR_START_NONE);

// Receives one record of a scan: its offset and its line, without the line
// feed. Returns false to end the scan early.
using HDR_record_fn = std::function<bool(long offset, std::string_view record)>;

// Scans the data file `ifile` from offset 0 as a fresh index would, handing
// each record to `each` in order; writes and prints nothing. Returns the
// number of records handed over, or -1 when the data file could not be read.
int HDR_scan_records(FILE* ifile, const HDR_record_fn& each);

// The header file's name for the data file `filename` of date `datim`, in
// `hdrfilename` (the header template of the current convention). Returns
// false, with `hdrfilename` empty, when the data file gets no header file:
// it is standard input, its name gives no date (reported at level warn) or
// the header name would be the data file itself (reported at level warn).
// A convention without header files gives true and a standard-stream name.
bool HDR_header_name(const std::string& filename, const Date& datim, std::string& hdrfilename);

// The loop over the sequence of data files; returns 0 at its end.
int HDR_file_loop();
// The whole tool, from its command line.
int HDR_main(int argc, char** argv);
