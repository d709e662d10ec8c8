#include "src/resrc.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "src/date.h"
#include "src/def_read.h"
#include "src/files.h"
#include "src/flag.h"
#include "src/mqueue.h"
#include "src/mess.h"
#include "src/string.h"
#include "src/system.h"
#include "tests/loop_window.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;

// The header generator's vocabulary.
const res_type kHdrKey[] = {
    RES_help,       RES_batch,     RES_message,    RES_file_path, RES_data_path, RES_con_path,
    RES_grid_path,  RES_raw_path,  RES_image_path, RES_watch_path, RES_text_path,
    RES_model_path, RES_sat_path,  RES_name_conv,  RES_in_file,   RES_out_file,
    RES_file_param, RES_current,   RES_hour,       RES_num_hour,  RES_identifier,
    RES_output,     RES_parameter, RES_null};
const res_type kHdrPos[] = {RES_filenames, RES_null};

const char* const kEnvNames[] = {"kivdefault", "kivfile", "kivhdr.file_path", "kivfile_path",
                                 "kivtz", "kivbatch", "kivraw", "kivcon"};

void reset_all() {
  RES_reset();
  DEF_reset();
  MESS_reset();
  FLAG_state_reset();
  FILE_reset();
  DATE_reset();
  MQ_reset();
  for (const char* name : kEnvNames) unsetenv(name);
}

class ResTest : public testing::Test {
 protected:
  void SetUp() override {
    reset_all();
    tmp_.enter();
  }
  void TearDown() override { reset_all(); }

  // Runs start-up decoding with the header generator's lists; the argument
  // texts stay alive for the whole test, as the store references them.
  void decode(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/hdr");
    args_.push_back(args);
    argv_.clear();
    for (std::string& a : args_.back()) argv_.push_back(a.data());
    argv_.push_back(nullptr);
    RES_init(static_cast<int>(args.size()), argv_.data(), kHdrKey, kHdrPos);
  }

  void write_file(const std::string& name, const std::string& text) { tmp_.write(name, text); }

  static std::optional<std::string> get(const char* name) {
    const char* v = RES_get(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  }

  static int index_of(const char* name) {
    for (const res_obj* node : RES_nodes())
      if (node->name == name) return node->index;
    return -1;
  }

  TempDir tmp_;
  fs::path dir_ = tmp_.path();
  std::vector<std::vector<std::string>> args_;
  std::vector<char*> argv_;
};

using Expect = std::map<std::string, std::optional<std::string>>;
const std::optional<std::string> kAbsent = std::nullopt;

// ---- Store ---------------------------------------------------------------

TEST_F(ResTest, StoreOperations) {
  struct Op { char kind; int index; const char* name; const char* data; DEF_convert cvt; };
  struct Case {
    const char* title;
    std::vector<Op> ops;
    const char* name;
    std::optional<std::string> value;
    int index;
    std::vector<std::string> items;
  };
  const Case cases[] = {
      {"append joins lines",
       {{'n', 3, "cmd", "a,b", CV_strings}, {'a', 7, "cmd", "c", CV_string}, {'a', 0, "cmd", "d", CV_int}},
       "cmd", "a,b\nc\nd", 3, {"a,b", "c", "d"}},
      {"append creates with its index", {{'a', 4, "f", "x", CV_strings}}, "f", "x", 4, {"x"}},
      {"append of nothing changes nothing",
       {{'n', 1, "f", "x", CV_strings}, {'a', 1, "f", nullptr, CV_strings}}, "f", "x", 1, {"x"}},
      {"append to a value-less resource", {{'n', 1, "f", nullptr, CV_string}, {'a', 1, "f", "y", CV_string}},
       "f", "y", 1, {"y"}},
      {"new replaces in place", {{'n', 1, "f", "x", CV_string}, {'n', 2, "f", "y,z", CV_string}},
       "f", "y,z", 2, {"y", "z"}},
      {"without a value reads empty", {{'n', 1, "f", nullptr, CV_string}}, "f", "", 1, {}},
      {"absent", {{'n', 1, "f", "x", CV_string}}, "g", kAbsent, -1, {}},
      {"names are case-sensitive", {{'n', 1, "f", "x", CV_string}, {'n', 2, "F", "y", CV_string}},
       "f", "x", 1, {"x"}},
      {"put frees a table resource",
       {{'n', 5, "filename", "a", CV_strings}, {'p', 0, "filename", "b,c", CV_string}},
       "filename", "b,c", NO_VALUE, {"b", "c"}},
  };
  for (const Case& c : cases) {
    RES_reset();
    for (const Op& op : c.ops) {
      if (op.kind == 'n') {
        EXPECT_EQ(0, RES_new(op.index, op.name, op.data, op.cvt));
      }
      if (op.kind == 'a') {
        EXPECT_EQ(0, RES_append(op.index, op.name, op.data, op.cvt));
      }
      if (op.kind == 'p') {
        EXPECT_EQ(0, RES_put(op.name, op.data));
      }
    }
    EXPECT_EQ(c.value, get(c.name)) << c.title;
    EXPECT_EQ(c.index, index_of(c.name)) << c.title;
    EXPECT_EQ(c.items, RES_getvals(c.name)) << c.title;
    int count = 0;
    char** items = nullptr;
    EXPECT_EQ(static_cast<int>(c.items.size()), RES_getvals(c.name, &count, &items)) << c.title;
    ASSERT_EQ(static_cast<int>(c.items.size()), count) << c.title;
    for (int i = 0; i < count; ++i) EXPECT_EQ(c.items[i], items[i]) << c.title;
    free_parsed_array(count, items);
  }
}

TEST_F(ResTest, StoreKeepsOrderAndPointers) {
  RES_put("first", "1");
  const char* first = RES_get("first");
  for (int i = 0; i < 200; ++i) RES_put(("r" + std::to_string(i)).c_str(), "v");
  RES_put("r5", "again");
  EXPECT_EQ(first, RES_get("first"));
  EXPECT_STREQ("1", first);
  std::vector<const res_obj*> nodes = RES_nodes();
  ASSERT_EQ(201u, nodes.size());
  EXPECT_EQ("first", nodes[0]->name);
  EXPECT_EQ("r5", nodes[6]->name);
  std::string long_name(500, 'n');
  RES_put(long_name.c_str(), std::string(5000, 'v').c_str());
  EXPECT_EQ(5000u, std::strlen(RES_get(long_name.c_str())));
}

TEST_F(ResTest, ListReportsEveryResource) {
  RES_put("a", "1");
  RES_put("b", nullptr);
  testing::internal::CaptureStdout();
  RES_list();
  EXPECT_EQ("a: 1\nb:\n", testing::internal::GetCapturedStdout());
}

TEST_F(ResTest, ProgramNames) {
  struct Case { const char* argv0; const char* name; };
  const Case cases[] = {{"/usr/local/bin/hdr", "hdr"}, {"hdr", "hdr"}, {"./x/", ""}, {"a/b/c", "c"}};
  EXPECT_EQ(nullptr, RES_get_prog());
  EXPECT_EQ("KIV", RES_get_progname());
  for (const Case& c : cases) {
    char* argv[] = {const_cast<char*>(c.argv0), nullptr};
    EXPECT_EQ(1, RES_setCL(1, argv));
    EXPECT_STREQ(c.argv0, RES_get_prog());
    EXPECT_EQ(c.name, RES_get_progname()) << c.argv0;
  }
}

// ---- Table ---------------------------------------------------------------

TEST_F(ResTest, HeaderGeneratorRows) {
  struct Row { res_type id; const char* def; const char* env; const char* cmd; int slot; DEF_convert cvt; };
  const Row rows[] = {
      {RES_help, "help", "kivhelp", "h", 0, CV_help},
      {RES_batch, "batch", "kivbatch", "ba", 0, CV_batch},
      {RES_message, "message", "kivmess", "me", 0, CV_mess},
      {RES_file_path, "file_path", "kivfile", "fp", 0, CV_path},
      {RES_data_path, "data_path", "kivdata", "dp", 0, CV_path},
      {RES_con_path, "con_path", "kivcon", "cp", 0, CV_path},
      {RES_grid_path, "grid_path", "kivgrid", "gp", 0, CV_path},
      {RES_raw_path, "raw_path", "kivraw", "rp", 0, CV_path},
      {RES_image_path, "image_path", "kivimage", "ip", 0, CV_string},
      {RES_watch_path, "watch_path", "kivwatch", "wp", 0, CV_path},
      {RES_text_path, "text_path", "kivtext", "tp", 0, CV_path},
      {RES_model_path, "model_path", "kivmpath", "mp", 0, CV_path},
      {RES_sat_path, "sat_path", "kivsat", "sp", 0, CV_path},
      {RES_name_conv, "name_conv", "kivnameconv", "nc", 0, CV_name},
      {RES_in_file, "in_file", "kivinfile", "if", 0, CV_string},
      {RES_out_file, "out_file", "kivoutfile", "of", 0, CV_string},
      {RES_file_param, "file_param", "kivfileparam", "pf", 0, CV_file_param},
      {RES_current, "current", "kivcurrent", "cu", 0, CV_current},
      {RES_hour, "hour", "kivhour", "ho", 0, CV_hour},
      {RES_num_hour, "num_hour", "kivnumhour", "nh", 0, CV_string},
      {RES_identifier, "identifier", "kivident", "id", 0, CV_string},
      {RES_output, "output", "kivout", "ou", 0, CV_string},
      {RES_parameter, "parameter", "kivparam", "pa", 0, CV_string},
      {RES_filenames, "filename", "kivfilename", nullptr, 10, CV_strings},
  };
  for (const Row& r : rows) {
    RES_defobj obj;
    int dummy;
    obj.out = &dummy;
    EXPECT_EQ(1, RES_enter(&obj, r.id));
    EXPECT_STREQ(r.def, obj.def);
    EXPECT_STREQ(r.env, obj.env);
    EXPECT_STREQ(r.cmd, obj.cmd) << r.def;
    EXPECT_EQ(r.slot, obj.slot) << r.def;
    EXPECT_EQ(r.cvt, obj.cvt) << r.def;
    EXPECT_EQ(nullptr, obj.out);
    EXPECT_EQ(nullptr, obj.num);
  }
}

TEST_F(ResTest, TableCoversEveryIdOnce) {
  const std::set<int> without_row = {0,  1,  4,  7,  12, 14, 21, 25, 36, 38, 42, 43, 61,
                                     62, 66, 70, 75, 77, 81, 87, 90, 91, 93, 95, 97, 103};
  std::vector<res_type> ids = RES_table_ids();
  EXPECT_EQ(92u, ids.size());
  EXPECT_EQ(92u, std::set<res_type>(ids.begin(), ids.end()).size());
  for (int id = 0; id <= RES_timeout; ++id) {
    RES_defobj obj;
    testing::internal::CaptureStdout();
    RES_enter(&obj, static_cast<res_type>(id));
    std::string printed = testing::internal::GetCapturedStdout();
    if (without_row.count(id)) {
      EXPECT_EQ(std::to_string(id) + "\n", printed);
      EXPECT_STREQ("", obj.def);
      EXPECT_EQ(nullptr, obj.cmd);
      EXPECT_EQ(0, obj.slot);
    } else {
      EXPECT_EQ("", printed) << id;
      EXPECT_GT(std::strlen(obj.def), 0u) << id;
      EXPECT_TRUE((obj.cmd != nullptr) != (obj.slot != 0)) << id;
      // Every row has a help entry of its own.
      testing::internal::CaptureStdout();
      RES_help_item(static_cast<res_type>(id));
      EXPECT_EQ(' ', testing::internal::GetCapturedStdout()[0]) << id;
    }
  }
}

TEST_F(ResTest, AbbreviationsAreUniqueButForTheSharedRows) {
  // Rows that share their whole row, or the one shared abbreviation.
  const std::set<res_type> sharing = {RES_in_files, RES_con_interval};
  std::map<std::string, res_type> seen;
  for (res_type id : RES_table_ids()) {
    RES_defobj obj;
    RES_enter(&obj, id);
    if (obj.cmd == nullptr) continue;
    if (sharing.count(id)) continue;
    EXPECT_TRUE(seen.emplace(obj.cmd, id).second) << obj.cmd;
    // These would be taken for the search list or the instance name.
    EXPECT_NE(0, strnicmp(obj.cmd, "df", 2)) << obj.cmd;
    EXPECT_FALSE(std::strlen(obj.cmd) <= 4 && strnicmp("name", obj.cmd, std::strlen(obj.cmd)) == 0);
  }
  struct Pair { res_type a, b; };
  const Pair same_names[] = {{RES_in_file, RES_in_files}, {RES_input, RES_inputg},
                             {RES_command, RES_commands}, {RES_filename, RES_filenames}};
  for (const Pair& p : same_names) {
    RES_defobj a, b;
    RES_enter(&a, p.a);
    RES_enter(&b, p.b);
    EXPECT_STREQ(a.def, b.def);
    EXPECT_STREQ(a.env, b.env);
  }
  RES_defobj input, interval;
  RES_enter(&input, RES_input);
  RES_enter(&interval, RES_con_interval);
  EXPECT_STREQ("in", input.cmd);
  EXPECT_STREQ("in", interval.cmd);
}

// ---- Help ----------------------------------------------------------------

std::string help_of(const char* name, const res_type* key, const res_type* pos) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(1, RES_help_print(name, key, pos));
  return testing::internal::GetCapturedStdout();
}

TEST_F(ResTest, HelpOfTheHeaderGenerator) {
  const std::string expected = std::string("hdr syntax (version:") + KIV_version() + ")\n" +
                               "   hdr [options...]\n"
                               "Keyed options...\n"
                               " -df file    Resource/defaults file name\n"
                               " -na name    Program name\n"
                               " -h          Print this help\n"
                               " -ba         Run program in batch mode\n"
                               " -me level   Message level to be displayed:\n"
                               "               none,print,error,warn,mess,out1,*out2,out3,out4,debug\n"
                               " -fp path    File path\n"
                               " -dp path    Raw data path\n"
                               " -cp path    Converted data path\n"
                               " -gp path    Gridded data path\n"
                               " -rp path    Raw files path\n"
                               " -ip path    Image file path\n"
                               " -wp path    Watch file data path\n"
                               " -tp path    Text file path\n"
                               " -mp path    Model file path\n"
                               " -sp path    Satellite file path\n"
                               " -nc type    Naming convention file name\n"
                               " -if type    Input data file type\n"
                               " -of type    Output file type\n"
                               " -pf param   File parameters: use,calc,over,app\n"
                               " -cu [hour]  Use current data file\n"
                               " -ho hour    Actual hour of the file\n"
                               " -nh hour[,step]  Number of hours to view\n"
                               " -id ident   Specific station identifier\n"
                               " -ou type    Type of output\n"
                               " -pa param[,...]  Program parameters\n"
                               "Positional options...\n"
                               " file [file...]  Input file names\n";
  EXPECT_EQ(expected, help_of("hdr", kHdrKey, kHdrPos));
}

TEST_F(ResTest, HelpSpecialEntries) {
  const res_type none[] = {RES_null};
  const res_type odd[] = {RES_default, RES_region, RES_null};
  struct Case { const res_type* key; const char* tail; };
  const Case cases[] = {
      {none, "Keyed options...\n -df file    Resource/defaults file name\n"
             " -na name    Program name\nPositional options...\n"},
      {odd, " -na name    Program name\n43\n -re region\n             Map region:\n"
            "               proj,lat,lon,param,clat,clon,dx,dy,nx,ny or a region name\n"
            "Positional options...\n"},
  };
  for (const Case& c : cases) {
    std::string out = help_of("x", c.key, none);
    ASSERT_GE(out.size(), std::strlen(c.tail));
    EXPECT_EQ(c.tail, out.substr(out.size() - std::strlen(c.tail)));
  }
}

// ---- Conversion ----------------------------------------------------------

TEST_F(ResTest, HourForms) {
  constexpr int N = NO_VALUE;
  struct Case { const char* text; int year, month, day, hour, min; };
  const Case cases[] = {
      {"#202403051230", 2024, 3, 5, 12, 30},
      {"#2024", 2024, N, N, N, N},
      {"#20240", 2024, 0, N, N, N},
      {"#2024x3", 2024, N, N, N, N},
      {"#x", N, N, N, N, N},
      {"#", N, N, N, N, N},
      {"030512", N, 3, 5, 12, N},
      {"0512", N, N, 5, 12, N},
      {"512", N, N, 5, 12, N},
      {"5d12:30", N, N, 5, 12, 30},
      {"5d12", N, N, 5, N, N},  // four characters: day and hour
      {"10d06", N, N, 10, 6, N},
      {"5d12:3", N, N, 5, 12, 3},
      {":45", N, N, N, N, 45},
      {"-:45", N, N, N, N, -45},
      {"12", N, N, N, 12, N},
      {"12:30", N, N, N, 12, 30},
      {"-3", N, N, N, -3, N},
      {"-0:30", N, N, N, N, -30},
      {"-0", N, N, N, N, N},
      {"abc", N, N, N, N, N},
  };
  for (const Case& c : cases) {
    Date d;
    d.year = 1;
    EXPECT_EQ(1, RES_parse_hour(c.text, &d));
    EXPECT_EQ(c.year, d.year) << c.text;
    EXPECT_EQ(c.month, d.month) << c.text;
    EXPECT_EQ(c.day, d.day) << c.text;
    EXPECT_EQ(c.hour, d.hour) << c.text;
    EXPECT_EQ(c.min, d.min) << c.text;
  }
}

TEST_F(ResTest, FlagConversions) {
  struct Case { DEF_convert cvt; const char* text; int flag; int value; int ret; };
  const Case cases[] = {
      {CV_file_param, "reuse", FLAG_FILE_PARAM, 3, 1},
      {CV_file_param, "USE", FLAG_FILE_PARAM, 3, 1},
      {CV_file_param, "app", FLAG_FILE_PARAM, 2, 1},
      {CV_file_param, "over", FLAG_FILE_PARAM, 1, 1},
      {CV_file_param, "recalc", FLAG_FILE_PARAM, 1, 1},
      {CV_file_param, "maybe", FLAG_FILE_PARAM, NO_VALUE, 1},
      {CV_file_param, nullptr, FLAG_FILE_PARAM, NO_VALUE, 0},
      {CV_plot_type, "stream", FLAG_PLOT_TYPE, 23, 1},
      {CV_plot_type, "Hodo", FLAG_PLOT_TYPE, 69, 1},
      {CV_plot_type, "raw", FLAG_PLOT_TYPE, 0, 1},
      {CV_plot_type, "pie", FLAG_PLOT_TYPE, NO_VALUE, 1},
      {CV_help, nullptr, FLAG_HELP, 1, 1},
      {CV_batch, nullptr, FLAG_BATCH, 1, 1},
      {CV_batch, "no", FLAG_BATCH, 1, 1},
      {CV_device, "p,printer1", FLAG_DEVICE, NO_VALUE, 0},  // no output place
  };
  for (const Case& c : cases) {
    FLAG_reset(NO_VALUE);
    EXPECT_EQ(c.ret, RES_conv_data(c.text, nullptr, c.cvt)) << (c.text ? c.text : "(null)");
    EXPECT_EQ(c.value, FLAG_get(c.flag)) << (c.text ? c.text : "(null)");
  }
}

TEST_F(ResTest, BatchLevelDependsOnEarlierSetting) {
  RES_conv_data(nullptr, nullptr, CV_batch);
  EXPECT_EQ(0xffu, MESS_get_level());
  MESS_reset();
  RES_conv_data("mess", nullptr, CV_mess);
  RES_conv_data(nullptr, nullptr, CV_batch);
  EXPECT_EQ(0xfffu, MESS_get_level());
}

TEST_F(ResTest, DrawItems) {
  struct Case { const char* text; std::vector<int> on; };  // switches 1..11 that end on
  const std::vector<int> all = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
  const Case cases[] = {
      {"data,map", {7, 8}},
      {"+map", all},
      {"-text", {7, 8, 9, 10}},
      {"none,+grid", {9}},
      {"-all", all},
      {"text_ul,-bord,sum,bogus", {1, 10}},
      {"-data,text_lr", {1, 2, 3, 4, 5, 6, 8, 9, 10, 11}},
  };
  for (const Case& c : cases) {
    FLAG_state_reset();
    EXPECT_EQ(1, RES_conv_data(c.text, nullptr, CV_draw));
    int text = 0, total = 0;
    for (int s = 1; s <= 11; ++s) {
      bool want = std::find(c.on.begin(), c.on.end(), s) != c.on.end();
      EXPECT_EQ(want ? 1 : 0, FLAG_getplot(s)) << c.text << " switch " << s;
      if (s <= 6) text += FLAG_getplot(s);
    }
    for (int s = 0; s <= 11; ++s) total += s == 0 ? text : FLAG_getplot(s);
    EXPECT_EQ(text, FLAG_getplot(0)) << c.text;
    EXPECT_EQ(total, FLAG_getplot(12)) << c.text;
  }
}

TEST_F(ResTest, TypedConversions) {
  struct Case { DEF_convert cvt; const char* text; std::string before, after; int ret; };
  const Case cases[] = {
      {CV_int, "42", "7", "42", 1},        {CV_int, "0x1F", "7", "31", 1},
      {CV_int, "-12", "7", "-12", 1},      {CV_int, "-0x1F", "7", "0", 1},
      {CV_int, "+5", "7", "5", 1},         {CV_int, "abc", "7", "7", 1},
      {CV_short, "12", "7", "12", 1},      {CV_short, "-12", "7", "7", 1},
      {CV_long, "123456789012", "7", "123456789012", 1},
      {CV_long, "x", "7", "7", 1},         {CV_float, "2.5e1", "7", "25", 1},
      {CV_float, "x", "7", "0", 1},        {CV_color, "12abc", "7", "12", 1},
      {CV_color, "red", "7", "0", 1},      {CV_bool, nullptr, "0", "1", 1},
      {CV_bool, "On", "0", "1", 1},        {CV_bool, "no", "1", "0", 1},
      {CV_bool, "maybe", "5", "5", 1},     {CV_int, nullptr, "7", "7", 0},
      {CV_path, "/data", "", "/data/", 1}, {CV_path, "/data/", "", "/data/", 1},
      {CV_path, "none", "x", "", 1},       {CV_strcpy, "text", "", "text", 1},
      {CV_string, "text", "", "text", 1},
  };
  for (const Case& c : cases) {
    std::string got;
    int ret = 0;
    const char* label = c.text ? c.text : "(null)";
    switch (c.cvt) {
      case CV_int: case CV_bool: {
        int v = std::stoi(c.before);
        ret = RES_conv_data(c.text, &v, c.cvt);
        got = std::to_string(v);
        break;
      }
      case CV_short: {
        short v = static_cast<short>(std::stoi(c.before));
        ret = RES_conv_data(c.text, &v, c.cvt);
        got = std::to_string(v);
        break;
      }
      case CV_long: case CV_color: {
        long v = std::stol(c.before);
        ret = RES_conv_data(c.text, &v, c.cvt);
        got = std::to_string(v);
        break;
      }
      case CV_float: {
        float v = std::stof(c.before);
        ret = RES_conv_data(c.text, &v, c.cvt);
        got = std::to_string(static_cast<int>(v));
        break;
      }
      case CV_path: case CV_strcpy: {
        got = c.before;
        ret = RES_conv_data(c.text, &got, c.cvt);
        break;
      }
      case CV_string: {
        const char* p = nullptr;
        ret = RES_conv_data(c.text, &p, c.cvt);
        EXPECT_EQ(c.text, p);
        got = p;
        break;
      }
      default: break;
    }
    EXPECT_EQ(c.ret, ret) << label;
    EXPECT_EQ(c.after, got) << c.cvt << " " << label;
  }
}

TEST_F(ResTest, DeviceConversion) {
  struct Case { const char* text; int flag; const char* rest; };
  const Case cases[] = {{"p,printer1", 4, "printer1"}, {"hard,a,b", 5, "a,b"}, {"meta", 3, nullptr},
                        {"d", 1, nullptr},            {"Window", 6, nullptr}, {"q", 5, nullptr}};
  for (const Case& c : cases) {
    FLAG_reset(NO_VALUE);
    const char* rest = nullptr;
    EXPECT_EQ(1, RES_conv_data(c.text, &rest, CV_device));
    EXPECT_EQ(c.flag, FLAG_get(FLAG_DEVICE)) << c.text;
    EXPECT_STREQ(c.rest, rest) << c.text;
  }
  EXPECT_EQ(1, RES_set_device(""));
  EXPECT_EQ(1, RES_set_device(nullptr));
}

// ---- Decoding ------------------------------------------------------------

TEST_F(ResTest, CommandLineForms) {
  struct Case { std::vector<std::string> args; Expect expect; };
  const Case cases[] = {
      {{"-fp", "/data"}, {{"file_path", "/data"}, {"filename", kAbsent}}},
      {{"-fp=/data"}, {{"file_path", "/data"}}},
      {{"--fp", "/data"}, {{"file_path", "/data"}}},
      {{"-FP", "/data"}, {{"file_path", "/data"}}},
      {{"-file_path", "/data"}, {{"file_path", "/data"}}},
      {{"-file", "/data"}, {{"file_path", "/data"}, {"file_param", kAbsent}}},
      {{"-f", "/data"}, {{"file_path", "/data"}}},
      {{"-fp="}, {{"file_path", ""}}},
      {{"-d", "/x"}, {{"data_path", "/x"}, {"default", kAbsent}}},
      {{"-dp", "/x"}, {{"data_path", "/x"}}},
      {{"-df", "/nowhere"}, {{"data_path", kAbsent}, {"default", "/nowhere"}, {"df", kAbsent}}},
      {{"-ba", "data1"}, {{"batch", ""}, {"filename", "data1"}}},
      {{"-ba=yes"}, {{"batch", "yes"}}},
      {{"-cu"}, {{"current", ""}}},
      {{"-cu", "12"}, {{"current", "12"}, {"filename", kAbsent}}},
      {{"a", "b"}, {{"filename", "a\nb"}}},
      {{"a", "--", "b"}, {{"filename", "a\nb"}}},
      {{"--"}, {{"filename", kAbsent}}},
      {{"-5"}, {{"filename", "-5"}}},
      {{"-ho", "-5"}, {{"hour", "-5"}, {"filename", kAbsent}}},
      {{"-fp", "--hour"}, {{"file_path", "--hour"}, {"hour", kAbsent}}},
      {{"-zz", "5"}, {{"zz", "5"}, {"filename", kAbsent}}},
      {{"-Zz"}, {{"Zz", ""}}},
      {{"-NAME", "x"}, {{"name", kAbsent}, {"NAME", kAbsent}, {"filename", kAbsent}}},
      {{"--name", "x"}, {{"name", kAbsent}, {"filename", kAbsent}}},
      {{"-DF", "x"}, {{"default", kAbsent}, {"DF", kAbsent}, {"filename", kAbsent}}},
      {{"--df", "x"}, {{"default", kAbsent}, {"filename", kAbsent}}},
      {{"-na", "run2"}, {{"name", "run2"}, {"na", kAbsent}, {"name_conv", kAbsent}}},
      {{"-nc", "conv"}, {{"name_conv", "conv"}, {"name", kAbsent}}},
      {{"-h", "x"}, {{"help", ""}, {"filename", "x"}}},
      {{"-me", "warn", "-ba"}, {{"message", "warn"}, {"batch", ""}}},
      {{"-id", "A", "-id", "B"}, {{"identifier", "B"}}},
  };
  for (const Case& c : cases) {
    reset_all();
    decode(c.args);
    std::string label;
    for (const std::string& a : c.args) label += a + " ";
    for (const auto& [name, value] : c.expect) EXPECT_EQ(value, get(name.c_str())) << label << name;
  }
}

TEST_F(ResTest, FreeAndTableResources) {
  decode({"-filename", "x", "-zz", "5", "-fp", "/d"});
  EXPECT_EQ(NO_VALUE, index_of("filename"));  // a free resource, not the positional list
  EXPECT_EQ("x", get("filename"));
  EXPECT_EQ(NO_VALUE, index_of("zz"));
  EXPECT_EQ(3, index_of("file_path"));
  EXPECT_EQ(24u, RES_get_table().size() - 1);
  EXPECT_EQ(nullptr, RES_get_table().back().def);
  EXPECT_STREQ("filename", RES_get_table()[23].def);
}

TEST_F(ResTest, ConversionAfterDecoding) {
  struct Case { std::vector<std::string> args; int batch, help, param; M_type level; };
  const Case cases[] = {
      {{}, 0, 0, NO_VALUE, 0x000fffff},
      {{"-ba"}, 1, 0, NO_VALUE, 0xff},
      {{"-me", "mess", "-ba"}, 1, 0, NO_VALUE, 0xfff},
      {{"-h", "-pf", "app"}, 0, 1, 2, 0x000fffff},
      {{"-pf", "bogus"}, 0, 0, NO_VALUE, 0x000fffff},
  };
  for (const Case& c : cases) {
    reset_all();
    FLAG_set(FLAG_BATCH, 5);  // decoding starts from cleared flags
    decode(c.args);
    EXPECT_EQ(c.batch, FLAG_batch());
    EXPECT_EQ(c.help, FLAG_help());
    EXPECT_EQ(c.param, FLAG_get(FLAG_FILE_PARAM));
    EXPECT_EQ(c.level, MESS_get_level());
  }
}

TEST_F(ResTest, TypedPlacesOfAnOwnTable) {
  int count = 0, items = 0;
  char** files = nullptr;
  std::string path;
  RES_defobj table[4];
  RES_fill_obj(&table[0], "count", "kivcount", "co", CV_int, &count, nullptr);
  RES_fill_obj(&table[1], "dir", "kivdir", "di", CV_path, &path, nullptr);
  RES_fill_obj(&table[2], "files", "kivfiles", nullptr, CV_strings, &files, &items, 10);
  std::vector<std::string> args = {"prog", "-co", "0x10", "a", "-di=none", "b", "c"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  EXPECT_EQ(0, RES_decode("prog", "Kiv", static_cast<int>(argv.size()), argv.data(), table));
  EXPECT_EQ(16, count);
  EXPECT_EQ("", path);
  ASSERT_EQ(3, items);
  EXPECT_STREQ("a", files[0]);
  EXPECT_STREQ("c", files[2]);
  free_parsed_array(items, files);
}

TEST_F(ResTest, TimeZoneFromEnvironment) {
  setenv("kivtz", "EST", 1);
  decode({});
  EXPECT_NE("Z", DATE_get_TZ().tz_str);
}

// ---- Resource files and environment --------------------------------------

TEST_F(ResTest, PrecedenceFileEnvironmentCommandLine) {
  // Each pair of sources sets one resource: the later source of the order
  // file < environment < command line must win it.
  write_file("kiv.cfg", "*file_path /file\n*data_path /file\n*raw_path /file\nhdr.extra x\n");
  setenv("kivfile", "/env", 1);
  setenv("kivraw", "/env", 1);
  setenv("kivcon", "/env", 1);
  setenv("kivdefault", dir_.c_str(), 1);
  decode({"-rp", "/cl", "-cp", "/cl"});
  const Expect expected = {{"file_path", "/env"},  // file and environment
                           {"raw_path", "/cl"},    // all three
                           {"con_path", "/cl"},    // environment and command line
                           {"data_path", "/file"},
                           {"extra", "x"},
                           {"default", dir_.string()}};
  for (const auto& [name, value] : expected) EXPECT_EQ(get(name.c_str()), value) << name;
  EXPECT_EQ(NO_VALUE, index_of("extra"));
}

TEST_F(ResTest, PositionalReplacesFileValue) {
  write_file("kiv.cfg", "*filename old\n");
  decode({"-df", dir_.string(), "new1", "new2"});
  EXPECT_EQ("new1\nnew2", get("filename"));
}

TEST_F(ResTest, PatternSetsEveryPathWithOneReportEach) {
  write_file("kiv.cfg", "*path /p\n");
  MESS_set(MESS_ADD, M_debugd);
  testing::internal::CaptureStdout();
  decode({"-df", dir_.string()});
  std::string out = testing::internal::GetCapturedStdout();
  const char* paths[] = {"file_path",  "data_path",  "con_path",  "grid_path",  "raw_path",
                         "image_path", "watch_path", "text_path", "model_path", "sat_path"};
  for (const char* p : paths) EXPECT_EQ("/p", get(p)) << p;
  size_t reports = 0;
  for (size_t at = out.find("RESRC: *path=/p\n"); at != std::string::npos;
       at = out.find("RESRC: *path=/p\n", at + 1))
    ++reports;
  EXPECT_EQ(10u, reports) << out;
  EXPECT_EQ(kAbsent, get("file_param"));
}

TEST_F(ResTest, TagsFromTheSearchList) {
  write_file("kiv.cfg", "IF site\n*hour 12\nELSE\n*hour 6\nEND\n");
  struct Case { std::string list; const char* hour; };
  const Case cases[] = {{"+site:" + dir_.string(), "12"}, {dir_.string(), "6"},
                        {dir_.string() + ":+site", "6"}};
  for (const Case& c : cases) {
    reset_all();
    decode({"-df", c.list});
    EXPECT_EQ(c.hour, get("hour")) << c.list;
  }
}

TEST_F(ResTest, InstanceNameQualifiesFileLines) {
  write_file("kiv.cfg", "run2.file_path /run2\nhdr.file_path /hdr\n");
  decode({"-df", dir_.string(), "-name", "run2"});
  EXPECT_EQ("/run2", get("file_path"));
  EXPECT_EQ("run2", get("name"));
}

// ---- Loop windows --------------------------------------------------------

// The queues keyed IPC_PRIVATE on the machine, as ipcs lists them.
std::set<int> private_queues() {
  std::set<int> ids;
  msginfo info{};
  int last = msgctl(0, MSG_INFO, reinterpret_cast<msqid_ds*>(&info));
  for (int i = 0; i <= last; ++i) {
    msqid_ds ds{};
    int id = msgctl(i, MSG_STAT, &ds);
    if (id >= 0 && ds.msg_perm.__key == IPC_PRIVATE) ids.insert(id);
  }
  return ids;
}

TEST_F(ResTest, MissingWindowIsReportedAndSkipped) {
  int number;
  {
    LoopWindow gone;
    number = gone.number();
  }
  // Texts that name no window are not running windows either; no queue
  // may be made for them (key 0 would create a private one).
  const std::string windows[] = {std::to_string(number), "0", "x", "", "-3"};
  write_file("kiv.cfg", "*hour 7\n");
  for (const std::string& window : windows) {
    reset_all();
    MQ_set_timeout(1);
    std::set<int> before = private_queues();
    testing::internal::CaptureStderr();
    decode({"-df", "#" + window + ":" + dir_.string()});
    EXPECT_EQ("VAVuzar window: " + window + " not running or no message queue exists\n",
              testing::internal::GetCapturedStderr());
    EXPECT_EQ("7", get("hour")) << window;
    EXPECT_EQ(before, private_queues()) << window;
  }
}

TEST_F(ResTest, WindowDialogue) {
  LoopWindow::Options options;
  options.raw["hour"] = {"!unknown", "\n", ""};
  LoopWindow window({{"file_path", "/win"}, {"data_path", "/win"}}, options);
  setenv("kivfile", "/env", 1);
  write_file("kiv.cfg", "*raw_path /file\n");
  MQ_set_timeout(5);
  decode({"-df", dir_.string() + ":#" + std::to_string(window.number()), "-dp", "/cl", "-zz", "1",
          "f1"});
  ASSERT_TRUE(window.wait_for_requests(1));
  std::vector<std::string> requests = window.requests();
  ASSERT_GE(requests.size(), 26u);
  EXPECT_EQ(-1, window.codes()[0]);  // the handshake
  EXPECT_EQ("query res help", requests[1]);
  EXPECT_EQ("query res filename", requests[24]);
  // The window's values beat the file, environment and command line beat
  // the window; values the window lacks are handed to it.
  EXPECT_EQ("/env", get("file_path"));
  EXPECT_EQ("/cl", get("data_path"));
  EXPECT_EQ("/file", get("raw_path"));
  EXPECT_EQ(kAbsent, get("hour"));
  // Keyed options only: neither the free zz nor the positional file.
  const std::vector<std::string> sets = {"raw_path /file", "data_path /cl"};
  EXPECT_EQ(sets, window.sets());
  EXPECT_TRUE(window.quit_received());
  EXPECT_EQ("quit", requests.back());
}

TEST_F(ResTest, OverlongRequestIsNotAwaited) {
  LoopWindow window;
  MQ_set_timeout(5);
  std::string long_path = "/" + std::string(150, 'p');
  testing::internal::CaptureStderr();
  decode({"-df", "#" + std::to_string(window.number()), "-fp", long_path, "-dp", "/d"});
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(long_path, get("file_path"));
  const std::vector<std::string> sets = {"data_path /d"};
  EXPECT_EQ(sets, window.sets());
  EXPECT_TRUE(window.quit_received());
}

TEST_F(ResTest, WindowFailures) {
  struct Case { LoopWindow::Mode mode; std::string message; };
  const Case cases[] = {
      {LoopWindow::Mode::refuse, "VAVuzar window: %d unable to connect\n"},
      {LoopWindow::Mode::not_running, "VAVuzar not running!\n"},
  };
  for (const Case& c : cases) {
    reset_all();
    LoopWindow window(c.mode);
    MQ_set_timeout(5);
    std::string number = std::to_string(window.number());
    testing::internal::CaptureStderr();
    decode({"-df", "#" + number, "-fp", "/cl"});
    std::string err = testing::internal::GetCapturedStderr();
    std::string expected = c.message;
    if (size_t at = expected.find("%d"); at != std::string::npos) expected.replace(at, 2, number);
    EXPECT_NE(std::string::npos, err.find(expected)) << err;
    EXPECT_EQ("/cl", get("file_path"));
  }
}

TEST_F(ResTest, SilentWindowEndsTheProcess) {
  // The window lives in this process, so its queue is removed here even
  // though the forked client ends without cleaning up.
  GTEST_FLAG_SET(death_test_style, "fast");
  LoopWindow window(LoopWindow::Mode::silent);
  std::string entry = "#" + std::to_string(window.number());
  auto run = [&] {
    MQ_set_timeout(1);
    decode({"-df", entry});
  };
  EXPECT_EXIT(run(), testing::ExitedWithCode(EXIT_QUEUE_TIMEOUT), "Queue not responding!!");
}

}  // namespace
