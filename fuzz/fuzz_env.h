// What every fuzz target shares: a private working directory (so files
// that inputs name land there and are swept after each run) and standard
// streams on /dev/null, so prompts get end of input and output stays quiet.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "src/mess.h"

namespace fuzz {

inline std::filesystem::path& workdir() {
  static std::filesystem::path dir;
  return dir;
}

inline void enter_private_dir() {
  char tmpl[] = "/tmp/kiv_fuzz_XXXXXX";
  const char* dir = mkdtemp(tmpl);
  if (dir == nullptr) std::abort();
  workdir() = dir;
  if (chdir(dir) != 0) std::abort();
  int null_in = open("/dev/null", O_RDONLY);
  int null_out = open("/dev/null", O_WRONLY);
  dup2(null_in, 0);
  dup2(null_out, 1);
  close(null_in);
  close(null_out);
  std::atexit([] { std::filesystem::remove_all(workdir()); });
}

// For targets that name files by date: "now" is pinned through kivcurtime
// and the expected warnings are silenced.
inline void enter_dated_dir() {
  enter_private_dir();
  setenv("kivcurtime", "2024030507", 1);
  MESS_set(MESS_SET_QUIET, 0);
}

// Removes everything an input created in the working directory, except
// the names in `keep`.
inline void sweep(std::initializer_list<const char*> keep = {}) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(workdir(), ec)) {
    bool kept = false;
    for (const char* k : keep) kept = kept || entry.path().filename() == k;
    if (!kept) std::filesystem::remove_all(entry.path(), ec);
  }
}

// The input as text up to its first NUL, at most `max` bytes.
inline std::string text(const uint8_t* data, size_t size, size_t max = 4096) {
  std::string s(reinterpret_cast<const char*>(data), size < max ? size : max);
  return s.substr(0, s.find('\0'));
}

// Inputs that would run shell commands or reach outside the private
// directory are not the library's business to refuse: '|' names are a
// feature. The targets skip them.
inline bool reaches_outside(const std::string& s) {
  return s.find_first_of("|~/") != std::string::npos;
}

}  // namespace fuzz
