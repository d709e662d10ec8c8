// Dates, always in UTC. The only clock reading is DATE_get_time, which a
// test can pin with DATE_set_clock. The time-zone setting is stored for
// date labels; nothing here consults the machine's zone.
#include "date.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "mess.h"

namespace {

const char* const months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
const char* const months_lc[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                 "jul", "aug", "sep", "oct", "nov", "dec"};
const int num_day[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};
const int num_day_leap[13] = {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366};

struct DateState {
  DATE_tz tz;
  long pinned_clock = -1;  // negative: the real clock
};
DateState state;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

void normalise(Date* d) {
  if (d->year < 0) d->year = 1980;
  if (d->year <= 49) d->year += 2000;
  if (d->year <= 199) d->year += 1900;
  if (d->month <= 0 || d->month > 12) d->month = 1;
  if (d->day < 0 || d->day > 31) d->day = 1;
  if (d->hour < 0 || d->hour > 23) d->hour = 0;
  if (d->min < 0 || d->min > 59) d->min = 0;
  if (d->sec < 0 || d->sec > 59) d->sec = 0;
}

}  // namespace

size_t DATE_read_stamp(std::string_view text, size_t pos, Date& date, DATE_step step) {
  struct Field {
    int32_t Date::*field;
    size_t width;
  };
  static constexpr Field fields[] = {
      {&Date::year, 4}, {&Date::month, 2}, {&Date::day, 2}, {&Date::hour, 2}, {&Date::min, 2}};
  for (const Field& f : fields) {
    if (pos >= text.size() || !is_digit(text[pos])) break;
    size_t end = pos;
    int value = 0;
    while (end < text.size() && end - pos < f.width && is_digit(text[end])) value = value * 10 + (text[end++] - '0');
    date.*f.field = value;
    pos = step == DATE_step::width ? pos + f.width : end;
  }
  return pos;
}

int DATE_is_stamp(std::string_view text, Date& date) {
  if (!text.empty() && text[0] == '#') text.remove_prefix(1);
  if (text.size() != 10 && text.size() != 12) return 0;
  for (char c : text)
    if (!is_digit(c)) return 0;
  Date read;
  read.min = 0;
  read.sec = 0;
  DATE_read_stamp(text, 0, read, DATE_step::digits);
  const int* table = DATE_is_leap(read.year) ? num_day_leap : num_day;
  bool real = read.year >= 1901 && read.year <= 2099 && read.month >= 1 && read.month <= 12 &&
              read.day >= 1 && read.day <= table[read.month] - table[read.month - 1] && read.hour <= 23 &&
              read.min <= 59;
  if (real) date = read;
  return real ? 1 : 0;
}

int DATE_is_leap(int year) {
  return (year % 4 == 0 && (year % 100 != 0 || year % 400 == 0)) ? 1 : 0;
}

long DATE_num_sec(Date* date) {
  normalise(date);
  long y = date->year - 1900L;
  // Every fourth year is a leap year here (exact 1901..2099). All terms
  // are 64-bit so dates after 2038 come out right.
  long leap = y / 4 - 17;
  if (date->month <= 2 && y % 4 == 0) leap -= 1;
  return date->sec + 60L * date->min + 3600L * date->hour + 86400L * (date->day - 1) +
         86400L * num_day[date->month - 1] + 86400L * leap + 31536000L * (date->year - 1970L);
}

long DATE_get_time(long* secs) {
  long now = state.pinned_clock >= 0 ? state.pinned_clock : static_cast<long>(std::time(nullptr));
  if (secs != nullptr) *secs = now;
  return now;
}

int DATE_get_gmdate(const long* secs, Date* date) {
  time_t t = secs != nullptr ? static_cast<time_t>(*secs) : static_cast<time_t>(DATE_get_time(nullptr));
  struct tm tm {};
  gmtime_r(&t, &tm);
  date->year = tm.tm_year + 1900;
  date->month = tm.tm_mon + 1;
  date->day = tm.tm_mday;
  date->jday = tm.tm_yday + 1;
  date->wday = tm.tm_wday;
  date->hour = tm.tm_hour;
  date->min = tm.tm_min;
  date->sec = tm.tm_sec;
  return 0;
}

int DATE_get_current_str(std::string& str) {
  Date d;
  DATE_get_gmdate(nullptr, &d);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%2.2d %s %2.2d  %2.2d:%2.2d:%2.2dZ", d.year % 100,
                months[d.month - 1], d.day, d.hour, d.min, d.sec);
  str = buf;
  return 0;
}

int DATE_print(M_type level, const Date* date) {
  MESS_print(level, "%d/%d/%d %2.2d:%2.2d:%2.2d\n", date->year, date->month, date->day,
             date->hour, date->min, date->sec);
  return 0;
}

const char* DATE_month_lower(int month) {
  return (month >= 1 && month <= 12) ? months_lc[month - 1] : "";
}

int DATE_decode_month(const char* str) {
  if (str == nullptr || str[0] == '\0') return 0;
  switch (str[0]) {
    case 'F': case 'f': return 2;
    case 'S': case 's': return 9;
    case 'O': case 'o': return 10;
    case 'N': case 'n': return 11;
    case 'D': case 'd': return 12;
    default: break;
  }
  char first = str[0];
  char second = str[1];
  if ((first == 'J' && second == 'A') || (first == 'j' && second == 'a')) return 1;
  char third = second != '\0' ? str[2] : '\0';
  struct Rule { char upper_first, upper_third; int month; };
  static const Rule rules[] = {{'J', 'N', 6}, {'J', 'L', 7}, {'M', 'R', 3},
                               {'M', 'Y', 5}, {'A', 'R', 4}, {'A', 'G', 8}};
  for (const Rule& r : rules) {
    if (first == r.upper_first && third == r.upper_third) return r.month;
    if (first == r.upper_first + ('a' - 'A') && third == r.upper_third + ('a' - 'A')) return r.month;
  }
  return 0;
}

int DATE_julian_monday(int year, int julian, int* month, int* day) {
  const int* table = DATE_is_leap(year) ? num_day_leap : num_day;
  if (julian < 1) julian = 1;
  if (julian > table[12]) julian = table[12];
  int m = 12;
  for (int i = 1; i <= 12; ++i) {
    if (table[i] >= julian) {
      m = i;
      break;
    }
  }
  *month = m;
  *day = julian - table[m - 1];
  return 0;
}

int DATE_monday_julian(int year, int month, int day, int* julian) {
  if (month < 1) month = 1;
  if (month > 12) month = 12;
  const int* table = DATE_is_leap(year) ? num_day_leap : num_day;
  *julian = table[month - 1] + day;
  return 0;
}

int DATE_set_TZ(const char* str) {
  if (str == nullptr) return 0;
  DATE_tz& tz = state.tz;
  if (*str == '-') {
    tz.tz_pm = -1;
    ++str;
  } else if (*str == '+') {
    tz.tz_pm = 1;
    ++str;
  }
  std::string name;
  while (*str && *str != ':' && name.size() < 4) name.push_back(*str++);
  while (*str && *str != ':') ++str;
  tz.tz_str = " " + name;
  // Without a colon and hours the offset is 0.
  tz.tz_off = 0;
  if (*str == ':') tz.tz_off = static_cast<int>(std::strtod(str + 1, nullptr) * 3600.0);
  return 0;
}

const DATE_tz& DATE_get_TZ() { return state.tz; }

void DATE_set_clock(long secs) { state.pinned_clock = secs; }

void DATE_reset() { state = DateState{}; }
