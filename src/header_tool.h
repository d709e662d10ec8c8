// The header generator: the product scanner and header records, the loop
// over data files and the tool's start-up. main only calls HDR_main.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "kiv.h"
#include "resrc.h"

struct FILE_named;  // files.h

// Kinds of product start. The first start found in a pass fixes the kind
// for the rest of that pass.
constexpr int HDR_START_NONE = 0;   // not known yet
constexpr int HDR_START_STARS = 1;  // lines that begin with "** "
constexpr int HDR_START_SOH = 2;    // a 0x01 byte as first or second character

// Failures of HDR_process (its other results are record counts).
constexpr int HDR_OUT_OF_LINE = -1;   // the header file does not match a data
                                      // stream that cannot be read again
constexpr int HDR_WRITE_FAILED = -2;  // a write, cut or seek of the header failed
constexpr int HDR_READ_FAILED = -3;   // reading the data file failed
constexpr int HDR_HEADER_UNREADABLE = -4;  // reading the header file back failed

// The work on one open data file `ifile`. `hfd` is the header file named
// `hdrname` (-1: none, as for a name that means standard output), open for
// writing in mode FILE_NEW and for reading and writing in mode FILE_APPEND;
// the caller keeps and closes it. In append mode the header file is read
// back to its last record (echoed at out2), a record cut short is dropped,
// and the last record is checked against the data file: the scan goes on
// after it, or the header file is rebuilt from the start with a warning
// when it does not match. A non-empty file that does not begin like a
// header file is never changed ("Not a header file, left alone"). Then
// the scan reports "Processing products...", each product size at out3
// and each record at out1, and writes the records to the header file.
// Returns the number of records added to the header file (all found when
// `hfd` is -1, none when the file is left alone), or HDR_OUT_OF_LINE, or
// HDR_WRITE_FAILED (errno says why; the header file is cut back to its
// last whole record and nothing more is written), or HDR_READ_FAILED
// (errno says why; the records of the products whose lines were all read
// are written, and when the resume's check could not read the data file
// the header file is left untouched), or HDR_HEADER_UNREADABLE (reading
// the header file back failed, errno says why; it is left untouched).
// A start whose last line has no line feed yet gives no record: the feed
// is still writing it, and the next run writes it whole.
int HDR_process(FILE* ifile, int hfd, const std::string& hdrname, int mode);

// Receives one record of a scan: its offset and its line, without the line
// feed. Returns false to end the scan early.
using HDR_record_fn = std::function<bool(long offset, std::string_view record)>;

// Scans the data file `ifile` from offset 0 as a fresh index would, handing
// each record to `each` in order; writes and prints nothing. Returns the
// number of records handed over, or -1 when the data file could not be
// read (errno says why).
int HDR_scan_records(FILE* ifile, const HDR_record_fn& each);

// For tests: reads of the data file in blocks of `bytes` (at least 512),
// and a call with the position of every read before it is made.
void HDR_set_block(size_t bytes);
void HDR_set_read_hook(std::function<void(long position)> hook);
// For tests: stand-ins for pread of the data and header files and for
// close of the header file, to fail them; null members call the system.
struct HDR_io {
  std::function<long(int fd, char* to, size_t size, long at)> pread;
  std::function<int(int fd)> close;
};
void HDR_set_io(HDR_io io);
// Back to the start-up settings.
void HDR_reset();

// The header file's name for the data file `data` (its name, date and
// whether the name fitted, as the naming gave them), in `hdrfilename`
// (the header template of the current convention). Returns
// false, with `hdrfilename` empty, when the data file gets no header file:
// it is standard input (silently), or, each reported at level warn with
// what to fix and `outcome` (what the program does instead), there is no
// convention file, the type has no header-file template, the name does
// not fit the data-file template or gives no date; or the header name
// would be the data file itself.
bool HDR_header_name(const FILE_named& data, std::string& hdrfilename,
                     const char* outcome = "no header file written");

// Opens the data file `filename` for reading through FILE_open; returns
// the stream, or null after "Unable to open file: %s" at level error (a
// directory counts as not opening). Given `missing`, a file that does not
// exist is said instead, "No data file %s" at level `level` (a gap in a
// series, or a warning), and *missing set.
FILE* HDR_open_data(const std::string& filename, bool* missing = nullptr, M_type level = M_mess);

// The loop over the sequence of data files that HDR_start began at
// `first`. Says at level mess what was done for each ("%s: %ld records
// added", "Header file exists, left alone: %s"). Returns 0 at its end, or
// 12 when an existing header file could not be opened or read back (the
// other files are still indexed); ends the process with status 12 when a
// header file cannot be created or written. A missing file among others
// (a gap) changes nothing; when no data file of the sequence exists, or
// `first` came from a latest-file search that found none, warns "No data
// file found in DIR for template TEMPLATE" (the first file's directory;
// nothing more when no name could be built) and returns at least 3.
int HDR_file_loop(const FILE_named& first);
// The resources header_tool accepts as keyed options, ended by RES_null,
// and those it fills from positional words.
extern const res_type HDR_res_key[];
extern const res_type HDR_res_pos[];

// The settings half of the start-up that the programs share: fills closed
// standard descriptors (KIV_fill_std_streams), decodes the settings for the
// accepted resources `res_key` and `res_pos`; for "--version" prints
// "PROGRAM VERSION" at level print and ends the process with status 0;
// when help was asked for, prints "PROGRAM: `description`" and the help
// text (with the program's `own_help` entries) at level print and ends the
// process with status 0; else prints the banner `title`.
void HDR_start_settings(int argc, char** argv, const res_type* res_key, const res_type* res_pos,
                        const char* description, const char* title,
                        const std::vector<RES_help_line>& own_help = {});
// The start-up of header_tool and header_check: HDR_start_settings, then
// selects the convention of the type "raw" (or of the product table's
// type, PAR_in_file) and starts the sequence of data files at the first
// one (asking for it at a terminal), which it returns.
FILE_named HDR_start(int argc, char** argv, const res_type* res_key, const res_type* res_pos,
                     const char* description, const char* title);
// The whole tool, from its command line; returns its exit status.
int HDR_main(int argc, char** argv);
