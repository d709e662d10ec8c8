// File naming and selection. Every file the package opens by name goes
// through FILE_open; the rest of the module turns what a user names (a
// literal name, a date, the current or latest file, a series) into file
// names by the site's naming conventions.
//
// State: one file-level FileState holds the current convention (data and
// header templates, extension, minimum size), the last name built or
// given and whether it was the user's own, the requested and last decoded
// dates, the file period of the last template used, the key texts, the
// series of data files and the values already warned about. The template
// expander and the name matcher return what they find; only the callers
// store it. FILE_reset restores the start-up values.
// Streams started through '|' are tracked apart (open_pipes) so that
// FILE_close can tell them from files; resetting the state never forgets
// an open stream.
#include "files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "date.h"
#include "flag.h"
#include "http.h"
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
  std::string filename;
  int filename_type = 0;
  std::string type;          // asked of the last FILE_set_name
  std::string conv_missing;  // the convention file that did not open
  Date set = requested_start();
  Date file_date;
  std::array<std::string, 256> keys;
  std::array<bool, 256> key_set{};
  bool key_init = false;
  // The sequence of data files; `first` is the origin of a series.
  std::vector<std::string> files;
  int numfile = 0;
  int file_ind = 0;
  FILE_named first;
  long num_hour = 0, skip = 0, offset = 0, secs = 0, nsecs = 0;
  long def_hours = 0;
  std::set<std::string> warned;  // values already reported as meaningless
  FILE_remote_size remote;  // asks servers of URLs in latest-file searches
};
FileState state;

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
  return (c == '/' || c == '.' || c == '~' || HTTP_is_url(filename)) ? 1 : 0;
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

std::string FILE_unmade_dir(const char* file) {
  std::string name = expanded(file);
  for (size_t slash = name.find('/', 1); slash != std::string::npos; slash = name.find('/', slash + 1)) {
    std::string dir = name.substr(0, slash);
    struct stat st {};
    if (::stat(dir.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) continue;
      errno = ENOTDIR;
      return dir;
    }
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) return dir;
  }
  return {};
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
  FILE* stream;
  while ((stream = std::fopen(name.c_str(), mode)) == nullptr && errno == EINTR) {
  }
  return stream;
}

namespace {

// open(2), again when a signal interrupted it.
int open_retried(const char* name, int flags, mode_t perm = 0) {
  int fd;
  while ((fd = ::open(name, flags, perm)) < 0 && errno == EINTR) {
  }
  return fd;
}

// Waits for an exclusive lock on the open file; EINTR is not a failure.
int lock_exclusive(int fd) {
  int rc;
  while ((rc = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  return rc;
}

// Whether `name` still names the file open at `fd` (not replaced or
// removed while this process waited for the lock).
bool still_named(int fd, const std::string& name) {
  struct stat held {}, now {};
  return ::fstat(fd, &held) == 0 && ::lstat(name.c_str(), &now) == 0 &&
         held.st_dev == now.st_dev && held.st_ino == now.st_ino;
}

}  // namespace

int FILE_open_exclusive(const char* file, int mode) {
  std::string name = expanded(file);
  if (mode == FILE_NEW) {
    std::string dir = name;
    FILE_make_dir(dir, 1);
  }
  // Opening never waits: a FIFO without a reader fails (ENXIO) instead.
  int flags = (mode == FILE_NEW ? O_WRONLY | O_CREAT : O_RDWR) | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  for (int attempt = 0; attempt < 100; ++attempt) {
    int fd = open_retried(name.c_str(), flags, 0666);
    if (fd < 0) return -1;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // writes wait as ever
    struct stat st {};
    if (lock_exclusive(fd) != 0 || ::fstat(fd, &st) != 0) {
      int err = errno;
      ::close(fd);
      errno = err;
      return -1;
    }
    if (!still_named(fd, name)) {
      ::close(fd);
      continue;
    }
    // Emptied only now, under the lock, so no other writer is cut short.
    if (mode == FILE_NEW && S_ISREG(st.st_mode) && FILE_truncate(fd, 0) != 0) {
      int err = errno;
      ::close(fd);
      errno = err;
      return -1;
    }
    return fd;
  }
  errno = EAGAIN;
  return -1;
}

FILE_fd& FILE_fd::operator=(FILE_fd&& other) noexcept {
  if (this != &other) {
    close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int FILE_fd::close() {
  if (fd_ < 0) return 0;
  int rc = FILE_close_fd(fd_);
  fd_ = -1;
  return rc;
}

int FILE_fd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

int FILE_close_fd(int fd, int (*close_fn)(int)) {
  int rc = close_fn != nullptr ? close_fn(fd) : ::close(fd);
  // On Linux the descriptor is gone even then; closing it again could
  // close one that another thread has just been given.
  return rc != 0 && errno == EINTR ? 0 : rc;
}

int FILE_truncate(int fd, long length) {
  int rc;
  while ((rc = ::ftruncate(fd, length)) != 0 && errno == EINTR) {
  }
  return rc;
}

int FILE_open_temp() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  // A file system without unnamed files: a named one, unlinked at once.
  std::string name = dir + "/kiv.XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

bool FILE_write_at(int fd, const char* data, long size, long at) {
  while (size > 0) {
    ssize_t n = ::pwrite(fd, data, static_cast<size_t>(size), at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n, at += n, size -= n;
  }
  return true;
}

FILE* FILE_open_regular(const char* file) {
  if (FILE_is_stdio(file) || file[0] == '|') return FILE_open(file, "r");
  std::string name = expanded(file);
  struct stat sb {};
  if (::stat(name.c_str(), &sb) != 0) return nullptr;  // missing: the caller reports
  // Checked before opening, since opening a device can act on it, and on
  // the open file again, since the name may have been replaced meanwhile
  // (O_NONBLOCK: a FIFO put there does not block the open).
  bool regular = S_ISREG(sb.st_mode);
  int fd = regular ? open_retried(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC) : -1;
  if (fd >= 0 && (::fstat(fd, &sb) != 0 || !S_ISREG(sb.st_mode))) {
    ::close(fd);
    fd = -1;
    regular = false;
  }
  if (!regular) {
    MESS_print(M_warn, "Not a regular file, ignored: %s\n", file);
    return nullptr;
  }
  if (fd < 0) return nullptr;
  FILE* stream = ::fdopen(fd, "r");
  if (stream == nullptr) ::close(fd);
  return stream;
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
  if (c == 'Y' || c == 'O') return FILE_NEW;
  if (c == 'A' && with_append) return FILE_APPEND;
  return FILE_KEEP;
}

}  // namespace

int FILE_overwrite(const char* filename, int flag) {
  if (FILE_is_stdio(filename) || !FILE_exist(filename)) return FILE_NEW;
  int policy = FLAG_get(FLAG_FILE_PARAM);
  if (policy > 0) return policy;
  if (FLAG_batch() > 0) return FILE_KEEP;
  if (flag != FILE_ASK && flag != FILE_ASK_APPEND) return FILE_UNDECIDED;
  // KIV_prompts shows the prompt as text, so the name goes in as it is.
  std::string prompt = filename;
  prompt += flag == FILE_ASK_APPEND ? ": exists overwrite (Y,N,Use,Over,App): " : ": exists overwrite (Y,N,Use,Over): ";
  std::string answer;
  KIV_prompts(prompt.c_str(), answer, 9);
  return overwrite_answer(answer, flag == FILE_ASK_APPEND);
}


// ---- Conventions and templates -------------------------------------------

namespace {

void clear_date_time(Date& d) {
  d.year = d.month = d.day = d.hour = d.min = NO_VALUE;
}

int item_unit(int n) { return n > 0 ? n : 1; }  // %0h counts as %1h

long truncate_to(long value, long n) { return value / item_unit(static_cast<int>(n)) * item_unit(static_cast<int>(n)); }

// The file period is the smallest step of any day, hour or minute item.
void note_period(long& period, long step) {
  if (period == NO_VALUE || step < period) period = step;
}

// A negative requested hour or minute -(O*100+S) means "truncate to S,
// then add O"; a step of 0 counts as 1.
int request_step(int req) {
  int step = (-req) % 100;
  return step > 0 ? step : 1;
}
bool is_step_request(int req) { return req < 0 && req != NO_VALUE; }

long clock_period(int req, int n, long unit) {
  return (is_step_request(req) ? request_step(req) : item_unit(n)) * unit;
}
long day_period(int req, int n) { return (is_step_request(req) ? -static_cast<long>(req) : item_unit(n)) * 86400L; }

// Value of an hour or minute item; -1 when the date has none.
int clock_value(int req, int value, int n) {
  if (req >= 0) return static_cast<int>(truncate_to(req, n));
  if (value < 0) return -1;
  if (req == NO_VALUE) return static_cast<int>(truncate_to(value, n));
  return static_cast<int>(truncate_to(value, request_step(req))) + (-req) / 100;
}

int day_value(int req, int value, int n) {
  if (req >= 0) return req;
  if (value < 0) return -1;
  if (req == NO_VALUE) return static_cast<int>(truncate_to(value, n));
  return static_cast<int>(truncate_to(value, -static_cast<long>(req)));
}

int month_value(int req, int value, int n) {
  if (req >= 0) return req;
  return value < 0 ? -1 : static_cast<int>(truncate_to(value, n));
}

void append_number(std::string& out, int value, int width) {
  if (value < 0) {
    out.append(static_cast<size_t>(width), '0');
    return;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%*.*d", width, width, value);
  out += buf;
}

int store(int value) { return value < 0 ? NO_VALUE : value; }

const char* directory_resource(char item) {
  switch (item) {
    case 'C': return "con_path";
    case 'D': return "data_path";
    case 'F': return "file_path";
    case 'R': return "raw_path";
    case 'G': return "grid_path";
    case 'I': return "image_path";
    case 'W': return "watch_path";
    case 'T': return "text_path";
    case 'M': return "model_path";
    case 'S': return "sat_path";
    default: return nullptr;
  }
}

// The configured directory of a directory item, "." when not set.
std::string directory_value(char item) {
  const char* value = RES_get(directory_resource(item));
  return (value != nullptr && value[0] != '\0') ? value : ".";
}

const std::string* key_text(int key) {
  auto k = static_cast<unsigned char>(key);
  return state.key_set[k] ? &state.keys[k] : nullptr;
}

void clear_keys() {
  for (auto& k : state.keys) k.clear();
  state.key_set.fill(false);
  state.key_init = true;
}

// One template item: '%', an optional width, the item character, and for
// %{name} the name.
struct Item {
  int n = 1;
  bool has_n = false;
  char kind = '\0';
  std::string name;
  size_t end = 0;  // template position after the item
};

// value * 10 + digit, held at INT_MAX instead of overflowing: numbers in
// templates and expressions come from users and may be any length.
int add_digit(int value, char digit) {
  int d = digit - '0';
  return value > (INT_MAX - d) / 10 ? INT_MAX : value * 10 + d;
}

Item read_item(const std::string& tmpl, size_t pos) {
  Item item;
  size_t i = pos + 1;
  if (i < tmpl.size() && std::isdigit(static_cast<unsigned char>(tmpl[i]))) {
    item.has_n = true;
    item.n = 0;
    while (i < tmpl.size() && std::isdigit(static_cast<unsigned char>(tmpl[i])))
      item.n = add_digit(item.n, tmpl[i++]);
  }
  if (i >= tmpl.size()) {
    item.end = i;
    return item;
  }
  item.kind = tmpl[i++];
  if (item.kind == '{') {
    size_t close = tmpl.find('}', i);
    size_t stop = close == std::string::npos ? tmpl.size() : close;
    item.name = tmpl.substr(i, stop - i);
    i = close == std::string::npos ? stop : close + 1;
  }
  item.end = i;
  return item;
}

// The directory part of a name the user gave, standing in for the
// template's directory items: as many trailing components are cut off as
// the data template has separators.
bool extract_path(std::string& path) {
  if (state.filename_type != 1 || !FILE_fullpath(state.filename.c_str())) return false;
  int count = 0;
  for (char c : state.conv)
    if (c == '/' || c == ':') ++count;
  const std::string& name = state.filename;
  size_t found = std::string::npos;
  for (size_t i = name.size(); i-- > 0 && count > 0;) {
    if (name[i] == '/' || (i == 1 && name[1] == ':')) {
      --count;
      found = i;
    }
  }
  if (found == std::string::npos) return false;
  path = name.substr(0, found);
  MESS_print(M_debugc, "Extracted path: %s\n", path.c_str());
  return true;
}

// What filling a template gives: the name, the date with the fields the
// template wrote, and the file period (NO_VALUE: no day, hour or minute
// item).
struct Expansion {
  std::string name;
  Date date;
  long period = NO_VALUE;
};

// Fills a template from a date; the requested fields (`set`) win over the
// date's own. `start` is the date the result's fields are written into.
class Expander {
 public:
  Expander(const Date& date, const Date& start, bool has_path, std::string path)
      : date_(date), has_path_(has_path), path_(std::move(path)) {
    result_.date = start;
  }

  Expansion run(const std::string& tmpl) {
    for (size_t i = 0; i < tmpl.size();) {
      char c = tmpl[i];
      if (c == '%') {
        Item item = read_item(tmpl, i);
        write_item(item);
        i = item.end;
        continue;
      }
      if (c == ' ') out() += '_';
      else if (c != '{' && c != '}') out() += c;
      ++i;
    }
    return result_;
  }

 private:
  std::string& out() { return result_.name; }

  void write_item(const Item& item) {
    const Date& d = date_;
    Date& fd = result_.date;
    const Date& set = state.set;
    int n = item.n;
    switch (item.kind) {
      case '\0': break;
      case '%': out() += '%'; break;
      case 'Y': write_year(n); break;
      case 'y': write_short_year(n); break;
      case 'm': {
        int v = month_value(set.month, d.month, n);
        append_number(out(), v, 2);
        fd.month = store(v);
        break;
      }
      case 'b': {
        int v = month_value(set.month, d.month, n);
        out() += (v >= 1 && v <= 12) ? DATE_month_lower(v) : "xxx";
        fd.month = store(v);
        break;
      }
      case 'd': {
        int v = day_value(set.day, d.day, n);
        append_number(out(), v, 2);
        fd.day = store(v);
        note_period(result_.period, day_period(set.day, n));
        break;
      }
      case 'j': write_julian(n); break;
      case 'h': write_clock(set.hour, d.hour, n, 3600, fd.hour); break;
      case 'n': write_clock(set.min, d.min, n, 60, fd.min); break;
      case 'e': out() += state.ext; break;
      case '{': {
        const char* value = RES_get(item.name.c_str());
        out() += has_path_ ? path_ : std::string(text_or_empty(value));
        break;
      }
      default: write_other(item); break;
    }
  }

  // An hour or minute item: the requested or the date's value, its field
  // of the result's date, and the file period of one `unit` step.
  void write_clock(int req, int value, int n, long unit, int32_t& field) {
    int v = clock_value(req, value, n);
    append_number(out(), v, 2);
    field = store(v);
    note_period(result_.period, clock_period(req, n, unit));
  }

  void write_year(int n) {
    int v = state.set.year >= 0 ? state.set.year : date_.year < 0 ? -1 : static_cast<int>(truncate_to(date_.year, n));
    append_number(out(), v, 4);
    result_.date.year = store(v);
  }

  void write_short_year(int n) {
    int v = -1, full = NO_VALUE;
    if (state.set.year >= 0) {
      v = state.set.year % 100;
      full = state.set.year;
    } else if (date_.year >= 0) {
      v = static_cast<int>(truncate_to(date_.year % 100, n));
      full = date_.year / 100 * 100 + v;
    }
    append_number(out(), v, 2);
    result_.date.year = full;
  }

  void write_julian(int n) {
    int day = day_value(state.set.day, date_.day, n);
    int jday = -1;
    if (day >= 0 && date_.month >= 1) DATE_monday_julian(date_.year, date_.month, day, &jday);
    append_number(out(), jday, 3);
    result_.date.jday = store(jday);
    result_.date.month = date_.month;
    result_.date.day = state.set.day >= 0 ? state.set.day : date_.day;
    note_period(result_.period, day_period(state.set.day, n));
  }

  // Directory items and keys.
  void write_other(const Item& item) {
    if (directory_resource(item.kind) != nullptr) {
      out() += has_path_ ? path_ : directory_value(item.kind);
      return;
    }
    const std::string* key = key_text(item.kind);
    if (key == nullptr) {
      out() += '0';
      return;
    }
    // A width beyond the key's length writes the whole key.
    out() += (item.has_n && item.n > 0) ? key->substr(0, static_cast<size_t>(item.n)) : *key;
  }

  const Date& date_;
  bool has_path_;
  std::string path_;
  Expansion result_;
};

bool read_text_line(FILE* f, std::string& line) {
  line.clear();
  int c;
  while ((c = std::fgetc(f)) != EOF && c != '\n') line += static_cast<char>(c);
  return c != EOF || !line.empty();
}

// Reads the key suffixes ":k=value" of a type, sets the keys and cuts the
// type at the first one.
void take_key_suffixes(std::string& type) {
  size_t cut = std::string::npos;
  for (size_t colon = type.find(':'); colon != std::string::npos; colon = type.find(':', colon + 1)) {
    if (colon + 3 > type.size() || type[colon + 2] != '=') continue;
    char key = type[colon + 1];
    size_t end = type.find(':', colon + 3);
    std::string value = type.substr(colon + 3, end == std::string::npos ? std::string::npos : end - colon - 3);
    if (value.empty()) continue;
    FILE_set_key(key, value.c_str());
    MESS_print(M_debugd, "KEY: %c = %s\n", key, value.c_str());
    if (cut == std::string::npos) cut = colon;
  }
  if (cut != std::string::npos) type.resize(cut);
}

std::string convention_file_name() {
  const char* name = RES_get("name_conv");
  if (name == nullptr || name[0] == '\0') name = "name_conv";
  std::string full;
  return FILE_add_path(RES_get("file_path"), name, full);
}

// Reads one convention line into the state; returns its type name (empty
// for a line without fields).
std::string read_convention(const std::string& line) {
  state.conv.clear();
  state.hconv.clear();
  state.min_size = 0;
  std::vector<std::string> fields;
  size_t i = 0;
  while (fields.size() < 4) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    if (i >= line.size()) break;
    size_t start = i;
    while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    fields.push_back(line.substr(start, i - start));
  }
  fields.resize(4);
  state.conv = fields[1];
  state.hconv = fields[2];
  if (!state.hconv.empty() && state.hconv[0] == '-') state.hconv.clear();
  state.min_size = std::strtol(fields[3].c_str(), nullptr, 10);
  return fields[0];
}

// 1 when the convention line of `name` serves `type`.
int match_convention(const std::string& type, const std::string& name) {
  if (name.empty()) return 0;
  if (stricmp(type.c_str(), name.c_str()) == 0) {
    MESS_print(M_debuga, "File name match for: %s\n", type.c_str());
    return 1;
  }
  if (strnicmp(type.c_str(), name.c_str(), static_cast<int>(name.size())) != 0) return 0;
  size_t underscore = type.rfind('_');
  if (underscore != std::string::npos) state.ext = type.substr(underscore + 1);
  MESS_print(M_debuga, "File name partial match for: %s-%s ext: %s\n", type.c_str(), name.c_str(),
             state.ext.c_str());
  return 1;
}

}  // namespace

int FILE_set_name(std::string& type) {
  if (!state.key_init) clear_keys();
  state.filename.clear();
  state.type = type;
  state.conv_missing.clear();
  if (stricmp(type.c_str(), "none") == 0) {
    state.conv.clear();
    return 0;
  }
  if (!type.empty() && type[0] == '@') {
    state.conv = type.substr(1);
    return 1;
  }
  take_key_suffixes(type);
  state.type = type;
  std::string file = convention_file_name();
  FILE_ptr conv_file(FILE_open_regular(file.c_str()));
  if (conv_file == nullptr || FILE_is_stdio(file.c_str())) {
    MESS_print(M_warn, "FILE_set_name: No file name convention file: %s\n", file.c_str());
    state.conv_missing = file;
    state.conv = type;
    return 0;
  }
  MESS_print(M_debuga, "Opening name convention file: %s\n", file.c_str());
  state.ext.clear();
  std::string line;
  while (read_text_line(conv_file.get(), line)) {
    if (!line.empty() && line[0] == '#') continue;
    if (match_convention(type, read_convention(line))) return 1;
  }
  state.conv = type;
  state.hconv.clear();
  state.min_size = 0;
  MESS_print(M_debuga, "No file name conversion for: %s\n", type.c_str());
  return 0;
}

int FILE_set_name(const char* type) {
  std::string copy = text_or_empty(type);
  return FILE_set_name(copy);
}

int FILE_set_key(int key, const char* str) {
  if (!state.key_init) clear_keys();
  auto k = static_cast<unsigned char>(key);
  std::string text = text_or_empty(str);
  if (text.size() > 29) text.resize(29);
  for (char& c : text)
    if (c == ' ') c = '_';
  state.keys[k] = text;
  state.key_set[k] = true;
  return 0;
}

const char* FILE_get_key(int key) {
  const std::string* text = key_text(key);
  return text != nullptr ? text->c_str() : nullptr;
}

namespace {

// Which template of the convention a name is built from.
enum class Tmpl { data, header };

// FILE_set_date with the data-file or the header-file template.
int set_date(const Date* datim, std::string& out_file, Tmpl which) {
  if (state.conv.empty()) {
    out_file = state.filename.empty() ? "filename" : state.filename;
    state.filename_type = 1;
    return 1;
  }
  if (FILE_is_stdio(state.conv.c_str())) {
    out_file = "-";
    state.filename_type = 0;
    return 1;
  }
  std::string path;
  bool has_path = extract_path(path);
  const std::string& tmpl = which == Tmpl::header ? state.hconv : state.conv;
  state.late_off = NO_VALUE;
  Date date = datim != nullptr ? *datim : state.file_date;
  if (datim != nullptr) clear_date_time(state.file_date);
  if (date.year == NO_VALUE && !state.filename.empty()) {
    out_file = state.filename;
    state.filename_type = 1;
    return 1;
  }
  Expansion built = Expander(date, state.file_date, has_path, path).run(tmpl);
  state.file_date = built.date;
  state.late_off = built.period;
  out_file = built.name;
  state.filename = built.name;
  return 0;
}

}  // namespace

int FILE_set_date(const Date* datim, std::string& out_file) { return set_date(datim, out_file, Tmpl::data); }

int FILE_hdr_set_date(const Date* datim, std::string& out_file) {
  Date date = datim != nullptr ? *datim : state.file_date;
  // Without a convention the expansion would hand back the data file's
  // own name: give no header-file name at all rather than that.
  if (date.year == NO_VALUE) return 0;
  if (state.conv.empty()) {
    out_file.clear();
    return 0;
  }
  set_date(&date, out_file, Tmpl::header);
  return out_file.empty() ? 0 : 1;
}

int FILE_set_time(const Date& date) {
  state.set = date;
  return 0;
}

int FILE_reset_time() {
  clear_date_time(state.set);
  return 0;
}

int FILE_get_date(Date* date) {
  if (date != nullptr) *date = state.file_date;
  return 0;
}

FILE_state_view FILE_state() {
  FILE_state_view view;
  view.conv = state.conv;
  view.hconv = state.hconv;
  view.ext = state.ext;
  view.filename = state.filename;
  view.min_size = state.min_size;
  view.late_off = state.late_off;
  view.filename_type = state.filename_type;
  view.set = state.set;
  view.file_date = state.file_date;
  view.type = state.type;
  view.conv_missing = state.conv_missing;
  return view;
}

void FILE_reset() { state = FileState{}; }

void FILE_set_remote(FILE_remote_size size) { state.remote = std::move(size); }

// ---- Specifications ------------------------------------------------------

namespace {

bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// The digits at the start of text[pos, pos+width), or -1 when there are
// none. A short field is read as far as its digits go.
int leading_number(const std::string& text, size_t pos, size_t width) {
  int value = -1;
  for (size_t i = pos; i < text.size() && i < pos + width && is_digit(text[i]); ++i)
    value = (value < 0 ? 0 : value * 10) + (text[i] - '0');
  return value;
}

void report_current(const std::string& name) { MESS_print(M_mess, "Current filename: %s\n", name.c_str()); }

// What matching a name against a template gives: the name with the
// configured directories put in, the date with the fields decoded, the
// file period (NO_VALUE: no day, hour or minute item), the extension
// (learned from the name when the convention gave none), and whether the
// name fitted the template to its end.
struct Match {
  std::string name;
  Date date;
  long period = NO_VALUE;
  std::string ext;
  bool fits = true;
};

// Runs a given name against a template. `start` is the date the decoded
// fields are written into, `ext` the extension known so far.
class Matcher {
 public:
  Matcher(const std::string& asked, const std::string& input, const Date& start, const std::string& ext)
      : asked_(asked), in_(input), bare_(input.find('/') == std::string::npos) {
    result_.date = start;
    result_.ext = ext;
  }

  Match run(const std::string& tmpl) {
    tmpl_ = tmpl;
    while (ti_ < tmpl_.size() && !done_) {
      trace();
      step();
    }
    result_.name = out_;
    MESS_print(M_debugd, "FILES:%s:%s:%d\n", asked_.c_str(), out_.c_str(), where_);
    DATE_print(M_debug, &result_.date);
    return result_;
  }

 private:
  enum { NOTHING = 0, DIRECTORY = 1, DATE_FIELD = 2, INPUT_ENDED = 3 };

  void trace() {
    MESS_print(M_debugd, "FILES:%s:%s:%s:%s:%s:%d\n", tmpl_.c_str() + ti_, in_.c_str() + ii_,
               out_.c_str(), asked_.c_str(), out_.c_str(), where_);
  }

  // The rest of the input is taken over unchanged.
  void take_rest() {
    out_ += in_.substr(ii_);
    ii_ = in_.size();
    done_ = true;
  }
  // The input stops fitting the template: the rest is taken over.
  void give_up() {
    result_.fits = false;
    take_rest();
  }

  void step() {
    char c = tmpl_[ti_];
    if (c == '*') return take_rest();
    if (c == '%') {
      Item item = read_item(tmpl_, ti_);
      size_t start = ti_;
      ti_ = item.end;
      return match_item(item, start);
    }
    if (c == '{') {
      in_braces_ = true;
      ++ti_;
      return;
    }
    if (c == '}') {
      in_braces_ = false;
      where_ = DIRECTORY;
      ++ti_;
      return;
    }
    if (in_braces_) {
      out_ += c;
      ++ti_;
      return;
    }
    match_literal(c);
  }

  void match_literal(char c) {
    bool more = ii_ < in_.size();
    if (where_ >= DIRECTORY && more && in_[ii_] == c) {
      out_ += c;
      ++ti_;
      ++ii_;
      if (ii_ == in_.size()) where_ = INPUT_ENDED;
      return;
    }
    if (where_ >= DATE_FIELD && more) return give_up();
    if (where_ == NOTHING && (!more || in_[ii_] != c)) return give_up();
    out_ += c;
    ++ti_;
    if (more && (where_ >= DATE_FIELD || bare_)) ++ii_;
  }

  // Copies a date field of `width` characters and returns its number, or
  // -1 (after giving up) when there is none.
  int take_field(size_t width) {
    int value = leading_number(in_, ii_, width);
    if (value < 0) {
      give_up();
      return -1;
    }
    out_ += in_.substr(ii_, width);
    ii_ = std::min(in_.size(), ii_ + width);
    where_ = DATE_FIELD;
    return value;
  }

  void match_item(const Item& item, size_t start) {
    Date& fd = result_.date;
    const Date& set = state.set;
    int v;
    switch (item.kind) {
      case '\0': return;
      case '%': out_ += '%'; return;
      case 'Y':
        if ((v = take_field(4)) >= 0) fd.year = v;
        return;
      case 'y':
        if ((v = take_field(2)) >= 0) fd.year = v < 50 ? 2000 + v : 1900 + v;
        return;
      case 'b': return match_month_name();
      case 'm':
        if ((v = take_field(2)) >= 0) fd.month = v;
        return;
      case 'd':
        if ((v = take_field(2)) >= 0) fd.day = v;
        note_period(result_.period, day_period(set.day, item.n));
        return;
      case 'j':
        if ((v = take_field(3)) >= 0) {
          fd.jday = v;
          DATE_julian_monday(fd.year, v, &fd.month, &fd.day);
        }
        note_period(result_.period, day_period(set.day, item.n));
        return;
      case 'h':
        if ((v = take_field(2)) >= 0) fd.hour = v;
        note_period(result_.period, clock_period(set.hour, item.n, 3600));
        return;
      case 'n':
        if ((v = take_field(2)) >= 0) fd.min = v;
        note_period(result_.period, clock_period(set.min, item.n, 60));
        return;
      case 'e': return match_ext();
      case '{': return;  // a named directory has nothing to match against
      default:
        if (directory_resource(item.kind) != nullptr) return match_directory(item, start);
        return match_key(item);
    }
  }

  void match_month_name() {
    std::string name = in_.substr(ii_, 3);
    int month = DATE_decode_month(name.c_str());
    if (name.size() < 3 || month == 0) return give_up();
    out_ += name;
    ii_ += 3;
    result_.date.month = month;
    where_ = DATE_FIELD;
  }

  // The extension: known, or learned from what stands before the rest of
  // the template (the end of the name when the template ends here).
  void match_ext() {
    std::string& ext = result_.ext;
    std::string rest = tmpl_.substr(ti_);
    size_t at = rest.empty() ? in_.size() : in_.find(rest, ii_);
    if (!ext.empty()) {
      out_ += ext;
      if (at != std::string::npos) ii_ = at;
      return;
    }
    if (at == std::string::npos) return give_up();
    ext = in_.substr(ii_, at - ii_);
    out_ += ext;
    ii_ = at;
  }

  void match_directory(const Item& item, size_t start) {
    where_ = DIRECTORY;
    if (!FILE_fullpath(in_.c_str())) {
      out_ += directory_value(item.kind);
      if (ti_ < tmpl_.size() && tmpl_[ti_] == '/') {
        out_ += '/';
        ++ti_;
      }
      return;
    }
    int count = 0;
    for (size_t i = start; i < tmpl_.size(); ++i)
      if (tmpl_[i] == '/' || tmpl_[i] == '\\' || tmpl_[i] == ':') ++count;
    size_t found = std::string::npos;
    for (size_t i = in_.size(); i-- > ii_ && count > 0;) {
      if (in_[i] == '/' || (i == 1 && in_[1] == ':')) {
        --count;
        found = i;
      }
    }
    if (found == std::string::npos) return;
    out_ += in_.substr(ii_, found - ii_);
    ii_ = found;
  }

  void match_key(const Item& item) {
    const std::string* key = key_text(item.kind);
    if (key == nullptr) return give_up();
    std::string text = (item.has_n && item.n > 0) ? key->substr(0, static_cast<size_t>(item.n)) : *key;
    out_ += text;
    ii_ = std::min(in_.size(), ii_ + text.size());
  }

  std::string asked_, in_, tmpl_, out_;
  bool bare_;
  Match result_;
  size_t ti_ = 0, ii_ = 0;
  int where_ = NOTHING;
  bool in_braces_ = false;
  bool done_ = false;
};

// Reports a value that means nothing, or a name that cannot be built,
// the first time it is met: true then.
bool first_report(const std::string& what) { return state.warned.insert(what).second; }

// Without its convention file no name can be built from a date: says so
// for `request` (a date, a current or latest file, a series) and
// returns false.
bool can_name(const std::string& request) {
  if (state.conv_missing.empty()) return true;
  if (first_report("name " + request))
    MESS_print(M_error, "No file name convention file %s: cannot name data file %s\n",
               state.conv_missing.c_str(), request.c_str());
  return false;
}

// FILE_set_current; `found` false when its latest-file search found no file.
long set_current(const char* cur, std::string& filename, bool& found);

// The file of current-file expression `expr`, which the user asked for as
// `request`.
FILE_named current_file(const char* expr, const std::string& request) {
  FILE_named named;
  if (!can_name(request)) {
    named.named = false;
    named.date = state.file_date;
    return named;
  }
  set_current(expr, named.name, named.found);
  named.date = state.file_date;
  return named;
}

// FILE_set_file, with what the naming found out.
FILE_named name_requested(const char* file) {
  FILE_named named;
  std::string given = text_or_empty(file);
  clear_date_time(state.file_date);
  size_t hash = given.size() > 1 ? given.find('#', 1) : std::string::npos;
  if (hash != std::string::npos) {
    DATE_read_stamp(given, hash + 1, state.set, DATE_step::width);
    given.resize(hash);
  }
  state.file_date = state.set;
  named.date = state.set;
  if (stricmp(given.c_str(), "exit") == 0) KIV_exit(0);
  if (!given.empty() && given[0] == '@') {
    state.filename_type = 1;
    named.name = given.substr(1);
    return named;
  }
  if (FILE_is_stdio(given.c_str()) || (!state.conv.empty() && FILE_is_stdio(state.conv.c_str()))) {
    named.name.assign(1, '-');  // not = "-": GCC 12 warns falsely (-Wrestrict) on that
    return named;
  }
  bool cu = starts_with_i(given, "cu");
  bool current = given[0] == '#' || cu || starts_with_i(given, "la");
  // Without a convention a name is taken as given; a missing convention
  // file leaves the type's own text as the template, which fits no name.
  if (state.conv.empty() || (!state.conv_missing.empty() && !current)) {
    named.name = given;
    state.filename = given;
    state.filename_type = 1;
    return named;
  }
  if (current) {
    named = current_file(cu ? given.c_str() + 2 : given.c_str(), text_or_empty(file));
    if (named.named) report_current(named.name);
    return named;
  }
  if (stricmp(given.c_str(), "none") == 0 || (FILE_fullpath(state.conv.c_str()) && FILE_fullpath(given.c_str()))) {
    named.name = given;
    return named;
  }
  Match match = Matcher(text_or_empty(file), given, state.file_date, state.ext).run(state.conv);
  state.file_date = match.date;
  state.late_off = match.period;
  state.ext = match.ext;
  return FILE_named{match.name, match.date, match.fits, true};
}

}  // namespace

int FILE_set_file(const char* file, std::string& out_file) {
  out_file = name_requested(file).name;
  return 0;
}

// ---- Current and latest files --------------------------------------------

namespace {

long seconds_of(Date d) { return DATE_num_sec(&d); }

Date date_of(long secs) {
  Date d;
  DATE_get_gmdate(&secs, &d);
  return d;
}

// The step of a latest-file search: the file period, or a fixed day and a
// bit when the template has none, so the search always moves on.
long search_step() { return state.late_off > 0 ? state.late_off : 100000L; }

// Reads a base date "YYYYMMDDhhmm" as far as digits follow, from `pos` on,
// and moves `pos` past its digits. Missing month and day are the first,
// missing hour and minute 0.
long read_base_date(const std::string& text, size_t& pos) {
  Date d;
  d.year = 0;
  d.month = d.day = 1;
  d.hour = d.min = d.sec = 0;
  pos = DATE_read_stamp(text, pos, d, DATE_step::digits);
  return seconds_of(d);
}

// Moves the base back to the latest time, not after it, at which the
// requested month, day, hour and minute hold.
long apply_requested(long t) {
  const Date& set = state.set;
  Date d = date_of(t);
  if (set.month >= 0) {
    if (d.month < set.month) d.year -= 1;
    d.month = set.month;
    t = seconds_of(d);
  }
  if (set.day >= 0) {
    d = date_of(t);
    if (d.day < set.day) {
      d.month -= 1;
      if (d.month < 1) {
        d.month = 12;
        d.year -= 1;
      }
    }
    d.day = set.day;
    t = seconds_of(d);
  }
  if (set.hour >= 0) {
    d = date_of(t);
    if (d.hour < set.hour) d = date_of(t - 86400);
    d.hour = set.hour;
    t = seconds_of(d);
  }
  if (set.min >= 0) {
    d = date_of(t);
    if (d.min < set.min) d = date_of(t - 3600);
    d.min = set.min;
    t = seconds_of(d);
  }
  return t;
}

int read_number(const std::string& text, size_t& pos) {
  int value = 0;
  while (pos < text.size() && is_digit(text[pos])) value = add_digit(value, text[pos++]);
  return value;
}

// Reads a sign: +1 later, -1 earlier (the default).
int read_sign(const std::string& text, size_t& pos) {
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) return text[pos++] == '+' ? 1 : -1;
  return -1;
}

// Reads "[days d] hours [: minutes]" when a digit follows; returns false
// when there is no offset.
bool read_offset(const std::string& text, size_t& pos, int& days, int& hours, int& mins) {
  days = hours = mins = 0;
  if (pos >= text.size() || !is_digit(text[pos])) return false;
  bool with_days = text.find_first_of("dD", pos) != std::string::npos;
  if (with_days) {
    days = read_number(text, pos);
    if (pos >= text.size() || (text[pos] != 'd' && text[pos] != 'D')) return true;
    ++pos;
  }
  hours = read_number(text, pos);
  if (pos < text.size() && text[pos] == ':') {
    ++pos;
    mins = read_number(text, pos);
  }
  return true;
}

bool is_char_i(const std::string& text, size_t pos, char lower) {
  return pos < text.size() && std::tolower(static_cast<unsigned char>(text[pos])) == lower;
}

// A latest-file search over a server asks it once a step: it looks back
// this many steps unless told how many.
constexpr int kRemoteTries = 48;

// Whether the file `name` is larger than the minimum size; `stop` set when
// the server of a URL cannot say (a request failed: no other step will
// fare better), or is not to be asked.
bool present(const std::string& name, bool& stop) {
  if (!HTTP_is_url(name)) return FILE_size(name.c_str()) > state.min_size;
  if (!state.remote) return !(stop = true);
  long size = state.remote(name);
  stop = size == FILE_REMOTE_UNKNOWN;
  return size > state.min_size;
}

// The latest-file search: "l", "a", "#count". Steps by the file period
// until a file larger than the minimum size is found; `found` says whether
// one was.
long search_latest(const std::string& text, size_t& pos, int sign, long t, std::string& out, bool& found) {
  ++pos;
  if (is_char_i(text, pos, 'a')) ++pos;
  int tries = 500;
  bool counted = pos < text.size() && text[pos] == '#';
  if (counted) {
    ++pos;
    if (pos < text.size() && is_digit(text[pos])) tries = read_number(text, pos);
  }
  int tried = 0;
  found = false;
  for (bool stop = false; tried < tries && !stop; ++tried) {
    Date d = date_of(t);
    MESS_print(M_debug, "LATE:%d %d %d %d %d\n", d.year, d.month, d.day, d.hour, d.min);
    int literal = FILE_set_date(&d, out);
    MESS_print(M_debug, "LATE: %s\n", out.c_str());
    if (!counted && HTTP_is_url(out)) tries = std::min(tries, kRemoteTries);
    found = present(out, stop);
    if (found || stop) break;
    t += sign * search_step();
    if (literal != 0) break;  // the name does not follow the date
  }
  MESS_print(M_debug, "LATEST: %s %s %d\n", text.c_str(), out.c_str(), tried);
  return t;
}

long current_base(const std::string& expr, size_t& pos) {
  if (!expr.empty() && expr[0] == '#') {
    pos = 1;
    return read_base_date(expr, pos);
  }
  const char* env = std::getenv("kivcurtime");
  if (env != nullptr && env[0] != '\0') {
    // A date cut short or written otherwise would stand for a made-up
    // "now": the clock is nearer the truth.
    Date base;
    if (DATE_is_stamp(env, base)) return seconds_of(base);
    if (first_report(std::string("kivcurtime ") + env))
      MESS_print(M_warn, "Invalid time in kivcurtime: %s, using the clock\n", env);
  }
  return DATE_get_time(nullptr);
}

long set_current(const char* cur, std::string& filename, bool& found) {
  std::string expr = cur != nullptr ? cur : "la";
  found = true;
  state.filename_type = 0;
  size_t pos = 0;
  long t = apply_requested(current_base(expr, pos));
  int sign = read_sign(expr, pos);
  bool reread = false;
  int days, hours, mins;
  if (read_offset(expr, pos, days, hours, mins)) {
    t += sign * (days * 86400L + hours * 3600L + mins * 60L);
    MESS_print(M_debug, "CUR1:%d %d %d %d\n", sign, days, hours, mins);
    MESS_print(M_debug, "CUR1:%s %ld\n", expr.c_str() + pos, t);
    reread = true;
  }
  // After an offset or a search the sign of the next part is read anew.
  if (reread) sign = read_sign(expr, pos);
  if (is_char_i(expr, pos, 'l')) {
    t = search_latest(expr, pos, sign, t, filename, found);
    sign = read_sign(expr, pos);
  }
  if (read_offset(expr, pos, days, hours, mins)) {
    t += sign * (days * 86400L + hours * 3600L + mins * 60L);
    MESS_print(M_debug, "CUR2:%d %d %d %d\n", sign, days, hours, mins);
    MESS_print(M_debug, "CUR2:%ld\n", t);
  }
  Date d = date_of(t);
  MESS_print(M_debug, "%d %d %d %d\n", d.year, d.month, d.day, d.hour);
  FILE_set_date(&d, filename);
  return state.late_off > 0 ? t - t % state.late_off : t;
}

}  // namespace

long FILE_set_current(const char* cur, std::string& filename) {
  bool found;
  return set_current(cur, filename, found);
}

// ---- Selection and series ------------------------------------------------

namespace {

// Quotes a text for the shell unless it is made of harmless characters.
std::string shell_quoted(const std::string& text) {
  bool plain = !text.empty();
  for (char c : text)
    if (!std::isalnum(static_cast<unsigned char>(c)) && std::strchr("_./-+,:=@%", c) == nullptr) plain = false;
  if (plain) return text;
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// A piece of a listing pattern: text for the shell to take as it is, or
// a wildcard.
struct Piece {
  std::string text;
  bool literal;
};

// The listing pattern of a template item: wildcards for date fields and
// unset keys, the text of resources, keys and the extension.
Piece list_item(const Item& item) {
  switch (item.kind) {
    case '\0': return {"", true};
    case '%': return {"%", true};
    case 'e': return state.ext.empty() ? Piece{"*", false} : Piece{state.ext, true};
    case 'Y': return {"?[0-9]??", false};
    case 'y': case 'm': case 'd': case 'h': case 'n': return {"[0-9]?", false};
    case 'b': return {"?[a-z]?", false};
    case 'j': return {"?[0-9]?", false};
    case '{': return {text_or_empty(RES_get(item.name.c_str())), true};
    default: break;
  }
  if (directory_resource(item.kind) != nullptr) return {directory_value(item.kind), true};
  const std::string* key = key_text(item.kind);
  if (key != nullptr) return {*key, true};
  return {item.has_n ? std::string(static_cast<size_t>(item_unit(item.n)), '?') : "*", false};
}

// The template as a shell pattern. Blanks separate words, the template's
// own '*' and '?' and the items' wildcards stay active; all other text is
// quoted, so a leading '~' or '~user' is expanded here as the file opener
// does, once the user name is complete.
std::string list_pattern(const std::string& tmpl) {
  std::vector<Piece> pieces;
  for (size_t i = 0; i < tmpl.size();) {
    char c = tmpl[i];
    if (c == '%') {
      Item item = read_item(tmpl, i);
      pieces.push_back(list_item(item));
      i = item.end;
      continue;
    }
    ++i;
    if (c != '{' && c != '}') pieces.push_back({std::string(1, c), c != ' ' && c != '*' && c != '?'});
  }
  std::string pattern, run;
  for (size_t p = 0; p <= pieces.size(); ++p) {
    if (p < pieces.size() && pieces[p].literal) {
      run += pieces[p].text;
      continue;
    }
    // Only the text the pattern begins with can start in a home directory.
    bool user_complete = p == pieces.size() || run.find('/') != std::string::npos;
    if (pattern.empty() && !run.empty() && run[0] == '~' && user_complete) run = expanded(run.c_str());
    if (!run.empty()) pattern += shell_quoted(run);
    run.clear();
    if (p < pieces.size()) pattern += pieces[p].text;
  }
  return pattern;
}

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Reads hours, ':' and minutes ("6", "6:30", ":30", "-0:30", blanks
// around) from `pos` on, in seconds; the minutes take the sign of the
// hours. Moves `pos` past what it read; `digits` (may be null) counts the
// digits.
long read_span(const std::string& s, size_t& pos, size_t* digits = nullptr) {
  while (pos < s.size() && is_blank(s[pos])) ++pos;
  bool negative = pos < s.size() && s[pos] == '-';
  if (pos < s.size() && (s[pos] == '-' || s[pos] == '+')) ++pos;
  size_t start = pos;
  long hours = read_number(s, pos);
  size_t count = pos - start;
  long mins = 0;
  if (pos < s.size() && s[pos] == ':') {
    start = ++pos;
    mins = read_number(s, pos);
    count += pos - start;
  }
  while (pos < s.size() && is_blank(s[pos])) ++pos;
  if (digits != nullptr) *digits = count;
  long span = hours * 3600 + mins * 60;
  return negative ? -span : span;
}

long read_span(const char* text) {
  size_t pos = 0;
  return read_span(text_or_empty(text), pos);
}

// Whether a `num_hour` text reads whole as a span, with an optional step
// ",H[:M]" (no sign) after it. The empty text is no value, not a wrong one.
bool is_span_text(const std::string& text) {
  if (text.empty()) return true;
  size_t pos = 0, digits = 0;
  read_span(text, pos, &digits);
  if (digits == 0) return false;
  if (pos == text.size()) return true;
  if (text[pos] != ',') return false;
  size_t step = text.find_first_not_of(" \t", pos + 1);
  if (step == std::string::npos || text[step] == '-' || text[step] == '+') return false;
  pos = step;
  read_span(text, pos, &digits);
  return digits > 0 && pos == text.size();
}

int exists(const FILE_named& named) { return named.named && FILE_exist(named.name.c_str()) ? 1 : 0; }

// The first file from a current-file expression (the `current` resource,
// or "la" in batch mode), asked for as `request`.
int show_current(const char* expr, const std::string& request, FILE_named& first) {
  first = current_file(expr, request);
  state.filename = first.name;
  if (!exists(first)) return 0;
  report_current(first.name);
  return 1;
}

// The file the user's answer at the file prompt names.
FILE_named take_answer(const std::string& answer) {
  if (stricmp(answer.c_str(), "exit") == 0) KIV_exit(0);
  if (stricmp(answer.c_str(), "list") == 0) {
    FILE_list_file();
    FILE_named kept;
    kept.name = state.filename;
    kept.date = state.file_date;
    return kept;
  }
  bool cu = starts_with_i(answer, "cu");
  if (cu || starts_with_i(answer, "la") || (!answer.empty() && answer[0] == '#')) {
    FILE_named named = current_file(cu ? answer.c_str() + 2 : answer.c_str(), answer);
    if (named.named) report_current(named.name);
    return named;
  }
  return name_requested(answer.c_str());
}

// The file of the series step `offset` seconds after the first file.
FILE_named series_file(long offset) {
  FILE_named named;
  FILE_set_date_off(state.first.date, offset, named.name);
  named.date = state.file_date;
  named.in_series = true;
  return named;
}

}  // namespace

int FILE_list_file() {
  std::string command = "ls -x " + list_pattern(state.conv);
  MESS_print(M_debug, "SEARCH: %s\n", command.c_str());
  std::fflush(nullptr);
  int status = std::system(command.c_str());
  (void)status;  // the shell reports its own failures
  return 0;
}

int FILE_get_file_only(const char* prompt, FILE_named& first) {
  std::vector<std::string> names = RES_getvals("filename");
  if (!names.empty()) {
    if (stricmp(names[0].c_str(), "list") == 0) {
      FILE_list_file();
      KIV_exit(0);
    }
    first = name_requested(names[0].c_str());
    state.filename = first.name;
    return exists(first);
  }
  const char* current = RES_get("current");
  if (current != nullptr) return show_current(current, std::string("cu") + current, first);
  if (FLAG_batch() > 0) return show_current("la", "la", first);

  MESS_print(M_print, "List of available files:\n");
  FILE_list_file();
  MESS_print(M_print, "\n");
  std::string answer;
  KIV_prompts(prompt != nullptr ? prompt : "Enter the filename: ", answer, 79);
  state.filename_type = 1;
  first = take_answer(answer);
  state.filename = first.name;
  return exists(first);
}

int FILE_get_file_only(const char* prompt, std::string* outfile) {
  FILE_named first;
  int found = FILE_get_file_only(prompt, first);
  if (outfile != nullptr) *outfile = first.name;
  return found;
}

bool FILE_first_is_asked() {
  return RES_getvals("filename").empty() && RES_get("current") == nullptr && FLAG_batch() <= 0;
}

long FILE_num_hour() {
  const char* value = RES_get("num_hour");
  return value == nullptr ? state.def_hours : read_span(value);
}

long FILE_get_skip() {
  const char* value = RES_get("num_hour");
  const char* comma = value != nullptr ? std::strchr(value, ',') : nullptr;
  return comma == nullptr ? state.late_off : read_span(comma + 1);
}

long FILE_get_offset() { return state.late_off > 0 ? state.late_off : 100000L; }

int FILE_first(const FILE_named& first) {
  state.files = RES_getvals("filename");
  state.numfile = static_cast<int>(state.files.size());
  if (state.numfile > 0 && (starts_with_i(state.files[0], "la") || starts_with_i(state.files[0], "cu"))) state.numfile = 0;
  state.file_ind = 0;
  state.first = first;
  const char* hours = RES_get("num_hour");
  if (hours != nullptr && !is_span_text(hours) && first_report(std::string("num_hour ") + hours))
    MESS_print(M_warn, "Invalid number of hours: %s\n", hours);
  // Steps are named from the convention; without its file the first file
  // stands alone (an unnamed one was reported when it was asked for).
  long span = FILE_num_hour();
  bool can_step = span == 0 || (first.named && can_name(std::string("num_hour ") + text_or_empty(hours)));
  state.num_hour = can_step ? span : 0;
  state.skip = FILE_get_skip();
  state.offset = FILE_get_offset();
  if (state.skip > 0 && state.skip >= state.offset) state.offset *= state.skip / state.offset;
  state.secs = 0;
  if (state.num_hour < 0) {
    // The largest multiple of the step not after the span.
    long steps = state.num_hour / state.offset;
    if (steps * state.offset > state.num_hour) --steps;
    state.secs = steps * state.offset;
  }
  state.nsecs = state.secs;
  return 0;
}

int FILE_first(const Date& datim) {
  FILE_named first;
  first.name = state.filename;
  first.date = datim;
  return FILE_first(first);
}

long FILE_set_date_off(const Date& datim, long offset, std::string& out_file) {
  Date d = date_of(seconds_of(datim) + offset);
  MESS_print(M_debug, " in: ");
  DATE_print(M_debug, &datim);
  MESS_print(M_debug, "out: ");
  DATE_print(M_debug, &d);
  FILE_set_date(&d, out_file);
  MESS_print(M_debugc, "NEXT: %d %d %d %d %d %s\n", d.year, d.month, d.day, d.hour, d.min, out_file.c_str());
  return offset / FILE_get_offset();
}

int FILE_get_next(FILE_named& next) {
  if (state.numfile > 1 || (state.numfile == 1 && state.num_hour == 0)) {
    if (state.file_ind >= state.numfile) return 0;
    next = name_requested(state.files[static_cast<size_t>(state.file_ind++)].c_str());
    return 1;
  }
  if (state.num_hour < 0 ? state.nsecs > 0 : state.nsecs > state.num_hour) return 0;
  next = state.num_hour == 0 ? state.first : series_file(state.nsecs);
  state.nsecs += state.offset;
  return 1;
}

int FILE_get_next(std::string& file) {
  FILE_named next;
  while (FILE_get_next(next)) {
    if (!next.named) continue;  // reported where the name was wanted
    file = next.name;
    return 1;
  }
  return 0;
}
