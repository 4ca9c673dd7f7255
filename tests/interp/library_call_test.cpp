// Library calls through VmRunProgram: parameters on the param stack (call
// type 1) and in the local data segment (call type 2), the checks before a
// call and the errors after it.
#include "interp/program.h"

using namespace sicvm;
using namespace sicvm::build;
using test::entry;
using test::Record;
using test::TestMachine;

namespace {

constexpr uint32_t kStandard = 0x100, kHost = 0x800, kExternal = 0x1000, kOnStack = 1, kInSegment = 2;
constexpr uint8_t kFirst = 2;  // parameter 0 of a type 2 frame: after the segment's two base vars

Command call(uint32_t function, uint32_t descriptor, uint8_t nin, uint8_t nout, uint8_t first = 0) {
  return {op("call"), Operand::words(VM_KIND_CONST, function, descriptor),
          Operand::words(VM_KIND_CONST, uint32_t(first) | uint32_t(nin) << 8 | uint32_t(nout) << 16), {}, 0};
}

// A program that pushes the DINTs 1..pushed, runs `then` and, with `pop`,
// pops one entry into global var 2.
ImageBuilder pushing(uint32_t pushed, const Command &then, bool pop = false) {
  ImageBuilder b;
  b.paramStack(8);
  b.var(b.segment(), Var(Value::dint(0)));
  for (uint32_t i = 0; i < pushed; ++i) b.command(op("push_const"), c(Value::dint(int32_t(i) + 1)));
  b.command(then);
  if (pop) b.command(op("pop_vars"), g(2), num(1));
  b.end();
  return b;
}

Record runCycle(TestMachine &m) {
  VmResetMachine(m.get());
  VmRunProgram(m.get(), 0, 0);
  return test::recordOf(m);
}

// The output lands at the width of its type: type 1 replaces the inputs with
// the whole value field of the cleared output entry, type 2 leaves the rest
// of its cell.
TEST(LibraryCalls, StandardFunctionsWithBothCallTypes) {
  const struct { int32_t function; std::vector<Value> inputs; Value out; int32_t error; } cases[] = {
      {1040, {Value::boolean(true), Value::boolean(false), Value::boolean(true)}, Value::boolean(true), 0},  // SEL
      {1071, {Value::int16(10), Value::int16(25), Value::int16(20)}, Value::int16(20), 0},                   // LIMIT
      {1082, {Value::dint(3), Value::dint(1), Value::dint(2)}, Value::dint(0), 33},  // MUX: the run goes on
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.function);
    const uint8_t nin = uint8_t(k.inputs.size());
    ImageBuilder onStack, inSegment;
    onStack.var(onStack.segment(), Var(Value::raw(k.out.type, 0xA5A5A5A5u, 0xA5A5A5A5u)));
    onStack.command(op("push_const"), c(Value::dint(99)));  // below the frame
    for (const Value &v : k.inputs) onStack.command(op("push_const"), c(v));
    onStack.command(call(uint32_t(k.function), kStandard | kOnStack, nin, 1));
    onStack.command(op("pop_vars"), g(2), num(1));
    onStack.end();
    TestMachine stack(onStack);
    EXPECT_EQ(runCycle(stack), (Record{k.error, k.error ? nin + 1u : 0u}));
    EXPECT_EQ(stack.state().runStatus, uint32_t(VM_END_MARKER));
    EXPECT_EQ(test::bitsOf(stack.globalCell(2)), test::bitsOf(k.out.v));
    EXPECT_EQ(stack->paramDepth, 1u);
    EXPECT_EQ(entry(stack, 0).v.i32, 99);

    inSegment.segment();
    const uint32_t local = inSegment.segment();
    for (const Value &v : k.inputs) inSegment.var(local, Var(v));
    const uint32_t out = inSegment.var(local, Var(Value::raw(k.out.type, 0xA5A5A5A5u, 0xA5A5A5A5u)));
    inSegment.command(op("set_ds"), num(0), num(1));
    inSegment.command(call(uint32_t(k.function), kStandard | kInSegment, nin, 1, kFirst));
    inSegment.end();
    TestMachine segment(inSegment);
    EXPECT_EQ(runCycle(segment), (Record{k.error, k.error ? 1u : 0u}));
    EXPECT_EQ(test::bitsOf(segment.cell(1, out)), test::overFill(k.out));
    EXPECT_EQ(segment->paramDepth, 0u);
  }
}

// The frame is checked before the call; a result other than 0 is fatal
// error 128 naming the library. Either way pc stays on the call and the
// inputs on the stack; a call that was made has cleared its output entries.
TEST(LibraryCalls, Stops) {
  VmSetExternalProc(nullptr);
  const struct { uint32_t pushed; Command call; Record record; const char *message; uint8_t above; } cases[] = {
      {1, call(6002, kStandard | kOnStack, 1, 2), {128, 1, 6002, 1}, "Standard function 6002 returns error 1", 0},
      {1, call(1052, kStandard | kOnStack, 1, 1), {128, 1, 1052, 2}, "Standard function 1052 returns error 2", 0},
      {1, call(6002, kHost | kOnStack, 1, 2), {128, 1, 6002, 1}, "Velmora function 6002 returns error 1", 0},
      {1, call(9, kExternal | kOnStack, 1, 2), {128, 1, 9, 1}, "External function 9 returns error 1", 0},
      {2, call(1040, kStandard | kOnStack, 3, 1), {121, 2, 2, 3}, "Param stack underflow (-1)", 0x55},
      {7, call(1040, kStandard | kOnStack, 0, 2), {120, 7, 7, 2}, "Param stack overflow (9)", 0x55},
      {0, call(1040, kStandard | kInSegment, 1, 1), {128, 0, 1040, 2}, "Standard function 1040 returns error 2", 0x55},
  };
  for (const auto &k : cases) {
    TestMachine m(pushing(k.pushed, k.call));
    entry(m, k.pushed).type = 0x55;
    test::LogCapture log(4);
    EXPECT_EQ(runCycle(m), k.record);
    EXPECT_EQ(log.texts(), std::vector<std::string>{test::errorLine(k.record.code, k.pushed, k.message)});
    EXPECT_EQ(m.state().runStatus, uint32_t(VM_STOPPED));
    EXPECT_EQ(m->pc, k.pushed);
    EXPECT_EQ(m->paramDepth, k.pushed);
    EXPECT_EQ(entry(m, k.pushed).type, k.above) << k.message;
  }
}

TEST(LibraryCalls, AnUnknownClassRepeatsUntilTheCommandLimit) {
  ImageBuilder b = pushing(0, call(5, 0x300 | kOnStack, 0, 0));
  b.commandLimit(10);
  TestMachine m(b);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 11);
  EXPECT_EQ(test::recordOf(m), (Record{106, 0, 11, 10}));
}

}  // namespace
