// The header generator: the work on one data file (the resume of its
// header file, then the scan), the loop over data files and the tool's
// start-up. The scanner and the resume live in header_scan.cc and
// header_resume.cc.
//
// Module state: the read settings that tests change (header_scan.cc).
// Everything else lives in the objects of one call; the header files are
// the only memory between runs.
#include "header_tool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files.h"
#include "flag.h"
#include "header_scan.h"
#include "mess.h"
#include "par_tool.h"
#include "resrc.h"
#include "string.h"
#include "system.h"

using hdr::DataSource;
using hdr::HeaderOut;
using hdr::RecordSink;

namespace {

// The result of a pass, with errno set for a failure.
int outcome(const DataSource& src, const HeaderOut& out, int records) {
  if (out.failed()) {
    errno = out.error();
    return HDR_WRITE_FAILED;
  }
  if (src.error() != 0) {
    errno = src.error();
    return HDR_READ_FAILED;
  }
  return records;
}

// Why a resume could not go on, with errno set.
int resume_failure(const DataSource& src, const HeaderOut& out, const hdr::ResumePoint& at) {
  if (out.failed()) return outcome(src, out, 0);
  if (at.unread == hdr::ResumePoint::none) return HDR_OUT_OF_LINE;
  errno = at.error != 0 ? at.error : EIO;
  return at.unread == hdr::ResumePoint::header_unread ? HDR_HEADER_UNREADABLE : HDR_READ_FAILED;
}

}  // namespace

int HDR_process(FILE* ifile, int hfd, const std::string& hdrname, int mode) {
  if (ifile == nullptr) return HDR_READ_FAILED;
  DataSource src(ifile);
  HeaderOut out(hfd, hdrname);
  HeaderOut none(-1, hdrname);
  HeaderOut* to = &out;
  long start = src.start();
  int type = HDR_START_NONE;
  if (mode == FILE_APPEND) {
    hdr::ResumePoint at = hdr::resume(src, out);
    if (!at.ok) return resume_failure(src, out, at);
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

int HDR_scan_records(FILE* ifile, const HDR_record_fn& each) {
  if (ifile == nullptr) return -1;
  DataSource src(ifile);
  RecordSink sink(each);
  hdr::scan_source(src, sink, src.first(), HDR_START_NONE);
  if (src.error() != 0) {
    errno = src.error();
    return -1;
  }
  return sink.count();
}

void HDR_set_block(size_t bytes) { hdr::settings().block = std::max<size_t>(bytes, 512); }

void HDR_set_read_hook(std::function<void(long position)> hook) {
  hdr::settings().before_read = std::move(hook);
}

void HDR_set_io(HDR_io io) { hdr::settings().io = std::move(io); }

void HDR_reset() { hdr::settings() = hdr::ScanSettings(); }

// ---- File loop and start-up ------------------------------------------------

const res_type HDR_res_key[] = {
    RES_help,       RES_batch,     RES_message,    RES_file_path, RES_data_path,
    RES_con_path,   RES_grid_path, RES_raw_path,   RES_image_path, RES_watch_path,
    RES_text_path,  RES_model_path, RES_sat_path,  RES_name_conv, RES_in_file,
    RES_out_file,   RES_file_param, RES_current,   RES_hour,      RES_num_hour,
    RES_identifier, RES_output,    RES_parameter,  RES_null};
const res_type HDR_res_pos[] = {RES_filenames, RES_null};

namespace {

// True when both names lead to the same existing file, or are the same text.
// A leading '~' is expanded as opening the file does.
bool same_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  std::string pa, pb;
  FILE_add_user_path(a.c_str(), pa);
  FILE_add_user_path(b.c_str(), pb);
  struct stat sa {}, sb {};
  return stat(pa.c_str(), &sa) == 0 && stat(pb.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// False for a data file name that leads to nothing: a gap in a series.
bool data_exists(const std::string& filename) {
  const char* name = filename.c_str();
  return FILE_is_stdio(name) || name[0] == '|' || FILE_exist(name);
}

}  // namespace

FILE* HDR_open_data(const std::string& filename, bool* missing, M_type level) {
  const char* name = filename.c_str();
  if (missing != nullptr && !data_exists(filename)) {
    *missing = true;
    MESS_print(level, "No data file %s\n", name);
    return nullptr;
  }
  // A directory opens for reading but yields nothing: not a data file.
  FILE* ifile = FILE_is_dir(name) ? nullptr : FILE_open(name, "r");
  if (ifile == nullptr) MESS_print(M_error, "Unable to open file: %s\n", name);
  return ifile;
}

bool HDR_header_name(const FILE_named& data, std::string& hdrfilename, const char* outcome) {
  hdrfilename.clear();
  const std::string& filename = data.name;
  const Date& datim = data.date;
  if (FILE_is_stdio(filename.c_str())) return false;  // data from standard input
  FILE_state_view conv = FILE_state();
  const char* name = filename.c_str();
  if (!conv.conv_missing.empty()) {
    MESS_print(M_warn, "No file name convention file %s, %s: %s\n", conv.conv_missing.c_str(),
               outcome, name);
    return false;
  }
  if (conv.conv.empty() || conv.hconv.empty()) {
    MESS_print(M_warn, "No header file template for type %s, %s: %s\n", conv.type.c_str(), outcome,
               name);
    return false;
  }
  if (datim.year == NO_VALUE && !data.fits) {
    MESS_print(M_warn, "Data file name does not fit template %s, %s: %s\n", conv.conv.c_str(),
               outcome, name);
    return false;
  }
  if (datim.year == NO_VALUE) {
    MESS_print(M_warn, "No date in data file name, %s: %s\n", outcome, name);
    return false;
  }
  Date copy = datim;
  FILE_hdr_set_date(&copy, hdrfilename);
  if (!FILE_is_stdio(hdrfilename.c_str()) && same_file(hdrfilename, filename)) {
    MESS_print(M_warn, "Header file would overwrite data file: %s\n", filename.c_str());
    return false;
  }
  return true;
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

// Opens the header file as its mode says, under an exclusive lock that it
// holds until closed. Ends the process when a new header file cannot be
// created; returns false when an existing one cannot be appended to.
bool open_header(HeaderFile& h) {
  const char* name = h.name.c_str();
  if (h.mode == FILE_NEW) {
    MESS_print(M_mess, "Writing to header file: %s\n", name);
    if (FILE_is_stdio(name)) return true;  // the records go to the messages only
    if (name[0] == '|') h.command.reset(FILE_open(name, "w"));
    else h.fd = FILE_fd(FILE_open_exclusive(name, FILE_NEW));
    if (h.descriptor() >= 0 || left_as_link(h)) return true;
    MESS_print(M_warn, "Unable to write to header file: %s (%s)\n", name, creation_failure(name).c_str());
    KIV_exit(EXIT_HEADER_UNWRITABLE);
  }
  if (h.mode != FILE_APPEND) return true;
  MESS_print(M_mess, "Appending to header file: %s\n", name);
  h.fd = FILE_fd(FILE_open_exclusive(name, FILE_APPEND));
  if (h.fd.get() >= 0 || left_as_link(h)) return true;
  MESS_print(M_warn, "Unable to append to header file: %s (%s)\n", name, std::strerror(errno));
  return false;
}

// Closes the header file; false (errno set) when the close failed.
bool close_header(HeaderFile& h) {
  if (h.command) return FILE_close(h.command.release()) != -1;
  return h.fd.get() < 0 || FILE_close_fd(h.fd.release(), hdr::close_fd) == 0;
}

// Says what was done with the header file of a data file whose records
// were found (`rc` of HDR_process, at least 0).
void report_done(const HeaderFile& h, int rc) {
  if (h.mode == FILE_NEW || h.mode == FILE_APPEND)
    MESS_print(M_mess, "%s: %ld records added\n", h.name.c_str(), static_cast<long>(rc));
  else if (!h.name.empty() && h.mode == FILE_KEEP && FILE_exist(h.name.c_str()))
    MESS_print(M_mess, "Header file exists, left alone: %s\n", h.name.c_str());
}

// Indexes one data file. Returns 0, or EXIT_HEADER_UNWRITABLE when its
// existing header file could not be opened or read back (the loop goes
// on); ends the process when a header file could not be written.
int index_file(const FILE_named& data) {
  if (!data.named) return 0;  // reported where the name was wanted
  const std::string& filename = data.name;
  FILE_ptr ifile(HDR_open_data(filename));
  if (!ifile) return 0;
  HeaderFile h;
  if (HDR_header_name(data, h.name)) h.mode = FILE_overwrite(h.name.c_str(), FILE_ASK_APPEND);
  if (!open_header(h)) return EXIT_HEADER_UNWRITABLE;
  int rc = HDR_process(ifile.get(), h.descriptor(), h.name, h.mode);
  int err = errno;
  if (rc == HDR_READ_FAILED)
    MESS_print(M_error, "Unable to read file: %s (%s)\n", filename.c_str(), std::strerror(err));
  if (rc == HDR_HEADER_UNREADABLE)
    MESS_print(M_error, "Unable to read header file: %s (%s)\n", h.name.c_str(), std::strerror(err));
  if (rc != HDR_WRITE_FAILED && close_header(h)) {
    if (rc >= 0) report_done(h, rc);
    return rc == HDR_HEADER_UNREADABLE ? EXIT_HEADER_UNWRITABLE : 0;
  }
  if (rc != HDR_WRITE_FAILED) err = errno;
  MESS_print(M_error, "Unable to write to header file: %s (%s)\n", h.name.c_str(), std::strerror(err));
  KIV_exit(EXIT_HEADER_UNWRITABLE);
}

// Says that the sequence that began at `first` found no data file: where
// it looked, unless no name could be built (reported already).
int no_data_file(const FILE_named& first) {
  if (first.named) {
    size_t slash = first.name.rfind('/');
    std::string dir = slash == std::string::npos ? "." : first.name.substr(0, std::max<size_t>(slash, 1));
    MESS_print(M_warn, "No data file found in %s for template %s\n", dir.c_str(), FILE_state().conv.c_str());
  }
  return EXIT_NO_DATA_FILE;
}

}  // namespace

int HDR_file_loop(const FILE_named& first) {
  int status = 0;
  bool any = false;
  FILE_named next;
  while (FILE_get_next(next)) {
    any = any || (next.named && data_exists(next.name));
    status = std::max(status, index_file(next));
  }
  // A gap in a series is normal; a run that finds nothing at all is not.
  if (!any || !first.found) status = std::max(status, no_data_file(first));
  return status;
}

void HDR_start_settings(int argc, char** argv, const res_type* res_key, const res_type* res_pos,
                        const char* description, const char* title,
                        const std::vector<RES_help_line>& own_help) {
  KIV_fill_std_streams();
  RES_init(argc, argv, res_key, res_pos);
  if (RES_version_asked()) {
    MESS_print(M_print, "%s %s\n", RES_get_progname().c_str(), KIV_version_number());
    KIV_exit(0);
  }
  if (FLAG_help()) {
    std::string program = RES_get_progname();
    MESS_print(M_print, "%s: %s\n", program.c_str(), description);
    RES_help_print(program.c_str(), res_key, res_pos, own_help);
    KIV_exit(0);
  }
  MESS_print_prog(title);
}

FILE_named HDR_start(int argc, char** argv, const res_type* res_key, const res_type* res_pos,
                     const char* description, const char* title) {
  HDR_start_settings(argc, argv, res_key, res_pos, description, title);
  PAR_in_file("raw");
  FILE_named first;
  FILE_get_file_only("Enter the filename: ", first);
  FILE_reset_time();
  FILE_first(first);
  return first;
}

int HDR_main(int argc, char** argv) {
  FILE_named first = HDR_start(argc, argv, HDR_res_key, HDR_res_pos,
                               "This program parses input data files and creates header files",
                               "HEADER DATA FILE GENERATOR");
  return HDR_file_loop(first);
}
