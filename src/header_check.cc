// The header checker. The data file is scanned from its start exactly as a
// fresh index would be, and each record the scanner hands over is compared
// at once with the next line of the header file, read in fixed blocks: no
// file is held whole, so memory stays the same whatever their sizes.
//
// After a difference the two sides are brought back in step by offset.
// Records of a sound header rise in offset, so:
// - a header line that names the fresh record's offset, or holds its text
//   after a wrong offset, stands for that record: it differs;
// - a header line without an offset, or with a smaller one, stands for no
//   record at this point (a duplicate, a line of another file): it is extra;
// - a header line with a larger offset means the fresh record is missing.
// One record lost, repeated or garbled thus counts once, and a duplicated
// block counts its own lines only, instead of shifting every later line.
// Fresh records after the header's last line are not damage: the data file
// has grown since, and the header is behind by that many records.
//
// Module state: none.
#include "header_check.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "files.h"
#include "header_scan.h"
#include "header_tool.h"
#include "mess.h"
#include "resrc.h"

namespace {

constexpr size_t kBlock = 64 * 1024;  // header bytes read at a time
// Header bytes kept of one line: far more than any record (offset, 80
// characters of heading, 20 of identification), so a longer line can
// never match and only its beginning is worth showing.
constexpr size_t kKeep = 512;

// One line of the header file.
struct Line {
  std::string text;  // at most kKeep bytes, without the line feed
  bool cut = false;  // the line was longer than `text`
  long number = 0;   // 1 for the first line
};

// The header file's lines, one at a time. A last line without a line feed
// counts as a line.
class HeaderLines {
 public:
  explicit HeaderLines(FILE* f) : file_(f), buffer_(kBlock) {}

  // The next line in `line`; false at the end or on a read failure.
  bool next(Line& line) {
    line.text.clear();
    line.cut = false;
    bool any = false;
    for (;;) {
      if (pos_ == end_ && !fill()) break;
      const char* from = buffer_.data() + pos_;
      const void* lf = std::memchr(from, '\n', end_ - pos_);
      size_t len = lf ? static_cast<const char*>(lf) - from : end_ - pos_;
      size_t room = kKeep - line.text.size();
      line.text.append(from, std::min(len, room));
      line.cut = line.cut || len > room;
      pos_ += len;
      any = true;
      if (lf) {
        ++pos_;
        break;
      }
    }
    if (any) line.number = ++count_;
    return any && !failed_;
  }
  bool failed() const { return failed_; }

 private:
  bool fill() {
    if (done_) return false;
    size_t n = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    pos_ = 0;
    end_ = n;
    if (n == 0) {
      done_ = true;
      failed_ = std::ferror(file_) != 0;
    }
    return n > 0;
  }

  FILE* file_;
  std::vector<char> buffer_;
  size_t pos_ = 0, end_ = 0;
  long count_ = 0;
  bool done_ = false, failed_ = false;
};

// A text as it can be shown on a terminal: bytes that are not printable
// ASCII as \xNN, and "..." after a line that was cut.
std::string shown(std::string_view text, bool cut = false) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
      continue;
    }
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    out += hex;
  }
  if (cut) out += "...";
  return out;
}

// Walks the header file alongside the records of the fresh index.
class Checker {
 public:
  Checker(FILE* hfile, const std::string& name) : lines_(hfile), name_(name) { advance(); }

  // Takes the next fresh record; false when the header can no longer be
  // read, which ends the scan.
  bool take(long offset, std::string_view fresh) {
    for (;;) {
      if (lines_.failed()) return false;
      if (!have_) {
        ++r_.behind;
        return true;
      }
      if (line_.text == fresh) {
        advance();
        return true;
      }
      long at = 0, same = 0;
      std::string_view rest, fresh_rest;
      bool numbered = hdr::parse_record_offset(line_.text, at, rest);
      hdr::parse_record_offset(fresh, same, fresh_rest);
      if (numbered && (at == offset || rest == fresh_rest)) {
        ++r_.differing;
        differ(line_.text, fresh);
        advance();
        return true;
      }
      if (numbered && at > offset) {
        ++r_.missing;
        differ("", fresh);
        return true;
      }
      ++r_.extra;
      differ(line_.text, "");
      advance();
    }
  }

  // After the last fresh record: the header lines left are extra. Returns
  // the result, its status included.
  HCK_result finish() {
    for (; have_; advance()) {
      ++r_.extra;
      differ(line_.text, "");
    }
    if (lines_.failed()) r_.status = HCK_UNREADABLE;
    else if (r_.missing + r_.extra + r_.differing > 0) r_.status = HCK_DIFFERS;
    return r_;
  }

 private:
  void advance() {
    have_ = lines_.next(line_);
    if (have_) r_.checked = line_.number;
  }

  // Reports the first difference, at the current header line; `header` is
  // empty for a missing record, `fresh` for an extra line.
  void differ(std::string_view header, std::string_view fresh) {
    if (r_.first_line != 0) return;
    r_.first_line = line_.number;
    MESS_print(M_warn, "%s:%ld: header has \"%s\", data file gives \"%s\"\n", name_.c_str(),
               r_.first_line, shown(header, !header.empty() && line_.cut).c_str(),
               shown(fresh).c_str());
  }

  HeaderLines lines_;
  const std::string& name_;
  Line line_;
  bool have_ = false;
  HCK_result r_;
};

void print_summary(const std::string& hdrname, const HCK_result& r) {
  if (r.behind == 0) {
    MESS_print(M_mess, "%s: %ld records checked, %ld missing, %ld extra, %ld differing\n",
               hdrname.c_str(), r.checked, r.missing, r.extra, r.differing);
  } else {
    MESS_print(M_mess,
               "%s: %ld records checked, %ld missing, %ld extra, %ld differing, behind by %ld "
               "records\n",
               hdrname.c_str(), r.checked, r.missing, r.extra, r.differing, r.behind);
  }
}

}  // namespace

HCK_result HCK_compare(FILE* ifile, const std::string& filename, FILE* hfile,
                       const std::string& hdrname) {
  Checker checker(hfile, hdrname);
  int found = HDR_scan_records(
      ifile, [&checker](long offset, std::string_view fresh) { return checker.take(offset, fresh); });
  if (found < 0) {
    MESS_print(M_error, "Unable to read file: %s\n", filename.c_str());
    return {.status = HCK_UNREADABLE};
  }
  HCK_result r = checker.finish();
  if (r.status == HCK_UNREADABLE) {
    MESS_print(M_error, "Unable to read header file: %s\n", hdrname.c_str());
    return r;
  }
  print_summary(hdrname, r);
  return r;
}

int HCK_check_file(const FILE_named& data) {
  const std::string& filename = data.name;
  bool gap = false;
  FILE_ptr ifile(HDR_open_data(filename, &gap));
  if (!ifile) return gap ? HCK_MATCH : HCK_UNREADABLE;
  std::string hdrfilename;
  // A header named after a standard stream is never a file on disk.
  if (!HDR_header_name(data, hdrfilename) || FILE_is_stdio(hdrfilename.c_str()) ||
      !FILE_exist(hdrfilename.c_str())) {
    MESS_print(M_warn, "No header file for %s\n", filename.c_str());
    return HCK_DIFFERS;
  }
  FILE_ptr hfile(FILE_open(hdrfilename.c_str(), "r"));
  if (!hfile) {
    MESS_print(M_error, "Unable to read header file: %s\n", hdrfilename.c_str());
    return HCK_UNREADABLE;
  }
  return HCK_compare(ifile.get(), filename, hfile.get(), hdrfilename).status;
}

namespace {

// The resources of header_tool but the overwrite policy: nothing is written.
const std::vector<res_type> res_key = [] {
  std::vector<res_type> keys;
  for (const res_type* r = HDR_res_key; keys.empty() || keys.back() != RES_null; ++r)
    if (*r != RES_file_param) keys.push_back(*r);
  return keys;
}();

}  // namespace

int HCK_file_loop() {
  int status = HCK_MATCH;
  FILE_named next;
  // A file that cannot be named cannot be read either (reported there).
  while (FILE_get_next(next)) status = std::max(status, next.named ? HCK_check_file(next) : HCK_UNREADABLE);
  return status;
}

int HCK_main(int argc, char** argv) {
  HDR_start(argc, argv, res_key.data(), HDR_res_pos,
            "This program checks header files against their data files;"
            " exit status 0 all match or are only behind, 1 one differs or is missing,"
            " 2 a file could not be read",
            "HEADER FILE CHECKER");
  return HCK_file_loop();
}
