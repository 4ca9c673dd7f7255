// SPDX-License-Identifier: MIT
// Control commands: operands, mov, the param stack, tests and jumps, frames,
// and library calls with parameters on the param stack or in a segment.
#include "interp/program.h"
#include "support/value.h"

using namespace sicvm;
using namespace sicvm::build;
using namespace sicvm::test;

namespace {

// Global vars: 2 plain, 3 of class 4, 4..7 references to arrays 0, 1, 2 and none (9),
// 8..11 DINTs 10..13; segment 1: DINTs 100..102. Arrays of 4, 4, 5 DINTs from 0, 100, 200.
constexpr uint32_t kPlain = 2, kRefTo0 = 4, kRefTo1 = 5, kRefToNone = 7;
ImageBuilder fixture() {
  ImageBuilder b;
  b.paramStack(8).callStack(2);
  const uint32_t s0 = b.segment(), s1 = b.segment(1, 0);
  Var odd(Value::dint(7));
  odd.typeClass = 4;
  b.var(s0, Var(Value::raw(VM_TYPE_DINT, 0xAAAAAAAA, 0xBBBBBBBB)));
  b.var(s0, odd);
  for (uint32_t relative : {0, 1, 2, 9}) {
    Var ref(Value::raw(VM_TYPE_DINT, 0, relative));
    ref.typeClass = VM_CLASS_ARRAY_REF;
    b.var(s0, ref);
  }
  for (int i = 0; i < 4; ++i) b.var(s0, Var(Value::dint(10 + i)));
  for (int i = 0; i < 3; ++i) b.var(s1, Var(Value::dint(100 + i)));
  for (int first : {0, 100, 200}) {
    std::vector<Value> values;
    for (int i = 0; i < (first == 200 ? 5 : 4); ++i) values.push_back(Value::dint(first + i));
    b.array(Array{VM_TYPE_DINT, 1, uint32_t(values.size()), 1, values, 0});
  }
  return b;
}

// The fixture running `code` up to an end marker.
TestMachine machine(const std::vector<Command> &code) {
  ImageBuilder b = fixture();
  for (const Command &cmd : code) b.command(cmd);
  b.end();
  return TestMachine(b);
}
Command cmd(uint32_t code, const Operand &src1 = {}, const Operand &src2 = {}, const Operand &dst = {}) {
  return {code, src1, src2, dst, 0};
}
Command push(int32_t value) { return cmd(op("push_const"), c(Value::dint(value))); }
const Command kEnd = cmd(0x80000000u);

// Runs the program; checks the error record, the line logged, and pc.
void expectStop(TestMachine &m, const Record &record, const std::string &message = "") {
  ASSERT_TRUE(m.ok());
  LogCapture log(4);
  VmRunProgram(m.get(), 0, 0);
  EXPECT_EQ(recordOf(m), record);
  const std::vector<std::string> expected{errorLine(record.code, record.address, message)};
  if (!message.empty()) { EXPECT_EQ(log.texts(), expected); }
  if (record.code > 100) { EXPECT_EQ(m->pc, record.address); }
}

TEST(Operands, AVariableMustExistInItsSlotAndMovCopiesAllEightBytes) {
  const struct { Operand src1, dst; Record record; } cases[] = {
      {g(kPlain), g(11), {}},
      {g(12), g(2), {110, 0, 0, 12}},              // past the var count
      {l(0), g(2), {110, 0, 1, 0}},                // no local segment
      {g(99), l(5), {110, 0, 0, 99}},              // SRC1 is resolved first
      {g(2), l(5), {110, 0, 1, 5}},
  };
  for (const auto &k : cases) {
    TestMachine m = machine({{op("mov"), k.src1, Operand::none(), k.dst, 0}});
    char text[64];
    std::snprintf(text, sizeof text, "Invalid operand var address (%u:%05u)", k.record.arg1, k.record.arg2);
    expectStop(m, k.record, k.record.code ? text : "");
    EXPECT_EQ(m->pc, k.record.code ? 0u : 1u);
    EXPECT_EQ(bitsOf(m.globalCell(11)), k.record.code ? 13u : 0xBBBBBBBBAAAAAAAAu);
    EXPECT_EQ(m.globalCell(11).type, VM_TYPE_DINT) << "the cell head stays";
  }
}

TEST(ParamStack, PushConstAndPushEmpty) {
  TestMachine m = machine({cmd(op("push_const"), Operand::words(VM_KIND_VAR, 7, 8)),  // the kind is not read
                           cmd(op("push_empty"), Operand::words(1, 0xAB, 0xCD), num(2)),
                           cmd(op("push_empty"), num(0), num(0xFFFFFFFFu)),  // 3 + n wraps: nothing pushed
                           cmd(op("push_empty"), num(0), num(4)), push(9),  // the last entry
                           cmd(op("push_empty"), num(0), num(1))});         // one too many
  expectStop(m, {120, 5, 8, 1}, "Param stack overflow (9)");
  const VmCell expected[] = {{VM_ENTRY_VALUE, 0, {}, {.w = {7, 8}}}, {VM_ENTRY_EMPTY, 0, {}, {.w = {0xAB, 0xCD}}},
                             {VM_ENTRY_EMPTY, 0, {}, {.w = {0xAB, 0xCD}}}, {VM_ENTRY_VALUE, 0, {}, {.w = {9, 0}}}};
  const uint32_t at[] = {0, 1, 2, 7};
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(std::memcmp(&entry(m, at[i]), &expected[i], sizeof(VmCell)), 0) << at[i];
}

// pop_vars names the last var of its run: the top entry goes there. Vars 0..2, then 9..11.
TEST(ParamStack, PopFillsFromTheLastVarDown) {
  constexpr int32_t kA = int32_t(0xAAAAAAAA);
  const struct { uint32_t v, n; Record record; int32_t vars[6]; } cases[] = {
      {11, 3, {}, {0, 0, kA, 1, 2, 3}},
      {2, 3, {}, {1, 2, 3, 11, 12, 13}},                    // down to var 0
      {1, 3, {110, 3, 0, 1}, {0, 0, kA, 11, 12, 13}},       // the run would start below var 0
      {11, 4, {121, 3, 3, 4}, {0, 0, kA, 11, 12, 13}},
  };
  for (const auto &k : cases) {
    TestMachine m = machine({push(1), push(2), push(3), cmd(op("pop_vars"), g(k.v), num(k.n))});
    expectStop(m, k.record);
    for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(test::value(m.globalCell(i < 3 ? i : i + 6).v.i32), k.vars[i]) << &k - cases;
  }
}

// Values, array numbers for references, nothing for other classes; room first, then range.
TEST(ParamStack, PushVars) {
  const struct { uint32_t first, n; Record record; uint32_t depth; } cases[] = {
      {kPlain, 5, {}, 5},
      {kPlain, 9, {120, 0, 0, 9}, 0},   // 8 entries only
      {kRefTo1, 3, {112, 0, 0, 9}, 2},  // the entries pushed before stay
      {11, 2, {110, 0, 0, 11}, 0},      // vars 11 and 12: 12 is past the count
      {0, 0, {110, 0, 0, 0}, 0},        // v + n - 1 wraps
      {3, 0, {}, 0},
  };
  for (const auto &k : cases) {
    TestMachine m = machine({cmd(op("push_vars"), g(k.first), num(k.n))});
    entry(m, 1).type = 0x77;
    expectStop(m, k.record, k.record.code == 112 ? "Invalid var 0:00007 array address (0:9)" : "");
    EXPECT_EQ(m->paramDepth, k.depth) << &k - cases;
    if (k.depth < 5) continue;
    const uint8_t kinds[] = {VM_ENTRY_VALUE, 0x77, VM_ENTRY_ARRAY, VM_ENTRY_ARRAY, VM_ENTRY_ARRAY};
    const uint32_t words[] = {0xAAAAAAAA, 0, 0, 1, 2};
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(entry(m, i).type, kinds[i]) << i;
    for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(test::value(entry(m, i).v.w[0]), words[i]) << i;
  }
}

// By kind: a value whole; an array entry into a reference as a copy of the array, into any
// other var as its number; an empty entry leaves the var.
TEST(ParamStack, PopByEntryKind) {
  const struct { uint8_t kind; uint32_t word; uint32_t into; Record record; const char *message; uint64_t var; }
      cases[] = {
          {VM_ENTRY_VALUE, 0x1234, kPlain, {}, "", 0x0506070800001234u},
          {VM_ENTRY_ARRAY, 1, kRefTo0, {}, "", 0},
          {VM_ENTRY_ARRAY, 2, kRefTo0, {117, 0, 0, 2}, "Arrays 0 and 2 size mismatch (48, 60)", 0},
          {VM_ENTRY_ARRAY, 7, kRefTo0, {113, 0, 7, 0}, "Invalid stack param array absolute address (7)", 0},
          {VM_ENTRY_ARRAY, 1, kRefToNone, {112, 0, 0, 9}, "Invalid var 0:00007 array address (0:9)", 9ull << 32},
          {VM_ENTRY_ARRAY, 0x01020304, 3, {}, "", 0x01020304},
          {VM_ENTRY_EMPTY, 0, kPlain, {}, "", 0xBBBBBBBBAAAAAAAAu},
          {9, 0, kPlain, {125, 0, 9, 0}, "Unknown stack param type (9)", 0xBBBBBBBBAAAAAAAAu},
      };
  for (const auto &k : cases) {
    TestMachine m = machine({cmd(op("pop_vars"), g(k.into), num(1))});
    entry(m, 0) = {k.kind, 0, {}, {.w = {k.word, 0x05060708}}};
    m->paramDepth = 1;
    expectStop(m, k.record, k.message);
    EXPECT_EQ(m->paramDepth, k.record.code ? 1u : 0u);
    EXPECT_EQ(bitsOf(m.globalCell(k.into)), k.var) << &k - cases;
    const bool copied = k.kind == VM_ENTRY_ARRAY && k.word == 1 && !k.record.code;
    for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ(test::value(m.arrayCell(0, i).v.i32), int32_t(copied ? 100 + i : i)) << i;
    EXPECT_EQ(m.arrayCell(0, 0).type, VM_TYPE_DINT) << "cell heads stay";
  }
}

// Conditions over the flags greater (0), equal (1), less (2), both bits (3); if_* test a BOOL.
TEST(Conditions, TestsAndJumps) {
  const struct { const char *name; bool holds[4]; } rows[] = {
      {"eq", {0, 1, 0, 1}}, {"ne", {1, 0, 1, 0}}, {"lt", {0, 0, 1, 0}},
      {"le", {0, 1, 1, 1}}, {"gt", {1, 0, 0, 0}}, {"ge", {1, 1, 0, 1}}};
  for (const auto &row : rows) {
    for (uint32_t flags = 0; flags < 4; ++flags) {
      TestMachine m = machine({cmd(uint32_t(codeOf(std::string("test_") + row.name)), {}, {}, g(kPlain)),
                               cmd(uint32_t(codeOf(std::string("jmp_") + row.name)), num(3)), kEnd});
      m->compareFlags = flags;
      EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 2);
      EXPECT_EQ(bitsOf(m.globalCell(kPlain)), 0xBBBBBBBBAAAAAA00u | row.holds[flags]) << row.name << flags;
      EXPECT_EQ(m->pc, row.holds[flags] ? 3u : 2u) << row.name << flags;
    }
  }
  const struct { uint16_t code; uint8_t byte; bool taken; } cases[] = {
      {op("jmp"), 2, true}, {op("if_eq"), 0, false}, {op("if_eq"), 2, true}, {op("if_ne"), 0, true},
      {op("if_ne"), 1, false}};
  for (const auto &k : cases) {
    TestMachine m = machine({cmd(k.code, num(k.byte), num(2)), kEnd});  // jmp: SRC1 is the target
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 1);
    EXPECT_EQ(m->pc, k.taken ? 2u : 1u) << &k - cases;
  }
}

TEST(Frames, SetDsCallAndRetReturnAfterTheCallAndRestoreTheSegment) {
  ImageBuilder b = fixture();
  b.command(op("set_ds"), num(0), num(1));                        // 0: local = segment 1
  b.command(op("call"), Operand::words(1, 4, VM_CALL_CODE));      // 1
  b.command(op("mov"), l(2), Operand::none(), g(3));              // 2: no local segment any more
  b.end();                                                        // 3
  b.command(op("mov"), l(2), Operand::none(), g(2));              // 4: the callee reads its local var
  b.command(op("set_ds"), num(1), num(0));                        // 5: nested: segment 1 again
  b.command(op("call"), Operand::words(1, 8, VM_CALL_CODE_ALT));  // 6
  b.command(op("ret"));                                           // 7
  b.command(op("ret"));                                           // 8
  TestMachine m(b);
  expectStop(m, {110, 2, 1, 2});
  EXPECT_EQ(bitsOf(m.globalCell(2)), 100u);
  EXPECT_EQ(m->callDepth, 0u);
  EXPECT_EQ(m->localSegmentNo + m->localSegment, 0u) << "no local segment";
  EXPECT_EQ(m->commandsRun, 7) << "0, 1, 4, 5, 6, 8, 7 ran; 2 failed";
}

// Data segment 0 selected by set_ds is the local segment like any other: slot 1 reads and
// writes it, the point commands accept slot 1, and set_ds through slot 1 reads its var 0. Only
// ret takes a saved number 0 for "no local segment".
TEST(Frames, SegmentZeroBecomesTheLocalSegment) {
  ImageBuilder b = fixture();
  b.command(op("set_ds"), num(0), num(0));                        // 0: local = segment 0
  b.command(op("call"), Operand::words(1, 4, VM_CALL_CODE));      // 1
  b.command(op("mov"), l(8), Operand::none(), g(3));              // 2: no local segment any more
  b.end();                                                        // 3
  b.command(op("mov"), l(8), Operand::none(), g(2));              // 4: reads global var 8 through slot 1
  b.command(op("mov"), g(9), Operand::none(), l(10));             // 5: writes global var 10 through slot 1
  b.command(op("load_points"), Operand::var(1, 0));               // 6
  b.command(op("save_points"), Operand::var(1, 0));               // 7
  b.command(op("set_ds"), num(1), num(1));                        // 8: var 0 of segment 0, plus 1
  b.command(op("call"), Operand::words(1, 11, VM_CALL_CODE));     // 9
  b.command(op("ret"));                                           // 10
  b.command(op("mov"), l(2), Operand::none(), g(11));             // 11: segment 1's var 2
  b.command(op("ret"));                                           // 12
  TestMachine m(b);
  expectStop(m, {110, 2, 1, 8}, "Invalid operand var address (1:00008)");
  EXPECT_EQ(bitsOf(m.globalCell(2)), 10u);
  EXPECT_EQ(bitsOf(m.globalCell(10)), 11u);
  EXPECT_EQ(bitsOf(m.globalCell(11)), 100u);
  EXPECT_EQ(m->callDepth, 0u);
  EXPECT_EQ(m->localSegmentNo + m->localSegment, 0u) << "ret restored no local segment";
  EXPECT_EQ(m->commandsRun, 11) << "0, 1, 4..12, 10 ran; 2 failed";
}

// A failure opens and closes no frame.
TEST(Frames, Errors) {
  const Command setDs = cmd(op("set_ds"), num(0), num(1)), ret = cmd(op("ret"));
  const struct { std::vector<Command> code; uint32_t depth; Record record; uint32_t depthAfter; const char *message; }
      cases[] = {
          {{cmd(op("set_ds"), num(0), num(2))}, 0, {118, 0, 2, 0}, 0, "Set DS is out of range (2)"},
          {{cmd(op("set_ds"), num(2), num(0))}, 0, {118, 0, 2, 0}, 0, "Set DS is not global or local (2)"},
          {{cmd(op("set_ds"), num(1), num(0))}, 0, {118, 0, 1, 0}, 0, "Set DS is NULL (1)"},
          {{setDs, setDs, setDs}, 0, {119, 2, 2, 1}, 2, "Call stack overflow (3)"},
          {{setDs, cmd(op("call"), Operand::words(1, 9, VM_CALL_CODE))}, 0, {109, 1, 9, 0}, 1,
           "Call address is outside of code (9)"},
          {{cmd(op("call"), Operand::words(1, 0, VM_CALL_CODE))}, 0, {119, 0, 0, 1}, 0, "Call stack overflow (1)"},
          {{setDs, ret}, 0, {109, 1, 0xABCD, 0}, 1, "Ret address is outside of code (43981)"},
          {{ret, ret}, 1, {118, 0, 2, 0}, 1, "Ret DS is out of range (2)"},
      };
  for (const auto &k : cases) {
    TestMachine m = machine(k.code);
    // Frame 0 as set_ds finds it, or (depth 1) open with a saved segment beyond the count.
    auto *frames = reinterpret_cast<VmCallEntry *>(m.image().data() + m.image().header().callStackOffset);
    frames[0] = {k.depth ? 1u : 0xABCDu, 2};
    m->callDepth = k.depth;
    expectStop(m, k.record, k.message);
    EXPECT_EQ(m->callDepth, k.depthAfter) << k.message;
  }
}

constexpr uint32_t kStandard = 0x100, kHost = 0x800, kExternal = 0x1000, kOnStack = 1, kInSegment = 2;
constexpr uint8_t kFirst = 2;  // parameter 0 of a type 2 frame: after the segment's two base vars

Command call(uint32_t function, uint32_t descriptor, uint8_t nin, uint8_t nout, uint8_t first = 0) {
  return cmd(op("call"), Operand::words(VM_KIND_CONST, function, descriptor),
             num(uint32_t(first) | uint32_t(nin) << 8 | uint32_t(nout) << 16));
}

// Type 1: the outputs, in cleared entries above the top inputs, replace them. Type 2: the local
// segment's cells from `first`. A call's run-time error is recorded at the call; the run goes on.
TEST(LibraryCalls, FramesOfBothCallTypes) {
  TestMachine m = machine({push(99), push(3), push(1), push(2),
                           call(1082, kStandard | kOnStack, 3, 1),  // 4: MUX(3; 1, 2) = 0, error 33
                           cmd(op("pop_vars"), g(8), num(1)), cmd(op("set_ds"), num(0), num(1)),
                           call(1052, kStandard | kInSegment, 2, 1, kFirst)});  // MAX(100, 101) into local var 4
  entry(m, 4) = {VM_ENTRY_VALUE, 0, {}, {.w = {0xAAAAAAAA, 0xAAAAAAAA}}};
  expectStop(m, {33, 4});
  EXPECT_EQ(bitsOf(m.globalCell(8)), 0u);
  EXPECT_EQ(m->paramDepth, 1u);
  EXPECT_EQ(test::value(entry(m, 0).v.i32), 99);
  EXPECT_EQ(test::value(m.cell(1, 4).v.i32), 101);
}

// The frame is checked first; a non-zero result is fatal 128; a call made has cleared its outputs.
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
    std::vector<Command> code(k.pushed, push(1));
    code.push_back(k.call);
    TestMachine m = machine(code);
    entry(m, k.pushed).type = 0x55;
    expectStop(m, k.record, k.message);
    EXPECT_EQ(m->paramDepth, k.pushed);
    EXPECT_EQ(entry(m, k.pushed).type, k.above) << k.message;
  }
}

// A call of any other class calls nothing and stays on the call.
TEST(LibraryCalls, AnUnknownClassRepeatsUntilTheCommandLimit) {
  ImageBuilder b = fixture();
  b.commandLimit(10).command(call(5, 0x300 | kOnStack, 0, 0));
  TestMachine m(b);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 11);
  EXPECT_EQ(recordOf(m), (Record{106, 0, 11, 10}));
}

}  // namespace
