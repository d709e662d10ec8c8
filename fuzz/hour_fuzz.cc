// The hour forms of value conversion.
#include <string>

#include "fuzz/fuzz_env.h"
#include "src/files.h"
#include "src/resrc.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return 0; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = fuzz::text(data, size, 256);
  Date d;
  RES_parse_hour(text.c_str(), &d);
  FILE_reset();
  RES_conv_data(text.c_str(), nullptr, CV_hour);
  // The requested fields then drive a template expansion.
  FILE_set_name("@%Y%m%d%h%n");
  Date when;
  when.year = 2024, when.month = 3, when.day = 5, when.hour = 7, when.min = 30, when.sec = 0;
  std::string out;
  FILE_set_date(&when, out);
  return 0;
}
