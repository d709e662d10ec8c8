// Reading published files over HTTP: what does not depend on the
// transport. URLs are told from file names here, and header files are
// cached here on top of HTTP_get_ranges; http_curl.cc (libcurl) or
// http_stub.cc (a build without it) does the requests.
#include "http.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

// Cached header bytes asked for again: a few records, enough to tell a
// header file that grew from one written anew.
constexpr long kOverlap = 512;
constexpr size_t kCopyBlock = 256 * 1024;

HTTP_result failure(std::string reason) { return {HTTP_code::error, std::move(reason), -1}; }

}  // namespace

std::string HTTP_server(std::string_view url) {
  size_t scheme = url.find("://");
  std::string server(url.substr(0, url.find_first_of("/?#", scheme == std::string_view::npos ? 0 : scheme + 3)));
  for (char& c : server) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return server;
}

std::string HTTP_default_cache_dir() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/kiv";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + "/.cache/kiv";
  return "";
}

namespace {

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

bool write_all(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// The `size` bytes at `at`, or false.
bool read_exactly(int fd, char* to, size_t size, long at) {
  while (size > 0) {
    ssize_t n = ::pread(fd, to, size, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    to += n, at += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Creates the directory `dir` and those above it that are missing.
bool make_dirs(const std::string& dir) {
  for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
    std::string part = dir.substr(0, slash);
    if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// The cache file's name: the URL's last path segment, made safe, and a
// hash of the whole URL, so that names of different servers never meet.
std::string cache_name(const std::string& url) {
  uint64_t hash = 0xcbf29ce484222325u;  // FNV-1a
  for (unsigned char c : url) hash = (hash ^ c) * 0x100000001b3u;
  std::string path = url.substr(0, url.find_first_of("?#"));
  std::string base = path.substr(path.rfind('/') + 1).substr(0, 64);
  for (char& c : base)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') c = '_';
  if (base.empty() || base[0] == '.') base = "_" + base;  // never hidden, never ".."
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return base + "-" + hex;
}

// A new copy of a cache file, written aside and renamed into place by
// commit(); removed unless committed.
class CacheWriter {
 public:
  explicit CacheWriter(std::string path) : path_(std::move(path)) {}
  ~CacheWriter() {
    if (!temp_.empty()) ::unlink(temp_.c_str());
  }
  CacheWriter(const CacheWriter&) = delete;
  CacheWriter& operator=(const CacheWriter&) = delete;

  bool open() {
    if (fd_.get() >= 0) return true;
    size_t slash = path_.rfind('/');
    std::string temp = path_.substr(0, slash + 1) + "." + path_.substr(slash + 1) + ".XXXXXX";
    if (!make_dirs(path_.substr(0, slash))) return fail();
    fd_.reset(::mkstemp(temp.data()));
    if (fd_.get() < 0) return fail();
    temp_ = temp;
    return true;
  }
  bool write(const char* data, size_t size) { return (open() && write_all(fd_.get(), data, size)) || fail(); }
  // Copies the first `size` bytes of the file `from`.
  bool copy(int from, long size) {
    std::string block(kCopyBlock, '\0');
    for (long at = 0; at < size;) {
      size_t n = static_cast<size_t>(std::min<long>(size - at, kCopyBlock));
      if (!read_exactly(from, block.data(), n, at) || !write(block.data(), n)) return fail();
      at += static_cast<long>(n);
    }
    return true;
  }
  bool commit() {
    if (!open() || ::close(fd_.release()) != 0 || ::rename(temp_.c_str(), path_.c_str()) != 0) return fail();
    temp_.clear();
    return true;
  }
  bool failed() const { return error_ != 0; }
  HTTP_result result() const {
    return failure("cannot write the cache file " + path_ + ": " + std::strerror(error_));
  }

 private:
  bool fail() {
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
    return false;
  }
  std::string path_, temp_;
  Fd fd_;
  int error_ = 0;
};

// Fetches the whole file into the cache file `path`.
HTTP_result fetch_whole(HTTP_session& session, const std::string& url, const std::string& path) {
  CacheWriter out(path);
  long size = 0;
  HTTP_result r = HTTP_get_ranges(session, url, {{0, HTTP_TO_END}}, [&](long, std::string_view bytes) {
    size += static_cast<long>(bytes.size());
    return out.write(bytes.data(), bytes.size());
  });
  if (out.failed()) return out.result();
  if (!r.ok()) return r;
  if (!out.commit()) return out.result();
  r.size = size;
  return r;
}

// Asks for the cached copy's last bytes again with all that follows them:
// when they still stand there, the bytes that follow go into `out` after
// a copy of the cached ones. Sets `grown`, or `same` when nothing
// followed; neither when the file no longer begins as cached.
HTTP_result revalidate(HTTP_session& session, const std::string& url, int old, long size, CacheWriter& out,
                       bool& same, bool& grown) {
  const long start = size - std::min(size, kOverlap);
  std::string tail(static_cast<size_t>(size - start), '\0');
  if (!read_exactly(old, tail.data(), tail.size(), start)) return {};
  bool differs = false;
  long end = start;
  HTTP_result r = HTTP_get_ranges(session, url, {{start, HTTP_TO_END}}, [&](long at, std::string_view bytes) {
    size_t known = static_cast<size_t>(std::clamp(size - at, 0L, static_cast<long>(bytes.size())));
    if (known > 0 && tail.compare(at - start, known, bytes.data(), known) != 0) return !(differs = true);
    if (end <= size && at + static_cast<long>(bytes.size()) > size && !out.copy(old, size)) return false;
    end = at + static_cast<long>(bytes.size());
    return known == bytes.size() || out.write(bytes.data() + known, bytes.size() - known);
  });
  same = r.ok() && !differs && end == size;
  grown = r.ok() && !differs && end > size;
  if (grown) r.size = end;
  return r;
}

}  // namespace

HTTP_result HTTP_cache_header(HTTP_session& session, const std::string& url, const std::string& dir,
                              HTTP_cached& cached) {
  if (dir.empty()) return failure("no cache directory");
  cached.path = dir + "/" + cache_name(url);
  Fd old(::open(cached.path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  long size = old.get() >= 0 && ::fstat(old.get(), &st) == 0 ? static_cast<long>(st.st_size) : 0;
  cached.use = size > 0 ? HTTP_cache_use::replaced : HTTP_cache_use::fetched;
  HTTP_result r;
  if (size > 0) {
    CacheWriter out(cached.path);
    bool same = false, grown = false;
    r = revalidate(session, url, old.get(), size, out, same, grown);
    if (out.failed()) return out.result();
    if (same) {
      cached.use = HTTP_cache_use::unchanged;
      r.size = size;
      return r;
    }
    if (grown) {
      cached.use = HTTP_cache_use::grown;
      return out.commit() ? r : out.result();
    }
  }
  if (r.ok() || r.code == HTTP_code::changed || r.code == HTTP_code::no_ranges)
    r = fetch_whole(session, url, cached.path);
  if (r.code == HTTP_code::missing) ::unlink(cached.path.c_str());
  return r;
}
