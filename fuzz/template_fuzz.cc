// File-name templates: expansion with a date, header names, and matching
// a given name against the template. The input is "template\nname".
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_env.h"
#include "src/files.h"
#include "src/mess.h"
#include "src/resrc.h"
#include "src/string.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::enter_dated_dir();
  return 0;
}

namespace {

// Specifications that end the process, by design.
bool ends_process(std::string name) {
  size_t hash = name.find('#', 1);
  if (hash != std::string::npos) name.resize(hash);
  return stricmp(name.c_str(), "exit") == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string in = fuzz::text(data, size, 512);
  size_t nl = in.find('\n');
  std::string tmpl = in.substr(0, nl);
  std::string name = nl == std::string::npos ? "" : in.substr(nl + 1);
  if (fuzz::reaches_outside(name) || ends_process(name)) return 0;
  // A current-file request searches back up to 500 periods: keep it in
  // the same small budget whatever the input asks for.
  if (name.find('#') != std::string::npos && name.size() > 40) return 0;
  FILE_reset();
  RES_reset();
  RES_new(NO_VALUE, "raw_path", "raw", CV_string);
  FILE_set_key('x', "key text");
  FILE_set_name(("@" + tmpl).c_str());
  Date when;
  when.year = 2024, when.month = 3, when.day = 5, when.hour = 7, when.min = 30, when.sec = 0;
  std::string out;
  FILE_set_date(&when, out);
  FILE_hdr_set_date(&when, out);
  FILE_set_file(name.c_str(), out);
  FILE_set_date(nullptr, out);
  fuzz::sweep();
  return 0;
}
