// Dates: the calendar record, seconds since 1970 (UTC only), day-of-year
// and month-name conversions, time stamps and the time-zone setting.
#pragma once

#include <string>

#include "kiv.h"

int DATE_is_leap(int year);
// Normalises `date` in place and returns its seconds since 1970 UTC.
long DATE_num_sec(Date* date);
long DATE_get_time(long* secs);
int DATE_get_gmdate(const long* secs, Date* date);
int DATE_get_current_str(std::string& str);
int DATE_print(M_type level, const Date* date);
const char* DATE_month_lower(int month);
int DATE_decode_month(const char* str);
int DATE_julian_monday(int year, int julian, int* month, int* day);
int DATE_monday_julian(int year, int month, int day, int* julian);
int DATE_set_TZ(const char* str);

// The stored time-zone setting.
struct DATE_tz {
  std::string tz_str = "Z";
  int tz_pm = 0;
  int tz_off = 0;
};
const DATE_tz& DATE_get_TZ();

// The clock: every reading of the current time goes through here, so tests
// can pin it. A negative value returns to the real clock.
void DATE_set_clock(long secs);
void DATE_reset();
