// SPDX-License-Identifier: MIT
/* Calendar arithmetic on DT values in the process-wide time zone.
 *
 * Values
 *   DT    a double counting days since 1899-12-30 00:00 (day 0); the fraction
 *         is the time of day, one millisecond is 1/86400000. Every DT passed
 *         to or returned by these functions is a UTC instant; every calendar
 *         question (which year, which day of the week, where a month begins)
 *         is answered in the local time of the process-wide time zone.
 *
 * Calendar record: eleven signed 32-bit words (44 bytes), indexed by the
 * DT_WORD_* constants below. DtUnpack fills all eleven; DtPack reads only
 * words 0 to 6, so a caller may leave the others undefined.
 *
 * Time zone: one process-wide 44-byte zone record in the host runtime's
 * format (a POSIX TZ rule, see TzZoneRecord in hostrt/datetime.h), loaded
 * from the system (TZ, else /etc/localtime) on first use, replaced by
 * VmSetTimeZone. It is read and written without a lock: set it while no
 * machine runs.
 *
 * Choices this library makes where the calendar leaves them open:
 *  - Week days. DtDayOfWeek numbers Monday 1 to Sunday 7 (ISO 8601), and so
 *    does the host's decoder in word 8 of the record: DtBeginOfWeek returns
 *    the start of the Monday.
 *  - The day split. DtDayOfWeek and the report-day functions split a local
 *    time into a day number rounded toward zero and the magnitude of the rest:
 *    before 1899-12-30 (negative DT) the time of day counts back from that
 *    day's end, so -0.25 (1899-12-29 18:00) is taken as day 0 at 06:00.
 *  - Values that cannot be decoded (NaN, infinities, beyond the host's
 *    computable range of about 200,000 years): integer functions return 0
 *    and DT functions return NaN, except that the DtInc... functions return
 *    dt unchanged for a count of 0. None of them validates a DT further: an
 *    instant outside 0001-01-01 to 9999-12-31 is computed like any other.
 *  - Report days. hour and minute are not checked: the boundary is
 *    (60 x hour + minute) minutes after local midnight, computed in 64 bits,
 *    so 24:00 is the next midnight and a negative minute counts back.
 *    DtReportDaysCount subtracts the UTC day numbers of the report-day starts
 *    it finds; in a zone where the report-day start lies at a UTC midnight
 *    in one season and not in the other, a span across the change of offset
 *    counts one day more or less.
 *  - Local times that a change of offset skips or repeats are resolved as
 *    the host runtime does (DtTzTimeToUtcTime): a repeated wall-clock time is
 *    the earlier instant, a skipped one is read with the offset in force
 *    before the change (02:30 in a one-hour spring gap becomes 03:30).
 */
#ifndef SICVM_DATETIME_H
#define SICVM_DATETIME_H

#include <stdint.h>

#include "sicvm/export.h"

SICVM_BEGIN_DECLS

/* Words of the calendar record. */
enum {
  DT_WORD_YEAR = 0,
  DT_WORD_MONTH = 1,        /* 1 to 12 */
  DT_WORD_DAY = 2,          /* 1 to 31 */
  DT_WORD_HOUR = 3,         /* 0 to 23 */
  DT_WORD_MINUTE = 4,       /* 0 to 59 */
  DT_WORD_SECOND = 5,       /* 0 to 59 */
  DT_WORD_MILLISECOND = 6,  /* 0 to 999 */
  DT_WORD_DECADE = 7,       /* 1 for days 1-10, 2 for 11-20, 3 from 21 on */
  DT_WORD_DAY_OF_WEEK = 8,  /* 1 = Monday to 7 = Sunday */
  DT_WORD_DAY_OF_YEAR = 9,  /* 1 to 366 */
  DT_WORD_DST = 10,         /* non-zero while summer time is in force */
  DT_RECORD_WORDS = 11
};

/* Size of the time-zone record of VmGetTimeZone and VmSetTimeZone. */
#define VM_TIME_ZONE_SIZE 44

/* The current UTC time (the host's clock). */
SICVM_API double DtNow(void);
/* The UTC instant of the local time in words 0 to 6 of record; NaN when a
 * field is out of range (month 13, February 30, hour 24, ...). */
SICVM_API double DtPack(const int32_t *record);
/* Fills all eleven words of record with the local time of dt, word 10 with
 * the summer-time flag; returns record. */
SICVM_API int32_t *DtUnpack(double dt, int32_t *record);

/* Fields of the local time of dt. */
SICVM_API int32_t DtYear(double dt);
SICVM_API int32_t DtMonth(double dt);
SICVM_API int32_t DtDay(double dt);
SICVM_API int32_t DtHour(double dt);
SICVM_API int32_t DtMinute(double dt);
SICVM_API int32_t DtSecond(double dt);
SICVM_API int32_t DtMillisecond(double dt);
SICVM_API int32_t DtDecade(double dt);      /* ten-day period of the month, 1 to 3 */
SICVM_API int32_t DtDayOfWeek(double dt);   /* 1 = Monday to 7 = Sunday */
SICVM_API int32_t DtDayOfYear(double dt);   /* 1 to 366 */
SICVM_API int32_t DtWeekOfYear(double dt);  /* ISO 8601 week, 1 to 53 */
SICVM_API int32_t DtWeeksInYear(double dt); /* ISO weeks of the local year: 52 or 53 */
SICVM_API int32_t DtIsDst(double dt);       /* 1 while summer time is in force, else 0 */
SICVM_API int32_t DtIsLeapYear(double dt);
SICVM_API int32_t DtDaysInMonth(double dt);
SICVM_API int32_t DtDaysInYear(double dt);

/* Calendar arithmetic in local time, keeping the wall-clock time. Months and
 * years keep the day of the month, or take the last day of a shorter month
 * (January 31 + 1 month = February 28 or 29). DtIncDecade moves by ten-day
 * periods of the month keeping the position within the period, clamped to
 * the period's last day (the 31st + 1 decade = the 10th of the next month).
 * A count of 0 returns dt unchanged. */
SICVM_API double DtIncYear(double dt, int32_t n);
SICVM_API double DtIncMonth(double dt, int32_t n);
SICVM_API double DtIncDecade(double dt, int32_t n);
SICVM_API double DtIncWeek(double dt, int32_t n);
SICVM_API double DtIncDay(double dt, int32_t n);

/* Local midnight at the start of the year, month or day of dt. The starts of
 * the decade and of the week are the start of the month (of the day) moved by
 * whole 24-hour days in UTC, so across a change of offset inside that span
 * they are an hour off local midnight. */
SICVM_API double DtBeginOfYear(double dt);
SICVM_API double DtBeginOfMonth(double dt);
SICVM_API double DtBeginOfDecade(double dt);
SICVM_API double DtBeginOfWeek(double dt);
SICVM_API double DtBeginOfDay(double dt);

/* Report days start every day at local hour:minute. Next: the first start
 * strictly after dt; Prev: the last start strictly before dt. Count: the
 * number of report days from the one holding dt1 to the one holding dt2,
 * negative when dt2 is earlier. */
SICVM_API double DtReportDayNext(double dt, int32_t hour, int32_t minute);
SICVM_API double DtReportDayPrev(double dt, int32_t hour, int32_t minute);
SICVM_API int32_t DtReportDaysCount(double dt1, double dt2, int32_t hour, int32_t minute);

/* The process-wide time zone. VmGetTimeZone loads the system zone when none is
 * loaded (a zone that cannot be read leaves the record all zeros, which is
 * UTC, and is tried again at the next use); with a null target it returns the
 * library's own record, else it copies the 44 bytes to target and returns
 * target. VmSetTimeZone copies a record that the host runtime accepts
 * (TzValidateTimeZone) and returns 0, or returns -1 and keeps the old zone;
 * a null source drops the zone, so the next use loads the system zone again. */
SICVM_API void *VmGetTimeZone(void *target);
SICVM_API int32_t VmSetTimeZone(const void *source);

SICVM_END_DECLS

#endif
