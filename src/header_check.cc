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
#include "header_records.h"
#include "mess.h"
#include "prog.h"
#include "scan.h"

namespace {

constexpr long kBlock = 64 * 1024;  // header bytes read at a time
// Header bytes kept of one line: far more than any record (offset, 80
// characters of heading, 20 of identification), so a longer line can
// never match and only its beginning is worth showing.
constexpr size_t kKeep = 512;

// One line of the header file.
struct Line {
  std::string_view text;  // at most kKeep bytes, without the line feed
  bool cut = false;       // the line was longer than `text`
  long number = 0;        // 1 for the first line
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
  Checker(int hfd, const std::string& name) : lines_(hfd, -1, kBlock), name_(name) { advance(); }

  // Takes the next fresh record; false when the header can no longer be
  // read, which ends the scan.
  bool take(long offset, std::string_view fresh) {
    for (;;) {
      if (!lines_.outcome().ok()) return false;
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
    if (!lines_.outcome().ok()) r_.status = HCK_UNREADABLE;
    else if (r_.missing + r_.extra + r_.differing > 0) r_.status = HCK_DIFFERS;
    return r_;
  }
  // Why the header file could not be read.
  const Outcome& outcome() const { return lines_.outcome(); }

 private:
  void advance() {
    hdr::HeaderLine line;
    have_ = lines_.next_line(line);
    if (!have_) return;
    line_.text = line.text.substr(0, kKeep);
    line_.cut = line.cut || line.text.size() > kKeep;
    r_.checked = line_.number = r_.checked + 1;
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

  hdr::HeaderReader lines_;
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

HCK_result HCK_compare(FILE* ifile, const std::string& filename, int hfd, const std::string& hdrname) {
  Checker checker(hfd, hdrname);
  Outcome found =
      SCAN_records(ifile, [&checker](long offset, std::string_view fresh) { return checker.take(offset, fresh); });
  if (!found.ok()) {
    MESS_print(M_error, "Unable to read file: %s (%s)\n", filename.c_str(), found.reason());
    return {.status = HCK_UNREADABLE};
  }
  HCK_result r = checker.finish();
  if (r.status == HCK_UNREADABLE) {
    MESS_print(M_error, "Unable to read header file: %s (%s)\n", hdrname.c_str(), checker.outcome().reason());
    return r;
  }
  print_summary(hdrname, r);
  return r;
}

namespace {

const PROG_header_use kHeaderUse = {false, "no header file to check"};

// Opens the header file of `data` into `hfd`, named `hdrname`; the status
// when there is none to compare with.
int open_header(const FILE_named& data, std::string& hdrname, FILE_fd& hfd) {
  Outcome why;
  if (PROG_header_name(data, hdrname, kHeaderUse)) hfd = PROG_open_header(hdrname, why);
  if (hfd.get() >= 0) return HCK_MATCH;
  if (hdrname.empty() || why.error == ENOENT) {
    MESS_print(M_warn, "No header file for %s\n", data.name.c_str());
    return HCK_DIFFERS;
  }
  MESS_print(M_error, "Unable to read header file: %s (%s)\n", hdrname.c_str(), why.reason());
  return HCK_UNREADABLE;
}

}  // namespace

int HCK_check_file(const FILE_named& data) {
  // A file that cannot be named cannot be read either (reported there).
  if (!data.named) return HCK_UNREADABLE;
  FILE_ptr ifile;
  PROG_opened opened = PROG_open_data(data.name, ifile, {M_mess});
  if (opened != PROG_opened::open) return opened == PROG_opened::missing ? HCK_MATCH : HCK_UNREADABLE;
  std::string hdrname;
  FILE_fd hfd;
  int status = open_header(data, hdrname, hfd);
  if (hfd.get() < 0) return status;
  return HCK_compare(ifile.get(), data.name, hfd.get(), hdrname).status;
}

namespace {

// The resources of header_tool but the overwrite policy: nothing is written.
const PROG_program kProgram = {
    "HEADER FILE CHECKER",
    "This program checks header files against their data files;"
    " exit status 0 all match or are only behind, 1 one differs or is missing,"
    " 2 a file could not be read",
    PROG_keys({RES_file_param}), {}};

}  // namespace

int HCK_main(int argc, char** argv) {
  FILE_named first = PROG_start(argc, argv, kProgram);
  return PROG_file_loop(first, [](const FILE_named& data) { return PROG_done{HCK_check_file(data)}; },
                        {{HCK_MATCH, HCK_DIFFERS, HCK_UNREADABLE}});
}
