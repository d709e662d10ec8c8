// City database lookups by identifier, name or WMO number.
#pragma once

#include "cty_read.h"

int CTY_open_file(const char* city_file, int* num_stats);
int CTY_get(const char* city_file, const char* id, CTY_data* data);
int CTY_get_loc(const char* city_file, const char* id, float* lat, float* lon);
