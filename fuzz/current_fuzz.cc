// Current-file expressions: base dates, offsets, latest-file searches.
#include <cctype>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_env.h"
#include "src/files.h"
#include "src/mess.h"
#include "src/resrc.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_dated_dir();
  return 0;
}

namespace {

// A latest-file search may be told to try any number of names; a count
// beyond a few thousand only costs time, so such inputs are skipped.
bool asks_long_search(const std::string& s) {
  for (size_t i = 0; i + 1 < s.size(); ++i) {
    if (s[i] != '#') continue;
    size_t digits = 0;
    while (i + 1 + digits < s.size() && std::isdigit(static_cast<unsigned char>(s[i + 1 + digits])))
      ++digits;
    if (i > 0 && digits > 3) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string expr = fuzz::text(data, size, 256);
  if (asks_long_search(expr)) return 0;
  FILE_reset();
  RES_reset();
  FILE_set_name("@%Y%m%d%h.raw");
  std::string out;
  FILE_set_current(expr.c_str(), out);
  FILE_set_name("@%Y%j_%3h%n.dat");
  FILE_set_current(expr.c_str(), out);
  return 0;
}
