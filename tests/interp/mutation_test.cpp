// The interpreter over random and randomly broken programs, for a bounded
// number of commands. Run in the sanitizer build, it shows that no program,
// whatever its bytes, makes a run touch memory outside its image; in every
// build it checks that each run ends in a defined way.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "interp/command_table.h"
#include "interp/program.h"
#include "support/mutate.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

constexpr int32_t kLimit = 200;

// Every code a run records by itself: the interpreter's, the point, array
// and conversion commands' (4, 5, 8, 34) and the host library's (33).
const std::set<int32_t> kRunCodes = {0,   2,   3,   4,   5,   8,   33,  34,  106, 107,
                                     109, 110, 112, 113, 117, 118, 119, 120, 121, 125, 128};

std::vector<uint16_t> definedCodes() {
  std::vector<uint16_t> codes;
  for (const CommandInfo &info : kCommands)
    if (info.family != Family::NONE) codes.push_back(info.code);
  return codes;
}

// A valid image with vars of every type in a global and a local segment,
// two arrays and `length` random commands with plausible operands.
std::vector<uint8_t> randomProgram(std::mt19937 &rng, uint32_t length) {
  auto below = [&](uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); };
  static const std::vector<uint16_t> codes = definedCodes();
  ImageBuilder b;
  b.commandLimit(kLimit).callStack(4).paramStack(8).gap(below(4));
  const uint32_t s0 = b.segment(0, 0), s1 = b.segment(1, 1);
  const Value values[] = {Value::boolean(true), Value::int16(-3),    Value::dint(7),   Value::real(2.5f),
                          Value::lreal(-0.5),   Value::time(1000.0), Value::dt(45000), Value::dint(0)};
  for (const Value &v : values) {
    b.var(s0, Var(v));
    b.var(s1, Var(v));
  }
  Var ref(Value::raw(VM_TYPE_DINT, 0, 1));
  ref.typeClass = VM_CLASS_ARRAY_REF;
  b.var(s0, ref);
  b.array(Array{VM_TYPE_DINT, 1, 3, 1, {}, 0});
  b.array(Array{VM_TYPE_DINT, 1, 3, 1, {}, 0});
  const uint32_t vars = b.varCount(s0);
  auto operand = [&]() -> Operand {
    switch (below(4)) {
      case 0: return l(below(vars));
      case 1: return c(values[below(8)]);
      default: return g(below(vars));
    }
  };
  for (uint32_t i = 0; i < length; ++i) {
    const uint16_t code = codes[below(uint32_t(codes.size()))];
    Command cmd{code, operand(), operand(), operand()};
    if (code >= op("jmp") && code <= op("if_ne")) cmd.src1 = num(below(length + 1));
    if (code == op("if_eq") || code == op("if_ne")) cmd.src2 = num(below(length + 1));
    if (code == op("set_ds")) cmd.src1 = num(below(2)), cmd.src2 = num(below(2));
    if (code == op("call")) cmd.src1 = Operand::words(1, below(length + 1), below(3) ? VM_CALL_CODE : 0x801);
    if (code >= op("push_vars") && code <= op("push_empty")) cmd.src2 = num(below(4));
    b.command(cmd);
  }
  b.command(op("ret"));
  return b.build();
}

// Runs a prepared machine the way a host does, a few calls long, and checks
// that each call ends in a defined state.
void runChecked(VmMachine *machine, std::mt19937 &rng, bool knownCodes) {
  machine->commandLimit = kLimit;
  for (int call = 0; call < 3; ++call) {
    const uint32_t flags = rng() % 4 == 0 ? VM_RUN_SINGLE_STEP : 0;
    const int32_t result = VmRunProgram(machine, flags, 0);
    ASSERT_GE(result, -1);
    ASSERT_LE(result, kLimit + 1);
    if (result < 0) return;
    ASSERT_EQ(result, machine->commandsRun);
    uint32_t status = 0;
    const int32_t code = VmGetLastError(machine, nullptr, nullptr, nullptr);
    if (knownCodes) {
      // Programs whose writes stay in their vars, stacks and code leave
      // the State Block to the run.
      const VmStateBlock *state = reinterpret_cast<const VmStateBlock *>(
          reinterpret_cast<const uint8_t *>(machine) - machine->image + machine->stateBlock);
      status = state->runStatus;
      EXPECT_LE(status, 3u);
      EXPECT_TRUE(kRunCodes.count(code)) << "code " << code;
      if (flags == 0) {
        EXPECT_NE(status, uint32_t(VM_RUNNING)) << "a full run ends in a final state";
      }
    }
    if (call == 1) VmClearLastError(machine);  // resume at the failing command
    if (call == 0) VmResetMachine(machine);
  }
}

TEST(InterpreterMutation, RandomProgramsRunToADefinedEnd) {
  VmSetLogLevel(0);
  std::mt19937 rng(424242);
  for (int round = 0; round < 1500; ++round) {
    std::vector<uint8_t> image = randomProgram(rng, 4 + rng() % 40);
    const auto *header = reinterpret_cast<const VmHeader *>(image.data());
    // Break some command words, operand words and counts, staying in the code.
    const int edits = int(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      const uint32_t at = header->codeOffset + 4 * (rng() % (header->commandCount * 11));
      uint32_t value = rng() % 3 == 0 ? uint32_t(rng()) : rng() % 300;
      std::memcpy(image.data() + at, &value, 4);
    }
    test::withExactCopy(image, [&](std::vector<uint8_t> &copy) {
      VmMachine *m = nullptr;
      ASSERT_EQ(VmInitMachine(copy.data(), uint32_t(copy.size()), &m), 0);
      runChecked(m, rng, true);
    });
  }
}

TEST(InterpreterMutation, BrokenImagesNeverLeaveTheImage) {
  VmSetLogLevel(0);
  std::mt19937 rng(777);
  test::Mutator mutator(99);
  int ran = 0;
  for (int round = 0; round < 6000; ++round) {
    std::vector<uint8_t> image = randomProgram(rng, 4 + rng() % 30);
    mutator.mutate(image);
    if (image.size() < VM_HEADER_SIZE) continue;
    test::withExactCopy(image, [&](std::vector<uint8_t> &copy) {
      VmMachine *m = nullptr;
      if (VmInitMachine(copy.data(), uint32_t(copy.size()), &m) != 0) return;
      ++ran;
      runChecked(m, rng, false);
    });
  }
  EXPECT_GT(ran, 1500) << "too few mutated images were accepted to mean anything";
}

}  // namespace
