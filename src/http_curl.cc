// The requests of the http module, with libcurl. Every request of a
// session runs on the session's multi handle, so that its connection
// cache (keep-alive) serves them all, and so that a stream can be pulled
// block by block: the stream's transfer is paused when the caller has not
// taken what came, which keeps its memory fixed.
#include "http.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <strings.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <type_traits>

namespace {

// Stream bytes held beyond what the reader has asked for.
constexpr size_t kStreamHeld = 256 * 1024;
constexpr long kReceive = 256 * 1024;  // bytes received at a time
constexpr long kToEnd = LONG_MAX;  // a range's end that reaches to the end of the file

// libcurl is loaded when the first request is made, not when the program
// starts: with the libraries it stands on (TLS, Kerberos, LDAP ...) it
// costs every local run some 13 ms and 8 MiB that only URLs need.
struct Api {
  std::string error;  // why it could not be loaded; empty when it was
  decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
  decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
  decltype(&curl_easy_init) easy_init = nullptr;
  decltype(&curl_easy_pause) easy_pause = nullptr;
  decltype(&curl_easy_setopt) easy_setopt = nullptr;
  decltype(&curl_easy_strerror) easy_strerror = nullptr;
  decltype(&curl_global_init) global_init = nullptr;
  decltype(&curl_multi_add_handle) multi_add_handle = nullptr;
  decltype(&curl_multi_cleanup) multi_cleanup = nullptr;
  decltype(&curl_multi_info_read) multi_info_read = nullptr;
  decltype(&curl_multi_init) multi_init = nullptr;
  decltype(&curl_multi_perform) multi_perform = nullptr;
  decltype(&curl_multi_poll) multi_poll = nullptr;
  decltype(&curl_multi_remove_handle) multi_remove_handle = nullptr;
};

Api load_api() {
  Api a;
  void* lib = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    a.error = std::string("cannot load libcurl: ") + dlerror();
    return a;
  }
  auto take = [&](auto& fn, const char* name) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(lib, name));
    if (fn == nullptr && a.error.empty()) a.error = std::string("cannot load libcurl: no ") + name;
  };
  take(a.easy_cleanup, "curl_easy_cleanup");
  take(a.easy_getinfo, "curl_easy_getinfo");
  take(a.easy_init, "curl_easy_init");
  take(a.easy_pause, "curl_easy_pause");
  take(a.easy_setopt, "curl_easy_setopt");
  take(a.easy_strerror, "curl_easy_strerror");
  take(a.global_init, "curl_global_init");
  take(a.multi_add_handle, "curl_multi_add_handle");
  take(a.multi_cleanup, "curl_multi_cleanup");
  take(a.multi_info_read, "curl_multi_info_read");
  take(a.multi_init, "curl_multi_init");
  take(a.multi_perform, "curl_multi_perform");
  take(a.multi_poll, "curl_multi_poll");
  take(a.multi_remove_handle, "curl_multi_remove_handle");
  if (a.error.empty() && a.global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) a.error = "cannot start libcurl";
  return a;
}

// The library's calls, loaded on first use (never unloaded).
const Api& api() {
  static const Api loaded = load_api();
  return loaded;
}

struct EasyFree {
  void operator()(CURL* easy) const { api().easy_cleanup(easy); }
};
struct MultiFree {
  void operator()(CURLM* multi) const { api().multi_cleanup(multi); }
};
using Easy = std::unique_ptr<CURL, EasyFree>;
using Multi = std::unique_ptr<CURLM, MultiFree>;

HTTP_result failure(HTTP_code code, std::string reason) { return {code, std::move(reason), -1}; }

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

void sleep_ms(long ms) {
  timespec wait{ms / 1000, (ms % 1000) * 1000000};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

}  // namespace

struct HTTP_session::Impl {
  HTTP_options options;
  // The servers given up on (scheme, host and port), with the reason.
  std::map<std::string, std::string> given_up;

  // The multi handle, made with the first request (libcurl loaded).
  CURLM* multi() {
    if (!multi_) multi_.reset(api().multi_init());
    return multi_.get();
  }

 private:
  Multi multi_;
};

HTTP_session::HTTP_session(const HTTP_options& options) : impl_(std::make_unique<Impl>()) {
  impl_->options = options;
}

HTTP_session::~HTTP_session() = default;

const HTTP_options& HTTP_session::options() const { return impl_->options; }

namespace {

// ---- One request -------------------------------------------------------------

// Takes body bytes of a good answer: returns the count taken, 0 to stop
// the transfer, or CURL_WRITEFUNC_PAUSE to hold them until resumed.
using Sink = std::function<size_t(const char* data, size_t size)>;

// One GET (or HEAD) of the bytes [from, end) of a file, run on the
// session's multi handle. Only a 200 answer to a request without Range, or
// a 206 that begins at `from`, reaches the sink.
class Transfer {
 public:
  Transfer(HTTP_session::Impl& session, const std::string& url, long from, long end, bool head,
           Sink sink)
      : session_(session), easy_(api().easy_init()), from_(from), sink_(std::move(sink)) {
    const HTTP_options& o = session.options;
    CURL* e = easy_.get();
    error_[0] = '\0';
    api().easy_setopt(e, CURLOPT_URL, url.c_str());
    api().easy_setopt(e, CURLOPT_PRIVATE, this);
#if LIBCURL_VERSION_NUM >= 0x075500
    api().easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    api().easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#else
    api().easy_setopt(e, CURLOPT_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS);
    api().easy_setopt(e, CURLOPT_REDIR_PROTOCOLS, CURLPROTO_HTTP | CURLPROTO_HTTPS);
#endif
    api().easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    api().easy_setopt(e, CURLOPT_MAXREDIRS, o.max_redirects);
    api().easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, o.connect_timeout_ms);
    api().easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, o.low_speed_bytes);
    api().easy_setopt(e, CURLOPT_LOW_SPEED_TIME, o.low_speed_seconds);
    api().easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    api().easy_setopt(e, CURLOPT_BUFFERSIZE, kReceive);
    api().easy_setopt(e, CURLOPT_ERRORBUFFER, error_);
    api().easy_setopt(e, CURLOPT_HEADERFUNCTION, &Transfer::on_header);
    api().easy_setopt(e, CURLOPT_HEADERDATA, this);
    api().easy_setopt(e, CURLOPT_WRITEFUNCTION, &Transfer::on_body);
    api().easy_setopt(e, CURLOPT_WRITEDATA, this);
    if (head) api().easy_setopt(e, CURLOPT_NOBODY, 1L);
    ranged_ = from > 0 || end != kToEnd;
    if (ranged_) {
      range_ = std::to_string(from) + "-" + (end != kToEnd ? std::to_string(end - 1) : "");
      api().easy_setopt(e, CURLOPT_RANGE, range_.c_str());
    }
    api().multi_add_handle(session_.multi(), e);
  }
  ~Transfer() { api().multi_remove_handle(session_.multi(), easy_.get()); }
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;

  bool done() const { return done_; }
  // It ended by its connection or a time-out: the server did not answer.
  bool unanswered() const { return done_ && stop_ == Stop::none && code_ != CURLE_OK && transient(code_); }
  // The answer is known good and its body is coming, or the transfer ended.
  bool answered() const { return good_ || done_; }
  long taken() const { return taken_; }
  void resume() { api().easy_pause(easy_.get(), CURLPAUSE_CONT); }

  // Runs the session's transfers until `until` holds or this one ends.
  void run(const std::function<bool()>& until) {
    CURLM* multi = session_.multi();
    for (;;) {
      int running = 0;
      api().multi_perform(multi, &running);
      int left = 0;
      while (CURLMsg* msg = api().multi_info_read(multi, &left)) {
        if (msg->msg != CURLMSG_DONE) continue;
        char* owner = nullptr;
        api().easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &owner);
        auto* t = reinterpret_cast<Transfer*>(owner);
        t->done_ = true;
        t->code_ = msg->data.result;
      }
      if (done_ || until()) return;
      api().multi_poll(multi, nullptr, 0, 1000, nullptr);
    }
  }

  // What the ended transfer came to; `retry` says whether trying again may help.
  HTTP_result outcome(bool& retry) const {
    retry = false;
    switch (stop_) {
      case Stop::caller:
        return {};
      case Stop::no_ranges:
        return failure(HTTP_code::no_ranges, "the server ignores byte ranges");
      case Stop::wrong_range:
        return failure(HTTP_code::error, "the server sent bytes from " + std::to_string(range_begin_) +
                                             ", not from " + std::to_string(from_));
      case Stop::none:
        break;
    }
    if (code_ != CURLE_OK) {
      retry = transient(code_);
      return failure(HTTP_code::error, error_[0] != '\0' ? error_ : api().easy_strerror(code_));
    }
    long status = status_;
    if (status == 0) api().easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
    std::string said = "HTTP status " + std::to_string(status);
    if (status == 404 || status == 410) return failure(HTTP_code::missing, said);
    if (status == 416) return failure(HTTP_code::changed, "the file changed (" + said + ")");
    if (status == 200 && ranged_) return failure(HTTP_code::no_ranges, "the server ignores byte ranges");
    if (status != 200 && status != 206) {
      retry = status >= 500;
      return failure(HTTP_code::error, said);
    }
    HTTP_result ok;
    ok.size = total_;
    curl_off_t length = -1;
    if (status == 200 && api().easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK)
      ok.size = static_cast<long>(length);
    return ok;
  }

 private:
  enum class Stop { none, caller, no_ranges, wrong_range };

  static bool transient(CURLcode code) {
    switch (code) {
      case CURLE_COULDNT_CONNECT:
      case CURLE_OPERATION_TIMEDOUT:
      case CURLE_SEND_ERROR:
      case CURLE_RECV_ERROR:
      case CURLE_GOT_NOTHING:
      case CURLE_PARTIAL_FILE:
      case CURLE_SSL_CONNECT_ERROR:
      case CURLE_HTTP2:
      case CURLE_HTTP2_STREAM:
        return true;
      default:
        return false;
    }
  }

  static size_t on_header(char* data, size_t, size_t size, void* self) {
    auto* t = static_cast<Transfer*>(self);
    std::string_view line(data, size);
    if (starts_with_nocase(line, "http/")) {  // a new answer (after a redirect, say)
      t->range_begin_ = t->total_ = -1;
    } else if (starts_with_nocase(line, "content-range:")) {
      // "bytes FIRST-LAST/TOTAL", or "bytes */TOTAL"; TOTAL may be "*"
      std::string value(line.substr(14));
      long first = -1, last = -1, total = -1;
      if (std::sscanf(value.c_str(), " bytes %ld-%ld/%ld", &first, &last, &total) >= 2) {
        t->range_begin_ = first;
        t->total_ = total;
      } else if (std::sscanf(value.c_str(), " bytes */%ld", &total) == 1) {
        t->total_ = total;
      }
    }
    return size;
  }

  static size_t on_body(char* data, size_t, size_t size, void* self) {
    auto* t = static_cast<Transfer*>(self);
    if (!t->checked_) {
      t->checked_ = true;
      api().easy_getinfo(t->easy_.get(), CURLINFO_RESPONSE_CODE, &t->status_);
      if (t->status_ == 200 && t->ranged_) return t->stop(Stop::no_ranges);
      if (t->status_ == 206 && t->range_begin_ != t->from_) return t->stop(Stop::wrong_range);
      t->good_ = t->status_ == 200 || t->status_ == 206;
    }
    if (!t->good_) return size;  // an error page: not the file's bytes
    size_t took = t->sink_(data, size);
    if (took == CURL_WRITEFUNC_PAUSE) return took;
    if (took != size) return t->stop(Stop::caller);
    t->taken_ += static_cast<long>(size);
    return size;
  }

  size_t stop(Stop why) {
    stop_ = why;
    return 0;  // curl ends the transfer with a write error
  }

  HTTP_session::Impl& session_;
  Easy easy_;
  long from_;
  Sink sink_;
  bool ranged_ = false;
  std::string range_;
  char error_[CURL_ERROR_SIZE];
  bool checked_ = false, good_ = false, done_ = false;
  Stop stop_ = Stop::none;
  CURLcode code_ = CURLE_OK;
  long status_ = 0;
  long range_begin_ = -1, total_ = -1;
  long taken_ = 0;
};

// Gives up after `attempts` failures in a row that may pass, adding the
// count to the reason; true when one more try is due (after its wait).
bool again(const HTTP_options& o, bool retry, int& failures, long progress, HTTP_result& r) {
  if (!retry) return false;
  if (progress > 0) failures = 0;
  if (++failures < o.attempts) {
    sleep_ms(o.backoff_ms << (failures - 1));
    return true;
  }
  if (failures > 1) r.reason += "; " + std::to_string(failures) + " attempts";
  return false;
}

// Whether no request is to be made for `url`: libcurl cannot be loaded, or
// its server was given up on; `r` is then the failure.
bool no_request(const HTTP_session::Impl& s, const std::string& url, HTTP_result& r) {
  if (!api().error.empty()) {  // no request can be made at all
    r = failure(HTTP_code::unsupported, api().error);
    return true;
  }
  auto at = s.given_up.find(HTTP_server(url));
  if (at == s.given_up.end()) return false;
  r = failure(HTTP_code::error, "server given up earlier: " + at->second);
  return true;
}

// After the failure `r` of a request that `t` ended: a server that did not
// answer is given up on, when the session does that.
void note_failure(HTTP_session::Impl& s, const std::string& url, const Transfer& t, const HTTP_result& r) {
  if (s.options.give_up_on_silent_servers && t.unanswered()) s.given_up.emplace(HTTP_server(url), r.reason);
}

// Fetches the bytes [from, end) (end kToEnd: to the end of the file),
// trying again from the byte reached; `take` gets them in order and
// returns false to stop. Bytes missing before a bounded end: changed.
HTTP_result fetch(HTTP_session::Impl& s, const std::string& url, long from, long end, bool head,
                  const std::function<bool(long offset, const char*, size_t)>& take) {
  long next = from;
  int failures = 0;
  HTTP_result down;
  if (no_request(s, url, down)) return down;
  for (;;) {
    bool stopped = false;
    Transfer t(s, url, next, end, head, [&](const char* data, size_t size) -> size_t {
      if (!take(next, data, size)) return stopped = true, 0;
      next += static_cast<long>(size);
      return size;
    });
    t.run([] { return false; });
    bool retry = false;
    HTTP_result r = t.outcome(retry);
    if (stopped || !again(s.options, retry, failures, t.taken(), r)) {
      note_failure(s, url, t, r);
      if (r.ok() && !stopped && !head && end != kToEnd && next < end)
        return failure(HTTP_code::changed, "the file changed: it ends at byte " + std::to_string(next) +
                                               ", before byte " + std::to_string(end));
      return r;
    }
    if (end != kToEnd && next >= end) return {};
  }
}

// ---- Ranges --------------------------------------------------------------------

// Asked ranges fetched by one request: [begin, end) holding the disjoint
// asked pieces, in order.
struct Span {
  long begin = 0, end = 0;
  std::vector<HTTP_range> pieces;
};

std::vector<Span> group_ranges(std::vector<HTTP_range> ranges, long gap) {
  for (auto& r : ranges)
    if (r.end == HTTP_TO_END) r.end = kToEnd;
  std::erase_if(ranges, [](const HTTP_range& r) { return r.begin < 0 || r.end <= r.begin; });
  std::sort(ranges.begin(), ranges.end(), [](auto& a, auto& b) { return a.begin < b.begin; });
  std::vector<Span> spans;
  for (const auto& r : ranges) {
    if (spans.empty() || r.begin - spans.back().end >= std::max(gap, 1L)) {
      spans.push_back({r.begin, r.end, {r}});
      continue;
    }
    Span& s = spans.back();
    if (r.begin <= s.pieces.back().end) s.pieces.back().end = std::max(s.pieces.back().end, r.end);
    else s.pieces.push_back(r);
    s.end = std::max(s.end, r.end);
  }
  return spans;
}

}  // namespace

bool HTTP_supported() { return api().error.empty(); }

HTTP_result HTTP_size(HTTP_session& session, const std::string& url) {
  HTTP_result r = fetch(session.impl(), url, 0, kToEnd, true, [](long, const char*, size_t) { return true; });
  if (r.ok() && r.size < 0) return failure(HTTP_code::error, "the server gave no size");
  return r;
}

HTTP_result HTTP_get_ranges(HTTP_session& session, const std::string& url,
                            const std::vector<HTTP_range>& ranges, const HTTP_bytes_fn& each) {
  HTTP_result r;
  for (const Span& span : group_ranges(ranges, session.options().merge_gap)) {
    size_t piece = 0;
    bool stopped = false;
    r = fetch(session.impl(), url, span.begin, span.end, false, [&](long at, const char* data, size_t size) {
      long stop = at + static_cast<long>(size);
      for (; piece < span.pieces.size() && span.pieces[piece].begin < stop; ++piece) {
        const HTTP_range& p = span.pieces[piece];
        long from = std::max(at, p.begin), to = std::min(stop, p.end);
        if (from < to && !each(from, std::string_view(data + (from - at), to - from))) return !(stopped = true);
        if (p.end > stop) break;  // the piece goes on in the next bytes
      }
      return true;
    });
    if (!r.ok() || stopped) return r;
  }
  return r;
}

// ---- Streams -------------------------------------------------------------------

struct HTTP_stream::Impl {
  HTTP_session::Impl& session;
  std::string url;
  long received;  // the offset after the last byte that came
  std::unique_ptr<Transfer> transfer;
  int failures = 0;
  HTTP_result result;
  FILE* file = nullptr;
  // What came before the reader asked for it.
  std::string held;
  size_t held_at = 0;
  bool paused = false;
  // The reader's buffer while a read waits.
  char* target = nullptr;
  size_t want = 0, got = 0;

  Impl(HTTP_session::Impl& s, std::string u, long from) : session(s), url(std::move(u)), received(from) {}

  void start() {
    transfer = nullptr;  // its handle leaves the multi handle first
    transfer = std::make_unique<Transfer>(session, url, received, kToEnd, false,
                                          [this](const char* data, size_t size) { return take(data, size); });
    paused = false;
  }

  size_t take(const char* data, size_t size) {
    if (held.size() - held_at >= kStreamHeld) {
      paused = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    held.erase(0, held_at);
    held_at = 0;
    size_t direct = std::min(size, want - got);  // straight into the reader's buffer
    if (direct > 0) std::memcpy(target + got, data, direct);
    got += direct;
    held.append(data + direct, size - direct);
    received += static_cast<long>(size);
    return size;
  }

  // Runs the transfer until the answer is known, trying again while that
  // may help. Returns the failure, or ok.
  HTTP_result settle() {
    for (;;) {
      transfer->run([this] { return transfer->answered(); });
      if (!transfer->done()) return {};
      bool retry = false;
      HTTP_result r = transfer->outcome(retry);
      if (!again(session.options, retry, failures, transfer->taken(), r)) {
        note_failure(session, url, *transfer, r);
        return r;
      }
      start();
    }
  }

  ssize_t read(char* to, size_t size) {
    if (held_at < held.size()) {
      size_t n = std::min(size, held.size() - held_at);
      std::memcpy(to, held.data() + held_at, n);
      held_at += n;
      if (held_at == held.size()) held.clear(), held_at = 0;
      return static_cast<ssize_t>(n);
    }
    if (!result.ok()) return errno = EIO, -1;
    target = to, want = size, got = 0;
    for (;;) {
      if (paused) paused = false, transfer->resume();
      // fread wants the whole block anyway: fill it while bytes come
      if (got < want) transfer->run([this] { return got == want; });
      if (got > 0 || !transfer->done()) break;
      HTTP_result r = settle();  // ended: a failure may be tried again
      if (!r.ok()) result = r;
      if (!r.ok() || transfer->done()) break;
    }
    target = nullptr, want = 0;
    if (got > 0) return static_cast<ssize_t>(got);
    if (!result.ok()) return errno = EIO, -1;
    return 0;
  }

  static ssize_t cookie_read(void* self, char* to, size_t size) {
    return size == 0 ? 0 : static_cast<Impl*>(self)->read(to, size);
  }
  // Only tells the position (ftell): the offset of the next byte to read.
  static int cookie_seek(void* self, off64_t* offset, int whence) {
    auto* s = static_cast<Impl*>(self);
    long at = s->received - static_cast<long>(s->held.size() - s->held_at);
    if ((whence == SEEK_CUR && *offset == 0) || (whence == SEEK_SET && *offset == at)) {
      *offset = at;
      return 0;
    }
    errno = ESPIPE;
    return -1;
  }
  static int cookie_close(void*) { return 0; }
};

HTTP_stream::HTTP_stream(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

HTTP_stream::~HTTP_stream() {
  if (impl_->file != nullptr) std::fclose(impl_->file);
}

FILE* HTTP_stream::file() const { return impl_->file; }

const HTTP_result& HTTP_stream::result() const { return impl_->result; }

HTTP_result HTTP_open_stream(HTTP_session& session, const std::string& url, long from,
                             std::unique_ptr<HTTP_stream>& stream) {
  stream.reset();
  HTTP_result r;
  if (no_request(session.impl(), url, r)) return r;
  auto impl = std::make_unique<HTTP_stream::Impl>(session.impl(), url, from);
  impl->start();
  r = impl->settle();
  if (!r.ok()) return r;
  bool retry = false;
  r = impl->transfer->outcome(retry);  // known once the answer is
  impl->result = r;
  cookie_io_functions_t io{&HTTP_stream::Impl::cookie_read, nullptr, &HTTP_stream::Impl::cookie_seek,
                           &HTTP_stream::Impl::cookie_close};
  impl->file = fopencookie(impl.get(), "r", io);
  if (impl->file == nullptr) return failure(HTTP_code::error, std::strerror(errno));
  stream = std::make_unique<HTTP_stream>(std::move(impl));
  return r;
}

