// Times the product scanner on a generated raw data file read from the
// page cache, side by side with `wc -l` on the same file and with the
// simple line-by-line scanner, for both start styles. Each measurement
// runs in a child process, whose peak memory is reported too.
//
// Usage: scan_bench [BYTES [DIR]]   (default 1 GiB in /tmp)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "bench/raw_generator.h"
#include "bench/simple_scanner.h"
#include "src/header_tool.h"
#include "src/mess.h"

namespace {

struct Measure {
  double seconds = 0;
  long max_rss_kib = 0;
};

// Runs `work` in a child process; wall time and the child's peak RSS.
Measure in_child(const std::function<void()>& work) {
  std::fflush(stdout);
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    work();
    _exit(0);
  }
  int status = 0;
  struct rusage ru {};
  wait4(pid, &status, 0, &ru);
  auto t1 = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "child failed\n");
  return {std::chrono::duration<double>(t1 - t0).count(), ru.ru_maxrss};
}

// The fastest of several runs; `before` runs untimed ahead of each.
Measure best_of(int runs, const std::function<void()>& work,
                const std::function<void()>& before = [] {}) {
  before();
  Measure best = in_child(work);
  for (int i = 1; i < runs; ++i) {
    before();
    Measure m = in_child(work);
    if (m.seconds < best.seconds) best.seconds = m.seconds;
    if (m.max_rss_kib > best.max_rss_kib) best.max_rss_kib = m.max_rss_kib;
  }
  return best;
}

void generate(const std::string& path, uint64_t bytes, rawgen::Style style) {
  in_child([&] {
    FILE* out = std::fopen(path.c_str(), "w");
    rawgen::Generator(style, 1).write(out, bytes);
    std::fclose(out);
  });
}

void warm(const std::string& path) {
  in_child([&] {
    static char buf[1 << 20];
    int fd = open(path.c_str(), O_RDONLY);
    while (read(fd, buf, sizeof buf) > 0) {
    }
    close(fd);
  });
}

void wc_lines(const std::string& path) {
  int null = open("/dev/null", O_WRONLY);
  dup2(null, 1);
  execlp("wc", "wc", "-l", path.c_str(), static_cast<char*>(nullptr));
  _exit(127);
}

// The scanner as the tool runs it in batch mode (level warn).
void scan(const std::string& data, const std::string& header, int mode) {
  MESS_set(0, M_warn);
  FILE* in = std::fopen(data.c_str(), "r");
  FILE* hdr = std::fopen(header.c_str(), mode == FILE_APPEND ? "r+" : "w");
  HDR_process(in, hdr, mode);
  std::fclose(hdr);
  std::fclose(in);
}

void simple(const std::string& data, const std::string& header) {
  MESS_set(0, M_warn);
  FILE* in = std::fopen(data.c_str(), "r");
  FILE* hdr = std::fopen(header.c_str(), "w");
  simple_scan(in, hdr);
  std::fclose(hdr);
  std::fclose(in);
}

long count_lines(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r");
  long n = 0;
  for (int c; (c = std::getc(f)) != EOF;)
    if (c == '\n') ++n;
  std::fclose(f);
  return n;
}

bool same_file(const std::string& a, const std::string& b) {
  std::string cmd = "cmp -s '" + a + "' '" + b + "'";
  return std::system(cmd.c_str()) == 0;
}

void bench_style(const std::string& dir, uint64_t bytes, rawgen::Style style) {
  const char* name = style == rawgen::Style::soh ? "soh" : "stars";
  std::string data = dir + "/scan_bench_" + name + ".raw";
  std::string header = dir + "/scan_bench_" + name + ".hdr";
  std::string simple_header = header + ".simple";
  generate(data, bytes, style);
  warm(data);
  double mb = bytes / 1e6;

  Measure base = in_child([] {});
  // A new header file each time: truncating the last run's one is not
  // part of the scan.
  Measure wc = best_of(5, [&] { wc_lines(data); });
  Measure fast = best_of(5, [&] { scan(data, header, FILE_NEW); },
                         [&] { std::remove(header.c_str()); });
  Measure rerun = best_of(5, [&] { scan(data, header, FILE_APPEND); });
  Measure slow = in_child([&] { simple(data, simple_header); });

  std::printf("\n%s style: %.0f MB, %ld records\n", name, mb, count_lines(header));
  std::printf("  %-34s %8.3f s %9.0f MB/s   peak RSS %6ld KiB\n", "scanner (mode 1)", fast.seconds,
              mb / fast.seconds, fast.max_rss_kib);
  std::printf("  %-34s %8.3f s %9.0f MB/s\n", "wc -l", wc.seconds, mb / wc.seconds);
  std::printf("  %-34s %8.3f s %9.0f MB/s   peak RSS %6ld KiB\n", "simple fgetnline scanner",
              slow.seconds, mb / slow.seconds, slow.max_rss_kib);
  std::printf("  %-34s %8.4f s                  peak RSS %6ld KiB\n",
              "append rerun, unchanged (mode 2)", rerun.seconds, rerun.max_rss_kib);
  std::printf("  scanner / wc -l = %.2f   simple / scanner = %.1f   (empty child: %.4f s, %ld KiB)\n",
              fast.seconds / wc.seconds, slow.seconds / fast.seconds, base.seconds,
              base.max_rss_kib);
  std::printf("  header files identical to the simple scanner's: %s\n",
              same_file(header, simple_header) ? "yes" : "NO");
  std::remove(data.c_str());
  std::remove(header.c_str());
  std::remove(simple_header.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  uint64_t bytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : (1ull << 30);
  std::string dir = argc > 2 ? argv[2] : "/tmp";
  for (rawgen::Style style : {rawgen::Style::soh, rawgen::Style::stars}) bench_style(dir, bytes, style);
  return 0;
}
