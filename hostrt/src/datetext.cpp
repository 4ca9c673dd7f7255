// SPDX-License-Identifier: MIT
// Date-time text: the locale record and the pattern formatter.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "calendar_math.h"
#include "hostrt/datetime.h"
#include "hostrt/fmt.h"
#include "hostrt/sys.h"

static_assert(sizeof(FmtLocaleInfo) == FMT_LOCALE_INFO_SIZE);

using namespace hostrt::detail;

namespace {

constexpr char kDefaultDateSeparator = '-';
constexpr char kDefaultTimeSeparator = ':';

constexpr const char *kMonthNames[12] = {"January", "February", "March",     "April",
                                         "May",     "June",     "July",      "August",
                                         "September", "October", "November", "December"};
// Indexed by ISO weekday - 1 (Monday first).
constexpr const char *kWeekdayNames[7] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                          "Friday", "Saturday", "Sunday"};

// Appends to a caller's buffer, keeping room for the closing NUL.
class Output {
 public:
  Output(char *buffer, int32_t size) : buffer_(buffer), room_(static_cast<size_t>(size) - 1) {}

  void put(char c) {
    if (c != '\0' && used_ < room_) buffer_[used_++] = c;
  }
  void put(const char *text, size_t length) {
    for (size_t i = 0; i < length; ++i) put(text[i]);
  }
  // Three letters for a run of three, the whole name for longer runs.
  void name(const char *text, size_t run) { put(text, run == 3 ? 3 : std::strlen(text)); }
  void number(int64_t value, int minDigits) {
    char digits[32];
    const int n = std::snprintf(digits, sizeof digits, "%0*lld", minDigits,
                                static_cast<long long>(value));
    put(digits, static_cast<size_t>(n));
  }
  int32_t finish() {
    buffer_[used_] = '\0';
    return static_cast<int32_t>(used_);
  }

 private:
  char *buffer_;
  size_t room_;
  size_t used_ = 0;
};

// Writes one run of `count` copies of the pattern letter `letter`.
// Returns whether the field was an hour (for the minute rule of m and mm).
bool field(Output &out, char letter, size_t count, bool afterHour, const DtCalendarRecord &r) {
  const int width = count >= 2 ? 2 : 1;
  switch (letter) {
    case 'y':
      if (count >= 3) {
        out.number(r.year, r.year < 0 ? 5 : 4);  // "-0001": the sign takes a place of its own
      } else {
        out.number(floorMod(r.year, 100), 2);
      }
      return false;
    case 'm':
      if (afterHour && count <= 2) {
        out.number(r.minute, width);
      } else if (count >= 3) {
        out.name(kMonthNames[r.month - 1], count);
      } else {
        out.number(r.month, width);
      }
      return false;
    case 'd':
      if (count >= 3) {
        out.name(kWeekdayNames[r.dayOfWeek - 1], count);
      } else {
        out.number(r.day, width);
      }
      return false;
    case 'h':
      out.number(r.hour, width);
      return true;
    case 'n':
      out.number(r.minute, width);
      return false;
    case 's':
      out.number(r.second, width);
      return false;
    default:  // 'z'
      out.number(r.millisecond, count >= 3 ? 3 : 1);
      return false;
  }
}

}  // namespace

extern "C" {

int32_t FmtGetLocaleInfo(void *record) {
  if (record == nullptr) {
    _winseterrno(22);
    return -1;
  }
  FmtLocaleInfo info{};
  info.dateSeparator = kDefaultDateSeparator;
  info.timeSeparator = kDefaultTimeSeparator;
  std::memcpy(record, &info, sizeof info);
  return 0;
}

int32_t FmtDateTimeToStrEx(char *buffer, int32_t size, const char *pattern, double dt,
                           const void *localeRecord) {
  int64_t ms = 0;
  if (buffer == nullptr || size < 1 || pattern == nullptr || !dtToMs(dt, ms)) {
    if (buffer != nullptr && size >= 1) buffer[0] = '\0';
    _winseterrno(22);
    return -1;
  }
  FmtLocaleInfo locale{};
  if (localeRecord != nullptr) {
    std::memcpy(&locale, localeRecord, sizeof locale);
  } else {
    FmtGetLocaleInfo(&locale);
  }
  DtCalendarRecord parts{};
  fillCalendar(ms, parts);

  Output out(buffer, size);
  bool afterHour = false;
  for (const char *p = pattern; *p != '\0';) {
    const char c = *p;
    const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (std::strchr("ymdhnsz", letter) != nullptr) {
      size_t count = 0;
      while (std::tolower(static_cast<unsigned char>(*p)) == letter) ++p, ++count;
      afterHour = field(out, letter, count, afterHour, parts);
      continue;
    }
    ++p;
    if (c == '"' || c == '\'') {
      while (*p != '\0' && *p != c) out.put(*p++);
      if (*p == c) ++p;
    } else if (c == '/') {
      out.put(locale.dateSeparator);
    } else if (c == ':') {
      out.put(locale.timeSeparator);
    } else {
      out.put(c);
    }
  }
  return out.finish();
}

}  // extern "C"
