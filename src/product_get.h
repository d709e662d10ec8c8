// The product getter: gets products back out of data files through their
// header files, chosen by patterns on their records. main only calls
// PG_main.
#pragma once

#include <cstdio>
#include <string>

#include "kiv.h"
#include "pattern.h"
#include "prog.h"

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

namespace pg {
class Remote;
}

// What product_get is asked for.
struct PG_options {
  PAT_chooser patterns;               // choose the products
  PG_output output = PG_output::text;  // what is written of each
  FILE* out = stdout;                 // where to (the caller's stream)
  std::string out_name = "standard output";  // its name in messages
  // How http:// and https:// files are read: the run's connections and
  // header cache (null: a session of its own for each data file).
  pg::Remote* remote = nullptr;
};

// Sets `output` from the word `word` (null: text; any case). Returns false
// after reporting an unknown word at level error.
bool PG_set_output(const char* word, PG_output& output);

// Writes the chosen products of the data file `data` (as the naming gave
// it) as `options` say, through its header file (named from the current
// convention): the header's last record is checked as the resume checks
// it and every record used at its offset; products after the last record
// are scanned for. Without a usable header file the data file is scanned
// ("No header file for %s, scanning the data file" at level mess, or
// "Header file does not match the data file: %s, scanning the data file"
// at level warn). The header file is never written or locked. Returns
// PG_WRITTEN, PG_NONE (also when a step of a series does not exist: "No
// data file %s" at level mess, a gap), or PG_ERROR when it could not be
// named, opened or read ("Unable to read file: %s (%s)"), or when any
// other data file does not exist ("No data file %s" at level warn); or
// PG_ERROR with stop when the output could not be written ("Unable to
// write output file: %s (%s)" at level error). A data or header file
// named by an http:// or https:// URL is fetched from its server: the
// header file through the cache, and of the data file only the byte
// ranges that the chosen products and their checks need (a request that
// fails is "Unable to read file: %s (%s)" with the reason).
PROG_done PG_get_file(const FILE_named& data, const PG_options& options);

// The whole program, from its command line; returns its exit status.
int PG_main(int argc, char** argv);
