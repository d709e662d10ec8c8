// Patterns: the texts a match must hold, tried on patterns made from real
// headings against regexec itself.
#include <gtest/gtest.h>
#include <regex.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "src/header_records.h"
#include "src/pattern.h"
#include "src/scan.h"

namespace {

// The headings and second lines of the real bulletins.
std::vector<std::string> real_fields() {
  std::set<std::string> fields;
  FILE* f = std::fopen(KIV_TEST_DATA "/feed_concat_text.raw", "rb");
  if (f == nullptr) return {};
  SCAN_records(f, [&fields](long, std::string_view record) {
    hdr::RecordParts parts;
    if (hdr::split_record(record, parts)) {
      fields.emplace(parts.heading);
      fields.emplace(parts.id);
    }
    return true;
  });
  std::fclose(f);
  return {fields.begin(), fields.end()};
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Random patterns built from pieces of the fields: their characters as
// they are, in the other case, escaped or as classes, each with a repeat
// now and then (stacked ones too), in groups, alternatives and
// back-references, between anchors and word boundaries.
class PatternMaker {
 public:
  explicit PatternMaker(const std::vector<std::string>& fields) : fields_(fields) {}

  std::string make() {
    std::string p = run();
    if (rng_() % 6 == 0) p = "(" + p + ")" + pick({"", "?", "{1}", "+"});
    return pick({"", "", "^", "\\<", "\\b"}) + p + pick({"", "", "", "$", "\\>", "\\b", " ?$", "|" + run()});
  }

 private:
  std::string run() {
    const std::string& f = fields_[rng_() % fields_.size()];
    size_t from = rng_() % f.size();
    size_t n = 1 + rng_() % std::min<size_t>(10, f.size() - from);
    std::string p;
    for (size_t i = from; i < from + n; ++i) {
      int what = static_cast<int>(rng_() % 16);
      if (what == 0 && i + 1 < from + n) {
        std::string a = atom(f[i]);
        p += pick({"(" + a + ")\\1?", "(" + a + "|" + atom(f[i + 1]) + ")", "(" + a + atom(f[i + 1]) + ")"});
        ++i;
      } else {
        p += what == 1 ? pick({".", "[[:alnum:][:space:]/]", "\\w", "[^\\n]", "[]A-Z0-9 ]"}) : atom(f[i]);
      }
      if (rng_() % 3 == 0)
        p += pick({"?", "*", "+", "{1}", "{0}", "{,2}", "{,}", "{1,}", "{0,1}", "{1}?", "+?", "+{0}",
                   "*?", "{2}", "??", "{1,2}{1}", "{,1}+", "{1}{1}"});
    }
    return p;
  }

  std::string atom(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7f) return ".";
    if (std::strchr(".[]()*+?{}|^$\\", c) != nullptr) return std::string("\\") + c;
    if (rng_() % 4 == 0) c = static_cast<char>(std::islower(u) ? std::toupper(u) : std::tolower(u));
    return std::string(1, c);
  }

  std::string pick(std::initializer_list<std::string> choices) {
    return *(choices.begin() + rng_() % choices.size());
  }

  const std::vector<std::string>& fields_;
  std::mt19937 rng_{28};
};

TEST(PatternTexts, AreTheTextsEveryMatchHolds) {
  struct Case {
    const char* pattern;
    std::vector<std::string> literals;
  };
  const Case cases[] = {
      {"^SAUS70 KWBC", {"SAUS70 KWBC"}},
      {"SAUS7[0-4] KWBC", {"SAUS7", " KWBC"}},
      {"METAR|SPECI", {}},
      {"ab?c*d+e{0,2}f{2}g", {"a", "d", "f", "g"}},
      {"x(a|b)*y\\.z[]*]w", {"x", "y.z", "w"}},
      {"\\bKWBC\\>.$", {"KWBC"}},
      {"caf\xc3\xa9s", {"caf", "s"}},
      {"SAUS70 KWB{,2}C", {"SAUS70 KW", "C"}},
      {"SAUS70 KWBCX{1}?", {"SAUS70 KWBC"}},
      {"XA+?Y{,}Z{1}{1,1}W", {"X", "ZW"}},
      {"A+{0}b{1,}c{2}", {"b", "c"}},
      {"ab{x}", {}},
      {"*ab", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(PAT_literals(c.pattern), c.literals) << c.pattern;
}

TEST(PatternTexts, EveryFieldThatMatchesHoldsEveryRequiredText) {
  const std::vector<std::string> fields = real_fields();
  ASSERT_GE(fields.size(), 80u);
  PatternMaker maker(fields);
  int tried = 0, matched = 0, wrong = 0;
  std::string first_wrong;
  while (tried < 10000) {
    std::string pattern = maker.make();
    regex_t re;
    if (regcomp(&re, pattern.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB) != 0) continue;
    ++tried;
    const std::vector<std::string> texts = PAT_literals(pattern);
    bool right = true;
    for (const std::string& field : fields) {
      if (regexec(&re, field.c_str(), 0, nullptr, 0) != 0) continue;
      ++matched;
      for (const std::string& text : texts) {
        if (lower(field).find(lower(text)) != std::string::npos) continue;
        if (first_wrong.empty()) first_wrong = pattern + " matches " + field + " without " + text;
        right = false;
      }
    }
    wrong += right ? 0 : 1;
    regfree(&re);
  }
  EXPECT_EQ(wrong, 0) << "of " << tried << ", first: " << first_wrong;
  EXPECT_GE(matched, tried);  // most patterns match the field they came from
}

}  // namespace
