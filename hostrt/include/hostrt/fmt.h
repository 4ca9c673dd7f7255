// SPDX-License-Identifier: MIT
/* Date-time text.
 *
 * Locale record (FMT_LOCALE_INFO_SIZE = 16 bytes, see FmtLocaleInfo):
 *   byte 0      reserved, 0
 *   byte 1      date separator, written for '/' in a pattern ('-' by default)
 *   byte 2      time separator, written for ':' in a pattern (':' by default)
 *   bytes 3-15  reserved, 0
 * A separator byte of 0 writes nothing. Callers may change bytes 1 and 2
 * after FmtGetLocaleInfo.
 *
 * Pattern letters of FmtDateTimeToStrEx (case does not matter; a letter run
 * is taken whole, so "yyyy" is one field):
 *   yyyy      year, at least four digits ("0987"); runs of 3 or more letters
 *             mean the same; a year before 1 is written with '-' ("-0001")
 *   yy        the year's last two digits ("87"); a single y means the same
 *   mm, m     month with and without leading zero; minutes instead when the
 *             previous field of the pattern was an hour (h or hh), so in
 *             "hh:mm" it is the minute
 *   mmm       month name, abbreviated ("Jan"); mmmm and longer: full ("January")
 *   dd, d     day of month with and without leading zero
 *   ddd       weekday name, abbreviated ("Sun"); dddd and longer: full ("Sunday")
 *   hh, h     hour 00-23 and 0-23 (24-hour clock only)
 *   nn, n     minute with and without leading zero
 *   ss, s     second with and without leading zero
 *   zzz, z    millisecond, three digits and without leading zeros
 *   /  :      the record's date and time separator
 *   "..." '...'  text copied as it stands (without the quotes)
 * Every other character is copied. Names are English.
 * "yyyy/mm/dd-hh:mm:ss" gives "2024-03-05-07:08:09" with the default record.
 *
 * The value is formatted as given: no time-zone conversion is applied (turn a
 * UTC value into local time first with DtUtcTimeToTzTime when that is wanted).
 * It is read at millisecond resolution, like every DT of this library.
 */
#ifndef HOSTRT_FMT_H
#define HOSTRT_FMT_H

#include <stdint.h>

#include "hostrt/api.h"

HOSTRT_BEGIN_DECLS

#define FMT_LOCALE_INFO_SIZE 16

typedef struct FmtLocaleInfo {
  char reserved0;
  char dateSeparator;
  char timeSeparator;
  char reserved[FMT_LOCALE_INFO_SIZE - 3];
} FmtLocaleInfo;

/* Fills the FMT_LOCALE_INFO_SIZE bytes at record with the defaults above.
 * Returns 0, or -1 (host error 22) for a null record. */
HOSTRT_API int32_t FmtGetLocaleInfo(void *record);

/* Formats dt by pattern into buffer, which receives at most size - 1
 * characters and always a closing NUL (the text is cut when it does not fit).
 * localeRecord may be null for the defaults. Returns the number of
 * characters written, NUL excluded, or -1 (host error 22) when buffer or
 * pattern is null, size < 1, or dt is not finite or beyond the computable
 * range; buffer then holds an empty text when it can. */
HOSTRT_API int32_t FmtDateTimeToStrEx(char *buffer, int32_t size, const char *pattern, double dt,
                                      const void *localeRecord);

HOSTRT_END_DECLS

#endif
