// The product getter: gets products back out of data files through their
// header files, chosen by patterns on their records. main only calls
// PG_main.
//
// Module state: the patterns, the output kind and the output stream.
#pragma once

#include <cstdio>
#include <string>

#include "kiv.h"

struct FILE_named;  // files.h

// Exit statuses, as grep's: an error wins over the other two.
constexpr int PG_WRITTEN = 0;  // at least one product was written
constexpr int PG_NONE = 1;     // no product was chosen
constexpr int PG_ERROR = 2;    // a data file could not be opened or read, a pattern or
                               // output word was invalid, or the output could not be written

// What is written of each chosen product.
enum class PG_output {
  text,    // its bytes, as they stand in the data file
  list,    // "DATAFILE:" and its header record
  ranges,  // "DATAFILE FIRST-LAST", its first and last byte
};

// Sets the patterns that choose products: POSIX extended regular
// expressions, case ignored, matched against a record's heading and
// against its second identification line (trailing blanks removed). A
// null or empty pattern chooses every product. Returns false after
// reporting "Invalid pattern %s: %s" at level error for each one that
// does not compile.
bool PG_set_patterns(const char* heading, const char* ident);

// Sets the output kind from the word `word` (null: text; any case).
// Returns false after reporting an unknown word at level error.
bool PG_set_output(const char* word);

// Sends what is written to `out` (the caller's; named `name` in messages).
void PG_set_stream(FILE* out, const std::string& name);

// Writes the chosen products of the data file `data` (as the naming gave
// it) through its header file (named from the current convention):
// the header's last record is checked as the resume checks it and every
// record used at its offset; products after the last record are scanned
// for. Without a usable header file the data file is scanned ("No header
// file for %s, scanning the data file" at level mess, or "Header file does
// not match the data file: %s, scanning the data file" at level warn). The
// header file is never written or locked. Returns PG_WRITTEN, PG_NONE
// (also when a step of a series does not exist: "No data file %s" at
// level mess, a gap), or PG_ERROR when it could not be opened or read, or
// when any other data file does not exist ("No data file %s" at level
// warn).
int PG_get_file(const FILE_named& data);

// Gets the products of every data file of the sequence; returns the exit
// status.
int PG_file_loop();
// The whole program, from its command line; returns its exit status.
int PG_main(int argc, char** argv);
// Back to the start-up state (tests).
void PG_reset();
