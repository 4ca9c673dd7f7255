// Control commands: operand resolution, mov, the param stack commands, the
// jumps, if_eq / if_ne, set_ds, the in-code call, ret, and the library call
// classes while the libraries are not there.
#include <cstdio>

#include "interp/program.h"
#include "support/log_capture.h"

using namespace sicvm;
using namespace sicvm::build;
using sicvm::test::Record;
using sicvm::test::TestMachine;

namespace {

// Global segment: vars 0, 1 (base numbers), then DINT vars 2.. with values
// 10, 11, ...; a second segment (number 1) with three DINT vars 100..102.
struct Fixture {
  ImageBuilder b;
  explicit Fixture(int vars = 6, uint32_t paramStack = 8, uint32_t callStack = 4) {
    b.paramStack(paramStack).callStack(callStack).commandLimit(1000);
    uint32_t s0 = b.segment();
    for (int i = 0; i < vars; ++i) b.var(s0, Var(Value::dint(10 + i)));
    uint32_t s1 = b.segment(1, 0);
    for (int i = 0; i < 3; ++i) b.var(s1, Var(Value::dint(100 + i)));
  }
};

int32_t dint(TestMachine &m, uint32_t segment, uint32_t var) { return m.cell(segment, var).v.i32; }
VmCell &entry(TestMachine &m, uint32_t i) {
  return *reinterpret_cast<VmCell *>(m.image().data() + m.image().header().paramStackOffset + 12 * i);
}

Command make(uint32_t code, const Operand &src1 = Operand::none(), const Operand &src2 = Operand::none()) {
  Command cmd;
  cmd.code = code;
  cmd.src1 = src1;
  cmd.src2 = src2;
  return cmd;
}

// Runs until the run stops; returns the error record.
Record run(TestMachine &m) {
  EXPECT_TRUE(m.ok());
  VmRunProgram(m.get(), 0, 0);
  return test::recordOf(m.get());
}

// ---- Operand resolution ----

TEST(Operands, AVariableMustExistInItsSlot) {
  struct Case {
    const char *what;
    Operand src1, dst;
    Record record;  // {0,...} when the mov succeeds
  } cases[] = {
      {"last var resolves", g(7), g(2), {0, 0, 0, 0}},
      {"var count fails", g(8), g(2), {110, 0, 0, 8}},
      {"slot 2 fails", Operand::var(2, 0), g(2), {110, 0, 2, 0}},
      {"no local segment", l(0), g(2), {110, 0, 1, 0}},
      {"SRC1 is named first", g(99), l(5), {110, 0, 0, 99}},
      {"DST fails after SRC1", g(2), l(5), {110, 0, 1, 5}},
  };
  for (const Case &c : cases) {
    Fixture f;
    f.b.command(op("mov"), c.src1, Operand::none(), c.dst);
    f.b.end();
    TestMachine m(f.b);
    test::LogCapture log(4);
    EXPECT_EQ(run(m), c.record) << c.what;
    EXPECT_EQ(m->pc, c.record.code ? 0u : 1u) << c.what;
    if (c.record.code) {
      char text[128];
      std::snprintf(text, sizeof text,
                    "Program \"TEST\" (1) error 110 at addr 00000: Invalid operand var address (%u:%05u)\n",
                    c.record.arg1, c.record.arg2);
      EXPECT_EQ(log.texts().back(), text) << c.what;
    }
  }
}

TEST(Operands, OtherKindsAreReadAndWrittenInTheRecord) {
  Fixture f;
  // add_int with an array-kind SRC1 adds the low 16 bits of its word 1;
  // a constant-kind DST receives the result inside the record.
  f.b.command(op("add_int"), Operand::array(0x10005, 0), c(Value::int16(2)), c(Value::int16(0)));
  f.b.command(op("mov"), Operand::words(9, 0x11223344, 0x55667788), Operand::none(), g(2));
  f.b.end();
  TestMachine m(f.b);
  EXPECT_EQ(run(m).code, 0);
  EXPECT_EQ(m.image().command(0).dst.v.i16, 7);
  EXPECT_EQ(m.globalCell(2).v.w[0], 0x11223344u);
  EXPECT_EQ(m.globalCell(2).v.w[1], 0x55667788u);
}

TEST(Mov, CopiesAllEightBytesIncludingStaleOnes) {
  Fixture f;
  uint32_t s0 = 0;
  uint32_t i = f.b.var(s0, Var(Value::raw(VM_TYPE_INT, 0xCAFE0001u, 0xBEEF)));
  f.b.command(op("add_int"), g(i), c(Value::int16(1)), g(i));
  f.b.command(op("mov"), g(i), Operand::none(), g(2));
  f.b.end();
  TestMachine m(f.b);
  run(m);
  EXPECT_EQ(m.globalCell(2).v.w[0], 0xCAFE0002u);
  EXPECT_EQ(m.globalCell(2).v.w[1], 0xBEEFu);
  EXPECT_EQ(m.globalCell(2).type, VM_TYPE_DINT) << "the head stays";
}

// ---- Param stack ----

TEST(ParamStack, PushConstAndPushEmpty) {
  Fixture f(6, 4);
  f.b.command(op("push_const"), Operand::words(VM_KIND_VAR, 7, 8));  // kind not consulted
  f.b.command(op("push_empty"), Operand::words(1, 0xAB, 0xCD), num(2));
  f.b.command(op("push_empty"), num(0), num(0));
  f.b.command(op("push_empty"), num(0), num(0xFFFFFFFFu));  // 3 + n wraps to 2: no error, nothing pushed
  f.b.command(op("push_const"), c(Value::dint(9)));
  f.b.command(op("push_const"), c(Value::dint(9)));  // the stack is full
  f.b.end();
  TestMachine m(f.b);
  test::LogCapture log(4);
  EXPECT_EQ(run(m), (Record{120, 5, 4, 1}));
  EXPECT_TRUE(log.has("Program \"TEST\" (1) error 120 at addr 00005: Param stack overflow (5)\n")) << log.all();
  EXPECT_EQ(m->paramDepth, 4u);
  EXPECT_EQ(entry(m, 0).type, VM_ENTRY_VALUE);
  EXPECT_EQ(entry(m, 0).v.w[0], 7u);
  EXPECT_EQ(entry(m, 0).v.w[1], 8u);
  for (uint32_t i : {1u, 2u}) {
    EXPECT_EQ(entry(m, i).type, VM_ENTRY_EMPTY);
    EXPECT_EQ(entry(m, i).v.w[0], 0xABu);
    EXPECT_EQ(entry(m, i).v.w[1], 0xCDu);
  }
  EXPECT_EQ(entry(m, 3).v.i32, 9);
}

TEST(ParamStack, PushEmptyRefusesMoreThanFits) {
  Fixture f(6, 4);
  f.b.command(op("push_empty"), num(0), num(5));
  TestMachine m(f.b);
  EXPECT_EQ(run(m), (Record{120, 0, 0, 5}));
  EXPECT_EQ(m->paramDepth, 0u);
}

TEST(ParamStack, PushThenPopCopiesVarsInOrder) {
  Fixture f;
  f.b.command(op("push_vars"), g(2), num(2));  // 10, 11
  f.b.command(op("pop_vars"), g(7), num(2));   // into vars 6, 7
  f.b.end();
  TestMachine m(f.b);
  EXPECT_EQ(run(m).code, 0);
  EXPECT_EQ(dint(m, 0, 6), 10);
  EXPECT_EQ(dint(m, 0, 7), 11);
  EXPECT_EQ(m->paramDepth, 0u);
}

TEST(ParamStack, PopFillsFromTheLastVarDown) {
  struct Case {
    uint32_t v, n;
    Record record;
    std::vector<int32_t> expected;  // vars 0..5 after the pop
  } cases[] = {
      {5, 3, {0, 0, 0, 0}, {0, 0, 10, 1, 2, 3}},
      {2, 3, {0, 0, 0, 0}, {1, 2, 3, 11, 12, 13}},
      {1, 3, {110, 3, 0, 1}, {0, 0, 10, 11, 12, 13}},
      {5, 4, {121, 3, 3, 4}, {0, 0, 10, 11, 12, 13}},
  };
  for (const Case &t : cases) {
    Fixture f(4);  // vars 2..5
    for (int i = 1; i <= 3; ++i) f.b.command(op("push_const"), c(Value::dint(i)));
    f.b.command(op("pop_vars"), g(t.v), num(t.n));
    f.b.end();
    TestMachine m(f.b);
    EXPECT_EQ(run(m), t.record) << t.v << "," << t.n;
    for (uint32_t var = 0; var < 6; ++var) EXPECT_EQ(dint(m, 0, var), t.expected[var]) << t.v << "," << t.n;
  }
}

TEST(ParamStack, PushVarsChecksRoomThenRange) {
  struct Case {
    Operand first;
    uint32_t n;
    Record record;
  } cases[] = {
      {g(2), 9, {120, 0, 0, 9}},     // 8 entries only
      {g(6), 3, {110, 0, 0, 6}},     // vars 6, 7, 8: 8 is past the count
      {g(0), 0, {110, 0, 0, 0}},     // v + n - 1 wraps
      {g(3), 0, {0, 0, 0, 0}},       // nothing to push
      {l(0), 1, {110, 0, 1, 0}},     // no local segment
  };
  for (const Case &c : cases) {
    Fixture f;
    f.b.command(op("push_vars"), c.first, num(c.n));
    f.b.end();
    TestMachine m(f.b);
    EXPECT_EQ(run(m), c.record) << c.n;
    EXPECT_EQ(m->paramDepth, 0u);
  }
}

// Vars of each class: 1..3 pushed as values, 5 as an absolute array
// number, others counted but not written.
TEST(ParamStack, PushVarsByTypeClass) {
  ImageBuilder b;
  uint32_t s0 = b.segment(0, 1);  // base array number 1
  Var plain(Value::dint(42));
  plain.typeClass = 3;
  Var ref(Value::raw(VM_TYPE_DINT, 0, 1));  // (slot 0, relative 1) -> array 2
  ref.typeClass = VM_CLASS_ARRAY_REF;
  Var odd(Value::dint(7));
  odd.typeClass = 4;
  b.var(s0, plain);
  b.var(s0, ref);
  b.var(s0, odd);
  for (int i = 0; i < 3; ++i) b.array(Array{VM_TYPE_DINT, 1, 2, 1, {}, 0});
  b.command(op("push_vars"), g(2), num(3));
  b.end();
  TestMachine m(b);
  // Pre-fill entry 2 to see that class 4 leaves it alone.
  entry(m, 2).type = 0x77;
  entry(m, 2).v.w[0] = 0x1234;
  EXPECT_EQ(run(m).code, 0);
  EXPECT_EQ(m->paramDepth, 3u);
  EXPECT_EQ(entry(m, 0).type, VM_ENTRY_VALUE);
  EXPECT_EQ(entry(m, 0).v.i32, 42);
  EXPECT_EQ(entry(m, 1).type, VM_ENTRY_ARRAY);
  EXPECT_EQ(entry(m, 1).v.u32, 2u);
  EXPECT_EQ(entry(m, 2).type, 0x77);
  EXPECT_EQ(entry(m, 2).v.w[0], 0x1234u);
}

// A segment with array references and four arrays: 0 and 1 of 4 DINT
// elements, 2 of 5, 3 of 4 with element size 1.
struct ArrayFixture {
  ImageBuilder b;
  uint32_t refTo0, refTo1, refTo2, refToNone, plain;
  ArrayFixture() {
    uint32_t s0 = b.segment();
    auto ref = [&](uint32_t relative) {
      Var v(Value::raw(VM_TYPE_DINT, 0, relative));
      v.typeClass = VM_CLASS_ARRAY_REF;
      return b.var(s0, v);
    };
    refTo0 = ref(0);
    refTo1 = ref(1);
    refTo2 = ref(2);
    refToNone = ref(9);
    plain = b.var(s0, Var(Value::raw(VM_TYPE_DINT, 0xAAAAAAAA, 0xBBBBBBBB)));
    auto values = [](int first, int n) {
      std::vector<Value> v;
      for (int i = 0; i < n; ++i) v.push_back(Value::dint(first + i));
      return v;
    };
    b.array(Array{VM_TYPE_DINT, 1, 4, 1, values(0, 4), 0});
    b.array(Array{VM_TYPE_INT, 1, 4, 1, values(100, 4), 0});
    b.array(Array{VM_TYPE_DINT, 1, 5, 1, values(200, 5), 0});
  }
};

TEST(ParamStack, PopOfAnArrayEntryCopiesTheArray) {
  ArrayFixture f;
  f.b.command(op("push_vars"), g(f.refTo1), num(1));
  f.b.command(op("pop_vars"), g(f.refTo0), num(1));
  f.b.end();
  TestMachine m(f.b);
  EXPECT_EQ(run(m).code, 0);
  for (uint32_t k = 0; k < 4; ++k) {
    EXPECT_EQ(m.arrayCell(0, k).v.i32, int32_t(100 + k));
    EXPECT_EQ(m.arrayCell(0, k).type, VM_TYPE_DINT) << "type bytes stay";
  }
}

TEST(ParamStack, ArrayCopyErrors) {
  struct Case {
    const char *what;
    uint32_t entryArray;  // absolute number pushed as a kind-4 entry
    bool toNone;          // pop into the var whose reference names no array
    Record record;
    const char *message;
  } cases[] = {
      {"size mismatch", 2, false, {117, 1, 0, 2}, "Arrays 0 and 2 size mismatch (48, 60)"},
      {"bad source", 7, false, {113, 1, 7, 0}, "Invalid stack param array absolute address (7)"},
      {"bad destination", 1, true, {112, 1, 0, 9}, "Invalid var 0:00005 array address (0:9)"},
  };
  for (const Case &t : cases) {
    ArrayFixture f;
    f.b.command(op("nop"));
    f.b.command(op("pop_vars"), g(t.toNone ? f.refToNone : f.refTo0), num(1));
    TestMachine m(f.b);
    entry(m, 0).type = VM_ENTRY_ARRAY;
    entry(m, 0).v.u32 = t.entryArray;
    m->paramDepth = 1;
    test::LogCapture log(4);
    EXPECT_EQ(run(m), t.record) << t.what;
    EXPECT_EQ(m->paramDepth, 1u) << t.what << ": the failing entry stays";
    EXPECT_EQ(log.texts().back(), std::string("Program \"TEST\" (1) error ") + std::to_string(t.record.code) +
                                      " at addr 00001: " + t.message + "\n");
  }
}

TEST(ParamStack, PopByEntryKind) {
  ArrayFixture f;
  f.b.command(op("pop_vars"), g(f.plain), num(3));
  f.b.end();
  TestMachine m(f.b);
  // Entries, deepest first: unknown kind 9, empty slot, array entry.
  entry(m, 0).type = 9;
  entry(m, 1).type = VM_ENTRY_EMPTY;
  entry(m, 2).type = VM_ENTRY_ARRAY;
  entry(m, 2).v.w[0] = 0x01020304;
  entry(m, 2).v.w[1] = 0x05060708;
  m->paramDepth = 3;
  test::LogCapture log(4);
  EXPECT_EQ(run(m), (Record{125, 0, 9, 0}));
  EXPECT_TRUE(log.has("Program \"TEST\" (1) error 125 at addr 00000: Unknown stack param type (9)\n"));
  EXPECT_EQ(m.globalCell(f.plain).v.w[0], 0x01020304u) << "an array entry into a plain var: bytes 0..3";
  EXPECT_EQ(m.globalCell(f.plain).v.w[1], 0xBBBBBBBBu);
  EXPECT_EQ(m.globalCell(f.refToNone).v.w[1], 9u) << "an empty slot leaves the var";
  EXPECT_EQ(m->paramDepth, 1u);
}

TEST(ParamStack, PushOfAReferenceToNoArrayStops) {
  ArrayFixture f;
  f.b.command(op("push_vars"), g(f.refTo2), num(3));  // refTo2, refToNone, plain
  TestMachine m(f.b);
  test::LogCapture log(4);
  EXPECT_EQ(run(m), (Record{112, 0, 0, 9}));
  EXPECT_TRUE(log.has("Program \"TEST\" (1) error 112 at addr 00000: Invalid var 0:00005 array address (0:9)\n"))
      << log.all();
  EXPECT_EQ(m->paramDepth, 1u) << "the entry pushed before the failure stays";
}

// ---- Jumps and branches ----

TEST(Jumps, TakeTheirTargetWhenTheConditionHolds) {
  struct Case {
    const char *mnemonic;
    uint32_t flags;
    bool taken;
  } cases[] = {{"jmp", 0, true},     {"jmp_eq", 1, true},  {"jmp_eq", 2, false}, {"jmp_ne", 0, true},
               {"jmp_ne", 1, false}, {"jmp_lt", 2, true},  {"jmp_lt", 3, false}, {"jmp_le", 1, true},
               {"jmp_le", 0, false}, {"jmp_gt", 0, true},  {"jmp_gt", 2, false}, {"jmp_ge", 1, true},
               {"jmp_ge", 2, false}};
  for (const Case &c : cases) {
    Fixture f;
    f.b.command(uint16_t(codeOf(c.mnemonic)), num(2));
    f.b.end();
    f.b.end();
    TestMachine m(f.b);
    m->compareFlags = c.flags;
    EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 1);
    EXPECT_EQ(m->pc, c.taken ? 2u : 1u) << c.mnemonic << " flags " << c.flags;
  }
}

TEST(Jumps, IfEqAndIfNeTestTheBoolByte) {
  struct Case {
    const char *mnemonic;
    uint8_t byte;
    bool taken;
  } cases[] = {{"if_eq", 0, false}, {"if_eq", 2, true}, {"if_ne", 0, true}, {"if_ne", 1, false}};
  for (const Case &t : cases) {
    Fixture f;
    f.b.command(uint16_t(codeOf(t.mnemonic)), c(Value::raw(VM_TYPE_BOOL, t.byte, 0)), num(2));
    f.b.end();
    f.b.end();
    TestMachine m(f.b);
    VmRunProgram(m.get(), 0, 0);
    EXPECT_EQ(m->pc, t.taken ? 2u : 1u) << t.mnemonic << " " << int(t.byte);
  }
}

// ---- Frames: set_ds, call, ret ----

constexpr uint32_t kCode = VM_CALL_CODE;

TEST(Frames, SetDsCallAndRetReturnAfterTheCallAndRestoreTheSegment) {
  Fixture f;
  f.b.command(op("set_ds"), num(0), num(1));                        // 0: local = segment 1
  f.b.command(op("call"), Operand::words(1, 4, kCode));             // 1
  f.b.command(op("mov"), l(2), Operand::none(), g(3));              // 2: no local segment any more
  f.b.end();                                                        // 3
  f.b.command(op("mov"), l(2), Operand::none(), g(2));              // 4: callee reads its local var
  f.b.command(op("set_ds"), num(1), num(0));                        // 5: nested: segment 1 again
  f.b.command(op("call"), Operand::words(1, 8, VM_CALL_CODE_ALT));  // 6
  f.b.command(op("ret"));                                           // 7
  f.b.command(op("ret"));                                           // 8
  TestMachine m(f.b);
  EXPECT_EQ(run(m), (Record{110, 2, 1, 2}));
  EXPECT_EQ(dint(m, 0, 2), 100);
  EXPECT_EQ(m->callDepth, 0u);
  EXPECT_EQ(m->localSegmentNo, 0u);
  EXPECT_EQ(m->localSegment, 0u);
  EXPECT_EQ(m->commandsRun, 7) << "0, 1, 4, 5, 6, 8, 7 ran; 2 failed";
}

TEST(Frames, Errors) {
  struct Case {
    const char *what;
    std::vector<Command> code;
    Record record;
    const char *message;
  } cases[] = {
      {"set_ds beyond the segments", {make(op("set_ds"), num(0), num(2))}, {118, 0, 2, 0}, "Set DS is out of range (2)"},
      {"set_ds of slot 2", {make(op("set_ds"), num(2), num(0))}, {118, 0, 2, 0}, "Set DS is not global or local (2)"},
      {"set_ds of an empty slot 1", {make(op("set_ds"), num(1), num(0))}, {118, 0, 1, 0}, "Set DS is NULL (1)"},
      {"call stack full",
       {make(op("set_ds"), num(0), num(1)), make(op("set_ds"), num(0), num(1)), make(op("set_ds"), num(0), num(1))},
       {119, 2, 2, 1},
       "Call stack overflow (3)"},
      {"call outside the code", {make(op("set_ds"), num(0), num(1)), make(op("call"), Operand::words(1, 9, kCode))},
       {109, 1, 9, 0}, "Call address is outside of code (9)"},
      {"call without a frame", {make(op("call"), Operand::words(1, 0, kCode))}, {119, 0, 0, 1}, "Call stack overflow (1)"},
      {"ret to a frame set_ds only opened", {make(op("set_ds"), num(0), num(1)), make(op("ret"))}, {109, 1, 0xABCD, 0},
       "Ret address is outside of code (43981)"},
  };
  for (const Case &c : cases) {
    Fixture f(6, 8, 2);
    for (const Command &cmd : c.code) f.b.command(cmd);
    TestMachine m(f.b);
    auto *stack = reinterpret_cast<VmCallEntry *>(m.image().data() + m.image().header().callStackOffset);
    stack[0].returnAddress = 0xABCD;
    test::LogCapture log(4);
    EXPECT_EQ(run(m), c.record) << c.what;
    EXPECT_EQ(log.texts().back(), "Program \"TEST\" (1) error " + std::to_string(c.record.code) + " at addr 0000" +
                                      std::to_string(c.record.address) + ": " + c.message + "\n")
        << c.what;
    EXPECT_EQ(m->pc, c.record.address) << c.what;
  }
}

TEST(Frames, RetRefusesASavedSegmentBeyondTheCount) {
  Fixture f;
  f.b.command(op("set_ds"), num(0), num(1));
  f.b.command(op("call"), Operand::words(1, 3, kCode));
  f.b.end();
  f.b.command(op("ret"));
  TestMachine m(f.b);
  VmRunProgram(m.get(), VM_RUN_SINGLE_STEP, 0);
  auto *stack = reinterpret_cast<VmCallEntry *>(m.image().data() + m.image().header().callStackOffset);
  stack[0].savedSegmentNo = 2;
  EXPECT_EQ(run(m), (Record{118, 3, 2, 0}));
  EXPECT_EQ(m->callDepth, 1u) << "nothing popped";
  EXPECT_EQ(m->localSegmentNo, 1u);
}

// ---- Library call classes ----

Operand callOf(uint32_t function, uint32_t descriptor) { return Operand::words(1, function, descriptor); }
Command libraryCall(uint32_t function, uint32_t descriptor, uint8_t nin, uint8_t nout, uint8_t first = 0) {
  return make(op("call"), callOf(function, descriptor), Operand::words(1, uint32_t(first) | nin << 8 | nout << 16));
}

TEST(LibraryCalls, StopWithError128ForAnUnknownFunction) {
  struct Case {
    uint32_t descriptor;
    const char *name;
  } cases[] = {{0x101, "Standard"}, {0x801, "Velmora"}, {0x1001, "External"}};
  for (const Case &t : cases) {
    Fixture f;
    f.b.command(op("push_const"), c(Value::dint(1)));
    f.b.command(libraryCall(6002, t.descriptor, 1, 2));
    TestMachine m(f.b);
    entry(m, 1).type = 0x55;
    VmSetExternalProc(nullptr);
    test::LogCapture log(4);
    EXPECT_EQ(run(m), (Record{128, 1, 6002, 1})) << t.name;
    EXPECT_EQ(log.texts().back(),
              std::string("Program \"TEST\" (1) error 128 at addr 00001: ") + t.name + " function 6002 returns error 1\n");
    EXPECT_EQ(m->paramDepth, 1u);
    EXPECT_EQ(entry(m, 1).type, 0) << "the output cells were cleared";
  }
}

TEST(LibraryCalls, ParameterChecksComeFirst) {
  struct Case {
    const char *what;
    uint32_t pushed;
    Command call;
    Record record;
  } cases[] = {
      {"NIN 3 on 2 entries", 2, libraryCall(1040, 0x101, 3, 1), {121, 2, 2, 3}},
      {"NOUT past the top", 8, libraryCall(1040, 0x101, 0, 1), {120, 8, 8, 1}},
      {"type 2 without a local segment", 0, libraryCall(1040, 0x102, 1, 1), {128, 0, 1040, 2}},
  };
  for (const Case &t : cases) {
    Fixture f;
    for (uint32_t i = 0; i < t.pushed; ++i) f.b.command(op("push_const"), c(Value::dint(1)));
    f.b.command(t.call);
    TestMachine m(f.b);
    EXPECT_EQ(run(m), t.record) << t.what;
    EXPECT_EQ(m->paramDepth, t.pushed) << t.what;
  }
}

TEST(LibraryCalls, AnUnknownClassRepeatsUntilTheCommandLimit) {
  Fixture f;
  f.b.commandLimit(10);
  f.b.command(libraryCall(5, 0x301, 0, 0));
  TestMachine m(f.b);
  EXPECT_EQ(VmRunProgram(m.get(), 0, 0), 11);
  EXPECT_EQ(test::recordOf(m.get()), (Record{106, 0, 11, 10}));
  EXPECT_EQ(m->pc, 0u);
}

}  // namespace
