// The table of the host function library and its entry point.
//
// Every number in use has its row with its declared counts, so the code
// verifier gets the right answer for every function. Families whose code is
// not part of a build would have rows without a function: checking them
// answers from the table, executing them gives lib::kNotAvailable, which stops the run
// with error 128 instead of producing made-up outputs. The gas rows hand the
// call on to the gas exports, which check their own counts.
#include "hostlib/hostlib.h"

#include <iterator>

#include "hostlib/functions.h"
#include "sicvm/gas.h"

namespace sicvm::hostlib {
namespace {

using lib::Row;

// A function with fixed counts; `run` null = family not in this build.
constexpr Row fixed(int32_t number, const char *name, uint8_t inputs, uint8_t outputs,
                    lib::Function run = nullptr) {
  return Row{number, name, inputs, inputs, outputs, 0, run};
}
// The gas exports take the frame as an untyped address.
using GasExport = int32_t (*)(int32_t, int32_t, void *, int32_t, int32_t);
template <GasExport F>
int32_t handToGas(int32_t execute, int32_t function, VmCell *frame, int32_t nin, int32_t nout) {
  return F(execute, function, frame, nin, nout);
}

// A gas function: handed on unchecked; the counts document its declaration.
constexpr Row gas(int32_t number, const char *name, uint8_t inputs, uint8_t outputs,
                  lib::HandOn handOn) {
  return Row{number, name, inputs, inputs, outputs, 0, nullptr, handOn};
}

constexpr Row kTable[] = {
    // System functions.
    fixed(6000, "ExchangeStatusBit5", 1, 1, &exchangeStatusBit5),
    fixed(6001, "SetUtcTime", 1, 1, &setUtcTime),
    fixed(6020, "GetLastErrorCode", 0, 1, &getLastErrorCode),
    fixed(6021, "GetLastErrorInfo", 0, 3, &getLastErrorInfo),
    fixed(6022, "ClearLastError", 0, 1, &clearLastError),
    fixed(6023, "GetHostWord376", 0, 1, &getHostWord376),
    fixed(6024, "GetHostWord420", 0, 1, &getHostWord420),
    fixed(6025, "GetCycleCount", 0, 1, &getCycleCount),
    fixed(6026, "GetHostWord408", 0, 1, &getHostWord408),
    // Point functions.
    fixed(6031, "GetPointFieldValue", 2, 1, &getPointFieldValue),
    fixed(6033, "GetPointValue", 1, 1, &getPointValue),
    fixed(6034, "GetPointStatus", 1, 1, &getPointStatus),
    fixed(6035, "SetPointValue", 2, 1, &setPointValue),
    fixed(6036, "SetPointStatus", 2, 1, &setPointStatus),
    fixed(6040, "ReadNvramValue", 1, 2, &readNvramValue),
    fixed(6041, "ReadNvramStatus", 1, 2, &readNvramStatus),
    fixed(6042, "WriteNvramValue", 2, 1, &writeNvramValue),
    fixed(6043, "WriteNvramStatus", 2, 1, &writeNvramStatus),
    fixed(6044, "ClearNvramValue", 1, 1, &clearNvramValue),
    fixed(6045, "ClearNvramStatus", 1, 1, &clearNvramStatus),
    // Date and time functions.
    fixed(6050, "DtNow", 0, 1, &dtNow),
    fixed(6051, "DtPack", 7, 1, &dtPack),
    fixed(6052, "DtUnpack", 1, 8, &dtUnpack),
    fixed(6053, "DtYear", 1, 1, &dtYear),
    fixed(6054, "DtMonth", 1, 1, &dtMonth),
    fixed(6055, "DtDay", 1, 1, &dtDay),
    fixed(6056, "DtHour", 1, 1, &dtHour),
    fixed(6057, "DtMinute", 1, 1, &dtMinute),
    fixed(6058, "DtSecond", 1, 1, &dtSecond),
    fixed(6059, "DtMillisecond", 1, 1, &dtMillisecond),
    fixed(6060, "DtDecade", 1, 1, &dtDecade),
    fixed(6061, "DtDayOfWeek", 1, 1, &dtDayOfWeek),
    fixed(6062, "DtDayOfYear", 1, 1, &dtDayOfYear),
    fixed(6063, "DtWeekOfYear", 1, 1, &dtWeekOfYear),
    fixed(6064, "DtIsDst", 1, 1, &dtIsDst),
    fixed(6065, "DtIsLeapYear", 1, 1, &dtIsLeapYear),
    fixed(6066, "DtDaysInMonth", 1, 1, &dtDaysInMonth),
    fixed(6067, "DtDaysInYear", 1, 1, &dtDaysInYear),
    fixed(6068, "DtWeeksInYear", 1, 1, &dtWeeksInYear),
    fixed(6069, "DtIncYear", 2, 1, &dtIncYear),
    fixed(6070, "DtIncMonth", 2, 1, &dtIncMonth),
    fixed(6071, "DtIncDecade", 2, 1, &dtIncDecade),
    fixed(6072, "DtIncWeek", 2, 1, &dtIncWeek),
    fixed(6073, "DtIncDay", 2, 1, &dtIncDay),
    fixed(6074, "DtBeginOfYear", 1, 1, &dtBeginOfYear),
    fixed(6075, "DtBeginOfMonth", 1, 1, &dtBeginOfMonth),
    fixed(6076, "DtBeginOfDecade", 1, 1, &dtBeginOfDecade),
    fixed(6077, "DtBeginOfWeek", 1, 1, &dtBeginOfWeek),
    fixed(6078, "DtBeginOfDay", 1, 1, &dtBeginOfDay),
    fixed(6079, "DtReportDayNext", 3, 1, &dtReportDayNext),
    fixed(6080, "DtReportDayPrev", 3, 1, &dtReportDayPrev),
    fixed(6081, "DtReportDaysCount", 4, 1, &dtReportDaysCount),
    fixed(6082, "DtToUnixTime", 1, 2, &dtToUnixTime),
    fixed(6083, "UnixTimeToDt", 2, 1, &unixTimeToDt),
    fixed(6090, "TmPack", 6, 1, &tmPack),
    fixed(6091, "TmUnpack", 1, 6, &tmUnpack),
    // Gas computations: the counts are those the gas functions check.
    gas(6100, "GasK_NX19", 5, 2, &handToGas<&GasK_NX19>),
    gas(6101, "GasK_GERG91", 5, 2, &handToGas<&GasK_GERG91>),
    gas(6102, "GasFlowrate_DA", 14, 6, &handToGas<&GasFlowrate_DA>),
    gas(6103, "GasFlowrate_DF", 14, 6, &handToGas<&GasFlowrate_DF>),
    gas(6104, "GasFlowrate_DT", 14, 6, &handToGas<&GasFlowrate_DT>),
    gas(6105, "GasFlowrate", 22, 4, &handToGas<&GasFlowrate>),
    gas(6106, "GasFlowrate", 22, 19, &handToGas<&GasFlowrate>),
    // Bit functions.
    fixed(6110, "GetBit16", 2, 1, &getBit16),
    fixed(6111, "GetBit32", 2, 1, &getBit32),
    fixed(6112, "SetBit16", 2, 1, &setBit16),
    fixed(6113, "SetBit32", 2, 1, &setBit32),
    fixed(6114, "ClearBit16", 2, 1, &clearBit16),
    fixed(6115, "ClearBit32", 2, 1, &clearBit32),
    fixed(6116, "PutBit16", 3, 1, &putBit16),
    fixed(6117, "PutBit32", 3, 1, &putBit32),
    fixed(6118, "ToggleBit16", 2, 1, &toggleBit16),
    fixed(6119, "ToggleBit32", 2, 1, &toggleBit32),
    fixed(6120, "PackBits16", 16, 1, &packBits16),
    fixed(6122, "UnpackBits16", 1, 16, &unpackBits16),
    // Word functions.
    fixed(6130, "MakeDword", 2, 1, &makeDword),
    fixed(6131, "SplitDword", 1, 2, &splitDword),
    fixed(6132, "SwapBytes16", 1, 1, &swapBytes16),
    fixed(6133, "SwapWords32", 1, 1, &swapWords32),
    // Angle conversions.
    fixed(6141, "RadToDeg32", 1, 1, &radToDeg32),
    fixed(6142, "RadToDeg64", 1, 1, &radToDeg64),
    fixed(6143, "DegToRad32", 1, 1, &degToRad32),
    fixed(6144, "DegToRad64", 1, 1, &degToRad64),
    // Random numbers.
    fixed(6161, "Random32", 0, 1, &random32),
    fixed(6162, "Random64", 0, 1, &random64),
};

static_assert(lib::sortedByNumber(kTable), "the host library table is sorted by number");
static_assert(std::size(kTable) == 85, "the host library has 85 function numbers");

}  // namespace

std::span<const lib::Row> table() noexcept { return kTable; }

int32_t dispatch(int32_t mode, int32_t function, VmCell *frame, int32_t count, int32_t first,
                 int32_t nin, int32_t nout, VmMachine *machine) {
  return lib::dispatch(kTable, mode, function, frame, count, first, nin, nout, machine);
}

}  // namespace sicvm::hostlib
