// Map domains and regions: the domain record, projection words, domain
// specifications, region files and the region menu.
//
// Module state: the station priority of the last decoded domain, the
// region menu and its entry count. DOM_decode also sets the domain status
// flag (FLAG_DOMAIN) and the file-name key 'r'.
#pragma once

#include <string>
#include <vector>

// A map domain. Every field but `ellipse` is NO_VALUE when unset; the
// caller owns the record and decoding only fills it.
struct Domain {
  int proj;         // projection code (DOM_proj_str); -1 unrecognised
  float plat;       // projection reference latitude
  float plon;       // projection reference longitude
  float param[5];   // further projection constants, in the order given
  float clat;       // centre latitude
  float clon;       // centre longitude
  float dx;         // grid spacing in x
  float dy;         // grid spacing in y
  int nx;           // grid points in x
  int ny;           // grid points in y
  int ellipse;      // 1: ellipsoidal earth
};

// One entry of the region menu.
struct MENU_item {
  std::string name;  // shown to the user, at most 20 characters; empty ends the list
  std::string abbr;  // the region's abbreviation
  int disp[2] = {0, 0};  // disp[0]: display number; 0 hides the entry
  int index = 0;         // the entry's position in the menu
};

// Sets every field of `domain` to NO_VALUE and `ellipse` to 0. Returns 0
// (also for null).
int DOM_init(Domain* domain);

// The projection code of a word, matched by its leading letters without
// regard to case ("ps" 1, "ll" 2, "lamb" 4, "size" 51, ...; "miss"
// NO_VALUE); -1 for an unknown word or null.
int DOM_proj_str(const char* proj);

// Tries one specification form on the `paramc` items of `paramv`. `i1`..
// `i8` are the form's item codes, ended by the first 0: 1 projection
// ("word[:e][:plat][:plon][:params]"), 3 plon, 4 station ("id:[FILE:]ID",
// looked up in the city database), 5 clat (or a station), 6 clon, 7 nx,
// 8 ny, 9 dx, 10 dy, 11 region name (resolved through "kiv.reg", a named
// region file or the built-in regions; may read a region menu or prompt).
// Returns 0 when the form fits (the record reset, then filled; a first
// item "miss" or "none" fits with nothing filled), -1 when the item count
// differs from the form's (record untouched), else the code of the first
// item that failed.
int DOM_set_params(int paramc, char** paramv, Domain* domain, int i1, int i2, int i3, int i4,
                   int i5, int i6, int i7, int i8);

// Decodes a comma-separated domain specification into `domain` (null: a
// scratch record) by the first form that fits. Returns NO_VALUE for a
// missing text or "miss", 1 for a domain given by values, 2 for a region
// name, -1 when no form fits (warns "DOM_decode: Invalid plot domain").
// Sets FLAG_DOMAIN to the result, the key 'r' to `str` and the station
// priority; reports the form taken at debugc. A region that refers to
// itself ends as invalid after eight nested decodings.
int DOM_decode(const char* str, Domain* domain);

// Sets the station priority from a north-south extent in degrees (1 over
// 50 up to 6 for 3 or less), adjusted by the stat_prior resource ("+N",
// "-N" or "N"). Returns 0.
int DOM_set_base_prior(float size);

// The station priority set by the last decoding.
int DOM_get_priority();

// Looks for the abbreviation `str` (any entry when null) in the region file
// `file` of the file_path directory; '#' lines are comments. Fills `domstr`
// with the entry's specification (its fourth word; the first word for a
// line without one) and returns 1; 0 when not found, at the first blank
// line, or when the file does not open (reported at debugd).
int DOM_search_file(const char* file, const char* str, std::string& domstr);

// Reads the region file `file` of the file_path directory into the region
// menu, entries 1 to 19 (abbreviation, name with '_' shown as blank,
// display number; number 0 hides a line). The first call drops the
// built-in entries, even when the file does not open. Returns 1, or 0 when
// the file does not open (reported at debugd).
int DOM_read_menu(const char* file);

// Fills `domain` for a built-in region ("us", "ne", "at", "se", "mw", "sp",
// "nw", "sw"; "var" asks for the centre at the terminal): a polar
// stereographic 25 by 17 grid around the region's centre. Sets the station
// priority and FLAG_DOMAIN to 1. Returns 1, or 0 for an unknown name (the
// grid fields are set all the same).
int DOM_get_def_region(const char* region, Domain* domain);

// The region menu (23 entries, process-wide) and the number of entries
// the last DOM_read_menu filled, plus one.
std::vector<MENU_item>& DOM_reg_menu();
int DOM_num_regs();

// Back to the start-up state: priority 3, the built-in menu (tests).
void DOM_reset();
