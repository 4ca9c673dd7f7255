// SPDX-License-Identifier: MIT
/* Text of commands, code addresses, var and array addresses and typed values,
 * for program listings, diagnostic tools and logs.
 *
 * Every function takes an output buffer as its last argument and returns the
 * buffer it wrote. With a null buffer the function writes into a static
 * buffer of its own, which its next call overwrites (not safe for concurrent
 * use). A caller's buffer must be at least as large as the static one
 * (VM_*_TEXT_SIZE below). None of the functions fails: unknown codes, operand
 * kinds and value types have fallback texts, and a text that does not fit is
 * cut and always ends with a NUL in the last byte of the buffer.
 *
 * A null command or cell gives an empty text. The functions never change the
 * host error number, even when a date or time value cannot be formatted.
 */
#ifndef SICVM_TEXT_H
#define SICVM_TEXT_H

#include <stdint.h>

#include "sicvm/export.h"
#include "sicvm/image.h"

SICVM_BEGIN_DECLS

enum {
  VM_CMD_TEXT_SIZE = 128,
  VM_OPCODE_TEXT_SIZE = 24,
  VM_VALUE_TEXT_SIZE = 48,
  VM_ADDR_TEXT_SIZE = 16,
  VM_VAR_ADDR_TEXT_SIZE = 32,
  VM_ARRAY_ADDR_TEXT_SIZE = 48
};

/* One command record as a listing line: the mnemonic padded to 16
 * characters, then its operands ("add_int          vars[1:00003],vars[1:00001],INT#5"). */
SICVM_API char *VmCmdToStr(const VmCommand *command, char *buffer);

/* The mnemonic of the low 16 bits of `code` ("" for a code without a
 * command), or those 16 bits as a decimal number above 280. */
SICVM_API char *VmOpCodeToStr(uint32_t code, char *buffer);

/* The value field of a cell as a typed constant: BOOL#1, DINT#-5, LREAL#2.5,
 * INT#7, REAL#0.5, T#1s_500ms, DT#2024-03-05-07:08:09, or
 * TYPE9#0000000100000002 (the type, then the value's two 32-bit words in hex)
 * for any other type. */
SICVM_API char *VmValueToStr(const VmCell *cell, int32_t type, char *buffer);

/* A code address (command index) as "%05u": 00042. */
SICVM_API char *VmAddrToStr(uint32_t address, char *buffer);

/* A var address: vars[1:00012] (segment index, var number). */
SICVM_API char *VmVarAddrToStr(uint32_t segment, uint32_t var, char *buffer);

/* An array address relative to the base array var of a segment:
 * arrays[vars[0:00001]+3]. */
SICVM_API char *VmArrayAddrToStr(uint32_t segment, uint32_t array, char *buffer);

SICVM_END_DECLS

#endif
