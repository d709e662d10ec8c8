// City database records. One database is open at a time; its stream, the
// descriptor number handed to callers and the word reader over it are the
// module state. The descriptor arguments of the reading calls are not
// looked at: they all work on that one open file.
#include "cty_read.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "files.h"

namespace {

struct CtyState {
  FILE_ptr file;
  int cty_fd = -1;
  int f_type = 0;
  WordReader reader;
};
CtyState state;

constexpr float kMissingElevation = 9000.0f;

bool is_blank(int c) { return c != EOF && std::isspace(c); }

int digit_value(char c) { return std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : 0; }

// "*2*": mos and ua set, priority 2; "3*": ua only; "5": neither.
void decode_priority(const std::string& token, CTY_data* city) {
  size_t at = 0;
  if (!token.empty() && token[0] == '*') {
    city->mos = '*';
    at = 1;
  }
  char digit = at < token.size() ? token[at] : '\0';
  city->prior = digit_value(digit);
  if (at + 1 < token.size() && token[at + 1] == '*') city->ua = '*';
}

// Reads the fields in file order; returns how many were taken.
int read_fields(WordReader& r, CTY_data* city) {
  std::string token;
  int n = 0;
  if (!r.word(city->name, 20)) return 0;
  ++n;
  if (!r.word(city->state, 2)) return n;
  ++n;
  if (!r.word(city->region, 2)) return n;
  ++n;
  if (!r.word(city->id, 9)) return n;
  ++n;
  if (!r.word(token, 4)) return n;
  ++n;
  decode_priority(token, city);
  if (!r.real(city->lat)) return n;
  ++n;
  if (!r.real(city->lon)) return n;
  ++n;
  if (!r.real(city->el)) return n;
  ++n;
  if (!r.integer(city->wmo)) return n;
  ++n;
  if (!r.integer(city->num)) return n;
  return ++n;
}

}  // namespace

// ---- WordReader ------------------------------------------------------------

void WordReader::reset(FILE* file) {
  file_ = file;
  pending_.clear();
}

int WordReader::get() {
  if (!pending_.empty()) {
    int c = static_cast<unsigned char>(pending_.back());
    pending_.pop_back();
    return c;
  }
  return file_ ? getc(file_) : EOF;
}

void WordReader::unget(int c) {
  if (c != EOF) pending_.push_back(static_cast<char>(c));
}

void WordReader::unget(const std::string& text) {
  for (auto it = text.rbegin(); it != text.rend(); ++it) pending_.push_back(*it);
}

void WordReader::skip_blanks() {
  int c;
  while (is_blank(c = get())) {
  }
  unget(c);
}

bool WordReader::at_end() {
  skip_blanks();
  int c = get();
  unget(c);
  return c == EOF;
}

bool WordReader::word(std::string& out, size_t width) {
  skip_blanks();
  std::string text;
  int c;
  while ((c = get()) != EOF && !is_blank(c)) text.push_back(static_cast<char>(c));
  unget(c);
  if (text.empty()) return false;
  if (width > 0 && text.size() > width) text.resize(width);
  out = text;
  return true;
}

std::string WordReader::collect(const char* allowed) {
  skip_blanks();
  std::string text;
  int c;
  while ((c = get()) != EOF && std::strchr(allowed, c)) text.push_back(static_cast<char>(c));
  unget(c);
  return text;
}

bool WordReader::integer(int& out) {
  std::string text = collect("0123456789+-");
  char* end = nullptr;
  errno = 0;
  long value = std::strtol(text.c_str(), &end, 10);
  size_t used = end - text.c_str();
  unget(text.substr(used));
  if (used == 0) return false;
  if (value > INT_MAX) value = INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  out = static_cast<int>(value);
  return true;
}

bool WordReader::real(float& out) {
  std::string text = collect("0123456789+-.eE");
  char* end = nullptr;
  float value = std::strtof(text.c_str(), &end);
  size_t used = end - text.c_str();
  unget(text.substr(used));
  if (used == 0) return false;
  out = value;
  return true;
}

// ---- Database file -----------------------------------------------------------

int CTY_open(const char* filename, int f_access, int f_type) {
  if (f_access != 0 && f_access != 1) return -1;
  // A new open replaces the open database; the old stream is closed.
  state.reader.reset(nullptr);
  state.file.reset();
  state.cty_fd = -1;
  if (!filename) return -1;
  state.file.reset(f_access == 0 ? FILE_open_regular(filename) : FILE_open(filename, "w"));
  if (!state.file) return -1;
  state.f_type = f_type;
  state.cty_fd = fileno(state.file.get());
  state.reader.reset(state.file.get());
  return state.cty_fd;
}

int CTY_read(int /*city_fd*/, CTY_data* city) {
  if (!state.file || !city) return -1;
  if (state.reader.at_end()) return -1;
  // Fields the line does not hold must not keep the previous record's
  // values, or a short line could match a lookup by someone else's id.
  *city = CTY_data{};
  int n = read_fields(state.reader, city);
  if (n == 0) return -1;
  if (city->el > kMissingElevation) city->el = NO_VALUE;
  return n;
}

int CTY_rewind(int /*city_fd*/) {
  if (!state.file) return -1;
  std::rewind(state.file.get());
  state.reader.reset(state.file.get());
  return 0;
}

int CTY_close(int /*city_fd*/) {
  if (!state.file) return -1;
  state.reader.reset(nullptr);
  state.file.reset();
  state.cty_fd = -1;
  return 0;
}

void CTY_reset() {
  state.reader.reset(nullptr);
  state.file.reset();
  state.cty_fd = -1;
  state.f_type = 0;
}
