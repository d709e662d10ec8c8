// product_get's writer of products.
#include "product_write.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string_view>

#include "date.h"

namespace pg {

namespace {

constexpr char kSOH = '\x01';
constexpr char kETX = '\x03';
constexpr size_t kGathered = 256 * 1024;  // output gathered for one write

// The parts of a heading of the form "TTAAii CCCC DDHHMM [BBB]".
struct HeadingParts {
  std::string_view ttaaii, cccc, ddhhmm, bbb;
  int day = 0, hour = 0, minute = 0;
};

bool all_are(std::string_view s, size_t size, int (*is)(int)) {
  if (s.size() != size) return false;
  for (char c : s)
    if (!is(static_cast<unsigned char>(c))) return false;
  return true;
}

int two_digits(std::string_view s, size_t at) { return (s[at] - '0') * 10 + (s[at + 1] - '0'); }

// Splits `heading` into its parts; false when it has another form.
bool split_heading(std::string_view heading, HeadingParts& h) {
  std::string_view words[5];
  size_t n = 0;
  for (size_t at = 0; at <= heading.size() && n < 5;) {
    size_t blank = std::min(heading.find(' ', at), heading.size());
    words[n++] = heading.substr(at, blank - at);
    at = blank + 1;
  }
  if (n < 3 || n > 4) return false;
  h = {words[0], words[1], words[2], n == 4 ? words[3] : std::string_view()};
  if (!all_are(h.ttaaii.substr(0, 4), 4, isupper) || !all_are(h.ttaaii.substr(4), 2, isdigit) ||
      !all_are(h.cccc, 4, isupper) || !all_are(h.ddhhmm, 6, isdigit) || (n == 4 && !all_are(h.bbb, 3, isupper)))
    return false;
  h.day = two_digits(h.ddhhmm, 0);
  h.hour = two_digits(h.ddhhmm, 2);
  h.minute = two_digits(h.ddhhmm, 4);
  return h.day >= 1 && h.day <= 31 && h.hour <= 23 && h.minute <= 59;
}

int days_in_month(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return days[month - 1] + (month == 2 ? DATE_is_leap(year) : 0);
}

// The time of the heading's day, hour and minute: the last one at or
// before the end of the data file's period, which begins at `file` and
// lasts `period` seconds, as "YYYY-MM-DDThh:mm:ssZ"; empty when the file
// has no date.
std::string heading_time(const Date& file, long period, const HeadingParts& h) {
  if (file.year == NO_VALUE || file.month == NO_VALUE || file.day == NO_VALUE) return "";
  Date d = file;
  long end = DATE_num_sec(&d) + std::max(period, 0L);
  DATE_get_gmdate(&end, &d);
  // A month back at a time, until the day is in the month and not later.
  for (int back = 0; back < 13; ++back) {
    if (h.day <= days_in_month(d.year, d.month)) {
      Date at;
      at.year = d.year, at.month = d.month, at.day = h.day, at.hour = h.hour, at.min = h.minute, at.sec = 0;
      if (DATE_num_sec(&at) <= end) {
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:00Z", at.year, at.month, at.day, at.hour,
                      at.min);
        return text;
      }
    }
    if (--d.month == 0) d.month = 12, --d.year;
  }
  return "";
}

std::string_view trimmed(std::string_view s) {
  size_t from = s.find_first_not_of(' ');
  if (from == std::string_view::npos) return {};
  return s.substr(from, s.find_last_not_of(' ') + 1 - from);
}

}  // namespace

bool Writer::write(const PL_product& p, PL_text& text) {
  switch (kind_) {
    case PG_output::text:
      text.read([this](std::string_view piece) { return put(piece); });
      break;
    case PG_output::plain:
      plain(text);
      break;
    case PG_output::list:
      put(data_.name) && put(":", 1) && put(p.record) && put("\n", 1);
      break;
    case PG_output::ranges: {
      char range[64];
      int n = std::snprintf(range, sizeof range, " %ld-%ld\n", p.first, p.last);
      put(data_.name) && put(range, static_cast<size_t>(n));
      break;
    }
    case PG_output::json:
    case PG_output::json_text:
      json(p, text);
      break;
  }
  ++run_.written;
  return error_ == 0;
}

// Writes the product's text without its start-of-heading line, end-of-text
// bytes and carriage returns, with no empty line at its start or end; the
// lines end in a line feed, and an empty line parts it from the product
// before.
void Writer::plain(PL_text& text) {
  bool first = true;       // at the product's first byte
  bool skipping = false;   // within its start-of-heading line
  bool any = false;        // a byte of it was written
  long newlines = 0;       // line feeds held back until more text comes
  std::string out;
  auto piece = [&](std::string_view bytes) {
    out.clear();
    for (char c : bytes) {
      if (first) skipping = c == kSOH, first = false;
      if (skipping) {
        skipping = c != '\n';
        continue;
      }
      if (c == '\r' || c == kETX) continue;
      if (c == '\n') {
        newlines += any;
        continue;
      }
      if (!any && run_.written > 0) out += '\n';
      out.append(static_cast<size_t>(newlines), '\n');
      newlines = 0;
      out += c;
      any = true;
    }
    return put(out);
  };
  if (text.read(piece) && any) put("\n", 1);
}

void Writer::json(const PL_product& p, PL_text& text) {
  nlohmann::ordered_json j;
  j["file"] = data_.name;
  j["first"] = p.first;
  j["last"] = p.last;
  j["offset"] = p.offset;
  std::string_view heading = trimmed(p.heading);
  j["heading"] = heading;
  j["id"] = trimmed(p.id);
  HeadingParts h;
  if (split_heading(heading, h)) {
    j["ttaaii"] = h.ttaaii;
    j["cccc"] = h.cccc;
    j["ddhhmm"] = h.ddhhmm;
    if (!h.bbb.empty()) j["bbb"] = h.bbb;
    std::string time = heading_time(data_.date, period_, h);
    if (!time.empty()) j["time"] = time;
  }
  if (kind_ == PG_output::json_text) {
    std::string bytes;
    if (!text.read([&bytes](std::string_view piece) {
          bytes.append(piece);
          return true;
        }))
      return;
    j["text"] = bytes;
  }
  // Bytes that are no UTF-8 become U+FFFD: a JSON text is UTF-8.
  put(j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
}

bool Writer::put(const char* data, size_t size) {
  if (held_.size() + size > kGathered && !flush()) return false;
  if (size < kGathered) held_.append(data, size);
  else if (std::fwrite(data, 1, size, out_) != size) error_ = errno != 0 ? errno : EIO;
  return error_ == 0;
}

bool Writer::flush() {
  if (error_ == 0 && !held_.empty() && std::fwrite(held_.data(), 1, held_.size(), out_) != held_.size())
    error_ = errno != 0 ? errno : EIO;
  held_.clear();
  return error_ == 0;
}

}  // namespace pg
