// The resource system: the store of named settings, the table of standard
// resources, start-up decoding, value conversion and the help text.
//
// Module state: the store (nodes in first-stored order), the argument
// vector RES_setCL remembered (referenced, not copied), the table
// RES_init built, and whether the command line asked for the version.
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

// Stores resource `name` with value `data` (null: given without a value),
// table position `index` (NO_VALUE: none) and conversion `cvt`, replacing
// an earlier value. Returns 0, or -1 for a null name.
int RES_new(int index, const char* name, const char* data, DEF_convert cvt);
// Adds `data` on a new line to the value of an existing resource (one
// without a value takes it; null adds nothing; index and conversion stay);
// a new resource is stored as by RES_new. Returns 0, or -1 for a null name.
int RES_append(int index, const char* name, const char* data, DEF_convert cvt);
// Stores a free resource: RES_new(NO_VALUE, name, value, CV_string).
int RES_put(const char* name, const char* value);
// The value; "" for a resource without a value; nullptr when absent. Valid
// until the same resource is stored again.
const char* RES_get(const char* name);
// Splits the value (newlines for CV_strings, commas otherwise); the array
// belongs to the caller (free_parsed_array). Returns the item count (0,
// with a null array, when absent or without a value).
int RES_getvals(const char* name, int* paramc, char*** paramv);
std::vector<std::string> RES_getvals(const char* name);
// Prints every stored resource as "name: value" at level printd. Returns 0.
int RES_list();
// Remembers the argument vector (not copied: it must outlive its use).
// Returns 1.
int RES_setCL(int argc, char** argv);
// The remembered argv[0], or null.
const char* RES_get_prog();
// argv[0] without its directory, or "KIV" when none was remembered.
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

// Fills every field of `obj`. Returns 1.
int RES_fill_obj(RES_defobj* obj, const char* def, const char* env, const char* cmd,
                 DEF_convert cvt, void* out, int* num, int slot = 0);
// Fills `obj` with the standard table's row for `key` (no output place).
// An id without a row gets an empty name and its number is printed on
// standard output, past the message level. Returns 1.
int RES_enter(RES_defobj* obj, res_type key);

// ---- Decoding ------------------------------------------------------------

// Start-up of a program: sets every flag to NO_VALUE, builds the table
// from the keyed ids `res_key` and the positional ids `res_pos` (both
// ended by RES_null), decodes the settings (RES_decode) and takes the time
// zone from kivtz. Returns 1.
int RES_init(int argc, char** argv, const res_type* res_key, const res_type* res_pos);
// Fills the store from, in rising precedence: the resource files and loop
// windows of the search list (-df, else kivdefault, else
// ".:/home/kiv/etc:/usr/local/kiv/etc"; "+TAG" defines a tag, "#N" asks
// window N, whose settings are then kept in step), the environment, and
// the command line (keyed options by abbreviation, long name or prefix;
// other words fill the positional entries). Then converts every table
// resource once (RES_conv_data). Warns about windows that are not running
// or refuse. `progname` and `cls` are not used. Returns 0.
int RES_decode(const char* progname, const char* cls, int argc, char** argv,
               RES_defobj* def_table);
// The table RES_init built (for tests).
const std::vector<RES_defobj>& RES_get_table();
// True when decoding met the option "--version" on the command line (not
// as the value of another option). It is stored like any other unknown
// option; the program's start-up answers it.
bool RES_version_asked();

// ---- Conversion ----------------------------------------------------------

// `out` by kind: int (CV_bool, CV_int), short, long (CV_long, CV_color),
// float, const char* (CV_string, CV_device: the rest after the first
// comma), std::string (CV_strcpy, CV_path), Domain (CV_region,
// CV_domain). For CV_strings a table entry's `out` is a char** array
// (free_parsed_array) and `num` its count.
// CV_batch sets the batch flag (and level warn unless a level was set),
// CV_help the help flag, CV_mess the message options, CV_hour the
// requested date, CV_file_param the overwrite policy flag, CV_plot_type
// and CV_draw their flags and switches; the other kinds need `out`.
// Returns 1 when converted, 0 for a null `data` or missing `out`.
int RES_conv_data(const char* data, void* out, DEF_convert cvt);
// Fills year, month, day, hour and minute of `date` from an hour text
// (the fields it does not give stay NO_VALUE); what CV_hour hands to
// FILE_set_time.
int RES_parse_hour(const char* text, Date* date);
// The device code of a device word by its first letter: p 4, h or q 5,
// m 3, w 6, else (and null) 1.
int RES_set_device(const char* str);

// ---- Help ----------------------------------------------------------------

// A program's own help entry for a resource, in place of the standard one.
struct RES_help_line {
  res_type id;
  const char* option;
  const char* description;
};
// Prints the help text at level print: syntax line with the version, the
// fixed -df and -na lines, then one entry for each id of `res_key` and of
// `res_pos` (each list ended by RES_null): the one of `own` for its id,
// else the standard one. Returns 1.
int RES_help_print(const char* name, const res_type* res_key, const res_type* res_pos,
                   const std::vector<RES_help_line>& own = {});
// Prints the help entry of one id; an id without an entry is printed as
// its number on standard output. Returns 1.
int RES_help_item(res_type res);

// Empties the store, the table and the remembered argument vector (tests).
void RES_reset();
