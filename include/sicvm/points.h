// SPDX-License-Identifier: MIT
/* Process points: reading and writing the host's point tables and the
 * non-volatile copies kept in its point store.
 *
 * The host stores in the machine (sicvm/image.h) the record count of its two
 * point tables (`pointCount`), their tokens from VmHostLocation
 * (`pointConfig`: 492-byte configuration records; `pointValues`: 28-byte
 * value records, value at byte 8, status word at byte 16) and the handle of
 * its point store (`storeHandle`, 0 = none).
 *
 * A point is addressed by its index, 0 to pointCount - 1. Index 0 is the
 * null point: it reads as 0.0 and status 0, and writes to it are accepted
 * and ignored (result 0). "Invalid" below means: the host error number is
 * set to 22 and the result is -1; each function first checks the machine,
 * the result place, the tables it touches and the index range, and only
 * then treats point 0 specially.
 *
 * Field numbers: 43 the status word, 44 the value. Reads pass any other
 * field number to the host; writes accept only these two.
 */
#ifndef SICVM_POINTS_H
#define SICVM_POINTS_H

#include <stdint.h>

#include "sicvm/export.h"
#include "sicvm/image.h"

SICVM_BEGIN_DECLS

enum { VM_POINT_FIELD_STATUS = 43, VM_POINT_FIELD_VALUE = 44 };
enum { VM_STORE_STATUS = 1, VM_STORE_VALUE = 2 };

/* The point's value: 1; 0 with 0.0 for point 0; -1 invalid. */
SICVM_API int32_t VmGetPointValue(VmMachine *machine, int32_t index, double *value);

/* The point's status word: 1; 0 with 0 for point 0; -1 invalid. */
SICVM_API int32_t VmGetPointStatus(VmMachine *machine, int32_t index, uint32_t *status);

/* Writes the value converted to the point's type (BOOL 0.0/1.0 by fiszero,
 * DINT and INT rounded and wrapped to their width, REAL rounded to single
 * precision, other types unchanged). 1 written; 0 for point 0 or when bit 31
 * of the point's status forbids value writes; -1 invalid. */
SICVM_API int32_t VmSetPointValue(VmMachine *machine, int32_t index, double value);

/* Writes the status bits a program may change: 0x003F0F0F, or 0x003FFFFF
 * for a point of status mode 3; the other bits keep their values. When bit
 * 18 rises, bits 0x0000F0F0 are cleared. The host is told of the change.
 * 1 written; 0 for point 0; -1 invalid. */
SICVM_API int32_t VmSetPointStatus(VmMachine *machine, int32_t index, uint32_t status);

/* Any field of the point as a double, read by the host. 1 read; 0 with 0.0
 * for point 0 (after the host's read); -1 invalid or when the host fails. */
SICVM_API int32_t VmGetPointFieldValue(VmMachine *machine, int32_t index, int32_t field,
                                       double *value);

/* Field 43: VmSetPointStatus with the value truncated toward zero to 32 bits
 * (through a 64-bit integer, so 4294967295.0 writes 0xFFFFFFFF); field 44:
 * VmSetPointValue. Any other field is invalid. */
SICVM_API int32_t VmSetPointFieldValue(VmMachine *machine, int32_t index, int32_t field,
                                       double value);

/* What the store keeps for the point: copies the stored status and value
 * through the places that are not null and returns the presence flags (bit 0
 * a status is stored, bit 1 a value). 0 for point 0 or without a store; -1
 * for a null machine (error number 22) or when the store fails (error number
 * set by the store). The index is not checked against pointCount. */
SICVM_API int32_t VmReadDboperPoint(VmMachine *machine, int32_t index, uint32_t *status,
                                    double *value);

/* Stores the status (selector 1) or value (selector 2) of the point in the
 * store, with the point's configuration record: the store's result (-1 on
 * failure, error number set by the store); 0 for point 0 or without a store;
 * -1 invalid. */
SICVM_API int32_t VmWriteDboperPoint(VmMachine *machine, int32_t index, int32_t selector,
                                     uint32_t status, double value);

SICVM_END_DECLS

#endif
