#include "src/cty_tool.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "src/cty_read.h"
#include "src/mess.h"
#include "src/resrc.h"
#include "tests/support.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kDenver = "Denver CO US KDEN *2* 39.77 -104.87 1611 72565 12\n";
constexpr const char* kBoulder = "Boulder CO US KBOU 3* 40.01 -105.25 9999 00012 3\n";
constexpr const char* kPueblo = "Pueblo CO US KPUB 5 38.28 -104.52 9000 72464 1\n";

class CityTest : public testing::Test {
 protected:
  void SetUp() override {
    RES_reset();
    MESS_reset();
    CTY_reset();
    RES_new(NO_VALUE, "file_path", dir_.c_str(), CV_string);
  }
  void TearDown() override {
    CTY_reset();
    RES_reset();
    MESS_reset();
  }
  std::string write(const char* name, const std::string& text) const { return tmp_.write(name, text); }
  TempDir tmp_;
  std::string dir_ = tmp_.str();
};

struct Record {
  int fields;
  const char* name;
  const char* id;
  int prior;
  char mos, ua;
  float el;
  int wmo, num;
};

TEST_F(CityTest, ReadsRecordsAsAWordStream) {
  struct Case {
    const char* label;
    std::string text;
    std::vector<Record> records;
  };
  const Case cases[] = {
      {"priority tokens and elevations",
       std::string(kDenver) + kBoulder + kPueblo,
       {{10, "Denver", "KDEN", 2, '*', '*', 1611, 72565, 12},
        {10, "Boulder", "KBOU", 3, ' ', '*', NO_VALUE, 12, 3},
        {10, "Pueblo", "KPUB", 5, ' ', ' ', 9000, 72464, 1}}},
      {"nine-field last line", std::string(kPueblo) + "Lamar CO US KLAA 4 38.07 -102.68 1129 72463",
       {{10, "Pueblo", "KPUB", 5, ' ', ' ', 9000, 72464, 1},
        {9, "Lamar", "KLAA", 4, ' ', ' ', 1129, 72463, 0}}},
      {"empty file", "", {}},
      {"blank lines only", "\n  \n\n", {}},
      {"line with fewer than five fields", "Solo CO US\n",
       {{3, "Solo", "", 0, ' ', ' ', NO_VALUE, NO_VALUE, 0}}},
      {"over-long words are cut and keep the fields in step",
       "Fort_Collins_Loveland_Municipal CO US KFNLXXXXXXXX *1*** 40.45 -105.01 1529 72476 4\n" +
           std::string(kPueblo),
       {{10, "Fort_Collins_Lovelan", "KFNLXXXXX", 1, '*', '*', 1529, 72476, 4},
        {10, "Pueblo", "KPUB", 5, ' ', ' ', 9000, 72464, 1}}},
      {"priority token without a digit", "Odd CO US KODD * 1 2 3 4 5\n",
       {{10, "Odd", "KODD", 0, '*', ' ', 3, 4, 5}}},
      {"malformed latitude stops the record there",
       "Bad CO US KBAD 2 north -100 1 2 3\n" + std::string(kPueblo),
       {{5, "Bad", "KBAD", 2, ' ', ' ', NO_VALUE, NO_VALUE, 0},
        {5, "north", "2", 3, ' ', ' ', NO_VALUE, NO_VALUE, 0},
        {10, "Pueblo", "KPUB", 5, ' ', ' ', 9000, 72464, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::string path = write("test.cty", c.text);
    int fd = CTY_open(path.c_str(), 0, 0);
    ASSERT_GE(fd, 0);
    CTY_data rec;
    for (const Record& want : c.records) {
      ASSERT_EQ(CTY_read(fd, &rec), want.fields);
      EXPECT_EQ(rec.name, want.name);
      EXPECT_EQ(rec.id, want.id);
      EXPECT_EQ(rec.prior, want.prior);
      EXPECT_EQ(rec.mos, want.mos);
      EXPECT_EQ(rec.ua, want.ua);
      EXPECT_FLOAT_EQ(rec.el, want.el);
      EXPECT_EQ(rec.wmo, want.wmo);
      EXPECT_EQ(rec.num, want.num);
    }
    EXPECT_EQ(CTY_read(fd, &rec), -1);
    EXPECT_EQ(CTY_close(fd), 0);
  }
}

TEST_F(CityTest, OpenReadRewindCloseStates) {
  std::string path = write("sao.cty", kDenver);
  CTY_data rec;
  EXPECT_EQ(CTY_read(0, &rec), -1);
  EXPECT_EQ(CTY_rewind(0), -1);
  EXPECT_EQ(CTY_close(0), -1);
  EXPECT_EQ(CTY_open(path.c_str(), 2, 0), -1);
  EXPECT_EQ(CTY_open((dir_ + "/absent.cty").c_str(), 0, 0), -1);

  int fd = CTY_open(path.c_str(), 0, 0);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(CTY_read(fd, &rec), 10);
  EXPECT_EQ(CTY_read(fd, &rec), -1);
  EXPECT_EQ(CTY_rewind(fd), 0);
  EXPECT_EQ(CTY_read(fd, &rec), 10);
  EXPECT_EQ(rec.id, "KDEN");
  EXPECT_EQ(CTY_close(fd), 0);
  EXPECT_EQ(CTY_close(fd), -1);

  std::string out = dir_ + "/new.cty";
  EXPECT_GE(CTY_open(out.c_str(), 1, 0), 0);
  EXPECT_TRUE(fs::exists(out));
  EXPECT_EQ(CTY_close(0), 0);
}

TEST_F(CityTest, LookupByIdNameAndWmoNumber) {
  write("sao.cty", std::string(kDenver) + kBoulder + kPueblo);
  struct Case {
    const char* id;
    int found;
    const char* want_id;
  };
  const Case cases[] = {
      {"kden", 1, "KDEN"},   {"KBOU", 1, "KBOU"},   {"pueblo", 1, "KPUB"},
      {"BOULDER", 1, "KBOU"}, {"72565", 1, "KDEN"},  {"00012", 1, "KBOU"},
      {"12", 0, nullptr},    {"KXYZ", 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    CTY_data rec;
    testing::internal::CaptureStdout();
    EXPECT_EQ(CTY_get(nullptr, c.id, &rec), c.found);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, std::string("Searching the city database file for: ") + c.id + " ...\n");
    if (c.found) {
      EXPECT_EQ(rec.id, c.want_id);
    }
  }
  MESS_set(MESS_SET, M_warn);  // the search messages were checked above
  float lat = 1, lon = 2;
  EXPECT_EQ(CTY_get_loc(nullptr, "kden", &lat, &lon), 1);
  EXPECT_FLOAT_EQ(lat, 39.77f);
  EXPECT_FLOAT_EQ(lon, -104.87f);
  lat = 1, lon = 2;
  EXPECT_EQ(CTY_get_loc(nullptr, "nowhere", &lat, &lon), 0);
  EXPECT_FLOAT_EQ(lat, 1);
  EXPECT_FLOAT_EQ(lon, 2);
}

TEST_F(CityTest, ChoosingTheDatabaseFile) {
  write("sao.cty", kDenver);
  write("mine.cty", kBoulder);
  struct Case {
    const char* label;
    const char* resource;  // city_file, or nullptr
    const char* argument;
    const char* id;
    int found;
    bool warns;
  };
  const Case cases[] = {
      {"default file", nullptr, nullptr, "KDEN", 1, false},
      {"argument names the file", nullptr, "mine.cty", "KBOU", 1, false},
      {"empty argument means the default", nullptr, "", "KDEN", 1, false},
      {"resource beats the argument", "mine.cty", "sao.cty", "KBOU", 1, false},
      {"none switches the database off", "NONE", nullptr, "KDEN", 0, false},
      {"missing file", nullptr, "absent.cty", "KDEN", 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RES_reset();
    RES_new(NO_VALUE, "file_path", dir_.c_str(), CV_string);
    if (c.resource) RES_new(NO_VALUE, "city_file", c.resource, CV_string);
    CTY_data rec;
    testing::internal::CaptureStderr();
    testing::internal::CaptureStdout();
    EXPECT_EQ(CTY_get(c.argument, c.id, &rec), c.found);
    testing::internal::GetCapturedStdout();
    std::string err = testing::internal::GetCapturedStderr();
    std::string warning = "CTY_open_file: Database file not found: " + dir_ + "/absent.cty\n";
    EXPECT_EQ(err, c.warns ? warning : "");
  }
}

TEST_F(CityTest, StationCountEstimate) {
  struct Case {
    size_t bytes;
    int want;
  };
  const Case cases[] = {{0, 0}, {58, 0}, {59 * 3 + 10, 3}, {59 * 5000, 4000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    write("sao.cty", std::string(c.bytes, 'x'));
    int count = -1;
    int fd = CTY_open_file(nullptr, &count);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(count, c.want);
    CTY_close(fd);
  }
}

}  // namespace
