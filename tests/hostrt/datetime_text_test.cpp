// Date-time text: the locale record and the pattern formatter.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "datetime_support.h"
#include "hostrt/fmt.h"
#include "hostrt/sys.h"

using dttest::dt;

namespace {

std::string format(const char *pattern, double value, const void *locale = nullptr) {
  char buffer[64];
  const int32_t n = FmtDateTimeToStrEx(buffer, sizeof buffer, pattern, value, locale);
  EXPECT_EQ(n, static_cast<int32_t>(std::strlen(buffer))) << pattern;
  return buffer;
}

TEST(FmtDateTime, PatternLetters) {
  const double t = dt(2024, 3, 5, 7, 8, 9, 45);  // a Tuesday
  const struct {
    const char *pattern;
    double value;
    const char *expected;
  } cases[] = {
      {"yyyy/mm/dd-hh:mm:ss", t, "2024-03-05-07:08:09"},
      {"YYYY/MM/DD-HH:MM:SS", t, "2024-03-05-07:08:09"},
      {"d/m/yy h:m:s", t, "5-3-24 7:8:9"},
      {"hh:nn:ss.zzz z", t, "07:08:09.045 45"},
      {"mm hh mm", t, "03 07 08"},
      {"mmm mmmm ddd dddd", t, "Mar March Tue Tuesday"},
      {"\"yyyy\" 'mm' yyyy-mm-ddThh", t, "yyyy mm 2024-03-05T07"},
      {"yyyy/mm/dd", dt(1, 1, 1), "0001-01-01"},
      {"yyyy yy", dt(-1, 6, 1), "-0001 99"},
      {"yyyy/mm/dd hh:nn:ss", -0.25, "1899-12-29 18:00:00"},
      {"yyyy/mm/dd hh:nn:ss.zzz", 2958466.0 - dttest::kMs, "9999-12-31 23:59:59.999"},
      {"'open", t, "open"},
  };
  for (const auto &c : cases) EXPECT_EQ(format(c.pattern, c.value), c.expected) << c.pattern;
}

TEST(FmtDateTime, SeparatorsComeFromTheRecord) {
  unsigned char record[FMT_LOCALE_INFO_SIZE];
  std::memset(record, 0xee, sizeof record);
  ASSERT_EQ(FmtGetLocaleInfo(record), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(record), 3), std::string("\0-:", 3));
  record[1] = '.';
  record[2] = '\0';
  EXPECT_EQ(format("dd/mm/yyyy hh:mm", dt(2024, 12, 24, 18, 30), record), "24.12.2024 1830");
  EXPECT_EQ(FmtGetLocaleInfo(nullptr), -1);
}

TEST(FmtDateTime, CutsToTheBufferAndRefusesBadArguments) {
  const double t = dt(2024, 3, 5, 7, 8, 9);
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(FmtDateTimeToStrEx(buffer, 5, "yyyy/mm/dd", t, nullptr), 4);
  EXPECT_STREQ(buffer, "2024");
  EXPECT_EQ(buffer[5], 'x');
  const struct {
    char *buffer;
    int32_t size;
    const char *pattern;
    double value;
  } bad[] = {{nullptr, 8, "yyyy", t},
             {buffer, 0, "yyyy", t},
             {buffer, 8, nullptr, t},
             {buffer, 8, "yyyy", dttest::kNaN},
             {buffer, 8, "yyyy", 1e12}};
  for (const auto &c : bad) {
    std::strcpy(buffer, "before");
    _winseterrno(0);
    EXPECT_EQ(FmtDateTimeToStrEx(c.buffer, c.size, c.pattern, c.value, nullptr), -1);
    EXPECT_EQ(_wingeterrno(), 22);
    EXPECT_EQ(buffer[0], c.buffer != nullptr && c.size >= 1 ? '\0' : 'b');
  }
}

}  // namespace
