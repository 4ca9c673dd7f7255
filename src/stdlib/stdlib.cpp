// SPDX-License-Identifier: MIT
// The table of the standard function library and its entry point.
#include "stdlib/stdlib.h"

#include "stdlib/functions.h"

namespace sicvm::stdlib {
namespace {

using lib::Row;

// The seven rows of a typed family, at consecutive numbers in the type
// order BOOL, INT, DINT, REAL, LREAL, TIME, DT.
#define SICVM_TYPED(first, name, minIn, maxIn, F, sig)                                         \
  Row{first + 0, name, minIn, maxIn, 1, 0, &F<uint8_t>, nullptr, VM_TYPE_BOOL, sig},           \
      Row{first + 1, name, minIn, maxIn, 1, 0, &F<int16_t>, nullptr, VM_TYPE_INT, sig},        \
      Row{first + 2, name, minIn, maxIn, 1, 0, &F<int32_t>, nullptr, VM_TYPE_DINT, sig},       \
      Row{first + 3, name, minIn, maxIn, 1, 0, &F<float>, nullptr, VM_TYPE_REAL, sig},         \
      Row{first + 4, name, minIn, maxIn, 1, 0, &F<double>, nullptr, VM_TYPE_LREAL, sig},       \
      Row{first + 5, name, minIn, maxIn, 1, 0, &F<double>, nullptr, VM_TYPE_TIME, sig},        \
      Row{first + 6, name, minIn, maxIn, 1, 0, &F<double>, nullptr, VM_TYPE_DT, sig}

// Variable input counts of MAX, MIN and MUX.
constexpr uint8_t kFewest = 2;
constexpr uint8_t kMost = 32;

// The cells of the timers: PT is copied to PRESET when a timer starts; the
// ACCUMULATOR runs while its flags say so; M is the previous IN.
constexpr const char *kTimer = "IN:BOOL, PT:TIME -> Q:BOOL, ET:TIME; PRESET:TIME, ACCUMULATOR:TIME, M:BOOL";

// {number, name, inputs (least, most), outputs, cells used, function, ..., signature}.
// Cells used counts a block's state cells; 0 means the parameters only.
constexpr Row kTable[] = {
    SICVM_TYPED(1040, "SEL", 3, 3, sel, "G:BOOL, IN0:ANY, IN1:ANY -> OUT:ANY"),
    SICVM_TYPED(1050, "MAX", kFewest, kMost, max, "IN:ANY... -> OUT:ANY"),
    SICVM_TYPED(1060, "MIN", kFewest, kMost, min, "IN:ANY... -> OUT:ANY"),
    SICVM_TYPED(1070, "LIMIT", 3, 3, limit, "MN:ANY, IN:ANY, MX:ANY -> OUT:ANY"),
    SICVM_TYPED(1080, "MUX", kFewest, kMost, mux, "K:DINT, IN:ANY... -> OUT:ANY"),
    {1394, "INC_RANGE", 3, 3, 1, 0, &incRange, nullptr, 0, "VALUE:DINT, LOW:DINT, HIGH:DINT -> OUT:DINT"},
    {1395, "INC_RANGE", 3, 3, 1, 0, &incRange, nullptr, 0, "VALUE:DINT, LOW:DINT, HIGH:DINT -> OUT:DINT"},
    {1396, "DEC_RANGE", 3, 3, 1, 0, &decRange, nullptr, 0, "VALUE:DINT, LOW:DINT, HIGH:DINT -> OUT:DINT"},
    {1397, "DEC_RANGE", 3, 3, 1, 0, &decRange, nullptr, 0, "VALUE:DINT, LOW:DINT, HIGH:DINT -> OUT:DINT"},
    {4500, "SR", 2, 2, 1, 0, &sr, nullptr, 0, "S1:BOOL, R:BOOL -> Q1:BOOL;"},
    {4501, "RS", 2, 2, 1, 0, &rs, nullptr, 0, "S:BOOL, R1:BOOL -> Q1:BOOL;"},
    {4510, "R_TRIG", 1, 1, 1, 3, &rTrig, nullptr, 0, "CLK:BOOL -> Q:BOOL; M:BOOL"},
    {4511, "F_TRIG", 1, 1, 1, 3, &fTrig, nullptr, 0, "CLK:BOOL -> Q:BOOL; M:BOOL"},
    {4520, "CTU", 3, 3, 2, 7, &ctu<int16_t>, nullptr, 0, "CU:BOOL, R:BOOL, PV:INT -> Q:BOOL, CV:INT; UPPER:INT, M:BOOL"},
    {4521, "CTU", 3, 3, 2, 7, &ctu<int32_t>, nullptr, 0, "CU:BOOL, R:BOOL, PV:DINT -> Q:BOOL, CV:DINT; UPPER:DINT, M:BOOL"},
    {4522, "CTD", 3, 3, 2, 7, &ctd<int16_t>, nullptr, 0, "CD:BOOL, LD:BOOL, PV:INT -> Q:BOOL, CV:INT; LOWER:INT, M:BOOL"},
    {4523, "CTD", 3, 3, 2, 7, &ctd<int32_t>, nullptr, 0, "CD:BOOL, LD:BOOL, PV:DINT -> Q:BOOL, CV:DINT; LOWER:DINT, M:BOOL"},
    {4524, "CTUD", 5, 5, 3, 12, &ctud<int16_t>, nullptr, 0,
     "CU:BOOL, CD:BOOL, R:BOOL, LD:BOOL, PV:INT -> QU:BOOL, QD:BOOL, CV:INT; UPPER:INT, LOWER:INT, MU:BOOL, MD:BOOL"},
    {4525, "CTUD", 5, 5, 3, 12, &ctud<int32_t>, nullptr, 0,
     "CU:BOOL, CD:BOOL, R:BOOL, LD:BOOL, PV:DINT -> QU:BOOL, QD:BOOL, CV:DINT; UPPER:DINT, LOWER:DINT, MU:BOOL, MD:BOOL"},
    {4530, "TP", 2, 2, 2, 7, &tp, nullptr, 0, kTimer},
    {4531, "TON", 2, 2, 2, 7, &ton, nullptr, 0, kTimer},
    {4532, "TOF", 2, 2, 2, 7, &tof, nullptr, 0, kTimer},
};
#undef SICVM_TYPED

static_assert(lib::sortedByNumber(kTable), "the standard library table is sorted by number");

}  // namespace

std::span<const lib::Row> table() noexcept { return kTable; }

int32_t dispatch(int32_t mode, int32_t function, VmCell *frame, int32_t count, int32_t first,
                 int32_t nin, int32_t nout, VmMachine *machine) {
  return lib::dispatch(kTable, mode, function, frame, count, first, nin, nout, machine);
}

}  // namespace sicvm::stdlib
