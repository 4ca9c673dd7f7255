// SPDX-License-Identifier: MIT
/* Natural-gas metering: compressibility coefficient K (modified NX19 and
 * modified GERG-91) and the flow through differential-pressure devices
 * (one-step orifice functions and the general iterative one).
 *
 * Every function takes the same five arguments:
 *   execute   0 = only check the counts, non-zero = compute;
 *   function  the host library function number (GasFlowrate tells 6105, the
 *             short form with 4 outputs, from 6106 with 19; the others ignore it);
 *   frame     address of the frame's first 12-byte cell (VmCell); each value
 *             lies at byte 4 of its cell, the inputs first, then the outputs;
 *   inputs, outputs  the caller's counts.
 * The result is 2 when a count differs from the function's (in both modes;
 * nothing is touched), otherwise 0. Bad data never fails a call: it is
 * reported by the result code in the first output cell (0 computed; 1
 * computed, Reynolds number or roughness outside the device's range; 2 an
 * input or the geometry outside the accepted range). The outputs are written
 * whole: each output cell's first word becomes 0, then its value (DINT or
 * LREAL). NaN inputs pass every range check and give NaN results. The
 * functions record nothing in a machine and leave errno as they found it, so
 * a math library error inside them (log10 of a zero Reynolds number) never
 * becomes a math error of the calling command.
 *
 *   GasK_NX19, GasK_GERG91   5 inputs (T K, p MPa, standard density kg/m3,
 *                            N2 and CO2 molar fractions) -> code, K
 *   GasFlowrate_DA/_DF/_DT   14 inputs -> 6 outputs (corner, flange, D and
 *                            D/2 tappings)
 *   GasFlowrate              22 inputs -> 19 outputs (6106) or 4 (6105); it
 *                            rewrites input cells 7, 12, 14 and 18 from mm to
 *                            m, and cell 12 to the mean roughness when cell 11
 *                            is TRUE.
 * README.md lists every cell with its unit and range. */
#ifndef SICVM_GAS_H
#define SICVM_GAS_H

#include <stdint.h>

#include "sicvm/export.h"

SICVM_BEGIN_DECLS

/* Result codes written to the first output cell. */
enum {
  GAS_COMPUTED = 0,
  GAS_REYNOLDS_OUT_OF_RANGE = 1,
  GAS_INPUT_OUT_OF_RANGE = 2
};

/* Function numbers of GasFlowrate's two forms. */
enum { GAS_FLOWRATE_SHORT = 6105, GAS_FLOWRATE_FULL = 6106 };

SICVM_API int32_t GasK_NX19(int32_t execute, int32_t function, void *frame, int32_t inputs,
                            int32_t outputs);
SICVM_API int32_t GasK_GERG91(int32_t execute, int32_t function, void *frame, int32_t inputs,
                              int32_t outputs);
SICVM_API int32_t GasFlowrate_DA(int32_t execute, int32_t function, void *frame, int32_t inputs,
                                 int32_t outputs);
SICVM_API int32_t GasFlowrate_DF(int32_t execute, int32_t function, void *frame, int32_t inputs,
                                 int32_t outputs);
SICVM_API int32_t GasFlowrate_DT(int32_t execute, int32_t function, void *frame, int32_t inputs,
                                 int32_t outputs);
SICVM_API int32_t GasFlowrate(int32_t execute, int32_t function, void *frame, int32_t inputs,
                              int32_t outputs);

SICVM_END_DECLS

#endif
