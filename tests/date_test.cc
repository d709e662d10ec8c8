#include "src/date.h"

#include <gtest/gtest.h>

#include "src/mess.h"

namespace {

Date make(int y, int mo, int d, int h, int mi, int s) {
  Date date;
  date.year = y, date.month = mo, date.day = d, date.hour = h, date.min = mi, date.sec = s;
  return date;
}

TEST(DateNumSec, ValuesAndNormalisation) {
  struct Case {
    Date in;
    long secs;
    int year, month, day, hour, min;  // the record after normalisation
  };
  const Case cases[] = {
      {make(1970, 1, 1, 0, 0, 0), 0, 1970, 1, 1, 0, 0},
      {make(2000, 3, 1, 0, 0, 0), 951868800, 2000, 3, 1, 0, 0},
      {make(2024, 2, 29, 12, 0, 0), 1709208000, 2024, 2, 29, 12, 0},
      {make(2038, 1, 19, 3, 14, 7), 2147483647, 2038, 1, 19, 3, 14},
      {make(1960, 1, 1, 0, 0, 0), -315619200, 1960, 1, 1, 0, 0},
      {make(99, 12, 31, 23, 59, 59), 946684799, 1999, 12, 31, 23, 59},
      {make(49, 1, 1, 0, 0, 0), 2493072000, 2049, 1, 1, 0, 0},
      {make(50, 1, 1, 0, 0, 0), -631152000, 1950, 1, 1, 0, 0},
      {make(-1, 1, 1, 0, 0, 0), 315532800, 1980, 1, 1, 0, 0},
      {make(2024, 13, 32, 24, 60, 60), 1704067200, 2024, 1, 1, 0, 0},
      {make(2024, 3, 0, 0, 0, 0), 1709164800, 2024, 3, 0, 0, 0},  // day 0: last of February
      {make(2050, 6, 15, 18, 30, 0), 2538930600, 2050, 6, 15, 18, 30},
  };
  for (const Case& c : cases) {
    Date d = c.in;
    EXPECT_EQ(DATE_num_sec(&d), c.secs) << c.in.year << "-" << c.in.month;
    EXPECT_EQ(d.year, c.year);
    EXPECT_EQ(d.month, c.month);
    EXPECT_EQ(d.day, c.day);
    EXPECT_EQ(d.hour, c.hour);
    EXPECT_EQ(d.min, c.min);
  }
}

TEST(DateGmdate, RoundTripsBeyond2038) {
  const Date dates[] = {make(1970, 1, 1, 0, 0, 0), make(2024, 2, 29, 12, 0, 0),
                        make(2038, 1, 19, 3, 14, 8), make(2050, 6, 15, 18, 30, 5),
                        make(2099, 12, 31, 23, 59, 59)};
  for (Date d : dates) {
    long secs = DATE_num_sec(&d);
    Date back;
    DATE_get_gmdate(&secs, &back);
    EXPECT_EQ(back.year, d.year);
    EXPECT_EQ(back.month, d.month);
    EXPECT_EQ(back.day, d.day);
    EXPECT_EQ(back.hour, d.hour);
    EXPECT_EQ(back.min, d.min);
    EXPECT_EQ(back.sec, d.sec);
  }
  long zero = 0;
  Date epoch;
  DATE_get_gmdate(&zero, &epoch);
  EXPECT_EQ(epoch.jday, 1);
  EXPECT_EQ(epoch.wday, 4);
}

TEST(DateClock, PinnedClockAndStamp) {
  DATE_set_clock(1733722566);  // 2024-12-09 05:36:06
  long now = 0;
  EXPECT_EQ(DATE_get_time(&now), now);
  std::string stamp;
  DATE_get_current_str(stamp);
  EXPECT_EQ(stamp, "24 DEC 09  05:36:06Z");
  Date d;
  DATE_get_gmdate(nullptr, &d);
  EXPECT_EQ(d.year, 2024);
  DATE_reset();
}

TEST(DateJulian, Conversions) {
  struct Case { int year, julian, month, day; };
  const Case to_month[] = {{2024, 60, 2, 29}, {2023, 60, 3, 1}, {2023, 0, 1, 1},
                           {2023, 400, 12, 31}, {2024, 366, 12, 31}, {2023, 31, 1, 31}};
  for (const Case& c : to_month) {
    int m = 0, d = 0;
    DATE_julian_monday(c.year, c.julian, &m, &d);
    EXPECT_EQ(m, c.month) << c.year << " " << c.julian;
    EXPECT_EQ(d, c.day) << c.year << " " << c.julian;
  }
  const Case to_julian[] = {{2024, 61, 3, 1}, {2023, 60, 3, 1}, {2023, 365, 13, 31}};
  for (const Case& c : to_julian) {
    int j = 0;
    DATE_monday_julian(c.year, c.month, c.day, &j);
    EXPECT_EQ(j, c.julian);
  }
  EXPECT_EQ(DATE_is_leap(2000), 1);
  EXPECT_EQ(DATE_is_leap(1900), 0);
  EXPECT_EQ(DATE_is_leap(2024), 1);
}

TEST(DateMonths, NamesBothWays) {
  EXPECT_STREQ(DATE_month_lower(0), "");
  EXPECT_STREQ(DATE_month_lower(13), "");
  EXPECT_STREQ(DATE_month_lower(1), "jan");
  EXPECT_STREQ(DATE_month_lower(12), "dec");
  struct Case { const char* text; int month; };
  const Case cases[] = {{"F", 2},     {"xyz", 0},  {"Jul", 0},  {"JUL", 7}, {"jul", 7},
                        {"jan", 1},   {"JAN", 1},  {"Jan", 0},  {"jun", 6}, {"mar", 3},
                        {"MAY", 5},   {"apr", 4},  {"aug", 8},  {"Sep", 9}, {"oct", 10},
                        {"Nov", 11},  {"dec", 12}, {"mAR", 0},  {"", 0},    {"j", 0}};
  for (const Case& c : cases) EXPECT_EQ(DATE_decode_month(c.text), c.month) << c.text;
}

TEST(DateTZ, Settings) {
  DATE_reset();
  DATE_set_TZ("-EST:-5");
  EXPECT_EQ(DATE_get_TZ().tz_str, " EST");
  EXPECT_EQ(DATE_get_TZ().tz_pm, -1);
  EXPECT_EQ(DATE_get_TZ().tz_off, -18000);
  DATE_set_TZ("IST:5.5");
  EXPECT_EQ(DATE_get_TZ().tz_pm, -1);  // no sign: kept
  EXPECT_EQ(DATE_get_TZ().tz_off, 19800);
  DATE_set_TZ("+UTC");
  EXPECT_EQ(DATE_get_TZ().tz_pm, 1);
  EXPECT_EQ(DATE_get_TZ().tz_str, " UTC");
  EXPECT_EQ(DATE_get_TZ().tz_off, 0);  // no colon and hours
  DATE_reset();
}

TEST(DatePrint, Format) {
  MESS_reset();
  testing::internal::CaptureStdout();
  Date d = make(2026, 12, 7, 22, 36, 6);
  DATE_print(M_print, &d);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "2026/12/7 22:36:06\n");
}

}  // namespace
