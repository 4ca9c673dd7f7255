// SPDX-License-Identifier: MIT
/* Value conversions between the machine's value types, converting exactly as
 * programs do. Pure functions: no machine, no error state, no range check (an
 * out-of-range result is the wrapped or narrowed value).
 *
 * Type names: Bool = BOOL, Int16 = INT, Int32 = DINT, Float32 = REAL,
 * Float64 = LREAL, Time = TIME (milliseconds), DateTime = DT (days since
 * 1899-12-30).
 *  - BOOL arguments come in a 32-bit slot of which only the low byte counts
 *    (non-zero = TRUE); BOOL results are 0 or 1.
 *  - INT arguments come in a 32-bit slot of which only the low 16 bits count;
 *    INT results are the 16-bit value sign-extended to 32 bits.
 *  - round = the host's fround, then truncation to a 64-bit integer, of which
 *    the low 16 or 32 bits are the result; truncate = the same with ftrunc.
 *    A NaN or a value beyond the 64-bit range gives 0.
 *  - REAL and LREAL become BOOL through the host's fiszero; TIME and DT
 *    through an exact comparison with 0.0 (a NaN is TRUE).
 */
#ifndef SICVM_CONVERT_H
#define SICVM_CONVERT_H

#include <stdint.h>

#include "sicvm/export.h"

SICVM_BEGIN_DECLS

SICVM_API int32_t VmBoolToInt16(int32_t value);
SICVM_API int32_t VmBoolToInt32(int32_t value);
SICVM_API float VmBoolToFloat32(int32_t value);
SICVM_API double VmBoolToFloat64(int32_t value);
SICVM_API double VmBoolToTime(int32_t value);

SICVM_API int32_t VmInt16ToBool(int32_t value);
SICVM_API int32_t VmInt16ToInt32(int32_t value);
SICVM_API float VmInt16ToFloat32(int32_t value);
SICVM_API double VmInt16ToFloat64(int32_t value);
SICVM_API double VmInt16ToTime(int32_t value);

SICVM_API int32_t VmInt32ToBool(int32_t value);
SICVM_API int32_t VmInt32ToInt16(int32_t value);
SICVM_API float VmInt32ToFloat32(int32_t value);
SICVM_API double VmInt32ToFloat64(int32_t value);
SICVM_API double VmInt32ToTime(int32_t value);

SICVM_API int32_t VmFloat32ToBool(float value);
SICVM_API int32_t VmFloat32ToInt16(float value);
SICVM_API int32_t VmFloat32ToInt16Trunc(float value);
SICVM_API int32_t VmFloat32ToInt32(float value);
SICVM_API int32_t VmFloat32ToInt32Trunc(float value);
SICVM_API double VmFloat32ToFloat64(float value);
SICVM_API double VmFloat32ToTime(float value);

SICVM_API int32_t VmFloat64ToBool(double value);
SICVM_API int32_t VmFloat64ToInt16(double value);
SICVM_API int32_t VmFloat64ToInt16Trunc(double value);
SICVM_API int32_t VmFloat64ToInt32(double value);
SICVM_API int32_t VmFloat64ToInt32Trunc(double value);
SICVM_API float VmFloat64ToFloat32(double value);
SICVM_API double VmFloat64ToTime(double value);
SICVM_API double VmFloat64ToDateTime(double value);

SICVM_API int32_t VmTimeToBool(double value);
SICVM_API double VmTimeToFloat64(double value);

SICVM_API int32_t VmDateTimeToBool(double value);
SICVM_API double VmDateTimeToFloat64(double value);

SICVM_END_DECLS

#endif
