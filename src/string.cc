// Text helpers. Everything here works on NUL-terminated bytes in the
// caller's buffers (or on std::string); only parse_string allocates. Case
// folding is ASCII only, independent of the locale.
#include "string.h"

#include <cstdlib>
#include <cstring>

namespace {

int fold(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool is_line_end(char c) { return c == '\n' || c == '\r'; }

}  // namespace

int parse_string(const char* string, char delim, int* argc, char*** argv) {
  *argc = 0;
  *argv = nullptr;
  if (string == nullptr || *string == '\0') return -1;
  size_t len = std::strlen(string);
  char* copy = static_cast<char*>(std::malloc(len + 1));
  if (copy == nullptr) return -1;
  std::memcpy(copy, string, len + 1);
  while (len > 0 && copy[len - 1] == delim) copy[--len] = '\0';
  int count = 1;
  for (size_t i = 0; i < len; ++i)
    if (copy[i] == delim) ++count;
  char** array = static_cast<char**>(std::malloc(sizeof(char*) * count));
  if (array == nullptr) {
    std::free(copy);
    return -1;
  }
  int n = 0;
  array[n++] = copy;
  for (size_t i = 0; i < len; ++i) {
    if (copy[i] == delim) {
      copy[i] = '\0';
      array[n++] = copy + i + 1;
    }
  }
  *argc = count;
  *argv = array;
  return 0;
}

int free_parsed_array(int argc, char** argv) {
  if (argc == 0 || argv == nullptr) return 0;
  std::free(argv[0]);
  std::free(argv);
  return 0;
}

std::vector<std::string> parse_string(const std::string& string, char delim) {
  std::vector<std::string> out;
  if (string.empty()) return out;
  size_t len = string.size();
  while (len > 0 && string[len - 1] == delim) --len;
  size_t start = 0;
  for (size_t i = 0; i < len; ++i) {
    if (string[i] == delim) {
      out.emplace_back(string, start, i - start);
      start = i + 1;
    }
  }
  out.emplace_back(string, start, len - start);
  return out;
}

int stricmp(const char* s1, const char* s2) {
  if (s1 == nullptr || s2 == nullptr) return 1;
  const auto* a = reinterpret_cast<const unsigned char*>(s1);
  const auto* b = reinterpret_cast<const unsigned char*>(s2);
  while (*a && *b && fold(*a) == fold(*b)) ++a, ++b;
  return fold(*a) - fold(*b);
}

int strnicmp(const char* s1, const char* s2, int n) {
  if (s1 == nullptr || s2 == nullptr) return 1;
  const auto* a = reinterpret_cast<const unsigned char*>(s1);
  const auto* b = reinterpret_cast<const unsigned char*>(s2);
  // The first characters always take part, so an n of 0 behaves as 1.
  for (int i = 0; i < n - 1 && *a && *b && fold(*a) == fold(*b); ++i) ++a, ++b;
  return fold(*a) - fold(*b);
}

int fill_string(char* string, char tar, char fill) {
  if (string == nullptr) return 0;
  // Re-measured every step: a fill of NUL ends the text at the first hit.
  for (size_t i = 0; i < std::strlen(string); ++i)
    if (string[i] == tar) string[i] = fill;
  return 0;
}

int wsstrip_string(char* string) {
  if (string == nullptr) return 1;
  char* out = string;
  for (char* in = string; *in; ++in)
    if (!is_line_end(*in)) *out++ = *in;
  *out = '\0';
  return 1;
}

int wstrim_string(char* string) {
  if (string == nullptr) return 1;
  wsstrip_string(string);
  size_t len = std::strlen(string);
  while (len > 0 && string[len - 1] == ' ') string[--len] = '\0';
  return 1;
}

int up_string(char* string) {
  if (string == nullptr || *string == '\0') return 0;
  for (char* p = string; *p; ++p)
    if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - ('a' - 'A'));
  return 1;
}

int low_string(char* string) {
  if (string == nullptr || *string == '\0') return 0;
  for (char* p = string; *p; ++p) *p = static_cast<char>(fold(static_cast<unsigned char>(*p)));
  return 1;
}

void fill_string(std::string& string, char tar, char fill) {
  for (size_t i = 0; i < string.size(); ++i) {
    if (string[i] != tar) continue;
    if (fill == '\0') {
      string.resize(i);
      return;
    }
    string[i] = fill;
  }
}

void wsstrip_string(std::string& string) {
  std::erase_if(string, is_line_end);
}

void wstrim_string(std::string& string) {
  wsstrip_string(string);
  while (!string.empty() && string.back() == ' ') string.pop_back();
}

void up_string(std::string& string) {
  for (char& c : string)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - ('a' - 'A'));
}

void low_string(std::string& string) {
  for (char& c : string) c = static_cast<char>(fold(static_cast<unsigned char>(c)));
}
