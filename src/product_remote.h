// The header and data files of a web server (http:// and https:// names),
// for PL_products. A header file comes through a local cache that fetches
// only what was appended since. A data file's chosen products, and the
// bytes their checks read, are planned from its header file before
// anything is fetched, and fetched in few requests; the walks then read
// them as they read a local file, and any other byte when they ask for it.
// Where the header file cannot be used, or the chosen products are most of
// a large file, the data file is read through once as a stream and
// scanned. Nothing is ever written to the server. Nothing here is part of
// the library's interface.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "files.h"
#include "header_scan.h"
#include "http.h"
#include "pattern.h"

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
// warned, "Invalid number of seconds: %s", and left out).
HTTP_options remote_options();
// The directory of cached header files: the header_cache resource ('~'
// expanded), else HTTP_default_cache_dir().
std::string remote_cache_dir();

// A header file opened for reading, or why there is none.
struct HeaderOpened {
  FILE_fd fd;
  bool missing = false;  // there is no such file
  std::string reason;    // why the one there cannot be read
  std::string copy;      // a remote one's cached copy
  bool renewed = false;  // ... fetched whole this time: not the one known before
};

// `remote`, or when it is null a Remote of the caller's own, made in `own`
// with the default settings.
Remote& remote_or_own(Remote* remote, std::unique_ptr<Remote>& own);

// Opens the header file `name`: a URL through the cache of `remote` (null:
// of its own), a local name as PROG_open_header opens it.
HeaderOpened open_header_file(Remote* remote, const std::string& name);

// Says why the data file `data` is scanned without its header file
// `hdrname` (empty: none could be named), as `h` found it: "No header file
// for %s, scanning the data file" at level mess, or "Unable to read header
// file: %s (%s), scanning the data file" at level warn.
void say_header_unused(const FILE_named& data, const std::string& hdrname, const HeaderOpened& h);

// The byte ranges that the walks through a header file read for the
// chosen products and the checks of their records.
struct Plan {
  std::vector<HTTP_range> ranges;  // fetched before the walks
  long start = 0;                  // and [0, start): up to the first record's lines
  long tail = 0;                   // from here to the end: pulled as the walks go
  bool whole = false;              // read it whole as a stream instead: the header
                                   // file has no record, or the chosen products
                                   // are most of a large file
  bool unfit = false;              // its last line is no record of any data file
};

// Plans from the header file `fd` for the products `patterns` choose (with
// `newest` more than 0, the last this many of them): around each chosen
// record from before its first byte to past the lines of the record after
// it, the lines of the first record with what comes before them, and from
// the last record to the end; ranges less than `gap` before the tail go
// with it. Sets `plan` (none of it when the last line is unfit); returns
// ok, or hdr::kUnread with the reason.
Outcome plan_ranges(int fd, const PAT_chooser& patterns, long newest, long gap, Plan& plan);

class RangeBytes;
class StreamBytes;

// A data file named by a URL, as the walks of PL_products read it.
class RemoteData {
 public:
  // `patterns` and `newest`: what the walks choose.
  RemoteData(Remote& remote, const FILE_named& data, const PAT_chooser& patterns, long newest);
  ~RemoteData();
  RemoteData(const RemoteData&) = delete;
  RemoteData& operator=(const RemoteData&) = delete;

  // Fetches what the walks need first: the header file through the cache
  // and, when the walks can go through it, the planned ranges; else opens
  // the data file as one stream. Says what PL_products says of a local
  // file: "No data file %s" (PL_MISSING: at level mess for a step of a
  // series, else warn), "Unable to read file: %s (%s)" (PL_UNREADABLE,
  // with the server's or the connection's reason); of its header file, as
  // of a local one, once the data file is known to be there; "Header file
  // does not match the data file: %s, scanning the data file" at level
  // warn when it is shorter than its header file says. Returns ok or the
  // failure.
  Outcome open();
  // The data file's bytes, once open.
  hdr::ByteSource& bytes();
  // The header file to walk through: its cached copy (-1: none, scan),
  // and its name for messages.
  int header() const;
  const std::string& header_name() const { return hdrname_; }
  // Why a request failed while the walks read (empty: none did).
  std::string failure() const;

 private:
  enum class Header { usable, unused, whole, unfit };
  Header open_header();
  Outcome through_header(bool& scan);
  Outcome through_stream(Header header);
  Outcome unreadable(const std::string& reason) const;

  Remote& remote_;
  const FILE_named& data_;
  const PAT_chooser& patterns_;
  long newest_;
  std::string hdrname_;
  HeaderOpened header_;
  bool walk_header_ = false;
  Plan plan_;
  std::unique_ptr<RangeBytes> ranges_;
  std::unique_ptr<HTTP_stream> stream_;
  std::unique_ptr<StreamBytes> streamed_;
};

}  // namespace pg
