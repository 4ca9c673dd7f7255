// The conversion commands: results at the target width, range checks on the
// source before rounding, and error 34 that lets the program go on.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "builder/image_builder.h"
#include "interp/family_run.h"
#include "support/log_capture.h"

using namespace sicvm;
using namespace sicvm::build;
using test::overPattern;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr uint32_t kPattern = 0xAAAAAAAAu;

struct Case {
  const char *mnemonic;
  Value source;
  uint64_t expected;  // the DST value field after the command
  bool outOfRange;
};

uint64_t bitsOfDouble(double d) { return overPattern(d); }
Value nanPayload() { return Value::raw(VM_TYPE_LREAL, 0x00012345u, 0x7FF80000u); }

const Case kCases[] = {
    {"bool_to_int", Value::raw(VM_TYPE_BOOL, 0x02, 0), overPattern<int16_t>(1), false},
    {"bool_to_dint", Value::raw(VM_TYPE_BOOL, 0x100, 0), overPattern<int32_t>(0), false},
    {"bool_to_real", Value::boolean(true), overPattern(1.0f), false},
    {"bool_to_lreal", Value::raw(VM_TYPE_BOOL, 0x80, 0), overPattern(1.0), false},
    {"int_to_bool", Value::int16(-3), overPattern<uint8_t>(1), false},
    {"int_to_dint", Value::int16(-3), overPattern<int32_t>(-3), false},
    {"int_to_real", Value::int16(-32768), overPattern(-32768.0f), false},
    {"int_to_lreal", Value::int16(7), overPattern(7.0), false},
    {"dint_to_bool", Value::dint(0), overPattern<uint8_t>(0), false},
    {"dint_to_int", Value::dint(70000), overPattern<int16_t>(4464), true},
    {"dint_to_int", Value::dint(-32768), overPattern<int16_t>(-32768), false},
    {"dint_to_int", Value::dint(32768), overPattern<int16_t>(-32768), true},
    {"dint_to_real", Value::dint(16777217), overPattern(16777216.0f), false},
    {"dint_to_lreal", Value::dint(-5), overPattern(-5.0), false},
    {"real_to_bool", Value::real(1e-20f), overPattern<uint8_t>(0), false},
    {"real_to_int", Value::real(32767.6f), overPattern<int16_t>(-32768), true},
    {"real_to_int", Value::real(32767.4f), overPattern<int16_t>(32767), true},
    {"real_to_int", Value::real(-32768.0f), overPattern<int16_t>(-32768), false},
    {"real_to_int", Value::real(std::nanf("")), overPattern<int16_t>(0), false},
    {"real_trunc_int", Value::real(-2.7f), overPattern<int16_t>(-2), false},
    {"real_to_dint", Value::real(2147483648.0f), overPattern<int32_t>(INT32_MIN), true},
    {"real_to_dint", Value::real(-2.5f), overPattern<int32_t>(-3), false},
    {"real_trunc_dint", Value::real(-2147483648.0f), overPattern<int32_t>(INT32_MIN), false},
    {"real_trunc_dint", Value::real(std::numeric_limits<float>::infinity()), overPattern<int32_t>(0), true},
    {"real_to_lreal", Value::real(0.1f), overPattern(double(0.1f)), false},
    {"lreal_to_bool", Value::lreal(1e-300), overPattern<uint8_t>(0), false},
    {"lreal_to_bool", Value::lreal(kNaN), overPattern<uint8_t>(1), false},
    {"lreal_to_int", Value::lreal(2.5), overPattern<int16_t>(3), false},
    {"lreal_to_int", Value::lreal(kNaN), overPattern<int16_t>(0), true},
    {"lreal_to_int", Value::lreal(-kInf), overPattern<int16_t>(0), true},
    {"lreal_trunc_int", Value::lreal(32767.9), overPattern<int16_t>(32767), true},
    {"lreal_trunc_int", Value::lreal(-32768.0), overPattern<int16_t>(-32768), false},
    {"lreal_to_dint", Value::lreal(2147483647.4), overPattern<int32_t>(2147483647), true},
    {"lreal_to_dint", Value::lreal(-2147483648.0), overPattern<int32_t>(INT32_MIN), false},
    {"lreal_trunc_dint", Value::lreal(-2147483648.9), overPattern<int32_t>(INT32_MIN), true},
    {"lreal_to_real", Value::lreal(1e39), overPattern(std::numeric_limits<float>::infinity()), true},
    {"lreal_to_real", Value::lreal(3.4028234663852886e+38), overPattern(std::numeric_limits<float>::max()), false},
    {"lreal_to_real", Value::lreal(0.1), overPattern(0.1f), false},
    {"lreal_to_time", nanPayload(), 0x7FF8000000012345ull, false},
    {"lreal_to_dt", Value::lreal(-0.0), bitsOfDouble(-0.0), false},
    {"time_to_lreal", Value::raw(VM_TYPE_TIME, 0x00012345u, 0x7FF80000u), 0x7FF8000000012345ull, false},
    {"dt_to_lreal", Value::dt(45000.25), bitsOfDouble(45000.25), false},
};

TEST(ConvertCommands, StoreAtTheTargetWidthAndCheckTheSource) {
  for (const Case &k : kCases) {
    SCOPED_TRACE(std::string(k.mnemonic) + " case " + std::to_string(&k - kCases));
    ImageBuilder b;
    uint32_t g0 = b.segment();
    uint32_t out = b.var(g0, Var(Value::raw(0x5A, kPattern, kPattern)));
    uint32_t marker = b.var(g0, Var(Value::dint(0)));
    b.command(codeOf(k.mnemonic), Operand::constant(k.source), Operand::none(), g(out));
    b.command(op("mov"), c(Value::dint(7)), Operand::none(), g(marker));
    b.command(op("ret"));
    test::TestMachine m(b);
    ASSERT_TRUE(m.ok());
    test::LogCapture log(10);
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 3);
    EXPECT_EQ(test::bitsOf(m.globalCell(out)), k.expected);
    EXPECT_EQ(m.globalCell(out).type, 0x5A) << "the cell head stays";
    EXPECT_EQ(m.globalCell(marker).v.i32, 7) << "the program goes on";
    EXPECT_EQ(test::recorded(m), (k.outOfRange ? test::Recorded{34, 0, 0, 0} : test::Recorded{}));
    const std::vector<std::string> messages = log.at(10);
    EXPECT_EQ(std::count(messages.begin(), messages.end(),
                         "Program \"TEST\" (1) error 34 at addr 00000: Result out of range\n"),
              k.outOfRange ? 1 : 0);
  }
}

TEST(ConvertCommands, VarOperandsAndAnUnresolvableDestination) {
  ImageBuilder b;
  uint32_t g0 = b.segment();
  uint32_t in = b.var(g0, Var(Value::real(-1.5f)));
  uint32_t out = b.var(g0, Var(Value::dint(0)));
  b.command(op("real_to_dint"), g(in), Operand::none(), g(out));
  b.command(op("real_to_dint"), g(in), Operand::none(), g(99));
  b.command(op("ret"));
  test::TestMachine m(b);
  ASSERT_TRUE(m.ok());
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 1);
  EXPECT_EQ(m.globalCell(out).v.i32, -2);
  EXPECT_EQ(test::recorded(m), (test::Recorded{110, 1, 0, 99}));
  EXPECT_EQ(m->pc, 1u);
}

}  // namespace
