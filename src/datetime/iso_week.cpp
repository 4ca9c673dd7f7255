// SPDX-License-Identifier: MIT
// ISO 8601 weeks of the local year: weeks start on Monday, and week 1 is the
// week that holds the year's first Thursday.
#include "datetime/local_time.h"
#include "sicvm/datetime.h"

using namespace sicvm::datetime;

extern "C" {

int32_t DtWeekOfYear(double dt) {
  // A day before the year's first Monday-started week belongs to the last
  // week of the year before: step back a day and ask again. Three steps at
  // most reach that year; the bound only guards against values that cannot
  // be decoded.
  for (int step = 0; step < 8; ++step) {
    DtCalendarRecord r;
    if (!decoded(decode(dt, &r))) return 0;
    const int32_t w = weekdayOfYearStart(r);
    if (w == 0) return 0;
    const int32_t k = w <= 4 ? r.dayOfYear + w - 1 : r.dayOfYear + w - 8;
    if (k <= 0) {
      dt -= 1.0;
      continue;
    }
    const int32_t week = (k + 6) / 7;
    if (week <= 52) return week;
    // Week 53 exists when the year starts on a Thursday, or on a Wednesday
    // in a leap year; otherwise these days open week 1 of the next year.
    const int32_t shifted = isLeapYear(r.year) ? (w + 1) % 7 : w;
    return shifted >= 4 ? 53 : 1;
  }
  return 0;
}

int32_t DtWeeksInYear(double dt) {
  DtCalendarRecord r;
  if (!decoded(decode(dt, &r))) return 0;
  const int32_t w = weekdayOfYearStart(r);
  if (w == 0) return 0;
  return w == 4 || (w == 3 && isLeapYear(r.year)) ? 53 : 52;
}

}  // extern "C"
