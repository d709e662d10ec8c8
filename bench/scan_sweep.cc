// The large differential sweep, run by hand: thousands of generated data
// files, each indexed by the product scanner and by the simple scanner,
// which must write the same header file and the same messages. The
// scanner tests run a small sample of the same families.
//
// Usage: scan_sweep [SCALE [DIR]]   (SCALE multiplies the default counts:
// 1500 awkward-line files, 3000 random-byte files, 20 feeds of each kind;
// DIR defaults to /tmp)
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "bench/scan_files.h"
#include "tests/simple_scanner.h"
#include "src/header_tool.h"
#include "src/mess.h"

namespace {

std::string slurp(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The header file and the messages up to out3 of one scan of `data`.
std::string index(const std::string& dir, const std::string& data,
                  const std::function<void(FILE*, FILE*)>& scan) {
  const std::string raw = dir + "/sweep.raw", hdr = dir + "/sweep.hdr", log = dir + "/sweep.log";
  std::ofstream(raw, std::ios::binary) << data;
  std::remove(log.c_str());
  MESS_reset();
  MESS_set_str(("fi:" + log + ",out3").c_str());
  FILE* in = std::fopen(raw.c_str(), "rb");
  FILE* h = std::fopen(hdr.c_str(), "w");
  if (in == nullptr || h == nullptr) {
    std::perror(dir.c_str());
    std::exit(2);
  }
  scan(in, h);
  std::fclose(h);
  std::fclose(in);
  MESS_reset();
  return slurp(hdr) + "\n--- messages\n" + slurp(log);
}

}  // namespace

int main(int argc, char** argv) {
  int scale = argc > 1 ? std::atoi(argv[1]) : 1;
  std::string dir = argc > 2 ? argv[2] : "/tmp";
  dir += "/scan_sweep." + std::to_string(getpid());
  std::error_code error;
  if (scale < 1 || !std::filesystem::create_directories(dir, error)) return 2;
  using rawgen::Style;
  struct Family {
    const char* name;
    int files;
    std::function<std::string(uint64_t)> make;
  } families[] = {
      {"awkward lines", 1500, rawgen::awkward_file},
      {"random bytes", 3000, rawgen::random_bytes},
      {"SOH feed", 20, [](uint64_t s) { return rawgen::feed_file(Style::soh, s, 40000); }},
      {"stars feed", 20, [](uint64_t s) { return rawgen::feed_file(Style::stars, s, 40000); }},
  };
  int passed = 0, failed = 0;
  for (const Family& f : families) {
    for (int seed = 0; seed < f.files * scale; ++seed) {
      std::string data = f.make(static_cast<uint64_t>(seed));
      std::string fast = index(dir, data, [](FILE* in, FILE* h) { HDR_process(in, fileno(h), "data.hdr", FILE_NEW); });
      std::string simple = index(dir, data, [](FILE* in, FILE* h) { simple_scan(in, h); });
      if (fast == simple) {
        ++passed;
        continue;
      }
      ++failed;
      std::printf("differ: %s, seed %d\n", f.name, seed);
    }
  }
  std::filesystem::remove_all(dir, error);
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
