// SPDX-License-Identifier: MIT
/* Non-volatile point store: a value and a status kept per point index in an
 * SQLite file, surviving restarts of the host and crashes of its process.
 *
 * Handles
 *   DboperOpen returns a 32-bit handle (0 = none) from a process-wide table
 *   of at most DBOPER_MAX_STORES open stores. A handle stays valid until
 *   DboperClose; a closed handle is never handed out again by this process
 *   (its generation bits change), so a stale handle fails with error 9.
 *   Every call may be made from any thread; calls on one store are
 *   serialised, and closing a store while another thread uses it waits for
 *   nothing: the store goes away when that call ends. A child process made
 *   by fork must not use the stores of its parent; it opens its own.
 *
 * Durability
 *   The file is in write-ahead-log mode with synchronous=FULL: when a write
 *   or clear has returned, it is on disk and survives a crash of the process
 *   or of the machine. Several processes may open the same file; SQLite
 *   locks it, and a call waits up to 5 seconds for another writer.
 *
 * File
 *   A missing file (or an empty one) is created as a new, empty store. An
 *   existing file is used only when its SQLite header carries this store's
 *   application ID (DBOPER_APPLICATION_ID) and a format version it knows,
 *   and its pages pass SQLite's quick check; anything else is refused with
 *   a message and left exactly as it was. Table point_store holds one row
 *   per point that has something stored:
 *     idx        point index (primary key)
 *     point_id   the point ID of the configuration record given with the
 *                last write (NULL when none was given); for people who
 *                inspect the file, never used by reads
 *     status     stored status word, NULL when none
 *     value_bits stored value as the 64-bit pattern of the IEEE double, so
 *                that every value, -0.0 and NaN included, reads back exactly;
 *                NULL when none
 *   A row left with neither status nor value is removed.
 *
 * Arguments common to the point calls
 *   index     1 to 2^31-1 (index 0 is the null point, never stored).
 *   selector  which part a write or clear touches, as a set of the presence
 *             bits: 1 status, 2 value, 3 both. Other values are refused.
 *
 * Failures return -1 (0 from DboperOpen) and set the host error number:
 *    2 ENOENT   the store's folder does not exist
 *    5 EIO      the disk failed to read or write
 *    9 EBADF    the handle is not an open store
 *   13 EACCES   no permission for the file or its folder
 *   16 EBUSY    another process held the store locked for too long
 *   22 EINVAL   bad argument (null or empty path, index, selector, record),
 *               or a path that is not a regular file
 *   24 EMFILE   DBOPER_MAX_STORES stores are open already
 *   28 ENOSPC   the disk is full
 *   30 EROFS    the file or its folder is read-only
 *   74 EBADMSG  the file is not an SQLite database, or the store is damaged
 *   95 ENOTSUP  an SQLite database of another application, or a store
 *               format newer than this program
 * and leave a message for DboperLastMessage on the calling thread.
 */
#ifndef HOSTRT_STORE_H
#define HOSTRT_STORE_H

#include <stdint.h>

#include "hostrt/api.h"

HOSTRT_BEGIN_DECLS

enum {
  DBOPER_SELECT_STATUS = 1,
  DBOPER_SELECT_VALUE = 2,
  DBOPER_HAS_STATUS = 1,
  DBOPER_HAS_VALUE = 2,
  DBOPER_MAX_STORES = 64,
  DBOPER_FORMAT_VERSION = 1,
  DBOPER_APPLICATION_ID = 0x53564e56 /* "SVNV" */
};

#pragma pack(push, 1)

/* A point's stored record as DboperRead fills it, 20 bytes. */
typedef struct DboperRecord {
  uint8_t reserved0[2]; /* 0: 0 */
  uint8_t flags;        /* 2: DBOPER_HAS_STATUS | DBOPER_HAS_VALUE */
  uint8_t reserved3[5]; /* 3: 0 */
  uint32_t status;      /* 8: stored status, 0 when none */
  double value;         /* 12: stored value, 0.0 when none */
} DboperRecord;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(DboperRecord) == 20, "store record size");
#else
_Static_assert(sizeof(DboperRecord) == 20, "store record size");
#endif

/* Opens the store file at `path`, creating it when missing. Returns the
 * handle, or 0 on failure. A store is created in a temporary file
 * "PATH.new-XXXXXX" that its creator keeps locked (flock) and then moves into
 * place; an open first removes the temporary files (with their SQLite
 * journal, WAL and shared-memory companions) that no process holds locked
 * and that are older than 2 seconds: what creators that were killed left. */
HOSTRT_API uint32_t DboperOpen(const char *path);

/* Closes a store. Returns 0; -1 (error 9) for a handle that is not open. */
HOSTRT_API int32_t DboperClose(uint32_t handle);

/* Fills the 20-byte record (a DboperRecord) with what is stored for the
 * point: flags 0 and zeros when nothing is. Returns the presence flags
 * (0 to 3), or -1. */
HOSTRT_API int32_t DboperRead(uint32_t handle, int32_t index, void *record20);

/* Stores the parts of the point named by `selector`, taking the status from
 * byte 16 and the value from byte 8 of the 28-byte value record `value28`.
 * `config492` is the point's configuration record, or NULL; only its point
 * ID (byte 4) is kept. Parts not selected keep what was stored. Returns 1
 * once the write is durable, or -1. */
HOSTRT_API int32_t DboperWritePoint(uint32_t handle, int32_t index, int32_t selector,
                                    const void *config492, const void *value28);

/* Removes the parts of the point named by `selector`. Returns 1 when
 * something was removed (durably), 0 when nothing of that kind was stored,
 * or -1. */
HOSTRT_API int32_t DboperClearPoint(uint32_t handle, int32_t index, int32_t selector);

/* The message of the latest failed store call on this thread ("" before
 * any failure). Valid until the thread's next failed store call. */
HOSTRT_API const char *DboperLastMessage(void);

HOSTRT_END_DECLS

#endif
