// SPDX-License-Identifier: MIT
// Time-zone records: POSIX rule parsing, validation, conversions around
// daylight-saving changes, and the system zone from TZ and TZif files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "hostrt/datetime.h"
#include "support/dates.h"
#include "hostrt/sys.h"

namespace {

using sicvm::test::at;

TzZoneRecord zone(const char *rule) {
  TzZoneRecord z{};
  TzParseTimeZone(rule, &z);
  return z;
}

constexpr const char *kCet = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char *kUsEastern = "EST5EDT,M3.2.0,M11.1.0";
constexpr const char *kSydney = "AEST-10AEDT,M10.1.0,M4.1.0/3";

TEST(TzRule, ParsesIntoTheDocumentedWords) {
  const struct { const char *text; TzZoneRecord expected; } cases[] = {
      {"<+0330>-3:30", {0, 12600, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {kCet, {1, 3600, 7200, TZ_RULE_MONTH, 350, 7200, TZ_RULE_MONTH, 1050, 10800, 0, 0}},
      {"EST5EDT", {1, -18000, -14400, 3, 320, 7200, 3, 1110, 7200, 0, 0}},  // the default rule
      {"<-03>3<-02>,J60/-1:30,300/167", {1, -10800, -7200, TZ_RULE_JULIAN, 60, -5400,
                                         TZ_RULE_DAY, 300, 601200, 0, 0}},
  };
  for (const auto &c : cases) {
    TzZoneRecord z;
    std::memset(&z, 0x7f, sizeof z);
    ASSERT_EQ(TzParseTimeZone(c.text, &z), 0) << c.text;
    EXPECT_EQ(0, std::memcmp(&z, &c.expected, sizeof z)) << c.text;
    EXPECT_EQ(TzValidateTimeZone(&z), 0) << c.text;
  }
  for (const char *text : {"", "UTC", "CET-25", "CET-1:60", "CET-1CEST,M3.5.0", "CET-1CEST,M13.1.0,M10.5.0",
                           "CET-1CEST,M3.6.0,M10.5.0", "CET-1CEST,J0,J365", "CET-1CEST,366,0", "UTC0x", "<+03-3"}) {
    TzZoneRecord z;
    std::memset(&z, 0x7f, sizeof z);
    const TzZoneRecord zero{};
    _winseterrno(0);
    EXPECT_EQ(TzParseTimeZone(text, &z), -1) << text;
    EXPECT_EQ(_wingeterrno(), 22) << text;
    EXPECT_EQ(0, std::memcmp(&z, &zero, sizeof z)) << text;
  }
}

TEST(TzRule, ValidatorNamesTheFirstBadWordAndConversionsRefuseBadZones) {
  const struct {
    int word;
    int32_t value, expected;
  } cases[] = {{0, 2, 1}, {4, 1350, 5}, {10, -1, 11}};
  for (const auto &c : cases) {
    TzZoneRecord z = zone(kCet);
    (&z.hasDst)[c.word] = c.value;
    EXPECT_EQ(TzValidateTimeZone(&z), c.expected) << "word " << c.word;
  }
  TzZoneRecord fixed{};
  fixed.startTime = 1;  // rule words must stay 0 without daylight saving
  EXPECT_EQ(TzValidateTimeZone(&fixed), 6);
  int32_t flag = 5;
  EXPECT_TRUE(std::isnan(DtUtcTimeToTzTime(1000.0, &fixed, &flag)));
  EXPECT_EQ(flag, 0);
}

// Rules outside the calendar table's three zones (whose changes it checks
// against an independent oracle): Julian days and daylight saving all year.
TEST(TzConvert, UtcToLocalAroundChanges) {
  const struct { const char *rule; double utc, local; int32_t dst; } cases[] = {
      // J60 is March 1 in every year; zero-based 59 is February 29 in a leap year.
      {"AAA0BBB,J60/0,J300/0", at(2024, 2, 29, 23, 59), at(2024, 2, 29, 23, 59), 0},
      {"AAA0BBB,59/0,300/0", at(2024, 2, 29), at(2024, 2, 29, 1), 1},
      // Daylight saving all year, across the new year included.
      {"EST5EDT,0/0,J365/25", at(2025, 1, 1, 3, 59, 59), at(2024, 12, 31, 23, 59, 59), 1},
  };
  for (const auto &c : cases) {
    const TzZoneRecord z = zone(c.rule);
    int32_t flag = -1;
    EXPECT_EQ(DtUtcTimeToTzTime(c.utc, &z, &flag), c.local) << c.rule << " at " << c.utc;
    EXPECT_EQ(flag, c.dst) << c.rule << " at " << c.utc;
  }
}

TEST(TzConvert, LocalToUtcResolvesGapsAndOverlaps) {
  const struct { const char *rule; double local, utc; } cases[] = {
      {kCet, at(2024, 3, 31, 2, 30), at(2024, 3, 31, 1, 30)},    // gap: reads 03:30 CEST
      {kCet, at(2024, 10, 27, 2, 30), at(2024, 10, 27, 0, 30)},  // overlap: first 02:30
      {kSydney, at(2024, 10, 6, 2, 30), at(2024, 10, 5, 16, 30)},
      // Negative daylight saving: winter time is the "daylight" one.
      {"IST-1GMT0,M10.5.0,M3.5.0/1", at(2024, 3, 31, 1, 30), at(2024, 3, 31, 1, 30)},
      {"IST-1GMT0,M10.5.0,M3.5.0/1", at(2024, 10, 27, 1, 30), at(2024, 10, 27, 0, 30)},
  };
  for (const auto &c : cases) {
    const TzZoneRecord z = zone(c.rule);
    EXPECT_EQ(DtTzTimeToUtcTime(c.local, &z, 0), c.utc) << c.rule << " at " << c.local;
  }
}

// Every hour of a year goes to local time and back; only the second pass
// through a repeated hour comes back one hour early (its first occurrence).
TEST(TzConvert, RoundTripThroughAYear) {
  for (const char *rule : {kCet, kUsEastern, kSydney}) {
    const TzZoneRecord z = zone(rule);
    int repeated = 0;
    for (double utc = at(2023, 12, 31); utc < at(2025, 1, 2); utc = DtIncDateTime(utc, 3600000.0 + 1)) {
      int32_t flag = 0;
      const double local = DtUtcTimeToTzTime(utc, &z, &flag);
      const double back = DtTzTimeToUtcTime(local, &z, 0);
      if (back != utc) {
        ++repeated;
        EXPECT_EQ(flag, 0) << rule << " at " << utc;
        EXPECT_EQ(DtDiffDateTime(utc, back), 3600000.0) << rule << " at " << utc;
      }
    }
    EXPECT_EQ(repeated, 1) << rule;
  }
}

// Each thread keeps the changes of the last few zones and years it converted
// in: answers must not depend on what was converted before. Every instant is
// converted first alone (after a conversion in another zone and year) and
// then in a run that cycles through more zones and years than are kept.
TEST(TzConvert, AnswersDoNotDependOnEarlierConversions) {
  const TzZoneRecord zones[] = {zone(kCet), zone(kUsEastern), zone(kSydney), zone("<+0330>-3:30<+0430>,J79/24,J263/24")};
  std::vector<std::pair<double, int32_t>> alone, mixed;
  for (int round = 0; round < 2; ++round)
    for (int year = 1995; year < 2030; year += 7)
      for (const TzZoneRecord &z : zones)
        for (double day = 0; day < 366; day += 36.6) {
          const double utc = at(year, 1, 1) + day;
          if (round == 0) {
            const TzZoneRecord &other = zones[(&z - zones + 1) % 4];
            DtUtcTimeToTzTime(at(year + 50, 6, 1), &other, nullptr);  // something else last
          }
          int32_t flag = -1;
          const double local = DtUtcTimeToTzTime(utc, &z, &flag);
          (round == 0 ? alone : mixed).push_back({local, flag});
          EXPECT_EQ(DtTzTimeToUtcTime(local, &z, 0), utc) << year << " " << day;
        }
  EXPECT_EQ(alone, mixed);
}

std::string be32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

// A TZif file of the given version ('\0' = 1) with one transition, one leap
// second, two types and `footer`.
std::string tzif(char version, const std::string &footer) {
  // isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt
  const std::string counts = be32(1) + be32(1) + be32(1) + be32(1) + be32(2) + be32(9);
  const std::string head = std::string("TZif") + version + std::string(15, '\0') + counts;
  const std::string types = be32(3600) + std::string(2, '\0') + be32(7200) + "\1\4" +
                            std::string("CET\0CEST\0", 9);
  std::string file = head + be32(0x12345678) + '\1' + types + be32(1) + be32(0) + std::string(2, '\0');
  if (version == '\0') return file;
  file += head + be32(0) + be32(0x12345678) + '\1' + types + std::string(8, '\0') + be32(0) +
          std::string(2, '\0');
  return file + '\n' + footer + '\n';
}

// TzGetSystemTimeZone with TZ set to each value, TZDIR a folder of zone files.
TEST(TzSystem, ReadsRulesAndZoneFileFootersAndRefusesTheRest) {
  char pattern[] = "/tmp/hostrt-tz-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  setenv("TZDIR", pattern, 1);
  std::vector<std::string> files;
  auto write = [&](const std::string &name, const std::string &bytes) {
    files.push_back(dir + "/" + name);
    std::ofstream(files.back(), std::ios::binary) << bytes;
    return files.back();
  };
  std::string truncated = tzif('2', kCet);
  truncated.resize(truncated.size() - 10);
  std::string badCount = tzif('2', kCet);
  badCount[35] = 2;  // timecnt 2 in the first header
  const TzZoneRecord cet = zone(kCet), tehran = zone("<+0330>-3:30"), zero{};
  const std::string v2 = write("Berlin", tzif('2', kCet));
  const struct {
    std::string tz;
    const TzZoneRecord *expected;  // null: refused
  } cases[] = {
      {kCet, &cet}, {":" + v2, &cet}, {"Berlin", &cet}, {write("Tehran", tzif('3', "<+0330>-3:30")), &tehran},
      {"", &zero}, {"UTC", &zero},
      {write("v1", tzif('\0', "")), nullptr}, {write("empty", tzif('2', "")), nullptr},
      {write("rule", tzif('2', "Nonsense")), nullptr}, {write("short", truncated), nullptr},
      {write("count", badCount), nullptr}, {dir + "/missing", nullptr},
      {"../" + dir.substr(dir.rfind('/') + 1) + "/Berlin", nullptr},  // must not climb out of TZDIR
  };
  for (const auto &c : cases) {
    setenv("TZ", c.tz.c_str(), 1);
    TzZoneRecord z;
    std::memset(&z, 0x7f, sizeof z);
    _winseterrno(0);
    EXPECT_EQ(TzGetSystemTimeZone(&z), c.expected ? 0 : -1) << c.tz;
    EXPECT_EQ(0, std::memcmp(&z, c.expected ? c.expected : &zero, sizeof z)) << c.tz;
    EXPECT_EQ(_wingeterrno(), c.expected ? 0 : 22) << c.tz;
    // The same text given directly, whatever TZ says.
    setenv("TZ", "UTC", 1);
    std::memset(&z, 0x7f, sizeof z);
    EXPECT_EQ(TzLoadTimeZone(c.tz.c_str(), &z), c.expected ? 0 : -1) << c.tz;
    EXPECT_EQ(0, std::memcmp(&z, c.expected ? c.expected : &zero, sizeof z)) << c.tz;
  }
  TzZoneRecord z;
  EXPECT_EQ(TzLoadTimeZone(nullptr, &z), -1);
  setenv("TZ", "UTC", 1);  // the test suite's own setting
  unsetenv("TZDIR");
  for (const std::string &f : files) unlink(f.c_str());
  rmdir(pattern);
}

}  // namespace
