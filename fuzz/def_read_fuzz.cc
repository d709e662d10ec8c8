// The resource-file reader with its directives, on arbitrary file bytes.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_env.h"
#include "src/def_read.h"
#include "src/mess.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_private_dir();
  MESS_set(MESS_SET_QUIET, 0);  // the warnings about unbalanced sections are expected
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen("kiv.cfg", "wb");
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  DEF_reset();
  DEF_name(size > 0 && data[0] & 1 ? "+run" : "");
  // Read the file twice in a row: sections left open carry over.
  for (int pass = 0; pass < 2; ++pass) {
    if (DEF_open("kiv.cfg") != 0) std::abort();
    std::string name, value;
    while (DEF_get(name, value) == 1) {
      if (name.empty() && value.empty()) continue;
      DEF_valid(name.c_str());
      DEF_cmp("file_path", name.c_str());
    }
    DEF_close();
  }
  DEF_reset();
  return 0;
}
