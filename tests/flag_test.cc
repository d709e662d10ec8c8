#include "src/flag.h"

#include <gtest/gtest.h>

#include "src/kiv.h"

namespace {

class FlagTest : public testing::Test {
 protected:
  void SetUp() override { FLAG_state_reset(); }
  void TearDown() override { FLAG_state_reset(); }
};

TEST_F(FlagTest, SlotsAndBounds) {
  EXPECT_EQ(FLAG_get(FLAG_BATCH), 0);
  FLAG_reset(NO_VALUE);
  for (int i = 0; i < FLAG_COUNT; ++i) EXPECT_EQ(FLAG_get(i), NO_VALUE);
  EXPECT_EQ(FLAG_batch(), 0);
  EXPECT_EQ(FLAG_help(), 0);
  EXPECT_EQ(FLAG_set(30, 1), -1);
  EXPECT_EQ(FLAG_set(-1, 1), -1);
  EXPECT_EQ(FLAG_get(30), 0);
  EXPECT_EQ(FLAG_get(-1), 0);
  EXPECT_EQ(FLAG_set(FLAG_BATCH, 1), 0);
  EXPECT_EQ(FLAG_batch(), 1);
  FLAG_set(FLAG_HELP, 2);
  EXPECT_EQ(FLAG_help(), 1);
  FLAG_set(FLAG_FILE_PARAM, -5);
  EXPECT_EQ(FLAG_get(FLAG_FILE_PARAM), -5);
}

TEST_F(FlagTest, DrawSwitches) {
  struct Step { int reset; int type; int val; int sw0, sw12, swtype; };
  const Step steps[] = {
      {-1, 12, 1, 6, 17, 17},  // everything on: 6 + eleven switches
      {-1, 12, 0, 0, 0, 0},   // everything off
      {0, 8, 1, 0, 1, 1},     // map alone
      {0, 0, 1, 6, 12, 6},     // all text positions, counted twice in 12
      {-1, 3, 0, 5, 15, 0},   // one text position off from all-on
  };
  for (const Step& s : steps) {
    FLAG_state_reset();
    if (s.reset >= 0) FLAG_resetplot(s.reset);
    FLAG_setplot(s.type, s.val);
    EXPECT_EQ(FLAG_getplot(0), s.sw0) << s.type << "=" << s.val;
    EXPECT_EQ(FLAG_getplot(12), s.sw12) << s.type << "=" << s.val;
    EXPECT_EQ(FLAG_getplot(s.type), s.swtype) << s.type << "=" << s.val;
  }
  FLAG_resetplot(0);
  for (int i = 0; i < PLOT_COUNT; ++i) EXPECT_EQ(FLAG_getplot(i), 0);
}

}  // namespace
