// SPDX-License-Identifier: MIT
// Date and time functions of the host library (6050 to 6091): wrappers around
// the calendar exports and the host's Unix-time and duration primitives.
//
// Every function runs in the same order: check the DT (or TIME) inputs,
// compute, write all outputs, check the DT (or TIME) result. An invalid input
// records error 33 and the function goes on with it; an invalid result
// records error 34 and stays in the output. The checks never change the
// outputs and never skip the computation.
#include "foundation/messages.h"
#include "hostlib/functions.h"
#include "hostrt/datetime.h"
#include "sicvm/datetime.h"

namespace sicvm::hostlib {
namespace {

void checkDt(const lib::Call &call, double dt) {
  if (DtValidateDateTime(dt) != 0) call.fail(msg::kInvalidParameter);
}

// Writes a DT result to output cell `cell`, then checks it.
void putDt(const lib::Call &call, int32_t cell, double dt) {
  call.setDouble(cell, dt);
  if (DtValidateDateTime(dt) != 0) call.fail(msg::kOutOfRange);
}

// DT -> DINT (or BOOL): one calendar question about a checked DT.
template <int32_t (*Question)(double)>
int32_t dtToDint(const lib::Call &call) {
  const double dt = call.getDouble(0);
  checkDt(call, dt);
  call.setDint(1, Question(dt));
  return 0;
}

template <int32_t (*Question)(double)>
int32_t dtToBool(const lib::Call &call) {
  const double dt = call.getDouble(0);
  checkDt(call, dt);
  call.setBool(1, Question(dt) != 0);
  return 0;
}

// DT, count -> DT.
template <double (*Move)(double, int32_t)>
int32_t dtIncrement(const lib::Call &call) {
  const double dt = call.getDouble(0);
  checkDt(call, dt);
  putDt(call, 2, Move(dt, call.getDint(1)));
  return 0;
}

// DT -> DT.
template <double (*Start)(double)>
int32_t dtBegin(const lib::Call &call) {
  const double dt = call.getDouble(0);
  checkDt(call, dt);
  putDt(call, 1, Start(dt));
  return 0;
}

// DT, hour, minute -> DT.
template <double (*Boundary)(double, int32_t, int32_t)>
int32_t dtReportDay(const lib::Call &call) {
  const double dt = call.getDouble(0);
  checkDt(call, dt);
  putDt(call, 3, Boundary(dt, call.getDint(1), call.getDint(2)));
  return 0;
}

}  // namespace

int32_t dtNow(const lib::Call &call) {
  call.setDouble(0, DtNow());
  return 0;
}

int32_t dtPack(const lib::Call &call) {
  int32_t record[DT_RECORD_WORDS] = {};
  for (int32_t i = 0; i < 7; ++i) record[i] = call.getDint(i);
  putDt(call, 7, DtPack(record));
  return 0;
}

int32_t dtUnpack(const lib::Call &call) {
  const double dt = call.getDouble(0);
  checkDt(call, dt);
  int32_t record[DT_RECORD_WORDS];
  const int32_t *fields = DtUnpack(dt, record);
  call.setBool(1, fields[DT_WORD_DST] != 0);
  for (int32_t i = 0; i < 7; ++i) call.setDint(2 + i, fields[i]);
  return 0;
}

int32_t dtYear(const lib::Call &call) { return dtToDint<DtYear>(call); }
int32_t dtMonth(const lib::Call &call) { return dtToDint<DtMonth>(call); }
int32_t dtDay(const lib::Call &call) { return dtToDint<DtDay>(call); }
int32_t dtHour(const lib::Call &call) { return dtToDint<DtHour>(call); }
int32_t dtMinute(const lib::Call &call) { return dtToDint<DtMinute>(call); }
int32_t dtSecond(const lib::Call &call) { return dtToDint<DtSecond>(call); }
int32_t dtMillisecond(const lib::Call &call) { return dtToDint<DtMillisecond>(call); }
int32_t dtDecade(const lib::Call &call) { return dtToDint<DtDecade>(call); }
int32_t dtDayOfWeek(const lib::Call &call) { return dtToDint<DtDayOfWeek>(call); }
int32_t dtDayOfYear(const lib::Call &call) { return dtToDint<DtDayOfYear>(call); }
int32_t dtWeekOfYear(const lib::Call &call) { return dtToDint<DtWeekOfYear>(call); }
int32_t dtIsDst(const lib::Call &call) { return dtToBool<DtIsDst>(call); }
int32_t dtIsLeapYear(const lib::Call &call) { return dtToBool<DtIsLeapYear>(call); }
int32_t dtDaysInMonth(const lib::Call &call) { return dtToDint<DtDaysInMonth>(call); }
int32_t dtDaysInYear(const lib::Call &call) { return dtToDint<DtDaysInYear>(call); }
int32_t dtWeeksInYear(const lib::Call &call) { return dtToDint<DtWeeksInYear>(call); }
int32_t dtIncYear(const lib::Call &call) { return dtIncrement<DtIncYear>(call); }
int32_t dtIncMonth(const lib::Call &call) { return dtIncrement<DtIncMonth>(call); }
int32_t dtIncDecade(const lib::Call &call) { return dtIncrement<DtIncDecade>(call); }
int32_t dtIncWeek(const lib::Call &call) { return dtIncrement<DtIncWeek>(call); }
int32_t dtIncDay(const lib::Call &call) { return dtIncrement<DtIncDay>(call); }
int32_t dtBeginOfYear(const lib::Call &call) { return dtBegin<DtBeginOfYear>(call); }
int32_t dtBeginOfMonth(const lib::Call &call) { return dtBegin<DtBeginOfMonth>(call); }
int32_t dtBeginOfDecade(const lib::Call &call) { return dtBegin<DtBeginOfDecade>(call); }
int32_t dtBeginOfWeek(const lib::Call &call) { return dtBegin<DtBeginOfWeek>(call); }
int32_t dtBeginOfDay(const lib::Call &call) { return dtBegin<DtBeginOfDay>(call); }
int32_t dtReportDayNext(const lib::Call &call) { return dtReportDay<DtReportDayNext>(call); }
int32_t dtReportDayPrev(const lib::Call &call) { return dtReportDay<DtReportDayPrev>(call); }

// One error 33 when either DT is invalid.
int32_t dtReportDaysCount(const lib::Call &call) {
  const double dt1 = call.getDouble(0);
  const double dt2 = call.getDouble(1);
  if (DtValidateDateTime(dt1) != 0 || DtValidateDateTime(dt2) != 0) call.fail(msg::kInvalidParameter);
  call.setDint(4, DtReportDaysCount(dt1, dt2, call.getDint(2), call.getDint(3)));
  return 0;
}

// Seconds since 1970-01-01 00:00 UTC and the milliseconds of that second.
// The count is 32-bit: instants after 2038-01-19 03:14:07 UTC or before
// 1901-12-13 20:45:52 UTC give the nearest 32-bit limit and 0 ms.
int32_t dtToUnixTime(const lib::Call &call) {
  const double dt = call.getDouble(0);
  checkDt(call, dt);
  int32_t milliseconds = 0;
  const int32_t seconds = DtDateTimeToUnixTime(dt, &milliseconds);
  call.setDint(1, seconds);
  call.setDint(2, milliseconds);
  return 0;
}

int32_t unixTimeToDt(const lib::Call &call) {
  putDt(call, 2, DtUnixTimeToDateTime(call.getDint(0), call.getDint(1)));
  return 0;
}

int32_t tmPack(const lib::Call &call) {
  TmDurationRecord record{};
  record.days = call.getDint(0);
  record.hours = call.getDint(1);
  record.minutes = call.getDint(2);
  record.seconds = call.getDint(3);
  record.milliseconds = call.getDint(4);
  record.sign = call.getBool(5) ? -1 : 1;
  const double time = TmEncodeTime(&record, 0);
  call.setDouble(6, time);
  if (TmValidateTime(time) != 0) call.fail(msg::kOutOfRange);
  return 0;
}

int32_t tmUnpack(const lib::Call &call) {
  const double time = call.getDouble(0);
  if (TmValidateTime(time) != 0) call.fail(msg::kInvalidParameter);
  TmDurationRecord record{};
  TmDecodeTime(time, &record);
  call.setBool(1, record.sign == -1);
  call.setDint(2, record.days);
  call.setDint(3, record.hours);
  call.setDint(4, record.minutes);
  call.setDint(5, record.seconds);
  call.setDint(6, record.milliseconds);
  return 0;
}

}  // namespace sicvm::hostlib
