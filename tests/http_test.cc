// The http module against real servers on 127.0.0.1: what is handed
// over, the result, and each request as lighttpd's access log shows it.
#include "src/http.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "src/scan.h"
#include "tests/support.h"
#include "tests/web_server.h"

namespace {

constexpr long kSize = 1000000;  // the data file: a real feed's bulletins over and over

// Requests give up quickly here.
HTTP_options quick() {
  HTTP_options o;
  o.connect_timeout_ms = 2000;
  o.low_speed_seconds = 1;
  o.attempts = 2;
  o.backoff_ms = 10;
  return o;
}

class HttpTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    web::ignore_proxies();
    std::string raw = read_file(KIV_TEST_DATA "/feed_concat_text.raw");
    while (data_.size() < kSize) data_ += raw;
    data_.resize(kSize);
    root_ = std::make_unique<TempDir>();
    root_->write("data.raw", data_);
    lighttpd_ = std::make_unique<web::WebServer>(web::WebServer::lighttpd, root_->path());
    python_ = std::make_unique<web::WebServer>(web::WebServer::python, root_->path());
  }
  static void TearDownTestSuite() {
    lighttpd_.reset();
    python_.reset();
    root_.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(lighttpd_->running());
    ASSERT_TRUE(python_->running());
    lighttpd_->take_requests();
  }

  // lighttpd's requests since the last call, as "METHOD STATUS BYTES
  // KEEPALIVE RANGE"; a field of `expected` that is "*" matches anything.
  static std::vector<std::string> logged(const std::vector<std::string>& expected) {
    std::vector<std::string> lines;
    for (const web::Logged& l : lighttpd_->take_requests()) {
      std::vector<std::string> fields = {l.method, std::to_string(l.status), std::to_string(l.bytes),
                                         std::to_string(l.keepalive), l.range};
      if (lines.size() < expected.size()) {
        std::istringstream want(expected[lines.size()]);
        for (std::string& f : fields) {
          std::string w;
          want >> w;
          if (w == "*") f = "*";
        }
      }
      std::string line;
      for (const std::string& f : fields) line += (line.empty() ? "" : " ") + f;
      lines.push_back(line);
    }
    return lines;
  }

  static std::string data_;
  static std::unique_ptr<TempDir> root_;
  static std::unique_ptr<web::WebServer> lighttpd_, python_;
};

std::string HttpTest::data_;
std::unique_ptr<TempDir> HttpTest::root_;
std::unique_ptr<web::WebServer> HttpTest::lighttpd_, HttpTest::python_;

enum class Server { lighttpd, python, refused, stalled };
enum class Op { ranges, stream, size };

struct FetchCase {
  const char* name;
  Server server;
  std::string path;
  Op op;
  std::vector<HTTP_range> ranges;  // Op::ranges: asked; Op::stream: {from}
  HTTP_code code;
  std::string reason;              // what the reason holds
  std::vector<HTTP_range> handed;  // the bytes that must be handed over, as runs
  std::vector<std::string> requests;  // lighttpd's log
};

TEST_F(HttpTest, Fetches) {
  constexpr long E = HTTP_TO_END;
  const std::vector<FetchCase> cases = {
      {"close ranges: one request", Server::lighttpd, "data.raw", Op::ranges,
       {{100, 200}, {250, 300}, {5000, 5100}}, HTTP_code::ok, "", {{100, 200}, {250, 300}, {5000, 5100}},
       {"GET 206 5000 0 bytes=100-5099"}},
      {"ranges apart: one connection", Server::lighttpd, "data.raw", Op::ranges,
       {{0, 10}, {500000, 500010}}, HTTP_code::ok, "", {{0, 10}, {500000, 500010}},
       {"GET 206 10 0 bytes=0-9", "GET 206 10 1 bytes=500000-500009"}},
      {"overlapping, out of order, to the end", Server::lighttpd, "data.raw", Op::ranges,
       {{999990, E}, {50, 70}, {60, 90}}, HTTP_code::ok, "", {{50, 90}, {999990, kSize}},
       {"GET 206 40 0 bytes=50-89", "GET 206 10 1 bytes=999990-"}},
      {"a range past the end", Server::lighttpd, "data.raw", Op::ranges, {{999990, 1000010}},
       HTTP_code::changed, "the file changed: it ends at byte 1000000, before byte 1000010", {{999990, kSize}},
       {"GET 206 10 0 bytes=999990-1000009"}},
      {"a range beyond the end", Server::lighttpd, "data.raw", Op::ranges, {{1000010, 1000020}},
       HTTP_code::changed, "the file changed (HTTP status 416)", {}, {"GET 416 * 0 bytes=1000010-1000019"}},
      {"no such file", Server::lighttpd, "none.raw", Op::ranges, {{0, 10}}, HTTP_code::missing,
       "HTTP status 404", {}, {"GET 404 * 0 bytes=0-9"}},
      {"a redirect is followed", Server::lighttpd, "moved/data.raw", Op::ranges, {{10, 20}}, HTTP_code::ok, "",
       {{10, 20}}, {"GET 301 0 0 bytes=10-19", "GET 206 10 1 bytes=10-19"}},
      {"a few redirects only", Server::lighttpd, "loop/data.raw", Op::ranges, {{10, 20}}, HTTP_code::error,
       "Maximum (5) redirects followed", {},
       {"GET 301 0 0 *", "GET 301 0 1 *", "GET 301 0 2 *", "GET 301 0 3 *", "GET 301 0 4 *", "GET 301 0 5 *"}},
      {"5xx: tried again, then an error", Server::lighttpd, "down/data.raw", Op::ranges, {{0, 10}},
       HTTP_code::error, "HTTP status 503; 2 attempts", {}, {"GET 503 * 0 bytes=0-9", "GET 503 * 1 bytes=0-9"}},
      {"stream from an offset", Server::lighttpd, "data.raw", Op::stream, {{990000}}, HTTP_code::ok, "",
       {{990000, kSize}}, {"GET 206 10000 0 bytes=990000-"}},
      {"stream of the whole file", Server::lighttpd, "data.raw", Op::stream, {{0}}, HTTP_code::ok, "",
       {{0, kSize}}, {"GET 200 1000000 0 -"}},
      {"stream of no such file", Server::lighttpd, "none.raw", Op::stream, {{0}}, HTTP_code::missing,
       "HTTP status 404", {}, {"GET 404 * 0 -"}},
      {"size", Server::lighttpd, "data.raw", Op::size, {}, HTTP_code::ok, "", {}, {"HEAD 200 0 0 -"}},
      {"server without ranges: ranges", Server::python, "data.raw", Op::ranges, {{10, 20}},
       HTTP_code::no_ranges, "the server ignores byte ranges", {}, {}},
      {"server without ranges: stream from an offset", Server::python, "data.raw", Op::stream, {{10}},
       HTTP_code::no_ranges, "the server ignores byte ranges", {}, {}},
      {"server without ranges: stream of the whole file", Server::python, "data.raw", Op::stream, {{0}},
       HTTP_code::ok, "", {{0, kSize}}, {}},
      {"connection refused", Server::refused, "data.raw", Op::ranges, {{0, 10}}, HTTP_code::error,
       "Couldn't connect to server; 2 attempts", {}, {}},
      {"a server that stalls", Server::stalled, "data.raw", Op::stream, {{0}}, HTTP_code::error,
       "Operation too slow. Less than 1 bytes/sec transferred the last 1 seconds; 2 attempts", {}, {}},
  };
  web::RefusedPort refused;
  web::StalledServer stalled;
  for (const FetchCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string url = c.server == Server::lighttpd ? lighttpd_->url(c.path)
                      : c.server == Server::python ? python_->url(c.path)
                      : c.server == Server::refused ? refused.url(c.path)
                                                    : stalled.url(c.path);
    HTTP_session session(quick());
    std::vector<HTTP_range> handed;
    std::string bytes;
    auto take = [&](long at, std::string_view b) {
      if (handed.empty() || handed.back().end != at) handed.push_back({at, at});
      handed.back().end += static_cast<long>(b.size());
      bytes += b;
      return true;
    };
    HTTP_result r;
    if (c.op == Op::ranges) {
      r = HTTP_get_ranges(session, url, c.ranges, take);
    } else if (c.op == Op::size) {
      r = HTTP_size(session, url);
    } else {
      std::unique_ptr<HTTP_stream> stream;
      r = HTTP_open_stream(session, url, c.ranges[0].begin, stream);
      ASSERT_EQ(stream != nullptr, r.ok());
      if (stream) {
        EXPECT_EQ(std::ftell(stream->file()), c.ranges[0].begin);
        std::string block(4000, '\0');  // small reads: the transfer outruns them and pauses
        while (size_t n = std::fread(block.data(), 1, block.size(), stream->file()))
          take(c.ranges[0].begin + static_cast<long>(bytes.size()), std::string_view(block.data(), n));
        EXPECT_FALSE(std::ferror(stream->file()));
        r = stream->result();
      }
    }
    EXPECT_EQ(r.code, c.code);
    EXPECT_NE(c.reason.empty() ? r.reason.empty() : r.reason.find(c.reason) != std::string::npos, false)
        << r.reason;
    EXPECT_EQ(r.size, r.ok() ? kSize : -1);
    std::string expected;
    ASSERT_EQ(handed.size(), c.handed.size());
    for (size_t i = 0; i < handed.size(); ++i) {
      EXPECT_EQ(handed[i].begin, c.handed[i].begin);
      EXPECT_EQ(handed[i].end, c.handed[i].end);
      expected += data_.substr(c.handed[i].begin, c.handed[i].end - c.handed[i].begin);
    }
    EXPECT_TRUE(bytes == expected);
    EXPECT_EQ(logged(c.requests), c.requests);
  }
}

// The stream reader of data files takes a stream as it takes a pipe.
TEST_F(HttpTest, StreamScansAsTheLocalFile) {
  auto records = [](FILE* f) {
    std::string lines;
    SCAN_records(f, [&](long, std::string_view record) { return (lines.append(record) += '\n'), true; });
    return lines;
  };
  HTTP_session session(quick());
  std::unique_ptr<HTTP_stream> stream;
  ASSERT_TRUE(HTTP_open_stream(session, lighttpd_->url("data.raw"), 0, stream).ok());
  std::unique_ptr<FILE, int (*)(FILE*)> local(std::fopen(root_->file("data.raw").c_str(), "r"), &std::fclose);
  std::string want = records(local.get());
  EXPECT_GT(want.size(), 10000u);
  EXPECT_EQ(records(stream->file()), want);
}

struct CacheStep {
  const char* name;
  long keep;          // the server's header keeps its first `keep` bytes (-1: it is removed) ...
  long first, count;  // ... and then gets these records
  HTTP_code code;
  HTTP_cache_use use;
  std::vector<std::string> requests;
};

TEST_F(HttpTest, HeaderCache) {
  // Record lines of 50 bytes; the `first` tells one series from another.
  auto records = [](long first, long count) {
    std::string text;
    for (long i = first; i < first + count; ++i) {
      char line[128];
      std::snprintf(line, sizeof line, "%7ld SAUS70 KWBC %06ld / METAR               \n", i * 1000, i);
      text += line;
    }
    return text;
  };
  using U = HTTP_cache_use;
  const std::vector<CacheStep> steps = {
      {"first use: fetched whole", 0, 0, 100, HTTP_code::ok, U::fetched, {"GET 200 5000 0 -"}},
      {"unchanged: one small request", 5000, 0, 0, HTTP_code::ok, U::unchanged, {"GET 206 512 0 bytes=4488-"}},
      {"grown: only the new bytes", 5000, 100, 10, HTTP_code::ok, U::grown, {"GET 206 1012 0 bytes=4488-"}},
      {"written anew: fetched whole", 0, 7, 120, HTTP_code::ok, U::replaced,
       {"GET 206 * 0 bytes=4988-", "GET 200 6000 * -"}},
      {"shorter: fetched whole", 2500, 0, 0, HTTP_code::ok, U::replaced,
       {"GET 416 * 0 bytes=5488-", "GET 200 2500 * -"}},
      {"removed", -1, 0, 0, HTTP_code::missing, U::replaced, {"GET 404 * 0 bytes=1988-"}},
      {"back again: fetched whole", 0, 0, 3, HTTP_code::ok, U::fetched, {"GET 200 150 0 -"}},
  };
  TempDir cache;
  const std::string dir = cache.file("user/kiv");
  const std::string served = root_->file("h.hdr");
  for (const CacheStep& s : steps) {
    SCOPED_TRACE(s.name);
    std::string text = s.keep < 0 ? "" : read_file(served).substr(0, s.keep) + records(s.first, s.count);
    if (s.keep < 0) fs::remove(served);
    else write_file(served, text);
    HTTP_session session(quick());
    HTTP_cached cached;
    HTTP_result r = HTTP_cache_header(session, lighttpd_->url("h.hdr"), dir, cached);
    EXPECT_EQ(r.code, s.code) << r.reason;
    EXPECT_EQ(logged(s.requests), s.requests);
    // One file, never a copy left half written beside it.
    size_t files = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    EXPECT_EQ(files, r.ok() ? 1u : 0u);
    if (!r.ok()) continue;
    EXPECT_EQ(cached.use, s.use);
    EXPECT_EQ(r.size, static_cast<long>(text.size()));
    EXPECT_TRUE(read_file(cached.path) == text);
  }
}

}  // namespace
