// File naming and selection: opening files by name, the overwrite policy,
// file-name conventions and templates, file specifications, current and
// latest files, and the sequence of data files.
//
// Module state: the convention in force (data and header templates,
// extension, minimum size), the last name built or given and whether it
// was taken literally (filename_type 1), the requested date (`set`) and
// the date of the last file named (`file_date`), the file period of the
// last template used (`late_off`, seconds), the key texts, the series of
// data files, the values already warned about, and the streams opened on
// '|' commands. What one naming finds out beyond that (whether the name
// fitted, whether one could be built) goes back to its caller.
//
// Names: "", "-", "std" and "stdn" (any case) are the standard streams; a
// leading '|' runs a command through the shell; a leading '~' or "~user"
// starts in a home directory.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "kiv.h"

// ---- Opening and helpers -------------------------------------------------

// 1 when `file` names a standard stream (null too), else 0.
int FILE_is_stdio(const char* file);
// 1 when `filename` carries its own directory (begins with '/', '.' or
// '~', or is an http:// or https:// URL), else 0.
int FILE_fullpath(const char* filename);
// Appends '/' to a non-empty `path` that does not end in one. Returns 0.
int FILE_add_path_delim(std::string& path);
// The name of `file` in directory `path` (nullptr: none), also stored in
// `filename`; a standard-stream name or one with its own directory stays
// as it is.
std::string& FILE_add_path(const char* path, const char* file, std::string& filename);
// Stores `file` in `filename` with a leading "~" or "~user" replaced by
// that home directory (left as it is for an unknown account). Returns 0.
int FILE_add_user_path(const char* file, std::string& filename);
// 1 when `file` exists (any kind, after '~' expansion) or names a standard
// stream, else 0.
int FILE_exist(const char* file);
// 1 when `file` is a directory, else 0.
int FILE_is_dir(const char* file);
// The size of `file` in bytes, or -1 when it does not exist.
long FILE_size(const char* file);
// Creates the directories leading to `dir`, all but its last `flag` path
// components (mode 0755; '\' in `dir` is turned into '/'). Returns 1 at
// once when the directory part before the last '/' exists, else 0;
// failures show when the file is opened.
int FILE_make_dir(std::string& dir, int flag);
// Opens `file` with `access` ("r" when null or empty): the standard input
// or output for standard-stream names (by the access's first letter), a
// pipe for '|' names, else the file after '~' expansion; "w" and "a"
// create missing directories first. Returns null on failure; prints nothing.
FILE* FILE_open(const char* file, const char* access);
// Opens `file` ('~' expanded) for one writer at a time: `mode` FILE_NEW
// opens it for writing, created with missing directories, and empties it;
// FILE_APPEND opens an existing file for reading and writing. A symbolic
// link as the last component is never followed, and the open never waits
// (a FIFO without a reader fails with ENXIO). Waits for an exclusive
// lock (flock) on the file, which the descriptor holds until closed, and
// empties a new file only under it. Returns the descriptor, or -1 with
// errno set (ELOOP for a link). Prints nothing.
int FILE_open_exclusive(const char* file, int mode);
// Opens a settings or reference file for reading: standard-stream and '|'
// names as FILE_open does; any other name only when it is a regular file.
// Anything else (FIFO, device, directory, socket) is never opened for
// reading, so it cannot block or run on for ever: it is reported at level
// warn ("Not a regular file, ignored: %s\n") and nullptr is returned. A
// file that does not open gives nullptr without a report.
FILE* FILE_open_regular(const char* file);
// Closes what FILE_open opened: pclose for commands, fclose for files,
// only a flush for standard output and error, nothing for the standard
// input. Returns the close status (EOF for null).
int FILE_close(FILE* stream);
// Decides what becomes of the existing output file `filename`: FILE_NEW
// when it is a standard stream or does not exist; else the overwrite
// policy flag (FLAG_FILE_PARAM) when set; else FILE_KEEP in batch mode;
// else asks `flag`'s question at the terminal ("Y", "O": FILE_NEW; "A",
// only with FILE_ASK_APPEND: FILE_APPEND; anything else or end of input:
// FILE_KEEP). FILE_UNDECIDED for an unknown `flag`.
int FILE_overwrite(const char* filename, int flag);

// Owns a stream from FILE_open and closes it with FILE_close.
struct FILE_closer {
  void operator()(FILE* f) const { FILE_close(f); }
};
using FILE_ptr = std::unique_ptr<FILE, FILE_closer>;

// Owns a descriptor (from FILE_open_exclusive) and closes it when it goes.
class FILE_fd {
 public:
  explicit FILE_fd(int fd = -1) : fd_(fd) {}
  ~FILE_fd() { close(); }
  FILE_fd(FILE_fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FILE_fd& operator=(FILE_fd&& other) noexcept;
  FILE_fd(const FILE_fd&) = delete;
  FILE_fd& operator=(const FILE_fd&) = delete;
  int get() const { return fd_; }
  // Closes it now: 0, or -1 with errno set (a write that failed late).
  int close();
  // Gives the descriptor up to the caller, who closes it.
  int release();

 private:
  int fd_;
};

// Closes `fd` with close(2), or `close_fn` in its place: 0, or -1 with
// errno set. EINTR is not a failure: the descriptor is closed then.
int FILE_close_fd(int fd, int (*close_fn)(int) = nullptr);
// ftruncate(2), again when a signal interrupted it: 0, or -1 with errno.
int FILE_truncate(int fd, long length);
// Opens an unnamed temporary file for reading and writing in $TMPDIR (when
// absolute) or /tmp; it is gone when closed. Returns the descriptor, or -1
// with errno set.
int FILE_open_temp();
// Writes the `size` bytes at `data` to `fd` at offset `at` whole (again
// after a signal or a short count). False with errno set when it fails.
bool FILE_write_at(int fd, const char* data, long size, long at);
// The first directory above the file `file` (package name forms allowed)
// that does not exist and cannot be made now, with errno saying why;
// empty when every directory above it is there.
std::string FILE_unmade_dir(const char* file);

// ---- Conventions and templates -------------------------------------------

// Makes the convention of data type `type` the one in force: "none" clears
// it, "@TEMPLATE" takes the template itself, else the first line of the
// convention file (name_conv or the name_conv resource, in the file_path
// directory) whose type is `type` or a prefix of it (the text after the
// last '_' of `type` then becomes the extension). Key suffixes
// ":k=value" set keys and are cut off `type`. Forgets the last name.
// Returns 1 when a convention was found or given, else 0 (the type itself
// is then the template, without header template). Warns "FILE_set_name:
// No file name convention file: NAME" when the file does not open.
int FILE_set_name(std::string& type);
int FILE_set_name(const char* type);
// Sets the text of template item %k: the first 29 characters of `str`,
// blanks turned into '_'. Returns 0.
int FILE_set_key(int key, const char* str);
// Fills the data-file template with `datim` (null: the last file's date)
// into `out_file`; the requested date's fields win over the date's. Also
// stores the name, sets file_date to the fields the template used and
// late_off to the smallest step of its day, hour and minute items. A name
// given with its own directory lends that directory to the directory
// items. Returns 0 when expanded, 1 when a name was taken over without a
// template (no convention, a standard-stream template, or no date and a
// name given).
int FILE_set_date(const Date* datim, std::string& out_file);
// The same with the header-file template. Returns 1 when a non-empty name
// was made; 0, with `out_file` untouched, when the date has no year, and 0
// with it emptied when there is no convention or no header template.
int FILE_hdr_set_date(const Date* datim, std::string& out_file);
// Sets the requested date (the hour resource), whose fields override those
// of the dates templates are filled with. Returns 0.
int FILE_set_time(const Date& date);
// Clears the requested year, month, day, hour and minute. Returns 0.
int FILE_reset_time();
// Copies the date of the last file named or matched into `date` (may be
// null). Returns 0.
int FILE_get_date(Date* date);

// ---- Specifications, current files, selection and series -----------------

// A data file as the naming gave it, for the caller to pass on.
struct FILE_named {
  std::string name;
  Date date;          // the date its name gives; NO_VALUE fields where none
  bool fits = true;   // false: a given name stopped fitting the data-file
                      // template and was taken over from there on
  bool named = true;  // false: no name could be built (reported; `name`
                      // is empty)
  bool found = true;  // false: a latest-file search ("la") found no file;
                      // `name` is the one a step beyond its last try
  bool in_series = false;  // a step of a num_hour series, which may be a gap
};

// Turns a file specification into a data-file name in `out_file`: "@name"
// literally; a standard-stream name; "#DATE", "cu..." or "la..." as a
// current-file expression (FILE_set_current; reports "Current filename:"
// at mess); "none" or a full path under a full-path template as given;
// else the name matched against the template, the configured directories
// put in and the date decoded into file_date (an extension learned on the
// way is kept). A "#YYYYMMDDhhmm" suffix sets the requested date first.
// Without the convention file a name is taken as given, and a date, "cu"
// or "la" cannot be named: "No file name convention file %s: cannot name
// data file %s" at level error (once per request), `out_file`
// empty. "exit" ends the process with status 0. Returns 0.
int FILE_set_file(const char* file, std::string& out_file);
// Names the file of a current-file expression in `filename`: a base time
// ("#DATE", else kivcurtime, else now; a kivcurtime that is not a whole
// "[#]YYYYMMDDhh[mm]" of a real time is warned once, "Invalid time in
// kivcurtime: %s, using the clock") moved to the requested date, then
// optional offsets ("[+|-][Nd]H[:M]", back by default) around an optional
// latest-file search ("la[#tries]", "+la": step by the file period until
// a file larger than the minimum size exists, at most 500 times). A name
// that is a URL is looked for with a HEAD request to its server through
// what FILE_set_remote gave (none: never found), at most 48 times
// unless "#tries" says otherwise, and no more once a request fails. Null
// means "la". Sets file_date and late_off. Returns the chosen time in
// seconds, cut to a multiple of the file period.
long FILE_set_current(const char* cur, std::string& filename);
// Chooses the first data file: the first `filename` resource ("list" lists
// the files and ends the process with status 0), else the `current`
// resource, else "la" in batch mode, else lists the files and asks
// `prompt` ("list" lists again, "exit" ends the process, a current-file
// expression or any other name). Leaves the name in the module and the
// file in `first`. Returns 1 when the file exists, else 0.
int FILE_get_file_only(const char* prompt, FILE_named& first);
// The same with the name alone in `outfile` (may be null).
int FILE_get_file_only(const char* prompt, std::string* outfile);
// Whether FILE_get_file_only would list the files and ask: neither the
// filename nor the current resource is given, and it is not batch mode.
bool FILE_first_is_asked();
// Lists the data files that fit the convention in force, through "ls -x"
// with every configured text quoted for the shell. Returns 0.
int FILE_list_file();
// Starts the sequence of data files at `first` (as FILE_get_file_only
// gave it): the names of the `filename` resource; or, for at most one name
// and a `num_hour` span ("H[:M][,STEP]"; negative: the span before the
// first file), the files over the span in steps of the file period or
// STEP; else the first file alone. A `num_hour` that does not read so is
// warned once ("Invalid number of hours: %s") and read as far as it goes.
// Returns 0.
int FILE_first(const FILE_named& first);
// The same from the first file's date, its name the last one named.
int FILE_first(const Date& datim);
// The next file of the sequence in `next` (one that cannot be named has
// `named` false). Returns 1, or 0 at its end.
int FILE_get_next(FILE_named& next);
// The next name of the sequence in `file`; files that cannot be named are
// passed over. Returns 1, or 0 at its end.
int FILE_get_next(std::string& file);
// Names the data file of `datim` plus `offset` seconds in `out_file`
// (reported at debugc). Returns `offset` in file periods.
long FILE_set_date_off(const Date& datim, long offset, std::string& out_file);
// The series span in seconds from the `num_hour` resource (0 when unset).
long FILE_num_hour();
// The series step in seconds: the part after the comma of `num_hour`, else
// the file period.
long FILE_get_skip();
// The file period in seconds (late_off), or 100000 when the template has
// no day, hour or minute item.
long FILE_get_offset();

// ---- Module state (read by tests and the tool) ---------------------------

// A copy of the naming state.
struct FILE_state_view {
  std::string conv, hconv, ext, filename;
  long min_size;
  long late_off;
  int filename_type;
  Date set, file_date;
  // The type last asked for (key suffixes cut off); the convention file
  // looked for when it did not open, else empty.
  std::string type, conv_missing;
};
FILE_state_view FILE_state();
// The text of key `key`, or null when it was never set.
const char* FILE_get_key(int key);
// Back to the start-up state; open '|' streams stay known (tests).
void FILE_reset();
// Asks a server the size of the file at `url` for a latest-file search:
// its size in bytes, FILE_REMOTE_ABSENT when the server has no such file,
// or FILE_REMOTE_UNKNOWN when it cannot say (no later step would fare
// better: the search stops).
using FILE_remote_size = std::function<long(const std::string& url)>;
constexpr long FILE_REMOTE_ABSENT = -1;
constexpr long FILE_REMOTE_UNKNOWN = -2;
// Lets latest-file searches ask the servers of URLs through `size` (empty:
// a URL is never found). The naming itself links no HTTP client: the
// program that reads remote files gives it one.
void FILE_set_remote(FILE_remote_size size);
