// SPDX-License-Identifier: MIT
// The functions of the host library that this build carries, as the table
// in hostlib.cpp registers them.
#pragma once

#include <cstdint>

#include "libcall/library.h"

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

// Date and time functions: the calendar exports and the host's Unix-time and
// duration primitives, with error 33 for invalid inputs and 34 for invalid
// results.
int32_t dtNow(const lib::Call &call);                 // 6050
int32_t dtPack(const lib::Call &call);                // 6051
int32_t dtUnpack(const lib::Call &call);              // 6052
int32_t dtYear(const lib::Call &call);                // 6053
int32_t dtMonth(const lib::Call &call);               // 6054
int32_t dtDay(const lib::Call &call);                 // 6055
int32_t dtHour(const lib::Call &call);                // 6056
int32_t dtMinute(const lib::Call &call);              // 6057
int32_t dtSecond(const lib::Call &call);              // 6058
int32_t dtMillisecond(const lib::Call &call);         // 6059
int32_t dtDecade(const lib::Call &call);              // 6060
int32_t dtDayOfWeek(const lib::Call &call);           // 6061
int32_t dtDayOfYear(const lib::Call &call);           // 6062
int32_t dtWeekOfYear(const lib::Call &call);          // 6063
int32_t dtIsDst(const lib::Call &call);               // 6064
int32_t dtIsLeapYear(const lib::Call &call);          // 6065
int32_t dtDaysInMonth(const lib::Call &call);         // 6066
int32_t dtDaysInYear(const lib::Call &call);          // 6067
int32_t dtWeeksInYear(const lib::Call &call);         // 6068
int32_t dtIncYear(const lib::Call &call);             // 6069
int32_t dtIncMonth(const lib::Call &call);            // 6070
int32_t dtIncDecade(const lib::Call &call);           // 6071
int32_t dtIncWeek(const lib::Call &call);             // 6072
int32_t dtIncDay(const lib::Call &call);              // 6073
int32_t dtBeginOfYear(const lib::Call &call);         // 6074
int32_t dtBeginOfMonth(const lib::Call &call);        // 6075
int32_t dtBeginOfDecade(const lib::Call &call);       // 6076
int32_t dtBeginOfWeek(const lib::Call &call);         // 6077
int32_t dtBeginOfDay(const lib::Call &call);          // 6078
int32_t dtReportDayNext(const lib::Call &call);       // 6079
int32_t dtReportDayPrev(const lib::Call &call);       // 6080
int32_t dtReportDaysCount(const lib::Call &call);     // 6081
int32_t dtToUnixTime(const lib::Call &call);          // 6082
int32_t unixTimeToDt(const lib::Call &call);          // 6083
int32_t tmPack(const lib::Call &call);                // 6090
int32_t tmUnpack(const lib::Call &call);              // 6091

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
