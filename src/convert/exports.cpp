// SPDX-License-Identifier: MIT
// The exported value conversions: thin wrappers over the shared rules.
#include "convert/rules.h"
#include "sicvm/convert.h"

namespace {

using namespace sicvm::convert;

// An INT argument: the low 16 bits of its slot.
int16_t intOf(int32_t slot) { return static_cast<int16_t>(static_cast<uint16_t>(slot)); }
double boolAsDouble(int32_t slot) { return boolOfSlot(static_cast<uint32_t>(slot)) ? 1.0 : 0.0; }

}  // namespace

extern "C" {

SICVM_API int32_t VmBoolToInt16(int32_t value) { return boolOfSlot(static_cast<uint32_t>(value)); }
SICVM_API int32_t VmBoolToInt32(int32_t value) { return boolOfSlot(static_cast<uint32_t>(value)); }
SICVM_API float VmBoolToFloat32(int32_t value) { return static_cast<float>(boolAsDouble(value)); }
SICVM_API double VmBoolToFloat64(int32_t value) { return boolAsDouble(value); }
SICVM_API double VmBoolToTime(int32_t value) { return boolAsDouble(value); }

SICVM_API int32_t VmInt16ToBool(int32_t value) { return intOf(value) != 0 ? 1 : 0; }
SICVM_API int32_t VmInt16ToInt32(int32_t value) { return intOf(value); }
SICVM_API float VmInt16ToFloat32(int32_t value) { return static_cast<float>(intOf(value)); }
SICVM_API double VmInt16ToFloat64(int32_t value) { return intOf(value); }
SICVM_API double VmInt16ToTime(int32_t value) { return intOf(value); }

SICVM_API int32_t VmInt32ToBool(int32_t value) { return value != 0 ? 1 : 0; }
SICVM_API int32_t VmInt32ToInt16(int32_t value) { return low16(value); }
SICVM_API float VmInt32ToFloat32(int32_t value) { return toReal(value); }
SICVM_API double VmInt32ToFloat64(int32_t value) { return value; }
SICVM_API double VmInt32ToTime(int32_t value) { return value; }

SICVM_API int32_t VmFloat32ToBool(float value) { return boolOfReal(value); }
SICVM_API int32_t VmFloat32ToInt16(float value) { return roundToInt16(value); }
SICVM_API int32_t VmFloat32ToInt16Trunc(float value) { return truncToInt16(value); }
SICVM_API int32_t VmFloat32ToInt32(float value) { return roundToInt32(value); }
SICVM_API int32_t VmFloat32ToInt32Trunc(float value) { return truncToInt32(value); }
SICVM_API double VmFloat32ToFloat64(float value) { return value; }
SICVM_API double VmFloat32ToTime(float value) { return value; }

SICVM_API int32_t VmFloat64ToBool(double value) { return boolOfReal(value); }
SICVM_API int32_t VmFloat64ToInt16(double value) { return roundToInt16(value); }
SICVM_API int32_t VmFloat64ToInt16Trunc(double value) { return truncToInt16(value); }
SICVM_API int32_t VmFloat64ToInt32(double value) { return roundToInt32(value); }
SICVM_API int32_t VmFloat64ToInt32Trunc(double value) { return truncToInt32(value); }
SICVM_API float VmFloat64ToFloat32(double value) { return toReal(value); }
SICVM_API double VmFloat64ToTime(double value) { return value; }
SICVM_API double VmFloat64ToDateTime(double value) { return value; }

SICVM_API int32_t VmTimeToBool(double value) { return boolOfExact(value); }
SICVM_API double VmTimeToFloat64(double value) { return value; }

SICVM_API int32_t VmDateTimeToBool(double value) { return boolOfExact(value); }
SICVM_API double VmDateTimeToFloat64(double value) { return value; }

}  // extern "C"
