// SPDX-License-Identifier: MIT
// POSIX TZ rule text to a zone record, for the parser export and the system zone reader.
#ifndef HOSTRT_SRC_TZRULE_H
#define HOSTRT_SRC_TZRULE_H

#include "hostrt/datetime.h"

namespace hostrt::detail {

// True with *zone filled for a complete, valid rule; false with *zone zeroed.
bool parseTzRule(const char *text, TzZoneRecord &zone);

}  // namespace hostrt::detail

#endif
