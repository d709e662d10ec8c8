// Patterns that choose header records: POSIX extended regular expressions,
// case ignored, run on a record's heading and on its second line; and the
// texts that every match holds, which let a reader pass over lines
// without running an expression, as grep does.
//
// No module state: a PAT_chooser holds what one program compiled.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The texts that every match of the extended regular expression `pattern`
// holds, as far as they can be told without running it: runs of ASCII
// characters that each stand once, side by side (compare them with case
// ignored). A pattern with alternatives at its top level, or with a part
// that is not read for sure as an atom and its repeats, gives none.
std::vector<std::string> PAT_literals(std::string_view pattern);

// A text searched for with its ASCII letters in either case.
class PAT_text {
 public:
  explicit PAT_text(std::string_view text);
  size_t size() const { return lower_.size(); }
  // The first place in [p, end) where the text stands, or end.
  const char* find(const char* p, const char* end) const;

 private:
  bool stands_at(const char* q) const;
  std::string lower_;
};

// The patterns on the heading and on the second line of records.
class PAT_chooser {
 public:
  // Compiles `heading` and `ident` (null or empty: any text), as typed.
  // Returns false after reporting "Invalid pattern %s: %s" at level error
  // for each one that does not compile (which is then left unset).
  bool set(const char* heading, const char* ident);
  // Whether a pattern is set.
  bool any() const { return heading_ != nullptr || ident_ != nullptr; }
  // Whether a record of this heading and second line (without the blanks
  // that pad it) is chosen.
  bool chosen(std::string_view heading, std::string_view ident) const;
  // The start of the first line in [p, end) that can be chosen: of the one
  // where the longest text every match holds stands, `p` when there is no
  // such text, `end` when no line holds it. [p, end) is whole lines.
  const char* next_line(const char* p, const char* end) const;
  // Whether the line `line` can be chosen, as far as the text every match
  // holds tells: false only when it does not stand there.
  bool may_choose(std::string_view line) const {
    return prefilter_ == nullptr || prefilter_->find(line.data(), line.data() + line.size()) != line.data() + line.size();
  }

 private:
  struct Pattern;
  struct PatternFree {
    void operator()(Pattern* p) const;
  };
  using PatternPtr = std::unique_ptr<Pattern, PatternFree>;
  static bool compile(const char* text, PatternPtr& p);
  static bool matches(const Pattern* p, std::string_view field, std::string& scratch);

  PatternPtr heading_, ident_;
  const PAT_text* prefilter_ = nullptr;  // the longest text of both
  mutable std::string scratch_;          // a field with its end byte
};
