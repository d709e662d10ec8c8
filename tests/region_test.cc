#include "src/region.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "src/cty_read.h"
#include "src/files.h"
#include "src/flag.h"
#include "src/mess.h"
#include "src/resrc.h"
#include "tests/support.h"

namespace fs = std::filesystem;

namespace {

constexpr float U = NO_VALUE;  // unset float field

class RegionTest : public testing::Test {
 protected:
  void SetUp() override {
    RES_reset();
    MESS_reset();
    FLAG_state_reset();
    FILE_reset();
    CTY_reset();
    DOM_reset();
    RES_new(NO_VALUE, "file_path", dir_.c_str(), CV_string);
    write("sao.cty", "Denver CO US KDEN *2* 39.77 -104.87 1611 72565 12\n");
    MESS_set(MESS_SET, M_error);  // keep the lookups quiet unless a test listens
  }
  void TearDown() override {
    DOM_reset();
    CTY_reset();
    FILE_reset();
    RES_reset();
    MESS_reset();
    FLAG_state_reset();
  }
  void write(const char* name, const std::string& text) const { tmp_.write(name, text); }
  TempDir tmp_;
  std::string dir_ = tmp_.str();
};

// Expected record; every field left out is unset.
struct Want {
  const char* spec;
  int result;
  int proj = NO_VALUE;
  float plon = U, clat = U, clon = U, dx = U, dy = U;
  int nx = NO_VALUE, ny = NO_VALUE;
  float plat = U, param0 = U, param1 = U;
  int ellipse = 0;
};

void expect_domain(const Domain& d, const Want& w) {
  EXPECT_EQ(d.proj, w.proj);
  EXPECT_FLOAT_EQ(d.plat, w.plat);
  EXPECT_FLOAT_EQ(d.plon, w.plon);
  EXPECT_FLOAT_EQ(d.param[0], w.param0);
  EXPECT_FLOAT_EQ(d.param[1], w.param1);
  EXPECT_FLOAT_EQ(d.clat, w.clat);
  EXPECT_FLOAT_EQ(d.clon, w.clon);
  EXPECT_FLOAT_EQ(d.dx, w.dx);
  EXPECT_FLOAT_EQ(d.dy, w.dy);
  EXPECT_EQ(d.nx, w.nx);
  EXPECT_EQ(d.ny, w.ny);
  EXPECT_EQ(d.ellipse, w.ellipse);
}

void expect_decodes(const std::vector<Want>& cases) {
  for (const Want& w : cases) {
    SCOPED_TRACE(w.spec);
    Domain d;
    FLAG_set(FLAG_DOMAIN, 77);
    EXPECT_EQ(DOM_decode(w.spec, &d), w.result);
    expect_domain(d, w);
    EXPECT_EQ(FLAG_get(FLAG_DOMAIN), w.result == NO_VALUE ? 77 : w.result);
  }
}

TEST_F(RegionTest, DecodesSpecificationForms) {
  const float lat = 39.77f, lon = -104.87f;
  expect_decodes({
      {.spec = "40,-100", .result = 1, .proj = 1, .clat = 40, .clon = -100, .dx = 1.2f,
       .dy = 1.2f, .nx = 25, .ny = 17},
      {.spec = "ps,40,-100,50,40,1.5", .result = 1, .proj = 1, .plon = 40, .clat = -100,
       .clon = 50, .dx = 40, .dy = 1.5f, .nx = 25, .ny = 17},
      {.spec = "ps,id:KDEN,50,40,1.5", .result = 1, .proj = 1, .clat = lat, .clon = lon,
       .dx = 1.5f, .dy = 1.5f, .nx = 50, .ny = 40},
      {.spec = "lc:e:25:-95:25:25,38,-98,60,45,0.6,0.6", .result = 1, .proj = 4, .plon = -95,
       .clat = 38, .clon = -98, .dx = 0.6f, .dy = 0.6f, .nx = 60, .ny = 45, .plat = 25,
       .param0 = 25, .param1 = 25, .ellipse = 1},
      {.spec = "ps,id:KDEN", .result = 1, .proj = 1, .clat = lat, .clon = lon, .dx = 1.2f,
       .dy = 1.2f, .nx = 25, .ny = 17},
      {.spec = "id:kden", .result = 1, .proj = 1, .clat = lat, .clon = lon, .dx = 1.2f,
       .dy = 1.2f, .nx = 25, .ny = 17},
      {.spec = "id:sao.cty:KDEN", .result = 1, .proj = 1, .clat = lat, .clon = lon,
       .dx = 1.2f, .dy = 1.2f, .nx = 25, .ny = 17},
      {.spec = "size,200,150", .result = 1, .proj = 51, .nx = 200, .ny = 150},
      {.spec = "SIZE,200.7,150", .result = 1, .proj = 51, .nx = 200, .ny = 150},
      {.spec = "sizes,200.7,150", .result = 1, .proj = 51, .nx = 200, .ny = 150},
      {.spec = "zoom,10,20", .result = 1, .proj = 50, .clat = 10, .clon = 20, .dx = 1.0f,
       .dy = 1.0f, .nx = 25, .ny = 17},
      {.spec = "me,10,20", .result = 1, .proj = 3, .clat = 10, .clon = 20, .dx = 1.2f,
       .dy = 1.2f, .nx = 25, .ny = 17},
      {.spec = "none", .result = 1, .proj = 1, .dx = 1.2f, .dy = 1.2f, .nx = 25, .ny = 17},
      {.spec = "NONE,5", .result = 1, .proj = 1, .dx = 1.2f, .dy = 1.2f, .nx = 25, .ny = 17},
      {.spec = "ps,,-100", .result = 1, .proj = 1, .clon = -100, .dx = 1.2f, .dy = 1.2f,
       .nx = 25, .ny = 17},
      {.spec = "ps:-105,40,-100", .result = 1, .proj = 1, .plon = -105, .clat = 40,
       .clon = -100, .dx = 1.2f, .dy = 1.2f, .nx = 25, .ny = 17},
      {.spec = "lamb:e,40,-100", .result = 1, .proj = 4, .plon = 0, .clat = 40, .clon = -100,
       .dx = 1.2f, .dy = 1.2f, .nx = 25, .ny = 17},
      {.spec = "ps, 40.5xyz ,-100", .result = 1, .proj = 1, .clat = 40.5f, .clon = -100,
       .dx = 1.2f, .dy = 1.2f, .nx = 25, .ny = 17},
      {.spec = "40,-100,30,20,", .result = 1, .proj = 1, .clat = 40, .clon = -100, .dx = 1.2f,
       .dy = 1.2f, .nx = 30, .ny = 20},
      {.spec = "miss", .result = NO_VALUE},
      {.spec = "", .result = NO_VALUE},
  });
}

TEST_F(RegionTest, RejectsInvalidSpecifications) {
  const char* const specs[] = {"1,2,3,4,5,6,7,8,9", "ps,north,-100", "qq,40,-100,1",
                               "id:NOWHERE", "ps,40,-100,x,20,1,1"};
  MESS_set(MESS_SET, M_warn);
  for (const char* spec : specs) {
    SCOPED_TRACE(spec);
    Domain d;
    testing::internal::CaptureStderr();
    EXPECT_EQ(DOM_decode(spec, &d), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "DOM_decode: Invalid plot domain\n");
    EXPECT_EQ(FLAG_get(FLAG_DOMAIN), -1);
  }
}

TEST_F(RegionTest, MissingStationIsLookedUpTwice) {
  MESS_reset();
  Domain d;
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_EQ(DOM_decode("id:KXYZ", &d), -1);
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  const std::string search = "Searching the city database file for: KXYZ ...\n";
  EXPECT_EQ(out, search + search);
  EXPECT_EQ(err, "DOM_decode: Invalid plot domain\n");

  // In capitals the station forms still look it up, but the region form
  // takes it: entry KXYZ of a region file named ID, which does not exist.
  testing::internal::CaptureStdout();
  EXPECT_EQ(DOM_decode("ID:KXYZ", &d), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Searching the city database file for: KXYZ ...\n"
            "Searching the city database file for: KXYZ ...\n");
  expect_domain(d, {.spec = "", .result = 2});
}

TEST_F(RegionTest, FormMessages) {
  struct Case {
    const char* spec;
    const char* message;
  };
  const Case cases[] = {
      {"size,200,150", " 0 proj,nx,ny\n"},
      {"id:KDEN", " 0 clat,clon\n"},
      {"none", " 0 id:###\n"},
      {"ps,40,-100,50,40,1.5", " 0 proj,plon,clat,clon,dx,dy\n"},
      {"us", " 0 reg:REG\n"},
  };
  MESS_set(MESS_SET, M_error);
  MESS_set(MESS_ADD, M_debugc);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    Domain d;
    testing::internal::CaptureStdout();
    DOM_decode(c.spec, &d);
    std::string out = testing::internal::GetCapturedStdout();
    std::string parsing = "******** PARSING DOMAIN: ";
    EXPECT_EQ(out.rfind(parsing, 0), 0u) << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
  }
}

TEST_F(RegionTest, ProjectionWords) {
  struct Case {
    const char* word;
    int code;
  };
  const Case cases[] = {
      {"ll", 2},      {"LAT", 2},      {"polar", 1},   {"ps:-105", 1}, {"sat", 9},
      {"lambert", 4}, {"lc", 4},       {"la", 8},      {"lab", 8},     {"gn", 6},
      {"ortho", 5},   {"mol", 7},      {"merc", 3},    {"pix", 99},    {"xy", 20},
      {"xlogy", 22},  {"xlogp", 22},   {"cat", 24},    {"skewt", 40},  {"emagram", 42},
      {"teph", 43},   {"rteph", 44},   {"therm", 40},  {"stuve", 41},  {"hodograph", 23},
      {"vert", 22},   {"XP", 25},      {"xpx", -1},    {"zoom", 50},   {"sizes", 51},
      {"MISS", NO_VALUE}, {"missing", -1}, {"l", -1},  {"", -1},       {nullptr, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.word ? c.word : "(null)");
    EXPECT_EQ(DOM_proj_str(c.word), c.code);
  }
}

TEST_F(RegionTest, SetParamsReportsTheFailingItem) {
  struct Case {
    std::vector<std::string> items;
    std::vector<int> codes;
    int result;
  };
  const Case cases[] = {
      {{"ps", "40"}, {1, 5, 6}, -1},
      {{"ps", "north", "1"}, {1, 5, 6}, 5},
      {{"qq", "40", "1"}, {1, 5, 6}, 1},
      {{"ps", "id:KXYZ"}, {1, 5, 6}, 4},
      {{"id:x"}, {11}, 11},
      {{"size", "x", "1"}, {1, 7, 8}, 7},
      {{"size", "1", "2"}, {1, 7, 8}, 0},
      {{"40", "-100", "x"}, {5, 6, 9}, 9},
      {{"miss", "x", "y"}, {1, 7, 8}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.items[0] + "," + std::to_string(c.items.size()));
    std::vector<std::string> items = c.items;
    std::vector<char*> argv;
    for (auto& s : items) argv.push_back(s.data());
    std::vector<int> k = c.codes;
    k.resize(8, 0);
    Domain d;
    d.nx = 1234;
    EXPECT_EQ(DOM_set_params(static_cast<int>(argv.size()), argv.data(), &d, k[0], k[1], k[2],
                             k[3], k[4], k[5], k[6], k[7]),
              c.result);
    if (c.result == -1) {
      EXPECT_EQ(d.nx, 1234);  // untouched
    }
  }
}

TEST_F(RegionTest, PriorityFollowsExtentAndStatPrior) {
  struct Case {
    float size;
    const char* stat_prior;
    int priority;
  };
  const Case cases[] = {
      {60, nullptr, 1}, {50, nullptr, 2}, {30, nullptr, 2},   {13, nullptr, 3},
      {12.5f, nullptr, 4}, {7, nullptr, 4}, {6.25f, nullptr, 5}, {4, nullptr, 5},
      {3, nullptr, 6},  {NAN, nullptr, 6}, {36.8f, "+2", 4},   {36.8f, "-1", 1},
      {36.8f, "5", 5},  {36.8f, "x", 2},  {36.8f, "+x", 2},    {36.8f, "75", 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.size) + " " + (c.stat_prior ? c.stat_prior : "-"));
    RES_reset();
    if (c.stat_prior) RES_new(NO_VALUE, "stat_prior", c.stat_prior, CV_string);
    EXPECT_EQ(DOM_set_base_prior(c.size), 0);
    EXPECT_EQ(DOM_get_priority(), c.priority);
  }
}

TEST_F(RegionTest, DecodingSetsPriorityAndKey) {
  struct Case {
    const char* spec;
    const char* stat_prior;
    int priority;
  };
  const Case cases[] = {
      {"us", nullptr, 2}, {"us", "+2", 4}, {"us", "-1", 1}, {"us", "5", 5}, {"us", "x", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stat_prior ? c.stat_prior : "-");
    RES_reset();
    RES_new(NO_VALUE, "file_path", dir_.c_str(), CV_string);
    if (c.stat_prior) RES_new(NO_VALUE, "stat_prior", c.stat_prior, CV_string);
    Domain d;
    EXPECT_EQ(DOM_decode(c.spec, &d), 2);
    EXPECT_EQ(DOM_get_priority(), c.priority);
  }
  Domain d;
  DOM_decode("ps,40,-100", &d);
  EXPECT_STREQ(FILE_get_key('r'), "ps,40,-100");
  DOM_decode("miss", &d);
  EXPECT_STREQ(FILE_get_key('r'), "ps,40,-100");  // missing leaves the key alone
}

TEST_F(RegionTest, ResolvesRegionNames) {
  write("my.reg",
        "west Western 1 ps,40,-110,1.5\n"
        "ne New_England 1 ps,43,-71,0.5\n");
  const Want us_builtin = {.spec = "us", .result = 2, .proj = 1, .plon = -97, .clat = 39,
                           .clon = -97, .dx = 2.3f, .dy = 2.3f, .nx = 25, .ny = 17};
  expect_decodes({
      us_builtin,
      {.spec = "SP", .result = 2, .proj = 1, .plon = -100, .clat = 32.5f, .clon = -100,
       .dx = 1.2f, .dy = 1.2f, .nx = 25, .ny = 17},
      {.spec = "fi:my.reg", .result = 2, .proj = 1, .clat = 40, .clon = -110, .dx = 1.5f,
       .dy = 1.5f, .nx = 25, .ny = 17},
      {.spec = "my.reg:NE", .result = 2, .proj = 1, .clat = 43, .clon = -71, .dx = 0.5f,
       .dy = 0.5f, .nx = 25, .ny = 17},
      {.spec = "my.reg:xx", .result = 2},
      {.spec = "absent.reg:ne", .result = 2},
      {.spec = "fi:absent.reg", .result = 2},
      {.spec = "my.reg:", .result = 2},
      {.spec = "nowhere", .result = 2, .proj = -1, .dx = 1.2f, .dy = 1.2f, .nx = 25, .ny = 17},
  });
  EXPECT_EQ(DOM_num_regs(), 3);
  EXPECT_EQ(DOM_reg_menu()[2].name, "New England");

  // A kiv.reg entry overrides the built-in region of the same name.
  write("kiv.reg", "us Contiguous_US 1 ps,40,-98,30,20,2,2\n");
  expect_decodes({{.spec = "us", .result = 2, .proj = 1, .clat = 40, .clon = -98, .dx = 2,
                   .dy = 2, .nx = 30, .ny = 20}});
  fs::remove(fs::path(dir_) / "kiv.reg");
  expect_decodes({us_builtin});
}

TEST_F(RegionTest, MissingRegionFileIsReportedAtDebugd) {
  MESS_set(MESS_SET, M_error);
  MESS_set(MESS_ADD, M_debugd);
  Domain d;
  testing::internal::CaptureStdout();
  EXPECT_EQ(DOM_decode("us", &d), 2);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Unable to open region file: " + dir_ + "/kiv.reg\n");
}

TEST_F(RegionTest, SearchFile) {
  struct Case {
    const char* label;
    std::string text;
    const char* abbr;
    int found;
    const char* spec;
  };
  const std::string long_comment = "#" + std::string(700, 'c') + " x\n";
  const Case cases[] = {
      {"first entry", "# c\nne NE 1 a,b\nus US 1 c,d\n", nullptr, 1, "a,b"},
      {"by abbreviation", "ne NE 1 a,b\nus US 1 c,d\n", "US", 1, "c,d"},
      {"not held", "ne NE 1 a,b\n", "sw", 0, ""},
      {"comment then empty line ends the search", "# c\n\nus US 1 c,d\n", "us", 0, ""},
      {"blank line ends the search", "ne NE 1 a,b\n   \nus US 1 c,d\n", "us", 0, ""},
      {"leading empty line is passed over", "\nus US 1 c,d\n", "us", 1, "c,d"},
      {"lone word matches anything", "ne NE 1 a,b\nus\n", "sw", 1, "us"},
      {"three fields match anything", "us Contiguous_US 1\n", "sw", 1, "us"},
      {"third field not a number", "us Contiguous_US one ps,1,2\n", "sw", 1, "us"},
      {"long comment line read whole", long_comment + "ne NE 1 a,b\n", "ne", 1, "a,b"},
      {"long specification read whole", "ne NE 1 " + std::string(300, '9') + "\n", "ne", 1,
       nullptr},
      {"carriage returns", "ne NE 1 a,b\r\n", "ne", 1, "a,b"},
      {"empty file", "", "ne", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    write("search.reg", c.text);
    std::string spec;
    EXPECT_EQ(DOM_search_file("search.reg", c.abbr, spec), c.found);
    EXPECT_EQ(spec, c.spec ? c.spec : std::string(300, '9'));
  }
  std::string spec = "kept";
  EXPECT_EQ(DOM_search_file("absent.reg", "ne", spec), 0);
  EXPECT_EQ(DOM_search_file("", "ne", spec), 0);
  EXPECT_EQ(spec, "kept");
}

TEST_F(RegionTest, SelfReferenceEndsAsInvalid) {
  struct Case {
    const char* label;
    const char* text;
    const char* spec;
    int result;
  };
  const Case cases[] = {
      {"entry names itself", "us Contiguous_US 1 us\n", "us", -1},
      {"lone abbreviation", "us\n", "us", -1},
      {"two entries name each other", "aa A 1 bb\nbb B 1 aa\n", "aa", -1},
      {"through a file form", "aa A 1 fi:kiv.reg\n", "aa", -1},
      {"a finite chain still resolves", "aa A 1 bb\nbb B 1 cc\ncc C 1 40,-100\n", "aa", 2},
  };
  MESS_reset();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    write("kiv.reg", c.text);
    Domain d;
    testing::internal::CaptureStderr();
    EXPECT_EQ(DOM_decode(c.spec, &d), c.result);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, c.result == -1 ? "DOM_decode: Invalid plot domain\n" : "");
    EXPECT_EQ(FLAG_get(FLAG_DOMAIN), c.result);
    if (c.result == 2) {
      EXPECT_FLOAT_EQ(d.clat, 40);
    }
    // The bound is per decoding: a fresh one starts from the top again.
    write("kiv.reg", "ok OK 1 40,-100\n");
    EXPECT_EQ(DOM_decode("ok", &d), 2);
  }
}

TEST_F(RegionTest, RegionMenu) {
  auto& menu = DOM_reg_menu();
  ASSERT_EQ(menu.size(), 23u);
  EXPECT_EQ(DOM_num_regs(), 0);
  EXPECT_EQ(menu[1].name, "Contiguous US");
  EXPECT_EQ(menu[9].abbr, "var");

  std::string text = "r0 Hidden_Region 0 x\n";
  for (int i = 1; i <= 25; ++i)
    text += "r" + std::to_string(i) + " Region_" + std::to_string(i) + "_of_a_long_list 2 x\n";
  write("menu.reg", text);
  EXPECT_EQ(DOM_read_menu("menu.reg"), 1);
  EXPECT_EQ(DOM_num_regs(), 20);
  EXPECT_EQ(menu[0].name, "Return to previous menu");
  EXPECT_EQ(menu[1].abbr, "r1");
  EXPECT_EQ(menu[1].name, "Region 1 of a long l");
  EXPECT_EQ(menu[1].index, 1);
  EXPECT_EQ(menu[1].disp[0], 2);
  EXPECT_EQ(menu[19].abbr, "r19");
  EXPECT_EQ(menu[20].name, "");

  // A later, shorter file overwrites from entry 1 and marks the new end.
  write("short.reg", "ne New_England 1 ps,43,-71,0.5\n\n  \nmw Midwest 3 x");
  EXPECT_EQ(DOM_read_menu("short.reg"), 1);
  EXPECT_EQ(DOM_num_regs(), 3);
  EXPECT_EQ(menu[1].name, "New England");
  EXPECT_EQ(menu[2].name, "Midwest");
  EXPECT_EQ(menu[2].disp[0], 3);
  EXPECT_EQ(menu[3].name, "");

  EXPECT_EQ(DOM_read_menu("absent.reg"), 0);
  EXPECT_EQ(DOM_num_regs(), 3);
}

TEST_F(RegionTest, FirstMenuReadDropsBuiltInEntries) {
  EXPECT_EQ(DOM_read_menu("absent.reg"), 0);
  EXPECT_EQ(DOM_reg_menu()[1].name, "");
  EXPECT_EQ(DOM_reg_menu()[0].name, "Return to previous menu");
}

TEST_F(RegionTest, VariableRegionAsksForItsCentre) {
  ChildRun run = run_in_child("41.5\n-99\n", [] {
    Domain d;
    DOM_init(&d);
    int found = DOM_get_def_region("VAR", &d);
    bool ok = found == 1 && d.clat == 41.5f && d.clon == -99 && d.plon == -99 && d.nx == 25 &&
              d.dx == 1.2f && FLAG_get(FLAG_DOMAIN) == 1;
    return std::string(ok ? "ok" : "wrong");
  });
  EXPECT_EQ(run.result, "ok");
  EXPECT_EQ(run.out, "Enter the central latitude: Enter the central longitude: ");
}

}  // namespace
