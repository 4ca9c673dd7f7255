// SPDX-License-Identifier: MIT
// A DT value (days since 1899-12-30, UTC) of a calendar date and time, through
// the host's encoder, for the date and time tests.
#pragma once

#include <cstdint>

#include "hostrt/datetime.h"

namespace sicvm::test {

inline double at(int32_t y, int32_t mo, int32_t d, int32_t h = 0, int32_t mi = 0, int32_t s = 0, int32_t ms = 0) {
  DtCalendarRecord r{y, mo, d, h, mi, s, ms, 0, 0, 0, 0};
  return DtEncodeDateTime(&r, 0);
}

}  // namespace sicvm::test
