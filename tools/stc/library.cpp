// The library functions and function blocks that programs call by name.
#include "stc/library.h"

#include <cctype>
#include <utility>

#include "sicvm/image.h"
#include "sicvm/library.h"
#include "sicvm/vm.h"
#include "stc/signature.h"

namespace sicvm::stc {
namespace {

constexpr uint8_t B = VM_TYPE_BOOL, I = VM_TYPE_INT, D = VM_TYPE_DINT, R = VM_TYPE_REAL, L = VM_TYPE_LREAL,
                  T = VM_TYPE_TIME, DT = VM_TYPE_DT;

const StandardFunction kStandard[] = {
    {"SEL", 1040, 3, 3, 1, B},
    {"MAX", 1050, 2, 32, 0, 0},
    {"MIN", 1060, 2, 32, 0, 0},
    {"LIMIT", 1070, 3, 3, 0, 0},
    {"MUX", 1080, 2, 32, 1, D},
};

const RangeFunction kRange[] = {{"INC_RANGE", 1394}, {"DEC_RANGE", 1396}};

std::vector<FunctionBlock> makeBlocks() {
  auto timer = [](const char *name, int32_t number) {
    return FunctionBlock{name, number, 2, 2,
                         {{"IN", B, 0}, {"PT", T, 0}, {"Q", B, 0}, {"ET", T, 0},
                          {" PRESET", T, 0}, {" ACCUMULATOR", T, 0}, {" M", B, 0}}};
  };
  // The INT counters at `number`, the DINT ones at number + 1; their limit
  // cells start at the type's range.
  auto counters = [](std::vector<FunctionBlock> &out, bool dint) {
    uint8_t v = dint ? D : I;
    double lo = dint ? -2147483648.0 : -32768.0, hi = dint ? 2147483647.0 : 32767.0;
    int32_t offset = dint ? 1 : 0;
    out.push_back({dint ? "CTU_DINT" : "CTU", 4520 + offset, 3, 2,
                   {{"CU", B, 0}, {"R", B, 0}, {"PV", v, 0}, {"Q", B, 0}, {"CV", v, 0}, {" UPPER", v, hi},
                    {" M", B, 0}}});
    out.push_back({dint ? "CTD_DINT" : "CTD", 4522 + offset, 3, 2,
                   {{"CD", B, 0}, {"LD", B, 0}, {"PV", v, 0}, {"Q", B, 0}, {"CV", v, 0}, {" LOWER", v, lo},
                    {" M", B, 0}}});
    out.push_back({dint ? "CTUD_DINT" : "CTUD", 4524 + offset, 5, 3,
                   {{"CU", B, 0}, {"CD", B, 0}, {"R", B, 0}, {"LD", B, 0}, {"PV", v, 0}, {"QU", B, 0},
                    {"QD", B, 0}, {"CV", v, 0}, {" UPPER", v, hi}, {" LOWER", v, lo}, {" MU", B, 0},
                    {" MD", B, 0}}});
  };
  std::vector<FunctionBlock> out = {
      {"SR", 4500, 2, 1, {{"S1", B, 0}, {"R", B, 0}, {"Q1", B, 0}}},
      {"RS", 4501, 2, 1, {{"S", B, 0}, {"R1", B, 0}, {"Q1", B, 0}}},
      {"R_TRIG", 4510, 1, 1, {{"CLK", B, 0}, {"Q", B, 0}, {" M", B, 0}}},
      {"F_TRIG", 4511, 1, 1, {{"CLK", B, 0}, {"Q", B, 0}, {" M", B, 0}}},
  };
  counters(out, false);
  counters(out, true);
  out.push_back(timer("TP", 4530));
  out.push_back(timer("TON", 4531));
  out.push_back(timer("TOF", 4532));
  return out;
}

// The host library's functions as its table describes them. A name given
// to several numbers (GasFlowrate: 6105 short, 6106 full result) calls the
// first of them.
std::vector<HostFunction> makeHost() {
  std::vector<HostFunction> h;
  VmFunctionInfo f;
  for (int32_t i = 0; VmGetLibraryFunction(VM_CALL_HOST, i, &f) == 1; ++i) {
    Signature signature;
    if (!signatureOf(f, signature) || signature.block) continue;
    if (!h.empty() && std::string_view(h.back().name) == f.name) continue;
    HostFunction function{f.name, f.number, {}, {}};
    for (const SignatureItem &item : signature.inputs) function.inputs.push_back(item.type);
    for (const SignatureItem &item : signature.outputs) function.outputs.push_back(item.type);
    h.push_back(std::move(function));
  }
  return h;
}

bool sameName(const char *name, std::string_view upper) {
  size_t k = 0;
  for (; name[k] && k < upper.size(); ++k)
    if (std::toupper(static_cast<unsigned char>(name[k])) != upper[k]) return false;
  return name[k] == '\0' && k == upper.size();
}

}  // namespace

int32_t standardNumber(const StandardFunction &f, uint8_t type) {
  // Offsets in the type order BOOL, INT, DINT, REAL, LREAL, TIME, DT, indexed by type code.
  static const int8_t offset[] = {-1, 0, 2, 4, 1, 3, 5, 6};
  return type < 8 && offset[type] >= 0 ? f.first + offset[type] : -1;
}

const StandardFunction *findStandardFunction(std::string_view upperName) {
  for (const StandardFunction &f : kStandard)
    if (sameName(f.name, upperName)) return &f;
  return nullptr;
}

const RangeFunction *findRangeFunction(std::string_view upperName) {
  for (const RangeFunction &f : kRange)
    if (sameName(f.name, upperName)) return &f;
  return nullptr;
}

const std::vector<FunctionBlock> &functionBlocks() {
  static const std::vector<FunctionBlock> blocks = makeBlocks();
  return blocks;
}

const FunctionBlock *findFunctionBlock(std::string_view upperName) {
  for (const FunctionBlock &b : functionBlocks())
    if (sameName(b.name, upperName)) return &b;
  return nullptr;
}

const std::vector<HostFunction> &hostFunctions() {
  static const std::vector<HostFunction> functions = makeHost();
  return functions;
}

const HostFunction *findHostFunction(std::string_view upperName) {
  for (const HostFunction &f : hostFunctions())
    if (sameName(f.name, upperName)) return &f;
  return nullptr;
}

}  // namespace sicvm::stc
