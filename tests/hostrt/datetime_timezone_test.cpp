// Time-zone records: POSIX rule parsing, validation, conversions around
// daylight-saving changes, and the system zone from TZ and TZif files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
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
      {"<-03>3", {0, -10800, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {kCet, {1, 3600, 7200, TZ_RULE_MONTH, 350, 7200, TZ_RULE_MONTH, 1050, 10800, 0, 0}},
      {"EST5EDT", {1, -18000, -14400, TZ_RULE_MONTH, 320, 7200, TZ_RULE_MONTH, 1110, 7200, 0, 0}},
      {"IST-1GMT0,M10.5.0,M3.5.0/1", {1, 3600, 0, TZ_RULE_MONTH, 1050, 7200, TZ_RULE_MONTH, 350, 3600, 0, 0}},
      {"NZST-12:00:00NZDT-13:00:00,M9.5.0,M4.1.0/3", {1, 43200, 46800, 3, 950, 7200, 3, 410, 10800, 0, 0}},
      {"XXX3YYY,J60/-1:30,300/167", {1, -10800, -7200, TZ_RULE_JULIAN, 60, -5400, TZ_RULE_DAY, 300, 601200, 0, 0}},
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
  for (const char *text : {"", "UTC", "CE-1", "CET-25", "CET-1:60", "CET-1CEST,M3.5.0", "CET-1CEST,M13.1.0,M10.5.0",
                           "CET-1CEST,M3.6.0,M10.5.0", "CET-1CEST,M3.5.7,M10.5.0", "CET-1CEST,J0,J365",
                           "CET-1CEST,366,0", "CET-1CEST,M3.5.0/168,M10.5.0", "UTC0x", "<+03>", "<ab>-3",
                           "<+03-3"}) {
    TzZoneRecord z;
    std::memset(&z, 0x7f, sizeof z);
    _winseterrno(0);
    EXPECT_EQ(TzParseTimeZone(text, &z), -1) << text;
    EXPECT_EQ(_wingeterrno(), 22) << text;
    const TzZoneRecord zero{};
    EXPECT_EQ(0, std::memcmp(&z, &zero, sizeof z)) << text;
  }
}

TEST(TzRule, ValidatorNamesTheFirstBadWord) {
  const TzZoneRecord cet = zone(kCet);
  const struct {
    int word;
    int32_t value;
    int32_t expected;
  } cases[] = {{0, 2, 1},    {1, 90000, 2}, {2, -90000, 3}, {3, 0, 4},      {4, 1350, 5}, {4, 360, 5},
               {5, 605000, 6}, {6, 4, 7},   {7, 366, 8},    {8, -605000, 9}, {9, 1, 10},  {10, -1, 11}};
  for (const auto &c : cases) {
    TzZoneRecord z = cet;
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
      {"UTC0", dt(2024, 6, 1, 12), dt(2024, 6, 1, 12), 0},
      {"<+0330>-3:30", dt(2024, 6, 1), dt(2024, 6, 1, 3, 30), 0},
      {kCet, dt(2024, 1, 15, 12), dt(2024, 1, 15, 13), 0},
      {kCet, dt(2024, 3, 31, 0, 59, 59, 999), dt(2024, 3, 31, 1, 59, 59, 999), 0},
      {kCet, dt(2024, 3, 31, 1), dt(2024, 3, 31, 3), 1},
      {kCet, dt(2024, 10, 27, 0, 59, 59, 999), dt(2024, 10, 27, 2, 59, 59, 999), 1},
      {kCet, dt(2024, 10, 27, 1), dt(2024, 10, 27, 2), 0},
      {kUsEastern, dt(2024, 3, 10, 6, 59, 59), dt(2024, 3, 10, 1, 59, 59), 0},
      {kUsEastern, dt(2024, 3, 10, 7), dt(2024, 3, 10, 3), 1},
      {kUsEastern, dt(2024, 11, 3, 5, 59, 59), dt(2024, 11, 3, 1, 59, 59), 1},
      {kUsEastern, dt(2024, 11, 3, 6), dt(2024, 11, 3, 1), 0},
      {kSydney, dt(2024, 1, 15), dt(2024, 1, 15, 11), 1},
      {kSydney, dt(2024, 4, 6, 15, 59, 59), dt(2024, 4, 7, 2, 59, 59), 1},
      {kSydney, dt(2024, 4, 6, 16), dt(2024, 4, 7, 2), 0},
      {kSydney, dt(2024, 7, 1), dt(2024, 7, 1, 10), 0},
      {kSydney, dt(2024, 10, 5, 15, 59, 59), dt(2024, 10, 6, 1, 59, 59), 0},
      {kSydney, dt(2024, 10, 5, 16), dt(2024, 10, 6, 3), 1},
      {kSydney, dt(2024, 12, 31, 13), dt(2025, 1, 1), 1},
      // J60 is March 1 in every year; zero-based 59 is February 29 in a leap year.
      {"AAA0BBB,J60/0,J300/0", dt(2024, 2, 29, 23, 59, 59), dt(2024, 2, 29, 23, 59, 59), 0},
      {"AAA0BBB,J60/0,J300/0", dt(2024, 3, 1), dt(2024, 3, 1, 1), 1},
      {"AAA0BBB,59/0,300/0", dt(2024, 2, 28, 23, 59, 59), dt(2024, 2, 28, 23, 59, 59), 0},
      {"AAA0BBB,59/0,300/0", dt(2024, 2, 29), dt(2024, 2, 29, 1), 1},
      // Daylight saving all year, across the new year included.
      {"EST5EDT,0/0,J365/25", dt(2024, 1, 1, 4, 30), dt(2024, 1, 1, 0, 30), 1},
      {"EST5EDT,0/0,J365/25", dt(2025, 1, 1, 3, 59, 59), dt(2024, 12, 31, 23, 59, 59), 1},
      {"EST5EDT,0/0,J365/25", dt(2025, 1, 1, 4), dt(2025, 1, 1), 1},
  };
  for (const auto &c : cases) {
    const TzZoneRecord z = zone(c.rule);
    int32_t flag = -1;
    EXPECT_EQ(DtUtcTimeToTzTime(c.utc, &z, &flag), c.local) << c.rule << " at " << c.utc;
    EXPECT_EQ(flag, c.dst) << c.rule << " at " << c.utc;
    EXPECT_EQ(DtUtcTimeToTzTime(c.utc, &z, nullptr), c.local);
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
      {kUsEastern, dt(2024, 11, 3, 1, 30), dt(2024, 11, 3, 5, 30)},
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
  const TzZoneRecord utc{};
  int32_t flag = 5;
  const TzZoneRecord *zones[] = {nullptr, &bad};
  for (const TzZoneRecord *z : zones) {
    _winseterrno(0);
    EXPECT_TRUE(std::isnan(DtUtcTimeToTzTime(1000.0, z, &flag)));
    EXPECT_EQ(flag, 0);
    EXPECT_TRUE(std::isnan(DtTzTimeToUtcTime(1000.0, z, 0)));
    EXPECT_EQ(_wingeterrno(), 22);
  }
  EXPECT_TRUE(std::isnan(DtUtcTimeToTzTime(NAN, &utc, nullptr)));
  EXPECT_TRUE(std::isnan(DtTzTimeToUtcTime(1000.0, &utc, 1)));
}

// Builds a TZif file of the given version with one transition and `footer`.
std::string tzif(char version, const std::string &footer) {
  auto be32 = [](uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                       static_cast<char>(v)};
  };
  auto header = [&](char v) {
    // isutcnt, isstdcnt, leapcnt, timecnt, typecnt, charcnt
    return std::string("TZif") + v + std::string(15, '\0') + be32(1) + be32(1) + be32(1) + be32(1) + be32(2) +
           be32(9);
  };
  const std::string types = be32(3600) + '\0' + '\0' + be32(7200) + '\1' + '\4' + std::string("CET\0CEST\0", 9);
  std::string file = header(version) + be32(0x12345678) + '\1' + types + be32(1) + be32(0) + '\0' + '\0';
  if (version == '\0') return file;
  file += header(version) + std::string(4, '\0') + be32(0x12345678) + '\1' + types + std::string(8, '\0') +
          be32(0) + '\0' + '\0';
  return file + '\n' + footer + '\n';
}

class TzSystem : public testing::Test {
 protected:
  void SetUp() override {
    saveEnv("TZ", tz_);
    saveEnv("TZDIR", tzdir_);
    char pattern[] = "/tmp/hostrt-tz-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    restoreEnv("TZ", tz_);
    restoreEnv("TZDIR", tzdir_);
    for (const std::string &f : files_) unlink(f.c_str());
    rmdir(dir_.c_str());
  }
  std::string write(const std::string &name, const std::string &bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    files_.push_back(path);
    return path;
  }
  // Loads the system zone with TZ set to `value`; returns the result.
  int32_t load(const char *value, TzZoneRecord &z) {
    setenv("TZ", value, 1);
    std::memset(&z, 0x7f, sizeof z);
    return TzGetSystemTimeZone(&z);
  }
  std::string dir_;

 private:
  static void saveEnv(const char *name, std::string &slot) {
    const char *v = std::getenv(name);
    slot = v != nullptr ? v : std::string(1, '\0');
  }
  static void restoreEnv(const char *name, const std::string &slot) {
    if (slot == std::string(1, '\0')) {
      unsetenv(name);
    } else {
      setenv(name, slot.c_str(), 1);
    }
  }
  std::string tz_, tzdir_;
  std::vector<std::string> files_;
};

TEST_F(TzSystem, ReadsRulesAndZoneFileFooters) {
  const TzZoneRecord cet = zone(kCet);
  const TzZoneRecord zero{};
  const std::string v2 = write("Berlin", tzif('2', kCet));
  const std::string v3 = write("v3", tzif('3', "<+0330>-3:30"));
  const std::string path = ":" + v2;
  setenv("TZDIR", dir_.c_str(), 1);
  const struct {
    const char *tz;
    const TzZoneRecord *expected;
  } cases[] = {{kCet, &cet}, {v2.c_str(), &cet}, {path.c_str(), &cet}, {"Berlin", &cet},
               {"", &zero},  {"UTC", &zero},     {":Etc/UTC", &zero}};
  for (const auto &c : cases) {
    TzZoneRecord z;
    EXPECT_EQ(load(c.tz, z), 0) << c.tz;
    EXPECT_EQ(0, std::memcmp(&z, c.expected, sizeof z)) << c.tz;
  }
  TzZoneRecord z;
  ASSERT_EQ(load(v3.c_str(), z), 0);
  EXPECT_EQ(z.stdOffset, 12600);
}

TEST_F(TzSystem, RefusesUnreadableAndUnsupportedZones) {
  std::string truncated = tzif('2', kCet);
  truncated.resize(truncated.size() - 10);
  std::string corrupt = tzif('2', kCet);
  corrupt[corrupt.find("TZif", 4)] = 'X';  // the second header's magic
  std::string badCount = tzif('2', kCet);
  badCount[35] = 2;  // timecnt 2 in the first header
  const std::string files[] = {
      write("v1", tzif('\0', "")), write("empty", tzif('2', "")), write("notarule", tzif('2', "Nonsense")),
      write("short", truncated),   write("nohead", "TZjf2"),       write("count", badCount),
      write("bad", corrupt)};
  setenv("TZDIR", dir_.c_str(), 1);
  std::vector<std::string> values(std::begin(files), std::end(files));
  values.push_back(dir_ + "/missing");
  write("ok", tzif('2', kCet));  // readable, but only through a name that climbs out of TZDIR
  values.push_back("../" + dir_.substr(dir_.rfind('/') + 1) + "/ok");
  values.push_back("Garbage!");
  for (const std::string &value : values) {
    TzZoneRecord z;
    _winseterrno(0);
    EXPECT_EQ(load(value.c_str(), z), -1) << value;
    const TzZoneRecord zero{};
    EXPECT_EQ(0, std::memcmp(&z, &zero, sizeof z)) << value;
    EXPECT_EQ(_wingeterrno(), 22) << value;
  }
  EXPECT_EQ(TzGetSystemTimeZone(nullptr), -1);
}

}  // namespace
