// SPDX-License-Identifier: MIT
// The external procedure: one process-wide pointer that the host registers
// with VmSetExternalProc, and the guarded caller through which programs (call
// class 0x1000) and the code verifier reach it.
//
// The guard turns a fault inside the procedure into result 5 instead of
// letting it take the host down. It catches, on the calling thread only:
//  - processor faults, as POSIX signals raised while the procedure runs;
//  - C++ exceptions thrown out of the procedure.
// Each is logged at level 4 as
//   "External call exception %08X at address %p in module %s"
// (no line end) with a code that names the fault, the address at which it
// happened and the base name of the module that holds that address.
//
// Codes (Windows exception numbers, so operators read the familiar values):
//   SIGSEGV                               0xC0000005 access violation
//   SIGBUS, misaligned access (BUS_ADRALN) 0x80000002 datatype misalignment
//   SIGBUS, any other cause               0xC0000006 in-page error
//   SIGFPE, integer divide by zero        0xC0000094
//   SIGFPE, integer overflow              0xC0000095
//   SIGFPE, float divide by zero          0xC000008E
//   SIGFPE, float overflow / underflow    0xC0000091 / 0xC0000093
//   SIGFPE, float inexact result          0xC000008F
//   SIGFPE, float invalid or other        0xC0000090
//   SIGILL, privileged opcode or register 0xC0000096
//   SIGILL, any other cause               0xC000001D illegal instruction
//   a C++ exception                       0xE06D7363
// Address: for a signal, the instruction pointer of the interrupted context
// (the faulting instruction, not the data address a SIGSEGV names), so the
// module is the one whose code failed; where the instruction pointer is not
// known, the address from the signal information. For a C++ exception, which
// carries no address, the entry point of the external procedure.
// Module: dladdr of the address; when that finds no file name, the main
// program's (from /proc/self/exe, else the invocation name). The part after
// the last '/', at most 259 characters.
//
// Mechanics: for the duration of the call the caller installs handlers for
// SIGSEGV, SIGBUS, SIGFPE and SIGILL (sigaction, saving the host's) and an
// alternate signal stack of its own for the thread (so a fault on an almost
// exhausted stack still reaches the handler). The handler returns to the
// caller with siglongjmp through per-thread state. The host's handlers are
// saved by the first guarded call in progress in the process and restored by
// the last one to end, under a small lock, so concurrent calls on several
// threads leave them as they were; the host must not change these handlers
// while a guarded call runs. A fault of another thread meanwhile is passed
// to the host's saved handler (or to the default action). The alternate
// stack is allocated once per thread that makes a guarded call and freed
// when the thread ends; the host's own alternate stack is restored after
// the call. Frames of the procedure that the guard jumps over are not
// unwound: their destructors do not run.
#pragma once

#include <cstdint>

#include "sicvm/vm.h"

namespace sicvm {

// Fault codes of the guard (see above).
inline constexpr uint32_t kExceptionAccessViolation = 0xC0000005u;
inline constexpr uint32_t kExceptionMisalignment = 0x80000002u;
inline constexpr uint32_t kExceptionInPageError = 0xC0000006u;
inline constexpr uint32_t kExceptionIntDivideByZero = 0xC0000094u;
inline constexpr uint32_t kExceptionIntOverflow = 0xC0000095u;
inline constexpr uint32_t kExceptionFltDivideByZero = 0xC000008Eu;
inline constexpr uint32_t kExceptionFltInexact = 0xC000008Fu;
inline constexpr uint32_t kExceptionFltInvalid = 0xC0000090u;
inline constexpr uint32_t kExceptionFltOverflow = 0xC0000091u;
inline constexpr uint32_t kExceptionFltUnderflow = 0xC0000093u;
inline constexpr uint32_t kExceptionIllegalInstruction = 0xC000001Du;
inline constexpr uint32_t kExceptionPrivileged = 0xC0000096u;
inline constexpr uint32_t kExceptionCpp = 0xE06D7363u;

// The registered procedure, or null.
VmLibraryProc externalProc() noexcept;

// Calls the registered procedure with the library call arguments inside the
// guard. Result: 1 when no procedure is registered; 5 after a fault or a C++
// exception (logged as above); otherwise the procedure's own result.
int32_t callExternal(int32_t mode, int32_t function, VmCell *frame, int32_t count, int32_t first,
                     int32_t nin, int32_t nout, VmMachine *machine);

}  // namespace sicvm
