// SPDX-License-Identifier: MIT
/* Date-time, duration and time-zone primitives.
 *
 * Values
 *   DT    a double counting days since 1899-12-30 00:00 (day 0) in the
 *         proleptic Gregorian calendar; the fraction is the time of day and
 *         one millisecond is 1/86400000 day. The count is continuous: -0.25
 *         is 1899-12-29 18:00 and -1.75 is 1899-12-28 06:00 (the fraction is
 *         not read as a separate, positive time of day).
 *   TIME  a double counting milliseconds (a signed duration).
 *
 * Millisecond resolution. Every function first rounds a DT to a whole number
 * of milliseconds (DT x 86400000, halves to even) and works on that count, so
 * a DT that any of them returns is always a whole millisecond
 * (count / 86400000.0) and two DT values that round to the same millisecond
 * are the same instant everywhere. TIME values are rounded the same way.
 *
 * Valid range (DtValidateDateTime): finite values from 0001-01-01 00:00:00.000
 * (DT -693593) to 9999-12-31 23:59:59.999 (just below DT 2958466), after
 * rounding. The calendar functions also work, exactly, on the wider
 * computable range |DT| <= DT_COMPUTABLE_DAYS (about 200,000 years either
 * side), so a result just outside the valid range is still computed and can
 * be rejected by the validator; beyond the computable range they fail as
 * documented at each function.
 *
 * Errors. Functions that cannot produce a result set the host error number to
 * 22 (_winseterrno) and return NaN, -1 or a zeroed record as stated; they
 * never leave a record half written.
 *
 * Threads. Every function is safe to call from any thread, except that
 * DtSetUtcTime changes a process-wide clock offset and TzGetSystemTimeZone
 * reads the environment (do not change TZ or TZDIR while another thread
 * calls it).
 */
#ifndef HOSTRT_DATETIME_H
#define HOSTRT_DATETIME_H

#include <stdint.h>

#include "hostrt/api.h"

HOSTRT_BEGIN_DECLS

/* DT of 0001-01-01 00:00 and of 10000-01-01 00:00 (first invalid instant). */
#define DT_MIN_VALID_DAY (-693593)
#define DT_END_VALID_DAY 2958466
/* The calendar functions compute exactly while |DT| stays within this many days. */
#define DT_COMPUTABLE_DAYS 73000000
/* DT of 1970-01-01 00:00 UTC. */
#define DT_UNIX_EPOCH_DAY 25569
/* Longest valid TIME, in days: the span of the whole valid DT range. */
#define TM_MAX_VALID_DAYS 3652059

/* Calendar record: eleven signed 32-bit words (44 bytes). */
typedef struct DtCalendarRecord {
  int32_t year;        /* 0: 1 to 9999 for valid DT; 0 and negatives are astronomical (0 = 1 BC) */
  int32_t month;       /* 1: 1 to 12 */
  int32_t day;         /* 2: 1 to 31 */
  int32_t hour;        /* 3: 0 to 23 */
  int32_t minute;      /* 4: 0 to 59 */
  int32_t second;      /* 5: 0 to 59 */
  int32_t millisecond; /* 6: 0 to 999 */
  int32_t decade;      /* 7: 1 for days 1-10, 2 for 11-20, 3 from 21 on */
  int32_t dayOfWeek;   /* 8: ISO weekday, 1 = Monday to 7 = Sunday */
  int32_t dayOfYear;   /* 9: 1 to 366 */
  int32_t dst;         /* 10: daylight-saving flag; the decoder writes 0 */
} DtCalendarRecord;

/* Duration record: the calendar record's shape, used by TmEncodeTime and
 * TmDecodeTime. Words 0, 1 and 7 to 9 are not read; the decoder writes 0. */
typedef struct TmDurationRecord {
  int32_t unused0;
  int32_t unused1;
  int32_t days;         /* 2 */
  int32_t hours;        /* 3: 0 to 23 from the decoder */
  int32_t minutes;      /* 4: 0 to 59 from the decoder */
  int32_t seconds;      /* 5: 0 to 59 from the decoder */
  int32_t milliseconds; /* 6: 0 to 999 from the decoder */
  int32_t unused7;
  int32_t unused8;
  int32_t unused9;
  int32_t sign;         /* 10: -1 for a negative duration, +1 otherwise */
} TmDurationRecord;

/* Time-zone record: a POSIX TZ rule in eleven signed 32-bit words (44 bytes).
 * Offsets are seconds EAST of UTC (local = UTC + offset), the opposite sign
 * of the TZ text: "CET-1" stores stdOffset = 3600.
 *
 *   word 0  hasDst     0: fixed offset, words 2 to 10 must be 0;
 *                      1: daylight saving by the rules in words 2 to 8
 *   word 1  stdOffset  standard offset, |offset| <= 24:59:59
 *   word 2  dstOffset  daylight-saving offset, |offset| <= 24:59:59
 *   word 3  startKind  how startDate is read, one of TZ_RULE_*
 *   word 4  startDate  TZ_RULE_JULIAN: n, 1 to 365, February 29 never counted
 *                      TZ_RULE_DAY:    n, 0 to 365, February 29 counted
 *                      TZ_RULE_MONTH:  100 x m + 10 x w + d for Mm.w.d:
 *                                      month 1-12, week 1-5 (5 = last),
 *                                      weekday 0-6 (0 = Sunday); M3.5.0 = 350
 *   word 5  startTime  seconds after local midnight (standard time) at which
 *                      daylight saving starts, -167 h to +167 h
 *   words 6-8          endKind, endDate, endTime: the same for the return to
 *                      standard time, the time read in daylight-saving time
 *   words 9, 10        reserved, 0
 *
 * All zeros is UTC. A rule with DST but no dates (e.g. "EST5EDT") takes
 * M3.2.0,M11.1.0; a missing time is 02:00:00; a missing DST offset is one
 * hour east of the standard offset. Zone names are not kept.
 *
 * Transitions: in each year daylight saving starts at the start rule's
 * instant and ends at the end rule's instant; a start rule later in the year
 * than the end rule (southern hemisphere) keeps daylight saving across the
 * new year. When a start and an end fall on the same instant, the end is
 * taken first, so daylight saving then stays in force (this makes the
 * "all year" idiom ",0/0,J365/25" work).
 */
typedef struct TzZoneRecord {
  int32_t hasDst;
  int32_t stdOffset;
  int32_t dstOffset;
  int32_t startKind;
  int32_t startDate;
  int32_t startTime;
  int32_t endKind;
  int32_t endDate;
  int32_t endTime;
  int32_t reserved9;
  int32_t reserved10;
} TzZoneRecord;

enum { TZ_RULE_JULIAN = 1, TZ_RULE_DAY = 2, TZ_RULE_MONTH = 3 };

/* ---- Clock ---------------------------------------------------------------- */

/* Current UTC time as a DT, to the millisecond, plus the offset set by
 * DtSetUtcTime (0 until then). */
HOSTRT_API double DtGetUtcTime(void);

/* Makes DtGetUtcTime read `dt` now and run on from there. The system clock is
 * never changed: the difference to it is kept as one process-wide offset,
 * shared by all threads. Returns 0, or -1 (host error 22) for a DT that
 * DtValidateDateTime rejects, keeping the old offset. */
HOSTRT_API int32_t DtSetUtcTime(double dt);

/* Drops the offset of DtSetUtcTime: DtGetUtcTime reads the system clock again. */
HOSTRT_API void DtResetUtcTime(void);

/* ---- Calendar --------------------------------------------------------------- */

/* Splits dt into all eleven words of *record (no time-zone conversion; word 10
 * is 0) and returns record. A NaN, an infinity or a value beyond the
 * computable range zeroes the record (month 0 marks it) and sets host error
 * 22. A null record returns null. */
HOSTRT_API DtCalendarRecord *DtDecodeDateTime(double dt, DtCalendarRecord *record);

/* Builds a DT from words 0 to 6 only (words 7 to 10 are not read). Fields are
 * checked, not normalised: month 1-12, day 1 to the month's length, hour 0-23,
 * minute 0-59, second 0-59 (no leap second), millisecond 0-999, and the
 * instant within the computable range; any other value, a null record or
 * non-zero flags give NaN and host error 22. Years outside 1 to 9999 are
 * encoded, so DtValidateDateTime can reject the result. flags is reserved and
 * must be 0. */
HOSTRT_API double DtEncodeDateTime(const DtCalendarRecord *record, int32_t flags);

/* 0 when dt is finite and lies in the valid range after rounding to the
 * millisecond, -1 otherwise. */
HOSTRT_API int32_t DtValidateDateTime(double dt);

/* dt moved by ms milliseconds (ms rounded to a whole millisecond first).
 * Outside the computable range, or for NaN and infinities, the plain sum
 * dt + ms / 86400000 is returned, which DtValidateDateTime rejects. */
HOSTRT_API double DtIncDateTime(double dt, double ms);

/* dt1 - dt2 in milliseconds, each value rounded to the millisecond first, so
 * the result is a whole number. Outside the computable range, or for NaN and
 * infinities, the plain difference (dt1 - dt2) x 86400000. */
HOSTRT_API double DtDiffDateTime(double dt1, double dt2);

/* -1, 0 or +1 as a is before, at or after b, compared at millisecond
 * resolution: values that round to the same millisecond are equal. A NaN
 * counts as later than every number and equal to another NaN, so the order is
 * total; infinities come before and after every finite value. */
HOSTRT_API int32_t DtCompareDateTime(double a, double b);

/* Seconds since 1970-01-01 00:00 UTC; the milliseconds of that second, 0 to
 * 999, go through millisecondsOut when it is not null (the seconds are
 * floored, so 1969-12-31 23:59:59.250 gives -1 and 250). Instants outside the
 * 32-bit range (before 1901-12-13 20:45:52 or after 2038-01-19 03:14:07.999)
 * saturate to INT32_MIN or INT32_MAX with 0 ms; those and NaN (INT32_MIN, 0)
 * set host error 22. */
HOSTRT_API int32_t DtDateTimeToUnixTime(double dt, int32_t *millisecondsOut);

/* The DT of seconds since 1970-01-01 00:00 UTC plus milliseconds (any value,
 * negative or above 999, is simply added). */
HOSTRT_API double DtUnixTimeToDateTime(int32_t seconds, int32_t milliseconds);

/* ---- Durations (TIME) --------------------------------------------------------- */

/* The TIME of days, hours, minutes, seconds and milliseconds (words 2 to 6),
 * negated when the sign word is negative. Fields are not range-checked: the
 * result is their plain sum, so 90 minutes is 5400000 ms and a field may be
 * negative. flags is reserved and must be 0; non-zero flags or a null record
 * give NaN and host error 22. */
HOSTRT_API double TmEncodeTime(const TmDurationRecord *record, int32_t flags);

/* Splits ms into days, hours, minutes, seconds and milliseconds of its
 * magnitude, after rounding to a whole millisecond (halves to even), with
 * sign -1 when the rounded value is negative and +1 otherwise (so -0.4 ms
 * decodes as +0). Other words are set to 0. NaN, infinities and magnitudes
 * from 2^53 ms on zero the record (sign 0) and set host error 22. Returns
 * record (null for a null record). */
HOSTRT_API TmDurationRecord *TmDecodeTime(double ms, TmDurationRecord *record);

/* 0 when t is finite and |t| rounded to the millisecond is at most
 * TM_MAX_VALID_DAYS days, -1 otherwise. */
HOSTRT_API int32_t TmValidateTime(double t);

/* -1, 0 or +1 comparing two TIME values at millisecond resolution; NaN as in
 * DtCompareDateTime. */
HOSTRT_API int32_t TmCompareTime(double a, double b);

/* ---- Time zones -------------------------------------------------------------- */

/* Local time of the UTC instant dt in *zone. *dstFlag (when dstFlag is not
 * null) receives 1 while daylight saving is in force, else 0. An invalid or
 * null zone, or a dt that is not finite or beyond the computable range, gives
 * NaN with *dstFlag = 0 and host error 22. */
HOSTRT_API double DtUtcTimeToTzTime(double dt, const TzZoneRecord *zone, int32_t *dstFlag);

/* UTC instant of the local time `local` in *zone. A local time that occurs
 * twice (the hour repeated when clocks go back) gives the earlier instant. A
 * local time that does not exist (skipped when clocks go forward) is read
 * with the offset in force before the change, so the result lies after the
 * change and reads, in local time, later by the length of the gap (02:30 in
 * a one-hour spring gap becomes 03:30 daylight-saving time). flags is
 * reserved and must be 0. Failures as DtUtcTimeToTzTime. */
HOSTRT_API double DtTzTimeToUtcTime(double local, const TzZoneRecord *zone, int32_t flags);

/* 0 when *zone is a valid record as laid out above, -1 for a null pointer,
 * else the number (1 to 11) of the first word found wrong. */
HOSTRT_API int32_t TzValidateTimeZone(const TzZoneRecord *zone);

/* Parses a POSIX TZ rule ("CET-1CEST,M3.5.0,M10.5.0/3", "<+0330>-3:30",
 * "UTC0") into *zone. Names are 3 or more letters, or <...> quoted with
 * letters, digits, '+' and '-'. Returns 0, or -1 with the record zeroed and
 * host error 22 for text that is not a complete, valid rule. */
HOSTRT_API int32_t TzParseTimeZone(const char *text, TzZoneRecord *zone);

/* Fills *zone with the system's time zone and returns 0; -1 (record zeroed,
 * host error 22) when it cannot be read or is not supported. Sources, in
 * order:
 *   1. TZ, when set. Empty: UTC. A leading ':' is dropped. "UTC", "GMT",
 *      "Etc/UTC", "Etc/GMT": UTC. Text that parses as a POSIX rule: that rule.
 *      Otherwise a zone file: TZ itself when it starts with '/', else TZ
 *      under TZDIR (default /usr/share/zoneinfo); names holding ".." are
 *      refused.
 *   2. Without TZ: /etc/localtime.
 * A zone file must be TZif version 2 or later; its footer line (the rule for
 * times after the last recorded change) is what is used, and an empty footer
 * is not supported. */
HOSTRT_API int32_t TzGetSystemTimeZone(TzZoneRecord *zone);

/* Fills *zone from text as TZ would give it (source 1 above: a POSIX rule,
 * "UTC", a zone name under TZDIR such as "Europe/Berlin", or an absolute path
 * of a zone file) and returns 0; -1 (record zeroed, host error 22) for text
 * that names no supported zone, or a null argument. */
HOSTRT_API int32_t TzLoadTimeZone(const char *text, TzZoneRecord *zone);

HOSTRT_END_DECLS

#endif
