// The programs' shell. Module state: none.
#include "prog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "flag.h"
#include "http.h"
#include "io.h"
#include "mess.h"
#include "par_tool.h"
#include "system.h"

// ---- Start-up ----------------------------------------------------------------

const res_type PROG_base_keys[] = {
    RES_help,       RES_batch,     RES_message,    RES_file_path, RES_data_path,
    RES_con_path,   RES_grid_path, RES_raw_path,   RES_image_path, RES_watch_path,
    RES_text_path,  RES_model_path, RES_sat_path,  RES_name_conv, RES_in_file,
    RES_out_file,   RES_file_param, RES_current,   RES_hour,      RES_num_hour,
    RES_identifier, RES_output,    RES_parameter,  RES_null};
const res_type PROG_positional[] = {RES_filenames, RES_null};

std::vector<res_type> PROG_keys(std::initializer_list<res_type> removed,
                                std::initializer_list<PROG_added> added) {
  std::vector<res_type> keys;
  for (const res_type* r = PROG_base_keys; *r != RES_null; ++r) {
    if (std::find(removed.begin(), removed.end(), *r) == removed.end()) keys.push_back(*r);
    for (const PROG_added& a : added)
      if (a.after == *r) keys.push_back(a.key);
  }
  keys.push_back(RES_null);
  return keys;
}

void PROG_start_settings(int argc, char** argv, const PROG_program& program) {
  KIV_fill_std_streams();
  RES_init(argc, argv, program.keys.data(), PROG_positional);
  if (RES_version_asked()) {
    MESS_print(M_print, "%s %s\n", RES_get_progname().c_str(), KIV_version_number());
    KIV_exit(0);
  }
  if (FLAG_help()) {
    std::string name = RES_get_progname();
    MESS_print(M_print, "%s: %s\n", name.c_str(), program.description);
    RES_help_print(name.c_str(), program.keys.data(), PROG_positional, program.help);
    KIV_exit(0);
  }
  MESS_print_prog(program.title);
}

namespace {

// Sends standard output to standard error while it lives, when it can.
class StdoutOnStderr {
 public:
  StdoutOnStderr() {
    // Bytes still held for standard output must not reach the user instead.
    if (std::fflush(stdout) != 0) return;
    saved_ = FILE_fd(dup(STDOUT_FILENO));
    if (saved_.get() >= 0 && dup2(STDERR_FILENO, STDOUT_FILENO) < 0) saved_ = FILE_fd();
  }
  ~StdoutOnStderr() {
    // A dialogue line the terminal did not take is no failure of the
    // products written later: their writes are checked on their own.
    if (std::fflush(stdout) != 0) std::clearerr(stdout);
    if (saved_.get() >= 0) dup2(saved_.get(), STDOUT_FILENO);
  }
  StdoutOnStderr(const StdoutOnStderr&) = delete;
  StdoutOnStderr& operator=(const StdoutOnStderr&) = delete;
  bool ok() const { return saved_.get() >= 0; }

 private:
  FILE_fd saved_;
};

// Asks for the first data file on standard error, and only at a terminal.
bool ask_at_terminal(FILE_named& first) {
  StdoutOnStderr to_user;
  if (!isatty(STDIN_FILENO) || !to_user.ok()) {
    MESS_print(M_error, "No data file named and no terminal to ask: name one, or give -ba for the latest\n");
    return false;
  }
  FILE_get_file_only("Enter the filename: ", first);
  return true;
}

}  // namespace

bool PROG_start_files(FILE_named& first, PROG_dialogue dialogue) {
  if (dialogue == PROG_dialogue::standard_output || !FILE_first_is_asked())
    FILE_get_file_only("Enter the filename: ", first);
  else if (!ask_at_terminal(first))
    return false;
  FILE_reset_time();
  FILE_first(first);
  return true;
}

FILE_named PROG_start(int argc, char** argv, const PROG_program& program) {
  PROG_start_settings(argc, argv, program);
  PAR_in_file("raw");
  FILE_named first;
  PROG_start_files(first, PROG_dialogue::standard_output);
  return first;
}

// ---- Data and header files ---------------------------------------------------

namespace {

// Whether the data file `name` leads to something; false for a name that
// leads to nothing (a gap in a series). `err` is set when the look itself
// failed, which says nothing about the file.
bool data_exists(const std::string& name, int& err) {
  err = 0;
  if (FILE_is_stdio(name.c_str()) || name[0] == '|') return true;
  std::string path;
  FILE_add_user_path(name.c_str(), path);
  struct stat st {};
  if (IO_stat(path.c_str(), &st) == 0) return true;
  if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG || errno == ELOOP) return false;
  err = errno != 0 ? errno : EIO;
  return true;
}

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

}  // namespace

PROG_opened PROG_open_data(const std::string& name, FILE_ptr& file, const PROG_data_words& words) {
  const char* n = name.c_str();
  if (HTTP_is_url(name)) {  // never taken for a missing local file
    MESS_print(M_error, "Unable to open file: %s (remote files are read by product_get only)\n", n);
    return PROG_opened::failed;
  }
  int err = 0;
  if (words.missing != M_none && !data_exists(name, err)) {
    MESS_print(words.missing, "No data file %s\n", n);
    return PROG_opened::missing;
  }
  if (err != 0) {
    MESS_print(M_error, "Unable to read file: %s (%s)\n", n, std::strerror(err));
    return PROG_opened::failed;
  }
  // A directory opens for reading but yields nothing: not a data file.
  if (FILE_is_dir(n)) err = EISDIR;
  else file.reset(FILE_open(n, "r"));
  if (file) return PROG_opened::open;
  if (err == 0) err = errno != 0 ? errno : EIO;
  if (words.reason) MESS_print(M_error, "Unable to open file: %s (%s)\n", n, std::strerror(err));
  else MESS_print(M_error, "Unable to open file: %s\n", n);
  return PROG_opened::failed;
}

bool PROG_header_name(const FILE_named& data, std::string& hdrname, const PROG_header_use& use) {
  hdrname.clear();
  const char* name = data.name.c_str();
  if (FILE_is_stdio(name)) return false;  // data from standard input
  FILE_state_view conv = FILE_state();
  if (!conv.conv_missing.empty()) {
    MESS_print(use.level, "No file name convention file %s, %s: %s\n", conv.conv_missing.c_str(),
               use.outcome, name);
    return false;
  }
  if (conv.conv.empty() || conv.hconv.empty()) {
    MESS_print(use.level, "No header file template for type %s, %s: %s\n", conv.type.c_str(),
               use.outcome, name);
    return false;
  }
  if (data.date.year == NO_VALUE && !data.fits) {
    MESS_print(use.level, "Data file name does not fit template %s, %s: %s\n", conv.conv.c_str(),
               use.outcome, name);
    return false;
  }
  if (data.date.year == NO_VALUE) {
    MESS_print(use.level, "No date in data file name, %s: %s\n", use.outcome, name);
    return false;
  }
  Date date = data.date;
  FILE_hdr_set_date(&date, hdrname);
  bool stream = FILE_is_stdio(hdrname.c_str()) || hdrname[0] == '|';
  if (stream && !use.writes) {  // never a file on disk to read
    hdrname.clear();
    return false;
  }
  if (!stream && same_file(hdrname, data.name)) {
    if (use.writes) MESS_print(use.level, "Header file would overwrite data file: %s\n", name);
    else MESS_print(use.level, "Header file is the data file itself, %s: %s\n", use.outcome, name);
    hdrname.clear();
    return false;
  }
  return true;
}

FILE_fd PROG_open_header(const std::string& name, Outcome& why) {
  std::string path;
  FILE_add_user_path(name.c_str(), path);
  int raw;
  while ((raw = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)) < 0 && errno == EINTR) {
  }
  FILE_fd fd(raw);
  struct stat st {};
  constexpr int kUnopened = 1;
  if (fd.get() < 0 || IO_fstat(fd.get(), &st) != 0) why = Outcome::failed(kUnopened, errno);
  else if (S_ISDIR(st.st_mode)) why = Outcome::failed(kUnopened, EISDIR);
  else if (!S_ISREG(st.st_mode)) why = Outcome::refused(kUnopened, "Not a regular file");
  else return fd;
  return FILE_fd();
}

// ---- The loop over data files ------------------------------------------------

namespace {

// The rank of `status` among the program's statuses.
size_t rank(const PROG_statuses& statuses, int status) {
  auto at = std::find(statuses.rising.begin(), statuses.rising.end(), status);
  return at == statuses.rising.end() ? statuses.rising.size() : at - statuses.rising.begin();
}

// The higher of two statuses.
int higher(const PROG_statuses& statuses, int a, int b) { return rank(statuses, b) > rank(statuses, a) ? b : a; }

// Says that the sequence that began at `first` found no data file: where
// it looked, unless no name could be built (reported already).
void say_none_found(const FILE_named& first) {
  if (!first.named) return;
  size_t slash = first.name.rfind('/');
  std::string dir = slash == std::string::npos ? "." : first.name.substr(0, std::max<size_t>(slash, 1));
  MESS_print(M_warn, "No data file found in %s for template %s\n", dir.c_str(), FILE_state().conv.c_str());
}

}  // namespace

int PROG_file_loop(const FILE_named& first, const PROG_work& work, const PROG_statuses& statuses,
                   PROG_order order) {
  int status = statuses.rising.front();
  bool any = false;
  std::vector<FILE_named> names;
  if (order == PROG_order::newest_first)
    for (FILE_named named; FILE_get_next(named);) names.push_back(named);
  FILE_named next;
  while (order == PROG_order::sequence ? FILE_get_next(next) != 0 : !names.empty()) {
    if (order == PROG_order::newest_first) {
      next = std::move(names.back());
      names.pop_back();
    }
    int err = 0;
    if (statuses.none_found_fails) any = any || (next.named && data_exists(next.name, err));
    PROG_done done = work(next);
    status = higher(statuses, status, done.status);
    if (done.stop) return status;
  }
  // A gap in a series is normal; a run that finds nothing at all is not.
  if (statuses.none_found_fails && (!any || !first.found)) {
    say_none_found(first);
    status = higher(statuses, status, EXIT_NO_DATA_FILE);
  }
  return status;
}
