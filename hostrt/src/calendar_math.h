// SPDX-License-Identifier: MIT
// Calendar arithmetic shared by the date-time, time-zone and text functions.
//
// Everything works on one canonical form: a signed 64-bit count of
// milliseconds since 1899-12-30 00:00 (DT day 0). Day numbers are DT days.
#ifndef HOSTRT_SRC_CALENDAR_MATH_H
#define HOSTRT_SRC_CALENDAR_MATH_H

#include <cstdint>

#include "hostrt/datetime.h"

namespace hostrt::detail {

constexpr int64_t kMsPerSecond = 1000;
constexpr int64_t kMsPerMinute = 60 * kMsPerSecond;
constexpr int64_t kMsPerHour = 60 * kMsPerMinute;
constexpr int64_t kMsPerDay = 24 * kMsPerHour;
constexpr double kMsPerDayF = 86400000.0;

// Largest |millisecond count| the functions accept: well inside the range
// where a double holds every whole millisecond exactly (2^53).
constexpr int64_t kComputableMs = int64_t{DT_COMPUTABLE_DAYS} * kMsPerDay;
static_assert(kComputableMs < (int64_t{1} << 53));

constexpr int64_t kUnixEpochMs = int64_t{DT_UNIX_EPOCH_DAY} * kMsPerDay;

constexpr int64_t floorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

constexpr int64_t floorMod(int64_t a, int64_t b) { return a - floorDiv(a, b) * b; }

// Rounds a DT to whole milliseconds (halves to even). False for NaN,
// infinities and values beyond the computable range.
bool dtToMs(double dt, int64_t &ms);

// Rounds a millisecond double to a whole count with the same rule and range.
bool timeToMs(double t, int64_t &ms);

inline double msToDt(int64_t ms) { return static_cast<double>(ms) / kMsPerDayF; }

constexpr bool isLeapYear(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

constexpr int daysInMonth(int64_t year, int month) {
  constexpr int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeapYear(year) ? 29 : kLengths[month - 1];
}

// DT day number of a proleptic Gregorian date (month 1-12, day 1-31).
// The era arithmetic follows H. Hinnant's "days_from_civil".
constexpr int64_t dayFromCivil(int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = floorDiv(year, 400);
  const int64_t yoe = year - era * 400;
  const int64_t mp = month > 2 ? month - 3 : month + 9;
  const int64_t doy = (153 * mp + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  // 719468 days from 0000-03-01 to 1970-01-01, 25569 from day 0 to 1970-01-01.
  return era * 146097 + doe - 719468 + DT_UNIX_EPOCH_DAY;
}

struct CivilDate {
  int64_t year;
  int month;
  int day;
};

constexpr CivilDate civilFromDay(int64_t dayNumber) {
  const int64_t z = dayNumber - DT_UNIX_EPOCH_DAY + 719468;
  const int64_t era = floorDiv(z, 146097);
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {yoe + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

// 1 = Monday ... 7 = Sunday. 0001-01-01 (day -693593) was a Monday.
constexpr int isoWeekday(int64_t dayNumber) {
  return static_cast<int>(floorMod(dayNumber + 693593, 7)) + 1;
}

// Fills every word of a calendar record from a millisecond count (which must
// be within the computable range).
void fillCalendar(int64_t ms, DtCalendarRecord &record);

}  // namespace hostrt::detail

#endif
