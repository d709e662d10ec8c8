// product_get's header and data files on a web server (http:// and
// https:// names). A header file comes through a local cache that fetches
// only what was appended since. A data file's chosen products, and the
// bytes their checks read, are planned from its header file before
// anything is fetched and fetched in few requests; the walk through the
// header file then reads them as it reads a local file. Where the header
// file cannot be used, or the chosen products are most of the file, the
// data file is read through once as a stream and scanned. Nothing here is
// part of the library's interface.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "files.h"
#include "header_scan.h"
#include "http.h"
#include "pattern.h"
#include "product_get.h"
#include "prog.h"

namespace pg {

// What a run keeps for the remote files it reads: one HTTP session (its
// connections, the servers given up on), the directory of cached header
// files, an unnamed file for fetched bytes, and the servers found to
// ignore byte ranges.
class Remote {
 public:
  // `cache_dir`: where header files are cached (empty: nowhere, and a
  // remote header file cannot be read).
  Remote(const HTTP_options& options, std::string cache_dir)
      : session_(options), cache_dir_(std::move(cache_dir)) {}
  HTTP_session& session() { return session_; }
  const std::string& cache_dir() const { return cache_dir_; }
  // The unnamed file for the fetched bytes of one data file, emptied;
  // -1 with errno set when it cannot be made.
  int spool();
  // Whether the server of `url` was found to ignore byte ranges.
  bool ignores_ranges(const std::string& url) const;
  // Notes that the server of `url` ignores byte ranges, saying so the first
  // time: "Server ignores byte ranges, reading whole data files: %s" at
  // level warn.
  void note_no_ranges(const std::string& url);

 private:
  HTTP_session session_;
  std::string cache_dir_;
  FILE_fd spool_;
  std::set<std::string> no_ranges_;
};

// The HTTP settings of a run from the timeout resource (seconds a server
// may take to connect, at most 10, or stay silent; an invalid one is
// warned, "Invalid number of seconds: %s", and left out), and the cache
// directory from header_cache ('~' expanded), else HTTP_default_cache_dir.
HTTP_options remote_options();
std::string remote_cache_dir();

// A header file opened for reading, or why there is none.
struct HeaderOpened {
  FILE_fd fd;
  bool missing = false;  // there is no such file
  std::string reason;    // why the one there cannot be read
  std::string copy;      // a remote one's cached copy
  bool renewed = false;  // ... fetched whole this time: not the one known before
};

// Opens the header file `name`: a URL through the cache of `remote` (its
// cached copy), a local name as PROG_open_header opens it.
HeaderOpened open_header_file(Remote& remote, const std::string& name);

// Says why the data file `data` is scanned without its header file
// `hdrname` (empty: none could be named), as `h` found it: "No header file
// for %s, scanning the data file" at level mess, or "Unable to read header
// file: %s (%s), scanning the data file" at level warn.
void say_header_unused(const FILE_named& data, const std::string& hdrname, const HeaderOpened& h);

// The byte ranges that the walk through a header file reads for the
// chosen products and the checks of their records.
struct Plan {
  std::vector<HTTP_range> ranges;  // fetched before the walk
  long start = 0;                  // and [0, start): up to the first record's lines
  long tail = 0;                   // from here to the end: pulled as the walk goes
  bool whole = false;              // read it whole as a stream instead: the header
                                   // file has no record, or the chosen products
                                   // are most of a large file
  bool unfit = false;              // its last line is no record of any data file
};

// Plans from the header file `fd` for the products `patterns` choose:
// around each chosen record from before its first byte to past the lines
// of the record after it, the lines of the first record with what comes
// before them, and from the last record to the end; ranges less than
// `gap` before the tail go with it. Sets `plan` (none of it when the last
// line is unfit); returns ok, or hdr::kUnread with the reason.
Outcome plan_ranges(int fd, const PAT_chooser& patterns, long gap, Plan& plan);

// PG_get_file for a data file named by a URL, with the same messages and
// statuses; a failure to fetch it is "Unable to read file: %s (%s)" with
// the server's or the connection's reason, a server that ignores byte
// ranges is said once, and nothing is ever written to the server.
PROG_done get_remote_file(Remote& remote, const FILE_named& data, const PG_options& options);

}  // namespace pg
