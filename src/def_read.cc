// Resource files: finding a file along the search list, reading it line
// by line with its directives (DEF, UNDEF, IF, ELIF, ELSE, END), and
// deciding whether a resource name written in a file or an environment
// variable applies to the running program (qualified names and '*'
// patterns).
//
// State (one DefState, reset by DEF_reset): the open file, the program
// and instance names that qualify resource names, the defined tags, and
// the stack of open IF sections with its "every level active" summary.
// Tags and the IF stack deliberately survive DEF_close, so a section left
// open at the end of one file still governs the next.
#include "def_read.h"

#include <cctype>
#include <cstdlib>
#include <vector>

#include "files.h"
#include "mess.h"
#include "resrc.h"
#include "string.h"
#include "tools.h"

namespace {

constexpr int MAX_TAGS = 10;
constexpr int MAX_IF_DEPTH = 10;
constexpr int LINE_LIMIT = 249;  // longer lines continue as lines of their own

// Levels of the IF stack.
constexpr int BRANCH_INACTIVE = 0;  // no branch taken yet
constexpr int BRANCH_ACTIVE = 1;
constexpr int BRANCH_DONE = 99;  // a branch was taken: the rest is inactive

struct DefState {
  FILE_ptr file;
  std::string prog_name = "Kiv";
  std::string prog_title;
  std::vector<std::string> tags;
  std::vector<int> match;  // at most MAX_IF_DEPTH levels
  // Sections open beyond MAX_IF_DEPTH: inactive whatever their tags, so
  // only counted, which keeps every directive's cost bounded.
  long too_deep = 0;
  bool matches = true;
};
DefState state;

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// The next whitespace-delimited word of `line` from `pos`; `pos` moves
// past it.
std::string next_word(const std::string& line, size_t& pos) {
  while (pos < line.size() && is_space(line[pos])) ++pos;
  size_t start = pos;
  while (pos < line.size() && !is_space(line[pos])) ++pos;
  return line.substr(start, pos - start);
}

bool tag_defined(const std::string& word) {
  for (const std::string& tag : state.tags)
    if (stricmp(tag.c_str(), word.c_str()) == 0) return true;
  return false;
}

void recompute_matches() {
  state.matches = state.too_deep == 0;
  for (int level : state.match)
    if (level != BRANCH_ACTIVE) state.matches = false;
}

void define_tag(const std::string& word) {
  if (word.empty() || static_cast<int>(state.tags.size()) >= MAX_TAGS) return;
  state.tags.push_back(word);
}

void undefine_tag(const std::string& word) {
  if (word.empty()) return;
  for (auto it = state.tags.begin(); it != state.tags.end(); ++it) {
    if (stricmp(it->c_str(), word.c_str()) == 0) {
      state.tags.erase(it);
      return;
    }
  }
}

void open_if(const std::string& word) {
  if (word.empty()) return;
  if (static_cast<int>(state.match.size()) >= MAX_IF_DEPTH) {
    // Too deep to track: the whole section stays inactive up to its END.
    // Reported once on the way down, not for every line further in.
    if (state.too_deep++ == 0) MESS_print(M_warn, "DEF_get: if nesting too deep\n");
    return;
  }
  state.match.push_back(tag_defined(word) ? BRANCH_ACTIVE : BRANCH_INACTIVE);
}

void next_branch(bool taken, const char* keyword) {
  if (state.match.empty()) {
    MESS_print(M_warn, "DEF_get: %s without an if\n", keyword);
    return;
  }
  if (state.too_deep > 0) return;  // a branch of an inactive section
  int& top = state.match.back();
  if (top != BRANCH_INACTIVE)
    top = BRANCH_DONE;
  else
    top = taken ? BRANCH_ACTIVE : BRANCH_INACTIVE;
}

void close_if() {
  if (state.match.empty()) {
    MESS_print(M_warn, "DEF_get: end without an if\n");
    return;
  }
  if (state.too_deep > 0)
    --state.too_deep;
  else
    state.match.pop_back();
}

// Carries out a directive line; false when `keyword` is none.
bool run_directive(const std::string& keyword, const std::string& word) {
  if (keyword == "DEF") {
    define_tag(word);
  } else if (keyword == "UNDEF") {
    undefine_tag(word);
  } else if (keyword == "IF") {
    open_if(word);
  } else if (keyword == "ELIF") {
    if (!word.empty()) next_branch(tag_defined(word), "elif");
  } else if (keyword == "ELSE") {
    next_branch(true, "else");
  } else if (keyword == "END") {
    close_if();
  } else {
    return false;
  }
  recompute_matches();
  return true;
}

// A value word opening with '"' takes the text up to the next '"' (or
// the end of the line), blanks included; "" is the empty value.
std::string quoted_value(const std::string& line, size_t after_name) {
  size_t open = line.find('"', after_name);
  size_t close = line.find('"', open + 1);
  if (close == std::string::npos) close = line.size();
  return line.substr(open + 1, close - open - 1);
}

// The literal run of `pattern` from `p` up to the next '*' or its end.
std::string literal_segment(const std::string& pattern, size_t p) {
  size_t star = pattern.find('*', p);
  return pattern.substr(p, star == std::string::npos ? std::string::npos : star - p);
}

// Matches `pattern` against `name`: '*' skips to the first occurrence of
// the literal text that follows it; everything else must be equal.
bool pattern_matches(const std::string& name, const std::string& pattern) {
  size_t q = 0, p = 0;
  while (q < name.size() && p < pattern.size()) {
    if (pattern[p] == '*') {
      ++p;
      size_t found = name.find(literal_segment(pattern, p), q);
      if (found == std::string::npos) return false;
      q = found;
    }
    // Past the end of the pattern nothing equals a remaining character.
    if (p >= pattern.size() || pattern[p] != name[q]) return false;
    ++q, ++p;
  }
  return q == name.size() && p == pattern.size();
}

}  // namespace

int DEF_open(const char* filename) {
  std::string name = (filename != nullptr && *filename != '\0') ? filename : ".kivdef";
  if (FILE_is_dir(name.c_str()) > 0) {
    std::string dir = name;
    FILE_add_path_delim(dir);
    for (const char* candidate : {"kiv.cfg", ".kivdef", "Kiv.res"}) {
      name = dir + candidate;
      if (FILE_exist(name.c_str()) > 0) break;
    }
  }
  DEF_close();
  state.file.reset(FILE_open_regular(name.c_str()));
  return state.file ? 0 : -1;
}

int DEF_close() {
  state.file.reset();
  return 0;
}

int DEF_get(std::string& resrc, std::string& value) {
  if (!state.file) return -1;
  std::string line;
  while (fgetstring(state.file.get(), line, LINE_LIMIT) >= 0) {
    if (line.empty() || line[0] == '#') continue;
    size_t pos = 0;
    std::string first = next_word(line, pos);
    size_t after_name = pos;
    std::string second = next_word(line, pos);
    if (first.empty()) continue;
    if (run_directive(first, second)) continue;
    if (!state.matches || second.empty()) continue;
    low_string(first);
    if (first.back() == ':') first.pop_back();
    resrc = first;
    value = second[0] == '"' ? quoted_value(line, after_name) : second;
    return 1;
  }
  return -1;
}

int DEF_prog() {
  // Without a remembered argument vector the start-up name stays.
  if (RES_get_prog() != nullptr) state.prog_name = RES_get_progname();
  return 0;
}

int DEF_name(const char* name) {
  state.prog_title = name != nullptr ? name : "";
  return 0;
}

int DEF_clr_tag() {
  state.tags.clear();
  return 0;
}

int DEF_tag(const char* str) {
  if (static_cast<int>(state.tags.size()) >= MAX_TAGS) return -1;
  state.tags.emplace_back(str != nullptr ? str : "");
  return 0;
}

std::string DEF_qualified(const char* resrc) {
  const std::string r = resrc != nullptr ? resrc : "";
  if (!state.prog_title.empty() && state.prog_title[0] == '+')
    return state.prog_name + "." + state.prog_title.substr(1) + "." + r;
  if (!state.prog_title.empty()) return state.prog_title + "." + r;
  return state.prog_name + "." + r;
}

int DEF_cmp(const char* resrc, const char* string) {
  if (string == nullptr) return 0;
  return pattern_matches(DEF_qualified(resrc), string) ? 1 : 0;
}

int DEF_valid(const char* string) {
  if (string == nullptr) return 0;
  std::string name = string;
  if (name.find_first_of(".*") == std::string::npos) return 0;
  std::string last;
  DEF_parse_name(string, last);
  return DEF_cmp(last.c_str(), string);
}

int DEF_parse_name(const char* str, std::string& ostr) {
  std::string name = str != nullptr ? str : "";
  size_t cut = name.find_last_of(".*");
  ostr = cut == std::string::npos ? name : name.substr(cut + 1);
  return 1;
}

int DEF_env(const char* resrc, const char* env, std::string& value) {
  const std::string qualified_var = "kiv" + DEF_qualified(resrc);
  const std::string plain_var = std::string("kiv") + (resrc != nullptr ? resrc : "");
  const char* names[] = {qualified_var.c_str(), (env != nullptr && *env != '\0') ? env : nullptr,
                         plain_var.c_str()};
  for (const char* name : names) {
    if (name == nullptr) continue;
    if (const char* found = std::getenv(name)) {
      value = found;
      return 1;
    }
  }
  return 0;
}

void DEF_reset() { state = DefState(); }
