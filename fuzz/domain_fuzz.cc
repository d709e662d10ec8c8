// Domain specifications: numbers, projections, stations and regions,
// with a region file and a city database in the resource directory.
#include <cstdio>
#include <string>

#include "fuzz/fuzz_env.h"
#include "src/mess.h"
#include "src/region.h"
#include "src/resrc.h"

namespace {

void write(const char* name, const char* text) {
  FILE* f = std::fopen(name, "w");
  std::fputs(text, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_private_dir();
  write("kiv.reg",
        "us Contiguous_US 1 ps,40,-98,30,20,2,2\n"
        "ne New_England 1 lc,42,-71,2\n"
        "me Myself 1 me\n"
        "lp1 Loop_one 1 lp2\n"
        "lp2 Loop_two 1 fi:kiv.reg\n");
  write("sao.cty",
        "DENVER CO US KDEN 2* 39.85 -104.65 1655 72565 1\n"
        "BOSTON MA US KBOS *1 42.36 -71.01 6 72509 2\n");
  MESS_set(MESS_SET_QUIET, 0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string spec = fuzz::text(data, size, 512);
  if (fuzz::reaches_outside(spec)) return 0;
  RES_reset();
  RES_new(NO_VALUE, "file_path", fuzz::workdir().c_str(), CV_string);
  RES_new(NO_VALUE, "stat_prior", size > 0 && (data[0] & 1) ? "+2" : "x", CV_string);
  Domain d;
  DOM_decode(spec.c_str(), &d);
  fuzz::sweep({"kiv.reg", "sao.cty"});
  return 0;
}
