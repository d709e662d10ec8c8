// The product scanner against the simple line-reader scanner: on any data
// file both must write the same header file and the same messages. The
// first input byte also picks a point at which the file is indexed while
// it is still growing; appending after it must end with the fresh index.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/simple_scanner.h"
#include "fuzz/fuzz_env.h"
#include "src/header_tool.h"
#include "src/mess.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_private_dir();
  return 0;
}

namespace {

void write_file(const char* name, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(name, "wb");
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

std::string slurp(const char* name) {
  std::ifstream in(name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs one scan of `data_name` into `hdr_name` with every message up to
// out3 logged to `log_name`.
template <typename Scan>
void index(const char* data_name, const char* hdr_name, const char* access, const char* log_name,
           Scan scan) {
  MESS_reset();
  MESS_set_str((std::string("fi:") + log_name + ",out3").c_str());
  FILE* in = std::fopen(data_name, "rb");
  FILE* h = std::fopen(hdr_name, access);
  scan(in, h);
  std::fclose(h);
  std::fclose(in);
  MESS_reset();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  size_t split = (data[0] * (size - 1)) / 255;
  const uint8_t* body = data + 1;
  size_t len = size - 1;
  write_file("data.raw", body, len);
  std::remove("fast.log");
  std::remove("simple.log");
  index("data.raw", "fast.hdr", "w", "fast.log",
        [](FILE* in, FILE* h) { HDR_process(in, fileno(h), "fast.hdr", FILE_NEW); });
  index("data.raw", "simple.hdr", "w", "simple.log",
        [](FILE* in, FILE* h) { simple_scan(in, h); });
  if (slurp("fast.hdr") != slurp("simple.hdr")) std::abort();
  if (slurp("fast.log") != slurp("simple.log")) std::abort();

  write_file("grow.raw", body, split);
  index("grow.raw", "grow.hdr", "w", "grow.log",
        [](FILE* in, FILE* h) { HDR_process(in, fileno(h), "grow.hdr", FILE_NEW); });
  write_file("grow.raw", body, len);
  index("grow.raw", "grow.hdr", "r+", "grow.log",
        [](FILE* in, FILE* h) { HDR_process(in, fileno(h), "grow.hdr", FILE_APPEND); });
  if (slurp("grow.hdr") != slurp("fast.hdr")) std::abort();
  return 0;
}
