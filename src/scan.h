// The product scanner as the programs and other callers use it: the kinds
// of product start, and a fresh index of a data file handed over record
// by record. How it finds starts is in header_scan.h.
//
// Module state: the read settings that tests change (the block size and a
// call before each read).
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string_view>

#include "kiv.h"

// Kinds of product start. The first start found in a pass fixes the kind
// for the rest of that pass.
constexpr int SCAN_START_NONE = 0;   // not known yet
constexpr int SCAN_START_STARS = 1;  // lines that begin with "** "
constexpr int SCAN_START_SOH = 2;    // a 0x01 byte as first or second character

// Receives one record of a scan: its offset and its line, without the line
// feed. Returns false to end the scan early.
using SCAN_record_fn = std::function<bool(long offset, std::string_view record)>;

// The failure of SCAN_records.
constexpr int SCAN_READ_FAILED = 1;  // the data file could not be read

// Scans the data file `ifile` from offset 0 as a fresh index would, handing
// each record to `each` in order; writes and prints nothing. Returns the
// number of records handed over, or SCAN_READ_FAILED with the reason.
Outcome SCAN_records(FILE* ifile, const SCAN_record_fn& each);

// For tests: reads of data files in blocks of `bytes` (at least 512), and
// a call with the position of every read before it is made.
void SCAN_set_block(size_t bytes);
void SCAN_set_read_hook(std::function<void(long position)> hook);
// Back to the start-up settings.
void SCAN_reset();
