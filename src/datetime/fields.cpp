// SPDX-License-Identifier: MIT
// The clock, packing and unpacking, and the calendar fields of a DT.
#include <cstring>

#include "datetime/local_time.h"
#include "sicvm/datetime.h"

static_assert(sizeof(DtCalendarRecord) == DT_RECORD_WORDS * sizeof(int32_t));

using namespace sicvm::datetime;

namespace {

// Word `word` of the local calendar record of dt; 0 when dt cannot be decoded
// (the host's decoder zeroes the record).
int32_t field(double dt, int word) noexcept {
  DtCalendarRecord record;
  const DtCalendarRecord *r = decode(dt, &record);
  if (r == nullptr) return 0;
  int32_t words[DT_RECORD_WORDS];
  std::memcpy(words, r, sizeof words);
  return words[word];
}

// The local calendar record of dt, or false when dt cannot be decoded.
bool localRecord(double dt, DtCalendarRecord &record) noexcept { return decoded(decode(dt, &record)); }

}  // namespace

extern "C" {

double DtNow(void) { return DtGetUtcTime(); }

double DtPack(const int32_t *record) {
  // The encoder reads words 0 to 6 only; the rest of the caller's record may
  // be undefined.
  return toUtc(DtEncodeDateTime(reinterpret_cast<const DtCalendarRecord *>(record), 0));
}

int32_t *DtUnpack(double dt, int32_t *record) {
  return reinterpret_cast<int32_t *>(decode(dt, reinterpret_cast<DtCalendarRecord *>(record)));
}

int32_t DtYear(double dt) { return field(dt, DT_WORD_YEAR); }
int32_t DtMonth(double dt) { return field(dt, DT_WORD_MONTH); }
int32_t DtDay(double dt) { return field(dt, DT_WORD_DAY); }
int32_t DtHour(double dt) { return field(dt, DT_WORD_HOUR); }
int32_t DtMinute(double dt) { return field(dt, DT_WORD_MINUTE); }
int32_t DtSecond(double dt) { return field(dt, DT_WORD_SECOND); }
int32_t DtMillisecond(double dt) { return field(dt, DT_WORD_MILLISECOND); }
int32_t DtDecade(double dt) { return field(dt, DT_WORD_DECADE); }
int32_t DtDayOfYear(double dt) { return field(dt, DT_WORD_DAY_OF_YEAR); }

int32_t DtDayOfWeek(double dt) {
  const DaySplit local = splitDay(toLocal(dt));
  return local.ok ? isoWeekday(local.day) : 0;
}

int32_t DtIsDst(double dt) {
  int32_t dst = 0;
  DtUtcTimeToTzTime(dt, zone(), &dst);
  return dst != 0 ? 1 : 0;
}

int32_t DtIsLeapYear(double dt) {
  DtCalendarRecord record;
  return localRecord(dt, record) && isLeapYear(record.year) ? 1 : 0;
}

int32_t DtDaysInMonth(double dt) {
  DtCalendarRecord record;
  return localRecord(dt, record) ? monthLength(record.year, record.month) : 0;
}

int32_t DtDaysInYear(double dt) {
  DtCalendarRecord record;
  return localRecord(dt, record) ? 365 + (isLeapYear(record.year) ? 1 : 0) : 0;
}

}  // extern "C"
