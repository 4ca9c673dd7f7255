// SPDX-License-Identifier: MIT
// The standard function library: IEC selection functions and function
// blocks, numbered from 1040, reached through call class 0x100.
#pragma once

#include <cstdint>
#include <span>

#include "libcall/library.h"

namespace sicvm::stdlib {

// The library's table of function numbers, sorted by number.
std::span<const lib::Row> table() noexcept;

// The entry point, with the library call contract (see lib::dispatch).
// MAX, MIN and MUX take 2 to 32 inputs; every other function one fixed
// count. Blocks with state cells need those cells in the frame when
// executing (result 2 otherwise, nothing written).
int32_t dispatch(int32_t mode, int32_t function, VmCell *frame, int32_t count, int32_t first,
                 int32_t nin, int32_t nout, VmMachine *machine);

}  // namespace sicvm::stdlib
