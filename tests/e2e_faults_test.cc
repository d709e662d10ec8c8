// The tool under faults and hostile input: killed at random moments,
// indexing a file that grows while it runs, and fed data, resource,
// convention and option texts that no site should write. The header file
// must always end up exactly as a fresh index; nothing may crash or hang.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <chrono>
#include <cstdio>
#include <random>
#include <regex>
#include <string>
#include <thread>

#include "src/header_tool.h"
#include "src/io.h"
#include "src/product_get.h"
#include "tests/tool_fixture.h"

using namespace std::string_literals;

namespace {


// Small SOH products (CR CR LF line ends), sometimes with long lines.
std::string make_products(int count, unsigned seed) {
  std::mt19937 rng(seed);
  std::string out;
  char line[128];
  for (int i = 0; i < count; ++i) {
    std::snprintf(line, sizeof line, "\x01\r\r\n%03d \r\r\nSAUS%02d KWBC %06d\r\r\nMTR%03d\r\r\n",
                  i % 1000, i % 100, i % 1000000, i % 1000);
    out += line;
    int body = 1 + rng() % 4;
    for (int b = 0; b < body; ++b) out += std::string(20 + rng() % 100, 'A' + rng() % 26) + "\r\r\n";
    out += "\x03";
  }
  return out;
}

class FaultTest : public ToolTest {
 protected:
  // A fresh index of the data file `raw/<name>` into `fresh/`.
  std::string fresh_index(const std::string& name) {
    ToolRun r = run({"-ba", "-pf", "over", "-fp", "etc", "-rp", "raw", "-cp", "fresh", name});
    EXPECT_EQ(r.status, 0) << r.err;
    return read("fresh/" + name.substr(0, name.size() - 4) + ".hdr");
  }
};

TEST_F(FaultTest, KilledAtRandomMomentsTheAppendRunsRepairTheIndex) {
  write("raw/2026120818.raw", make_products(60000, 1));
  const std::string expected = fresh_index("2026120818.raw");
  ASSERT_GT(expected.size(), 1000000u);
  auto started = std::chrono::steady_clock::now();
  fresh_index("2026120818.raw");
  long full_us = std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::steady_clock::now() - started).count();

  std::mt19937 rng(7);
  const std::vector<std::string> first = with_paths({"-ba", "-pf", "over", "2026120818.raw"});
  const std::vector<std::string> again = with_paths({"-ba", "-pf", "app", "2026120818.raw"});
  int killed = 0;
  for (int round = 0; round < 12; ++round) {
    // Kill the first run, then every append run for a few more moments.
    for (int k = 0; k < 3; ++k) {
      pid_t pid = spawn(k == 0 ? first : again, {});
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % (full_us + 1)));
      kill(pid, SIGKILL);
      if (wait_status(pid) == 128 + SIGKILL) ++killed;
    }
    ToolRun last = run(again);
    ASSERT_EQ(last.status, 0) << last.err;
    ASSERT_EQ(read("hdr/2026120818.hdr"), expected) << "round " << round;
  }
  EXPECT_GT(killed, 0);
}

// Append runs at once while the feed appends: without one writer at a
// time they duplicate records, and no later run repairs that.
TEST_F(FaultTest, OverlappingRunsEndAsIfTheyRanOneAfterTheOther) {
  const std::string data = make_products(3000, 12);
  const std::vector<std::string> app = with_paths({"-ba", "-pf", "app", "2026120818.raw"});
  write("raw/2026120818.raw", "");
  std::mt19937 rng(13);
  const int rounds = 60;
  int mismatches = 0;
  for (int round = 1; round <= rounds; ++round) {
    size_t from = data.size() * (round - 1) / rounds, to = data.size() * round / rounds;
    std::thread feed([&] {
      for (size_t at = from; at < to;) {
        size_t piece = std::min<size_t>(to - at, 1 + rng() % 4000);
        write("raw/2026120818.raw", data.substr(at, piece), true);
        at += piece;
      }
    });
    std::vector<pid_t> runs;
    for (int k = 0; k < 4; ++k) runs.push_back(spawn(app, {}));
    feed.join();
    for (pid_t pid : runs) EXPECT_EQ(wait_status(pid), 0);
    ASSERT_EQ(run(app).status, 0);
    if (read("hdr/2026120818.hdr") != join(index_of((dir_ / "raw/2026120818.raw").string()))) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0) << "of " << rounds << " rounds";
}

TEST_F(FaultTest, WriteErrorsEndWithStatus12AndLoseNothing) {
  write("raw/2026120818.raw", make_products(20000, 8));
  const std::string expected = fresh_index("2026120818.raw");
  ASSERT_EQ(expected.size(), 20000 * 50u);  // records of 50 bytes

  write("etc/full", "raw %R/%Y%m%d%h.raw /dev/full 0\n");
  ToolRun full = run({"-ba", "-pf", "over", "-fp", "etc", "-nc", "full", "-rp", "raw", "2026120818.raw"});
  EXPECT_EQ(full.status, 12);
  EXPECT_EQ(full.err, "Unable to write to header file: /dev/full (No space left on device)\n");

  // The disk fills in the middle of the scan, then space comes back: the
  // first limit falls between two records, the second in one.
  for (rlim_t limit : {300000, 300017}) {
    SCOPED_TRACE(limit);
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit small = old;
    small.rlim_cur = limit;
    auto old_handler = signal(SIGXFSZ, SIG_IGN);
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    setrlimit(RLIMIT_FSIZE, &small);
    pid_t pid = spawn(with_paths({"-ba", "-pf", "over", "2026120818.raw"}), {}, -1, -1, err[1]);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, old_handler);
    close(err[1]);
    char text[512] = {};
    ssize_t n = ::read(err[0], text, sizeof text - 1);
    close(err[0]);
    EXPECT_EQ(wait_status(pid), 12);
    EXPECT_EQ(std::string(text, std::max<ssize_t>(n, 0)),
              "Unable to write to header file: hdr/2026120818.hdr (File too large)\n");
    const std::string cut = read("hdr/2026120818.hdr");
    EXPECT_GT(cut.size(), 250000u);
    EXPECT_EQ(cut, expected.substr(0, cut.size()));
    EXPECT_EQ(cut.back(), '\n');  // cut back to a whole record
    ToolRun again = run(with_paths({"-ba", "-pf", "app", "2026120818.raw"}));
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(read("hdr/2026120818.hdr"), expected);
  }
}

TEST_F(FaultTest, ClosedStandardStreamsTakeNoFilesPlace) {
  write("raw/2026120818.raw", make_products(300, 14));
  const std::string expected = fresh_index("2026120818.raw");
  std::vector<std::string> args = with_paths({"-ba", "-pf", "over", "-me", "mess", "2026120818.raw"});
  args.insert(args.begin(), KIV_HEADER_TOOL);
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (std::vector<int> closed : {std::vector<int>{0}, {1}, {2}, {0, 1, 2}}) {
    fs::remove_all(dir_ / "hdr");
    pid_t pid = fork();
    if (pid == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(99);
      int null_fd = open("/dev/null", O_RDWR);
      for (int fd = 0; fd <= 2; ++fd) {
        bool shut = std::find(closed.begin(), closed.end(), fd) != closed.end();
        if (shut) close(fd);
        else dup2(null_fd, fd);
      }
      if (null_fd > 2) close(null_fd);
      execv(argv[0], argv.data());
      _exit(98);
    }
    EXPECT_EQ(wait_status(pid), 0) << closed.size();
    EXPECT_EQ(read("hdr/2026120818.hdr"), expected) << "closed " << closed.front() << "...";
  }
}

TEST_F(FaultTest, HeaderNamesThatAreNotOursToWrite) {
  write("raw/2026120818.raw", make_products(3, 15));
  const std::string records = fresh_index("2026120818.raw");
  // A second data file of the same run, whose header file is ours.
  write("raw/2026120819.raw", make_products(4, 16));
  const std::string next = fresh_index("2026120819.raw");
  write("precious", "an unrelated file\n");
  struct Case {
    const char* name;
    const char* link_to;  // nullptr: a directory at the header's name
    const char* policy;
    std::string err;
    int status;  // an index no longer kept fails the run
  } cases[] = {
      {"link to an unrelated file, append", "../precious", "app",
       "Header file is a symbolic link, not written: hdr/2026120818.hdr\n", 0},
      {"link to an unrelated file, over", "../precious", "over",
       "Header file is a symbolic link, not written: hdr/2026120818.hdr\n", 0},
      {"dangling link", "../missing/new", "over",
       "Header file is a symbolic link, not written: hdr/2026120818.hdr\n", 0},
      {"append to what cannot be opened", nullptr, "app",
       "Unable to append to header file: hdr/2026120818.hdr (Is a directory)\n", 12},
  };
  for (const Case& c : cases) {
    fs::remove_all(dir_ / "hdr");
    fs::create_directories(dir_ / "hdr");
    if (c.link_to != nullptr) fs::create_symlink(c.link_to, dir_ / "hdr/2026120818.hdr");
    else fs::create_directories(dir_ / "hdr/2026120818.hdr");
    ToolRun r = run(with_paths({"-ba", "-pf", c.policy, "-me", "warn,+out1", "2026120818.raw",
                                "2026120819.raw"}));
    EXPECT_EQ(r.status, c.status) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    EXPECT_EQ(r.out, (c.link_to != nullptr ? records : "") + next) << c.name;
    EXPECT_EQ(read("hdr/2026120819.hdr"), next) << c.name;
    EXPECT_EQ(read("precious"), "an unrelated file\n") << c.name;
    EXPECT_FALSE(exists("missing")) << c.name;
  }
}

TEST_F(FaultTest, DamagedHeaderTailIsRepairedInBoundedMemory) {
  write("raw/2026120818.raw", make_products(50, 16));
  const std::string expected = fresh_index("2026120818.raw");
  std::string half = expected.substr(0, expected.find('\n', expected.size() / 2) + 1);
  // Peak memory of an append run, in KiB; `tail` NUL bytes after the last
  // record, without taking disk space.
  auto append_run_kib = [&](long tail) {
    write("hdr/2026120818.hdr", half);
    EXPECT_EQ(truncate((dir_ / "hdr/2026120818.hdr").c_str(), half.size() + tail), 0);
    pid_t pid = spawn(with_paths({"-ba", "-pf", "app", "2026120818.raw"}), {});
    int status = 0;
    struct rusage usage {};
    EXPECT_EQ(wait4(pid, &status, 0, &usage), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(read("hdr/2026120818.hdr"), expected);
    return usage.ru_maxrss;
  };
  long plain = append_run_kib(0);
  EXPECT_LT(append_run_kib(96L << 20), plain + 32 * 1024) << "KiB";
}

TEST_F(FaultTest, AFileGrowingWhileTheToolRunsEndsFreshlyIndexed) {
  const std::string data = make_products(3000, 2) + "** not a start in an SOH file\n";
  write("raw/2026120818.raw", "");
  std::thread writer([&] {
    std::mt19937 rng(11);
    for (size_t at = 0; at < data.size();) {
      size_t piece = 1 + rng() % 700;  // cut anywhere: lines, starts, headings
      write("raw/2026120818.raw", data.substr(at, piece), true);
      at += piece;
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 300));
    }
  });
  const std::vector<std::string> app = with_paths({"-ba", "-pf", "app", "2026120818.raw"});
  ASSERT_EQ(run(with_paths({"-ba", "2026120818.raw"})).status, 0);
  int runs = 0;
  while (read("raw/2026120818.raw").size() < data.size()) {
    ToolRun r = run(app);
    ASSERT_EQ(r.status, 0) << r.err;
    ++runs;
  }
  writer.join();
  ASSERT_EQ(run(app).status, 0);
  EXPECT_GT(runs, 1);
  EXPECT_EQ(read("hdr/2026120818.hdr"), fresh_index("2026120818.raw"));
}

// Every line of a header file is one well-formed record.
void expect_well_formed(const std::string& header) {
  static const std::regex record("^ *[0-9]+ [^\n]* / [^\n]{20}$");
  size_t start = 0;
  while (start < header.size()) {
    size_t end = header.find('\n', start);
    ASSERT_NE(end, std::string::npos) << "last record without a line feed";
    std::string line = header.substr(start, end - start);
    EXPECT_EQ(line.find('\0'), std::string::npos);
    EXPECT_TRUE(std::regex_match(line, record)) << line;
    start = end + 1;
  }
}

TEST_F(FaultTest, HostileDataFiles) {
  std::mt19937 rng(3);
  std::string random_bytes(1 << 20, '\0');
  for (char& c : random_bytes) {
    unsigned r = rng() % 16;
    c = r == 0 ? '\n' : r == 1 ? '\x01' : r == 2 ? '\r' : r == 3 ? '\0' : r == 4 ? '*' : static_cast<char>(rng());
  }
  std::string nul_product = "\x01\r\r\n001 \r\r\nSA\0US70 KWBC\r\r\nM\0TR\r\r\n"s;
  nul_product.append(std::string(1000, '\0'));
  const std::string long_heading =
      "\x01\r\r\n001 \r\r\n" + std::string(200, 'H') + "\r\r\n" + std::string(30, 'I') + "\r\r\n";
  struct Case {
    const char* name;
    std::string data;
    const char* expected;  // the exact header, or nullptr: only well-formed
  };
  const Case cases[] = {
      {"random bytes", random_bytes, nullptr},
      {"NUL bytes", nul_product, "     10 SA / M                   \n"},
      {"only line feeds", std::string(1 << 20, '\n'), ""},
      {"one line of 100 MB", std::string(100 << 20, 'x'), ""},
      {"heading longer than 80", long_heading,
       nullptr},
  };
  for (const Case& c : cases) {
    write("raw/2026120818.raw", c.data);
    ToolRun r = run(with_paths({"-ba", "-pf", "over", "2026120818.raw"}));
    EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
    std::string header = read("hdr/2026120818.hdr");
    if (c.expected != nullptr) {
      EXPECT_EQ(header, c.expected) << c.name;
    }
    expect_well_formed(header);
  }
  // The heading's second piece is read as the second identification line.
  EXPECT_EQ(read("hdr/2026120818.hdr"), "     10 " + std::string(80, 'H') + " / " +
                                            std::string(20, 'H') + "\n");
}

TEST_F(FaultTest, DataFilesThatCannotBeRead) {
  fs::create_directories(dir_ / "raw/2026120818.raw");
  ToolRun dir = run(with_paths({"-ba", "2026120818.raw", "2026120819.raw"}));
  EXPECT_EQ(dir.status, 0);
  EXPECT_EQ(dir.err,
            "Unable to open file: raw/2026120818.raw\nUnable to open file: raw/2026120819.raw\n");
  EXPECT_FALSE(exists("hdr"));
}

// Reads that fail (a bad sector, a network mount that times out), looks
// at the data file that fail, and closes that fail or are interrupted,
// through the system-call seam, in a child that runs header_tool's or
// product_get's main.
TEST_F(FaultTest, ReadAndCloseErrorsWriteNoWrongRecordAndLoseNoIndex) {
  const std::string data = make_products(3000, 7);
  write("raw/2026120818.raw", data);
  const std::string expected = fresh_index("2026120818.raw");
  const Lines records = index_of((dir_ / "raw/2026120818.raw").string());
  auto offset = [&](size_t record) { return std::stol(records[record]); };
  const std::string first_two = records[0] + records[1];
  const std::string unread = "Unable to read file: raw/2026120818.raw (Input/output error)\n";
  const std::string header_unread =
      "Unable to read header file: hdr/2026120818.hdr (Input/output error)\n";
  struct Case {
    const char* name;
    const char* policy;  // header_tool's -pf; nullptr: product_get, through the whole header
    char call;           // what fails: reads of 'd' the data or 'h' the header file, 'c' the
                         // header's close, the data file's 's' stat, 'f' fstat or 't' ftell
    long at;             // data reads fail from this byte on
    bool short_first;    // the read that reaches it first returns the bytes before it
    int fail_errno;      // of the failure; 0: EIO
    std::string err;
    int status;
    bool once = false;   // only the first read of the byte `at` fails
  } cases[] = {
      {"first read", "over", 'd', 0, false, 0, unread, 0},
      {"inside a start's lines", "over", 'd', offset(1500) + 25, false, 0, unread, 0},
      {"inside a start's lines after a short read", "over", 'd', offset(1500) + 25, true, 0, unread, 0},
      {"inside a body after a short read", "over", 'd', (offset(2000) + offset(2001)) / 2, true, 0, unread, 0},
      {"resume check", "app", 'd', 0, false, 0, unread, 0},
      {"append, inside a start's lines after a short read", "app", 'd', offset(1500) + 25, true, 0, unread, 0},
      {"append, inside a body", "app", 'd', (offset(2000) + offset(2001)) / 2, false, 0, unread, 0},
      {"header read back", "app", 'h', 0, false, 0, header_unread, 12},
      {"header close fails", "over", 'c', 0, false, EIO,
       "Unable to write to header file: hdr/2026120818.hdr (Input/output error)\n", 12},
      {"header close interrupted", "over", 'c', 0, false, EINTR, "", 0},
      {"products: one read fails while the header is used", nullptr, 'd', offset(1500) + 25, false, 0, unread, 2,
       true},
      {"products: one read is refused while the header is used", nullptr, 'd', offset(2000) + 25, false, EAGAIN,
       "Unable to read file: raw/2026120818.raw (Resource temporarily unavailable)\n", 2, true},
      {"products: the data file's status", nullptr, 'f', 0, false, 0, "", 0},
      {"products: the data file's position", nullptr, 't', 0, false, 0, "", 0},
      {"products: the look whether the data file is there", nullptr, 's', 0, false, 0, unread, 2},
      {"products: the header read", nullptr, 'h', 0, false, 0,
       "Unable to read header file: hdr/2026120818.hdr (Input/output error), scanning the data file\n", 0},
  };
  for (const Case& c : cases) {
    write("hdr/2026120818.hdr", c.policy != nullptr ? first_two : expected);
    struct stat data_st {};
    ASSERT_EQ(stat((dir_ / "raw/2026120818.raw").c_str(), &data_st), 0);
    ChildRun r = run_in_child("", [&] {
      if (chdir(dir_.c_str()) != 0) return std::string("chdir");
      auto is_data = [&](int fd) {
        struct stat st {};
        return fstat(fd, &st) == 0 && st.st_ino == data_st.st_ino && st.st_dev == data_st.st_dev;
      };
      auto fail = [&] {
        errno = c.fail_errno != 0 ? c.fail_errno : EIO;
        return -1;
      };
      bool failed_once = false;
      IO_calls io;
      io.pread = [&](int fd, char* to, size_t size, long at) -> long {
        bool beyond = c.call == 'd' && is_data(fd) && at + long(size) > c.at;
        bool fails = c.call == 'h' ? !is_data(fd) : c.once ? beyond && at <= c.at && !failed_once : beyond;
        if (!fails) return ::pread(fd, to, size, at);
        if (c.short_first && at < c.at) return ::pread(fd, to, size_t(c.at - at), at);
        failed_once = true;
        return fail();
      };
      io.close = [&](int fd) {
        ::close(fd);
        return c.call == 'c' ? fail() : 0;
      };
      io.fstat = [&](int fd, struct stat* st) { return c.call == 'f' && is_data(fd) ? fail() : ::fstat(fd, st); };
      io.ftell = [&](FILE* f) { return c.call == 't' && is_data(fileno(f)) ? fail() : std::ftell(f); };
      io.stat = [&](const char* path, struct stat* st) {
        return c.call == 's' && ::stat(path, st) == 0 && st->st_ino == data_st.st_ino ? fail() : ::stat(path, st);
      };
      IO_set_calls(io);
      std::vector<std::string> args = with_paths({"-ba", "2026120818.raw"});
      if (c.policy != nullptr) args.insert(args.end() - 1, {"-pf", c.policy});
      args.insert(args.begin(), c.policy != nullptr ? "header_tool" : "product_get");
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      int argc = static_cast<int>(args.size());
      return std::to_string(c.policy != nullptr ? HDR_main(argc, argv.data()) : PG_main(argc, argv.data()));
    });
    std::string status = r.status == 0 ? r.result : std::to_string(r.status);
    EXPECT_EQ(status, std::to_string(c.status)) << c.name;
    EXPECT_EQ(r.err, c.err) << c.name;
    // Only whole records of a fresh index; what an append run found stays.
    const std::string header = read("hdr/2026120818.hdr");
    EXPECT_EQ(header, expected.substr(0, header.size())) << c.name;
    EXPECT_TRUE(header.empty() || header.back() == '\n') << c.name;
    if (c.policy == nullptr) {
      // product_get: every product, or the products before the failure.
      EXPECT_EQ(r.out, c.status == 0 ? data : data.substr(0, r.out.size())) << c.name;
      EXPECT_EQ(header, expected) << c.name;  // never written
      continue;
    }
    if (c.policy == "app"s) {
      EXPECT_EQ(header.substr(0, first_two.size()), first_two) << c.name;
    }
    if (c.call == 'h' || c.name == "resume check"s) {
      EXPECT_EQ(header, first_two) << c.name;  // untouched
    }
    ToolRun again = run(with_paths({"-ba", "-pf", "app", "2026120818.raw"}));
    EXPECT_EQ(again.status, 0) << c.name << again.err;
    EXPECT_EQ(read("hdr/2026120818.hdr"), expected) << c.name;
  }
}

TEST_F(FaultTest, HostileSettings) {
  write("raw/2026120818.raw", make_products(3, 4));
  const std::string expected = fresh_index("2026120818.raw");
  std::string junk(4096, '\0');
  std::mt19937 rng(5);
  for (char& c : junk) c = static_cast<char>(rng());
  const std::string long_value(10000, 'v');
  struct Case {
    const char* name;
    std::string cfg;        // resource file in the working directory
    std::string conv;       // convention file
    std::vector<std::string> extra;  // more options
    int status;
  };
  const std::string conv = "raw %R/%Y%m%d%h.raw %C/%Y%m%d%h.hdr 0\n";
  const Case cases[] = {
      {"overlong resource lines", "*.title " + long_value + "\n*" + long_value + " x\n", conv, {}, 0},
      {"unbalanced sections", "IF a\nIF b\nELSE\nEND\nEND\nEND\nELIF\nELSE\n" +
                                  std::string(30, 'I') + "F x\n", conv, {}, 0},
      {"binary resource file", junk, conv, {}, 0},
      {"binary convention file", "", junk + "\n" + conv, {}, 0},
      {"overlong convention line", "", std::string(20000, 'r') + "\n" + conv, {}, 0},
      {"huge template widths", "",
       "raw %R/%Y%m%d%h.raw %C/%99999999999Y%4000000000m%0d%-5h%9999999z.hdr 0\n", {}, 0},
      {"long option values", "", conv, {"-me", "warn," + long_value, "-pa", long_value,
                                        "-id", long_value, "-zz", long_value}, 0},
  };
  for (const Case& c : cases) {
    write("kiv.cfg", c.cfg);
    write("etc/name_conv", c.conv);
    std::vector<std::string> args = with_paths({"-ba", "-pf", "over"});
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    args.push_back("2026120818.raw");
    fs::remove_all(dir_ / "hdr");
    ToolRun r = run(args);
    EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
    for (const auto& entry : fs::directory_iterator(dir_ / "hdr"))
      expect_well_formed(read("hdr/" + entry.path().filename().string()));
  }
  // A 10,000-character directory or file name is reported, never cut.
  ToolRun r = run({"-ba", "-fp", "etc", "-rp", long_value, "-cp", "hdr", "2026120818.raw"});
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.err, "Unable to open file: " + long_value + "/2026120818.raw\nNo data file found in " + long_value +
                       " for template %R/%Y%m%d%h.raw\n");
  write("etc/name_conv", conv);
  fs::remove("kiv.cfg");
}

}  // namespace
