// Patterns that choose header records, and the texts every match holds.
//
// The texts are read off the pattern as grep reads them: a sequence of
// atoms, each with its chain of repeats. An ASCII character that must
// stand exactly once joins its neighbours into a text; one that must
// stand at least once is a text of its own. Whatever is not read for sure
// gives no text at all, so the search for a text only ever passes over
// lines that the expression would not match.
#include "pattern.h"

#include <regex.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "mess.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr size_t npos = std::string_view::npos;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }
char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// The end of the bracket expression that begins at `i` ('['), after its
// ']'; npos when it has none.
size_t bracket_end(std::string_view s, size_t i) {
  size_t j = i + 1;
  if (j < s.size() && s[j] == '^') ++j;
  if (j < s.size() && s[j] == ']') ++j;  // a ']' first is a member
  while (j < s.size() && s[j] != ']') {
    if (s[j] == '[' && j + 1 < s.size() && std::strchr(":.=", s[j + 1]) != nullptr) {
      size_t close = s.find(std::string{s[j + 1], ']'}, j + 2);
      if (close == npos) return npos;
      j = close + 2;
    } else {
      ++j;
    }
  }
  return j < s.size() ? j + 1 : npos;
}

// The end of the group that begins at `i` ('('), after its ')'; npos when
// it has none.
size_t group_end(std::string_view s, size_t i) {
  int depth = 0;
  for (size_t j = i; j < s.size();) {
    if (s[j] == '[') {
      j = bracket_end(s, j);
      if (j == npos) return npos;
      continue;
    }
    if (s[j] == '\\') {
      j += 2;
      continue;
    }
    if (s[j] == '(') ++depth;
    if (s[j] == ')' && --depth == 0) return j + 1;
    ++j;
  }
  return npos;
}

bool is_repeat(char c) { return c == '*' || c == '+' || c == '?' || c == '{'; }

// A count read from s at `i`, moving `i` after its digits; -1 when there
// are none.
long read_count(std::string_view s, size_t& i) {
  long n = -1;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i)
    n = std::min((n < 0 ? 0 : n * 10) + (s[i] - '0'), 1L << 20);
  return n;
}

// The repeat at `i`: '*', '+', '?' or an interval "{m}", "{m,}", "{m,n}",
// "{,n}", "{,}". Gives its smallest and largest count (-1: no bound) and
// moves `i` after it; false when the text there is no repeat.
bool read_repeat(std::string_view s, size_t& i, long& min, long& max) {
  char c = s[i++];
  if (c != '{') {
    min = c == '+' ? 1 : 0;
    max = c == '?' ? 1 : -1;
    return true;
  }
  long first = read_count(s, i);
  bool comma = i < s.size() && s[i] == ',';
  if (!comma && first < 0) return false;
  min = std::max(first, 0L);
  max = comma ? read_count(s, ++i) : first;
  return i < s.size() && s[i++] == '}';
}

enum class Atom { text, other, alternatives, unsure };

// The atom at `i`, moving `i` after it: one character of text (in `c`),
// another atom (a bracket expression, a group, any character, an anchor,
// an escape that stands for no character of its own), a top-level '|', or
// something not read for sure (an unmatched bracket or parenthesis, a
// repeat of nothing, a trailing backslash).
Atom read_atom(std::string_view s, size_t& i, char& c) {
  c = s[i];
  auto printable = [](char ch) { return ch >= 0x20 && ch < 0x7f; };
  if (c == '\\') {
    if (i + 1 >= s.size()) return Atom::unsure;
    c = s[i + 1];
    i += 2;
    // Escaped letters and digits are classes, word boundaries and back
    // references; so are \< \> \` \'.
    bool letter = std::isalnum(static_cast<unsigned char>(c)) != 0;
    return printable(c) && !letter && std::strchr("<>`'", c) == nullptr ? Atom::text : Atom::other;
  }
  if (c == '[' || c == '(') {
    size_t end = c == '[' ? bracket_end(s, i) : group_end(s, i);
    if (end == npos) return Atom::unsure;
    i = end;
    return Atom::other;
  }
  ++i;
  if (c == '|') return Atom::alternatives;
  if (c == ')' || is_repeat(c)) return Atom::unsure;
  return printable(c) && std::strchr(".^$", c) == nullptr ? Atom::text : Atom::other;
}

}  // namespace

std::vector<std::string> PAT_literals(std::string_view s) {
  std::vector<std::string> texts;
  std::string run;
  auto cut = [&] {
    if (!run.empty()) texts.push_back(run);
    run.clear();
  };
  for (size_t i = 0; i < s.size();) {
    char c = 0;
    Atom atom = read_atom(s, i, c);
    if (atom == Atom::alternatives || atom == Atom::unsure) return {};
    // A repeat of a repeat repeats the whole: the atom must stand when
    // every smallest count is at least one, and stands once when every
    // count is exactly one.
    bool needed = true, once = true;
    while (i < s.size() && is_repeat(s[i])) {
      long min = 0, max = 0;
      if (!read_repeat(s, i, min, max)) return {};
      needed = needed && min >= 1;
      once = once && min == 1 && max == 1;
    }
    if (atom != Atom::text || !needed) {
      cut();
      continue;
    }
    run += c;
    if (!once) cut();  // what follows stands after the repeats
  }
  cut();
  return texts;
}

// ---- Searching for a text ---------------------------------------------------

PAT_text::PAT_text(std::string_view text) {
  for (char c : text) lower_ += lower(c);
}

// Two of the text's bytes (the first and the last) are tested 16 places
// at a time.
const char* PAT_text::find(const char* p, const char* end) const {
  size_t n = lower_.size();
  if (n == 0) return p;
  if (static_cast<size_t>(end - p) < n) return end;
  const char* last = end - n;  // the last place a match can begin
#if defined(__SSE2__)
  const char a = lower_[0], b = lower_[n - 1];
  const __m128i a1 = _mm_set1_epi8(a), a2 = _mm_set1_epi8(upper(a));
  const __m128i b1 = _mm_set1_epi8(b), b2 = _mm_set1_epi8(upper(b));
  for (; last - p >= 15; p += 16) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n - 1));
    __m128i hit = _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(x, a1), _mm_cmpeq_epi8(x, a2)),
                                _mm_or_si128(_mm_cmpeq_epi8(y, b1), _mm_cmpeq_epi8(y, b2)));
    for (unsigned m = static_cast<unsigned>(_mm_movemask_epi8(hit)); m != 0; m &= m - 1) {
      const char* q = p + __builtin_ctz(m);
      if (stands_at(q)) return q;
    }
  }
#endif
  for (; p <= last; ++p)
    if (stands_at(p)) return p;
  return end;
}

bool PAT_text::stands_at(const char* q) const {
  for (size_t i = 0; i < lower_.size(); ++i)
    if (lower(q[i]) != lower_[i]) return false;
  return true;
}

// ---- Choosing records ---------------------------------------------------------

struct PAT_chooser::Pattern {
  regex_t re;
  std::vector<PAT_text> texts;
};

void PAT_chooser::PatternFree::operator()(Pattern* p) const {
  regfree(&p->re);
  delete p;
}

bool PAT_chooser::compile(const char* text, PatternPtr& p) {
  p.reset();
  if (text == nullptr || *text == '\0') return true;
  // Not yet owned by `p`: a failed regcomp leaves nothing to free.
  auto fresh = std::make_unique<Pattern>();
  int rc = regcomp(&fresh->re, text, REG_EXTENDED | REG_ICASE | REG_NOSUB);
  if (rc != 0) {
    char why[256];
    regerror(rc, &fresh->re, why, sizeof why);
    MESS_print(M_error, "Invalid pattern %s: %s\n", text, why);
    return false;
  }
  for (const std::string& t : PAT_literals(text)) fresh->texts.emplace_back(t);
  p.reset(fresh.release());
  return true;
}

bool PAT_chooser::set(const char* heading, const char* ident) {
  bool ok = compile(heading, heading_);
  ok = compile(ident, ident_) && ok;
  prefilter_ = nullptr;
  for (const Pattern* p : {heading_.get(), ident_.get()}) {
    if (p == nullptr) continue;
    for (const PAT_text& t : p->texts)
      if (prefilter_ == nullptr || t.size() > prefilter_->size()) prefilter_ = &t;
  }
  return ok;
}

bool PAT_chooser::matches(const Pattern* p, std::string_view field, std::string& scratch) {
  if (p == nullptr) return true;
  const char* end = field.data() + field.size();
  for (const PAT_text& t : p->texts)
    if (t.find(field.data(), end) == end) return false;
  scratch.assign(field);
  return regexec(&p->re, scratch.c_str(), 0, nullptr, 0) == 0;
}

bool PAT_chooser::chosen(std::string_view heading, std::string_view ident) const {
  return matches(heading_.get(), heading, scratch_) && matches(ident_.get(), ident, scratch_);
}

const char* PAT_chooser::next_line(const char* p, const char* end) const {
  if (prefilter_ == nullptr) return p;
  const char* hit = prefilter_->find(p, end);
  if (hit == end) return end;
  while (hit > p && hit[-1] != '\n') --hit;
  return hit;
}
