// The header generator: the work on one data file (the resume of its
// header file, then the scan) and the tool's entry. main only calls
// HDR_main.
#pragma once

#include <cstdio>
#include <string>

#include "kiv.h"

// Failures of HDR_process.
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
// `hfd` is -1, none when the file is left alone), or the failure with its
// reason: HDR_OUT_OF_LINE; HDR_WRITE_FAILED (the header file is cut back
// to its last whole record and nothing more is written); HDR_READ_FAILED
// (the records of the products whose lines were all read are written,
// and when the resume's check could not read the data file the header
// file is left untouched); or HDR_HEADER_UNREADABLE (reading the header
// file back failed; it is left untouched). A start whose last line has no
// line feed yet gives no record: the feed is still writing it, and the
// next run writes it whole.
Outcome HDR_process(FILE* ifile, int hfd, const std::string& hdrname, int mode);

// The whole tool, from its command line: indexes every data file of the
// sequence and says at level mess what was done for each ("%s: %ld
// records added", "Header file exists, left alone: %s"). Returns 0, 3
// when no data file of the run exists ("No data file found in DIR for
// template TEMPLATE"), or 12 when an existing header file could not be
// opened or read back (the other files are still indexed) or a header
// file could not be created or written (the run ends there).
int HDR_main(int argc, char** argv);
