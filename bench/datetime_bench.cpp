// SPDX-License-Identifier: MIT
// The decode-based calendar exports in a zone with summer time (Berlin's
// rule), each next to the same question answered by glibc with TZ set to the
// same rule:
//
//   DtYear           localtime_r, tm_year
//   DtWeekOfYear     localtime_r, the ISO week from tm_yday and tm_wday
//   DtIncMonth       localtime_r, month moved and the day clamped, mktime
//   DtReportDayNext  localtime_r, the day's 06:00 (or the next day's), mktime
//
// Both sides walk the same 4096 instants spread over 2000 to 2040 (DT values
// for ours, time_t for glibc), so neither profits from asking one year only.
// Before the benchmarks the program counts the heap allocations that one call
// of every Dt... export makes (it replaces malloc for that purpose) and
// prints them; at the end, each export's time divided by its baseline.
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "hostrt/datetime.h"
#include "ratio_reporter.h"
#include "sicvm/datetime.h"

// Counts malloc calls while counting is on; everything else is glibc's.
namespace {
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
}  // namespace

extern "C" void *__libc_malloc(size_t size);
extern "C" void *malloc(size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}

namespace {

constexpr const char *kRule = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr size_t kInstants = 4096;

struct Instants {
  std::vector<double> dt;
  std::vector<time_t> unix;
  Instants() {
    // 2000-01-01 to 2040-01-01 in steps of a little under 3.6 days, so the
    // times of day differ as well.
    const double first = 36526.0, last = 51136.0;
    for (size_t i = 0; i < kInstants; ++i) {
      // Whole seconds: time_t holds no milliseconds.
      const int64_t ms = static_cast<int64_t>((first + (last - first) * i / kInstants) * 86400.0) * 1000;
      dt.push_back(static_cast<double>(ms) / 86400000.0);
      unix.push_back(static_cast<time_t>(ms / 1000 - int64_t{DT_UNIX_EPOCH_DAY} * 86400));
    }
  }
};

const Instants &instants() {
  static const Instants all;
  return all;
}

void useZone() {
  setenv("TZ", kRule, 1);
  tzset();
  TzZoneRecord zone;
  if (TzParseTimeZone(kRule, &zone) != 0 || VmSetTimeZone(&zone) != 0) std::fprintf(stderr, "zone refused\n");
}

bool isLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// ISO weeks of a year whose January 1 falls on `jan1` (0 = Monday).
int weeksIn(int year, int jan1) { return jan1 == 3 || (jan1 == 2 && isLeap(year)) ? 53 : 52; }

// ISO 8601 week of a broken-down local time (as strftime's %V computes it).
int isoWeek(const struct tm &t) {
  const int year = t.tm_year + 1900;
  const int wday = (t.tm_wday + 6) % 7;  // 0 = Monday
  const int jan1 = ((wday - t.tm_yday) % 7 + 7) % 7;
  const int week = (t.tm_yday - wday + 10) / 7;
  if (week < 1) return weeksIn(year - 1, ((jan1 - (isLeap(year - 1) ? 366 : 365)) % 7 + 7) % 7);
  if (week > weeksIn(year, jan1)) return 1;
  return week;
}

// The baselines, one call each.
int glibcYear(time_t now) {
  struct tm t;
  localtime_r(&now, &t);
  return t.tm_year + 1900;
}

int glibcWeek(time_t now) {
  struct tm t;
  localtime_r(&now, &t);
  return isoWeek(t);
}

time_t glibcIncMonth(time_t now, int months) {
  struct tm t;
  localtime_r(&now, &t);
  t.tm_mon += months;
  t.tm_year += t.tm_mon / 12;
  t.tm_mon %= 12;
  static const int kLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const int length = kLengths[t.tm_mon] + (t.tm_mon == 1 && isLeap(t.tm_year + 1900) ? 1 : 0);
  if (t.tm_mday > length) t.tm_mday = length;
  t.tm_isdst = -1;
  return mktime(&t);
}

time_t glibcReportDay(time_t now) {
  struct tm t;
  localtime_r(&now, &t);
  if (t.tm_hour >= 6) ++t.tm_mday;
  t.tm_hour = 6;
  t.tm_min = t.tm_sec = 0;
  t.tm_isdst = -1;
  const time_t next = mktime(&t);
  return next == now ? next + 86400 : next;
}

void BM_DtYear(benchmark::State &state) {
  useZone();
  const auto &dt = instants().dt;
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(DtYear(dt[i++ % kInstants]));
}

void BM_glibc_year(benchmark::State &state) {
  useZone();
  const auto &unix = instants().unix;
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(glibcYear(unix[i++ % kInstants]));
}

void BM_DtWeekOfYear(benchmark::State &state) {
  useZone();
  const auto &dt = instants().dt;
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(DtWeekOfYear(dt[i++ % kInstants]));
}

void BM_glibc_week(benchmark::State &state) {
  useZone();
  const auto &unix = instants().unix;
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(glibcWeek(unix[i++ % kInstants]));
}

void BM_DtIncMonth(benchmark::State &state) {
  useZone();
  const auto &dt = instants().dt;
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(DtIncMonth(dt[i++ % kInstants], 5));
}

void BM_glibc_inc_month(benchmark::State &state) {
  useZone();
  const auto &unix = instants().unix;
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(glibcIncMonth(unix[i++ % kInstants], 5));
}

void BM_DtReportDayNext(benchmark::State &state) {
  useZone();
  const auto &dt = instants().dt;
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(DtReportDayNext(dt[i++ % kInstants], 6, 0));
}

void BM_glibc_report_day(benchmark::State &state) {
  useZone();
  const auto &unix = instants().unix;
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(glibcReportDay(unix[i++ % kInstants]));
}

BENCHMARK(BM_DtYear)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_glibc_year)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DtWeekOfYear)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_glibc_week)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DtIncMonth)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_glibc_inc_month)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_DtReportDayNext)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_glibc_report_day)->Repetitions(5)->ReportAggregatesOnly(true);

// Heap allocations of one call of each export, the zone being set.
void countAllocations() {
  useZone();
  const double dt = 45000.3;
  int32_t record[DT_RECORD_WORDS] = {2023, 3, 26, 2, 30, 0, 0};
  g_allocations = 0;
  g_counting = true;
  for (auto question : {DtYear, DtMonth, DtDay, DtHour, DtMinute, DtSecond, DtMillisecond, DtDecade, DtDayOfWeek,
                        DtDayOfYear, DtWeekOfYear, DtWeeksInYear, DtIsDst, DtIsLeapYear, DtDaysInMonth, DtDaysInYear})
    benchmark::DoNotOptimize(question(dt));
  for (auto move : {DtIncYear, DtIncMonth, DtIncDecade, DtIncWeek, DtIncDay}) benchmark::DoNotOptimize(move(dt, 3));
  for (auto start : {DtBeginOfYear, DtBeginOfMonth, DtBeginOfDecade, DtBeginOfWeek, DtBeginOfDay})
    benchmark::DoNotOptimize(start(dt));
  benchmark::DoNotOptimize(DtReportDayNext(dt, 6, 0));
  benchmark::DoNotOptimize(DtReportDayPrev(dt, 6, 0));
  benchmark::DoNotOptimize(DtReportDaysCount(dt, dt + 40, 6, 0));
  benchmark::DoNotOptimize(DtPack(record));
  benchmark::DoNotOptimize(DtUnpack(dt, record));
  benchmark::DoNotOptimize(DtNow());
  benchmark::DoNotOptimize(VmGetTimeZone(nullptr));
  g_counting = false;
  std::printf("heap allocations in one call of each of the 32 Dt... exports and VmGetTimeZone: %ld\n",
              g_allocations.load());
}

// The baselines answer the same questions: count the instants where they do not.
void checkBaselines() {
  useZone();
  const Instants &all = instants();
  auto dtOf = [](time_t t) { return static_cast<double>(t) / 86400.0 + DT_UNIX_EPOCH_DAY; };
  int differ[4] = {};
  for (size_t i = 0; i < kInstants; ++i) {
    const double dt = all.dt[i];
    const time_t unix = all.unix[i];
    differ[0] += DtYear(dt) != glibcYear(unix);
    differ[1] += DtWeekOfYear(dt) != glibcWeek(unix);
    differ[2] += DtCompareDateTime(DtIncMonth(dt, 5), dtOf(glibcIncMonth(unix, 5))) != 0;
    differ[3] += DtCompareDateTime(DtReportDayNext(dt, 6, 0), dtOf(glibcReportDay(unix))) != 0;
  }
  std::printf("answers that differ from glibc's on the %zu instants: year %d, week %d, +5 months %d, "
              "report day %d\n\n", kInstants, differ[0], differ[1], differ[2], differ[3]);
}

}  // namespace

int main(int argc, char **argv) {
  countAllocations();
  checkBaselines();
  sicvm::bench::RatioReporter reporter(
      "Time / glibc time for the same question, same process (CPU time, median of 5):",
      {{"BM_DtYear", "BM_glibc_year"},
       {"BM_DtWeekOfYear", "BM_glibc_week"},
       {"BM_DtIncMonth", "BM_glibc_inc_month"},
       {"BM_DtReportDayNext", "BM_glibc_report_day"}});
  return sicvm::bench::runWithRatios(argc, argv, reporter);
}
