// SPDX-License-Identifier: MIT
// The time zone of `sicvm run`.
#include "time_zone.h"

#include <cstdio>
#include <cstdlib>

#include "hostrt/datetime.h"
#include "sicvm/datetime.h"

namespace sicvm::tool {
namespace {

// An offset in seconds east of UTC as +hh:mm (with :ss when it has seconds).
std::string offsetText(int32_t seconds) {
  const char sign = seconds < 0 ? '-' : '+';
  const int32_t magnitude = seconds < 0 ? -seconds : seconds;
  char text[24];
  if (magnitude % 60 != 0)
    std::snprintf(text, sizeof text, "%c%02d:%02d:%02d", sign, magnitude / 3600, magnitude / 60 % 60, magnitude % 60);
  else
    std::snprintf(text, sizeof text, "%c%02d:%02d", sign, magnitude / 3600, magnitude / 60 % 60);
  return text;
}

// A change of the rule in its POSIX form: Jn, n or Mm.w.d, then /hh:mm.
std::string changeText(int32_t kind, int32_t date, int32_t time) {
  char day[24];
  if (kind == TZ_RULE_JULIAN)
    std::snprintf(day, sizeof day, "J%d", date);
  else if (kind == TZ_RULE_DAY)
    std::snprintf(day, sizeof day, "%d", date);
  else
    std::snprintf(day, sizeof day, "M%d.%d.%d", date / 100, date / 10 % 10, date % 10);
  // Appended piece by piece: g++ 12 at -O3 warns falsely (-Wrestrict) about
  // a literal prepended to a temporary string.
  std::string text = day;
  text.append("/").append(offsetText(time).substr(time < 0 ? 0 : 1));
  return text;
}

}  // namespace

bool applyTimeZoneOption(const std::optional<std::string> &text, std::string &error) {
  if (!text) return true;
  TzZoneRecord zone;
  if (text->empty() || TzLoadTimeZone(text->c_str(), &zone) != 0 || VmSetTimeZone(&zone) != 0) {
    error = "--tz needs a POSIX TZ rule such as CET-1CEST,M3.5.0,M10.5.0/3 or a zone name such as "
            "Europe/Berlin, found '" + *text + "'";
    return false;
  }
  return true;
}

std::string timeZoneLine(const std::optional<std::string> &text) {
  TzZoneRecord zone;
  VmGetTimeZone(&zone);
  std::string name;
  if (text) {
    name = *text;
  } else {
    const char *tz = std::getenv("TZ");
    name = tz != nullptr ? std::string("TZ=") + tz : "/etc/localtime";
    TzZoneRecord system;
    if (TzGetSystemTimeZone(&system) != 0) return "time zone: UTC (" + name + " cannot be read)";
  }
  std::string line = "time zone: " + name + " (UTC" + offsetText(zone.stdOffset);
  if (zone.hasDst != 0)
    line += ", summer time UTC" + offsetText(zone.dstOffset) + " from " +
            changeText(zone.startKind, zone.startDate, zone.startTime) + " to " +
            changeText(zone.endKind, zone.endDate, zone.endTime);
  return line + ")";
}

}  // namespace sicvm::tool
