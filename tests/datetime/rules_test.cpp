// SPDX-License-Identifier: MIT
// The calendar rules one by one, on hand-picked instants (calendar_table_test
// checks every day against an independent oracle): decade arithmetic,
// month-end clamping, report-day boundaries, the day split before
// 1899-12-30, values that cannot be decoded, and the state of
// the process-wide time zone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "hostrt/datetime.h"
#include "support/dates.h"
#include "sicvm/datetime.h"

namespace {

using sicvm::test::at;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMs = 1.0 / 86400000.0;

// Sets a POSIX rule as the zone for the life of the object; the system zone
// (TZ=UTC in the tests) afterwards.
class Zone {
 public:
  explicit Zone(const char *rule) {
    TzZoneRecord zone;
    EXPECT_EQ(TzParseTimeZone(rule, &zone), 0) << rule;
    EXPECT_EQ(VmSetTimeZone(&zone), 0);
  }
  ~Zone() { VmSetTimeZone(nullptr); }
};

// Two DT values are the same millisecond.
#define EXPECT_SAME_MS(a, b) EXPECT_EQ(std::llround((a) / kMs), std::llround((b) / kMs))

TEST(DtRules, DecadeArithmeticKeepsThePlaceInTheTenDayPeriod) {
  const struct { double from; int32_t n; double to; } cases[] = {
      {at(2023, 1, 31, 7, 30), 1, at(2023, 2, 10, 7, 30)},    // the 31st + 1: the 10th of the next month
      {at(2023, 1, 31, 7, 30), -1, at(2023, 1, 20, 7, 30)},   // the 31st - 1: the 20th
      {at(2023, 1, 30), 3, at(2023, 2, 28)},                  // the last decade is clamped to the month
      {at(2023, 12, 25), 4, at(2024, 2, 5)},                  // across the new year
      {at(2023, 6, 15), 36, at(2024, 6, 15)},                 // 36 decades are a year
      {at(2023, 6, 15), -37, at(2022, 6, 5)},
  };
  for (const auto &c : cases) EXPECT_SAME_MS(DtIncDecade(c.from, c.n), c.to) << c.from << " + " << c.n;
}

TEST(DtRules, MonthsAndYearsClampToTheEndOfTheMonth) {
  const struct { double from; int32_t months; double to; } cases[] = {
      {at(2023, 1, 31, 12), 1, at(2023, 2, 28, 12)},
      {at(2024, 1, 31, 12), 1, at(2024, 2, 29, 12)},
      {at(2023, 1, 31, 12), -13, at(2021, 12, 31, 12)},
      {at(2023, 2, 28), 1, at(2023, 3, 28)},  // a short month's last day stays that day
      {at(2024, 2, 29), 12, at(2025, 2, 28)},
  };
  for (const auto &c : cases) EXPECT_SAME_MS(DtIncMonth(c.from, c.months), c.to) << c.from << " + " << c.months;
  EXPECT_SAME_MS(DtIncYear(at(2024, 2, 29), 1), at(2025, 2, 28));
  EXPECT_SAME_MS(DtIncYear(at(2024, 2, 29), -4), at(2020, 2, 29));
}

TEST(DtRules, ReportDaysStartStrictlyAfterAndStrictlyBefore) {
  const double boundary = at(2023, 5, 10, 10);
  const struct { double dt; double next, prev; } cases[] = {
      {boundary, at(2023, 5, 11, 10), at(2023, 5, 9, 10)},  // at a start: neither that start
      {boundary - kMs, boundary, at(2023, 5, 9, 10)},
      {boundary + kMs, at(2023, 5, 11, 10), boundary},
      {at(2023, 5, 10), boundary, at(2023, 5, 9, 10)},
      {at(2023, 12, 31, 23, 59), at(2024, 1, 1, 10), at(2023, 12, 31, 10)},
  };
  for (const auto &c : cases) {
    EXPECT_SAME_MS(DtReportDayNext(c.dt, 10, 0), c.next) << c.dt;
    EXPECT_SAME_MS(DtReportDayPrev(c.dt, 10, 0), c.prev) << c.dt;
  }
  // Within one report day the count is 0; across n starts it is n, negated
  // when the arguments swap.
  EXPECT_EQ(DtReportDaysCount(boundary, boundary + 1 - kMs, 10, 0), 0);
  EXPECT_EQ(DtReportDaysCount(boundary - kMs, boundary, 10, 0), 1);
  EXPECT_EQ(DtReportDaysCount(at(2023, 5, 1, 9), at(2023, 5, 10, 11), 10, 0), 10);
  EXPECT_EQ(DtReportDaysCount(at(2023, 5, 10, 11), at(2023, 5, 1, 9), 10, 0), -10);
  EXPECT_EQ(DtReportDaysCount(boundary, boundary, 10, 0), 0);
  // Unchecked hour and minute: 24:00 is the next midnight, -30 minutes 23:30
  // of the day before, and huge values neither overflow nor hang.
  EXPECT_SAME_MS(DtReportDayNext(at(2023, 5, 10, 1), 24, 0), at(2023, 5, 11));
  EXPECT_SAME_MS(DtReportDayNext(at(2023, 5, 10, 1), 0, -30), at(2023, 5, 10, 23, 30));
  EXPECT_TRUE(std::isnan(DtReportDayNext(boundary, INT32_MAX, INT32_MAX)));
  EXPECT_EQ(DtReportDaysCount(boundary, boundary + 3, INT32_MIN, INT32_MIN), 0);
}

// The day split rounds the day toward zero and takes the magnitude of the
// rest, so before day 0 the weekday is that of the later day.
TEST(DtRules, DaySplitBeforeDayZero) {
  EXPECT_EQ(DtDayOfWeek(0.0), 6);     // 1899-12-30, a Saturday
  EXPECT_EQ(DtDayOfWeek(-0.25), 6);   // 1899-12-29 18:00 counts as day 0
  EXPECT_EQ(DtDayOfWeek(-1.0), 5);    // 1899-12-29 00:00, a Friday
  EXPECT_EQ(DtDayOfWeek(-693593.0), 1);  // 0001-01-01, a Monday
  // -0.25 is day 0 at 06:00, so the next 10:00 start is day 0 at 10:00.
  EXPECT_SAME_MS(DtReportDayNext(-0.25, 10, 0), 10.0 / 24);
}

TEST(DtRules, ValuesThatCannotBeDecoded) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double bad : {kNaN, inf, -inf, 1e12}) {
    SCOPED_TRACE(bad);
    int32_t record[DT_RECORD_WORDS];
    std::memset(record, 0x5A, sizeof record);
    EXPECT_EQ(DtUnpack(bad, record), record);
    for (int32_t word : record) EXPECT_EQ(word, 0);
    for (auto question : {DtYear, DtMonth, DtDayOfWeek, DtWeekOfYear, DtWeeksInYear, DtIsDst, DtIsLeapYear,
                          DtDaysInMonth, DtDaysInYear})
      EXPECT_EQ(question(bad), 0);
    for (auto move : {DtIncYear, DtIncMonth, DtIncDecade, DtIncWeek, DtIncDay}) {
      EXPECT_TRUE(std::isnan(move(bad, 1)));
      const double same = move(bad, 0);
      EXPECT_EQ(std::memcmp(&bad, &same, sizeof bad), 0) << "a count of 0 keeps dt";
    }
    for (auto start : {DtBeginOfYear, DtBeginOfMonth, DtBeginOfDecade, DtBeginOfWeek, DtBeginOfDay})
      EXPECT_TRUE(std::isnan(start(bad)));
    EXPECT_TRUE(std::isnan(DtReportDayPrev(bad, 6, 0)));
    EXPECT_EQ(DtReportDaysCount(1000.0, bad, 6, 0), 0);
  }
  // Counts that would leave 32 bits give NaN rather than wrap.
  for (auto move : {DtIncYear, DtIncMonth, DtIncDecade, DtIncWeek, DtIncDay})
    for (int32_t n : {INT32_MAX, INT32_MIN}) EXPECT_TRUE(std::isnan(move(45000.5, n))) << n;
  // DtPack checks the fields it reads.
  int32_t record[DT_RECORD_WORDS] = {2023, 2, 29, 0, 0, 0, 0};
  EXPECT_TRUE(std::isnan(DtPack(record)));
  EXPECT_TRUE(std::isnan(DtPack(nullptr)));
}

TEST(DtTimeZone, SetGetAndReloadTheSystemZone) {
  // The tests run with TZ=UTC: the first use loads it.
  ASSERT_EQ(VmSetTimeZone(nullptr), 0);
  const double noon = at(2023, 7, 1, 12);
  EXPECT_EQ(DtHour(noon), 12);
  TzZoneRecord berlin;
  ASSERT_EQ(TzParseTimeZone("CET-1CEST,M3.5.0,M10.5.0/3", &berlin), 0);
  // An unaligned source is fine; a record the host rejects changes nothing.
  unsigned char buffer[VM_TIME_ZONE_SIZE + 1];
  std::memcpy(buffer + 1, &berlin, sizeof berlin);
  ASSERT_EQ(VmSetTimeZone(buffer + 1), 0);
  EXPECT_EQ(DtHour(noon), 14);
  EXPECT_EQ(DtIsDst(noon), 1);
  TzZoneRecord bad = berlin;
  bad.startKind = 9;
  EXPECT_EQ(VmSetTimeZone(&bad), -1);
  EXPECT_EQ(DtHour(noon), 14);
  // A copy, and the library's own record.
  TzZoneRecord copy;
  std::memset(&copy, 0x5A, sizeof copy);
  EXPECT_EQ(VmGetTimeZone(&copy), &copy);
  EXPECT_EQ(std::memcmp(&copy, &berlin, sizeof copy), 0);
  EXPECT_EQ(std::memcmp(VmGetTimeZone(nullptr), &berlin, sizeof berlin), 0);

  // Dropping the zone reloads the system's at the next use, from TZ as it is
  // then; a zone that cannot be read is all zeros (UTC) and is tried again.
  const char *saved = std::getenv("TZ");
  const std::string previous = saved != nullptr ? saved : "";
  setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
  ASSERT_EQ(VmSetTimeZone(nullptr), 0);
  EXPECT_EQ(DtHour(noon), 8);
  setenv("TZ", "No/Such_Zone", 1);
  ASSERT_EQ(VmSetTimeZone(nullptr), 0);
  EXPECT_EQ(DtHour(noon), 12);
  const TzZoneRecord zeros{};
  EXPECT_EQ(std::memcmp(VmGetTimeZone(nullptr), &zeros, sizeof zeros), 0);
  setenv("TZ", "<+0530>-5:30", 1);
  EXPECT_EQ(DtMinute(noon), 30) << "loaded at this use, without another VmSetTimeZone";
  setenv("TZ", "UTC", 1);
  EXPECT_EQ(DtMinute(noon), 30) << "a loaded zone stays until dropped";
  if (saved != nullptr) setenv("TZ", previous.c_str(), 1); else unsetenv("TZ");
  VmSetTimeZone(nullptr);
}

// Across a change of offset, days keep the wall-clock time and the decade
// and week starts move by whole UTC days.
TEST(DtTimeZone, WallClockAcrossSummerTime) {
  Zone berlin("CET-1CEST,M3.5.0,M10.5.0/3");
  const double before = at(2023, 3, 25, 11);  // Saturday 12:00 CET
  EXPECT_SAME_MS(DtIncDay(before, 1), at(2023, 3, 26, 10));   // Sunday 12:00 CEST
  EXPECT_SAME_MS(DtIncWeek(before, 1), at(2023, 4, 1, 10));
  EXPECT_SAME_MS(DtIncDay(at(2023, 3, 26, 10), -1), before);
  EXPECT_SAME_MS(DtBeginOfWeek(at(2023, 3, 28, 10)), at(2023, 3, 26, 22));  // Monday 00:00 CEST - 1 day
  EXPECT_SAME_MS(DtBeginOfDay(at(2023, 3, 26, 10)), at(2023, 3, 25, 23));
  EXPECT_SAME_MS(DtBeginOfDecade(at(2023, 3, 28, 10)), at(2023, 2, 28, 23) + 20);
}

}  // namespace
