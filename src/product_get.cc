// The product getter. A header file says where each product of its data
// file starts; product_get picks records by patterns on their heading and
// second line, checks every record it uses against the data file, and
// writes the products' bytes, their records or their byte ranges. The
// products are found and checked in product_find.cc and written in
// product_write.cc; here the two are joined for each data file, and the
// program stands on the programs' shell.
//
// The header file is read in large blocks. With a pattern, the blocks are
// searched for a text that every match contains, as grep does, so most
// lines are never taken apart; a line is split and its patterns run only
// where that text stands.
//
// Module state: none.
#include "product_get.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "files.h"
#include "mess.h"
#include "par_tool.h"
#include "product_remote.h"
#include "product_write.h"
#include "resrc.h"
#include "string.h"

namespace {

void say_output_failed(const std::string& name, int err) {
  MESS_print(M_error, "Unable to write output file: %s (%s)\n", name.c_str(), std::strerror(err));
}

const PROG_header_use kHeaderUse = {false, "scanning the data file"};

// Opens the header file of `data` for reading (a remote one through the
// cache of `remote`), named in `hdrname`; none, said, when there is none to
// use, as for data that cannot be read again (`seekable` false) to check
// records against.
FILE_fd open_header(const FILE_named& data, bool seekable, pg::Remote& remote, std::string& hdrname) {
  pg::HeaderOpened h;
  h.missing = !PROG_header_name(data, hdrname, kHeaderUse) || !seekable;
  if (!h.missing) h = pg::open_header_file(remote, hdrname);
  if (h.fd.get() < 0) pg::say_header_unused(data, hdrname, h);
  return std::move(h.fd);
}

// The run's remote state, or one of this call's own in `own`.
pg::Remote& remote_of(const PG_options& options, std::unique_ptr<pg::Remote>& own) {
  if (options.remote != nullptr) return *options.remote;
  own = std::make_unique<pg::Remote>(HTTP_options(), HTTP_default_cache_dir());
  return *own;
}

}  // namespace

bool PG_set_output(const char* word, PG_output& output) {
  static const std::pair<const char*, PG_output> words[] = {
      {"text", PG_output::text}, {"list", PG_output::list}, {"ranges", PG_output::ranges}};
  if (word == nullptr) word = "text";
  for (const auto& [name, kind] : words) {
    if (stricmp(word, name) == 0) {
      output = kind;
      return true;
    }
  }
  MESS_print(M_error, "Unknown output type %s: not text, list or ranges\n", word);
  return false;
}

PROG_done PG_get_file(const FILE_named& data, const PG_options& options) {
  // A file that cannot be named cannot be read either (reported there).
  if (!data.named) return {PG_ERROR};
  std::unique_ptr<pg::Remote> own;
  if (HTTP_is_url(data.name)) return pg::get_remote_file(remote_of(options, own), data, options);
  // A series passes over the hours the feed sent nothing; a file asked
  // for by name is missed as grep misses it.
  FILE_ptr ifile;
  PROG_opened opened = PROG_open_data(data.name, ifile, {data.in_series ? M_mess : M_warn});
  if (opened != PROG_opened::open) return {opened == PROG_opened::missing && data.in_series ? PG_NONE : PG_ERROR};
  hdr::FileBytes bytes(ifile.get());
  std::string hdrname;
  FILE_fd hfd = open_header(data, bytes.seekable(), remote_of(options, own), hdrname);
  // Text is copied in large reads; records alone are read here and there.
  long block = pg::data_block(options.output, hfd.get() >= 0);
  hdr::DataSource src(bytes, block);
  pg::Writer writer(src, block, options.output, options.out, data.name);
  const pg::FindOptions find{options.patterns, options.output == PG_output::text && !options.patterns.any()};
  int chosen = pg::find_products(src, block, writer, hfd.get(), hdrname, find, data.name);
  writer.flush();
  Outcome wrote = writer.outcome();
  if (wrote.code == pg::kWriteFailed) {
    say_output_failed(options.out_name, wrote.error);
    return {PG_ERROR, true};
  }
  if (src.error() != 0 || !wrote.ok()) {
    MESS_print(M_error, "Unable to read file: %s (%s)\n", data.name.c_str(),
               std::strerror(src.error() != 0 ? src.error() : wrote.error));
    return {PG_ERROR};
  }
  return {chosen > 0 ? PG_WRITTEN : PG_NONE};
}

namespace {

const PROG_program kProgram = {
    "PRODUCT GETTER",
    "This program gets products out of data files through their header files;"
    " exit status 0 a product was written, 1 none was chosen, 2 an error",
    // The resources of header_tool but the overwrite policy, and the
    // product pattern.
    PROG_keys({RES_file_param},
              {{RES_identifier, RES_product}, {RES_parameter, RES_header_cache}, {RES_parameter, RES_timeout}}),
    {
        {RES_product, "-pr pattern", "Heading pattern (extended regular expression, case ignored)"},
        {RES_identifier, "-id pattern", "Second-line pattern (extended regular expression, case ignored)"},
        {RES_output, "-ou type", "Output: text (the products), list (their records), ranges (their bytes)"},
        {RES_out_file, "-of file", "Output file instead of standard output"},
        {RES_header_cache, "-hc dir", "Directory of cached remote header files"},
        {RES_timeout, "-to seconds", "Seconds a remote server may take to answer"},
    }};

// Sends the output to the file the out_file resource names, if one does,
// opened into `file`. False, said, when it cannot be created.
bool open_output(PG_options& options, FILE_ptr& file) {
  const char* name = RES_get("out_file");
  if (name == nullptr || FILE_is_stdio(name)) return true;
  file.reset(FILE_open(name, "w"));
  options.out_name = name;
  if (!file) {
    say_output_failed(name, errno);
    return false;
  }
  options.out = file.get();
  return true;
}

}  // namespace

int PG_main(int argc, char** argv) {
  // Standard output carries the products: by default only warnings and
  // errors, which go to standard error, are shown.
  MESS_set(MESS_SET_DEFAULT, M_warn);
  PROG_start_settings(argc, argv, kProgram);
  PG_options options;
  bool ok = options.patterns.set(RES_get("product"), RES_get("identifier"));
  ok = PG_set_output(RES_get("output"), options.output) && ok;
  if (!ok) return PG_ERROR;
  PAR_in_file_only("raw");  // a pattern never chooses the data type
  pg::Remote remote(pg::remote_options(), pg::remote_cache_dir());
  options.remote = &remote;
  FILE_set_remote(&remote.session());  // a latest file on a server is asked for
  FILE_named first;
  bool started = PROG_start_files(first, PROG_dialogue::terminal_only);
  FILE_set_remote(nullptr);
  if (!started) return PG_ERROR;
  FILE_ptr file;
  if (!open_output(options, file)) return PG_ERROR;
  bool stopped = false;
  auto get_file = [&](const FILE_named& data) {
    PROG_done done = PG_get_file(data, options);
    stopped = stopped || done.stop;
    return done;
  };
  int status = PROG_file_loop(first, get_file, {{PG_NONE, PG_WRITTEN, PG_ERROR}});
  if (stopped) return status;  // said where the output failed
  if (std::fflush(options.out) != 0 || (file && FILE_close(file.release()) != 0)) {
    say_output_failed(options.out_name, errno);
    return PG_ERROR;
  }
  return status;
}
