// Placeholder: replaced by the module implementation.
#include "region.h"
#include <cstdlib>
#include <type_traits>

int DOM_init(Domain* domain) { return 0; }
int DOM_proj_str(const char* proj) { return 0; }
int DOM_set_params(int paramc, char** paramv, Domain* domain, int i1, int i2, int i3, int i4, int i5, int i6, int i7, int i8) { return 0; }
int DOM_decode(const char* str, Domain* domain) { return 0; }
int DOM_set_base_prior(float size) { return 0; }
int DOM_get_priority() { return 0; }
int DOM_search_file(const char* file, const char* str, std::string& domstr) { return 0; }
int DOM_read_menu(const char* file) { return 0; }
int DOM_get_def_region(const char* region, Domain* domain) { return 0; }
std::vector<MENU_item>& DOM_reg_menu() { static std::remove_cvref_t<std::vector<MENU_item>&> v; return v; }
int DOM_num_regs() { return 0; }
void DOM_reset() {  }
