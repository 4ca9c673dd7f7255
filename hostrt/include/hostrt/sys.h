// SPDX-License-Identifier: MIT
/* Host error number and millisecond clock. */
#ifndef HOSTRT_SYS_H
#define HOSTRT_SYS_H

#include <stdint.h>

#include "hostrt/api.h"

HOSTRT_BEGIN_DECLS

/* The host error number: one per thread, 0 at thread start. 22 means an
 * invalid argument. */
HOSTRT_API void _winseterrno(int code);
HOSTRT_API int _wingeterrno(void);

/* Millisecond counter: monotonic (CLOCK_MONOTONIC), wrapping at 2^32.
 * Tests may replace it with a manual clock that only moves when told to. */
HOSTRT_API uint32_t SysGetClockCounter(void);

/* Switches to the manual clock, which then reads `value`. */
HOSTRT_API void SysSetManualClock(uint32_t value);
/* Moves the manual clock forward by ms (wrapping at 2^32). */
HOSTRT_API void SysAdvanceManualClock(uint32_t ms);
/* Returns to the monotonic clock. */
HOSTRT_API void SysUseRealClock(void);

HOSTRT_END_DECLS

#endif
