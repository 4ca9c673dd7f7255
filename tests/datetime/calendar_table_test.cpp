// SPDX-License-Identifier: MIT
// Every Dt... export against the calendar table that make_calendar_table.py
// computes with Python's datetime and zoneinfo: UTC on every day from 1900 to
// 2100, and three zones with summer time (one southern) on every day of the
// years of their current rules and around every change of offset.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "hostrt/datetime.h"
#include "sicvm/datetime.h"

namespace {

constexpr double kMsPerDay = 86400000.0;

// The columns of a row, in the generator's order.
enum Column {
  kZone, kDt, kDt2, kNYear, kNMonth, kNDecade, kNWeek, kNDay,
  kYear, kMonth, kDay, kHour, kMinute, kSecond, kMillisecond, kDecade, kDayOfWeek, kDayOfYear,
  kIsDst, kIsLeapYear, kDaysInMonth, kDaysInYear, kWeekOfYear, kWeeksInYear,
  kIncYear, kIncMonth, kIncDecade, kIncWeek, kIncDay,
  kBeginOfYear, kBeginOfMonth, kBeginOfDecade, kBeginOfWeek, kBeginOfDay, kPack,
  kNext0600, kPrev0600, kNext2230, kPrev2230, kCount0600, kCount2230,
  kColumns
};

using Row = std::vector<int64_t>;

struct Table {
  std::map<int64_t, std::string> rules;  // zone index -> POSIX rule
  std::map<int64_t, std::string> names;
  std::vector<Row> rows;
};

Table readTable() {
  Table table;
  std::ifstream in(SICVM_CALENDAR_TABLE);
  EXPECT_TRUE(in) << "cannot read " << SICVM_CALENDAR_TABLE;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    if (line.rfind("zone ", 0) == 0) {
      std::string word, name, rule;
      int64_t index;
      fields >> word >> index >> name >> rule;
      table.names[index] = name;
      table.rules[index] = rule;
      continue;
    }
    Row row(kColumns);
    for (int64_t &value : row) fields >> value;
    EXPECT_TRUE(fields && (fields >> std::ws).eof()) << "bad row: " << line;
    table.rows.push_back(row);
  }
  return table;
}

double dtOf(int64_t ms) { return static_cast<double>(ms) / kMsPerDay; }

// A DT result as whole milliseconds; a NaN or an unrounded value shows up as
// a mismatch.
int64_t msOf(double dt) {
  const double ms = dt * kMsPerDay;
  if (!std::isfinite(ms)) return INT64_MIN;
  const double whole = std::nearbyint(ms);
  return std::fabs(ms - whole) < 1e-3 ? static_cast<int64_t>(whole) : INT64_MIN;
}

const char *const kNames[kColumns] = {
    "zone", "dt", "dt2", "nYear", "nMonth", "nDecade", "nWeek", "nDay",
    "DtYear", "DtMonth", "DtDay", "DtHour", "DtMinute", "DtSecond", "DtMillisecond", "DtDecade",
    "DtDayOfWeek", "DtDayOfYear", "DtIsDst", "DtIsLeapYear", "DtDaysInMonth", "DtDaysInYear",
    "DtWeekOfYear", "DtWeeksInYear", "DtIncYear", "DtIncMonth", "DtIncDecade", "DtIncWeek", "DtIncDay",
    "DtBeginOfYear", "DtBeginOfMonth", "DtBeginOfDecade", "DtBeginOfWeek", "DtBeginOfDay", "DtPack",
    "DtReportDayNext 06:00", "DtReportDayPrev 06:00", "DtReportDayNext 22:30", "DtReportDayPrev 22:30",
    "DtReportDaysCount 06:00", "DtReportDaysCount 22:30"};

// What the exports answer for one row, in the table's columns.
Row answers(const Row &r) {
  const double dt = dtOf(r[kDt]), dt2 = dtOf(r[kDt2]);
  Row a = r;  // the input columns stay as they are
  a[kYear] = DtYear(dt);
  a[kMonth] = DtMonth(dt);
  a[kDay] = DtDay(dt);
  a[kHour] = DtHour(dt);
  a[kMinute] = DtMinute(dt);
  a[kSecond] = DtSecond(dt);
  a[kMillisecond] = DtMillisecond(dt);
  a[kDecade] = DtDecade(dt);
  a[kDayOfWeek] = DtDayOfWeek(dt);
  a[kDayOfYear] = DtDayOfYear(dt);
  a[kIsDst] = DtIsDst(dt);
  a[kIsLeapYear] = DtIsLeapYear(dt);
  a[kDaysInMonth] = DtDaysInMonth(dt);
  a[kDaysInYear] = DtDaysInYear(dt);
  a[kWeekOfYear] = DtWeekOfYear(dt);
  a[kWeeksInYear] = DtWeeksInYear(dt);
  a[kIncYear] = msOf(DtIncYear(dt, static_cast<int32_t>(r[kNYear])));
  a[kIncMonth] = msOf(DtIncMonth(dt, static_cast<int32_t>(r[kNMonth])));
  a[kIncDecade] = msOf(DtIncDecade(dt, static_cast<int32_t>(r[kNDecade])));
  a[kIncWeek] = msOf(DtIncWeek(dt, static_cast<int32_t>(r[kNWeek])));
  a[kIncDay] = msOf(DtIncDay(dt, static_cast<int32_t>(r[kNDay])));
  a[kBeginOfYear] = msOf(DtBeginOfYear(dt));
  a[kBeginOfMonth] = msOf(DtBeginOfMonth(dt));
  a[kBeginOfDecade] = msOf(DtBeginOfDecade(dt));
  a[kBeginOfWeek] = msOf(DtBeginOfWeek(dt));
  a[kBeginOfDay] = msOf(DtBeginOfDay(dt));
  // DtPack reads words 0 to 6 only: the rest of the record is garbage here.
  int32_t record[DT_RECORD_WORDS];
  std::memset(record, 0x5A, sizeof record);
  for (int i = 0; i < 7; ++i) record[i] = static_cast<int32_t>(r[kYear + i]);
  a[kPack] = msOf(DtPack(record));
  a[kNext0600] = msOf(DtReportDayNext(dt, 6, 0));
  a[kPrev0600] = msOf(DtReportDayPrev(dt, 6, 0));
  a[kNext2230] = msOf(DtReportDayNext(dt, 22, 30));
  a[kPrev2230] = msOf(DtReportDayPrev(dt, 22, 30));
  a[kCount0600] = DtReportDaysCount(dt, dt2, 6, 0);
  a[kCount2230] = DtReportDaysCount(dt, dt2, 22, 30);
  return a;
}

class CalendarTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { table_ = new Table(readTable()); }
  static void TearDownTestSuite() {
    delete table_;
    VmSetTimeZone(nullptr);
  }
  static Table *table_;
};
Table *CalendarTable::table_ = nullptr;

// Every column of every row; per zone and column the count of mismatches and
// the first few of them.
TEST_F(CalendarTable, EveryExportAgreesWithTheIndependentCalendar) {
  ASSERT_EQ(table_->rules.size(), 4u);
  ASSERT_GT(table_->rows.size(), 150000u);
  std::map<int64_t, size_t> rowsPerZone;
  std::map<std::string, size_t> mismatches;
  int64_t zone = -1;
  for (const Row &r : table_->rows) {
    if (r[kZone] != zone) {
      zone = r[kZone];
      TzZoneRecord record;
      ASSERT_EQ(TzParseTimeZone(table_->rules.at(zone).c_str(), &record), 0);
      ASSERT_EQ(VmSetTimeZone(&record), 0);
    }
    ++rowsPerZone[zone];
    const Row a = answers(r);
    // The record of DtUnpack agrees with the field exports and the table.
    int32_t record[DT_RECORD_WORDS];
    ASSERT_EQ(DtUnpack(dtOf(r[kDt]), record), record);
    const int64_t expectedRecord[DT_RECORD_WORDS] = {r[kYear], r[kMonth], r[kDay], r[kHour],
                                                     r[kMinute], r[kSecond], r[kMillisecond], r[kDecade],
                                                     r[kDayOfWeek], r[kDayOfYear], r[kIsDst]};
    for (int w = 0; w < DT_RECORD_WORDS; ++w)
      if (record[w] != expectedRecord[w]) {
        ADD_FAILURE() << table_->names.at(zone) << " dt " << r[kDt] << ": DtUnpack word " << w << " is "
                      << record[w] << ", expected " << expectedRecord[w];
        break;
      }
    for (int c = kYear; c < kColumns; ++c) {
      if (a[c] == r[c]) continue;
      if (++mismatches[kNames[c]] <= 5)
        ADD_FAILURE() << table_->names.at(zone) << " dt " << r[kDt] << " (" << DtYear(dtOf(r[kDt])) << "-"
                      << DtMonth(dtOf(r[kDt])) << "-" << DtDay(dtOf(r[kDt])) << " " << DtHour(dtOf(r[kDt])) << ":"
                      << DtMinute(dtOf(r[kDt])) << "): " << kNames[c] << " gives " << a[c] << ", expected "
                      << r[c];
    }
  }
  for (const auto &[name, count] : mismatches) ADD_FAILURE() << name << ": " << count << " rows differ";
  // Every zone is covered, the zones with summer time on some 30,000 days.
  EXPECT_GT(rowsPerZone[0], 73000u);
  for (int64_t z : {1, 2, 3}) EXPECT_GT(rowsPerZone[z], 30000u) << table_->names.at(z);
}

}  // namespace
