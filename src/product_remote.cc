// The remote header and data files: the run's HTTP state, the header
// source, the plan of byte ranges, the data file's bytes over the fetched
// ranges and as one stream, and the opening of one data file.
#include "product_remote.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <utility>

#include "header_records.h"
#include "io.h"
#include "mess.h"
#include "product_find.h"
#include "product_list.h"
#include "prog.h"
#include "resrc.h"

namespace pg {

namespace {

constexpr long kPull = 64 * 1024;   // tail bytes pulled from the stream at a time
constexpr long kAsked = 64 * 1024;  // the most fetched for one read outside the plan
constexpr long kConnectMs = 10000;  // the longest wait for a connection
// Fetched bytes are kept in a file for the walks through the header file,
// which read them back and forth; writing them costs more than fetching
// them (a GiB kept takes about three times curl's time on 127.0.0.1).
// Most of a data file is kept only up to this size.
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

Remote& remote_or_own(Remote* remote, std::unique_ptr<Remote>& own) {
  if (remote != nullptr) return *remote;
  own = std::make_unique<Remote>(HTTP_options(), HTTP_default_cache_dir());
  return *own;
}

HeaderOpened open_header_file(Remote* remote, const std::string& name) {
  HeaderOpened h;
  std::string path = name;
  if (HTTP_is_url(name)) {
    std::unique_ptr<Remote> own;
    Remote& run = remote_or_own(remote, own);
    HTTP_cached cached;
    HTTP_result r = HTTP_cache_header(run.session(), name, run.cache_dir(), cached);
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

// Plans from the header lines before the last record, as the walks take
// them: the first one, the chosen ones and the one after each chosen one
// (of the newest, the last `newest` chosen ones).
class Planner {
 public:
  Planner(const PAT_chooser& patterns, long newest, Plan& plan)
      : patterns_(patterns), newest_(newest), plan_(plan) {}

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
    if (pending_) add_chosen(begin_, pos + kRecordAfter);
    for (const HTTP_range& r : newest_chosen_) add(r.begin, r.end);
  }

 private:
  bool take_line(std::string_view line) {
    hdr::RecordParts r;
    if (!hdr::split_record(line, r)) return false;
    if (pending_) add_chosen(begin_, r.offset + kRecordAfter);
    pending_ = patterns_.chosen(r.heading, r.id);
    begin_ = r.offset - kRecordBefore;
    return true;
  }
  void add_chosen(long from, long to) {
    if (newest_ <= 0) return add(from, to);
    newest_chosen_.push_back({from, to});
    if (static_cast<long>(newest_chosen_.size()) > newest_) newest_chosen_.pop_front();
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
  long newest_;
  Plan& plan_;
  bool first_ = true, pending_ = false;
  long begin_ = 0;
  std::deque<HTTP_range> newest_chosen_;
};

}  // namespace

Outcome plan_ranges(int fd, const PAT_chooser& patterns, long newest, long gap, Plan& plan) {
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
  Planner planner(patterns, newest, plan);
  hdr::HeaderReader reader(fd, last.begin, kHeaderBlock);
  bool whole_lines = true;
  for (std::string_view lines; whole_lines && !(lines = reader.whole_lines()).empty();)
    whole_lines = planner.take(lines);
  if (!reader.outcome().ok()) return reader.outcome();
  planner.end(pos);
  // Most of a large file is read at less cost as one stream than kept for
  // the walks, without the header file.
  plan.whole = !last.found || (plan.tail > kKeptMost && 2 * covered(plan.ranges) > plan.tail);
  // A range close before the tail costs less in the tail's request than in
  // one of its own.
  std::sort(plan.ranges.begin(), plan.ranges.end(), [](auto& a, auto& b) { return a.begin < b.begin; });
  for (auto r = plan.ranges.rbegin(); r != plan.ranges.rend() && r->end + gap > plan.tail; ++r)
    plan.tail = std::min(plan.tail, r->begin);
  std::erase_if(plan.ranges, [&](const HTTP_range& r) { return r.begin >= plan.tail; });
  for (HTTP_range& r : plan.ranges) r.end = std::min(r.end, plan.tail);
  // The file's start apart, when no other range reads it: it may be known
  // already.
  auto start = std::find_if(plan.ranges.begin(), plan.ranges.end(),
                            [&](const HTTP_range& r) { return r.begin == 0 && r.end == plan.start; });
  bool apart = start != plan.ranges.end() && std::none_of(plan.ranges.begin(), plan.ranges.end(), [&](auto& r) {
    return &r != &*start && r.begin < plan.start;
  });
  if (apart) plan.ranges.erase(start);
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

}  // namespace

// A remote data file's bytes for the walks through its header file: the
// planned ranges, fetched before the walks; the bytes from the tail on,
// pulled from one stream as the walks reach them; and any other bytes
// fetched when the walks ask for them, as one stream from there once they
// read on in order (a scan that replaces the header file). All are kept
// in the run's unnamed file at their own offsets, so that the walks read
// them, back and forth, as they read a local file. A failed request ends
// the reading for good and is kept.
class RangeBytes : public hdr::ByteSource {
 public:
  RangeBytes(HTTP_session& session, const std::string& url, int spool, long tail)
      : session_(session), url_(url), spool_(spool), tail_(tail) {}

  // Takes `bytes` as the file's first ones until the walks read past
  // them: they serve the start kind's search alone, never a scan.
  void lend(std::string_view bytes) {
    if (!FILE_write_at(spool_, bytes.data(), static_cast<long>(bytes.size()), 0)) return;
    lent_ = static_cast<long>(bytes.size());
    hold(0, lent_);
  }
  // Fetches `ranges` and opens the stream of the tail: ok, or the failure.
  HTTP_result fetch(const std::vector<HTTP_range>& ranges) {
    if ((!ranges.empty() && !get(ranges)) || !open_tail(tail_)) return failure_;
    return {};
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
  bool open_tail(long from);
  bool pull(long upto);
  void hold(long from, long to);
  void unhold(long from, long to);
  const HTTP_range* held_at(long at) const;
  bool fail(const HTTP_result& r) {
    failure_ = r;
    return false;
  }

  HTTP_session& session_;
  const std::string& url_;
  int spool_;
  long tail_;
  long size_ = -1;                // the file's, once an answer gave it
  std::vector<HTTP_range> held_;  // what the spool holds, ascending, apart
  long lent_ = 0;                 // [0, lent_) held until the walks read past it
  long asked_end_ = -1;           // where the last bytes asked for outside the plan end
  std::unique_ptr<HTTP_stream> stream_;  // the tail
  long pulled_ = 0;               // the tail is held up to here
  bool ended_ = false;            // ... which is its end
  std::string block_;             // pulled bytes on their way to the spool
  HTTP_result failure_;
};

long RangeBytes::read(char* to, size_t size, long at) {
  long want = static_cast<long>(size);
  if (!failure_.ok()) return errno = EIO, -1;
  if (lent_ > 0 && at >= lent_) unhold(0, std::exchange(lent_, 0));
  if (size_ >= 0 && at >= size_) return 0;
  bool ok = true;
  if (at < tail_ && held_at(at) == nullptr && at == asked_end_) ok = open_tail(at);  // read on in order
  if (!ok) return errno = EIO, -1;
  if (at >= tail_) {
    ok = pull(at + want);
  } else if (held_at(at) == nullptr) {
    asked_end_ = std::min({at + std::min(want, kAsked), tail_, size_ >= 0 ? size_ : LONG_MAX});
    ok = get({{at, asked_end_}});
  }
  if (!ok) return errno = EIO, -1;
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

// Opens the stream of the bytes from `from` on, the new tail.
bool RangeBytes::open_tail(long from) {
  stream_.reset();
  HTTP_result r = HTTP_open_stream(session_, url_, from, stream_);
  if (!r.ok()) return fail(r);
  if (r.size >= 0) size_ = r.size;
  tail_ = pulled_ = from;
  ended_ = false;
  return true;
}

// Pulls the tail into the spool until it is held up to `upto` or ends.
bool RangeBytes::pull(long upto) {
  block_.resize(kPull);
  while (pulled_ < upto && !ended_) {
    size_t n = std::fread(block_.data(), 1, block_.size(), stream_->file());
    if (n > 0 && !FILE_write_at(spool_, block_.data(), static_cast<long>(n), pulled_))
      return fail(spool_failure(errno));
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
  for (; last != held_.end() && last->begin <= to; ++last) {
    from = std::min(from, last->begin);
    to = std::max(to, last->end);
  }
  held_.insert(held_.erase(at, last), {from, to});
}

void RangeBytes::unhold(long from, long to) {
  std::vector<HTTP_range> kept;
  for (const HTTP_range& r : held_) {
    if (r.begin < from) kept.push_back({r.begin, std::min(r.end, from)});
    if (r.end > to) kept.push_back({std::max(r.begin, to), r.end});
  }
  held_ = std::move(kept);
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

namespace {

// The start of a data file, up to its first record's lines, kept beside
// its header file's cached copy: the walks read it to learn the file's
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

const PROG_header_use kQuietUse = {false, "scanning the data file", M_none};
const PROG_header_use kSayUse = {false, "scanning the data file", M_warn};

}  // namespace

// ---- One data file ---------------------------------------------------------------

RemoteData::RemoteData(Remote& remote, const FILE_named& data, const PAT_chooser& patterns, long newest)
    : remote_(remote), data_(data), patterns_(patterns), newest_(newest) {}

RemoteData::~RemoteData() = default;

hdr::ByteSource& RemoteData::bytes() {
  if (walk_header_) return *ranges_;
  return *streamed_;
}

int RemoteData::header() const { return walk_header_ ? header_.fd.get() : -1; }

std::string RemoteData::failure() const {
  if (walk_header_) return ranges_->failure().reason;
  return stream_ ? stream_->result().reason : "";
}

Outcome RemoteData::open() {
  Header header = open_header();
  if (header == Header::usable && !remote_.ignores_ranges(data_.name)) {
    bool scan = false;
    Outcome done = through_header(scan);
    if (!scan) return done;
  }
  return through_stream(header);
}

// Names the header file (saying nothing yet) and opens it, and plans from it.
RemoteData::Header RemoteData::open_header() {
  if (!PROG_header_name(data_, hdrname_, kQuietUse)) return Header::unused;
  header_ = open_header_file(&remote_, hdrname_);
  if (header_.fd.get() < 0) return Header::unused;
  Outcome read = plan_ranges(header_.fd.get(), patterns_, newest_, remote_.session().options().merge_gap, plan_);
  if (!read.ok()) {
    header_.reason = read.reason();
    return Header::unused;
  }
  return plan_.unfit ? Header::unfit : plan_.whole ? Header::whole : Header::usable;
}

// Fetches the planned ranges for the walks through the header file; sets
// `scan` when the data file is to be scanned instead.
Outcome RemoteData::through_header(bool& scan) {
  int spool = remote_.spool();
  if (spool < 0) return unreadable(spool_failure(errno).reason);
  ranges_ = std::make_unique<RangeBytes>(remote_.session(), data_.name, spool, plan_.tail);
  KeptStart kept(header_, data_.name);
  std::vector<HTTP_range> ranges = plan_.ranges;
  std::string start;
  bool lent = plan_.start > 0 && kept.load(plan_.start, start);
  if (lent) ranges_->lend(start);
  else if (plan_.start > 0) ranges.push_back({0, plan_.start});
  HTTP_result r = ranges_->fetch(ranges);
  if (r.ok() && !lent && plan_.start > 0 && ranges_->first_bytes(plan_.start, start)) kept.save(start);
  walk_header_ = r.ok();
  scan = r.code == HTTP_code::changed || r.code == HTTP_code::no_ranges;
  if (r.code == HTTP_code::changed) {
    kept.drop();
    MESS_print(M_warn, "Header file does not match the data file: %s, scanning the data file\n",
               hdrname_.c_str());
  }
  if (r.code == HTTP_code::no_ranges) remote_.note_no_ranges(data_.name);
  if (r.ok() || scan) return {};
  if (r.code != HTTP_code::missing) return unreadable(r.reason);
  MESS_print(data_.in_series ? M_mess : M_warn, "No data file %s\n", data_.name.c_str());
  return Outcome::failed(PL_MISSING, ENOENT);
}

// Opens the data file as one stream, then says what `header` says of its
// header file.
Outcome RemoteData::through_stream(Header header) {
  HTTP_result r = HTTP_open_stream(remote_.session(), data_.name, 0, stream_);
  if (r.code == HTTP_code::missing) {
    MESS_print(data_.in_series ? M_mess : M_warn, "No data file %s\n", data_.name.c_str());
    return Outcome::failed(PL_MISSING, ENOENT);
  }
  if (!r.ok()) return unreadable(r.reason);
  if (header == Header::unfit)
    MESS_print(M_warn, "Header file does not match the data file: %s, scanning the data file\n",
               hdrname_.c_str());
  if (header == Header::unused) {
    if (hdrname_.empty()) PROG_header_name(data_, hdrname_, kSayUse);  // says why there is none
    say_header_unused(data_, hdrname_, header_);
  }
  streamed_ = std::make_unique<StreamBytes>(stream_->file(), r.size);
  return {};
}

Outcome RemoteData::unreadable(const std::string& reason) const {
  MESS_print(M_error, "Unable to read file: %s (%s)\n", data_.name.c_str(), reason.c_str());
  return Outcome::failed(PL_UNREADABLE, EIO);
}

}  // namespace pg
