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

}  // namespace sicvm::hostlib
