// Times header_tool on a generated raw data file against `wc -l` on the
// same file, paired: the two run alternately in the same rounds and the
// figure is the median of the per-round ratios, which holds on a shared,
// noisy machine (the median of the per-round ratios of user and system
// time is given too). Each ratio is given for two page-cache states of the
// data file:
//   feed      the file as a feed leaves it, written in 4 KiB appends;
//   readback  the file dropped from the cache and read back in one pass.
// Beside the tool, `cat > /dev/null` and a read()+memchr loop (the floor
// of any scanner) are measured the same way. Peak memory is the tool's.
//
// Usage: scan_bench [--size BYTES] [--rounds N] [--dir DIR] [--hostile]
//   --hostile  times hostile inputs (one byte pattern repeated) instead.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench/raw_generator.h"

namespace {

struct Options {
  uint64_t size = 1ull << 30;
  int rounds = 7;
  std::string dir = "/tmp";
  bool hostile = false;
};

struct Run {
  double seconds = 0;      // wall-clock time
  double cpu_seconds = 0;  // user and system time
  long max_rss_kib = 0;
};

// Runs `argv` (or `work` in a child when argv is empty) to its end.
Run in_child(const std::vector<std::string>& argv, const std::function<void()>& work = {}) {
  std::fflush(stdout);
  auto t0 = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    if (argv.empty()) {
      work();
      _exit(0);
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage ru {};
  wait4(pid, &status, 0, &ru);
  auto t1 = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "a run failed\n");
  auto secs = [](const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; };
  return {std::chrono::duration<double>(t1 - t0).count(), secs(ru.ru_utime) + secs(ru.ru_stime),
          ru.ru_maxrss};
}

// Writes the file as a feed does: many appends of 4 KiB.
void write_by_appends(const std::string& path, const std::function<std::string(size_t)>& text,
                      uint64_t bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND, 0644);
  for (uint64_t done = 0; done < bytes;) {
    std::string block = text(std::min<uint64_t>(bytes - done, 4 << 20));
    for (size_t at = 0; at < block.size(); at += 4096) {
      size_t n = std::min<size_t>(4096, block.size() - at);
      if (write(fd, block.data() + at, n) != static_cast<ssize_t>(n)) std::perror("write");
    }
    done += block.size();
  }
  // Written back, so that the flusher does not run during the rounds; the
  // pages stay in the cache as the appends left them.
  fdatasync(fd);
  close(fd);
}

// Drops the file from the page cache, then reads it once.
void read_back(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  fdatasync(fd);
  posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  std::vector<char> buf(1 << 20);
  while (read(fd, buf.data(), buf.size()) > 0) {
  }
  close(fd);
}

// read() in 64 KiB blocks and memchr for 0x01: what any scanner must do.
void floor_scan(const std::string& path) {
  std::vector<char> block(64 * 1024);
  char* buf = block.data();
  int fd = open(path.c_str(), O_RDONLY);
  long hits = 0;
  for (ssize_t n; (n = read(fd, buf, block.size())) > 0;)
    for (const char* p = buf; (p = static_cast<const char*>(std::memchr(p, 1, buf + n - p)));) ++p, ++hits;
  close(fd);
  if (hits < 0) std::abort();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

struct Pairing {
  std::string name;
  std::function<Run()> run;
  std::vector<double> ratios, cpu_ratios, seconds;
  long max_rss_kib = 0;
};

// Rounds of every command, each followed by `wc -l`; prints the medians.
void measure(const char* label, const std::string& data, int rounds, std::vector<Pairing>& cmds) {
  for (int r = 0; r < rounds; ++r) {
    for (Pairing& c : cmds) {
      Run a = c.run();
      Run wc = in_child({"wc", "-l", data});
      c.ratios.push_back(a.seconds / wc.seconds);
      c.seconds.push_back(a.seconds);
      c.cpu_ratios.push_back(a.cpu_seconds / wc.cpu_seconds);
      c.max_rss_kib = std::max(c.max_rss_kib, a.max_rss_kib);
    }
  }
  for (Pairing& c : cmds) {
    std::printf("  %-9s %-20s / wc -l: wall %.2f (%.2f-%.2f), cpu %.2f", label, c.name.c_str(),
                median(c.ratios), *std::min_element(c.ratios.begin(), c.ratios.end()),
                *std::max_element(c.ratios.begin(), c.ratios.end()), median(c.cpu_ratios));
    if (c.name == "header_tool")
      std::printf("  %.3f s, peak RSS %ld KiB", median(c.seconds), c.max_rss_kib);
    std::printf("\n");
    c.ratios.clear();
    c.cpu_ratios.clear();
    c.seconds.clear();
    c.max_rss_kib = 0;
  }
}

struct Workspace {
  std::string dir, data, header;
  std::vector<std::string> tool;
};

Workspace make_workspace(const std::string& parent) {
  Workspace w;
  std::string tmpl = parent + "/scan_bench_XXXXXX";
  w.dir = mkdtemp(tmpl.data());
  std::string conv = w.dir + "/name_conv";
  FILE* f = std::fopen(conv.c_str(), "w");
  std::fputs("raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0\n", f);
  std::fclose(f);
  w.data = w.dir + "/2026120818.raw";
  w.header = w.dir + "/2026120818.hdr";
  w.tool = {KIV_HEADER_TOOL, "-ba", "-pf", "over", "-fp", w.dir, "-rp", w.dir, "-cp", w.dir,
            "2026120818.raw"};
  return w;
}

long count_lines(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "r");
  long n = 0;
  for (int c; f != nullptr && (c = std::getc(f)) != EOF;) n += c == '\n';
  if (f != nullptr) std::fclose(f);
  return n;
}

// The heavy work runs in children, so that this process stays small: a
// child's peak memory counts its parent's pages until it calls exec.
void bench_file(const Workspace& w, const Options& o, const char* title,
                const std::function<std::string(size_t)>& text, bool both_states) {
  in_child({}, [&] { write_by_appends(w.data, text, o.size); });
  std::vector<Pairing> cmds = {
      {"header_tool", [&] { std::remove(w.header.c_str()); return in_child(w.tool); }, {}, {}, {}, 0},
      {"read+memchr (floor)", [&] { return in_child({}, [&] { floor_scan(w.data); }); }, {}, {}, {}, 0},
      {"cat > /dev/null", [&] { return in_child({"cat", w.data}); }, {}, {}, {}, 0},
  };
  if (!both_states) cmds.resize(1);
  std::printf("\n%s: %.0f MiB\n", title, o.size / 1048576.0);
  measure("feed", w.data, o.rounds, cmds);
  if (both_states) {
    in_child({}, [&] { read_back(w.data); });
    measure("readback", w.data, o.rounds, cmds);
  }
  std::printf("  %ld records\n", count_lines(w.header));
}

// A hostile input: `pattern` repeated.
std::function<std::string(size_t)> repeated(std::string pattern) {
  return [pattern](size_t n) {
    std::string out;
    out.reserve(n + pattern.size());
    while (out.size() < n) out += pattern;
    out.resize(n);
    return out;
  };
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--size" && i + 1 < argc) o.size = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--rounds" && i + 1 < argc) o.rounds = std::atoi(argv[++i]);
    else if (a == "--dir" && i + 1 < argc) o.dir = argv[++i];
    else if (a == "--hostile") o.hostile = true;
    else {
      std::fprintf(stderr, "usage: scan_bench [--size BYTES] [--rounds N] [--dir DIR] [--hostile]\n");
      return 2;
    }
  }
  Workspace w = make_workspace(o.dir);
  if (!o.hostile) {
    for (rawgen::Style style : {rawgen::Style::soh, rawgen::Style::stars}) {
      rawgen::Generator gen(style, 1);
      bench_file(w, o, style == rawgen::Style::soh ? "SOH products" : "\"** \" products",
                 [&gen](size_t n) { return gen.text(n); }, true);
    }
  } else {
    const std::pair<const char*, std::string> inputs[] = {
        {"only '*'", "*"},          {"only 0x01", "\x01"},        {"only line feeds", "\n"},
        {"NUL bytes", {'\0'}},      {"\"*\" lines", "*\n"},       {"\"** *\" lines", "** *\n"},
        {"\"** \" runs", "** "},    {"\"x** \" lines", "x** \n"}, {"0x01 in column 3", "ab\x01\n"},
        {"0x01 lines", "\x01\n"},
    };
    for (const auto& [title, pattern] : inputs) bench_file(w, o, title, repeated(pattern), false);
  }
  std::remove(w.data.c_str());
  std::remove(w.header.c_str());
  std::remove((w.dir + "/name_conv").c_str());
  rmdir(w.dir.c_str());
  return 0;
}
