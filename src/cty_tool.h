// City database lookups by identifier, name or WMO number. Each lookup
// opens the database, reads it to the first match and closes it.
#pragma once

#include "cty_read.h"

// Opens the city database in the file_path directory: the city_file
// resource, else `city_file`, else "sao.cty". Stores an estimate of its
// station count (size / 59, at most 4000) in `num_stats` (may be null).
// Returns the descriptor number, or -1 when the city_file resource is
// "none" or the file does not open (warns "CTY_open_file: Database file
// not found: NAME").
int CTY_open_file(const char* city_file, int* num_stats);
// Finds the first record whose identifier, name or five-digit WMO number
// equals `id` (any case) and leaves it in `data`; reports the search at
// level mess. Returns 1 when found, else 0.
int CTY_get(const char* city_file, const char* id, CTY_data* data);
// The same, handing out the station's position (either pointer may be
// null). Returns 1 when found, else 0.
int CTY_get_loc(const char* city_file, const char* id, float* lat, float* lon);
