// Writes a generated raw data file to standard output.
// Usage: gen_raw BYTES [soh|stars] [SEED]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/raw_generator.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gen_raw BYTES [soh|stars] [SEED]\n");
    return 2;
  }
  uint64_t bytes = std::strtoull(argv[1], nullptr, 10);
  auto style = argc > 2 && std::strcmp(argv[2], "stars") == 0 ? rawgen::Style::stars : rawgen::Style::soh;
  uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
  rawgen::Generator(style, seed).write(stdout, bytes);
  return 0;
}
