// SPDX-License-Identifier: MIT
// The time zone of `sicvm run`: the --tz option and the line that names the
// zone a run uses.
#pragma once

#include <optional>
#include <string>

namespace sicvm::tool {

// Sets the library's zone (VmSetTimeZone) from --tz: a POSIX rule such as
// CET-1CEST,M3.5.0,M10.5.0/3, UTC, or a zone name of the system's zone files
// such as Europe/Berlin. Without the option the library keeps the system
// zone. False, with a message, for text that names no supported zone.
bool applyTimeZoneOption(const std::optional<std::string> &text, std::string &error);

// "time zone: NAME (UTC+01:00, summer time UTC+02:00 from M3.5.0/02:00 to
// M10.5.0/03:00)", the zone the library uses now; NAME is the option's text,
// or where the system zone came from.
std::string timeZoneLine(const std::optional<std::string> &text);

}  // namespace sicvm::tool
