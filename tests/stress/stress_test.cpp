// SPDX-License-Identifier: MIT
// Several machines on several threads at once, sharing one point database:
// every machine reads a common point and writes points of its own, calls the
// standard library and keeps a running timer, for many cycles. Each must end
// with exactly what it would compute alone. Under the tsan preset,
// ThreadSanitizer also watches every access the library makes.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "interp/command_table.h"
#include "support/machine.h"
#include "support/points.h"
#include "support/value.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

constexpr int kMachines = 8;
constexpr int kCycles = 400;
constexpr int32_t kShared = 5;  // the value of the point that every machine reads

// Vars: 2 cycle counter, 3 the shared point (loaded), 4 counter + shared
// (saved to the machine's own point), 5 MAX(counter, shared), 6 a running timer.
ImageBuilder program(int machine) {
  ImageBuilder b;
  b.name("STRESS").number(machine);
  const uint32_t s = b.segment();
  b.var(s, Var(Value::dint(0)));
  Var shared(Value::dint(0));
  shared.pointId = 1000;
  shared.load = true;
  b.var(s, shared);
  Var own(Value::dint(0));
  own.pointId = 2000 + machine;
  own.save = true;
  b.var(s, own);
  b.var(s, Var(Value::dint(0)));
  Var timer(Value::time(0));
  timer.cellFlags = 1;
  b.var(s, timer);
  b.command(op("load_points"), num(0));
  b.command(op("add_dint"), g(2), c(Value::dint(1)), g(2));
  b.command(op("add_dint"), g(2), g(3), g(4));
  b.command(op("push_vars"), g(2), num(2));
  b.command(op("call"), Operand::words(1, 1052, VM_CALL_STANDARD | 1), Operand::words(1, 2 << 8 | 1 << 16));
  b.command(op("pop_vars"), g(5), num(1));
  b.command(op("save_points"), num(0));
  b.command(op("ret"));
  return b;
}

TEST(Stress, MachinesOnThreadsShareOnePointTable) {
  std::string rows = "1,1000,2,0," + std::to_string(kShared) + ",0\n";
  for (int i = 0; i < kMachines; ++i)
    rows += std::to_string(2 + i) + "," + std::to_string(2000 + i) + ",2,0,0,0\n";
  test::TestPoints points(rows);
  ASSERT_TRUE(points.ok());

  std::vector<test::TestMachine> machines;
  machines.reserve(kMachines);
  for (int i = 0; i < kMachines; ++i) {
    machines.emplace_back(program(i));
    test::TestMachine &m = machines.back();
    ASSERT_TRUE(m.ok());
    m->commandLimit = 1000;
    points.attach(m.get());
    ASSERT_EQ(VmVerifyCode(m.get()), 0);
    ASSERT_EQ(VmInitTimers(m.get()), 0);
    ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  }

  std::vector<int> completed(kMachines, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kMachines; ++i)
    threads.emplace_back([&, i] {
      VmMachine *m = machines[i].get();
      for (int cycle = 0; cycle < kCycles; ++cycle) {
        VmResetMachine(m);
        if (VmRunProgram(m, 0, 0) == 8 && VmGetLastError(m, nullptr, nullptr, nullptr) == 0) ++completed[i];
        if (cycle % 50 == 0) VmUpdateVarLinks(m);
      }
    });
  for (std::thread &t : threads) t.join();

  for (int i = 0; i < kMachines; ++i) {
    SCOPED_TRACE(i);
    test::TestMachine &m = machines[i];
    EXPECT_EQ(completed[i], kCycles);
    // Copies: the packed fields may be misaligned for a reference.
    const int32_t counter = m.globalCell(2).v.i32, shared = m.globalCell(3).v.i32,
                  sum = m.globalCell(4).v.i32, most = m.globalCell(5).v.i32;
    const double timer = m.globalCell(6).v.f64, saved = points.value(2 + i).value;
    EXPECT_EQ(counter, kCycles);
    EXPECT_EQ(shared, kShared);
    EXPECT_EQ(sum, kCycles + kShared);
    EXPECT_EQ(most, kCycles);
    EXPECT_GE(timer, 0.0);
    EXPECT_EQ(saved, double(kCycles + kShared));
  }
}

}  // namespace
