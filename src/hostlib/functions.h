// The functions of the host library that this build carries, as the table
// in hostlib.cpp registers them.
#pragma once

#include <cstdint>

#include "hostlib/library.h"

namespace sicvm::hostlib {

// System functions: the machine's error state, cycle counter, host record
// and point 0's status word, and the system clock.
int32_t exchangeStatusBit5(const lib::Call &call);  // 6000
int32_t setUtcTime(const lib::Call &call);          // 6001
int32_t getLastErrorCode(const lib::Call &call);    // 6020
int32_t getLastErrorInfo(const lib::Call &call);    // 6021
int32_t clearLastError(const lib::Call &call);      // 6022
int32_t getHostWord376(const lib::Call &call);      // 6023
int32_t getHostWord420(const lib::Call &call);      // 6024
int32_t getCycleCount(const lib::Call &call);       // 6025
int32_t getHostWord408(const lib::Call &call);      // 6026

// Point functions: point values, statuses and fields in the shared tables,
// and the values and statuses kept in the non-volatile store.
int32_t getPointFieldValue(const lib::Call &call);  // 6031
int32_t getPointValue(const lib::Call &call);       // 6033
int32_t getPointStatus(const lib::Call &call);      // 6034
int32_t setPointValue(const lib::Call &call);       // 6035
int32_t setPointStatus(const lib::Call &call);      // 6036
int32_t readNvramValue(const lib::Call &call);      // 6040
int32_t readNvramStatus(const lib::Call &call);     // 6041
int32_t writeNvramValue(const lib::Call &call);     // 6042
int32_t writeNvramStatus(const lib::Call &call);    // 6043
int32_t clearNvramValue(const lib::Call &call);     // 6044
int32_t clearNvramStatus(const lib::Call &call);    // 6045

// Bit functions: one bit of a 16-bit or 32-bit word; 16 BOOLs and a word.
int32_t getBit16(const lib::Call &call);      // 6110
int32_t getBit32(const lib::Call &call);      // 6111
int32_t setBit16(const lib::Call &call);      // 6112
int32_t setBit32(const lib::Call &call);      // 6113
int32_t clearBit16(const lib::Call &call);    // 6114
int32_t clearBit32(const lib::Call &call);    // 6115
int32_t putBit16(const lib::Call &call);      // 6116
int32_t putBit32(const lib::Call &call);      // 6117
int32_t toggleBit16(const lib::Call &call);   // 6118
int32_t toggleBit32(const lib::Call &call);   // 6119
int32_t packBits16(const lib::Call &call);    // 6120
int32_t unpackBits16(const lib::Call &call);  // 6122

// Word functions: joining, splitting and swapping halves of words.
int32_t makeDword(const lib::Call &call);    // 6130
int32_t splitDword(const lib::Call &call);   // 6131
int32_t swapBytes16(const lib::Call &call);  // 6132
int32_t swapWords32(const lib::Call &call);  // 6133

// Angle conversions.
int32_t radToDeg32(const lib::Call &call);  // 6141
int32_t radToDeg64(const lib::Call &call);  // 6142
int32_t degToRad32(const lib::Call &call);  // 6143
int32_t degToRad64(const lib::Call &call);  // 6144

// Random numbers from the process-wide generator (hostlib/random.h).
int32_t random32(const lib::Call &call);  // 6161
int32_t random64(const lib::Call &call);  // 6162

}  // namespace sicvm::hostlib
