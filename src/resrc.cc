// The resource system: the process-wide store of named settings, the table
// of standard resources every program picks its vocabulary from, start-up
// decoding (resource files, loop windows, environment, command line), the
// conversion of values into flags and typed places, and the help text.
//
// State (one ResState, reset by RES_reset):
// - nodes: the store in first-stored order. Each node is allocated on its
//   own, so a pointer handed out by RES_get stays valid while other
//   resources are added; it changes only when that resource is stored
//   again.
// - clargc/clargv: the argument vector remembered by RES_setCL
//   (referenced, not copied).
// - table: the resource table RES_init built, ended by an entry with a
//   null name.
// - version_asked: whether the command line asked for the version.
#include "resrc.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#include "date.h"
#include "def_read.h"
#include "files.h"
#include "flag.h"
#include "mess.h"
#include "mqueue.h"
#include "region.h"
#include "string.h"
#include "system.h"

namespace {

struct ResState {
  std::vector<std::unique_ptr<res_obj>> nodes;
  int clargc = 0;
  char** clargv = nullptr;
  std::vector<RES_defobj> table;
  bool version_asked = false;  // "--version" was an option of the command line
};
ResState state;

res_obj* find_node(const char* name) {
  if (name == nullptr) return nullptr;
  for (auto& node : state.nodes)
    if (node->name == name) return node.get();
  return nullptr;
}

void set_data(res_obj* node, const char* data) {
  node->has_data = data != nullptr;
  node->data = data != nullptr ? data : "";
}

}  // namespace

// ---- Store ---------------------------------------------------------------

int RES_new(int index, const char* name, const char* data, DEF_convert cvt) {
  if (name == nullptr) return -1;
  res_obj* node = find_node(name);
  if (node == nullptr) {
    state.nodes.push_back(std::make_unique<res_obj>());
    node = state.nodes.back().get();
    node->name = name;
  }
  set_data(node, data);
  node->cvt = cvt;
  node->index = index;
  return 0;
}

int RES_append(int index, const char* name, const char* data, DEF_convert cvt) {
  res_obj* node = find_node(name);
  if (node == nullptr) return RES_new(index, name, data, cvt);
  if (data == nullptr) return 0;
  if (node->has_data) {
    node->data += '\n';
    node->data += data;
  } else {
    set_data(node, data);
  }
  return 0;
}

int RES_put(const char* name, const char* value) {
  return RES_new(NO_VALUE, name, value, CV_string);
}

const char* RES_get(const char* name) {
  const res_obj* node = find_node(name);
  return node != nullptr ? node->data.c_str() : nullptr;
}

namespace {
char list_delim(const res_obj& node) { return node.cvt == CV_strings ? '\n' : ','; }
}  // namespace

int RES_getvals(const char* name, int* paramc, char*** paramv) {
  *paramc = 0;
  *paramv = nullptr;
  const res_obj* node = find_node(name);
  if (node == nullptr || !node->has_data) return 0;
  parse_string(node->data.c_str(), list_delim(*node), paramc, paramv);
  return *paramc;
}

std::vector<std::string> RES_getvals(const char* name) {
  const res_obj* node = find_node(name);
  if (node == nullptr || !node->has_data) return {};
  return parse_string(node->data, list_delim(*node));
}

int RES_list() {
  for (const auto& node : state.nodes) {
    if (node->has_data)
      MESS_print(M_printd, "%s: %s\n", node->name.c_str(), node->data.c_str());
    else
      MESS_print(M_printd, "%s:\n", node->name.c_str());
  }
  return 0;
}

int RES_setCL(int argc, char** argv) {
  state.clargc = argc;
  state.clargv = argv;
  return 1;
}

const char* RES_get_prog() {
  if (state.clargv == nullptr || state.clargc < 1) return nullptr;
  return state.clargv[0];
}

// Without a remembered program name the package's own name stands in, so
// qualified names and prompts never work from an empty or missing text.
std::string RES_get_progname() {
  const char* prog = RES_get_prog();
  if (prog == nullptr) return "KIV";
  const char* slash = std::strrchr(prog, '/');
  return slash != nullptr ? slash + 1 : prog;
}

const std::vector<const res_obj*> RES_nodes() {
  std::vector<const res_obj*> out;
  out.reserve(state.nodes.size());
  for (const auto& node : state.nodes) out.push_back(node.get());
  return out;
}

// ---- Table ---------------------------------------------------------------

namespace {

struct TableRow {
  res_type id;
  const char* def;
  const char* env;
  const char* cmd;  // nullptr for a positional row
  int slot;
  DEF_convert cvt;
};

// The standard resources. Rows that share a long name share their
// environment variable; "in" is both RES_input's and RES_con_interval's
// abbreviation, and a program listing both gets the first in its table.
constexpr TableRow kTable[] = {
    {RES_background, "background", "kivbackground", "bg", 0, CV_color},
    {RES_batch, "batch", "kivbatch", "ba", 0, CV_batch},
    {RES_bull_file, "bull_file", "kivbullfile", "bf", 0, CV_string},
    {RES_city_file, "city_file", "kivcityfile", "cf", 0, CV_string},
    {RES_color_clabel, "color_clabel", "kivcclabel", "ccl", 0, CV_color},
    {RES_color_cloud, "color_cloud", "kivccloud", "cco", 0, CV_color},
    {RES_color_cmap, "color_cmap", "kivccmap", "ccm", 0, CV_color},
    {RES_color_cont, "color_cont", "kivccont", "cc", 0, CV_color},
    {RES_color_data, "color_data", "kivcdata", "cda", 0, CV_color},
    {RES_color_fill, "color_fill", "kivcfill", "cfi", 0, CV_color},
    {RES_color_front, "color_front", "kivcfront", "cfr", 0, CV_color},
    {RES_color_grid, "color_grid", "kivcgrid", "cg", 0, CV_color},
    {RES_color_hodo, "color_hodo", "kivchodo", "cho", 0, CV_color},
    {RES_color_hodtxt, "color_hodtxt", "kivchodtxt", "cht", 0, CV_color},
    {RES_color_label, "color_label", "kivclabel", "cl", 0, CV_color},
    {RES_color_line, "color_line", "kivcline", "cli", 0, CV_color},
    {RES_color_map, "color_map", "kivcmap", "cm", 0, CV_color},
    {RES_color_pop, "color_pop", "kivcpop", "cpo", 0, CV_color},
    {RES_color_sound, "color_sound", "kivcsound", "cso", 0, CV_color},
    {RES_color_table, "color_table", "kivctable", "ct", 0, CV_string},
    {RES_color_text, "color_text", "kivctext", "ctx", 0, CV_color},
    {RES_color_therm, "color_therm", "kivctherm", "cth", 0, CV_color},
    {RES_color_thrmtxt, "color_thrmtxt", "kivcthrmtxt", "ctt", 0, CV_color},
    {RES_color_wind, "color_wind", "kivcwind", "cw", 0, CV_color},
    {RES_color_wx, "color_wx", "kivcwx", "cwx", 0, CV_color},
    {RES_command, "command", "kivcommand", nullptr, 10, CV_strings},
    {RES_commands, "command", "kivcommand", "cd", 0, CV_string},
    {RES_con_base, "con_base", "kivconbase", "cb", 0, CV_string},
    {RES_con_interval, "con_interval", "kivconint", "in", 0, CV_string},
    {RES_con_path, "con_path", "kivcon", "cp", 0, CV_path},
    {RES_current, "current", "kivcurrent", "cu", 0, CV_current},
    {RES_data_path, "data_path", "kivdata", "dp", 0, CV_path},
    {RES_draw, "draw", "kivdraw", "dr", 0, CV_draw},
    {RES_decode_hour, "decode_hour", "kivdecodehour", "dh", 0, CV_string},
    {RES_device, "device", "kivdevice", "de", 0, CV_device},
    {RES_file_param, "file_param", "kivfileparam", "pf", 0, CV_file_param},
    {RES_file_path, "file_path", "kivfile", "fp", 0, CV_path},
    {RES_filename, "filename", "kivfilename", nullptr, 1, CV_strcpy},
    {RES_filenames, "filename", "kivfilename", nullptr, 10, CV_strings},
    {RES_font_list, "font_list", "kivfont", "fl", 0, CV_string},
    {RES_forecast, "forecast", "kivforecast", "fc", 0, CV_string},
    {RES_geometry, "geometry", "kivgeometry", "ge", 0, CV_string},
    {RES_grid_num, "grid_num", "kivgridnum", "gn", 0, CV_int},
    {RES_grid_path, "grid_path", "kivgrid", "gp", 0, CV_path},
    {RES_grid_type, "grid_type", "kivgridtype", "gt", 0, CV_string},
    {RES_help, "help", "kivhelp", "h", 0, CV_help},
    {RES_hour, "hour", "kivhour", "ho", 0, CV_hour},
    {RES_icon, "icon", "kivicon", "ic", 0, CV_bool},
    {RES_identifier, "identifier", "kivident", "id", 0, CV_string},
    {RES_image_path, "image_path", "kivimage", "ip", 0, CV_string},
    {RES_in_file, "in_file", "kivinfile", "if", 0, CV_string},
    {RES_in_files, "in_file", "kivinfile", "if", 0, CV_string},
    {RES_ingestor, "ingestor", "kivingestor", "ig", 0, CV_ingestor},
    {RES_input, "input", "kivin", "in", 0, CV_string},
    {RES_label, "label", "kivlabel", "la", 0, CV_string},
    {RES_level, "level", "kivlevel", "le", 0, CV_string},
    {RES_map_file, "map_file", "kivmapfile", "mf", 0, CV_string},
    {RES_message, "message", "kivmess", "me", 0, CV_mess},
    {RES_model, "model", "kivmodel", "mo", 0, CV_string},
    {RES_name_conv, "name_conv", "kivnameconv", "nc", 0, CV_name},
    {RES_num_hour, "num_hour", "kivnumhour", "nh", 0, CV_string},
    {RES_object_param, "object_param", "kivobjparam", "op", 0, CV_string},
    {RES_out_file, "out_file", "kivoutfile", "of", 0, CV_string},
    {RES_output, "output", "kivout", "ou", 0, CV_string},
    {RES_parameter, "parameter", "kivparam", "pa", 0, CV_string},
    {RES_plot_domain, "plot_domain", "kivplotdomain", "pd", 0, CV_domain},
    {RES_plot_format, "plot_format", "kivplotformat", "pfm", 0, CV_string},
    {RES_plot_param, "plot_param", "kivplotparam", "pp", 0, CV_string},
    {RES_plot_scale, "plot_scale", "kivplotscale", "ps", 0, CV_float},
    {RES_plot_type, "plot_type", "kivplottype", "pt", 0, CV_plot_type},
    {RES_product, "product", "kivproduct", "pr", 0, CV_string},
    {RES_raw_path, "raw_path", "kivraw", "rp", 0, CV_path},
    {RES_region, "region", "kivregion", "re", 0, CV_region},
    {RES_stat_prior, "stat_prior", "kivstatprior", "spr", 0, CV_int},
    {RES_state, "state", "kivstate", "st", 0, CV_string},
    {RES_table, "table", "kivtable", "ta", 0, CV_string},
    {RES_time, "time", "kivtime", "ti", 0, CV_string},
    {RES_title, "title", "kivtitle", "tt", 0, CV_string},
    {RES_values, "values", "kivvalues", "va", 0, CV_string},
    {RES_variable, "variable", "kivvariable", "vr", 0, CV_string},
    {RES_watch_path, "watch_path", "kivwatch", "wp", 0, CV_path},
    {RES_window_num, "window_num", "kivwindow", "wn", 0, CV_int},
    {RES_color_watch, "color_watch", "kivcwatch", "cwa", 0, CV_color},
    {RES_log_file, "log_file", "kivlogfile", "lf", 0, CV_string},
    {RES_grid_domain, "grid_domain", "kivgriddomain", "gd", 0, CV_domain},
    {RES_inputg, "input", "kivin", "inp", 0, CV_string},
    {RES_text_path, "text_path", "kivtext", "tp", 0, CV_path},
    {RES_model_path, "model_path", "kivmpath", "mp", 0, CV_path},
    {RES_sat_path, "sat_path", "kivsat", "sp", 0, CV_path},
    {RES_newest, "newest", "kivnewest", "ne", 0, CV_string},
    {RES_header_cache, "header_cache", "kivcache", "hc", 0, CV_string},
    {RES_timeout, "timeout", "kivtimeout", "to", 0, CV_string},
};

const TableRow* find_row(res_type key) {
  for (const TableRow& row : kTable)
    if (row.id == key) return &row;
  return nullptr;
}

}  // namespace

int RES_fill_obj(RES_defobj* obj, const char* def, const char* env, const char* cmd,
                 DEF_convert cvt, void* out, int* num, int slot) {
  obj->def = def;
  obj->env = env;
  obj->cmd = cmd;
  obj->slot = slot;
  obj->cvt = cvt;
  obj->out = out;
  obj->num = num;
  return 1;
}

int RES_enter(RES_defobj* obj, res_type key) {
  const TableRow* row = find_row(key);
  if (row == nullptr) {
    // Straight to standard output: a programming slip in a program's id
    // list must show even when messages are silenced.
    std::printf("%d\n", static_cast<int>(key));
    std::fflush(stdout);
    return RES_fill_obj(obj, "", nullptr, nullptr, CV_none, nullptr, nullptr, 0);
  }
  return RES_fill_obj(obj, row->def, row->env, row->cmd, row->cvt, nullptr, nullptr, row->slot);
}

const std::vector<RES_defobj>& RES_get_table() { return state.table; }

bool RES_version_asked() { return state.version_asked; }

// ---- Conversion ----------------------------------------------------------

namespace {

// Reads "%d"-style fields with sscanf, so missing trailing fields keep the
// "not set" marker the caller put there.
void scan_fields(const char* text, const char* fmt, int* a, int* b, int* c = nullptr) {
  if (c != nullptr)
    std::sscanf(text, fmt, a, b, c);
  else
    std::sscanf(text, fmt, a, b);
}

bool starts_with_digit(const char* text) {
  return std::isdigit(static_cast<unsigned char>(text[0])) != 0;
}

// Hour and minute, "-0:MM" meaning MM minutes back.
void decode_hour_minute(const char* text, Date* date) {
  int hour = NO_VALUE, min = NO_VALUE;
  scan_fields(text, "%d:%d", &hour, &min);
  if (text[0] == '-' && hour == 0) {
    hour = NO_VALUE;
    if (min != NO_VALUE) min = -min;
  }
  date->hour = hour;
  date->min = min;
}

void decode_minute(const char* text, Date* date, bool negate) {
  int min = NO_VALUE;
  if (std::sscanf(text, "%d", &min) == 1 && negate) min = -min;
  date->min = min;
}

bool word_is(const char* text, const char* word) { return stricmp(text, word) == 0; }

void convert_file_param(const char* text) {
  struct Word { const char* word; int value; };
  static const Word words[] = {{"use", FILE_KEEP},    {"over", FILE_NEW},
                               {"calc", FILE_NEW},    {"reuse", FILE_KEEP},
                               {"recalc", FILE_NEW},  {"app", FILE_APPEND}};
  for (const Word& w : words) {
    if (word_is(text, w.word)) {
      FLAG_set(FLAG_FILE_PARAM, w.value);
      return;
    }
  }
  // The policy stays unset: batch runs keep, a terminal asks. An empty
  // value is no word at all, so nothing was mistyped.
  if (text[0] != '\0') MESS_print(M_warn, "Unknown file parameter: %s (use, calc, over, app)\n", text);
}

void convert_plot_type(const char* text) {
  struct Word { const char* word; int value; };
  static const Word words[] = {
      {"raw", 0},    {"none", 99},  {"value", 17},  {"gvalue", 17}, {"cf", 15},
      {"lcf", 16},   {"ln", 12},    {"dln", 13},    {"ndln", 14},   {"vect", 21},
      {"barb", 22},  {"strm", 23},  {"stream", 23}, {"an", 54},     {"number", 54},
      {"pm", 55},    {"stuve", 61}, {"skewt", 62},  {"ema", 63},    {"teph", 64},
      {"rteph", 65}, {"hodo", 69}};
  for (const Word& w : words)
    if (word_is(text, w.word)) FLAG_set(FLAG_PLOT_TYPE, w.value);
}

void apply_draw_word(const std::string& word, int on) {
  struct Word { const char* word; int type; };
  static const Word words[] = {{"text_ul", 1}, {"text_uc", 2}, {"text_ur", 3}, {"text_ll", 4},
                               {"text_lc", 5}, {"text_lr", 6}, {"data", 7},    {"map", 8},
                               {"grid", 9},    {"sum", 10},    {"bord", 11}};
  if (word_is(word.c_str(), "none")) return (void)FLAG_setplot(12, 0);
  if (word_is(word.c_str(), "all")) return (void)FLAG_setplot(12, 1);
  if (word_is(word.c_str(), "text")) {
    FLAG_setplot(0, on);
    FLAG_setplot(11, on);
    return;
  }
  for (const Word& w : words)
    if (word_is(word.c_str(), w.word)) FLAG_setplot(w.type, on);
}

void convert_draw(const char* text) {
  std::vector<std::string> items = parse_string(std::string(text), ',');
  for (size_t i = 0; i < items.size(); ++i) {
    std::string word = items[i];
    int on = 1;
    if (!word.empty() && (word[0] == '+' || word[0] == '-')) {
      on = word[0] == '+' ? 1 : 0;
      word.erase(0, 1);
    } else if (i == 0) {
      FLAG_resetplot(0);
    }
    apply_draw_word(word, on);
  }
}

// Keeps a converted number inside the target type instead of wrapping.
template <typename T>
T clamp_to(long long value) {
  if (value > static_cast<long long>(std::numeric_limits<T>::max()))
    return std::numeric_limits<T>::max();
  if (value < static_cast<long long>(std::numeric_limits<T>::min()))
    return std::numeric_limits<T>::min();
  return static_cast<T>(value);
}

void convert_int(const char* text, int* out) {
  char c = text[0];
  if (!starts_with_digit(text) && c != '-' && c != '+') return;
  bool hex = text[1] == 'x' || text[1] == 'X';
  *out = clamp_to<int>(std::strtoll(text, nullptr, hex ? 16 : 10));
}

void convert_path(const char* text, std::string* out) {
  if (word_is(text, "none")) {
    out->clear();
    return;
  }
  *out = text;
  FILE_add_path_delim(*out);
}

void convert_device(const char* text, const char** out) {
  std::vector<std::string> items = parse_string(std::string(text), ',');
  FLAG_set(FLAG_DEVICE, items.empty() ? 1 : RES_set_device(items[0].c_str()));
  if (items.size() >= 2) *out = std::strchr(text, ',') + 1;
}

// The kinds that need an output place.
int convert_into(const char* data, void* out, DEF_convert cvt) {
  switch (cvt) {
    case CV_int: convert_int(data, static_cast<int*>(out)); break;
    case CV_short:
      if (starts_with_digit(data))
        *static_cast<short*>(out) = clamp_to<short>(std::strtoll(data, nullptr, 10));
      break;
    case CV_long:
      if (starts_with_digit(data))
        *static_cast<long*>(out) = clamp_to<long>(std::strtoll(data, nullptr, 10));
      break;
    case CV_float: *static_cast<float*>(out) = std::strtof(data, nullptr); break;
    case CV_color:
      *static_cast<long*>(out) = clamp_to<long>(std::strtoll(data, nullptr, 10));
      break;
    case CV_string: *static_cast<const char**>(out) = data; break;
    case CV_strcpy: *static_cast<std::string*>(out) = data; break;
    case CV_path: convert_path(data, static_cast<std::string*>(out)); break;
    case CV_region:
    case CV_domain: DOM_decode(data, static_cast<Domain*>(out)); break;
    case CV_device: convert_device(data, static_cast<const char**>(out)); break;
    default: break;
  }
  return 1;
}

void convert_bool(const char* data, int* out) {
  if (data == nullptr) {
    *out = 1;
  } else if (word_is(data, "true") || word_is(data, "on") || word_is(data, "yes")) {
    *out = 1;
  } else if (word_is(data, "false") || word_is(data, "off") || word_is(data, "no")) {
    *out = 0;
  }
}

}  // namespace

int RES_parse_hour(const char* text, Date* date) {
  date->year = date->month = date->day = date->hour = date->min = NO_VALUE;
  if (text == nullptr) return 0;
  size_t len = std::strlen(text);
  bool colon = std::strchr(text, ':') != nullptr;
  if (text[0] == '#')
    DATE_read_stamp(text, 1, *date, DATE_step::width);
  else if (len == 6 && !colon)
    scan_fields(text, "%2d%2d%2d", &date->month, &date->day, &date->hour);
  else if (len == 4 && !colon && starts_with_digit(text))
    scan_fields(text, "%2d%2d", &date->day, &date->hour);
  else if (len == 3 && !colon && starts_with_digit(text))
    scan_fields(text, "%1d%2d", &date->day, &date->hour);
  else if (std::strchr(text, 'd') != nullptr)
    scan_fields(text, "%dd%d:%d", &date->day, &date->hour, &date->min);
  else if (text[0] == ':')
    decode_minute(text + 1, date, false);
  else if (std::strncmp(text, "-:", 2) == 0)
    decode_minute(text + 2, date, true);
  else
    decode_hour_minute(text, date);
  return 1;
}

int RES_conv_data(const char* data, void* out, DEF_convert cvt) {
  if (cvt == CV_batch) {
    FLAG_set(FLAG_BATCH, 1);
    if (!MESS_check_set()) MESS_set(MESS_SET, M_warn);
    return 1;
  }
  if (cvt == CV_help) {
    FLAG_set(FLAG_HELP, 1);
    return 1;
  }
  if (cvt == CV_bool && out != nullptr) {
    convert_bool(data, static_cast<int*>(out));
    return 1;
  }
  if (data == nullptr) return 0;
  switch (cvt) {
    case CV_mess: MESS_set_str(data); return 1;
    case CV_hour: {
      Date date;
      RES_parse_hour(data, &date);
      FILE_set_time(date);
      return 1;
    }
    case CV_file_param: convert_file_param(data); return 1;
    case CV_plot_type: convert_plot_type(data); return 1;
    case CV_draw: convert_draw(data); return 1;
    default: break;
  }
  if (out == nullptr) return 0;
  return convert_into(data, out, cvt);
}

int RES_set_device(const char* str) {
  if (str == nullptr) return 1;
  switch (str[0]) {
    case 'p': case 'P': return 4;
    case 'h': case 'H': case 'q': case 'Q': return 5;
    case 'm': case 'M': return 3;
    case 'w': case 'W': return 6;
    default: return 1;
  }
}

// ---- Decoding ------------------------------------------------------------

namespace {

constexpr const char* kDefaultSearchList = ".:/home/kiv/etc:/usr/local/kiv/etc";

bool is_letter(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }

// 1 for "-x...", 2 for "--x..." (x a letter), 0 for anything else.
int keyed_dashes(const char* arg) {
  if (arg[0] != '-') return 0;
  if (is_letter(arg[1])) return 1;
  if (arg[1] == '-' && is_letter(arg[2])) return 2;
  return 0;
}

bool single_dash_keyed(const char* arg) { return arg[0] == '-' && is_letter(arg[1]); }

// One keyed argument split into its name and value; `took_next` tells
// whether the value is the following argument.
struct Option {
  std::string name;
  const char* value = nullptr;
  std::string inline_value;
  bool took_next = false;
};

Option split_option(int argc, char** argv, int i, int dashes) {
  Option opt;
  const char* body = argv[i] + dashes;
  const char* eq = std::strchr(body, '=');
  if (eq != nullptr) {
    opt.name.assign(body, eq);
    opt.inline_value = eq + 1;
    opt.value = opt.inline_value.c_str();
  } else {
    opt.name = body;
    if (i + 1 < argc && !single_dash_keyed(argv[i + 1])) {
      opt.value = argv[i + 1];
      opt.took_next = true;
    }
  }
  return opt;
}

bool has_name(const RES_defobj& entry) { return entry.def != nullptr && entry.def[0] != '\0'; }

bool is_keyed(const RES_defobj& entry) { return has_name(entry) && entry.cmd != nullptr; }

int table_size(const RES_defobj* table) {
  int n = 0;
  while (table != nullptr && table[n].def != nullptr) ++n;
  return n;
}

// A connection to a loop window; active while conn >= 0.
struct Window {
  int qid = -1;
  int conn = -1;
  bool active() const { return conn >= 0; }
};

// Reads replies until one carries a non-zero code; returns that code.
int drain_replies(const Window& win) {
  std::string text;
  int code;
  while ((code = MQ_get(win.qid, win.conn, text)) == 0) {
  }
  return code;
}

struct Decoder {
  int argc;
  char** argv;
  RES_defobj* table;
  int count;
  Window window;

  // The search list (-df) and the instance name (-name), which must be
  // known before any resource file is read; matched case-sensitively
  // after a single dash.
  void read_early_options() {
    for (int i = 1; i < argc; ++i) {
      if (!single_dash_keyed(argv[i])) continue;
      Option opt = split_option(argc, argv, i, 1);
      if (opt.took_next) ++i;
      if (opt.value == nullptr) continue;
      if (std::strncmp("name", opt.name.c_str(), opt.name.size()) == 0 && opt.name.size() <= 4) {
        RES_new(NO_VALUE, "name", opt.value, CV_string);
        DEF_name(opt.value);
      } else if (opt.name.rfind("default", 0) == 0 || opt.name.rfind("df", 0) == 0) {
        RES_new(NO_VALUE, "default", opt.value, CV_string);
      }
    }
  }

  void read_file_line(const std::string& name, const std::string& value) {
    bool selected = false;
    for (int i = 0; i < count; ++i) {
      if (!has_name(table[i]) || DEF_cmp(table[i].def, name.c_str()) == 0) continue;
      MESS_print(M_debugd, "RESRC: %s=%s\n", name.c_str(), value.c_str());
      RES_new(i, table[i].def, value.c_str(), table[i].cvt);
      selected = true;
    }
    if (selected || DEF_valid(name.c_str()) == 0) return;
    std::string last;
    DEF_parse_name(name.c_str(), last);
    RES_new(NO_VALUE, last.c_str(), value.c_str(), CV_string);
  }

  void read_file(const std::string& entry) {
    if (DEF_open(entry.c_str()) == 0) {
      std::string name, value;
      while (DEF_get(name, value) == 1) read_file_line(name, value);
    }
    DEF_close();
  }

  // A request the queue refused (too long) gets no reply, so it is never
  // waited for.
  bool request(const std::string& text) {
    return MQ_put(window.qid, window.conn, "%s", text.c_str()) == 0;
  }

  void query_window() {
    int pending = 0;
    std::vector<bool> asked(count, false);
    for (int i = 0; i < count; ++i)
      if (has_name(table[i])) asked[i] = request(std::string("query res ") + table[i].def);
    for (int i = 0; i < count; ++i) {
      if (!asked[i]) continue;
      bool arrived = false;
      std::string text;
      int code;
      while ((code = MQ_get(window.qid, window.conn, text)) == 0) {
        if (text.empty() || text[0] == '!' || text[0] == '\n') continue;
        text.pop_back();
        RES_new(i, table[i].def, text.c_str(), table[i].cvt);
        arrived = true;
      }
      const res_obj* node = find_node(table[i].def);
      if (!arrived && node != nullptr && node->has_data &&
          request(std::string("set res ") + table[i].def + " " + node->data))
        ++pending;
      if (code == -3) MESS_print(M_warn, "VAVuzar not running!\n");
    }
    for (; pending > 0; --pending) drain_replies(window);
  }

  void open_window(const std::string& number) {
    window = Window{};
    errno = 0;
    // No number, or one beyond any key, names no window: MQ_open refuses 0.
    char* end = nullptr;
    long key = std::strtol(number.c_str(), &end, 10);
    bool fits = end != number.c_str() && key > 0 && key <= std::numeric_limits<int>::max();
    int qid = MQ_open(fits ? static_cast<int>(key) : 0);
    if (qid == -1 && errno == ENOENT) {
      MESS_print(M_warn, "VAVuzar window: %s not running or no message queue exists\n",
                 number.c_str());
      return;
    }
    int conn = MQ_connect(qid);
    if (conn < 0) {
      MESS_print(M_warn, "VAVuzar window: %s unable to connect\n", number.c_str());
      return;
    }
    window = Window{qid, conn};
    query_window();
  }

  // Resource files, loop windows and tags, in the order of the search list.
  void read_search_list() {
    const char* value = RES_get("default");
    std::string list = value != nullptr ? value : kDefaultSearchList;
    std::vector<std::string> entries = parse_string(list, ':');
    if (entries.empty()) entries.emplace_back();
    DEF_clr_tag();
    for (const std::string& entry : entries) {
      if (!entry.empty() && entry[0] == '+')
        DEF_tag(entry.c_str() + 1);  // the module keeps its own copy
      else if (!entry.empty() && entry[0] == '#')
        open_window(entry.substr(1));
      else
        read_file(entry);
    }
  }

  // The environment variable of every table resource.
  void read_environment() {
    for (int i = 0; i < count; ++i) {
      std::string value;
      if (has_name(table[i]) && DEF_env(table[i].def, table[i].env, value) == 1)
        RES_new(i, table[i].def, value.c_str(), table[i].cvt);
    }
  }

  int lookup_keyed(const std::string& name) const {
    for (int i = 0; i < count; ++i)
      if (is_keyed(table[i]) && stricmp(name.c_str(), table[i].cmd) == 0) return i;
    for (int i = 0; i < count; ++i)
      if (is_keyed(table[i]) && stricmp(name.c_str(), table[i].def) == 0) return i;
    return -1;
  }

  int lookup_prefix(const std::string& name) const {
    for (int i = 0; i < count; ++i)
      if (is_keyed(table[i]) && strnicmp(table[i].def, name.c_str(), name.size()) == 0) return i;
    return -1;
  }

  static bool early_option(const std::string& name) {
    bool name_prefix = name.size() <= 4 && strnicmp("name", name.c_str(), name.size()) == 0;
    return name_prefix || strnicmp(name.c_str(), "default", 7) == 0 ||
           strnicmp(name.c_str(), "df", 2) == 0;
  }

  // One keyed option of the main pass; returns the index of the last
  // argument it used.
  int keyed(int i, int dashes) {
    if (std::strcmp(argv[i], "--version") == 0) state.version_asked = true;
    Option opt = split_option(argc, argv, i, dashes);
    if (early_option(opt.name)) return i + (opt.took_next ? 1 : 0);
    int idx = lookup_keyed(opt.name);
    if (idx < 0) idx = lookup_prefix(opt.name);
    if (idx < 0) {
      // Not forwarded to a loop window: it has no long name the window knows.
      RES_new(NO_VALUE, opt.name.c_str(), opt.value, CV_string);
      return i + (opt.took_next ? 1 : 0);
    }
    const RES_defobj& entry = table[idx];
    bool no_value_kind = entry.cvt == CV_bool || entry.cvt == CV_batch || entry.cvt == CV_help;
    if (opt.took_next && no_value_kind) {
      opt.took_next = false;
      opt.value = nullptr;
    }
    RES_new(idx, entry.def, opt.value, entry.cvt);
    if (window.active()) {
      std::string set = std::string("set res ") + entry.def + " " + (opt.value ? opt.value : "");
      if (request(set)) drain_replies(window);
    }
    return i + (opt.took_next ? 1 : 0);
  }

  int slot_entry(int number) const {
    for (int i = 0; i < count; ++i)
      if (has_name(table[i]) && table[i].cmd == nullptr && table[i].slot == number) return i;
    for (int i = 0; i < count; ++i)
      if (has_name(table[i]) && table[i].cmd == nullptr && table[i].slot == 10) return i;
    return -1;
  }

  void positional(const char* arg, int number) {
    int idx = slot_entry(number);
    if (idx < 0) return;
    const RES_defobj& entry = table[idx];
    if (entry.slot == 10 && number > 1)
      RES_append(idx, entry.def, arg, entry.cvt);
    else
      RES_new(idx, entry.def, arg, entry.cvt);
  }

  // Keyed options by abbreviation, long name or prefix; other words fill
  // the positional entries.
  void read_command_line() {
    int number = 0;
    for (int i = 1; i < argc; ++i) {
      if (std::strcmp(argv[i], "--") == 0) continue;
      int dashes = keyed_dashes(argv[i]);
      if (dashes > 0)
        i = keyed(i, dashes);
      else
        positional(argv[i], ++number);
    }
  }

  // Ends the dialogue with the loop window the search list connected.
  void close_window() {
    if (!window.active()) return;
    if (request("quit")) drain_replies(window);
    window = Window{};
  }

  void convert_one(const res_obj& node) {
    if (node.index < 0 || node.index >= count) return;
    const RES_defobj& entry = table[node.index];
    const char* data = node.has_data ? node.data.c_str() : nullptr;
    if (node.cvt == CV_strings && entry.out != nullptr) {
      int items = 0;
      parse_string(data, '\n', &items, static_cast<char***>(entry.out));
      if (entry.num != nullptr) *entry.num = items;
      return;
    }
    RES_conv_data(data, entry.out, node.cvt);
  }

  // Converts every table resource once, in store order.
  void convert_values() {
    for (size_t n = 0; n < state.nodes.size(); ++n)
      if (state.nodes[n]->index != NO_VALUE) convert_one(*state.nodes[n]);
  }
};

}  // namespace

int RES_decode(const char* /*progname*/, const char* /*cls*/, int argc, char** argv,
               RES_defobj* def_table) {
  // The order of the calls below is the precedence: every source stores
  // with RES_new and so replaces what an earlier one stored. Resource
  // files and loop windows come first, the environment beats them, and
  // the command line beats both.
  RES_setCL(argc, argv);
  DEF_prog();
  if (const char* list = std::getenv("kivdefault"))
    RES_new(NO_VALUE, "default", list, CV_string);
  Decoder decoder{argc, argv, def_table, table_size(def_table), Window{}};
  decoder.read_early_options();
  decoder.read_search_list();
  decoder.read_environment();
  decoder.read_command_line();
  decoder.close_window();
  decoder.convert_values();
  return 0;
}

int RES_init(int argc, char** argv, const res_type* res_key, const res_type* res_pos) {
  FLAG_reset(NO_VALUE);
  state.table.clear();
  for (const res_type* list : {res_key, res_pos}) {
    for (const res_type* id = list; id != nullptr && *id != RES_null; ++id) {
      RES_defobj entry;
      RES_enter(&entry, *id);
      state.table.push_back(entry);
    }
  }
  state.table.push_back(RES_defobj{});
  RES_decode(argc > 0 ? argv[0] : nullptr, "Kiv", argc, argv, state.table.data());
  if (const char* tz = std::getenv("kivtz")) DATE_set_TZ(tz);
  return 1;
}

// ---- Help ----------------------------------------------------------------

namespace {

constexpr const char* kDomainLine =
    "               proj,lat,lon,param,clat,clon,dx,dy,nx,ny or a region name";

// One help entry. An entry with further lines and no description prints
// its option text alone on the first line.
struct HelpRow {
  res_type id;
  const char* option;
  const char* description;  // nullptr: option text alone
  const char* more[2];
};

constexpr HelpRow kHelp[] = {
    {RES_background, "-bg color", "Background colour", {}},
    {RES_batch, "-ba", "Run program in batch mode", {}},
    {RES_bull_file, "-bf file", "Bulletin file name", {}},
    {RES_city_file, "-cf file", "City database file name", {}},
    {RES_color_clabel, "-ccl color", "Contour label colour", {}},
    {RES_color_cloud, "-cco color", "Cloud colour", {}},
    {RES_color_cmap, "-ccm color", "County map colour", {}},
    {RES_color_cont, "-cc color", "Contour colour", {}},
    {RES_color_data, "-cda color", "Data colour", {}},
    {RES_color_fill, "-cfi color", "Fill colour", {}},
    {RES_color_front, "-cfr color", "Front colour", {}},
    {RES_color_grid, "-cg color", "Grid colour", {}},
    {RES_color_hodo, "-cho color", "Hodograph colour", {}},
    {RES_color_hodtxt, "-cht color", "Hodograph text colour", {}},
    {RES_color_label, "-cl color", "Label colour", {}},
    {RES_color_line, "-cli color", "Line colour", {}},
    {RES_color_map, "-cm color", "Map colour", {}},
    {RES_color_pop, "-cpo color", "Probability of precipitation colour", {}},
    {RES_color_sound, "-cso color", "Sounding colour", {}},
    {RES_color_table, "-ct file", "Colour table file name", {}},
    {RES_color_text, "-ctx color", "Text colour", {}},
    {RES_color_therm, "-cth color", "Thermodynamic diagram colour", {}},
    {RES_color_thrmtxt, "-ctt color", "Thermodynamic diagram text colour", {}},
    {RES_color_wind, "-cw color", "Wind colour", {}},
    {RES_color_wx, "-cwx color", "Weather symbol colour", {}},
    {RES_command, "command [command...]", "Commands to run", {}},
    {RES_commands, "-cd command", "Command to run", {}},
    {RES_con_base, "-cb base[,...]", "Contour base value", {}},
    {RES_con_interval, "-in int[,...]", "Contour interval", {}},
    {RES_con_path, "-cp path", "Converted data path", {}},
    {RES_current, "-cu [hour]", "Use current data file", {}},
    {RES_data_path, "-dp path", "Raw data path", {}},
    {RES_draw, "-dr item[,...]", "Draw items: none,all,text,data,map,grid,sum,bord", {}},
    {RES_decode_hour, "-dh hour", "Hour to decode", {}},
    {RES_device, "-de dev[,name]", "Output device: display,printer,hardcopy,meta,window", {}},
    {RES_file_param, "-pf param", "File parameters: use,calc,over,app", {}},
    {RES_file_path, "-fp path", "File path", {}},
    {RES_filename, "file", "Input file name", {}},
    {RES_filenames, "file [file...]", "Input file names", {}},
    {RES_font_list, "-fl font[,...]", "Font list", {}},
    {RES_forecast, "-fc hour", "Forecast hour", {}},
    {RES_geometry, "-ge geom", "Window geometry", {}},
    {RES_grid_num, "-gn num", "Grid number", {}},
    {RES_grid_path, "-gp path", "Gridded data path", {}},
    {RES_grid_type, "-gt type", "Grid type", {}},
    {RES_help, "-h", "Print this help", {}},
    {RES_hour, "-ho hour", "Actual hour of the file", {}},
    {RES_icon, "-ic", "Start as an icon", {}},
    {RES_identifier, "-id ident", "Specific station identifier", {}},
    {RES_image_path, "-ip path", "Image file path", {}},
    {RES_in_file, "-if type", "Input data file type", {}},
    {RES_in_files, "-if type[,...]", "Input data file types", {}},
    {RES_ingestor, "-ig name", "Ingestor name", {}},
    {RES_input, "-in file", "Input file", {}},
    {RES_label, "-la text", "Plot label", {}},
    {RES_level, "-le level", "Vertical level", {}},
    {RES_map_file, "-mf file", "Map file name", {}},
    {RES_message, "-me level", "Message level to be displayed:",
     {"               none,print,error,warn,mess,out1,*out2,out3,out4,debug"}},
    {RES_model, "-mo model", "Model name", {}},
    {RES_name_conv, "-nc type", "Naming convention file name", {}},
    {RES_num_hour, "-nh hour[,step]", "Number of hours to view", {}},
    {RES_object_param, "-op param[,...]", nullptr,
     {"             Object parameters:", "               type,color,size,style,label"}},
    {RES_out_file, "-of type", "Output file type", {}},
    {RES_output, "-ou type", "Type of output", {}},
    {RES_parameter, "-pa param[,...]", "Program parameters", {}},
    {RES_plot_domain, "-pd domain", nullptr, {"             Plot domain:", kDomainLine}},
    {RES_plot_format, "-pfm format", "Plot format", {}},
    {RES_plot_param, "-pp param[,...]", "Plot parameters", {}},
    {RES_plot_scale, "-ps scale", "Plot scale factor", {}},
    {RES_plot_type, "-pt type", "Plot type: raw,value,cf,ln,vect,barb,strm,skewt,...", {}},
    {RES_product, "-pr product", "Product name", {}},
    {RES_raw_path, "-rp path", "Raw files path", {}},
    {RES_region, "-re region", nullptr, {"             Map region:", kDomainLine}},
    {RES_stat_prior, "-spr prior", "Station priority", {}},
    {RES_state, "-st state", "State or province", {}},
    {RES_table, "-ta file", "Table file name", {}},
    {RES_time, "-ti time", "Time of the data", {}},
    {RES_title, "-tt text", "Plot title", {}},
    {RES_values, "-va val[,...]", "Values", {}},
    {RES_variable, "-vr var[,...]", "Variable names", {}},
    {RES_watch_path, "-wp path", "Watch file data path", {}},
    {RES_window_num, "-wn num", "Loop window number", {}},
    {RES_color_watch, "-cwa color", "Watch box colour", {}},
    {RES_log_file, "-lf file", "Log file name", {}},
    {RES_grid_domain, "-gd domain", nullptr, {"             Grid domain:", kDomainLine}},
    {RES_inputg, "-inp file", "Gridded input file", {}},
    {RES_text_path, "-tp path", "Text file path", {}},
    {RES_model_path, "-mp path", "Model file path", {}},
    {RES_sat_path, "-sp path", "Satellite file path", {}},
    {RES_newest, "-ne count", "Only the newest count products", {}},
    {RES_header_cache, "-hc dir", "Directory of cached remote header files", {}},
    {RES_timeout, "-to seconds", "Time a remote server may stay silent", {}},
};

const HelpRow* find_help(res_type id) {
  for (const HelpRow& row : kHelp)
    if (row.id == id) return &row;
  return nullptr;
}

}  // namespace

int RES_help_item(res_type res) {
  const HelpRow* row = find_help(res);
  if (row == nullptr) {
    std::printf("%d\n", static_cast<int>(res));
    std::fflush(stdout);
    return 1;
  }
  if (row->description != nullptr)
    MESS_print(M_print, " %-10s  %s\n", row->option, row->description);
  else
    MESS_print(M_print, " %-10s\n", row->option);
  for (const char* line : row->more)
    if (line != nullptr) MESS_print(M_print, "%s\n", line);
  return 1;
}

int RES_help_print(const char* name, const res_type* res_key, const res_type* res_pos,
                   const std::vector<RES_help_line>& own) {
  auto item = [&own](res_type id) {
    for (const RES_help_line& line : own)
      if (line.id == id) return MESS_print(M_print, " %-10s  %s\n", line.option, line.description);
    return RES_help_item(id);
  };
  if (name == nullptr) name = "";
  const char* version = KIV_version();
  MESS_print(M_print, "%s syntax (version:%s)\n", name, version != nullptr ? version : "");
  MESS_print(M_print, "   %s [options...]\n", name);
  MESS_print(M_print, "Keyed options...\n");
  MESS_print(M_print, " %-10s  Resource/defaults file name\n", "-df file");
  MESS_print(M_print, " %-10s  Program name\n", "-na name");
  for (const res_type* id = res_key; id != nullptr && *id != RES_null; ++id) item(*id);
  MESS_print(M_print, "Positional options...\n");
  for (const res_type* id = res_pos; id != nullptr && *id != RES_null; ++id) item(*id);
  return 1;
}

void RES_reset() { state = ResState{}; }

// The ids of the standard table, for checks of its completeness.
std::vector<res_type> RES_table_ids() {
  std::vector<res_type> ids;
  for (const TableRow& row : kTable) ids.push_back(row.id);
  return ids;
}
