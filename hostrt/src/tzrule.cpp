// SPDX-License-Identifier: MIT
// Time-zone records: the POSIX TZ rule parser and the record validator.
#include <cstdint>
#include <cstring>

#include "hostrt/datetime.h"
#include "hostrt/sys.h"
#include "tzrule.h"

static_assert(sizeof(TzZoneRecord) == 44);

namespace hostrt::detail {

namespace {

constexpr int32_t kMaxOffset = 24 * 3600 + 59 * 60 + 59;
constexpr int32_t kMaxRuleTime = 167 * 3600 + 59 * 60 + 59;

// US rules, taken when a rule names a DST zone but no change dates.
constexpr int32_t kDefaultStartDate = 320;  // M3.2.0
constexpr int32_t kDefaultEndDate = 1110;   // M11.1.0
constexpr int32_t kDefaultRuleTime = 2 * 3600;

bool isAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

class RuleParser {
 public:
  explicit RuleParser(const char *text) : p_(text) {}

  bool parse(TzZoneRecord &zone) {
    std::memset(&zone, 0, sizeof zone);
    int32_t west = 0;
    if (!name() || !offset(24, west)) return false;
    zone.stdOffset = -west;
    if (atEnd()) return true;
    if (!name()) return false;
    zone.hasDst = 1;
    zone.dstOffset = zone.stdOffset + 3600;
    if (!atEnd() && *p_ != ',') {
      if (!offset(24, west)) return false;
      zone.dstOffset = -west;
    }
    if (atEnd()) {
      zone.startKind = zone.endKind = TZ_RULE_MONTH;
      zone.startDate = kDefaultStartDate;
      zone.endDate = kDefaultEndDate;
      zone.startTime = zone.endTime = kDefaultRuleTime;
      return true;
    }
    return expect(',') && rule(zone.startKind, zone.startDate, zone.startTime) && expect(',') &&
           rule(zone.endKind, zone.endDate, zone.endTime) && atEnd();
  }

 private:
  bool atEnd() const { return *p_ == '\0'; }

  bool expect(char c) {
    if (*p_ != c) return false;
    ++p_;
    return true;
  }

  // Three or more letters, or <...> with letters, digits, '+' and '-'.
  bool name() {
    int length = 0;
    if (*p_ == '<') {
      ++p_;
      while (isAlpha(*p_) || isDigit(*p_) || *p_ == '+' || *p_ == '-') ++p_, ++length;
      return length >= 3 && expect('>');
    }
    while (isAlpha(*p_)) ++p_, ++length;
    return length >= 3;
  }

  // An unsigned number of 1 to maxDigits digits, at most maxValue.
  bool number(int maxDigits, int32_t maxValue, int32_t &value) {
    value = 0;
    int digits = 0;
    while (isDigit(*p_)) {
      if (++digits > maxDigits) return false;
      value = value * 10 + (*p_++ - '0');
    }
    return digits > 0 && value <= maxValue;
  }

  // [+|-]hh[:mm[:ss]] in seconds, hours 0 to maxHours. The sign is the
  // text's own: for offsets, positive means west of Greenwich.
  bool offset(int32_t maxHours, int32_t &seconds) {
    int32_t sign = 1;
    if (*p_ == '+' || *p_ == '-') sign = *p_++ == '-' ? -1 : 1;
    int32_t hours = 0;
    int32_t minutes = 0;
    int32_t secs = 0;
    if (!number(3, maxHours, hours)) return false;
    if (*p_ == ':') {
      ++p_;
      if (!number(2, 59, minutes)) return false;
      if (*p_ == ':') {
        ++p_;
        if (!number(2, 59, secs)) return false;
      }
    }
    seconds = sign * (hours * 3600 + minutes * 60 + secs);
    return true;
  }

  // Jn, n or Mm.w.d, then an optional /time.
  bool rule(int32_t &kind, int32_t &date, int32_t &time) {
    int32_t a = 0;
    if (*p_ == 'J') {
      ++p_;
      if (!number(3, 365, a) || a < 1) return false;
      kind = TZ_RULE_JULIAN;
      date = a;
    } else if (*p_ == 'M') {
      ++p_;
      int32_t week = 0;
      int32_t weekday = 0;
      if (!number(2, 12, a) || a < 1 || !expect('.') || !number(1, 5, week) || week < 1 ||
          !expect('.') || !number(1, 6, weekday))
        return false;
      kind = TZ_RULE_MONTH;
      date = 100 * a + 10 * week + weekday;
    } else {
      if (!number(3, 365, a)) return false;
      kind = TZ_RULE_DAY;
      date = a;
    }
    time = kDefaultRuleTime;
    if (*p_ == '/') {
      ++p_;
      // Rule times are local clock readings; here a minus sign means before midnight.
      if (!offset(167, time)) return false;
    }
    return true;
  }

  const char *p_;
};

bool validRuleDate(int32_t kind, int32_t date) {
  switch (kind) {
    case TZ_RULE_JULIAN:
      return date >= 1 && date <= 365;
    case TZ_RULE_DAY:
      return date >= 0 && date <= 365;
    case TZ_RULE_MONTH: {
      const int32_t month = date / 100;
      const int32_t week = date / 10 % 10;
      const int32_t weekday = date % 10;
      return date >= 0 && month >= 1 && month <= 12 && week >= 1 && week <= 5 && weekday <= 6;
    }
    default:
      return false;
  }
}

}  // namespace

bool parseTzRule(const char *text, TzZoneRecord &zone) {
  RuleParser parser(text);
  if (parser.parse(zone) && TzValidateTimeZone(&zone) == 0) return true;
  std::memset(&zone, 0, sizeof zone);
  return false;
}

}  // namespace hostrt::detail

using namespace hostrt::detail;

extern "C" {

int32_t TzValidateTimeZone(const TzZoneRecord *zone) {
  if (zone == nullptr) return -1;
  const int32_t *word = &zone->hasDst;
  auto offsetOk = [](int32_t v) { return v >= -kMaxOffset && v <= kMaxOffset; };
  auto timeOk = [](int32_t v) { return v >= -kMaxRuleTime && v <= kMaxRuleTime; };
  if (zone->hasDst != 0 && zone->hasDst != 1) return 1;
  if (!offsetOk(zone->stdOffset)) return 2;
  if (zone->hasDst == 0) {
    for (int i = 2; i < 11; ++i)
      if (word[i] != 0) return i + 1;
    return 0;
  }
  if (!offsetOk(zone->dstOffset)) return 3;
  if (zone->startKind < TZ_RULE_JULIAN || zone->startKind > TZ_RULE_MONTH) return 4;
  if (!validRuleDate(zone->startKind, zone->startDate)) return 5;
  if (!timeOk(zone->startTime)) return 6;
  if (zone->endKind < TZ_RULE_JULIAN || zone->endKind > TZ_RULE_MONTH) return 7;
  if (!validRuleDate(zone->endKind, zone->endDate)) return 8;
  if (!timeOk(zone->endTime)) return 9;
  if (zone->reserved9 != 0) return 10;
  if (zone->reserved10 != 0) return 11;
  return 0;
}

int32_t TzParseTimeZone(const char *text, TzZoneRecord *zone) {
  if (text == nullptr || zone == nullptr) {
    if (zone != nullptr) std::memset(zone, 0, sizeof *zone);
    _winseterrno(22);
    return -1;
  }
  if (!parseTzRule(text, *zone)) {
    _winseterrno(22);
    return -1;
  }
  return 0;
}

}  // extern "C"
