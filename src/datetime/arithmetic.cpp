// SPDX-License-Identifier: MIT
// Calendar arithmetic: moving a DT by years, months, decades (ten-day periods
// of the month), weeks and days, and the starts of years, months, decades,
// weeks and days. All of it in local time, keeping the wall-clock time.
#include <limits>

#include "datetime/local_time.h"
#include "sicvm/datetime.h"

using namespace sicvm::datetime;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Brings a month that left 1..12 by less than a year back, moving the year.
// The callers' months lie within -11..24, so one step always suffices.
void wrapMonth(DtCalendarRecord &r) noexcept {
  if (r.month > 12) {
    r.year += 1;
    r.month -= 12;
  } else if (r.month < 1) {
    r.year -= 1;
    r.month += 12;
  }
}

// Adds n months (n / 12 years and the signed rest) to the record's year and
// month. 64-bit: a count near the 32-bit limit must not overflow the year.
void addMonths(DtCalendarRecord &r, int64_t n) noexcept {
  r.year = static_cast<int32_t>(r.year + n / 12);
  r.month = static_cast<int32_t>(r.month + n % 12);
  wrapMonth(r);
}

// The local record of dt with the time of day set to midnight (words 7 to 10
// keep their decoded values); false when dt cannot be decoded.
bool clearTime(double dt, DtCalendarRecord &r) noexcept {
  if (!decoded(decode(dt, &r))) return false;
  r.hour = r.minute = r.second = r.millisecond = 0;
  return true;
}

}  // namespace

extern "C" {

double DtIncMonth(double dt, int32_t n) {
  if (n == 0) return dt;
  DtCalendarRecord r;
  if (!decoded(decode(dt, &r))) return kNaN;
  addMonths(r, n);
  const int32_t length = monthLength(r.year, r.month);
  if (r.day >= length) r.day = length;
  return encode(r);
}

double DtIncYear(double dt, int32_t n) {
  if (n == 0) return dt;
  // 12 x n beyond 32 bits lands far outside the computable range.
  if (n > INT32_MAX / 12 || n < INT32_MIN / 12) return kNaN;
  return DtIncMonth(dt, 12 * n);
}

double DtIncDecade(double dt, int32_t n) {
  if (n == 0) return dt;
  DtCalendarRecord r;
  if (!decoded(decode(dt, &r))) return kNaN;
  const int32_t q = n / 3;
  const int32_t rest = n - 3 * q;
  const int32_t offset = r.day - 10 * r.decade;  // -9 to 1: the place within the decade
  int32_t decade = r.decade + rest;
  if (decade > 3) {
    r.month += 1;
    decade -= 3;
  } else if (decade < 1) {
    r.month -= 1;
    decade += 3;
  }
  r.day = offset + 10 * decade;
  addMonths(r, q);
  const int32_t last = decade == 3 ? monthLength(r.year, r.month) : 10 * decade;
  if (r.day >= last) r.day = last;
  return encode(r);
}

double DtIncDay(double dt, int32_t n) {
  if (n == 0) return dt;
  return toUtc(toLocal(dt) + n);
}

double DtIncWeek(double dt, int32_t n) {
  if (n == 0) return dt;
  const int64_t days = 7 * int64_t{n};
  if (days > INT32_MAX || days < INT32_MIN) return kNaN;  // far beyond the computable range
  return DtIncDay(dt, static_cast<int32_t>(days));
}

double DtBeginOfYear(double dt) {
  DtCalendarRecord r;
  if (!clearTime(dt, r)) return kNaN;
  r.month = 1;
  r.day = 1;
  return encode(r);
}

double DtBeginOfMonth(double dt) {
  DtCalendarRecord r;
  if (!clearTime(dt, r)) return kNaN;
  r.day = 1;
  return encode(r);
}

double DtBeginOfDay(double dt) {
  DtCalendarRecord r;
  if (!clearTime(dt, r)) return kNaN;
  return encode(r);
}

// The start of the month moved by whole days in UTC.
double DtBeginOfDecade(double dt) {
  DtCalendarRecord r;
  if (!clearTime(dt, r)) return kNaN;
  r.day = 1;
  return encode(r) + 10.0 * (r.decade - 1);
}

// The start of the day moved back to the week's first day in UTC.
double DtBeginOfWeek(double dt) {
  DtCalendarRecord r;
  if (!clearTime(dt, r)) return kNaN;
  return encode(r) - (r.dayOfWeek - 1);
}

}  // extern "C"
