// The table of the standard function library and its entry point.
#include "stdlib/stdlib.h"

#include "stdlib/functions.h"

namespace sicvm::stdlib {
namespace {

using lib::Row;

// The seven rows of a typed family, at consecutive numbers in the type
// order BOOL, INT, DINT, REAL, LREAL, TIME, DT.
#define SICVM_TYPED(first, name, minIn, maxIn, F)                                         \
  Row{first + 0, name, minIn, maxIn, 1, 0, &F<uint8_t>, nullptr, VM_TYPE_BOOL},           \
      Row{first + 1, name, minIn, maxIn, 1, 0, &F<int16_t>, nullptr, VM_TYPE_INT},        \
      Row{first + 2, name, minIn, maxIn, 1, 0, &F<int32_t>, nullptr, VM_TYPE_DINT},       \
      Row{first + 3, name, minIn, maxIn, 1, 0, &F<float>, nullptr, VM_TYPE_REAL},         \
      Row{first + 4, name, minIn, maxIn, 1, 0, &F<double>, nullptr, VM_TYPE_LREAL},       \
      Row{first + 5, name, minIn, maxIn, 1, 0, &F<double>, nullptr, VM_TYPE_TIME},        \
      Row{first + 6, name, minIn, maxIn, 1, 0, &F<double>, nullptr, VM_TYPE_DT}

// Variable input counts of MAX, MIN and MUX.
constexpr uint8_t kFewest = 2;
constexpr uint8_t kMost = 32;

// {number, name, inputs (least, most), outputs, cells used, function}.
// Cells used counts a block's state cells; 0 means the parameters only.
constexpr Row kTable[] = {
    SICVM_TYPED(1040, "SEL", 3, 3, sel),
    SICVM_TYPED(1050, "MAX", kFewest, kMost, max),
    SICVM_TYPED(1060, "MIN", kFewest, kMost, min),
    SICVM_TYPED(1070, "LIMIT", 3, 3, limit),
    SICVM_TYPED(1080, "MUX", kFewest, kMost, mux),
    {1394, "INC_RANGE", 3, 3, 1, 0, &incRange},
    {1395, "INC_RANGE", 3, 3, 1, 0, &incRange},
    {1396, "DEC_RANGE", 3, 3, 1, 0, &decRange},
    {1397, "DEC_RANGE", 3, 3, 1, 0, &decRange},
    {4500, "SR", 2, 2, 1, 0, &sr},
    {4501, "RS", 2, 2, 1, 0, &rs},
    {4510, "R_TRIG", 1, 1, 1, 3, &rTrig},
    {4511, "F_TRIG", 1, 1, 1, 3, &fTrig},
    {4520, "CTU", 3, 3, 2, 7, &ctu<int16_t>},
    {4521, "CTU", 3, 3, 2, 7, &ctu<int32_t>},
    {4522, "CTD", 3, 3, 2, 7, &ctd<int16_t>},
    {4523, "CTD", 3, 3, 2, 7, &ctd<int32_t>},
    {4524, "CTUD", 5, 5, 3, 12, &ctud<int16_t>},
    {4525, "CTUD", 5, 5, 3, 12, &ctud<int32_t>},
    {4530, "TP", 2, 2, 2, 7, &tp},
    {4531, "TON", 2, 2, 2, 7, &ton},
    {4532, "TOF", 2, 2, 2, 7, &tof},
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
