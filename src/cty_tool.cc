// City database lookups. Every lookup opens the database, scans it from
// the first record to the first match and closes it again; nothing is
// cached, so the module keeps no state of its own (the open file belongs
// to the record reader).
#include "cty_tool.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "files.h"
#include "mess.h"
#include "resrc.h"
#include "string.h"

namespace {

constexpr const char* kDefaultFile = "sao.cty";
constexpr long kRecordBytes = 59;
constexpr int kMaxStations = 4000;

bool has_text(const char* s) { return s && *s; }

// The city_file resource wins over the caller's name. An empty name would
// open the standard input, so it counts as not given.
const char* database_name(const char* city_file) {
  const char* res = RES_get("city_file");
  if (has_text(res)) return res;
  if (has_text(city_file)) return city_file;
  return kDefaultFile;
}

bool matches(const CTY_data& rec, const char* id) {
  char wmo[16];
  std::snprintf(wmo, sizeof wmo, "%05d", rec.wmo);
  return stricmp(id, rec.id.c_str()) == 0 || stricmp(id, rec.name.c_str()) == 0 ||
         stricmp(id, wmo) == 0;
}

}  // namespace

int CTY_open_file(const char* city_file, int* num_stats) {
  const char* res = RES_get("city_file");
  if (res && stricmp(res, "none") == 0) return -1;  // database switched off
  std::string full;
  FILE_add_path(RES_get("file_path"), database_name(city_file), full);
  long size = FILE_size(full.c_str());
  if (num_stats) *num_stats = static_cast<int>(std::clamp(size / kRecordBytes, 0L, long{kMaxStations}));
  int fd = CTY_open(full.c_str(), 0, 0);
  if (fd < 0) MESS_print(M_warn, "CTY_open_file: Database file not found: %s\n", full.c_str());
  return fd;
}

int CTY_get(const char* city_file, const char* id, CTY_data* data) {
  if (!id || !data) return 0;
  int num_stats = 0;
  int fd = CTY_open_file(city_file, &num_stats);
  if (fd < 0) return 0;
  MESS_print(M_mess, "Searching the city database file for: %s ...\n", id);
  CTY_rewind(fd);
  bool found = false;
  while (!found && CTY_read(fd, data) > 0) found = matches(*data, id);
  CTY_close(fd);
  return found ? 1 : 0;
}

int CTY_get_loc(const char* city_file, const char* id, float* lat, float* lon) {
  CTY_data rec;
  if (!CTY_get(city_file, id, &rec)) return 0;
  if (lat) *lat = rec.lat;
  if (lon) *lon = rec.lon;
  return 1;
}
