// SPDX-License-Identifier: MIT
// The host function library: functions 6000 to 6162, reached through call
// class 0x800. 85 numbers are in use; every other number is unknown.
#pragma once

#include <cstdint>
#include <span>

#include "libcall/library.h"

namespace sicvm::hostlib {

// The library's table of function numbers, sorted by number.
std::span<const lib::Row> table() noexcept;

// The entry point, with the library call contract (see lib::dispatch).
// The gas functions 6100 to 6106 are handed on unchecked, with the address
// of parameter 0, and their own result is returned in both modes.
int32_t dispatch(int32_t mode, int32_t function, VmCell *frame, int32_t count, int32_t first,
                 int32_t nin, int32_t nout, VmMachine *machine);

}  // namespace sicvm::hostlib
