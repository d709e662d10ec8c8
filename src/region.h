// Map domains and regions: the domain record, projection words, domain
// specifications, region files and the region menu.
#pragma once

#include <string>
#include <vector>

struct Domain {
  int proj;
  float plat;
  float plon;
  float param[5];
  float clat;
  float clon;
  float dx;
  float dy;
  int nx;
  int ny;
  int ellipse;
};

struct MENU_item {
  std::string name;  // empty: end of the list
  std::string abbr;
  int disp[2] = {0, 0};
  int index = 0;
};

int DOM_init(Domain* domain);
int DOM_proj_str(const char* proj);
int DOM_set_params(int paramc, char** paramv, Domain* domain, int i1, int i2, int i3, int i4,
                   int i5, int i6, int i7, int i8);
int DOM_decode(const char* str, Domain* domain);
int DOM_set_base_prior(float size);
int DOM_get_priority();

int DOM_search_file(const char* file, const char* str, std::string& domstr);
int DOM_read_menu(const char* file);
int DOM_get_def_region(const char* region, Domain* domain);

std::vector<MENU_item>& DOM_reg_menu();
int DOM_num_regs();
void DOM_reset();
