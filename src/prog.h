// The shell that header_tool, header_check and product_get stand on:
// start-up (settings, help, banner, the first data file), the resources a
// program accepts, the opening of data files, the header file's name, the
// opening of header files for reading, and the loop over the data files.
// It knows none of the programs: each brings its own work on one data
// file and its own statuses.
//
// Module state: none.
#pragma once

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "files.h"
#include "kiv.h"
#include "resrc.h"

// ---- Start-up ----------------------------------------------------------------

// The keyed resources of every program (header_tool accepts these), and
// the positional ones (the data files); each list ends with RES_null.
extern const res_type PROG_base_keys[];
extern const res_type PROG_positional[];

// A resource added to the base list, right after `after`.
struct PROG_added {
  res_type after;
  res_type key;
};
// PROG_base_keys without `removed` and with `added`, ended by RES_null.
std::vector<res_type> PROG_keys(std::initializer_list<res_type> removed,
                                std::initializer_list<PROG_added> added = {});

// What a program says of itself.
struct PROG_program {
  const char* title;                // the banner's title
  const char* description;          // the help's first line, after "PROGRAM: "
  std::vector<res_type> keys;       // the keyed resources it accepts, ended by RES_null
  std::vector<RES_help_line> help;  // its own help entries
};

// The settings half of the start-up: fills closed standard descriptors
// (KIV_fill_std_streams) and decodes the settings for the program's
// resources; for "--version" prints "PROGRAM VERSION" at level print and
// ends the process with status 0; when help was asked for, prints
// "PROGRAM: description" and the help text at level print and ends the
// process with status 0; else prints the banner with the title.
void PROG_start_settings(int argc, char** argv, const PROG_program& program);

// Where the dialogue that asks for the first data file goes.
enum class PROG_dialogue {
  standard_output,  // the file list and the question, as any prompt
  terminal_only,    // standard output carries products: to standard error,
                    // and only to a user at a terminal
};
// Chooses the first data file (the filename or current resource, the
// latest in batch mode, else the dialogue) into `first` and starts the
// sequence of data files there. False, after "No data file named and no
// terminal to ask: name one, or give -ba for the latest" at level error,
// when the dialogue is terminal_only and there is no terminal to ask.
bool PROG_start_files(FILE_named& first, PROG_dialogue dialogue);

// The start-up of a program that indexes or checks data files:
// PROG_start_settings, the convention of the type "raw" (or of the product
// table's type, PAR_in_file), then PROG_start_files with the dialogue on
// standard output. Returns the first data file.
FILE_named PROG_start(int argc, char** argv, const PROG_program& program);

// ---- Data and header files ---------------------------------------------------

// How a program says that a data file is missing or does not open.
struct PROG_data_words {
  // The level of "No data file %s" for a file that does not exist; M_none:
  // a missing file is not told apart and only fails to open.
  M_type missing = M_none;
  // Whether "Unable to open file: %s" names the reason.
  bool reason = true;
};
// What became of opening a data file.
enum class PROG_opened { open, missing, failed };

// Opens the data file `name` for reading through FILE_open into `file`. A
// directory does not open. Said at level error: "Unable to open file: %s"
// (with " (REASON)" as `words` ask), and "Unable to read file: %s (%s)"
// when a look at the file failed, which is no missing file. A URL does not
// open: remote files are read by product_get's own sources.
PROG_opened PROG_open_data(const std::string& name, FILE_ptr& file, const PROG_data_words& words);

// What a program does with header files, for the words of its warnings.
struct PROG_header_use {
  bool writes;          // it writes them; else it only reads them
  const char* outcome;  // what it does for a data file without one
  M_type level = M_warn;  // of what it says when there is none to name
};

// The header file's name for the data file `data` (its name, date and
// whether the name fitted, as the naming gave them), in `hdrname` (the
// header template of the current convention). Returns false, with
// `hdrname` empty, when the data file gets no header file: it is standard
// input, or for a reader the name is a standard stream or a command, which
// is never a file on disk (each silently); or, each at level warn with
// what to fix and `use.outcome`, there is no convention file, the type has
// no header-file template, the name does not fit the data-file template
// or gives no date; or the header name would be the data file itself
// ("Header file would overwrite data file: %s" for a writer, "Header file
// is the data file itself, OUTCOME: %s" for a reader). Each of these is
// said at `use.level` (M_none: nothing is said).
bool PROG_header_name(const FILE_named& data, std::string& hdrname, const PROG_header_use& use);

// Opens the header file `name` ('~' expanded) for reading without ever
// waiting (no FIFO, lock or device holds it up); only a regular file is
// kept open. Returns the descriptor, or none with `why` set: the system's
// reason (ENOENT: there is none), or "Not a regular file".
FILE_fd PROG_open_header(const std::string& name, Outcome& why);

// ---- The loop over data files ------------------------------------------------

// What the work on one data file gives the loop.
struct PROG_done {
  int status = 0;
  bool stop = false;  // the run ends here: what failed concerns every file
};
// A program's work on one data file, as the naming gave it (`named` false
// included).
using PROG_work = std::function<PROG_done(const FILE_named& data)>;

// How the statuses of the data files make the run's.
struct PROG_statuses {
  // The program's statuses in rising precedence: the run ends with the
  // highest one met, the first when there was no data file.
  std::vector<int> rising;
  // A run that finds no data file at all fails: EXIT_NO_DATA_FILE must be
  // one of `rising`.
  bool none_found_fails = false;
};

// The order the loop takes the data files in.
enum class PROG_order {
  sequence,      // as the sequence gives them
  newest_first,  // the sequence named whole first, then taken from its end
};

// Runs `work` on every data file of the sequence that began at `first`,
// in `order`, until one says stop, and returns the run's status. With
// none_found_fails, when no data file of the sequence exists, or `first`
// came from a latest-file search that found none, warns "No data file
// found in DIR for template TEMPLATE" (the first file's directory;
// nothing more when no name could be built) and the status is at least
// EXIT_NO_DATA_FILE; a missing file among others (a gap) changes nothing.
int PROG_file_loop(const FILE_named& first, const PROG_work& work, const PROG_statuses& statuses,
                   PROG_order order = PROG_order::sequence);
