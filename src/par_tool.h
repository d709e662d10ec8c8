// Product and parameter tables: the choice of input-file type and the
// recorded product-parsing options.
#pragma once

#include <string>

int PAR_in_file(const char* in);
// Upper-cases `product` in place; 1 found (type in `infile`), 0 not found,
// -1 when the table file does not open.
int PAR_lookup(std::string& product, std::string& infile);

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
void PAR_reset();
