// kiv_products: lists the products of the data files that a header_tool
// run with the same options would take, as product_get finds them through
// their header files: the data file, the first and last byte, the heading
// and the second line of each. -pr and -id choose products as in
// product_get. For example the METAR collectives of the latest file:
//   kiv_products -ba -fp /srv/kiv/feed/etc -rp /srv/kiv/feed/raw -cp /srv/kiv/feed/hdr -id '^METAR'
#include <kiv/files.h>
#include <kiv/flag.h>
#include <kiv/mess.h>
#include <kiv/par_tool.h>
#include <kiv/pattern.h>
#include <kiv/product_list.h>
#include <kiv/resrc.h>
#include <kiv/system.h>

namespace {

// The settings this program takes, as options, environment variables
// (kivraw, ...) or resource-file lines (kiv_products.raw_path ...).
const res_type keyed[] = {RES_help,     RES_batch,      RES_message,    RES_file_path, RES_raw_path,
                          RES_con_path, RES_name_conv,  RES_in_file,    RES_current,   RES_hour,
                          RES_num_hour, RES_product,    RES_identifier, RES_null};
const res_type positional[] = {RES_filenames, RES_null};

}  // namespace

int main(int argc, char** argv) {
  KIV_fill_std_streams();
  RES_init(argc, argv, keyed, positional);
  if (FLAG_help()) {
    RES_help_print(RES_get_progname().c_str(), keyed, positional);
    return 0;
  }
  PAT_chooser patterns;
  if (!patterns.set(RES_get("product"), RES_get("identifier"))) return 2;
  PAR_in_file_only("raw");  // the convention of the type raw, or the in_file type
  FILE_named first;
  FILE_get_file_only("Enter the filename: ", first);
  FILE_first(first);
  int status = 0;
  for (FILE_named data; FILE_get_next(data);) {
    Outcome listed = PL_products(data, {&patterns}, [&data](const PL_product& p, PL_text&) {
      MESS_print(M_print, "%s %ld-%ld %s / %s\n", data.name.c_str(), p.first, p.last, p.heading.c_str(),
                 p.id.c_str());
      return true;
    });
    if (listed.code == PL_UNREADABLE) status = 2;
  }
  return status;
}
