// Process-level helpers: asking for a word or a number at the terminal,
// the "set" and "exit" commands accepted at every prompt, ending the
// process, sleeping and the version text.
//
// The module has no state. It is the one place that reads the terminal
// (KIV_read_line, KIV_read_char) and the one place that ends the process
// (KIV_exit), so tests can drive both through standard input and child
// processes.
#include "system.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "mess.h"
#include "resrc.h"
#include "string.h"

namespace {

// Old prompts read into an 80-byte line buffer; longer input stays in
// the stream for the next prompt.
constexpr int PROMPT_LINE_MAX = 79;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Shows the prompt and reads the trimmed answer; false at end of input.
bool ask(const char* prompt, std::string& line) {
  // The prompt is text, never a format: a '%' in a file name must show.
  if (prompt != nullptr) MESS_print(M_print, "%s", prompt);
  std::fflush(stdout);
  if (!KIV_read_line(line, PROMPT_LINE_MAX)) return false;
  wstrim_string(line);
  return true;
}

// The first blank-delimited word of `line`, at most `max` characters.
std::string first_word(const std::string& line, size_t max) {
  size_t start = 0;
  while (start < line.size() && is_blank(line[start])) ++start;
  size_t end = start;
  while (end < line.size() && !is_blank(line[end])) ++end;
  return line.substr(start, std::min(end - start, max));
}

bool is_blank_line(const std::string& line) {
  for (char c : line)
    if (!is_blank(c)) return false;
  return true;
}

// "set NAME[ =]VALUE" or "set" alone.
void run_set(const char* line) {
  const char* p = line;
  while (*p != '\0' && !is_blank(*p)) ++p;  // the command word itself
  while (is_blank(*p)) ++p;
  const char* name_end = p;
  while (*name_end != '\0' && *name_end != '=' && !is_blank(*name_end)) ++name_end;
  std::string name(p, name_end);
  if (name.empty()) {
    MESS_print(M_messd, "Set resources\n");
    RES_list();
    MESS_print(M_messd, "\n");
    return;
  }
  p = name_end;
  while (*p == '=' || is_blank(*p)) ++p;
  // A name alone stores the resource without a value, like an option
  // given without one on the command line.
  if (*p == '\0')
    RES_new(NO_VALUE, name.c_str(), nullptr, CV_string);
  else
    RES_put(name.c_str(), p);
}

}  // namespace

std::string& KIV_prompts(const char* prompt, std::string& str, int length) {
  if (length < 2) length = 2;
  std::string line;
  while (ask(prompt, line)) {
    std::string word = first_word(line, static_cast<size_t>(length - 1));
    if (!word.empty()) str = word;
    if (KIV_set_command(line.c_str()) != 1) break;
  }
  return str;
}

float KIV_promptf(const char* prompt) {
  std::string line;
  while (ask(prompt, line)) {
    char* end = nullptr;
    float answer = std::strtof(line.c_str(), &end);
    bool is_number = end != line.c_str();
    if (!is_number) answer = 0;
    if (KIV_set_command(line.c_str()) == 1) continue;
    if (!is_number && !is_blank_line(line)) continue;
    return answer;
  }
  return 0;
}

int KIV_set_command(const char* string) {
  if (string == nullptr) return 0;
  if (strnicmp(string, "set", 3) == 0) {
    run_set(string);
    return 1;
  }
  if (strnicmp(string, "exit", 4) == 0) KIV_exit(0);
  return 0;
}

void KIV_exit(int status) {
  std::fflush(nullptr);
  std::exit(status);  // closes every open stream
}

int KIV_fill_std_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free descriptor is the closed one.
    int got = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (got != fd) {
      if (got >= 0) ::close(got);
      return -1;
    }
  }
  return 0;
}

int KIV_sleep(float secs) {
  if (!(secs > 0)) return -1;
  double whole = 0;
  double frac = std::modf(static_cast<double>(secs), &whole);
  timespec want{static_cast<time_t>(whole), static_cast<long>(frac * 1e9)};
  timespec left{};
  while (nanosleep(&want, &left) != 0 && errno == EINTR) want = left;
  return 0;
}

#ifndef KIV_VERSION
#error "KIV_VERSION comes from project() in CMakeLists.txt"
#endif
const char* KIV_version() { return KIV_VERSION "-LINUX-X11"; }

const char* KIV_version_number() { return KIV_VERSION; }

bool KIV_read_line(std::string& line, int max) {
  line.clear();
  std::fflush(stdout);
  int c = std::getchar();
  if (c == EOF) return false;
  while (c != EOF && c != '\n') {
    line.push_back(static_cast<char>(c));
    if (static_cast<int>(line.size()) >= max) {
      // A line that ends exactly here must not leave an empty answer
      // behind for the next prompt.
      int next = std::getchar();
      if (next != '\n' && next != EOF) std::ungetc(next, stdin);
      break;
    }
    c = std::getchar();
  }
  return true;
}

int KIV_read_char() {
  std::fflush(stdout);
  int c = std::getchar();
  return c == EOF ? -1 : c;
}
