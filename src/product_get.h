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
  text,       // its bytes, as they stand in the data file
  list,       // "DATAFILE:" and its header record
  ranges,     // "DATAFILE FIRST-LAST", its first and last byte
  plain,      // its text to read: no start-of-heading line, end-of-text
              // byte or carriage return; an empty line between products
  json,       // one JSON object a line: its place, record and heading's parts
  json_text,  // ... and its bytes as "text"
};

namespace pg {
class Remote;
}

// What product_get is asked for.
struct PG_options {
  PAT_chooser patterns;               // choose the products
  PG_output output = PG_output::text;  // what is written of each
  long newest = 0;                    // more than 0: only the newest this many, newest first
  FILE* out = stdout;                 // where to (the caller's stream)
  std::string out_name = "standard output";  // its name in messages
  // How http:// and https:// files are read: the run's connections and
  // cache of header files (null: a session of its own for each data file).
  pg::Remote* remote = nullptr;
};

// What a run has done so far, across its data files.
struct PG_run {
  long written = 0;  // products written
};

// Sets `output` from the word `word` (null: text; any case). Returns false
// after reporting an unknown word at level error.
bool PG_set_output(const char* word, PG_output& output);

// Sets `newest` from the newest resource's text `text` (null: 0, every
// product). Returns false after "Invalid count of newest products: %s" at
// level error for a text that is no whole number above 0.
bool PG_set_newest(const char* text, long& newest);

// Writes the chosen products of the data file `data` (as the naming gave
// it; a URL is fetched from its server) as `options` say, through
// PL_products: through its header file, or by a scan when it has none it
// can use; with options.newest only as many as the run still lacks,
// newest first. Counts them in `run`. Returns
// PG_WRITTEN, PG_NONE (also when a step of a series does not exist, a gap),
// or PG_ERROR when it could not be named, opened or read, or when any
// other data file does not exist (all said by PL_products); or PG_ERROR
// with stop when the output could not be written ("Unable to write output
// file: %s (%s)" at level error). Stops the run, too, once the newest
// products are all written.
PROG_done PG_get_file(const FILE_named& data, const PG_options& options, PG_run& run);

// The whole program, from its command line; returns its exit status.
int PG_main(int argc, char** argv);
