// SPDX-License-Identifier: MIT
/* Host point database: the two parallel point tables (configuration and
 * values) laid in shared memory, read from a points file, and the two
 * shared-memory calls made on every point access.
 *
 * Tables
 *   A database of N points holds N configuration records of 492 bytes
 *   (record i at byte 492 * i of the configuration table) and N value
 *   records of 28 bytes (record i at byte 28 * i of the value table).
 *   Record 0 is the null point: it always exists and its own-index word is 0.
 *   A record whose own-index word differs from its index (0 in practice) is a
 *   deleted point; the host deletes a point by writing 0 there.
 *
 * Shared object
 *   The tables live in one memory object (a POSIX shared-memory object when
 *   the host gives a name, anonymous shared memory otherwise):
 *     byte 0                 PointDbHeader (64 bytes)
 *     configOffset (64)      configuration table, pointCount * 492 bytes
 *     valueOffset            value table, pointCount * 28 bytes; the offset
 *                            is rounded up to a multiple of 64
 *     totalSize              end of the value table
 *   The creator writes `ownerPid` and `ownerStart` first and `magic` last
 *   (release ordering), so a process that attaches while the tables are
 *   still being filled is refused instead of seeing half a table. Another
 *   process maps the same tables with PointDbAttach and reads or writes
 *   records in place.
 *
 * Owner
 *   A named object outlives a creator that is killed. PointDbReclaim removes
 *   such an object when its owner (PID and start time, so that a recycled
 *   PID does not count) no longer runs, and refuses while the owner lives.
 *
 * Forcing
 *   A point can be forced: held at a value that the host writes back into
 *   the value record after every program cycle, whatever the program saved,
 *   until it is unforced. The force lives in the configuration record
 *   (forceSequence, forced, forcedValue) so that every process that maps
 *   the tables sees it. Writers (PointDbForce, PointDbUnforce) take the
 *   sequence word from even to odd, write the flag and the value, and make
 *   it even again; readers (PointDbForcedValue) retry while it is odd or
 *   has moved, so they never see a value that is half written.
 *
 * Points file (CSV, UTF-8 or ASCII)
 *   Blank lines and lines whose first non-blank character is '#' are
 *   ignored. The first other line is the header and must name the columns
 *   exactly (case-insensitive):   index,id,type,mode,value,status[,name]
 *   Every following line is one point with the same number of fields;
 *   blanks around fields are ignored, fields cannot be quoted.
 *     index   decimal, 0 to POINTDB_MAX_INDEX; rows in strictly ascending
 *             index order. The table has (largest index + 1) records; an
 *             index without a row is a deleted point (own-index 0, all
 *             fields 0). A row for index 0 is optional: its fields are
 *             stored, but its own-index word stays 0 like every null point.
 *     id      point ID, signed 32-bit decimal, not 0 (0 means "no point"
 *             to a program's variables). Two rows may carry the same ID:
 *             a host may keep an old record while the point lives on under
 *             a new index, and links then bind to the lower index.
 *     type    BOOL, DINT, LREAL, INT or REAL (case-insensitive) or the code
 *             1 to 5.
 *     mode    status mode, signed 32-bit decimal (3 widens the status bits
 *             that programs may write).
 *     value   initial value, a finite decimal number that the type can hold:
 *             BOOL 0 or 1, DINT and INT whole numbers in range, REAL within
 *             single range (stored rounded to single precision).
 *     status  initial status word, decimal or 0x-prefixed hexadecimal, 32 bits.
 *     name    optional column: up to POINTDB_NAME_MAX - 1 bytes, no commas.
 *   Any bad line rejects the whole file: nothing is created and the error
 *   text lists each problem as "FILE:LINE: reason" on its own line (at most
 *   20, then "FILE: N more errors").
 *
 * Errors
 *   Functions that create or attach a database return NULL on failure, set
 *   the host error number (2 missing file or object, 17 object name already
 *   taken, 22 bad argument or bad points file, 28 no room for the tables,
 *   74 attached object is not a point database, others as the system call
 *   reported) and write a NUL-terminated message into `error` (cut to
 *   errorSize bytes) when error is not NULL.
 */
#ifndef HOSTRT_POINTS_H
#define HOSTRT_POINTS_H

#include <stddef.h>
#include <stdint.h>

#include "hostrt/api.h"

HOSTRT_BEGIN_DECLS

enum {
  POINT_TYPE_BOOL = 1,
  POINT_TYPE_DINT = 2,
  POINT_TYPE_LREAL = 3,
  POINT_TYPE_INT = 4,
  POINT_TYPE_REAL = 5
};

enum {
  POINTDB_NAME_MAX = 64,
  POINTDB_MAX_INDEX = 999999,
  POINTDB_MAGIC = 0x42445053, /* "SPDB" in memory order */
  POINTDB_VERSION = 2
};

#pragma pack(push, 1)

/* Configuration record, 492 bytes. */
typedef struct PointConfigRecord {
  int32_t ownIndex;   /* 0: the record's index while the point exists, else 0 */
  int32_t pointId;    /* 4: the host's point ID */
  uint32_t reserved8; /* 8: always 0 */
  int32_t statusMode; /* 12: 3 widens the writable status bits */
  int32_t valueType;  /* 16: POINT_TYPE_* */
  char name[POINTDB_NAME_MAX]; /* 20: the points file's name column, NUL-terminated, "" without */
  uint32_t forceSequence;      /* 84: odd while a force is being written (see Forcing) */
  uint32_t forced;             /* 88: 1 while the point is forced, else 0 */
  double forcedValue;          /* 92: the value a forced point is held at */
  uint8_t reserved100[392];    /* 100: always 0 */
} PointConfigRecord;

/* Value record, 28 bytes. Records are 4-byte aligned in a table (28 * i from
 * a 64-byte aligned table start) but the value is not always 8-byte aligned. */
typedef struct PointValueRecord {
  uint32_t statusChanges;   /* 0: count of ShmUpdateStatFalse calls (wraps), atomic */
  uint32_t statusChangedAt; /* 4: SysGetClockCounter() at the last such call */
  double value;             /* 8: the point's value */
  uint32_t status;          /* 16: the point's status word */
  uint8_t reserved20[8];    /* 20: always 0 */
} PointValueRecord;

/* Head of the shared object, 64 bytes. Offsets count from the object start. */
typedef struct PointDbHeader {
  uint32_t magic;        /* POINTDB_MAGIC once the tables are complete */
  uint32_t version;      /* POINTDB_VERSION */
  int32_t pointCount;    /* records in each table, at least 1 */
  uint32_t headerSize;   /* 64 */
  uint64_t configOffset; /* 64 */
  uint64_t valueOffset;  /* multiple of 64 */
  uint64_t totalSize;    /* bytes of the whole object */
  int32_t ownerPid;      /* 40: the creating process, written before the tables */
  uint32_t reserved44;   /* 44: always 0 */
  uint64_t ownerStart;   /* 48: its start time (clock ticks after boot; 0 unknown) */
  uint8_t reserved56[8];
} PointDbHeader;

#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(PointConfigRecord) == 492, "configuration record size");
static_assert(offsetof(PointConfigRecord, pointId) == 4, "point ID offset");
static_assert(offsetof(PointConfigRecord, statusMode) == 12, "status mode offset");
static_assert(offsetof(PointConfigRecord, valueType) == 16, "value type offset");
static_assert(sizeof(PointValueRecord) == 28, "value record size");
static_assert(offsetof(PointValueRecord, value) == 8, "value offset");
static_assert(offsetof(PointValueRecord, status) == 16, "status offset");
static_assert(offsetof(PointConfigRecord, forced) == 88, "forced flag offset");
static_assert(offsetof(PointConfigRecord, forcedValue) == 92, "forced value offset");
static_assert(sizeof(PointDbHeader) == 64, "header size");
static_assert(offsetof(PointDbHeader, ownerPid) == 40, "owner offset");
#else
_Static_assert(sizeof(PointConfigRecord) == 492, "configuration record size");
_Static_assert(sizeof(PointValueRecord) == 28, "value record size");
_Static_assert(sizeof(PointDbHeader) == 64, "header size");
#endif

/* Field numbers of ShmGetPointFieldValue. They fit a signed byte, so a
 * program variable can be linked to any of them. */
enum {
  SHM_FIELD_POINT_ID = 1,        /* configuration: point ID */
  SHM_FIELD_VALUE_TYPE = 2,      /* configuration: value type code */
  SHM_FIELD_STATUS_MODE = 3,     /* configuration: status mode */
  SHM_FIELD_OWN_INDEX = 4,       /* configuration: own-index word */
  SHM_FIELD_STATUS_CHANGES = 41, /* value record: status change counter */
  SHM_FIELD_STATUS_CHANGED_AT = 42, /* value record: clock at the last change */
  SHM_FIELD_STATUS = 43,         /* value record: status word (unsigned) */
  SHM_FIELD_VALUE = 44           /* value record: value */
};

/* Reads field `field` of the point whose records are `config` and `value`
 * and stores it in *out as a double (integers exactly, the status word as
 * an unsigned number). Returns 0; -1 with host error number 22 and *out
 * untouched for an unknown field or a null argument. */
HOSTRT_API int32_t ShmGetPointFieldValue(const void *config, const void *value, int32_t field,
                                         double *out);

/* Announces a status change of a point to whoever watches the tables: stores
 * the host clock in statusChangedAt, then adds 1 to statusChanges with
 * release ordering. A watcher that reads the counter with PointStatusChanges
 * (acquire ordering) and sees it move also sees the status written before
 * the call. Returns 0; -1 with host error number 22 for a null argument or a
 * value record that is not 4-byte aligned (every record of a table is). */
HOSTRT_API int32_t ShmUpdateStatFalse(const void *config, void *value);

/* The status change counter of a value record, read with acquire ordering;
 * 0 for a null or misaligned record. */
HOSTRT_API uint32_t PointStatusChanges(const void *value);

typedef struct PointDb PointDb;

/* Reads the points file at `path` and lays its tables in a new shared-memory
 * object called `shmName` (a POSIX name, "/name"), or in anonymous shared
 * memory (inherited by forked children) when shmName is NULL. An existing
 * object of that name is never reused or overwritten (error 17). */
HOSTRT_API PointDb *PointDbLoad(const char *path, const char *shmName, char *error,
                                uint32_t errorSize);

/* As PointDbLoad, with the file's text given in memory; `source` names it in
 * error messages. */
HOSTRT_API PointDb *PointDbLoadText(const char *source, const char *text, uint32_t length,
                                    const char *shmName, char *error, uint32_t errorSize);

/* Maps the tables of an existing shared-memory object created by
 * PointDbLoad. Refused (error 74) when the object is not a complete point
 * database of this version. */
HOSTRT_API PointDb *PointDbAttach(const char *shmName, char *error, uint32_t errorSize);

/* The tables and their record count; NULL or 0 for a null database. */
HOSTRT_API PointConfigRecord *PointDbConfig(const PointDb *db);
HOSTRT_API PointValueRecord *PointDbValues(const PointDb *db);
HOSTRT_API int32_t PointDbCount(const PointDb *db);

/* Unmaps the tables and frees the handle; the shared object and its name
 * stay for other processes. Returns 0; -1 with error 22 for NULL. */
HOSTRT_API int32_t PointDbClose(PointDb *db);

/* The head of the shared object (owner, count, layout); NULL for NULL. */
HOSTRT_API const PointDbHeader *PointDbInfo(const PointDb *db);

/* Clears the way for a new object called shmName whose earlier creator was
 * killed. Returns 1 after removing an object whose owner no longer runs,
 * 0 when there is no such object; -1 when the object must stay: its owner
 * still runs (host error 16), or it is no point database of this kind
 * (74). `message` (when not NULL) says what was found and done, naming the
 * owner's PID. */
HOSTRT_API int32_t PointDbReclaim(const char *shmName, char *message, uint32_t messageSize);

/* Holds point `index` at `value` (PointDbApplyForces writes it back), or
 * releases it. Returns 0; -1 with error 22 for a null database or an index
 * outside 1 .. count - 1. The value is stored as given: PointDbFitValue
 * brings it into the point's type first. */
HOSTRT_API int32_t PointDbForce(PointDb *db, int32_t index, double value);
HOSTRT_API int32_t PointDbUnforce(PointDb *db, int32_t index);

/* 1 with *value set when point `index` is forced, 0 when not, -1 for a bad
 * database or index. Never waits for long: when a writer keeps the record
 * busy it answers from the last consistent read, or 0. */
HOSTRT_API int32_t PointDbForcedValue(const PointDb *db, int32_t index, double *value);

/* Writes the forced value of every forced point into its value record;
 * returns how many points are forced (-1 for NULL). */
HOSTRT_API int32_t PointDbApplyForces(PointDb *db);

/* Checks that a point of `type` (POINT_TYPE_*) can hold *value, as the points
 * file demands (BOOL 0 or 1, DINT and INT whole numbers in range, REAL in
 * single range, all finite), and rounds REAL to single precision. Returns 0;
 * -1 with a reason in `error` otherwise. */
HOSTRT_API int32_t PointDbFitValue(int32_t type, double *value, char *error, uint32_t errorSize);

/* Removes the name of a shared-memory object; processes that mapped it keep
 * their tables. Returns 0; -1 with the host error number set (2 when there
 * is no such object). */
HOSTRT_API int32_t PointDbUnlink(const char *shmName);

HOSTRT_END_DECLS

#endif
