// File naming and selection. Every file the package opens by name goes
// through FILE_open; the rest of the module turns what a user names (a
// literal name, a date, the current or latest file, a series) into file
// names by the site's naming conventions.
//
// State: one file-level FileState holds the current convention (data and
// header templates, extension, minimum size), the last name built or
// given and whether it was the user's own, the requested and last decoded
// dates, the file period of the last template used, the key texts, and
// the series of data files. FILE_reset restores the start-up values.
// Streams started through '|' are tracked apart (open_pipes) so that
// FILE_close can tell them from files; resetting the state never forgets
// an open stream.
#include "files.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "date.h"
#include "flag.h"
#include "mess.h"
#include "resrc.h"
#include "string.h"
#include "system.h"

namespace {

Date requested_start() {
  Date d;
  d.sec = 0;
  return d;
}

struct FileState {
  std::string conv, hconv, ext;
  long min_size = 0;
  long late_off = 3600;
  int header = 0;
  std::string filename;
  int filename_type = 0;
  Date set = requested_start();
  Date file_date;
  std::array<std::string, 256> keys;
  std::array<bool, 256> key_set{};
  bool key_init = false;
  // The sequence of data files.
  std::vector<std::string> files;
  int numfile = 0;
  int file_ind = 0;
  Date first_date;
  long num_hour = 0, skip = 0, offset = 0, secs = 0, nsecs = 0;
  long def_hours = 0;
};
FileState st;

std::set<FILE*> open_pipes;

const char* text_or_empty(const char* s) { return s != nullptr ? s : ""; }

bool starts_with_i(const std::string& s, const char* prefix) {
  size_t n = std::strlen(prefix);
  return s.size() >= n && strnicmp(s.c_str(), prefix, static_cast<int>(n)) == 0;
}

// The name with a leading '~' expanded (a copy either way).
std::string expanded(const char* file) {
  std::string name;
  FILE_add_user_path(text_or_empty(file), name);
  return name;
}

bool stat_of(const char* file, struct stat* sb) {
  std::string name = expanded(file);
  return ::stat(name.c_str(), sb) == 0;
}

}  // namespace

// ---- Opening and helpers -------------------------------------------------

int FILE_is_stdio(const char* file) {
  if (file == nullptr || file[0] == '\0') return 1;
  if (std::strcmp(file, "-") == 0) return 1;
  return (stricmp(file, "std") == 0 || stricmp(file, "stdn") == 0) ? 1 : 0;
}

int FILE_fullpath(const char* filename) {
  if (filename == nullptr) return 0;
  char c = filename[0];
  return (c == '/' || c == '.' || c == '~') ? 1 : 0;
}

int FILE_add_path_delim(std::string& path) {
  if (!path.empty() && path.back() != '/') path += '/';
  return 0;
}

std::string& FILE_add_path(const char* path, const char* file, std::string& filename) {
  std::string name = text_or_empty(file);
  if (FILE_is_stdio(name.c_str()) || FILE_fullpath(name.c_str())) {
    filename = name;
    return filename;
  }
  std::string joined = text_or_empty(path);
  FILE_add_path_delim(joined);
  filename = joined + name;
  return filename;
}

int FILE_add_user_path(const char* file, std::string& filename) {
  std::string name = text_or_empty(file);
  if (name.empty() || name[0] != '~') {
    filename = name;
    return 0;
  }
  size_t slash = name.find('/');
  std::string user = name.substr(1, slash == std::string::npos ? std::string::npos : slash - 1);
  const struct passwd* account = user.empty() ? ::getpwuid(::getuid()) : ::getpwnam(user.c_str());
  if (account == nullptr || account->pw_dir == nullptr) {
    filename = name;
    return 0;
  }
  std::string home = account->pw_dir;
  filename = slash == std::string::npos ? home : home + name.substr(slash);
  return 0;
}

int FILE_exist(const char* file) {
  if (FILE_is_stdio(file)) return 1;
  struct stat sb {};
  return stat_of(file, &sb) ? 1 : 0;
}

int FILE_is_dir(const char* file) {
  struct stat sb {};
  return (stat_of(file, &sb) && S_ISDIR(sb.st_mode)) ? 1 : 0;
}

long FILE_size(const char* file) {
  struct stat sb {};
  return stat_of(file, &sb) ? static_cast<long>(sb.st_size) : -1L;
}

int FILE_make_dir(std::string& dir, int flag) {
  for (char& c : dir)
    if (c == '\\') c = '/';
  size_t last = dir.rfind('/');
  if (last != std::string::npos && last >= 1 && FILE_exist(dir.substr(0, last).c_str()))
    return 1;
  std::vector<std::string> parts = parse_string(dir, '/');
  long make = static_cast<long>(parts.size()) - flag;
  std::string path;
  for (long i = 0; i < make; ++i) {
    const std::string& part = parts[static_cast<size_t>(i)];
    if (part.empty()) {
      if (path.empty() || path.back() != '/') path += '/';
      continue;
    }
    path += part;
    path += '/';
    ::mkdir(path.c_str(), 0755);  // failures show when the file is opened
  }
  return 0;
}

FILE* FILE_open(const char* file, const char* access) {
  const char* mode = (access != nullptr && access[0] != '\0') ? access : "r";
  if (FILE_is_stdio(file)) return mode[0] == 'r' ? stdin : stdout;
  if (file[0] == '|') {
    FILE* stream = ::popen(file + 1, mode);
    if (stream != nullptr) open_pipes.insert(stream);
    return stream;
  }
  std::string name = expanded(file);
  if (mode[0] == 'w' || mode[0] == 'a') {
    std::string dir = name;
    FILE_make_dir(dir, 1);
  }
  return std::fopen(name.c_str(), mode);
}

int FILE_close(FILE* stream) {
  if (stream == nullptr) return EOF;
  if (stream == stdin || stream == stdout || stream == stderr) {
    return stream == stdin ? 0 : std::fflush(stream);
  }
  auto pipe = open_pipes.find(stream);
  if (pipe != open_pipes.end()) {
    open_pipes.erase(pipe);
    return ::pclose(stream);
  }
  return std::fclose(stream);
}

namespace {

// The decision for a typed answer; `with_append` offers 'A'.
int overwrite_answer(const std::string& answer, bool with_append) {
  char c = answer.empty() ? '\0' : static_cast<char>(std::toupper(static_cast<unsigned char>(answer[0])));
  if (c == 'Y' || c == 'O') return 1;
  if (c == 'A' && with_append) return 2;
  return 3;
}

}  // namespace

int FILE_overwrite(const char* filename, int flag) {
  if (FILE_is_stdio(filename) || !FILE_exist(filename)) return 1;
  int policy = FLAG_get(FLAG_FILE_PARAM);
  if (policy > 0) return policy;
  if (FLAG_batch() > 0) return 3;
  if (flag != 1 && flag != 2) return 0;
  // The prompt is used as a format: a '%' of the name stays literal.
  std::string prompt;
  for (const char* c = filename; *c != '\0'; ++c) {
    prompt += *c;
    if (*c == '%') prompt += '%';
  }
  prompt += flag == 2 ? ": exists overwrite (Y,N,Use,Over,App): " : ": exists overwrite (Y,N,Use,Over): ";
  std::string answer;
  KIV_prompts(prompt.c_str(), answer, 9);
  return overwrite_answer(answer, flag == 2);
}

// ---- Not yet built -------------------------------------------------------
int FILE_set_name(std::string&) { return 0; }
int FILE_set_name(const char*) { return 0; }
int FILE_set_key(int, const char*) { return 0; }
int FILE_set_date(const Date*, std::string&) { return 0; }
int FILE_hdr_set_date(const Date*, std::string&) { return 0; }
int FILE_set_time(const Date&) { return 0; }
int FILE_reset_time() { return 0; }
int FILE_get_date(Date*) { return 0; }
int FILE_set_file(const char*, std::string&) { return 0; }
long FILE_set_current(const char*, std::string&) { return 0; }
int FILE_get_file_only(const char*, std::string*) { return 0; }
int FILE_list_file() { return 0; }
int FILE_first(const Date&) { return 0; }
int FILE_get_next(std::string&) { return 0; }
long FILE_set_date_off(const Date&, long, std::string&) { return 0; }
long FILE_num_hour() { return 0; }
long FILE_get_skip() { return 0; }
long FILE_get_offset() { return 0; }
FILE_state_view FILE_state() { return {}; }
const char* FILE_get_key(int) { return nullptr; }
void FILE_reset() { st = FileState{}; }
