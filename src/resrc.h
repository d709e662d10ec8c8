// The resource system: the store of named settings, the table of standard
// resources, start-up decoding, value conversion and the help text.
#pragma once

#include <string>
#include <vector>

#include "kiv.h"

// ---- Store ---------------------------------------------------------------

// One stored resource. Nodes stay in first-stored order.
struct res_obj {
  int index = NO_VALUE;  // position in the program's table; NO_VALUE = free
  std::string name;
  bool has_data = false;  // false: given without a value
  std::string data;
  DEF_convert cvt = CV_string;
};

int RES_new(int index, const char* name, const char* data, DEF_convert cvt);
int RES_append(int index, const char* name, const char* data, DEF_convert cvt);
int RES_put(const char* name, const char* value);
// The value; "" for a resource without a value; nullptr when absent. Valid
// until the same resource is stored again.
const char* RES_get(const char* name);
// Splits the value (newlines for CV_strings, commas otherwise); the array
// belongs to the caller (free_parsed_array). Returns the item count.
int RES_getvals(const char* name, int* paramc, char*** paramv);
std::vector<std::string> RES_getvals(const char* name);
int RES_list();
int RES_setCL(int argc, char** argv);
const char* RES_get_prog();
std::string RES_get_progname();

// The store in order (for decoding and tests).
const std::vector<const res_obj*> RES_nodes();

// ---- Table ---------------------------------------------------------------

// One entry of a program's resource table. `def` nullptr ends a table; ""
// marks an id without a row. A positional entry has `slot` 1..10 and no
// `cmd`.
struct RES_defobj {
  const char* def = nullptr;
  const char* env = nullptr;
  const char* cmd = nullptr;
  int slot = 0;
  DEF_convert cvt = CV_none;
  void* out = nullptr;
  int* num = nullptr;
};

// The ids that have a row in the standard table, in table order.
std::vector<res_type> RES_table_ids();

int RES_fill_obj(RES_defobj* obj, const char* def, const char* env, const char* cmd,
                 DEF_convert cvt, void* out, int* num, int slot = 0);
int RES_enter(RES_defobj* obj, res_type key);

// ---- Decoding ------------------------------------------------------------

int RES_init(int argc, char** argv, const res_type* res_key, const res_type* res_pos);
int RES_decode(const char* progname, const char* cls, int argc, char** argv,
               RES_defobj* def_table);
// The table RES_init built (for tests).
const std::vector<RES_defobj>& RES_get_table();

// ---- Conversion ----------------------------------------------------------

// `out` by kind: int (CV_bool, CV_int), short, long (CV_long, CV_color),
// float, const char* (CV_string, CV_device: the rest after the first
// comma), std::string (CV_strcpy, CV_path), Domain (CV_region,
// CV_domain). For CV_strings a table entry's `out` is a char** array
// (free_parsed_array) and `num` its count.
int RES_conv_data(const char* data, void* out, DEF_convert cvt);
// Fills year, month, day, hour and minute of `date` from an hour text
// (the fields it does not give stay NO_VALUE); what CV_hour hands to
// FILE_set_time.
int RES_parse_hour(const char* text, Date* date);
int RES_set_device(const char* str);

// ---- Help ----------------------------------------------------------------

int RES_help_print(const char* name, const res_type* res_key, const res_type* res_pos);
int RES_help_item(res_type res);

// Empties the store, the table and the remembered argument vector (tests).
void RES_reset();
