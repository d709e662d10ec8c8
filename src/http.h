// Reading files that a web server publishes: a data file's size, chosen
// byte ranges of it, the whole of it as a stream, and header files kept
// in a local cache that fetches only what was appended since. GET and
// HEAD only: nothing is ever written to the remote side.
//
// Every call takes a session, whose connections are kept open and reused
// (keep-alive) across calls. TLS certificates are verified, redirects are
// followed a few times, and the usual proxy variables (http_proxy,
// https_proxy, no_proxy) apply. A request that fails by its connection, a
// time-out or a 5xx answer is tried again a few times with a growing wait,
// going on from the byte it reached; no byte is handed over twice. A
// server that never answered is given up on for the rest of the session.
//
// Built without libcurl, every call answers HTTP_code::unsupported.
#pragma once

#include <strings.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// What became of a call.
enum class HTTP_code {
  ok,
  missing,      // 404 or 410: the server has no such file
  changed,      // 416, or fewer bytes than a range asked: the file is not what it was
  no_ranges,    // the server ignores Range (it answered 200 with the whole file)
  error,        // connection failure, time-out, 5xx after the retries, or another answer
  unsupported,  // built without libcurl
};

// A call's outcome, with the reason for messages ("Unable to read file: %s
// (%s)" takes it as it is).
struct HTTP_result {
  HTTP_code code = HTTP_code::ok;
  std::string reason;  // empty when ok
  long size = -1;      // the file's size where the answer gave it, else -1
  bool ok() const { return code == HTTP_code::ok; }
};

// How patient a session is, and when ranges are fetched together.
struct HTTP_options {
  long connect_timeout_ms = 10000;
  // A transfer slower than low_speed_bytes a second for low_speed_seconds
  // (waiting for the answer included) is given up as a time-out.
  long low_speed_bytes = 1;
  long low_speed_seconds = 30;
  int attempts = 3;        // tries of a request that failed by connection, time-out or 5xx
  long backoff_ms = 500;   // wait before the second try, doubled before each further one
  long max_redirects = 5;
  // A server that did not answer a request (its connection failed or it
  // timed out, every try) is not asked again by the session: later
  // requests to it fail at once, their reason "server given up earlier: "
  // and the first one's. A server that is down then costs its time-outs
  // once in a run, not once a file.
  bool give_up_on_silent_servers = true;
  // Asked ranges less than this apart are fetched in one request. On
  // 127.0.0.1 a second request costs what about 256 KiB more in the same
  // one costs (bench/http_bench.sh); at a quarter of that one request
  // takes 0.6 of the time of two, and over a real network a request
  // costs more still, while unasked bytes stay few.
  long merge_gap = 64 * 1024;
};

// The connections and settings that calls share. Not copyable; it must
// outlive the streams opened through it. One thread at a time.
class HTTP_session {
 public:
  explicit HTTP_session(const HTTP_options& options = {});
  ~HTTP_session();
  HTTP_session(const HTTP_session&) = delete;
  HTTP_session& operator=(const HTTP_session&) = delete;
  const HTTP_options& options() const;

  struct Impl;
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

// True when `name` begins with "http://" or "https://" (any case). Inline:
// the file-naming code tells URLs apart without linking the HTTP client.
inline bool HTTP_is_url(std::string_view name) {
  auto starts = [name](std::string_view scheme) {
    return name.size() >= scheme.size() && strncasecmp(name.data(), scheme.data(), scheme.size()) == 0;
  };
  return starts("http://") || starts("https://");
}

// The server of the URL `url` as it is known by: its scheme, host and port
// as written, in lower case ("http://feed.example:8080").
std::string HTTP_server(std::string_view url);

// False when built without libcurl, or when libcurl cannot be loaded (it
// is loaded with the first request): then every URL is answered with
// HTTP_code::unsupported.
bool HTTP_supported();

// Where header files are cached unless the caller says otherwise:
// $XDG_CACHE_HOME/kiv, else ~/.cache/kiv ($HOME); empty when neither is
// set (XDG_CACHE_HOME counts only when absolute).
std::string HTTP_default_cache_dir();

// The size of the file at `url`, from a HEAD request, in result.size.
// error when the answer gives no size.
HTTP_result HTTP_size(HTTP_session& session, const std::string& url);

// A byte range [begin, end); end HTTP_TO_END reaches to the end of the file.
constexpr long HTTP_TO_END = -1;
struct HTTP_range {
  long begin = 0;
  long end = HTTP_TO_END;
};

// Receives the bytes [offset, offset + bytes.size()) of the file; returns
// false to end the fetch early (the call then returns ok).
using HTTP_bytes_fn = std::function<bool(long offset, std::string_view bytes)>;

// Fetches the ranges `ranges` (any order, overlaps allowed) of the file at
// `url`, one request per group of ranges less than merge_gap apart, on one
// kept-alive connection. Hands every asked byte to `each` exactly once,
// in pieces, ascending by offset, and nothing that was not asked; memory
// stays a few pieces whatever the sizes. A range must begin at a byte the
// file holds. Returns ok (result.size from the last answer), or changed
// (416, or the file ends before a bounded range does), no_ranges (nothing
// handed over for that group), missing or error. After a failure the
// bytes already handed over are right but the rest is not coming.
HTTP_result HTTP_get_ranges(HTTP_session& session, const std::string& url,
                            const std::vector<HTTP_range>& ranges, const HTTP_bytes_fn& each);

// The file at `url` read from byte `from` to its end as a stream that the
// caller pulls in blocks: file() is a read-only FILE* (not seekable, no
// descriptor) whose ftell is `from` before the first read, so the stream
// reader of data files takes it as it takes a pipe. A failure while
// reading ends the stream with a read error (ferror; errno EIO) and is
// kept in result().
class HTTP_stream {
 public:
  ~HTTP_stream();
  HTTP_stream(const HTTP_stream&) = delete;
  HTTP_stream& operator=(const HTTP_stream&) = delete;
  FILE* file() const;
  // ok until reading fails; then the failure, as HTTP_get_ranges gives it.
  const HTTP_result& result() const;

  struct Impl;
  explicit HTTP_stream(std::unique_ptr<Impl> impl);

 private:
  std::unique_ptr<Impl> impl_;
};

// Opens `url` as a stream from byte `from` (0: a plain GET, which every
// server answers; more: Range, which a server may ignore). Waits for the
// answer's status: returns ok with `stream` set (result.size the file's
// size when the answer gave it), or missing, changed (416: the file holds
// no byte at `from`), no_ranges (from > 0 and the server sends the whole
// file: read it from 0 instead) or error, with `stream` empty.
HTTP_result HTTP_open_stream(HTTP_session& session, const std::string& url, long from,
                             std::unique_ptr<HTTP_stream>& stream);

// How a cached header file was brought up to date.
enum class HTTP_cache_use {
  fetched,    // not cached before: fetched whole
  grown,      // only the bytes appended since were fetched
  replaced,   // it no longer began as cached: fetched whole again
  unchanged,  // one small request said nothing was appended
};

// A cached header file.
struct HTTP_cached {
  std::string path;  // the local copy, byte for byte the remote file as fetched
  HTTP_cache_use use = HTTP_cache_use::fetched;
};

// Brings the copy of the header file at `url` in the directory `dir`
// (created, mode 0700, when missing) up to date and names it in `cached`.
// The first time the file is fetched whole. Later the cached copy's last
// bytes are asked for again with all that follows them (Range: bytes=N-):
// when they still stand there, only the appended bytes come; otherwise
// (a header file written anew, or shorter) the file is fetched whole
// again. A copy is written aside and renamed into place, so that
// processes sharing the cache never see one half written. Returns ok
// (result.size the copy's size); missing (the copy is removed); error,
// also when the cache cannot be written (the reason names the file).
HTTP_result HTTP_cache_header(HTTP_session& session, const std::string& url, const std::string& dir,
                              HTTP_cached& cached);
