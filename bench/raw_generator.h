// Generator of realistic raw data files: WMO products one after another,
// as a data feed appends them. Used by the benchmark and by the tests.
//
// SOH style: SOH CR CR LF, a sequence line, a heading such as
// "SAUS70 KWBC 081800", a second identification line, body lines of
// bulletin widths (a few longer than 80 characters), CR CR LF ETX. The
// next SOH follows the ETX directly (second character of its line) or
// after a line feed (first character).
// Stars style: each product opens with a line "** <heading> ***" and lines
// end in a bare line feed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace rawgen {

enum class Style { soh, stars };

class Generator {
 public:
  Generator(Style style, uint64_t seed) : style_(style), rng_(seed) {}

  // One product, body included.
  std::string product() {
    std::string p;
    std::string eol = style_ == Style::soh ? "\r\r\n" : "\n";
    std::string heading = make_heading();
    if (style_ == Style::soh) {
      p += '\x01';
      p += eol;
      p += pad3(seq_++ % 1000) + (pick(4) == 0 ? "" : " ") + eol;
      p += heading + eol;
    } else {
      p += "** " + heading + " ***" + eol;
    }
    p += make_id() + eol;
    size_t size = body_size();
    while (p.size() < size) p += body_line() + eol;
    if (style_ == Style::soh) p += '\x03';
    if (style_ == Style::stars || pick(3) == 0) p += '\n';
    return p;
  }

  // Appends products to `out` until at least `bytes` were written.
  uint64_t write(FILE* out, uint64_t bytes) {
    uint64_t done = 0;
    while (done < bytes) {
      std::string p = product();
      std::fwrite(p.data(), 1, p.size(), out);
      done += p.size();
    }
    return done;
  }

  std::string text(size_t bytes) {
    std::string out;
    while (out.size() < bytes) out += product();
    return out;
  }

 private:
  uint32_t pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }

  static std::string pad3(int n) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%03d", n);
    return buf;
  }

  char letter() { return static_cast<char>('A' + pick(26)); }

  std::string make_heading() {
    static const char* const kinds[] = {"SAUS", "SRUS", "FXUS", "WGUS", "FPUS", "NOUS", "SXUS"};
    static const char* const centres[] = {"KWBC", "KDMX", "KOAX", "KWNO", "KBOI", "PANT"};
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s%02u %s %02u%02u%02u", kinds[pick(7)], pick(100),
                  centres[pick(6)], 1 + pick(28), pick(24), pick(12) * 5);
    std::string h = buf;
    if (pick(10) == 0) h += pick(2) ? " RRA" : " AAB";
    return h;
  }

  std::string make_id() {
    if (pick(5) == 0) return "METAR " + std::string(4, 'K') + " 081753Z 21012KT 10SM CLR";
    std::string id;
    for (int i = 0; i < 6; ++i) id += letter();
    return id;
  }

  // Mostly short products, some long ones: about 2.2 KB on average.
  size_t body_size() {
    uint32_t r = pick(100);
    if (r < 80) return 200 + pick(1600);
    if (r < 98) return 2000 + pick(6000);
    return 10000 + pick(50000);
  }

  std::string body_line() {
    uint32_t r = pick(100);
    size_t width = r < 3 ? 81 + pick(120) : (r < 10 ? pick(20) : 50 + pick(20));
    std::string line;
    while (line.size() < width) {
      if (!line.empty() && pick(6) == 0) line += ' ';
      else line += pick(4) ? letter() : static_cast<char>('0' + pick(10));
    }
    return line;
  }

  Style style_;
  std::mt19937_64 rng_;
  int seq_ = 0;
};

}  // namespace rawgen
