// SPDX-License-Identifier: MIT
// The steps every calendar export is built from: the process-wide zone, the
// conversions between UTC and local time through it, decoding a DT into a
// local calendar record and encoding one back, and the day split.
#pragma once

#include <cstdint>

#include "hostrt/datetime.h"

namespace sicvm::datetime {

inline constexpr double kMsPerDay = 86400000.0;

// The process-wide zone record, loaded from the system on first use.
const TzZoneRecord *zone() noexcept;

// Local time of the UTC instant dt (NaN when dt cannot be converted).
double toLocal(double dt) noexcept;
// UTC instant of a local time.
double toUtc(double local) noexcept;

// Decodes dt into *record in local time, word 10 being the summer-time flag
// of the conversion. Returns the host decoder's result (the record).
DtCalendarRecord *decode(double dt, DtCalendarRecord *record) noexcept;
// False for a record the decoder zeroed because it could not decode the value.
inline bool decoded(const DtCalendarRecord *record) noexcept {
  return record != nullptr && record->month != 0;
}
// UTC instant of the local time in words 0 to 6 of record.
double encode(const DtCalendarRecord &record) noexcept;

// A local time split into a day number (rounded toward zero) and the
// milliseconds of that day (the magnitude of the rest).
struct DaySplit {
  bool ok;       // false: NaN, infinite, or a day number beyond 32 bits
  int32_t day;
  int32_t ms;
};
DaySplit splitDay(double local) noexcept;

// 1 = Monday ... 7 = Sunday; day 0 (1899-12-30) is a Saturday.
inline int32_t isoWeekday(int32_t day) noexcept {
  int64_t rest = (int64_t{day} + 693593) % 7;  // 693593 days from 0001-01-01, a Monday
  return static_cast<int32_t>(rest < 0 ? rest + 8 : rest + 1);
}

inline bool isLeapYear(int32_t year) noexcept {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Length of a month (1 to 12) of a year by the Gregorian rule.
int32_t monthLength(int32_t year, int32_t month) noexcept;

// The ISO weekday of the local start of the year (DtBeginOfYear converted
// back to local time) of a decoded record; 0 when it cannot be found.
int32_t weekdayOfYearStart(const DtCalendarRecord &decoded) noexcept;

}  // namespace sicvm::datetime
