// Fetches through the http module, for bench/http_bench.sh:
//   http_fetch range URL FIRST-LAST  the bytes FIRST..LAST to standard output
//   http_fetch whole URL             the whole file, pulled as a stream in
//                                    blocks as the data-file reader pulls it
//   http_fetch gap URL [ROUNDS]      the cost of a request in bytes: two
//                                    ranges of 1 KiB GAP bytes apart fetched
//                                    by one request against by two on one
//                                    connection, paired, for growing gaps;
//                                    prints the median per-round ratio
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "src/http.h"

namespace {

int fail(const HTTP_result& r) {
  std::fprintf(stderr, "http_fetch: %s\n", r.reason.c_str());
  return 1;
}

bool put(std::string_view bytes) { return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size(); }

int range(const std::string& url, const char* text) {
  long first = 0, last = 0;
  if (std::sscanf(text, "%ld-%ld", &first, &last) != 2) return 2;
  HTTP_session session;
  HTTP_result r = HTTP_get_ranges(session, url, {{first, last + 1}}, [](long, std::string_view b) { return put(b); });
  return r.ok() ? 0 : fail(r);
}

int whole(const std::string& url) {
  HTTP_session session;
  std::unique_ptr<HTTP_stream> stream;
  HTTP_result r = HTTP_open_stream(session, url, 0, stream);
  if (!r.ok()) return fail(r);
  std::string block(64 * 1024 + 3 * 1024, '\0');  // the data-file reader's block
  while (size_t n = std::fread(block.data(), 1, block.size(), stream->file()))
    if (!put(std::string_view(block.data(), n))) return 1;
  return stream->result().ok() ? 0 : fail(stream->result());
}

// Seconds that fetching `ranges` takes on `session`.
double timed(HTTP_session& session, const std::string& url, const std::vector<HTTP_range>& ranges) {
  auto t0 = std::chrono::steady_clock::now();
  HTTP_result r = HTTP_get_ranges(session, url, ranges, [](long, std::string_view) { return true; });
  if (!r.ok()) std::exit(fail(r));
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

int gap(const std::string& url, int rounds) {
  HTTP_options apart, merged;
  apart.merge_gap = 0;
  merged.merge_gap = 1L << 40;
  HTTP_session one(merged), two(apart);
  std::printf("%10s %14s %14s %8s\n", "gap", "one request", "two requests", "ratio");
  for (long g = 1024; g <= 4L << 20; g *= 2) {
    std::vector<HTTP_range> ranges = {{4096, 5120}, {5120 + g, 6144 + g}};
    timed(one, url, ranges), timed(two, url, ranges);  // connections open, file cached
    std::vector<double> ratio, t1, t2;
    for (int i = 0; i < rounds; ++i) {
      t1.push_back(timed(one, url, ranges));
      t2.push_back(timed(two, url, ranges));
      ratio.push_back(t1.back() / t2.back());
    }
    auto median = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v[v.size() / 2];
    };
    std::printf("%10ld %12.0f us %12.0f us %8.2f\n", g, median(t1) * 1e6, median(t2) * 1e6, median(ratio));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 2 ? argv[1] : "";
  if (mode == "range" && argc == 4) return range(argv[2], argv[3]);
  if (mode == "whole" && argc == 3) return whole(argv[2]);
  if (mode == "gap" && argc >= 3) return gap(argv[2], argc > 3 ? std::atoi(argv[3]) : 51);
  std::fprintf(stderr, "usage: http_fetch range URL FIRST-LAST | whole URL | gap URL [ROUNDS]\n");
  return 2;
}
