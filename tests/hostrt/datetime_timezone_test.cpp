// Time-zone records: POSIX rule parsing, validation, conversions around
// daylight-saving changes, and the system zone from TZ and TZif files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "datetime_support.h"
#include "hostrt/datetime.h"
#include "hostrt/sys.h"

using dttest::dt;
using dttest::zone;

namespace {

constexpr const char *kCet = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char *kUsEastern = "EST5EDT,M3.2.0,M11.1.0";
constexpr const char *kSydney = "AEST-10AEDT,M10.1.0,M4.1.0/3";

TEST(TzRule, ParsesIntoTheDocumentedWords) {
  const struct {
    const char *text;
    TzZoneRecord expected;
  } cases[] = {
      {"UTC0", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"<+0330>-3:30", {0, 12600, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {kCet, {1, 3600, 7200, TZ_RULE_MONTH, 350, 7200, TZ_RULE_MONTH, 1050, 10800, 0, 0}},
      {"EST5EDT", {1, -18000, -14400, 3, 320, 7200, 3, 1110, 7200, 0, 0}},
      {"IST-1GMT0,M10.5.0,M3.5.0/1", {1, 3600, 0, 3, 1050, 7200, 3, 350, 3600, 0, 0}},
      {"NZST-12:00:00NZDT-13:00:00,M9.5.0,M4.1.0/3", {1, 43200, 46800, 3, 950, 7200, 3, 410,
                                                      10800, 0, 0}},
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
}

TEST(TzRule, RefusesIncompleteOrOutOfRangeText) {
  for (const char *text :
       {"", "UTC", "CE-1", "CET-25", "CET-1:60", "CET-1CEST,M3.5.0", "CET-1CEST,M13.1.0,M10.5.0",
        "CET-1CEST,M3.6.0,M10.5.0", "CET-1CEST,M3.5.7,M10.5.0", "CET-1CEST,J0,J365",
        "CET-1CEST,366,0", "CET-1CEST,M3.5.0/168,M10.5.0", "UTC0x", "<+03>", "<ab>-3", "<+03-3"}) {
    TzZoneRecord z;
    std::memset(&z, 0x7f, sizeof z);
    const TzZoneRecord zero{};
    _winseterrno(0);
    EXPECT_EQ(TzParseTimeZone(text, &z), -1) << text;
    EXPECT_EQ(_wingeterrno(), 22) << text;
    EXPECT_EQ(0, std::memcmp(&z, &zero, sizeof z)) << text;
  }
}

TEST(TzRule, ValidatorNamesTheFirstBadWord) {
  const struct {
    int word;
    int32_t value, expected;
  } cases[] = {{0, 2, 1},     {2, -90000, 3}, {4, 1350, 5}, {4, 360, 5},
               {6, 4, 7},     {8, -605000, 9}, {10, -1, 11}};
  for (const auto &c : cases) {
    TzZoneRecord z = zone(kCet);
    (&z.hasDst)[c.word] = c.value;
    EXPECT_EQ(TzValidateTimeZone(&z), c.expected) << "word " << c.word;
  }
  TzZoneRecord fixed{};
  EXPECT_EQ(TzValidateTimeZone(&fixed), 0);
  fixed.startTime = 1;  // rule words must stay 0 without daylight saving
  EXPECT_EQ(TzValidateTimeZone(&fixed), 6);
  EXPECT_EQ(TzValidateTimeZone(nullptr), -1);
}

TEST(TzConvert, UtcToLocalAroundChanges) {
  const struct {
    const char *rule;
    double utc, local;
    int32_t dst;
  } cases[] = {
      {"<+0330>-3:30", dt(2024, 6, 1), dt(2024, 6, 1, 3, 30), 0},
      {kCet, dt(2024, 3, 31, 0, 59, 59, 999), dt(2024, 3, 31, 1, 59, 59, 999), 0},
      {kCet, dt(2024, 3, 31, 1), dt(2024, 3, 31, 3), 1},
      {kCet, dt(2024, 10, 27, 0, 59, 59, 999), dt(2024, 10, 27, 2, 59, 59, 999), 1},
      {kCet, dt(2024, 10, 27, 1), dt(2024, 10, 27, 2), 0},
      {kUsEastern, dt(2024, 3, 10, 7), dt(2024, 3, 10, 3), 1},
      {kUsEastern, dt(2024, 11, 3, 6), dt(2024, 11, 3, 1), 0},
      {kSydney, dt(2024, 1, 15), dt(2024, 1, 15, 11), 1},
      {kSydney, dt(2024, 4, 6, 16), dt(2024, 4, 7, 2), 0},
      {kSydney, dt(2024, 10, 5, 16), dt(2024, 10, 6, 3), 1},
      {kSydney, dt(2024, 12, 31, 13), dt(2025, 1, 1), 1},
      // J60 is March 1 in every year; zero-based 59 is February 29 in a leap year.
      {"AAA0BBB,J60/0,J300/0", dt(2024, 2, 29, 23, 59), dt(2024, 2, 29, 23, 59), 0},
      {"AAA0BBB,59/0,300/0", dt(2024, 2, 29), dt(2024, 2, 29, 1), 1},
      // Daylight saving all year, across the new year included.
      {"EST5EDT,0/0,J365/25", dt(2025, 1, 1, 3, 59, 59), dt(2024, 12, 31, 23, 59, 59), 1},
      {"EST5EDT,0/0,J365/25", dt(2025, 1, 1, 4), dt(2025, 1, 1), 1},
  };
  for (const auto &c : cases) {
    const TzZoneRecord z = zone(c.rule);
    int32_t flag = -1;
    EXPECT_EQ(DtUtcTimeToTzTime(c.utc, &z, &flag), c.local) << c.rule << " at " << c.utc;
    EXPECT_EQ(flag, c.dst) << c.rule << " at " << c.utc;
  }
}

TEST(TzConvert, LocalToUtcResolvesGapsAndOverlaps) {
  const struct {
    const char *rule;
    double local, utc;
  } cases[] = {
      {kCet, dt(2024, 7, 1, 14), dt(2024, 7, 1, 12)},
      {kCet, dt(2024, 3, 31, 2, 30), dt(2024, 3, 31, 1, 30)},    // gap: reads 03:30 CEST
      {kCet, dt(2024, 10, 27, 2, 30), dt(2024, 10, 27, 0, 30)},  // overlap: first 02:30
      {kUsEastern, dt(2024, 3, 10, 2, 30), dt(2024, 3, 10, 7, 30)},
      {kSydney, dt(2024, 10, 6, 2, 30), dt(2024, 10, 5, 16, 30)},
      {kSydney, dt(2024, 4, 7, 2, 30), dt(2024, 4, 6, 15, 30)},
      {"IST-1GMT0,M10.5.0,M3.5.0/1", dt(2024, 3, 31, 1, 30), dt(2024, 3, 31, 1, 30)},  // gap
      {"IST-1GMT0,M10.5.0,M3.5.0/1", dt(2024, 10, 27, 1, 30), dt(2024, 10, 27, 0, 30)},
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
    for (double utc = dt(2023, 12, 31); utc < dt(2025, 1, 2); utc = DtIncDateTime(utc, 3600000.0 + 1)) {
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

TEST(TzConvert, RefusesBadArguments) {
  TzZoneRecord bad = zone(kCet);
  bad.reserved9 = 1;
  int32_t flag = 5;
  EXPECT_TRUE(std::isnan(DtUtcTimeToTzTime(1000.0, &bad, &flag)));
  EXPECT_EQ(flag, 0);
  EXPECT_TRUE(std::isnan(DtTzTimeToUtcTime(1000.0, nullptr, 0)));
  const TzZoneRecord utc{};
  EXPECT_TRUE(std::isnan(DtTzTimeToUtcTime(1000.0, &utc, 1)));
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

class TzSystem : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/hostrt-tz-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    setenv("TZDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    setenv("TZ", "UTC", 1);  // the test suite's own setting
    unsetenv("TZDIR");
    for (const std::string &f : files_) unlink(f.c_str());
    rmdir(dir_.c_str());
  }
  std::string write(const std::string &name, const std::string &bytes) {
    files_.push_back(dir_ + "/" + name);
    std::ofstream(files_.back(), std::ios::binary) << bytes;
    return files_.back();
  }
  // The system zone with TZ set to `value`, as the result and *z.
  int32_t load(const std::string &value, TzZoneRecord &z) {
    setenv("TZ", value.c_str(), 1);
    std::memset(&z, 0x7f, sizeof z);
    return TzGetSystemTimeZone(&z);
  }
  std::string dir_;
  std::vector<std::string> files_;
};

TEST_F(TzSystem, ReadsRulesAndZoneFileFooters) {
  const TzZoneRecord cet = zone(kCet);
  const TzZoneRecord tehran = zone("<+0330>-3:30");
  const TzZoneRecord zero{};
  const std::string v2 = write("Berlin", tzif('2', kCet));
  const std::string v3 = write("Tehran", tzif('3', "<+0330>-3:30"));
  const struct {
    std::string tz;
    const TzZoneRecord *expected;
  } cases[] = {{kCet, &cet},  {v2, &cet},     {":" + v2, &cet},       {"Berlin", &cet},
               {v3, &tehran}, {"", &zero},    {"UTC", &zero},         {":Etc/UTC", &zero}};
  for (const auto &c : cases) {
    TzZoneRecord z;
    EXPECT_EQ(load(c.tz, z), 0) << c.tz;
    EXPECT_EQ(0, std::memcmp(&z, c.expected, sizeof z)) << c.tz;
  }
}

TEST_F(TzSystem, RefusesUnreadableAndUnsupportedZones) {
  std::string truncated = tzif('2', kCet);
  truncated.resize(truncated.size() - 10);
  std::string noSecondHeader = tzif('2', kCet);
  noSecondHeader[noSecondHeader.find("TZif", 4)] = 'X';
  std::string badCount = tzif('2', kCet);
  badCount[35] = 2;  // timecnt 2 in the first header
  write("ok", tzif('2', kCet));  // readable, but not through a name that climbs out of TZDIR
  const std::string values[] = {
      write("v1", tzif('\0', "")),   write("empty", tzif('2', "")),
      write("rule", tzif('2', "Nonsense")), write("short", truncated),
      write("magic", "TZjf2"),         write("head", noSecondHeader),
      write("count", badCount),        dir_ + "/missing",
      "../" + dir_.substr(dir_.rfind('/') + 1) + "/ok", "Garbage!"};
  for (const std::string &value : values) {
    TzZoneRecord z;
    const TzZoneRecord zero{};
    _winseterrno(0);
    EXPECT_EQ(load(value, z), -1) << value;
    EXPECT_EQ(0, std::memcmp(&z, &zero, sizeof z)) << value;
    EXPECT_EQ(_wingeterrno(), 22) << value;
  }
  EXPECT_EQ(TzGetSystemTimeZone(nullptr), -1);
}

}  // namespace
