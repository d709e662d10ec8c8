#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "src/files.h"
#include "src/mess.h"
#include "src/par_tool.h"
#include "src/resrc.h"
#include "tests/support.h"

namespace {

namespace fs = std::filesystem;

class ParToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PAR_reset();
    RES_reset();
    FILE_reset();
    MESS_reset();
    MESS_set(MESS_SET, M_none);  // no convention file here: its warning is expected
    RES_put("file_path", dir_.c_str());
  }
  void TearDown() override {
    PAR_reset();
    RES_reset();
    FILE_reset();
    MESS_reset();
  }
  void write_table(const std::string& text) { tmp_.write("parse.lup", text); }

  TempDir tmp_;
  std::string dir_ = tmp_.str();
};

TEST_F(ParToolTest, LookupMatchesTheFirstPrefixInFileOrder) {
  write_table(
      "sa lower\nSAXX ascii SA other\n"
      "FPUS fcst\tVERYLONGPRODUCTPREFIXWORD a_type_name_longer_than_nineteen\n");
  struct Case {
    const char* product;
    int result;
    const char* infile;   // "" when unchanged
    const char* product_after;
  };
  const Case cases[] = {
      {"saxx21", 1, "ascii", "SAXX21"},
      {"SAYY", 1, "other", "SAYY"},
      {"fpus51", 1, "fcst", "FPUS51"},
      {"VERYLONGPRODUCTPREFIXWORD12", 1, "a_type_name_longer_than_nineteen", "VERYLONGPRODUCTPREFIXWORD12"},
      {"VERYLONGPRODUCTPREFIX", 0, "", "VERYLONGPRODUCTPREFIX"},  // shorter than the word
      {"S", 0, "", "S"},
      {"xx-1", 0, "", "XX-1"},
      {"", 0, "", ""},
  };
  for (const Case& c : cases) {
    std::string product = c.product, infile;
    EXPECT_EQ(PAR_lookup(product, infile), c.result) << c.product;
    EXPECT_EQ(infile, c.infile) << c.product;
    EXPECT_EQ(product, c.product_after);
  }
}

TEST_F(ParToolTest, LookupWithoutOrWithEmptyTable) {
  std::string product = "SAXX", infile = "kept";
  EXPECT_EQ(PAR_lookup(product, infile), -1);
  write_table("");
  EXPECT_EQ(PAR_lookup(product, infile), 0);
  write_table("SAXX");  // a word without its pair
  EXPECT_EQ(PAR_lookup(product, infile), 0);
  EXPECT_EQ(infile, "kept");
}

TEST_F(ParToolTest, InFileChoosesTheTypeInForce) {
  struct Case {
    const char* in_file;  // nullptr: not set
    const char* product;
    const char* table;  // nullptr: no table file
    const char* expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, "raw"},
      {"a,b", nullptr, nullptr, "b"},
      {"a", "saxx21", "SAXX ascii\n", "a"},  // in_file wins over the table
      {nullptr, "saxx21", "SAXX ascii\n", "ascii"},
      {nullptr, "zz", "SAXX ascii\n", "raw"},
      {nullptr, "saxx21", "", "raw"},
      {nullptr, "saxx21", nullptr, "raw"},
      {nullptr, "", "SAXX ascii\n", "raw"},
  };
  for (const Case& c : cases) {
    PAR_reset();
    RES_reset();
    RES_put("file_path", dir_.c_str());
    fs::remove(dir_ + "/parse.lup");
    if (c.table != nullptr) write_table(c.table);
    if (c.in_file != nullptr) RES_put("in_file", c.in_file);
    if (c.product != nullptr) RES_put("product", c.product);
    EXPECT_EQ(PAR_in_file("raw"), 0);
    EXPECT_EQ(PAR_get_options().infile, c.expected);
    EXPECT_EQ(FILE_state().conv, c.expected);
  }
}

TEST_F(ParToolTest, LookedUpProductStaysUpperCase) {
  write_table("SAXX ascii\n");
  RES_put("product", "saxx21");
  PAR_in_file("raw");
  EXPECT_STREQ(RES_get("product"), "SAXX21");
}

TEST_F(ParToolTest, ParameterWordsAreRecorded) {
  struct Case {
    const char* parameter;
    PAR_options expected;  // infile not compared
  };
  auto with = [](int end, int skip, int max_lines, int skip_lines, int which, int output) {
    PAR_options o;
    o.end = end, o.skip = skip, o.max_lines = max_lines, o.skip_lines = skip_lines;
    o.which = which, o.output = output;
    return o;
  };
  const Case cases[] = {
      {"Dollar,blank,line", with(0x510, 0, 1, 0, 0, 3)},
      {"3blank,EQUAL", with(0xa00, 0, 0, 0, 0, 3)},
      {"line=5", with(0x10, 0, 5, 0, 0, 3)},
      {"lines", with(0x10, 0, 0, 0, 0, 3)},
      {"skip", with(0, 0x10, 0, 1, 0, 3)},
      {"skip=3", with(0, 0x10, 0, 3, 0, 3)},
      {"skip_line", with(0, 0x10, 0, 0, 0, 3)},
      {"skip_blank", with(0, 0x100, 0, 0, 0, 3)},
      {"first,hdr", with(0, 0, 0, 0, -1, 1)},
      {"last,prod", with(0, 0, 0, 0, 1, 2)},
      {"cont,hdr+prod", with(0, 0, 0, 0, 2, 3)},
      {"bogus,,dollars", with(0, 0, 0, 0, 0, 3)},
  };
  for (const Case& c : cases) {
    PAR_reset();
    RES_put("parameter", c.parameter);
    PAR_in_file("raw");
    const PAR_options& got = PAR_get_options();
    EXPECT_EQ(got.end, c.expected.end) << c.parameter;
    EXPECT_EQ(got.skip, c.expected.skip) << c.parameter;
    EXPECT_EQ(got.max_lines, c.expected.max_lines) << c.parameter;
    EXPECT_EQ(got.skip_lines, c.expected.skip_lines) << c.parameter;
    EXPECT_EQ(got.which, c.expected.which) << c.parameter;
    EXPECT_EQ(got.output, c.expected.output) << c.parameter;
  }
}

TEST_F(ParToolTest, OptionBitsAccumulateAcrossCalls) {
  RES_put("parameter", "dollar");
  PAR_in_file("raw");
  RES_put("parameter", "blank");
  PAR_in_file("raw");
  EXPECT_EQ(PAR_get_options().end, 0x500);
}

}  // namespace
