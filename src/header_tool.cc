// The header generator: the work on one data file (the resume of its
// header file, then the scan) on the programs' shell. The scanner is in
// header_scan.cc, the writing of header files in header_write.cc and the
// resume in header_resume.cc.
//
// Module state: none. The header files are the only memory between runs.
#include "header_tool.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "files.h"
#include "header_write.h"
#include "io.h"
#include "mess.h"
#include "prog.h"

using hdr::DataSource;
using hdr::HeaderOut;
using hdr::RecordSink;

namespace {

// The outcome of a pass that found `records`.
Outcome outcome(const DataSource& src, const HeaderOut& out, long records) {
  if (out.failed()) return Outcome::failed(HDR_WRITE_FAILED, out.error());
  if (src.error() != 0) return Outcome::failed(HDR_READ_FAILED, src.error());
  return Outcome::done(records);
}

}  // namespace

Outcome HDR_process(FILE* ifile, int hfd, const std::string& hdrname, int mode) {
  if (ifile == nullptr) return Outcome::failed(HDR_READ_FAILED, EBADF);
  hdr::FileBytes bytes(ifile);
  DataSource src(bytes);
  HeaderOut out(hfd, hdrname);
  HeaderOut none(-1, hdrname);
  HeaderOut* to = &out;
  long start = src.start();
  int type = SCAN_START_NONE;
  if (mode == FILE_APPEND) {
    hdr::ResumePoint at = hdr::resume(src, out);
    if (!at.failure.ok()) return at.failure;
    if (at.keep) to = &none;
    start = at.start;
    type = at.type;
  }
  MESS_print(M_mess, "Processing products...\n");
  RecordSink sink(*to, start);
  hdr::scan_source(src, sink, start, type);
  sink.flush();
  return outcome(src, out, to == &none ? 0 : sink.count());
}

namespace {

// The header file as the loop holds it: a locked descriptor, a command's
// stream for a '|' name, or nothing (mode 3, or a standard stream).
struct HeaderFile {
  std::string name;
  int mode = FILE_KEEP;
  FILE_fd fd;
  FILE_ptr command;
  int descriptor() const { return command ? fileno(command.get()) : fd.get(); }
};

bool is_link(const std::string& name) {
  std::string path;
  FILE_add_user_path(name.c_str(), path);
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// After a failed open: a symbolic link at the header's name is never
// written through; the data file is then indexed as in mode 3.
bool left_as_link(HeaderFile& h) {
  if (errno != ELOOP || !is_link(h.name)) return false;
  MESS_print(M_warn, "Header file is a symbolic link, not written: %s\n", h.name.c_str());
  h.mode = FILE_KEEP;
  return true;
}

// Why the new header file `name` could not be made, errno being the
// failure: the system's reason, or the directory above it that cannot be
// made and why.
std::string creation_failure(const char* name) {
  int err = errno;
  std::string dir = name[0] == '|' ? std::string() : FILE_unmade_dir(name);
  if (dir.empty()) return std::strerror(err);
  return "cannot make directory " + dir + ": " + std::strerror(errno);
}

// What ends the run: a header file that cannot be created or written.
constexpr PROG_done kUnwritable = {EXIT_HEADER_UNWRITABLE, true};

// Opens the header file as its mode says, under an exclusive lock that it
// holds until closed. Returns 0; kUnwritable when a new header file cannot
// be created; EXIT_HEADER_UNWRITABLE when an existing one cannot be
// appended to.
PROG_done open_header(HeaderFile& h) {
  const char* name = h.name.c_str();
  if (h.mode == FILE_NEW) {
    MESS_print(M_mess, "Writing to header file: %s\n", name);
    if (FILE_is_stdio(name)) return {};  // the records go to the messages only
    if (name[0] == '|') h.command.reset(FILE_open(name, "w"));
    else h.fd = FILE_fd(FILE_open_exclusive(name, FILE_NEW));
    if (h.descriptor() >= 0 || left_as_link(h)) return {};
    MESS_print(M_warn, "Unable to write to header file: %s (%s)\n", name, creation_failure(name).c_str());
    return kUnwritable;
  }
  if (h.mode != FILE_APPEND) return {};
  MESS_print(M_mess, "Appending to header file: %s\n", name);
  h.fd = FILE_fd(FILE_open_exclusive(name, FILE_APPEND));
  if (h.fd.get() >= 0 || left_as_link(h)) return {};
  MESS_print(M_warn, "Unable to append to header file: %s (%s)\n", name, std::strerror(errno));
  return {EXIT_HEADER_UNWRITABLE};
}

// Closes the header file; 0, or the errno of a failed close.
int close_header(HeaderFile& h) {
  if (h.command) return FILE_close(h.command.release()) != -1 ? 0 : errno;
  if (h.fd.get() < 0 || FILE_close_fd(h.fd.release(), IO_close) == 0) return 0;
  return errno != 0 ? errno : EIO;
}

// Says what was done with the header file of a data file whose records
// were found (`added` of them).
void report_done(const HeaderFile& h, long added) {
  if (h.mode == FILE_NEW || h.mode == FILE_APPEND)
    MESS_print(M_mess, "%s: %ld records added\n", h.name.c_str(), added);
  else if (!h.name.empty() && h.mode == FILE_KEEP && FILE_exist(h.name.c_str()))
    MESS_print(M_mess, "Header file exists, left alone: %s\n", h.name.c_str());
}

const PROG_header_use kHeaderUse = {true, "no header file written"};

// Indexes one data file: see HDR_main.
PROG_done index_file(const FILE_named& data) {
  if (!data.named) return {};  // reported where the name was wanted
  FILE_ptr ifile;
  if (PROG_open_data(data.name, ifile, {M_none, false}) != PROG_opened::open) return {};
  HeaderFile h;
  if (PROG_header_name(data, h.name, kHeaderUse)) h.mode = FILE_overwrite(h.name.c_str(), FILE_ASK_APPEND);
  PROG_done opened = open_header(h);
  if (opened.status != 0) return opened;
  Outcome rc = HDR_process(ifile.get(), h.descriptor(), h.name, h.mode);
  if (rc.code == HDR_READ_FAILED)
    MESS_print(M_error, "Unable to read file: %s (%s)\n", data.name.c_str(), rc.reason());
  if (rc.code == HDR_HEADER_UNREADABLE)
    MESS_print(M_error, "Unable to read header file: %s (%s)\n", h.name.c_str(), rc.reason());
  int unclosed = rc.code == HDR_WRITE_FAILED ? rc.error : close_header(h);
  if (unclosed != 0) {
    MESS_print(M_error, "Unable to write to header file: %s (%s)\n", h.name.c_str(),
               std::strerror(unclosed));
    return kUnwritable;
  }
  if (rc.ok()) report_done(h, rc.count);
  return {rc.code == HDR_HEADER_UNREADABLE ? EXIT_HEADER_UNWRITABLE : 0};
}

const PROG_program kProgram = {
    "HEADER DATA FILE GENERATOR", "This program parses input data files and creates header files",
    PROG_keys({}), {}};

}  // namespace

int HDR_main(int argc, char** argv) {
  FILE_named first = PROG_start(argc, argv, kProgram);
  return PROG_file_loop(first, index_file, {{0, EXIT_NO_DATA_FILE, EXIT_HEADER_UNWRITABLE}, true});
}
