// The product getter. A header file says where each product of its data
// file starts; product_get picks records by patterns on their heading and
// second line, checks every record it uses against the data file, and
// writes the products' bytes, their text to read, their records, their
// byte ranges or JSON lines. The products are found and checked by the
// library call PL_products (product_list.cc, on the walks of
// product_find.cc) and written in product_write.cc; here the two are
// joined for each data file, and the program stands on the programs'
// shell. For the newest products the data files are taken newest first,
// and the run ends once they are all written.
//
// The header file is read in large blocks. With a pattern, the blocks are
// searched for a text that every match contains, as grep does, so most
// lines are never taken apart; a line is split and its patterns run only
// where that text stands.
//
// Module state: none.
#include "product_get.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "files.h"
#include "http.h"
#include "mess.h"
#include "par_tool.h"
#include "product_list.h"
#include "product_remote.h"
#include "product_write.h"
#include "resrc.h"
#include "string.h"

namespace {

void say_output_failed(const std::string& name, int err) {
  MESS_print(M_error, "Unable to write output file: %s (%s)\n", name.c_str(), std::strerror(err));
}

}  // namespace

bool PG_set_output(const char* word, PG_output& output) {
  static const std::pair<const char*, PG_output> words[] = {
      {"text", PG_output::text},   {"list", PG_output::list}, {"ranges", PG_output::ranges},
      {"plain", PG_output::plain}, {"json", PG_output::json}, {"json,text", PG_output::json_text}};
  if (word == nullptr) word = "text";
  for (const auto& [name, kind] : words) {
    if (stricmp(word, name) == 0) {
      output = kind;
      return true;
    }
  }
  MESS_print(M_error, "Unknown output type %s: not text, plain, list, ranges, json or json,text\n", word);
  return false;
}

bool PG_set_newest(const char* text, long& newest) {
  newest = 0;
  if (text == nullptr) return true;
  char* end = nullptr;
  errno = 0;
  long n = std::strtol(text, &end, 10);
  if (end != text && *end == '\0' && errno == 0 && n > 0) {
    newest = n;
    return true;
  }
  MESS_print(M_error, "Invalid count of newest products: %s\n", text);
  return false;
}

PROG_done PG_get_file(const FILE_named& data, const PG_options& options, PG_run& run) {
  long before = run.written;
  bool bytes = options.output == PG_output::text || options.output == PG_output::plain ||
               options.output == PG_output::json_text;
  pg::Writer writer(options.output, options.out, data, FILE_state().late_off, run);
  PL_request request{&options.patterns, options.newest > 0 ? options.newest - run.written : 0, bytes,
                     options.remote};
  Outcome got = PL_products(data, request, [&writer](const PL_product& p, PL_text& text) {
    return writer.write(p, text);
  });
  writer.flush();
  if (writer.error() != 0) {
    say_output_failed(options.out_name, writer.error());
    return {PG_ERROR, true};
  }
  if (got.code == PL_MISSING) return {data.in_series ? PG_NONE : PG_ERROR};
  if (!got.ok()) return {PG_ERROR};
  // The newest products are all there: the older files are not read.
  bool enough = options.newest > 0 && run.written >= options.newest;
  return {run.written > before ? PG_WRITTEN : PG_NONE, enough};
}

namespace {

const PROG_program kProgram = {
    "PRODUCT GETTER",
    "This program gets products out of data files through their header files;"
    " exit status 0 a product was written, 1 none was chosen, 2 an error",
    // The resources of header_tool but the overwrite policy, and the
    // product pattern.
    PROG_keys({RES_file_param}, {{RES_identifier, RES_product},
                                 {RES_output, RES_newest},
                                 {RES_parameter, RES_header_cache},
                                 {RES_parameter, RES_timeout}}),
    {
        {RES_product, "-pr pattern", "Heading pattern (extended regular expression, case ignored)"},
        {RES_identifier, "-id pattern", "Second-line pattern (extended regular expression, case ignored)"},
        {RES_output, "-ou type", "Output: text (the products), plain (to read), list, ranges, json, json,text"},
        {RES_newest, "-ne count", "Only the newest count products, newest first"},
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
  ok = PG_set_newest(RES_get("newest"), options.newest) && ok;
  if (!ok) return PG_ERROR;
  PAR_in_file_only("raw");  // a pattern never chooses the data type
  pg::Remote remote(pg::remote_options(), pg::remote_cache_dir());
  options.remote = &remote;
  FILE_set_remote([&remote](const std::string& url) {  // a latest file on a server is asked for
    HTTP_result r = HTTP_size(remote.session(), url);
    if (r.ok()) return r.size;
    return r.code == HTTP_code::missing ? FILE_REMOTE_ABSENT : FILE_REMOTE_UNKNOWN;
  });
  FILE_named first;
  bool started = PROG_start_files(first, PROG_dialogue::terminal_only);
  FILE_set_remote({});
  if (!started) return PG_ERROR;
  FILE_ptr file;
  if (!open_output(options, file)) return PG_ERROR;
  bool failed = false;
  PG_run run;
  auto get_file = [&](const FILE_named& data) {
    PROG_done done = PG_get_file(data, options, run);
    failed = failed || (done.stop && done.status == PG_ERROR);
    return done;
  };
  // The newest products come from the newest data file first.
  PROG_order order = options.newest > 0 ? PROG_order::newest_first : PROG_order::sequence;
  int status = PROG_file_loop(first, get_file, {{PG_NONE, PG_WRITTEN, PG_ERROR}}, order);
  if (failed) return status;  // said where the output failed
  if (std::fflush(options.out) != 0 || (file && FILE_close(file.release()) != 0)) {
    say_output_failed(options.out_name, errno);
    return PG_ERROR;
  }
  return status;
}
