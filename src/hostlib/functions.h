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

// Stands in for a gas computation until that family is built: it checks the
// counts the gas function declares (the row of `function` in the host table)
// like the gas function will, so check mode already answers 0 or 2, and an
// execute call with the right counts gives lib::kNotAvailable.
int32_t gasNotAvailable(int32_t execute, int32_t function, VmCell *frame, int32_t nin,
                        int32_t nout);

}  // namespace sicvm::hostlib
