// SPDX-License-Identifier: MIT
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

// A function with fixed counts and its signature; `run` null = family not in this build.
constexpr Row fixed(int32_t number, const char *name, uint8_t inputs, uint8_t outputs, lib::Function run,
                    const char *signature) {
  return Row{number, name, inputs, inputs, outputs, 0, run, nullptr, 0, signature};
}
// The gas exports take the frame as an untyped address.
using GasExport = int32_t (*)(int32_t, int32_t, void *, int32_t, int32_t);
template <GasExport F>
int32_t handToGas(int32_t execute, int32_t function, VmCell *frame, int32_t nin, int32_t nout) {
  return F(execute, function, frame, nin, nout);
}

// A gas function: handed on unchecked; the counts document its declaration.
constexpr Row gas(int32_t number, const char *name, uint8_t inputs, uint8_t outputs, lib::HandOn handOn,
                  const char *signature) {
  return Row{number, name, inputs, inputs, outputs, 0, nullptr, handOn, 0, signature};
}
// Parameter lists that several rows share. The gas parameters are named
// after the quantities, in the units the gas functions take (K, MPa, kg/m3,
// mm); a diameter ending in _20 is the one at 20 degC, the others are at the
// working temperature.
// The calendar fields of a DT, and the fields of a duration.
#define SICVM_CALENDAR \
  "YEAR:DINT, MONTH:DINT, DAY:DINT, HOUR:DINT, MINUTE:DINT, SECOND:DINT, MILLISECOND:DINT"
#define SICVM_DURATION "DAYS:DINT, HOURS:DINT, MINUTES:DINT, SECONDS:DINT, MILLISECONDS:DINT"
// PackBits16's inputs and UnpackBits16's outputs: bit 0 first.
#define SICVM_BITS16                                                                                   \
  "BIT0:BOOL, BIT1:BOOL, BIT2:BOOL, BIT3:BOOL, BIT4:BOOL, BIT5:BOOL, BIT6:BOOL, BIT7:BOOL, BIT8:BOOL, " \
  "BIT9:BOOL, BIT10:BOOL, BIT11:BOOL, BIT12:BOOL, BIT13:BOOL, BIT14:BOOL, BIT15:BOOL"
// The gas: absolute temperature and pressure, density at standard
// conditions, molar fractions of nitrogen and carbon dioxide.
#define SICVM_GAS \
  "TEMPERATURE:LREAL, PRESSURE:LREAL, STANDARD_DENSITY:LREAL, NITROGEN:LREAL, CARBON_DIOXIDE:LREAL"
// The one-step orifice computations: the gas, its compressibility
// coefficient, the differential pressure, the pipe and the orifice.
#define SICVM_ORIFICE_INPUTS                                                                                   \
  SICVM_GAS ", K:LREAL, DIFFERENTIAL_PRESSURE:LREAL, PIPE_DIAMETER_20:LREAL, PIPE_EXPANSION:LREAL, ROUGHNESS:LREAL, " \
            "ORIFICE_DIAMETER_20:LREAL, ORIFICE_EXPANSION:LREAL, EDGE_RADIUS:LREAL, INSPECTION_INTERVAL:LREAL"
#define SICVM_ORIFICE_OUTPUTS \
  "CODE:DINT, WORKING_DENSITY:LREAL, VISCOSITY:LREAL, ISENTROPIC_EXPONENT:LREAL, STANDARD_FLOW:LREAL, MASS_FLOW:LREAL"
// The general flow computation: the gas, K, the differential pressure; the
// pipe (diameter, expansion coefficients, whether the roughness is the
// equivalent one, the roughness); the device (kind 1 to 6, diameter,
// expansion coefficients, edge radius, whether the radius is the mean over
// the inspection interval, the interval); the iteration limit.
#define SICVM_FLOW_INPUTS                                                                                        \
  SICVM_GAS ", K:LREAL, DIFFERENTIAL_PRESSURE:LREAL, PIPE_DIAMETER_20:LREAL, PIPE_A0:LREAL, PIPE_A1:LREAL, "        \
            "PIPE_A2:LREAL, EQUIVALENT_ROUGHNESS:BOOL, ROUGHNESS:LREAL, DEVICE:DINT, DEVICE_DIAMETER_20:LREAL, "     \
            "DEVICE_B0:LREAL, DEVICE_B1:LREAL, DEVICE_B2:LREAL, EDGE_RADIUS:LREAL, MEAN_EDGE_RADIUS:BOOL, "      \
            "INSPECTION_INTERVAL:LREAL, MAX_ITERATIONS:DINT"
// Its short result (6105), which the full one (6106) begins with.
#define SICVM_FLOW_SHORT "CODE:DINT, STANDARD_FLOW:LREAL, WORKING_FLOW:LREAL, MASS_FLOW:LREAL"

constexpr Row kTable[] = {
    // System functions.
    fixed(6000, "ExchangeStatusBit5", 1, 1, &exchangeStatusBit5, "BIT5:BOOL -> OLD_BIT5:BOOL"),
    fixed(6001, "SetUtcTime", 1, 1, &setUtcTime, "UTC:DT -> DONE:BOOL"),
    fixed(6020, "GetLastErrorCode", 0, 1, &getLastErrorCode, "-> CODE:DINT"),
    fixed(6021, "GetLastErrorInfo", 0, 3, &getLastErrorInfo, "-> ADDRESS:DINT, ARGUMENT1:DINT, ARGUMENT2:DINT"),
    fixed(6022, "ClearLastError", 0, 1, &clearLastError, "-> CODE:DINT"),
    fixed(6023, "GetHostWord376", 0, 1, &getHostWord376, "-> WORD:DINT"),
    fixed(6024, "GetHostWord420", 0, 1, &getHostWord420, "-> WORD:DINT"),
    fixed(6025, "GetCycleCount", 0, 1, &getCycleCount, "-> CYCLES:DINT"),
    fixed(6026, "GetHostWord408", 0, 1, &getHostWord408, "-> WORD:DINT"),
    // Point functions.
    fixed(6031, "GetPointFieldValue", 2, 1, &getPointFieldValue, "POINT:DINT, FIELD:DINT -> VALUE:LREAL"),
    fixed(6033, "GetPointValue", 1, 1, &getPointValue, "POINT:DINT -> VALUE:LREAL"),
    fixed(6034, "GetPointStatus", 1, 1, &getPointStatus, "POINT:DINT -> STATUS:DINT"),
    fixed(6035, "SetPointValue", 2, 1, &setPointValue, "POINT:DINT, VALUE:LREAL -> DONE:BOOL"),
    fixed(6036, "SetPointStatus", 2, 1, &setPointStatus, "POINT:DINT, STATUS:DINT -> DONE:BOOL"),
    fixed(6040, "ReadNvramValue", 1, 2, &readNvramValue, "POINT:DINT -> DONE:BOOL, VALUE:LREAL"),
    fixed(6041, "ReadNvramStatus", 1, 2, &readNvramStatus, "POINT:DINT -> DONE:BOOL, STATUS:DINT"),
    fixed(6042, "WriteNvramValue", 2, 1, &writeNvramValue, "POINT:DINT, VALUE:LREAL -> DONE:BOOL"),
    fixed(6043, "WriteNvramStatus", 2, 1, &writeNvramStatus, "POINT:DINT, STATUS:DINT -> DONE:BOOL"),
    fixed(6044, "ClearNvramValue", 1, 1, &clearNvramValue, "POINT:DINT -> DONE:BOOL"),
    fixed(6045, "ClearNvramStatus", 1, 1, &clearNvramStatus, "POINT:DINT -> DONE:BOOL"),
    // Date and time functions.
    fixed(6050, "DtNow", 0, 1, &dtNow, "-> NOW:DT"),
    fixed(6051, "DtPack", 7, 1, &dtPack, SICVM_CALENDAR " -> DATE_TIME:DT"),
    fixed(6052, "DtUnpack", 1, 8, &dtUnpack, "DATE_TIME:DT -> DST:BOOL, " SICVM_CALENDAR),
    fixed(6053, "DtYear", 1, 1, &dtYear, "DATE_TIME:DT -> YEAR:DINT"),
    fixed(6054, "DtMonth", 1, 1, &dtMonth, "DATE_TIME:DT -> MONTH:DINT"),
    fixed(6055, "DtDay", 1, 1, &dtDay, "DATE_TIME:DT -> DAY:DINT"),
    fixed(6056, "DtHour", 1, 1, &dtHour, "DATE_TIME:DT -> HOUR:DINT"),
    fixed(6057, "DtMinute", 1, 1, &dtMinute, "DATE_TIME:DT -> MINUTE:DINT"),
    fixed(6058, "DtSecond", 1, 1, &dtSecond, "DATE_TIME:DT -> SECOND:DINT"),
    fixed(6059, "DtMillisecond", 1, 1, &dtMillisecond, "DATE_TIME:DT -> MILLISECOND:DINT"),
    fixed(6060, "DtDecade", 1, 1, &dtDecade, "DATE_TIME:DT -> DECADE:DINT"),
    fixed(6061, "DtDayOfWeek", 1, 1, &dtDayOfWeek, "DATE_TIME:DT -> DAY_OF_WEEK:DINT"),
    fixed(6062, "DtDayOfYear", 1, 1, &dtDayOfYear, "DATE_TIME:DT -> DAY_OF_YEAR:DINT"),
    fixed(6063, "DtWeekOfYear", 1, 1, &dtWeekOfYear, "DATE_TIME:DT -> WEEK:DINT"),
    fixed(6064, "DtIsDst", 1, 1, &dtIsDst, "DATE_TIME:DT -> DST:BOOL"),
    fixed(6065, "DtIsLeapYear", 1, 1, &dtIsLeapYear, "DATE_TIME:DT -> LEAP_YEAR:BOOL"),
    fixed(6066, "DtDaysInMonth", 1, 1, &dtDaysInMonth, "DATE_TIME:DT -> DAYS:DINT"),
    fixed(6067, "DtDaysInYear", 1, 1, &dtDaysInYear, "DATE_TIME:DT -> DAYS:DINT"),
    fixed(6068, "DtWeeksInYear", 1, 1, &dtWeeksInYear, "DATE_TIME:DT -> WEEKS:DINT"),
    fixed(6069, "DtIncYear", 2, 1, &dtIncYear, "DATE_TIME:DT, YEARS:DINT -> RESULT:DT"),
    fixed(6070, "DtIncMonth", 2, 1, &dtIncMonth, "DATE_TIME:DT, MONTHS:DINT -> RESULT:DT"),
    fixed(6071, "DtIncDecade", 2, 1, &dtIncDecade, "DATE_TIME:DT, DECADES:DINT -> RESULT:DT"),
    fixed(6072, "DtIncWeek", 2, 1, &dtIncWeek, "DATE_TIME:DT, WEEKS:DINT -> RESULT:DT"),
    fixed(6073, "DtIncDay", 2, 1, &dtIncDay, "DATE_TIME:DT, DAYS:DINT -> RESULT:DT"),
    fixed(6074, "DtBeginOfYear", 1, 1, &dtBeginOfYear, "DATE_TIME:DT -> BEGIN:DT"),
    fixed(6075, "DtBeginOfMonth", 1, 1, &dtBeginOfMonth, "DATE_TIME:DT -> BEGIN:DT"),
    fixed(6076, "DtBeginOfDecade", 1, 1, &dtBeginOfDecade, "DATE_TIME:DT -> BEGIN:DT"),
    fixed(6077, "DtBeginOfWeek", 1, 1, &dtBeginOfWeek, "DATE_TIME:DT -> BEGIN:DT"),
    fixed(6078, "DtBeginOfDay", 1, 1, &dtBeginOfDay, "DATE_TIME:DT -> BEGIN:DT"),
    fixed(6079, "DtReportDayNext", 3, 1, &dtReportDayNext, "DATE_TIME:DT, REPORT_HOUR:DINT, REPORT_MINUTE:DINT -> START:DT"),
    fixed(6080, "DtReportDayPrev", 3, 1, &dtReportDayPrev, "DATE_TIME:DT, REPORT_HOUR:DINT, REPORT_MINUTE:DINT -> START:DT"),
    fixed(6081, "DtReportDaysCount", 4, 1, &dtReportDaysCount, "FROM:DT, TO:DT, REPORT_HOUR:DINT, REPORT_MINUTE:DINT -> DAYS:DINT"),
    fixed(6082, "DtToUnixTime", 1, 2, &dtToUnixTime, "DATE_TIME:DT -> SECONDS:DINT, MILLISECONDS:DINT"),
    fixed(6083, "UnixTimeToDt", 2, 1, &unixTimeToDt, "SECONDS:DINT, MILLISECONDS:DINT -> DATE_TIME:DT"),
    fixed(6090, "TmPack", 6, 1, &tmPack, SICVM_DURATION ", NEGATIVE:BOOL -> DURATION:TIME"),
    fixed(6091, "TmUnpack", 1, 6, &tmUnpack, "DURATION:TIME -> NEGATIVE:BOOL, " SICVM_DURATION),
    // Gas computations: the counts are those the gas functions check.
    gas(6100, "GasK_NX19", 5, 2, &handToGas<&GasK_NX19>, SICVM_GAS " -> CODE:DINT, K:LREAL"),
    gas(6101, "GasK_GERG91", 5, 2, &handToGas<&GasK_GERG91>, SICVM_GAS " -> CODE:DINT, K:LREAL"),
    gas(6102, "GasFlowrate_DA", 14, 6, &handToGas<&GasFlowrate_DA>, SICVM_ORIFICE_INPUTS " -> " SICVM_ORIFICE_OUTPUTS),
    gas(6103, "GasFlowrate_DF", 14, 6, &handToGas<&GasFlowrate_DF>, SICVM_ORIFICE_INPUTS " -> " SICVM_ORIFICE_OUTPUTS),
    gas(6104, "GasFlowrate_DT", 14, 6, &handToGas<&GasFlowrate_DT>, SICVM_ORIFICE_INPUTS " -> " SICVM_ORIFICE_OUTPUTS),
    gas(6105, "GasFlowrate", 22, 4, &handToGas<&GasFlowrate>, SICVM_FLOW_INPUTS " -> " SICVM_FLOW_SHORT),
    gas(6106, "GasFlowrate", 22, 19, &handToGas<&GasFlowrate>,
        SICVM_FLOW_INPUTS " -> " SICVM_FLOW_SHORT ", WORKING_DENSITY:LREAL, VISCOSITY:LREAL, ISENTROPIC_EXPONENT:LREAL, "
        "PIPE_EXPANSION:LREAL, PIPE_DIAMETER:LREAL, DEVICE_EXPANSION:LREAL, DEVICE_DIAMETER:LREAL, BETA:LREAL, "
        "APPROACH_FACTOR:LREAL, DISCHARGE_COEFFICIENT:LREAL, EDGE_FACTOR:LREAL, EXPANSION_FACTOR:LREAL, "
        "ROUGHNESS_FACTOR:LREAL, REYNOLDS:LREAL, ITERATIONS:DINT"),
    // Bit functions.
    fixed(6110, "GetBit16", 2, 1, &getBit16, "VALUE:INT, BIT:DINT -> SET:BOOL"),
    fixed(6111, "GetBit32", 2, 1, &getBit32, "VALUE:DINT, BIT:DINT -> SET:BOOL"),
    fixed(6112, "SetBit16", 2, 1, &setBit16, "VALUE:INT, BIT:DINT -> RESULT:INT"),
    fixed(6113, "SetBit32", 2, 1, &setBit32, "VALUE:DINT, BIT:DINT -> RESULT:DINT"),
    fixed(6114, "ClearBit16", 2, 1, &clearBit16, "VALUE:INT, BIT:DINT -> RESULT:INT"),
    fixed(6115, "ClearBit32", 2, 1, &clearBit32, "VALUE:DINT, BIT:DINT -> RESULT:DINT"),
    fixed(6116, "PutBit16", 3, 1, &putBit16, "VALUE:INT, BIT:DINT, STATE:BOOL -> RESULT:INT"),
    fixed(6117, "PutBit32", 3, 1, &putBit32, "VALUE:DINT, BIT:DINT, STATE:BOOL -> RESULT:DINT"),
    fixed(6118, "ToggleBit16", 2, 1, &toggleBit16, "VALUE:INT, BIT:DINT -> RESULT:INT"),
    fixed(6119, "ToggleBit32", 2, 1, &toggleBit32, "VALUE:DINT, BIT:DINT -> RESULT:DINT"),
    fixed(6120, "PackBits16", 16, 1, &packBits16, SICVM_BITS16 " -> WORD:INT"),
    fixed(6122, "UnpackBits16", 1, 16, &unpackBits16, "WORD:INT -> " SICVM_BITS16),
    // Word functions.
    fixed(6130, "MakeDword", 2, 1, &makeDword, "LOW:INT, HIGH:INT -> DWORD:DINT"),
    fixed(6131, "SplitDword", 1, 2, &splitDword, "DWORD:DINT -> LOW:INT, HIGH:INT"),
    fixed(6132, "SwapBytes16", 1, 1, &swapBytes16, "WORD:INT -> SWAPPED:INT"),
    fixed(6133, "SwapWords32", 1, 1, &swapWords32, "DWORD:DINT -> SWAPPED:DINT"),
    // Angle conversions.
    fixed(6141, "RadToDeg32", 1, 1, &radToDeg32, "RADIANS:REAL -> DEGREES:REAL"),
    fixed(6142, "RadToDeg64", 1, 1, &radToDeg64, "RADIANS:LREAL -> DEGREES:LREAL"),
    fixed(6143, "DegToRad32", 1, 1, &degToRad32, "DEGREES:REAL -> RADIANS:REAL"),
    fixed(6144, "DegToRad64", 1, 1, &degToRad64, "DEGREES:LREAL -> RADIANS:LREAL"),
    // Random numbers.
    fixed(6161, "Random32", 0, 1, &random32, "-> RANDOM:REAL"),
    fixed(6162, "Random64", 0, 1, &random64, "-> RANDOM:LREAL"),
};

#undef SICVM_CALENDAR
#undef SICVM_DURATION
#undef SICVM_BITS16
#undef SICVM_GAS
#undef SICVM_ORIFICE_INPUTS
#undef SICVM_ORIFICE_OUTPUTS
#undef SICVM_FLOW_INPUTS
#undef SICVM_FLOW_SHORT

static_assert(lib::sortedByNumber(kTable), "the host library table is sorted by number");
static_assert(std::size(kTable) == 85, "the host library has 85 function numbers");

}  // namespace

std::span<const lib::Row> table() noexcept { return kTable; }

int32_t dispatch(int32_t mode, int32_t function, VmCell *frame, int32_t count, int32_t first,
                 int32_t nin, int32_t nout, VmMachine *machine) {
  return lib::dispatch(kTable, mode, function, frame, count, first, nin, nout, machine);
}

}  // namespace sicvm::hostlib
