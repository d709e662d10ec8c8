// The message option string, followed by messages through whatever it set
// up (levels, log files, paging).
#include <string>

#include "fuzz/fuzz_env.h"
#include "src/mess.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_private_dir();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string option = fuzz::text(data, size, 1024);
  if (fuzz::reaches_outside(option)) return 0;
  MESS_reset();
  MESS_set_str(option.c_str());
  for (M_type level : {M_print, M_error, M_warnc, M_mess, M_out1, M_debugd})
    MESS_print(level, "line %d\nand %s\n", 1, option.c_str());
  MESS_reset();
  fuzz::sweep();
  return 0;
}
