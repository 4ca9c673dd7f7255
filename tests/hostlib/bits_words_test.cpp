// SPDX-License-Identifier: MIT
// The bit and word functions of the host library: every bit function of both widths over bit
// numbers -1 to 36 on values with and without the sign bit (expected values from a separate
// integer-arithmetic model), packing BOOLs, and the word functions on values with the sign bit.
#include "hostlib/host_call.h"

using namespace sicvm;
using namespace sicvm::build;
using namespace sicvm::test;

namespace {

constexpr uint32_t kAt = 4;

TEST(HostBits, EveryBitFunctionOverBitNumbersAndSigns) {
  const struct { int width, value, bit; bool get; int set, clear, toggle; } cases[] = {
      {16, -32768, -1, false, -32768, -32768, -32768},
      {16, -32768, 0, false, -32767, -32768, -32767},
      {16, -32768, 15, true, -32768, 0, 0},
      {16, -32768, 16, true, -32768, -32768, -32768},
      {16, -32768, 31, true, -32768, -32768, -32768},
      {16, -32768, 32, false, -32767, -32768, -32767},
      {16, -32768, 36, false, -32752, -32768, -32752},
      {16, 4660, -1, false, 4660, 4660, 4660},
      {16, 4660, 0, false, 4661, 4660, 4661},
      {16, 4660, 15, false, -28108, 4660, -28108},
      {16, 4660, 16, false, 4660, 4660, 4660},
      {16, 4660, 31, false, 4660, 4660, 4660},
      {16, 4660, 32, false, 4661, 4660, 4661},
      {16, 4660, 36, true, 4660, 4644, 4644},
      {32, -1842063752, -1, false, -1842063752, -1842063752, -1842063752},
      {32, -1842063752, 0, false, -1842063751, -1842063752, -1842063751},
      {32, -1842063752, 15, false, -1842030984, -1842063752, -1842030984},
      {32, -1842063752, 16, false, -1841998216, -1842063752, -1841998216},
      {32, -1842063752, 31, true, -1842063752, 305419896, 305419896},
      {32, -1842063752, 32, false, -1842063751, -1842063752, -1842063751},
      {32, -1842063752, 36, true, -1842063752, -1842063768, -1842063768},
      {32, 305419896, -1, false, 305419896, 305419896, 305419896},
      {32, 305419896, 0, false, 305419897, 305419896, 305419897},
      {32, 305419896, 15, false, 305452664, 305419896, 305452664},
      {32, 305419896, 16, false, 305485432, 305419896, 305485432},
      {32, 305419896, 31, false, -1842063752, 305419896, -1842063752},
      {32, 305419896, 32, false, 305419897, 305419896, 305419897},
      {32, 305419896, 36, true, 305419896, 305419880, 305419880},
  };
  TestMachine m(minimalProgram());
  m->pc = kAt;
  for (const auto &k : cases) {
    SCOPED_TRACE(::testing::Message() << k.width << "-bit value " << k.value << " bit " << k.bit);
    const bool wide = k.width == 32;
    auto word = [&](int v) { return wide ? Value::dint(v) : Value::int16(int16_t(v)); };
    const uint8_t type = wide ? VM_TYPE_DINT : VM_TYPE_INT;
    const int32_t base = wide ? 6111 : 6110;  // GetBit; then Set, Clear, Put, Toggle by twos
    const struct { int32_t function; std::vector<Value> extra; int expected; } changes[] = {
        {base + 2, {}, k.set}, {base + 4, {}, k.clear}, {base + 6, {Value::boolean(true)}, k.set},
        {base + 6, {Value::boolean(false)}, k.clear}, {base + 8, {}, k.toggle}};
    const Record error = k.bit < 0 ? Record{33, kAt, 0, 0} : Record{};
    VmClearLastError(m.get());
    EXPECT_TRUE(holds(callHost(m.get(), base, {word(k.value), Value::dint(k.bit)}, {VM_TYPE_BOOL})[0],
                      Value::boolean(k.get)));
    EXPECT_EQ(recordOf(m), error);
    for (const auto &c : changes) {
      std::vector<Value> inputs{word(k.value), Value::dint(k.bit)};
      inputs.insert(inputs.end(), c.extra.begin(), c.extra.end());
      VmClearLastError(m.get());
      EXPECT_TRUE(holds(callHost(m.get(), c.function, inputs, {type})[0], word(c.expected))) << c.function;
      EXPECT_EQ(recordOf(m), error) << c.function;
    }
  }
}

TEST(HostBits, NegativeBitNumberIsLoggedAsAnInvalidParameter) {
  TestMachine m(minimalProgram());
  m->pc = kAt;
  LogCapture log(10);
  callHost(m.get(), 6117, {Value::dint(9), Value::dint(-32), Value::boolean(true)}, {VM_TYPE_DINT});
  EXPECT_EQ(log.texts(), std::vector<std::string>{errorLine(33, kAt, "Invalid parameter")});
}

TEST(HostBits, PackAndUnpackSixteenBools) {
  TestMachine m(minimalProgram());
  const struct { uint16_t word; std::vector<int> set; } cases[] = {
      {0x8001, {0, 15}}, {0x0000, {}}, {0xFFFF, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
      {0x5A3C, {2, 3, 4, 5, 9, 11, 12, 14}}};
  for (const auto &k : cases) {
    std::vector<Value> bools(16, Value::boolean(false));
    for (int bit : k.set) bools[size_t(bit)] = Value::boolean(true);
    EXPECT_TRUE(holds(callHost(m.get(), 6120, bools, {VM_TYPE_INT})[0], Value::int16(int16_t(k.word))))
        << std::hex << k.word;
    const std::vector<VmCell> out =
        callHost(m.get(), 6122, {Value::int16(int16_t(k.word))}, std::vector<uint8_t>(16, VM_TYPE_BOOL));
    for (size_t i = 0; i < 16; ++i) EXPECT_TRUE(holds(out[i], bools[i])) << std::hex << k.word << " bit " << i;
  }
  // Any non-zero byte is TRUE.
  std::vector<Value> bools(16, Value::raw(VM_TYPE_BOOL, 0, 0));
  bools[3] = Value::raw(VM_TYPE_BOOL, 0x80, 0);
  EXPECT_TRUE(holds(callHost(m.get(), 6120, bools, {VM_TYPE_INT})[0], Value::int16(8)));
}

TEST(HostWords, JoinSplitAndSwapWithTheSignBitSet) {
  TestMachine m(minimalProgram());
  auto run = [&](int32_t function, std::vector<Value> in, std::vector<Value> expected) {
    std::vector<uint8_t> types;
    for (const Value &v : expected) types.push_back(v.type);
    const std::vector<VmCell> out = callHost(m.get(), function, in, types);
    for (size_t i = 0; i < out.size(); ++i) EXPECT_TRUE(holds(out[i], expected[i])) << function << " output " << i;
  };
  auto w = [](int v) { return Value::int16(int16_t(v)); };
  auto dw = [](uint32_t v) { return Value::dint(int32_t(v)); };
  run(6130, {w(-1), w(0x1234)}, {dw(0x1234FFFF)});
  run(6130, {w(0x0001), w(-32768)}, {dw(0x80000001)});
  run(6130, {w(-2), w(-1)}, {dw(0xFFFFFFFE)});
  run(6131, {dw(0x1234FFFF)}, {w(-1), w(0x1234)});
  run(6131, {dw(0x80000001)}, {w(1), w(-32768)});
  run(6131, {dw(0xFFFF8000)}, {w(-32768), w(-1)});
  run(6132, {w(0x1234)}, {w(0x3412)});
  run(6132, {w(-32767)}, {w(0x0180)});  // 0x8001
  run(6132, {w(0x00FF)}, {w(-256)});
  run(6133, {dw(0x12345678)}, {dw(0x56781234)});
  run(6133, {dw(0x8000FFFF)}, {dw(0xFFFF8000)});
}

}  // namespace
