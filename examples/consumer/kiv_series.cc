// kiv_series: lists the data files a header_tool run with the same options
// would take (one file, or the series -nh gives) and the header file of
// each, when it has one. For example the last six hours of a feed:
//   kiv_series -ba -nh -6 -fp /srv/kiv/feed/etc -rp /srv/kiv/feed/raw -cp /srv/kiv/feed/hdr
#include <string>

#include <kiv/files.h>
#include <kiv/flag.h>
#include <kiv/mess.h>
#include <kiv/par_tool.h>
#include <kiv/resrc.h>
#include <kiv/system.h>

namespace {

// The settings this program takes, as options, environment variables
// (kivraw, ...) or resource-file lines (kiv_series.raw_path ...).
const res_type keyed[] = {RES_help,      RES_batch,   RES_message,  RES_file_path,
                          RES_raw_path,  RES_con_path, RES_name_conv, RES_in_file,
                          RES_current,   RES_hour,    RES_num_hour, RES_null};
const res_type positional[] = {RES_filenames, RES_null};

}  // namespace

int main(int argc, char** argv) {
  KIV_fill_std_streams();
  RES_init(argc, argv, keyed, positional);
  if (FLAG_help()) {
    RES_help_print(RES_get_progname().c_str(), keyed, positional);
    return 0;
  }
  PAR_in_file("raw");  // the convention of the type raw, or the in_file types
  std::string name;
  FILE_get_file_only("Enter the filename: ", &name);
  Date date;
  FILE_get_date(&date);
  FILE_reset_time();
  FILE_first(date);
  int files = 0, indexed = 0;
  while (FILE_get_next(name)) {
    FILE_get_date(&date);
    std::string header;
    bool has_header = FILE_hdr_set_date(&date, header) == 1 && FILE_exist(header.c_str());
    ++files;
    indexed += has_header;
    if (!FILE_exist(name.c_str()))
      MESS_print(M_print, "%s: no data file\n", name.c_str());
    else if (has_header)
      MESS_print(M_print, "%s: header file %s\n", name.c_str(), header.c_str());
    else
      MESS_print(M_print, "%s: no header file\n", name.c_str());
  }
  MESS_print(M_print, "%d data files, %d with header files\n", files, indexed);
  return 0;
}
