// Generated data files for comparing the product scanner with the simple
// one: awkward line lengths and start bytes at piece boundaries, random
// bytes over the bytes that matter, and realistic feeds with stray starts
// of the other kind. The scanner tests take a sample of each family;
// scan_sweep runs thousands.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>

#include "bench/raw_generator.h"

namespace rawgen {

// Lines of awkward lengths, start bytes at and around piece boundaries,
// CR CR LF and bare LF endings, empty lines, NULs, optionally no final
// line feed and a leading line feed.
inline std::string awkward_file(uint64_t seed) {
  std::mt19937_64 rng(seed);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  static const int lengths[] = {0, 1, 2, 3, 6, 7, 8, 79, 80, 81, 82, 159, 160, 161, 1000};
  std::string out;
  if (pick(8) == 0) out += '\n';
  int lines = 1 + pick(40);
  for (int i = 0; i < lines; ++i) {
    size_t len = pick(3) ? lengths[pick(15)] : pick(200);
    std::string line(len, 'x');
    for (char& c : line) c = static_cast<char>('A' + pick(26));
    for (size_t at : {0, 1, 2, 79, 80, 81, 160, 161}) {
      if (at >= len || pick(6) != 0) continue;
      switch (pick(5)) {
        case 0: line[at] = '\x01'; break;
        case 1: line.replace(at, std::min<size_t>(3, len - at), "** ", 0, std::min<size_t>(3, len - at)); break;
        case 2: line[at] = '\0'; break;
        case 3: line[at] = '\x03'; break;
        default: line[at] = '\r'; break;
      }
    }
    out += line;
    out += pick(2) ? "\r\r\n" : "\n";
  }
  if (pick(3) == 0 && !out.empty()) out.pop_back();
  return out;
}

// Random bytes over a small alphabet rich in the bytes that matter.
inline std::string random_bytes(uint64_t seed) {
  std::mt19937_64 rng(seed);
  static const char alphabet[] = {'\n', '\n', '\r', '\0', '\x01', '\x03', '*', '*', ' ', 'A', 'B'};
  std::string out(rng() % 600, ' ');
  for (char& c : out) c = alphabet[rng() % sizeof alphabet];
  return out;
}

// A realistic feed file with a few "** " lines and stray SOH bytes in
// the products, so the kind of the first start matters.
inline std::string feed_file(Style style, uint64_t seed, size_t bytes) {
  rawgen::Generator gen(style, seed);
  std::mt19937_64 rng(seed);
  std::string out;
  while (out.size() < bytes) {
    std::string p = gen.product();
    if (rng() % 4 == 0) {
      size_t at = p.find('\n', p.size() / 2);
      if (at != std::string::npos) p.insert(at + 1, style == Style::soh ? "** BODY LINE ****\n" : "x\x01 body\n");
    }
    out += p;
  }
  return out;
}

}  // namespace rawgen
