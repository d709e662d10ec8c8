// File naming and selection: opening files by name, the overwrite policy,
// file-name conventions and templates, file specifications, current and
// latest files, and the sequence of data files.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "kiv.h"

// ---- Opening and helpers -------------------------------------------------

int FILE_is_stdio(const char* file);
int FILE_fullpath(const char* filename);
int FILE_add_path_delim(std::string& path);
// The name of `file` in directory `path` (nullptr: none), also stored in
// `filename`.
std::string& FILE_add_path(const char* path, const char* file, std::string& filename);
int FILE_add_user_path(const char* file, std::string& filename);
int FILE_exist(const char* file);
int FILE_is_dir(const char* file);
long FILE_size(const char* file);
int FILE_make_dir(std::string& dir, int flag);
// Standard-stream names give stdin/stdout, '|' names a command (popen),
// '~' a home directory; "w" and "a" create missing directories.
FILE* FILE_open(const char* file, const char* access);
// Opens `file` ('~' expanded) for one writer at a time: `mode` FILE_NEW
// opens it for writing, created with missing directories, and empties it;
// FILE_APPEND opens an existing file for reading and writing. A symbolic
// link as the last component is never followed. Waits for an exclusive
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
// nothing for the standard streams. Returns the close status.
int FILE_close(FILE* stream);
// Decides for `filename`: FILE_NEW when it is a standard stream or does not
// exist; else the overwrite policy flag when set; else FILE_KEEP in batch
// mode; else asks `flag`'s question at the terminal and returns the answer
// (FILE_UNDECIDED for an unknown `flag`).
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

 private:
  int fd_;
};

// ---- Conventions and templates -------------------------------------------

int FILE_set_name(std::string& type);
int FILE_set_name(const char* type);
int FILE_set_key(int key, const char* str);
int FILE_set_date(const Date* datim, std::string& out_file);
int FILE_hdr_set_date(const Date* datim, std::string& out_file);
int FILE_set_time(const Date& date);
int FILE_reset_time();
int FILE_get_date(Date* date);

// ---- Specifications, current files, selection and series -----------------

int FILE_set_file(const char* file, std::string& out_file);
long FILE_set_current(const char* cur, std::string& filename);
int FILE_get_file_only(const char* prompt, std::string* outfile);
int FILE_list_file();
int FILE_first(const Date& datim);
int FILE_get_next(std::string& file);
long FILE_set_date_off(const Date& datim, long offset, std::string& out_file);
long FILE_num_hour();
long FILE_get_skip();
long FILE_get_offset();

// ---- Module state (read by tests and the tool) ---------------------------

struct FILE_state_view {
  std::string conv, hconv, ext, filename;
  long min_size;
  long late_off;
  int filename_type;
  Date set, file_date;
  // The type last asked for (key suffixes cut off); the convention file
  // looked for when it did not open, else empty; false when the last name
  // matched against the data-file template stopped fitting it.
  std::string type, conv_missing;
  bool name_fits;
};
FILE_state_view FILE_state();
const char* FILE_get_key(int key);
// Back to the start-up state (tests).
void FILE_reset();
