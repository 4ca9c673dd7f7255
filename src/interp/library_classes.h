// SPDX-License-Identifier: MIT
// The call classes of the `call` command that reach a function library,
// with the name used in messages and the library's entry point. The
// interpreter and the code verifier both look libraries up here.
#pragma once

#include <cstdint>

#include "sicvm/vm.h"

namespace sicvm {

// The library call interface (see VmLibraryProc).
using LibraryEntry = int32_t (*)(int32_t mode, int32_t function, VmCell *frame, int32_t count,
                                 int32_t first, int32_t nin, int32_t nout, VmMachine *machine);

struct LibraryClass {
  uint32_t callClass;  // the call descriptor AND 0xFF00
  const char *name;    // "Standard", "Velmora" or "External"
  LibraryEntry entry;
};

// The library of a call class (0x100, 0x800, 0x1000), or null for any
// other class, including the in-code classes 0x200 and 0x400.
const LibraryClass *libraryClass(uint32_t callClass) noexcept;

}  // namespace sicvm
