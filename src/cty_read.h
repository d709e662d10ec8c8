// City database records: opening, reading, rewinding and closing the one
// open database.
#pragma once

#include <string>

struct CTY_data {
  std::string name;    // at most 20 characters
  std::string state;   // at most 2
  std::string region;  // at most 2
  std::string id;      // at most 9
  int prior = 0;
  char mos = ' ';
  char ua = ' ';
  float lat = 0;
  float lon = 0;
  float el = 0;
  int wmo = 0;
  int num = 0;
};

int CTY_open(const char* filename, int f_access, int f_type);
int CTY_read(int city_fd, CTY_data* city);
int CTY_rewind(int city_fd);
int CTY_close(int city_fd);
