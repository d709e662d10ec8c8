// Placeholder: replaced by the module implementation.
#include "cty_tool.h"
#include <cstdlib>
#include <type_traits>

int CTY_open_file(const char* city_file, int* num_stats) { return 0; }
int CTY_get(const char* city_file, const char* id, CTY_data* data) { return 0; }
int CTY_get_loc(const char* city_file, const char* id, float* lat, float* lon) { return 0; }
