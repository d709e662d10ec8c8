// Product and parameter tables: chooses the input-file type of a run (the
// in_file resource, else the product table "parse.lup" keyed by the
// product resource, else the caller's default) and hands it to the file
// naming module; records the product-parsing options of the parameter
// resource.
//
// State (one PAR_options, reset by PAR_reset): the type in force and the
// recorded options. Option bits are only ever added.
#include "par_tool.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "files.h"
#include "resrc.h"
#include "string.h"

namespace {

PAR_options state;

constexpr const char* TABLE_FILE = "parse.lup";

// End-of-product and skip option bits.
constexpr int END_LINES = 0x10;
constexpr int END_BLANK = 0x100;
constexpr int END_3BLANK = 0x200;
constexpr int END_DOLLAR = 0x400;
constexpr int END_EQUAL = 0x800;
constexpr int SKIP_LINES = 0x10;
constexpr int SKIP_BLANK = 0x100;

// The next whitespace-delimited word of `file`; false at its end.
bool read_word(FILE* file, std::string& word) {
  word.clear();
  int c;
  while ((c = std::getc(file)) != EOF && std::isspace(c)) {
  }
  while (c != EOF && !std::isspace(c)) {
    word.push_back(static_cast<char>(c));
    c = std::getc(file);
  }
  return !word.empty();
}

bool is_word(const std::string& word, const char* key) { return stricmp(word.c_str(), key) == 0; }

bool begins_with(const std::string& word, const char* key) {
  return strnicmp(word.c_str(), key, static_cast<int>(std::strlen(key))) == 0;
}

// "line", "line=5", "skip=3": a bare word counts 1, else the number from
// the sixth character on (the fifth is a separator of any kind).
int count_option(const std::string& word) {
  if (word.size() == 4) return 1;
  return word.size() > 5 ? std::atoi(word.c_str() + 5) : 0;
}

void apply_parameter(const std::string& word) {
  if (is_word(word, "dollar")) {
    state.end |= END_DOLLAR;
  } else if (is_word(word, "blank")) {
    state.end |= END_BLANK;
  } else if (is_word(word, "3blank")) {
    state.end |= END_3BLANK;
  } else if (is_word(word, "equal")) {
    state.end |= END_EQUAL;
  } else if (begins_with(word, "line")) {
    state.end |= END_LINES;
    state.max_lines = count_option(word);
  } else if (is_word(word, "skip_blank")) {
    state.skip |= SKIP_BLANK;
  } else if (begins_with(word, "skip")) {
    state.skip |= SKIP_LINES;
    state.skip_lines = count_option(word);
  } else if (is_word(word, "first")) {
    state.which = -1;
  } else if (is_word(word, "last")) {
    state.which = 1;
  } else if (is_word(word, "cont")) {
    state.which = 2;
  } else if (is_word(word, "hdr")) {
    state.output = 1;
  } else if (is_word(word, "prod")) {
    state.output = 2;
  } else if (is_word(word, "hdr+prod")) {
    state.output = 3;
  }
}

// Leaves the stored product resource upper-cased, as the lookup saw it.
void store_upper_product(const std::string& product) {
  for (const res_obj* node : RES_nodes()) {
    if (node->name == "product") {
      RES_new(node->index, "product", product.c_str(), node->cvt);
      return;
    }
  }
}

}  // namespace

int PAR_lookup(std::string& product, std::string& infile) {
  if (product.empty()) return 0;
  up_string(product);
  std::string table;
  FILE_add_path(RES_get("file_path"), TABLE_FILE, table);
  FILE_ptr file(FILE_open_regular(table.c_str()));
  if (!file) return -1;
  std::string prefix, type;
  while (read_word(file.get(), prefix) && read_word(file.get(), type)) {
    // Table prefixes are upper case and compared as written.
    if (product.compare(0, prefix.size(), prefix) == 0) {
      infile = type;
      return 1;
    }
  }
  return 0;
}

namespace {

// PAR_in_file, with the product table consulted or not.
void choose_type(const char* in, bool by_product) {
  state.infile = in != nullptr ? in : "";
  FILE_set_name(state.infile);
  std::vector<std::string> types = RES_getvals("in_file");
  for (const std::string& type : types) {
    state.infile = type;
    FILE_set_name(state.infile);
  }
  const char* stored = RES_get("product");
  if (by_product && types.empty() && stored != nullptr) {
    std::string product = stored;
    std::string found;
    int result = PAR_lookup(product, found);
    if (product != stored) store_upper_product(product);
    if (result == 1) {
      state.infile = found;
      FILE_set_name(state.infile);
    }
  }
  for (const std::string& word : RES_getvals("parameter")) apply_parameter(word);
}

}  // namespace

int PAR_in_file(const char* in) {
  choose_type(in, true);
  return 0;
}

int PAR_in_file_only(const char* in) {
  choose_type(in, false);
  return 0;
}

const PAR_options& PAR_get_options() { return state; }

void PAR_reset() { state = PAR_options(); }
