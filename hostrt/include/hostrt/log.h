// SPDX-License-Identifier: MIT
/* Host log: levelled, printf-style messages sent to one output device.
 *
 * A message of level L is emitted when the current level is at least L
 * (LogGetLevel() >= L). Callers that build expensive messages ask the level
 * first; LogPrintf filters as well.
 *
 * Devices (LogSetDevice):
 *   0  discard every message;
 *   2  standard error, the text exactly as formatted;
 *   3  standard error, one line per message, prefixed with the wall-clock
 *      time, the level and the calling thread's context name (the default);
 *   8  a callback: every emitted message is handed, exactly as formatted
 *      (no line end added), to `void proc(int level, const char *text)` on the
 *      thread that logged it.
 *
 * Starting level: the decimal value of the environment variable
 * SICVM_LOG_LEVEL when it is set and valid, otherwise 5 (fatal errors,
 * set-up failures and notices; run-time errors and traces stay quiet).
 */
#ifndef HOSTRT_LOG_H
#define HOSTRT_LOG_H

#include "hostrt/api.h"

HOSTRT_BEGIN_DECLS

typedef void (*LogProc)(int level, const char *text);

enum {
  LOG_DEVICE_NONE = 0,
  LOG_DEVICE_STDERR_RAW = 2,
  LOG_DEVICE_STDERR = 3,
  LOG_DEVICE_CALLBACK = 8
};

enum { LOG_DEFAULT_LEVEL = 5, LOG_MESSAGE_MAX = 2048 };

/* Opens the log. maxLevel caps every level set later (LogSetLevel clamps to
 * 0..maxLevel); device is the initial output device. The starting level is
 * taken from SICVM_LOG_LEVEL (see above). Returns 0; calling it again only
 * changes the cap and the device. */
HOSTRT_API int LogInit(int maxLevel, int device);

/* Closes the log: flushes standard error and returns to the discard device.
 * Returns 0. */
HOSTRT_API int LogDone(void);

HOSTRT_API int LogGetLevel(void);

/* Sets the level (clamped to 0..maxLevel) and returns the previous one. */
HOSTRT_API int LogSetLevel(int level);

/* Chooses the output device. proc is used only by device 8; device 8 with a
 * null proc returns to device 3. Returns the previous device number, or -1
 * (host error number 22) for an unknown device. */
HOSTRT_API int LogSetDevice(int device, LogProc proc);

/* Names the calling thread in the prefix of device 3 (at most 31 characters
 * are kept; null clears the name). Returns 0. */
HOSTRT_API int LogSetContext(const char *name);

/* Formats and emits a message when level <= LogGetLevel(). Messages longer
 * than LOG_MESSAGE_MAX - 1 bytes are cut. Returns the number of bytes
 * emitted, 0 when the message was filtered out. */
HOSTRT_API int LogPrintf(int level, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

HOSTRT_END_DECLS

#endif
