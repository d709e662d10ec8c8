// product_get's remote header and data files: the run's HTTP state, the
// header source, the plan of byte ranges, the data file's bytes over the
// fetched ranges and as one stream, and the steps of one data file.
#include "product_remote.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "header_records.h"
#include "io.h"
#include "mess.h"
#include "product_find.h"
#include "product_write.h"
#include "resrc.h"

namespace pg {

namespace {

constexpr long kPull = 64 * 1024;   // tail bytes pulled from the stream at a time
constexpr long kAsked = 64 * 1024;  // the most fetched for one read outside the plan
constexpr long kConnectMs = 10000;  // the longest wait for a connection
// Fetched bytes are kept in a file for the walk through the header file,
// which reads them back and forth: its writes cost about what the fetch
// does. Up to this much of a data file is kept.
constexpr long kKeptMost = 16L << 20;

}  // namespace

// ---- The run -------------------------------------------------------------------

int Remote::spool() {
  if (spool_.get() < 0) spool_ = FILE_fd(FILE_open_temp());
  if (spool_.get() >= 0 && FILE_truncate(spool_.get(), 0) != 0) return -1;
  return spool_.get();
}

bool Remote::ignores_ranges(const std::string& url) const { return no_ranges_.count(HTTP_server(url)) > 0; }

void Remote::note_no_ranges(const std::string& url) {
  std::string server = HTTP_server(url);
  if (no_ranges_.insert(server).second)
    MESS_print(M_warn, "Server ignores byte ranges, reading whole data files: %s\n", server.c_str());
}

HTTP_options remote_options() {
  HTTP_options options;
  const char* text = RES_get("timeout");
  if (text == nullptr) return options;
  char* end = nullptr;
  long seconds = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || seconds <= 0 || seconds > 86400) {
    MESS_print(M_warn, "Invalid number of seconds: %s\n", text);
    return options;
  }
  options.connect_timeout_ms = std::min(kConnectMs, seconds * 1000);
  options.low_speed_seconds = seconds;
  return options;
}

std::string remote_cache_dir() {
  const char* dir = RES_get("header_cache");
  if (dir == nullptr || dir[0] == '\0') return HTTP_default_cache_dir();
  std::string path;
  FILE_add_user_path(dir, path);
  return path;
}

// ---- The header file -----------------------------------------------------------

HeaderOpened open_header_file(Remote& remote, const std::string& name) {
  HeaderOpened h;
  std::string path = name;
  if (HTTP_is_url(name)) {
    HTTP_cached cached;
    HTTP_result r = HTTP_cache_header(remote.session(), name, remote.cache_dir(), cached);
    h.missing = r.code == HTTP_code::missing;
    if (!r.ok()) {
      if (!h.missing) h.reason = r.reason;
      return h;
    }
    path = h.copy = cached.path;
    h.renewed = cached.use == HTTP_cache_use::fetched || cached.use == HTTP_cache_use::replaced;
  }
  Outcome why;
  h.fd = PROG_open_header(path, why);
  h.missing = h.fd.get() < 0 && why.error == ENOENT;
  if (h.fd.get() < 0 && !h.missing) h.reason = why.reason();
  return h;
}

void say_header_unused(const FILE_named& data, const std::string& hdrname, const HeaderOpened& h) {
  if (hdrname.empty() || h.missing)
    MESS_print(M_mess, "No header file for %s, scanning the data file\n", data.name.c_str());
  else
    MESS_print(M_warn, "Unable to read header file: %s (%s), scanning the data file\n", hdrname.c_str(),
               h.reason.c_str());
}

// ---- The plan ------------------------------------------------------------------

namespace {

// The bytes the ranges cover, each counted once.
long covered(std::vector<HTTP_range> ranges) {
  std::sort(ranges.begin(), ranges.end(), [](auto& a, auto& b) { return a.begin < b.begin; });
  long bytes = 0, reached = 0;
  for (const HTTP_range& r : ranges) {
    bytes += std::max(0L, r.end - std::max(r.begin, reached));
    reached = std::max(reached, r.end);
  }
  return bytes;
}

// Plans from the header lines before the last record, as the walk takes
// them: the first one, the chosen ones and the one after each chosen one.
class Planner {
 public:
  Planner(const PAT_chooser& patterns, Plan& plan) : patterns_(patterns), plan_(plan) {}

  // Takes the lines of `lines`, each ended by its line feed; false where
  // the walk stops: at a line it cannot take.
  bool take(std::string_view lines) {
    const char* p = lines.data();
    const char* end = p + lines.size();
    long pos = 0;
    std::string_view rest;
    // The file's first start tells its kind: read from the start up to it.
    if (first_ && p < end && hdr::parse_record_offset(lines.substr(0, lines.find('\n')), pos, rest))
      add_start(pos);
    first_ = false;
    while (p < end) {
      const char* line = pending_ ? p : patterns_.next_line(p, end);
      if (line == end) return true;
      const char* lf = static_cast<const char*>(std::memchr(line, '\n', end - line));
      if (!take_line(std::string_view(line, lf - line))) return false;
      p = lf + 1;
    }
    return true;
  }
  // The record after the last line taken is the last record, at `pos`.
  void end(long pos) {
    if (first_) add_start(pos);
    if (pending_) add(begin_, pos + kRecordAfter);
  }

 private:
  bool take_line(std::string_view line) {
    hdr::RecordParts r;
    if (!hdr::split_record(line, r)) return false;
    if (pending_) add(begin_, r.offset + kRecordAfter);
    pending_ = patterns_.chosen(r.heading, r.id);
    begin_ = r.offset - kRecordBefore;
    return true;
  }
  void add_start(long first) {
    add(0, first + kRecordAfter);
    if (!plan_.ranges.empty()) plan_.start = plan_.ranges.back().end;
  }
  // Plans [from, to) before the tail, which the stream brings.
  void add(long from, long to) {
    from = std::max(0L, from);
    to = std::min(to, plan_.tail);
    if (from < to) plan_.ranges.push_back({from, to});
  }

  const PAT_chooser& patterns_;
  Plan& plan_;
  bool first_ = true, pending_ = false;
  long begin_ = 0;
};

}  // namespace

Outcome plan_ranges(int fd, const PAT_chooser& patterns, long gap, Plan& plan) {
  plan = Plan();
  struct stat st {};
  hdr::LastLine last;
  Outcome read = IO_fstat(fd, &st) != 0 ? Outcome::failed(hdr::kUnread, errno)
                                        : hdr::read_last_record(fd, st.st_size, last);
  if (!read.ok()) return read;
  long pos = 0;
  std::string_view rest;
  plan.unfit = last.found && !hdr::parse_record_offset(last.text, pos, rest);
  if (plan.unfit) return {};
  plan.tail = std::max(0L, pos - kRecordBefore);
  Planner planner(patterns, plan);
  hdr::HeaderReader reader(fd, last.begin, kHeaderBlock);
  bool whole_lines = true;
  for (std::string_view lines; whole_lines && !(lines = reader.whole_lines()).empty();)
    whole_lines = planner.take(lines);
  if (!reader.outcome().ok()) return reader.outcome();
  planner.end(pos);
  long extent = plan.tail;
  // A range close before the tail costs less in the tail's request than in
  // one of its own.
  std::sort(plan.ranges.begin(), plan.ranges.end(), [](auto& a, auto& b) { return a.begin < b.begin; });
  for (auto r = plan.ranges.rbegin(); r != plan.ranges.rend() && r->end + gap > plan.tail; ++r)
    plan.tail = std::min(plan.tail, r->begin);
  std::erase_if(plan.ranges, [&](const HTTP_range& r) { return r.begin >= plan.tail; });
  for (HTTP_range& r : plan.ranges) r.end = std::min(r.end, plan.tail);
  // Most of a large file is read at less cost as one stream than kept for
  // the walk, without the header file.
  plan.whole = !last.found || (extent > kKeptMost && 2 * covered(plan.ranges) > plan.tail);
  // The file's start apart: it may be known already.
  auto start = std::find_if(plan.ranges.begin(), plan.ranges.end(),
                            [&](const HTTP_range& r) { return r.begin == 0 && r.end == plan.start; });
  if (start != plan.ranges.end()) plan.ranges.erase(start);
  else plan.start = 0;
  return {};
}

// ---- The data file's bytes ---------------------------------------------------------

namespace {

// A failure of our own while bytes are fetched.
HTTP_result failure(const std::string& reason) { return {HTTP_code::error, reason, -1}; }

HTTP_result spool_failure(int err) {
  return failure(std::string("cannot keep fetched bytes: ") + std::strerror(err != 0 ? err : EIO));
}

// A remote data file's bytes for the walk through its header file: the
// planned ranges, fetched before the walk; the bytes from the tail on,
// pulled from one stream as the walk reaches them; and any other byte
// fetched when the walk asks for it. All are kept in the run's unnamed
// file at their own offsets, so that the walk reads them, back and forth,
// as it reads a local file. A failed request ends the reading for good
// and is kept.
class RangeBytes : public hdr::ByteSource {
 public:
  RangeBytes(HTTP_session& session, const std::string& url, int spool, long tail)
      : session_(session), url_(url), spool_(spool), tail_(tail), pulled_(tail) {}

  // Fetches `ranges` and opens the stream of the tail: ok, or the failure.
  HTTP_result fetch(const std::vector<HTTP_range>& ranges) {
    if ((!ranges.empty() && !get(ranges)) || !open_tail()) return failure_;
    return {};
  }
  // Takes `bytes` as the file's first ones, as if fetched.
  void preload(std::string_view bytes) {
    if (FILE_write_at(spool_, bytes.data(), static_cast<long>(bytes.size()), 0)) hold(0, static_cast<long>(bytes.size()));
  }
  // The bytes [0, size) into `bytes`, when all were fetched.
  bool first_bytes(long size, std::string& bytes) const {
    const HTTP_range* h = held_at(0);
    bytes.resize(static_cast<size_t>(size));
    return h != nullptr && h->end >= size && IO_read_whole(spool_, bytes.data(), size, 0) == 0;
  }
  bool seekable() const override { return true; }
  long start() const override { return 0; }
  long size() const override { return size_; }
  long read(char* to, size_t size, long at) override;
  const HTTP_result& failure() const { return failure_; }

 private:
  bool get(const std::vector<HTTP_range>& ranges);
  bool open_tail();
  bool pull(long upto);
  void hold(long from, long to);
  const HTTP_range* held_at(long at) const;
  bool fail(const HTTP_result& r) {
    failure_ = r;
    return false;
  }

  HTTP_session& session_;
  const std::string& url_;
  int spool_;
  long tail_;
  long size_ = -1;                  // the file's, once an answer gave it
  std::vector<HTTP_range> held_;    // what the spool holds, ascending, apart
  std::unique_ptr<HTTP_stream> stream_;  // the tail
  long pulled_;                     // the tail is held up to here
  bool ended_ = false;              // ... which is its end
  std::string block_;               // pulled bytes on their way to the spool
  HTTP_result failure_;
};

long RangeBytes::read(char* to, size_t size, long at) {
  long want = static_cast<long>(size);
  if (!failure_.ok()) return errno = EIO, -1;
  if (size_ >= 0 && at >= size_) return 0;
  if (at >= tail_) {
    if (!pull(at + want)) return errno = EIO, -1;
  } else if (held_at(at) == nullptr) {
    long end = std::min({at + std::min(want, kAsked), tail_, size_ >= 0 ? size_ : LONG_MAX});
    if (!get({{at, end}})) return errno = EIO, -1;
  }
  const HTTP_range* h = held_at(at);
  if (h == nullptr) return 0;  // the end of the file
  long n = std::min(want, h->end - at);
  if (int err = IO_read_whole(spool_, to, n, at)) return errno = err, -1;
  return n;
}

bool RangeBytes::get(const std::vector<HTTP_range>& ranges) {
  int err = 0;
  HTTP_result r = HTTP_get_ranges(session_, url_, ranges, [&](long at, std::string_view bytes) {
    if (!FILE_write_at(spool_, bytes.data(), static_cast<long>(bytes.size()), at)) return !(err = errno);
    hold(at, at + static_cast<long>(bytes.size()));
    return true;
  });
  if (err != 0) return fail(spool_failure(err));
  if (!r.ok()) return fail(r);
  if (r.size >= 0) size_ = r.size;
  return true;
}

bool RangeBytes::open_tail() {
  HTTP_result r = HTTP_open_stream(session_, url_, tail_, stream_);
  if (!r.ok()) return fail(r);
  if (r.size >= 0) size_ = r.size;
  return true;
}

// Pulls the tail into the spool until it is held up to `upto` or ends.
bool RangeBytes::pull(long upto) {
  block_.resize(kPull);
  while (pulled_ < upto && !ended_) {
    size_t n = std::fread(block_.data(), 1, block_.size(), stream_->file());
    if (n > 0 && !FILE_write_at(spool_, block_.data(), static_cast<long>(n), pulled_)) return fail(spool_failure(errno));
    hold(pulled_, pulled_ + static_cast<long>(n));
    pulled_ += static_cast<long>(n);
    ended_ = n < block_.size();
    if (std::ferror(stream_->file())) return fail(stream_->result());
  }
  return true;
}

void RangeBytes::hold(long from, long to) {
  if (from >= to) return;
  auto at = std::lower_bound(held_.begin(), held_.end(), from, [](const HTTP_range& r, long p) { return r.end < p; });
  auto last = at;
  while (last != held_.end() && last->begin <= to) {
    from = std::min(from, last->begin);
    to = std::max(to, last->end);
    ++last;
  }
  at = held_.erase(at, last);
  held_.insert(at, {from, to});
}

const HTTP_range* RangeBytes::held_at(long at) const {
  auto h = std::upper_bound(held_.begin(), held_.end(), at, [](long p, const HTTP_range& r) { return p < r.begin; });
  return h != held_.begin() && at < (h - 1)->end ? &*(h - 1) : nullptr;
}

// A remote data file read whole, in order, as one stream: a file's bytes
// (its size is known), not a pipe's.
class StreamBytes : public hdr::ByteSource {
 public:
  StreamBytes(FILE* file, long size) : file_(file), size_(size) {}
  bool seekable() const override { return false; }
  long start() const override { return 0; }
  long size() const override { return size_; }
  long read(char* to, size_t size, long) override {
    size_t n = std::fread(to, 1, size, file_);
    return std::ferror(file_) ? -1 : static_cast<long>(n);
  }

 private:
  FILE* file_;
  long size_;
};

// The start of a data file, up to its first record's lines, kept beside
// its header file's cached copy: the walk reads it to learn the file's
// kind of start, which the server is then not asked for each time. A data
// file only grows, and one written anew gets its header file written anew,
// whose renewed copy drops it. Small: it serves files that begin with a
// product.
class KeptStart {
 public:
  static constexpr long kMost = 64 * 1024;

  KeptStart(const HeaderOpened& h, const std::string& url)
      : path_(h.copy.empty() ? "" : h.copy + ".start"), url_(url) {
    if (h.renewed) drop();
  }
  // The first `size` bytes of the data file into `bytes`, if kept for it.
  bool load(long size, std::string& bytes) const {
    std::string kept = path_.empty() || size > kMost ? "" : read_kept();
    size_t at = url_.size() + 1;
    if (kept.size() < at + size || kept.compare(0, at, url_ + "\n") != 0) return false;
    bytes = kept.substr(at, size);
    return true;
  }
  // Keeps `bytes`, the file's first ones, written aside and renamed into place.
  void save(std::string_view bytes) const {
    if (path_.empty() || static_cast<long>(bytes.size()) > kMost) return;
    std::string temp = path_ + ".XXXXXX";
    FILE_fd fd(::mkostemp(temp.data(), O_CLOEXEC));
    std::string text = url_ + "\n" + std::string(bytes);
    bool ok = fd.get() >= 0 && FILE_write_at(fd.get(), text.data(), static_cast<long>(text.size()), 0) &&
              fd.close() == 0 && ::rename(temp.c_str(), path_.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
  }
  void drop() const {
    if (!path_.empty()) ::unlink(path_.c_str());
  }

 private:
  std::string read_kept() const {
    FILE_fd fd(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || st.st_size > kMost + static_cast<long>(url_.size()) + 1)
      return "";
    std::string text(static_cast<size_t>(st.st_size), '\0');
    return IO_read_whole(fd.get(), text.data(), st.st_size, 0) == 0 ? text : "";
  }

  std::string path_;
  const std::string& url_;
};

// ---- One data file ---------------------------------------------------------------

const PROG_header_use kQuietUse = {false, "scanning the data file", M_none};
const PROG_header_use kSayUse = {false, "scanning the data file", M_warn};

// The steps of one remote data file: its header file opened, the plan made
// from it, the walk through it over the planned ranges, and the scan of
// the whole file as a stream where it cannot be used. Nothing is said of
// the header file before the data file is known to be there, as a local
// data file is opened first.
class RemoteFile {
 public:
  RemoteFile(Remote& remote, const FILE_named& data, const PG_options& options)
      : remote_(remote), data_(data), url_(data.name), options_(options),
        find_{options.patterns, options.output == PG_output::text && !options.patterns.any()} {}

  PROG_done run();

 private:
  enum class Header { usable, unused, whole, unfit };
  Header open_header();
  bool through_header(const Plan& plan, PROG_done& done);
  PROG_done through_stream(Header header);
  bool scan_instead(const HTTP_result& r, PROG_done& done);
  bool written(Writer& writer, bool fetched, int data_error, PROG_done& done);
  PROG_done missing();
  PROG_done unreadable(const std::string& reason);

  Remote& remote_;
  const FILE_named& data_;
  const std::string& url_;
  const PG_options& options_;
  FindOptions find_;
  std::string hdrname_;
  HeaderOpened header_;
  Plan plan_;
  Progress progress_;
};

PROG_done RemoteFile::run() {
  Header header = open_header();
  if (header == Header::usable && !remote_.ignores_ranges(url_)) {
    PROG_done done;
    if (!through_header(plan_, done)) return done;
  }
  return through_stream(header);
}

RemoteFile::Header RemoteFile::open_header() {
  if (!PROG_header_name(data_, hdrname_, kQuietUse)) return Header::unused;
  header_ = open_header_file(remote_, hdrname_);
  if (header_.fd.get() < 0) return Header::unused;
  Outcome read = plan_ranges(header_.fd.get(), options_.patterns, remote_.session().options().merge_gap, plan_);
  if (!read.ok()) {
    header_.reason = read.reason();
    return Header::unused;
  }
  return plan_.unfit ? Header::unfit : plan_.whole ? Header::whole : Header::usable;
}

// The walk through the header file over the planned ranges. False when it
// is done, with `done`; true when the data file is to be scanned instead.
bool RemoteFile::through_header(const Plan& plan, PROG_done& done) {
  int spool = remote_.spool();
  if (spool < 0) return done = unreadable(spool_failure(errno).reason), false;
  RangeBytes bytes(remote_.session(), url_, spool, plan.tail);
  KeptStart kept(header_, url_);
  std::vector<HTTP_range> ranges = plan.ranges;
  std::string start;
  bool loaded = plan.start > 0 && kept.load(plan.start, start);
  if (loaded) bytes.preload(start);
  else if (plan.start > 0) ranges.push_back({0, plan.start});
  HTTP_result r = bytes.fetch(ranges);
  if (!r.ok()) return scan_instead(r, done);
  long block = data_block(options_.output, true);
  hdr::DataSource src(bytes, block);
  Writer writer(src, block, options_.output, options_.out, url_);
  bool used = find_through_header(src, block, writer, header_.fd.get(), hdrname_, find_, url_, progress_);
  if (!used || !bytes.failure().ok()) kept.drop();
  else if (!loaded && plan.start > 0 && bytes.first_bytes(plan.start, start)) kept.save(start);
  if (!written(writer, bytes.failure().ok(), src.error(), done)) return false;
  if (!bytes.failure().ok()) return scan_instead(bytes.failure(), done);
  return !used;
}

// After the failure `r` of a request for the walk through the header
// file: true when the data file is to be scanned instead (the file
// changed, or the server ignores byte ranges), else false with `done`.
bool RemoteFile::scan_instead(const HTTP_result& r, PROG_done& done) {
  switch (r.code) {
    case HTTP_code::changed:
      MESS_print(M_warn, "Header file does not match the data file: %s, scanning the data file\n",
                 hdrname_.c_str());
      return true;
    case HTTP_code::no_ranges:
      remote_.note_no_ranges(url_);
      return true;
    case HTTP_code::missing:
      done = progress_.handed_on == 0 ? missing() : unreadable(r.reason);
      return false;
    default:
      done = unreadable(r.reason);
      return false;
  }
}

// The data file read through as one stream and scanned, after what
// `header` says of its header file once the file is there.
PROG_done RemoteFile::through_stream(Header header) {
  std::unique_ptr<HTTP_stream> stream;
  HTTP_result r = HTTP_open_stream(remote_.session(), url_, 0, stream);
  if (r.code == HTTP_code::missing && progress_.handed_on == 0) return missing();
  if (!r.ok()) return unreadable(r.reason);
  if (header == Header::unfit)
    MESS_print(M_warn, "Header file does not match the data file: %s, scanning the data file\n",
               hdrname_.c_str());
  if (header == Header::unused) {
    if (hdrname_.empty()) PROG_header_name(data_, hdrname_, kSayUse);  // says why there is none
    say_header_unused(data_, hdrname_, header_);
  }
  StreamBytes bytes(stream->file(), r.size);
  long block = data_block(options_.output, false);
  hdr::DataSource src(bytes, block);
  Writer writer(src, block, options_.output, options_.out, url_);
  scan_products(src, block, writer, find_, url_, progress_);
  PROG_done done;
  if (!written(writer, stream->result().ok(), src.error(), done)) return done;
  return stream->result().ok() ? done : unreadable(stream->result().reason);
}

// Writes what `writer` gathered, and sets `done` to the products chosen so
// far. False, said, when the output failed (the run stops) or, after
// requests that went well (`fetched`), reading the fetched bytes
// (`data_error`) did; a failed request is the caller's to say.
bool RemoteFile::written(Writer& writer, bool fetched, int data_error, PROG_done& done) {
  writer.flush();
  Outcome wrote = writer.outcome();
  if (wrote.code == kWriteFailed) {
    MESS_print(M_error, "Unable to write output file: %s (%s)\n", options_.out_name.c_str(), wrote.reason());
    done = {PG_ERROR, true};
    return false;
  }
  if (fetched && (data_error != 0 || !wrote.ok())) {
    done = unreadable(std::strerror(data_error != 0 ? data_error : wrote.error));
    return false;
  }
  done = {progress_.handed_on > 0 ? PG_WRITTEN : PG_NONE};
  return true;
}

PROG_done RemoteFile::missing() {
  MESS_print(data_.in_series ? M_mess : M_warn, "No data file %s\n", url_.c_str());
  return {data_.in_series ? PG_NONE : PG_ERROR};
}

PROG_done RemoteFile::unreadable(const std::string& reason) {
  MESS_print(M_error, "Unable to read file: %s (%s)\n", url_.c_str(), reason.c_str());
  return {PG_ERROR};
}

}  // namespace

PROG_done get_remote_file(Remote& remote, const FILE_named& data, const PG_options& options) {
  return RemoteFile(remote, data, options).run();
}

}  // namespace pg
