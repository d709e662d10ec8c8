// Map domains and regions. A domain specification is a comma-separated
// list tried against a fixed series of forms, or a single region name that
// stands for a stored specification (a region file, "kiv.reg", or one of
// the built-in regions).
//
// Module state: the station priority level of the last decoded domain,
// the region menu with its entry count, whether a menu file was ever read
// (the first read drops the built-in entries), and the nesting depth of
// region decoding, which a region entry naming itself would otherwise
// drive without end.
#include "region.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cty_read.h"
#include "cty_tool.h"
#include "files.h"
#include "flag.h"
#include "mess.h"
#include "resrc.h"
#include "string.h"
#include "system.h"
#include "tools.h"

namespace {

constexpr int kMenuSize = 23;
constexpr int kMenuLast = 19;      // entries 1..19 come from a menu file
constexpr int kMaxNesting = 8;     // region decodings active at once
constexpr int kLineWidth = 500;    // piece size of the region file reader
constexpr size_t kMenuNameWidth = 20;
constexpr int kDefaultNx = 25;
constexpr int kDefaultNy = 17;
constexpr float kDefaultSpacing = 1.2f;
constexpr const char* kRegionFile = "kiv.reg";
constexpr const char* kCityFile = "sao.cty";

std::vector<MENU_item> initial_menu() {
  static const char* const rows[][2] = {
      {"Return to previous menu", "back"}, {"Contiguous US", "us"}, {"New England", "ne"},
      {"Atlantic", "at"},  {"Southeastern", "se"}, {"Midwestern", "mw"},
      {"Southern Plains", "sp"}, {"Northwestern", "nw"}, {"Southwestern", "sw"},
      {"Variable", "var"}};
  std::vector<MENU_item> menu(kMenuSize);
  int i = 0;
  for (const auto& row : rows) {
    menu[i].name = row[0];
    menu[i].abbr = row[1];
    menu[i].index = i == 0 ? 0 : 1;
    menu[i].disp[0] = 1;
    ++i;
  }
  return menu;
}

struct DomState {
  int priority = 3;
  std::vector<MENU_item> reg_menu = initial_menu();
  int num_regs = 0;
  bool menu_read = false;
  int depth = 0;
  bool too_deep = false;  // the current outer decoding ran into the bound
};
DomState state;

// ---- Small readers ---------------------------------------------------------

bool starts_nocase(const char* s, const char* prefix) {
  return s && strnicmp(s, prefix, static_cast<int>(std::strlen(prefix))) == 0;
}

bool is_blank_text(const char* s) {
  for (; *s; ++s)
    if (!std::isspace(static_cast<unsigned char>(*s))) return false;
  return true;
}

// Numbers are read from the start of an item; what follows is ignored.
bool read_float(const char* s, float& out) {
  char* end = nullptr;
  float v = std::strtof(s, &end);
  if (end == s) return false;
  out = v;
  return true;
}

bool read_int(const char* s, int& out) {
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(s, &end, 10);
  if (end == s) return false;
  out = static_cast<int>(std::clamp(v, long{INT_MIN}, long{INT_MAX}));
  return true;
}

float value_or_zero(const std::string& s) {
  float v = 0;
  return read_float(s.c_str(), v) ? v : 0.0f;
}

// Whole part of a float, or the unset marker when it has none.
int whole_part(float v) {
  if (!std::isfinite(v) || v >= 2147483647.0f || v <= -2147483648.0f) return NO_VALUE;
  return static_cast<int>(v);
}

// ---- Item handlers -----------------------------------------------------------

// Sub-fields after the projection word: plon alone, or "e", plat, plon and
// up to four constants.
void set_projection_fields(const char* item, Domain* d) {
  std::vector<std::string> sub = parse_string(std::string(item), ':');
  if (sub.size() == 2) {
    d->plon = value_or_zero(sub[1]);
    return;
  }
  if (sub.size() < 3) return;
  size_t at = 1;
  if (sub[1] == "e") {
    d->ellipse = 1;
    ++at;
  }
  if (at < sub.size()) d->plat = value_or_zero(sub[at++]);
  if (at < sub.size()) d->plon = value_or_zero(sub[at++]);
  for (int k = 0; k < 4 && at < sub.size(); ++k, ++at)
    if (!sub[at].empty()) d->param[k] = value_or_zero(sub[at]);
}

// "id:STATION" or "id:FILE:STATION"; false when the station is not found.
bool set_station(const char* item, Domain* d) {
  std::string text(item + 3);
  std::string file = kCityFile;
  size_t colon = text.find(':');
  if (colon != std::string::npos) {
    file = text.substr(0, colon);
    text = text.substr(colon + 1);
  }
  return CTY_get_loc(file.c_str(), text.c_str(), &d->clat, &d->clon) == 1;
}

bool resolve_region(const char* item, Domain* d);

// Handles one item; 0 when it was taken, else the item code.
int set_item(int code, const char* item, Domain* d) {
  if (code != 1 && code != 4 && code != 11 && is_blank_text(item)) return 0;
  switch (code) {
    case 1:
      d->proj = DOM_proj_str(item);
      if (d->proj == -1) {
        d->proj = 1;
        return 1;
      }
      set_projection_fields(item, d);
      return 0;
    case 3: return read_float(item, d->plon) ? 0 : code;
    case 4: return starts_nocase(item, "id:") && set_station(item, d) ? 0 : code;
    case 5:
      if (starts_nocase(item, "id:")) return set_station(item, d) ? 0 : code;
      return read_float(item, d->clat) ? 0 : code;
    case 6: return read_float(item, d->clon) ? 0 : code;
    case 7: return read_int(item, d->nx) ? 0 : code;
    case 8: return read_int(item, d->ny) ? 0 : code;
    case 9: return read_float(item, d->dx) ? 0 : code;
    case 10: return read_float(item, d->dy) ? 0 : code;
    case 11:
      if (std::strncmp(item, "id:", 3) == 0) return code;
      return resolve_region(item, d) ? 0 : code;
    default: return code;
  }
}

// ---- Region resolution ---------------------------------------------------------

bool decode_found(const char* file, const char* abbr, Domain* d) {
  std::string spec;
  if (DOM_search_file(file, abbr, spec)) DOM_decode(spec.c_str(), d);
  return !state.too_deep;
}

// Fills the record from a region name; false only when the nesting bound
// was hit below it, which makes the whole decoding invalid.
bool resolve_region(const char* item, Domain* d) {
  if (std::strncmp(item, "fi:", 3) == 0) return decode_found(item + 3, nullptr, d);
  const char* colon = std::strchr(item, ':');
  if (colon) {
    std::string file(item, colon - item);
    if (colon[1] == '\0') {
      DOM_read_menu(file.c_str());
      return true;
    }
    return decode_found(file.c_str(), colon + 1, d);
  }
  std::string spec;
  if (DOM_search_file(kRegionFile, item, spec)) {
    DOM_decode(spec.c_str(), d);
    return !state.too_deep;
  }
  if (!DOM_get_def_region(item, d)) d->proj = -1;
  return true;
}

// ---- Specification forms --------------------------------------------------------

void grid_25_17(Domain& d) {
  d.nx = kDefaultNx;
  d.ny = kDefaultNy;
}
void square(Domain& d) { d.dy = d.dx; }

// Form 11: "size" takes the two numbers as grid counts; other projections
// get the default grid, with a finer spacing for zoom.
void complete_proj_centre(Domain& d) {
  if (d.proj == 51) {
    d.nx = whole_part(d.clat);
    d.ny = whole_part(d.clon);
    d.clat = d.clon = NO_VALUE;
    return;
  }
  d.dx = d.dy = d.proj == 50 ? 1.0f : kDefaultSpacing;
  grid_25_17(d);
}

void complete_centre_only(Domain& d) {
  d.proj = 1;
  grid_25_17(d);
  d.dx = d.dy = kDefaultSpacing;
}

struct Form {
  int codes[8];
  const char* message;
  int result;
  void (*complete)(Domain&);
};

const Form kForms[] = {
    {{1, 7, 8}, "%2d proj,nx,ny\n", 1, nullptr},
    {{1, 3, 5, 6, 7, 8, 9, 10}, "%2d proj,plon,clat,clon,nx,ny,dx,dy\n", 1, nullptr},
    {{1, 5, 6, 7, 8, 9, 10}, "%2d proj,clat,clon,nx,ny,dx,dy\n", 1, nullptr},
    {{1, 3, 5, 6, 9, 10}, "%2d proj,plon,clat,clon,dx,dy\n", 1, grid_25_17},
    {{1, 5, 6, 7, 8, 9}, "%2d proj,clat,clon,nx,ny,dx\n", 1, square},
    {{5, 6, 7, 8, 9, 10}, "%2d clat,clon,nx,ny,dx,dy\n", 1, [](Domain& d) { d.proj = 1; }},
    {{1, 5, 6, 9, 10}, "%2d proj,clat,clon,dx,dy\n", 1, grid_25_17},
    {{5, 6, 7, 8, 9}, "%2d clat,clon,nx,ny,dx\n", 1,
     [](Domain& d) { d.proj = 1, square(d); }},
    {{1, 5, 6, 9}, "%2d proj,clat,clon,dx\n", 1, [](Domain& d) { grid_25_17(d), square(d); }},
    {{5, 6, 7, 8}, "%2d clat,clon,nx,ny\n", 1,
     [](Domain& d) { d.proj = 1, d.dx = d.dy = kDefaultSpacing; }},
    {{5, 6, 9}, "%2d clat,clon,dx\n", 1,
     [](Domain& d) { d.proj = 1, grid_25_17(d), square(d); }},
    {{1, 5, 6}, "%2d proj,clat,clon\n", 1, complete_proj_centre},
    {{5, 6}, "%2d clat,clon\n", 1, complete_centre_only},
    {{4}, "%2d id:###\n", 1, complete_centre_only},
    {{11}, "%2d reg:REG\n", 2, nullptr},
};

// Tries the forms in order; the result of the first that fits, or -1.
int decode_items(std::vector<std::string>& items, Domain* d) {
  std::vector<char*> argv;
  for (auto& item : items) argv.push_back(item.data());
  int argc = static_cast<int>(argv.size());
  bool first = true;
  for (const Form& f : kForms) {
    bool size_form = first;
    first = false;
    if (size_form && stricmp(argv[0], "size") != 0) continue;
    const int* c = f.codes;
    if (DOM_set_params(argc, argv.data(), d, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]) != 0)
      continue;
    if (f.complete) f.complete(*d);
    MESS_print(M_debugc, f.message, 0);
    return f.result;
  }
  return -1;
}

// Counts one level of nested decoding for as long as it lives.
struct NestingGuard {
  NestingGuard() { ++state.depth; }
  ~NestingGuard() {
    if (--state.depth == 0) state.too_deep = false;
  }
};

}  // namespace

// ---- Domains -------------------------------------------------------------------

int DOM_init(Domain* domain) {
  if (!domain) return 0;
  domain->proj = NO_VALUE;
  domain->plat = domain->plon = NO_VALUE;
  for (float& p : domain->param) p = NO_VALUE;
  domain->clat = domain->clon = NO_VALUE;
  domain->dx = domain->dy = NO_VALUE;
  domain->nx = domain->ny = NO_VALUE;
  domain->ellipse = 0;
  return 0;
}

int DOM_proj_str(const char* proj) {
  struct Row {
    const char* letters;
    int code;
    bool whole;
  };
  static const Row rows[] = {
      {"ll", 2, false},    {"lat", 2, false},   {"polar", 1, false}, {"ps", 1, false},
      {"sat", 9, false},   {"lamb", 4, false},  {"lc", 4, false},    {"la", 8, false},
      {"gn", 6, false},    {"or", 5, false},    {"mo", 7, false},    {"me", 3, false},
      {"pix", 99, false},  {"xy", 20, false},   {"xlogy", 22, false}, {"xlogp", 22, false},
      {"cat", 24, false},  {"skewt", 40, false}, {"ema", 42, false}, {"teph", 43, false},
      {"rteph", 44, false}, {"therm", 40, false}, {"stuve", 41, false}, {"hodo", 23, false},
      {"vert", 22, false}, {"xp", 25, true},    {"zoom", 50, false}, {"size", 51, false},
      {"miss", NO_VALUE, true}};
  if (!proj) return -1;
  for (const Row& row : rows) {
    bool hit = row.whole ? stricmp(proj, row.letters) == 0 : starts_nocase(proj, row.letters);
    if (hit) return row.code;
  }
  return -1;
}

int DOM_set_params(int paramc, char** paramv, Domain* domain, int i1, int i2, int i3, int i4,
                   int i5, int i6, int i7, int i8) {
  std::vector<int> codes = {i1, i2, i3, i4, i5, i6, i7, i8};
  codes.erase(std::find(codes.begin(), codes.end(), 0), codes.end());
  // A station item stands for both centre coordinates.
  for (size_t p = 0; p < codes.size(); ++p) {
    if (codes[p] != 5 || static_cast<int>(p) >= paramc || !starts_nocase(paramv[p], "id:")) continue;
    codes[p] = 4;
    if (p + 1 < codes.size() && codes[p + 1] == 6) codes.erase(codes.begin() + p + 1);
  }
  if (static_cast<int>(codes.size()) != paramc || !domain) return -1;
  DOM_init(domain);
  if (stricmp(paramv[0], "miss") == 0 || stricmp(paramv[0], "none") == 0) return 0;
  for (int p = 0; p < paramc; ++p) {
    int failed = set_item(codes[p], paramv[p], domain);
    if (failed) return failed;
  }
  return 0;
}

int DOM_decode(const char* str, Domain* domain) {
  Domain scratch;
  if (!domain) domain = &scratch;
  DOM_init(domain);
  if (!str || !*str || stricmp(str, "miss") == 0) return NO_VALUE;
  NestingGuard guard;
  std::vector<std::string> items = parse_string(std::string(str), ',');
  MESS_print(M_debugc, "******** PARSING DOMAIN: %d %s\n", static_cast<int>(items.size()), str);
  int result = -1;
  if (state.depth > kMaxNesting) {
    state.too_deep = true;
  } else if (!items.empty()) {
    result = decode_items(items, domain);
  }
  if (state.too_deep) result = -1;
  // Only the outermost decoding reports a nesting overflow, once.
  if (result == -1 && (!state.too_deep || state.depth == 1))
    MESS_print(M_warn, "DOM_decode: Invalid plot domain\n");
  FLAG_set(FLAG_DOMAIN, result);
  FILE_set_key('r', str);
  DOM_set_base_prior((static_cast<float>(domain->ny) - 1.0f) * domain->dy);  // ny may be INT_MIN
  return result;
}

int DOM_set_base_prior(float size) {
  int p = 6;
  if (size > 50) p = 1;
  else if (size > 25) p = 2;
  else if (size > 12.5f) p = 3;
  else if (size > 6.25f) p = 4;
  else if (size > 3) p = 5;
  const char* adjust = RES_get("stat_prior");
  if (adjust) {
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    if (adjust[0] == '+' && digit(adjust[1])) p += adjust[1] - '0';
    else if (adjust[0] == '-' && digit(adjust[1])) p -= adjust[1] - '0';
    else if (digit(adjust[0])) p = adjust[0] - '0';
  }
  state.priority = p;
  return 0;
}

int DOM_get_priority() { return state.priority; }

// ---- Region files ----------------------------------------------------------------

namespace {

// Opens a region file in the file_path directory. An empty name would
// open the standard input, so it never opens.
FILE_ptr open_region_file(const char* file) {
  std::string full;
  if (file && *file) {
    FILE_add_path(RES_get("file_path"), file, full);
    if (FILE_ptr f{FILE_open_regular(full.c_str())}) return f;
  } else {
    full = file ? file : "";
  }
  MESS_print(M_debugd, "Unable to open region file: %s\n", full.c_str());
  return nullptr;
}

// The next whole line, however long: the line reader hands long lines
// out in pieces, which are joined here so a piece never passes for a line.
int read_whole_line(FILE* f, std::string& line) {
  int n = fgetnline(f, line, kLineWidth);
  if (n <= 0) return n;
  std::string piece;
  for (;;) {
    int c = getc(f);
    if (c == EOF) break;
    ungetc(c, f);  // a line feed stays for the next call, as the line reader leaves it
    if (c == '\n' || fgetnline(f, piece, kLineWidth) <= 0) break;
    line += piece;
  }
  return static_cast<int>(line.size());
}

std::vector<std::string> split_words(const std::string& line) {
  std::vector<std::string> words;
  size_t at = 0;
  while (true) {
    at = line.find_first_not_of(" \t\r\f\v", at);
    if (at == std::string::npos) break;
    size_t end = line.find_first_of(" \t\r\f\v", at);
    words.push_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

bool begins_with_int(const std::string& s) {
  int ignored;
  return read_int(s.c_str(), ignored);
}

}  // namespace

int DOM_search_file(const char* file, const char* str, std::string& domstr) {
  FILE_ptr f = open_region_file(file);
  if (!f) return 0;
  std::string line;
  while (read_whole_line(f.get(), line) > 0) {
    if (line[0] == '#') continue;
    std::vector<std::string> words = split_words(line);
    if (words.empty()) return 0;
    // A line without a domain text matches any abbreviation: its first
    // word stands for the domain text.
    if (words.size() < 4 || !begins_with_int(words[2])) {
      domstr = words[0];
      return 1;
    }
    if (str && stricmp(str, words[0].c_str()) != 0) continue;
    domstr = words[3];
    return 1;
  }
  return 0;
}

int DOM_read_menu(const char* file) {
  auto& menu = state.reg_menu;
  if (!state.menu_read) {
    state.menu_read = true;
    for (int i = 1; i <= kMenuLast; ++i) {
      menu[i].name.clear();
      menu[i].abbr.clear();
      menu[i].disp[0] = 0;
    }
  }
  FILE_ptr f = open_region_file(file);
  if (!f) return 0;
  WordReader words(f.get());
  int entry = 1;
  std::string skipped;
  while (entry <= kMenuLast && !words.at_end()) {
    MENU_item& item = menu[entry];
    words.word(item.abbr);
    words.word(item.name, kMenuNameWidth);
    // A display number that is not a number stops the entry there; the
    // next entry starts with that word.
    int disp = 0;
    bool numbered = words.integer(disp);
    item.disp[0] = numbered ? disp : 0;
    if (numbered) words.word(skipped);
    if (item.disp[0] == 0) continue;  // hidden: the same entry takes the next line
    fill_string(item.name, '_', ' ');
    item.index = entry++;
  }
  state.num_regs = entry;
  menu[entry].name.clear();
  return 1;
}

int DOM_get_def_region(const char* region, Domain* domain) {
  struct Builtin {
    const char* name;
    float clat, clon, spacing;
  };
  static const Builtin regions[] = {
      {"us", 39, -97, 2.3f}, {"ne", 42, -76, 0.9f}, {"at", 37, -82, 0.9f},
      {"se", 31, -88, 1.1f}, {"mw", 43, -93, 1.1f}, {"sp", 32.5f, -100, 1.2f},
      {"nw", 44, -112, 1.0f}, {"sw", 37, -112, 1.0f}};
  if (!domain) return 0;
  domain->proj = 1;
  domain->nx = kDefaultNx;
  domain->ny = kDefaultNy;
  domain->dx = domain->dy = kDefaultSpacing;
  if (!region) return 0;
  bool found = false;
  for (const Builtin& b : regions) {
    if (stricmp(region, b.name) != 0) continue;
    domain->clat = b.clat;
    domain->clon = b.clon;
    domain->dx = domain->dy = b.spacing;
    found = true;
  }
  if (!found && stricmp(region, "var") == 0) {
    domain->clat = KIV_promptf("Enter the central latitude: ");
    domain->clon = KIV_promptf("Enter the central longitude: ");
    found = true;
  }
  if (!found) return 0;
  domain->plon = domain->clon;
  DOM_set_base_prior((static_cast<float>(domain->ny) - 1.0f) * domain->dy);
  FLAG_set(FLAG_DOMAIN, 1);
  return 1;
}

std::vector<MENU_item>& DOM_reg_menu() { return state.reg_menu; }

int DOM_num_regs() { return state.num_regs; }

void DOM_reset() { state = DomState{}; }
