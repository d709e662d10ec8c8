// Product and parameter tables: the choice of input-file type and the
// recorded product-parsing options.
//
// Module state: the input-file type in force and the options recorded
// from the parameter resource (option bits are only ever added).
#pragma once

#include <string>

// Chooses the input-file type and makes its convention the one in force
// (FILE_set_name): `in` (null: ""), replaced in turn by each type of the
// in_file resource, or else by the product table's type for the product
// resource (left upper-cased in the store). Then records the words of the
// parameter resource ("dollar", "blank", "3blank", "equal", "line[=N]",
// "skip_blank", "skip[=N]", "first", "last", "cont", "hdr", "prod",
// "hdr+prod"). Returns 0.
int PAR_in_file(const char* in);
// The same without the product table: the type is `in` or the in_file
// resource's, and the product resource is left as it was given. Returns 0.
int PAR_in_file_only(const char* in);
// Looks the product up in the product table "parse.lup" of the file_path
// directory (pairs of product prefix and type; the first prefix that
// begins `product` wins). Upper-cases `product` in place; 1 found (type in
// `infile`), 0 not found or empty, -1 when the table file does not open.
int PAR_lookup(std::string& product, std::string& infile);

// The recorded choice and options: end-of-product and skip bits with
// their line counts, which product of several (-1 first, 1 last, 2
// continued), and the output (1 header, 2 product, 3 both).
struct PAR_options {
  std::string infile;
  int end = 0;
  int skip = 0;
  int max_lines = 0;
  int skip_lines = 0;
  int which = 0;
  int output = 3;
};
const PAR_options& PAR_get_options();
// Back to the start-up state (tests).
void PAR_reset();
