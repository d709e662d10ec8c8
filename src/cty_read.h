// City database records: opening, reading, rewinding and closing the one
// open database.
#pragma once

#include <cstdio>
#include <string>

#include "kiv.h"

struct CTY_data {
  std::string name;    // at most 20 characters
  std::string state;   // at most 2
  std::string region;  // at most 2
  std::string id;      // at most 9
  int prior = 0;
  char mos = ' ';
  char ua = ' ';
  float lat = NO_VALUE;
  float lon = NO_VALUE;
  float el = NO_VALUE;
  int wmo = NO_VALUE;
  int num = 0;
};

int CTY_open(const char* filename, int f_access, int f_type);
int CTY_read(int city_fd, CTY_data* city);
int CTY_rewind(int city_fd);
int CTY_close(int city_fd);
// Closes any open database (tests).
void CTY_reset();

// Reads blank-separated words and numbers from a stream, line breaks
// counting as blanks. A number is read as far as its characters go; what
// is not part of it stays for the next read, so a malformed field stops
// the reader there. Words are always taken whole and then cut to the
// width asked for, so an over-long word never shifts the fields after it.
class WordReader {
 public:
  explicit WordReader(FILE* file = nullptr) : file_(file) {}
  void reset(FILE* file);
  // False at end of input. A width of 0 keeps the whole word.
  bool word(std::string& out, size_t width = 0);
  bool integer(int& out);
  bool real(float& out);
  void skip_blanks();
  bool at_end();

 private:
  int get();
  void unget(int c);
  void unget(const std::string& text);
  // Collects the characters of `allowed` that follow the blanks.
  std::string collect(const char* allowed);

  FILE* file_;
  std::string pending_;  // read-ahead characters; the next one is at the back
};
