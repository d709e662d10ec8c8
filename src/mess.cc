// Leveled messages. One process-wide level decides which masks are shown;
// error and warn go to standard error, the rest to standard output. The
// message option string adds a log stream (optionally time-stamped, or
// opened and closed per message) and paging at the terminal.
#include "mess.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "date.h"
#include "files.h"
#include "flag.h"
#include "string.h"
#include "system.h"

namespace {

constexpr M_type M_screen_err = M_error | M_warn;

// Where messages go: the screen, a log stream, or both.
enum class LogMode {
  stamped,      // time-stamped log, and the screen
  log_only,     // the log, never the screen
  screen,       // the screen, and the log when one is open
  per_message,  // the screen, and a log opened and closed for every message
};

// When output stops to wait for return.
enum class Paging {
  never,       // not even for MESS_hold
  on_hold,     // only when MESS_hold is called
  every_page,  // also after every max_lines lines
};

struct MessState {
  M_type mess_level = 0x000fffff;  // level out2
  int mess_set = 0;                // count of explicit settings
  LogMode mess_out = LogMode::screen;
  Paging page = Paging::on_hold;
  int lines = 0;
  int max_lines = 22;
  FILE* pfile = nullptr;  // the log stream
  std::string filename;   // log file of LogMode::per_message
};
MessState state;

// The mask with every bit below its highest set bit also set.
M_type fill_below(M_type level) {
  if (level == 0) return 0;
  M_type top = 1u << (31 - __builtin_clz(level));
  return top | (top - 1);
}

void apply(int oper, M_type level) {
  switch (oper) {
    case MESS_SET: case MESS_SET_QUIET: case MESS_SET_DEFAULT: state.mess_level = fill_below(level); break;
    case MESS_ADD: case MESS_ADD_QUIET: case MESS_ADD_DEFAULT: state.mess_level |= level; break;
    case MESS_REMOVE: case MESS_REMOVE_QUIET: case MESS_REMOVE_DEFAULT: state.mess_level &= ~level; break;
    default: break;
  }
}

std::string vformat(const char* fmt, va_list ap) {
  char buf[1024];
  va_list copy;
  va_copy(copy, ap);
  int n = std::vsnprintf(buf, sizeof buf, fmt, copy);
  va_end(copy);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof buf) return std::string(buf, n);
  std::string out(n, '\0');
  std::vsnprintf(out.data(), out.size() + 1, fmt, ap);
  return out;
}

void set_log(const std::string& name, const char* access, LogMode mode) {
  if (state.pfile != nullptr) FILE_close(state.pfile);
  state.pfile = FILE_open(name.c_str(), access);
  state.mess_out = mode;
}

void write_log(const std::string& text) {
  if (state.mess_out == LogMode::per_message) state.pfile = FILE_open(state.filename.c_str(), "a");
  if (state.pfile != nullptr) {
    if (state.mess_out == LogMode::stamped) {
      std::string stamp;
      DATE_get_current_str(stamp);
      std::fprintf(state.pfile, "%s -- ", stamp.c_str());
    }
    std::fwrite(text.data(), 1, text.size(), state.pfile);
  }
  if (state.mess_out == LogMode::per_message && state.pfile != nullptr) {
    FILE_close(state.pfile);  // never closes standard output
    state.pfile = nullptr;
  }
}

void write_screen(M_type type, const std::string& text) {
  if (type & M_screen_err) {
    std::fflush(stdout);  // keep the order of the two streams at a terminal
    std::fwrite(text.data(), 1, text.size(), stderr);
  } else {
    std::fwrite(text.data(), 1, text.size(), stdout);
  }
}

void count_page_lines(M_type type, const char* fmt) {
  if (state.page != Paging::every_page) return;
  for (const char* p = fmt; *p; ++p)
    if (*p == '\n') ++state.lines;
  if (state.lines > state.max_lines) MESS_hold(type, "Press return to continue\n");
}

// The text after a keyword of `keylen` characters and one separator.
std::string option_arg(const std::string& word, size_t keylen) {
  return word.size() > keylen + 1 ? word.substr(keylen + 1) : std::string();
}

bool begins(const std::string& word, const char* key) {
  return strnicmp(word.c_str(), key, static_cast<int>(std::strlen(key))) == 0;
}

void apply_level_word(const std::string& given) {
  std::string word = given;
  int oper = MESS_SET_QUIET;
  if (!word.empty() && word[0] == '+') oper = MESS_ADD_QUIET, word.erase(0, 1);
  else if (!word.empty() && word[0] == '-') oper = MESS_REMOVE_QUIET, word.erase(0, 1);
  struct Level { const char* name; M_type mask; };
  static const Level levels[] = {{"none", M_none},   {"print", M_print}, {"error", M_error},
                                 {"warn", M_warn},   {"mess", M_mess},   {"out1", M_out1},
                                 {"out2", M_out2},   {"out3", M_out3},   {"out4", M_out4},
                                 {"debug", M_debug}};
  M_type mask = 0;
  bool known = false;
  for (const Level& l : levels) {
    if (begins(word, l.name)) {
      mask = l.mask;
      known = true;
      break;
    }
  }
  // Said before the word takes effect, which silences everything when it
  // sets the level.
  if (!known) MESS_print(M_warn, "Unknown message level: %s\n", given.c_str());
  if (!word.empty()) {
    switch (word.back()) {
      case 'a': mask &= M_sub_a; break;
      case 'b': mask &= M_sub_b; break;
      case 'c': mask &= M_sub_c; break;
      case 'd': mask &= M_sub_d; break;
      default: break;
    }
  }
  apply(oper, mask);
}

void apply_option_word(const std::string& word) {
  if (begins(word, "@fi")) return set_log(option_arg(word, 3), "a", LogMode::stamped);
  if (begins(word, "+fi")) return set_log(option_arg(word, 3), "a", LogMode::screen);
  if (begins(word, "-fi")) return set_log(option_arg(word, 3), "w", LogMode::screen);
  if (begins(word, "dfi")) {
    state.filename = option_arg(word, 3);
    state.mess_out = LogMode::per_message;
    return;
  }
  if (begins(word, "fi")) return set_log(option_arg(word, 2), "a", LogMode::log_only);
  if (stricmp(word.c_str(), "nopage") == 0) {
    state.page = Paging::never;
    return;
  }
  if (stricmp(word.c_str(), "page") == 0) {
    state.page = Paging::every_page;
    return;
  }
  if (begins(word, "line")) {
    int n = std::atoi(option_arg(word, 4).c_str());
    state.max_lines = n > 0 ? n : 22;
    return;
  }
  apply_level_word(word);
}

}  // namespace

int MESS_set(int oper, M_type level) {
  if (oper >= 16 && state.mess_set != 0) return 0;  // the default codes
  if (oper <= 4) ++state.mess_set;                   // the plain codes
  apply(oper, level);
  return 0;
}

int MESS_check_set() { return state.mess_set; }

int MESS_check(M_type level) { return (level & state.mess_level) != 0 ? 1 : 0; }

int MESS_print(M_type type, const char* mess, ...) {
  if (!MESS_check(type) || mess == nullptr) return 0;
  va_list ap;
  va_start(ap, mess);
  std::string text = vformat(mess, ap);
  va_end(ap);
  write_log(text);
  if (state.mess_out == LogMode::log_only) return 0;
  write_screen(type, text);
  count_page_lines(type, mess);
  return 1;
}

int MESS_set_str(const char* str) {
  ++state.mess_set;
  if (str == nullptr) return 0;
  for (const std::string& word : parse_string(std::string(str), ',')) apply_option_word(word);
  return 0;
}

int MESS_hold(M_type type, const char* mess) {
  if (!MESS_check(type) || state.mess_out == LogMode::log_only || FLAG_batch() ||
      state.page == Paging::never)
    return 0;
  // The pause is a prompt, and prompts go to standard output with the page
  // they hold, whatever filled the page: a plain error or warn mask has the
  // bits of one level only. A caller that asks for the error screen as such
  // (a bit of error and a bit of warn together) gets the prompt there.
  bool to_err = (type & M_error) != 0 && (type & M_warn) != 0;
  std::fflush(stdout);
  std::fputs(mess, to_err ? stderr : stdout);
  std::fflush(to_err ? stderr : stdout);
  KIV_read_char();
  state.lines = 0;
  return 0;
}

int MESS_print_prog(const char* string) {
  MESS_print(M_mess, "      %s (Ver %s)\n\n", string, KIV_version());
  return 0;
}

M_type MESS_get_level() { return state.mess_level; }

void MESS_reset() {
  if (state.pfile != nullptr) FILE_close(state.pfile);
  state = MessState{};
}
