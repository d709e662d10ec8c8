// Dates: the calendar record, seconds since 1970 (UTC only), day-of-year
// and month-name conversions, time stamps and the time-zone setting.
//
// Module state: the time-zone setting and a pinned clock for tests.
#pragma once

#include <string>
#include <string_view>

#include "kiv.h"

// 1 when `year` is a Gregorian leap year, else 0.
int DATE_is_leap(int year);
// Normalises `date` in place (no year: 1980; 0..49 and 50..199 are taken
// as 2000.. and 1900..; out-of-range month and day become 1, hour, minute
// and second 0) and returns its seconds since 1970 UTC, exact for 1901 to
// 2099. jday and wday are neither read nor set.
long DATE_num_sec(Date* date);
// The current time in seconds (the pinned clock when set), also stored in
// `secs` when it is not null.
long DATE_get_time(long* secs);
// Fills every field of `date` from `secs` (null: now). Returns 0.
int DATE_get_gmdate(const long* secs, Date* date);
// The current UTC time as "YY MON DD  hh:mm:ssZ" in `str`. Returns 0.
int DATE_get_current_str(std::string& str);
// Prints `date` as "Y/M/D hh:mm:ss" at message level `level`. Returns 0.
int DATE_print(M_type level, const Date* date);
// "jan".."dec" for 1..12, "" for any other number.
const char* DATE_month_lower(int month);
// The month 1..12 of a month name, told by its first and third letters
// (both upper or both lower case); 0 when none fits.
int DATE_decode_month(const char* str);
// The month and day of day `julian` of `year` (clamped to the year).
// Returns 0.
int DATE_julian_monday(int year, int julian, int* month, int* day);
// The day of the year of `month` (clamped to 1..12) and `day` of `year`.
// Returns 0.
int DATE_monday_julian(int year, int month, int day, int* julian);
// How DATE_read_stamp goes on after a field whose digits end before its
// width does.
enum class DATE_step {
  width,   // by the field's whole width, digits or not
  digits,  // past the digits read only
};
// Reads a date written "YYYYMMDDhhmm" in `text` from `pos` on: the year
// from 4 characters, then month, day, hour and minute from 2 each, each
// field as far as its digits go. Reading stops at the first field that
// does not begin with a digit, or at the end of the text. The fields read
// are stored in `date`; the others keep their values. Returns the position
// after the last field read, moved on as `step` says.
size_t DATE_read_stamp(std::string_view text, size_t pos, Date& date, DATE_step step);
// 1 when `text` ("#" allowed first) is a whole date and hour, 10 digits
// "YYYYMMDDhh" or 12 with the minute, and nothing else, that names a real
// time of 1901 to 2099 (the years DATE_num_sec counts exactly); the date
// read is stored in `date`. Else 0: a date without its hour is refused.
int DATE_is_stamp(std::string_view text, Date& date);
// Stores a time-zone setting "[+|-]NAME[:HOURS]": the sign, " " and the
// first four characters of the name, and the offset in seconds (0 without
// hours). Null leaves it. Returns 0.
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
// Back to the start-up state: zone "Z", the real clock (tests).
void DATE_reset();
