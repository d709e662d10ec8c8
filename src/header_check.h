// The header checker: verifies every record of existing header files
// against a fresh index of their data files, without writing anything.
// main only calls HCK_main.
#pragma once

#include <cstdio>
#include <string>

#include "kiv.h"

struct FILE_named;  // files.h

// Exit statuses, in rising precedence: a run ends with the highest status
// of its data files, so an unreadable file is never hidden behind a
// mismatch, nor a mismatch behind a match.
constexpr int HCK_MATCH = 0;       // the header matches, or is only behind
constexpr int HCK_DIFFERS = 1;     // the header differs, or there is none
constexpr int HCK_UNREADABLE = 2;  // the data or header file could not be read

// What the comparison of one header file found.
struct HCK_result {
  int status = HCK_MATCH;
  long checked = 0;     // header lines compared
  long missing = 0;     // fresh records with no header line, between header lines
  long extra = 0;       // header lines that stand for no fresh record
  long differing = 0;   // header lines that stand for a fresh record but differ from it
  long behind = 0;      // fresh records after the header's last line
  long first_line = 0;  // header line of the first difference; 0 when none
};

// Compares the header file `hfd` (named `hdrname`) line by line with a
// fresh index of the data file `ifile` (named `filename`, scanned from
// offset 0), reading both with bounded memory. Reports the first
// difference at level warn as "HDRNAME:LINE: header has "...", data file
// gives "..."" (the empty text stands for the side that has no such
// record) and, when both files could be read, one summary line at level
// mess; a read failure is reported at level error ("Unable to read file:
// %s (%s)", "Unable to read header file: %s (%s)") and gives
// HCK_UNREADABLE. Writes nothing.
HCK_result HCK_compare(FILE* ifile, const std::string& filename, int hfd, const std::string& hdrname);

// Checks the data file `data` (as the naming gave it) against its header
// file (named from the current convention). Returns its status: HCK_MATCH
// when the data file does not exist ("No data file %s" at level mess: a
// gap in a series), HCK_UNREADABLE when it cannot be named, opened or read
// or its header file cannot be read (which is never waited for: a FIFO or
// anything else that is not a regular file is refused), HCK_DIFFERS when
// it has no header file ("No header file for %s" at level warn), else the
// comparison's status.
int HCK_check_file(const FILE_named& data);

// The whole tool, from its command line; returns its exit status, the
// highest of its data files'.
int HCK_main(int argc, char** argv);
