// City database records: opening, reading, rewinding and closing the one
// open database.
//
// Module state: the open database stream and the word reader over it. The
// descriptor arguments of the reading calls are not looked at: they all
// work on that one open file.
#pragma once

#include <cstdio>
#include <string>

#include "kiv.h"

// One station record, in file order: name, state, region, identifier,
// priority ("*2*": MOS station, priority 2, upper air), latitude,
// longitude, elevation (NO_VALUE above 9000), WMO number, count.
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

// Opens `filename` for reading (`f_access` 0) or writing (1), closing the
// database open before. Returns its descriptor number, or -1 when it does
// not open or `f_access` is neither.
int CTY_open(const char* filename, int f_access, int f_type);
// Reads the next record into `city` (fields the record does not hold get
// their defaults). Returns the number of fields read, or -1 at the end or
// with no database open.
int CTY_read(int city_fd, CTY_data* city);
// Back to the first record. Returns 0, or -1 with no database open.
int CTY_rewind(int city_fd);
// Closes the database. Returns 0, or -1 with none open.
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
  // Reads from `file` (null: nothing) from now on; read-ahead is dropped.
  void reset(FILE* file);
  // The next word in `out`, cut to `width` characters (0: whole). False,
  // with `out` unchanged, at end of input.
  bool word(std::string& out, size_t width = 0);
  // The number that follows the blanks, as far as it goes (an int is held
  // within the int range). False, with nothing consumed but blanks and
  // `out` unchanged, when none follows.
  bool integer(int& out);
  bool real(float& out);
  void skip_blanks();
  // True when only blanks are left.
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
