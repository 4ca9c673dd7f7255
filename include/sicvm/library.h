// SPDX-License-Identifier: MIT
/* The functions of the standard library (call class 0x100) and of the host
 * library (call class 0x800) as their tables register them, for reference
 * texts and tools: number, name, input and output counts, and the cells a
 * function block uses for its state.
 */
#ifndef SICVM_LIBRARY_H
#define SICVM_LIBRARY_H

#include <stdint.h>

#include "sicvm/export.h"

SICVM_BEGIN_DECLS

typedef struct VmFunctionInfo {
  int32_t number;      /* the function number a call names */
  const char *name;    /* "TON", "SEL", ... (static text) */
  uint8_t minInputs;   /* the input count, or the least of a variable one */
  uint8_t maxInputs;   /* equal to minInputs unless the count varies (MAX, MIN, MUX) */
  uint8_t outputs;     /* the output count */
  uint8_t cells;       /* cells used from parameter 0 on, state cells included; 0 = the parameters only */
  uint8_t available;   /* 1 when this build executes it; 0 when only the verifier knows it */
  uint8_t valueType;   /* a typed family's variant (SEL, MAX, MIN, LIMIT, MUX): the VM_TYPE_* of its
                          values and result; 0 for the other functions */
  uint8_t reserved[2];
  const char *signature; /* the types of the inputs and outputs, see below (static text) */
} VmFunctionInfo;

/* A signature lists the inputs, "->", the outputs and, for a function block,
 * ";" and its state cells, all in frame order, items separated by ", ":
 *
 *   "POINT:DINT, VALUE:LREAL -> DONE:BOOL"        SetPointValue
 *   "K:DINT, IN:ANY... -> OUT:ANY"                MUX
 *   "CLK:BOOL -> Q:BOOL; M:BOOL"                  R_TRIG
 *   "S1:BOOL, R:BOOL -> Q1:BOOL;"                 SR: a block without state cells
 *
 * An item is [COUNT "*"] [NAME ":"] TYPE ["..."]: TYPE is BOOL, INT, DINT,
 * REAL, LREAL, TIME or DT, or ANY for the row's valueType; "N*T" stands for
 * N items of type T; "..." after the last input means it repeats up to
 * maxInputs (at least minInputs in all). A signature with ";" is a function
 * block's, whose cells are the inputs, the outputs and the state cells. */

/* Row `index` (0, 1, ...) of the table of call class `callClass` (0x100 or
 * 0x800), in number order: 1 with *info filled; 0 past the last row; -1 with
 * host error number 22 for another class, a negative index or a null info. */
SICVM_API int32_t VmGetLibraryFunction(int32_t callClass, int32_t index, VmFunctionInfo *info);

SICVM_END_DECLS

#endif
