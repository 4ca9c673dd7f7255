// SPDX-License-Identifier: MIT
/* The virtual machine: set-up, run, error record, log and floating-point control.
 *
 * A machine is the Machine Block inside a SIC image (sicvm/image.h). Exports
 * that take a machine set the host error number to 22 and return -1 when the
 * machine is null or does not lie over a prepared image.
 */
#ifndef SICVM_VM_H
#define SICVM_VM_H

#include <stdint.h>

#include "sicvm/export.h"
#include "sicvm/image.h"

SICVM_BEGIN_DECLS

/* ---- Error record ------------------------------------------------------ */

/* Records an error (the last error wins) and returns the previous code. */
SICVM_API int32_t VmSetLastError(VmMachine *machine, int32_t code, uint32_t address,
                                 uint32_t arg1, uint32_t arg2);
/* Returns the recorded code; stores the detail words through each non-null pointer. */
SICVM_API int32_t VmGetLastError(VmMachine *machine, uint32_t *address, uint32_t *arg1,
                                 uint32_t *arg2);
/* Empties the record and returns the code it held. */
SICVM_API int32_t VmClearLastError(VmMachine *machine);

/* ---- Log ----------------------------------------------------------------- */

typedef void (*VmLogProc)(int level, const char *text);

/* Sends every emitted message to proc (log device 8); null returns to the
 * default device. Returns the previous device number. */
SICVM_API int32_t VmSetLogProc(VmLogProc proc);
SICVM_API int32_t VmSetLogContext(const char *name);
SICVM_API int32_t VmGetLogLevel(void);
SICVM_API int32_t VmSetLogLevel(int32_t level);

/* ---- Floating-point error control ------------------------------------------ */

/* The runtime's math exception record; only `type` is read. */
typedef struct VmMathException {
  int32_t type; /* 1 domain, 2 singularity, 3 overflow, 4 underflow, 5 total loss, 6 partial loss */
  const char *name;
  double arg1;
  double arg2;
  double retval;
} VmMathException;

enum {
  VM_MATH_DOMAIN = 1,
  VM_MATH_SING = 2,
  VM_MATH_OVERFLOW = 3,
  VM_MATH_UNDERFLOW = 4,
  VM_MATH_TLOSS = 5,
  VM_MATH_PLOSS = 6
};

/* 0: math errors reach runs through VmMatherr; otherwise through errno.
 * Returns the previous mode. */
SICVM_API int32_t VmSetFpemode(int32_t mode);
/* Math error handler: records 33 (domain, singularity) or 34 (anything else)
 * in the process-wide math error word. Returns 1. */
SICVM_API int32_t VmMatherr(VmMathException *exception);

/* ---- Host locations --------------------------------------------------------- */

/* Token for a host address (0 for null), to be stored in `pointConfig`,
 * `pointValues` and `hostRecord`. The same address yields the same token; each
 * call counts one reference. Returns 0 and sets the host error number to 28
 * when the registry (VM_HOST_LOCATIONS entries) is full. Thread-safe. */
enum { VM_HOST_LOCATIONS = 1024 };
SICVM_API uint32_t VmHostLocation(const void *address);
/* Drops one reference; the token is free again when none is left. */
SICVM_API void VmReleaseHostLocation(uint32_t token);

/* ---- Set-up ------------------------------------------------------------------ */

SICVM_API int32_t VmInitHeader(void *image, uint32_t size);
SICVM_API int32_t VmInitMachine(void *image, uint32_t size, VmMachine **machine);
SICVM_API int32_t VmResetMachine(VmMachine *machine);

/* The decoded form of the code.
 *
 * VmInitMachine and VmVerifyCode build, on the library's own heap, a decoded
 * form of the machine's code (each operand resolved once, jumps checked once),
 * which VmRunProgram runs instead of re-reading every command record; the
 * image's bytes are never changed for it. Every result, error record, log
 * message and counter is the same with and without it: whatever the decoded
 * form does not handle itself runs as before, from the image.
 *
 * - It is valid while the host leaves the code and the var records (data
 *   segments) alone between VmInitMachine or VmVerifyCode and the runs. A
 *   host that changes them calls VmVerifyCode (or VmInitMachine) again.
 * - It is not built when the var cells, array cells, stacks or State Block
 *   overlap the code, the Data Segment Table, the data segments or the Arrays
 *   Block (a program could then change what it caches): such a machine runs
 *   without it. Neither is it built when the environment variable
 *   SICVM_DECODE is 0 or off, nor used in single-step mode.
 * - It belongs to the machine at its address: an image copied or moved
 *   elsewhere runs without it until it is set up at its new place.
 * - Set-up again (also from inside a run, by an external procedure) replaces
 *   it; a run in progress keeps the form it started with until it returns.
 *   VmInitMachine also drops the forms of machines that lay in the memory it
 *   is given, so an image loaded where an abandoned one was never runs
 *   another's form.
 * - VmReleaseMachine frees the form of a machine the host abandons (0; -1 and
 *   host error number 22 for a null machine). The image stays as it is and
 *   the machine still runs, without the form, until it is set up again.
 * - Forms are kept in a process-wide table under a lock taken once when a run
 *   starts; the run itself shares nothing mutable with runs of other machines
 *   on other threads. */
SICVM_API int32_t VmReleaseMachine(VmMachine *machine);

SICVM_API int32_t VmInitHostTypes(VmMachine *machine);
SICVM_API int32_t VmInitTimers(VmMachine *machine);
SICVM_API int32_t VmInitVarLinks(VmMachine *machine);
SICVM_API int32_t VmUpdateVarLinks(VmMachine *machine);

/* ---- Verification -------------------------------------------------------------- */

SICVM_API int32_t VmVerifyCode(VmMachine *machine);
SICVM_API int32_t VmVerifyVars(VmMachine *machine);
SICVM_API int32_t VmVerifyArrays(VmMachine *machine);

/* ---- Run ------------------------------------------------------------------------- */

enum { VM_RUN_SINGLE_STEP = 0x1 };

/* Runs the program from `pc`; returns the commands run since the last reset. */
SICVM_API int32_t VmRunProgram(VmMachine *machine, uint32_t flags, uint32_t reserved);

/* ---- Libraries ---------------------------------------------------------------- */

/* The library call interface shared by the standard library, the host library
 * and the external procedure. mode 0 only checks; frame points at cell 0 of
 * the run; parameter i is frame[first + i]. Result: 0 done, 1 unknown function,
 * 2 parameter count mismatch, 5 exception in the external procedure. */
typedef int32_t (*VmLibraryProc)(int32_t mode, int32_t function, VmCell *frame, int32_t count,
                                 int32_t first, int32_t nin, int32_t nout, VmMachine *machine);

/* Call classes of the call descriptor. */
enum {
  VM_CALL_STANDARD = 0x100,
  VM_CALL_CODE = 0x200,
  VM_CALL_CODE_ALT = 0x400,
  VM_CALL_HOST = 0x800,
  VM_CALL_EXTERNAL = 0x1000
};

SICVM_API void VmSetExternalProc(VmLibraryProc proc);

SICVM_END_DECLS

#endif
