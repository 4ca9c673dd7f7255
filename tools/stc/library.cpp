// The library functions and function blocks that programs call by name.
#include "stc/library.h"

#include <cctype>
#include <utility>

#include "sicvm/image.h"

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

std::vector<HostFunction> makeHost() {
  const std::vector<uint8_t> none;
  std::vector<HostFunction> h = {
      {"ExchangeStatusBit5", 6000, {B}, {B}},
      {"SetUtcTime", 6001, {DT}, {B}},
      {"GetLastErrorCode", 6020, none, {D}},
      {"GetLastErrorInfo", 6021, none, {D, D, D}},
      {"ClearLastError", 6022, none, {D}},
      {"GetHostWord376", 6023, none, {D}},
      {"GetHostWord420", 6024, none, {D}},
      {"GetCycleCount", 6025, none, {D}},
      {"GetHostWord408", 6026, none, {D}},
      {"GetPointFieldValue", 6031, {D, D}, {L}},
      {"GetPointValue", 6033, {D}, {L}},
      {"GetPointStatus", 6034, {D}, {D}},
      {"SetPointValue", 6035, {D, L}, {B}},
      {"SetPointStatus", 6036, {D, D}, {B}},
      {"ReadNvramValue", 6040, {D}, {B, L}},
      {"ReadNvramStatus", 6041, {D}, {B, D}},
      {"WriteNvramValue", 6042, {D, L}, {B}},
      {"WriteNvramStatus", 6043, {D, D}, {B}},
      {"ClearNvramValue", 6044, {D}, {B}},
      {"ClearNvramStatus", 6045, {D}, {B}},
      {"DtNow", 6050, none, {DT}},
      {"DtPack", 6051, {D, D, D, D, D, D, D}, {DT}},
      {"DtUnpack", 6052, {DT}, {B, D, D, D, D, D, D, D}},
  };
  // DT -> DINT calendar queries, DT -> BOOL tests, DT, count -> DT steps, DT -> DT beginnings.
  const char *dintOfDt[] = {"DtYear", "DtMonth", "DtDay", "DtHour", "DtMinute", "DtSecond", "DtMillisecond",
                            "DtDecade", "DtDayOfWeek", "DtDayOfYear", "DtWeekOfYear"};
  int32_t n = 6053;
  for (const char *name : dintOfDt) h.push_back({name, n++, {DT}, {D}});
  h.push_back({"DtIsDst", n++, {DT}, {B}});
  h.push_back({"DtIsLeapYear", n++, {DT}, {B}});
  for (const char *name : {"DtDaysInMonth", "DtDaysInYear", "DtWeeksInYear"}) h.push_back({name, n++, {DT}, {D}});
  for (const char *name : {"DtIncYear", "DtIncMonth", "DtIncDecade", "DtIncWeek", "DtIncDay"})
    h.push_back({name, n++, {DT, D}, {DT}});
  for (const char *name : {"DtBeginOfYear", "DtBeginOfMonth", "DtBeginOfDecade", "DtBeginOfWeek", "DtBeginOfDay"})
    h.push_back({name, n++, {DT}, {DT}});
  h.push_back({"DtReportDayNext", 6079, {DT, D, D}, {DT}});
  h.push_back({"DtReportDayPrev", 6080, {DT, D, D}, {DT}});
  h.push_back({"DtReportDaysCount", 6081, {DT, DT, D, D}, {D}});
  h.push_back({"DtToUnixTime", 6082, {DT}, {D, D}});
  h.push_back({"UnixTimeToDt", 6083, {D, D}, {DT}});
  h.push_back({"TmPack", 6090, {D, D, D, D, D, B}, {T}});
  h.push_back({"TmUnpack", 6091, {T}, {B, D, D, D, D, D}});
  h.push_back({"GasK_NX19", 6100, {L, L, L, L, L}, {D, L}});
  h.push_back({"GasK_GERG91", 6101, {L, L, L, L, L}, {D, L}});
  // The orifice flow functions: 14 LREAL inputs; a result code and five LREAL results.
  for (auto [name, number] : {std::pair{"GasFlowrate_DA", 6102}, {"GasFlowrate_DF", 6103}, {"GasFlowrate_DT", 6104}})
    h.push_back({name, number, std::vector<uint8_t>(14, L), {D, L, L, L, L, L}});
  h.push_back({"GetBit16", 6110, {I, D}, {B}});
  h.push_back({"GetBit32", 6111, {D, D}, {B}});
  h.push_back({"SetBit16", 6112, {I, D}, {I}});
  h.push_back({"SetBit32", 6113, {D, D}, {D}});
  h.push_back({"ClearBit16", 6114, {I, D}, {I}});
  h.push_back({"ClearBit32", 6115, {D, D}, {D}});
  h.push_back({"PutBit16", 6116, {I, D, B}, {I}});
  h.push_back({"PutBit32", 6117, {D, D, B}, {D}});
  h.push_back({"ToggleBit16", 6118, {I, D}, {I}});
  h.push_back({"ToggleBit32", 6119, {D, D}, {D}});
  h.push_back({"PackBits16", 6120, std::vector<uint8_t>(16, B), {I}});
  h.push_back({"UnpackBits16", 6122, {I}, std::vector<uint8_t>(16, B)});
  h.push_back({"MakeDword", 6130, {I, I}, {D}});
  h.push_back({"SplitDword", 6131, {D}, {I, I}});
  h.push_back({"SwapBytes16", 6132, {I}, {I}});
  h.push_back({"SwapWords32", 6133, {D}, {D}});
  h.push_back({"RadToDeg32", 6141, {R}, {R}});
  h.push_back({"RadToDeg64", 6142, {L}, {L}});
  h.push_back({"DegToRad32", 6143, {R}, {R}});
  h.push_back({"DegToRad64", 6144, {L}, {L}});
  h.push_back({"Random32", 6161, none, {R}});
  h.push_back({"Random64", 6162, none, {L}});
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
