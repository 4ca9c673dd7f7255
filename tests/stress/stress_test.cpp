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

// Machines on several threads writing and reading the same two points
// through the host library (SetPointValue/SetPointStatus, then
// GetPointValue/GetPointStatus), with no lock: every read must be a value and
// a status that some machine wrote whole. Point 1's value lies at a 4-byte
// boundary of the 28-byte records, point 2's at an 8-byte one.
ImageBuilder sharer() {
  ImageBuilder b;
  b.name("SHARER");
  const uint32_t s = b.segment();
  // 2 point, 3 status to write, 4 point, 5 value to write, 6 done, 7 value read, 8 status read
  b.var(s, Var(Value::dint(0)));
  b.var(s, Var(Value::dint(0)));
  b.var(s, Var(Value::dint(0)));
  b.var(s, Var(Value::lreal(0)));
  b.var(s, Var(Value::boolean(false)));
  b.var(s, Var(Value::lreal(0)));
  b.var(s, Var(Value::dint(0)));
  const auto host = [](int32_t function) { return Operand::words(1, function, VM_CALL_HOST | 1); };
  const auto counts = [](int32_t nin) { return Operand::words(1, uint32_t(nin) << 8 | 1u << 16); };
  b.command(op("push_vars"), g(2), num(2));
  b.command(op("call"), host(6036), counts(2));
  b.command(op("pop_vars"), g(6), num(1));
  b.command(op("push_vars"), g(4), num(2));
  b.command(op("call"), host(6035), counts(2));
  b.command(op("pop_vars"), g(6), num(1));
  b.command(op("push_vars"), g(2), num(1));
  b.command(op("call"), host(6033), counts(1));
  b.command(op("pop_vars"), g(7), num(1));
  b.command(op("push_vars"), g(2), num(1));
  b.command(op("call"), host(6034), counts(1));
  b.command(op("pop_vars"), g(8), num(1));
  b.command(op("ret"));
  return b;
}

// What machine `w` writes in cycle `c`: both halves of the double and the
// status bits name the writer and the cycle.
double writtenValue(int w, int c) { return double(w + 1) * 1e9 + double(c) + 0.25; }
uint32_t writtenStatus(int w, int c) { return uint32_t(c & 0xF) | uint32_t(w & 0xF) << 8 | uint32_t(c >> 4 & 0x3F) << 16; }

TEST(Stress, MachinesOnThreadsWriteAndReadTheSamePoints) {
  test::TestPoints points("1,1000,3,0,0,0\n2,1001,3,0,0,0\n");
  ASSERT_TRUE(points.ok());
  std::vector<test::TestMachine> machines;
  machines.reserve(kMachines);
  for (int i = 0; i < kMachines; ++i) {
    machines.emplace_back(sharer());
    test::TestMachine &m = machines.back();
    ASSERT_TRUE(m.ok());
    m->commandLimit = 1000;
    points.attach(m.get());
    ASSERT_EQ(VmVerifyCode(m.get()), 0);
    m.globalCell(2).v.i32 = m.globalCell(4).v.i32 = 1 + i % 2;
  }
  std::vector<int> completed(kMachines, 0), torn(kMachines, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < kMachines; ++i)
    threads.emplace_back([&, i] {
      test::TestMachine &m = machines[i];
      for (int cycle = 0; cycle < kCycles; ++cycle) {
        m.globalCell(3).v.i32 = int32_t(writtenStatus(i, cycle));
        m.globalCell(5).v.f64 = writtenValue(i, cycle);
        VmResetMachine(m.get());
        if (VmRunProgram(m.get(), 0, 0) == 13 && VmGetLastError(m.get(), nullptr, nullptr, nullptr) == 0 &&
            m.globalCell(6).v.b == 1)
          ++completed[i];
        // Only values and statuses of machines on the same point, whole.
        const double read = m.globalCell(7).v.f64;
        const uint32_t status = uint32_t(m.globalCell(8).v.i32);
        const int writer = int(read / 1e9) - 1, readCycle = int(read - double(writer + 1) * 1e9);
        if (writer < 0 || writer >= kMachines || writer % 2 != i % 2 || readCycle < 0 || readCycle >= kCycles ||
            read != writtenValue(writer, readCycle))
          ++torn[i];
        const int statusWriter = int(status >> 8 & 0xF);
        if (statusWriter % 2 != i % 2 || status != writtenStatus(statusWriter, int((status & 0xF) | (status >> 16 & 0x3F) << 4)))
          ++torn[i];
      }
    });
  for (std::thread &t : threads) t.join();
  for (int i = 0; i < kMachines; ++i) {
    EXPECT_EQ(completed[i], kCycles) << i;
    EXPECT_EQ(torn[i], 0) << i;
  }
  // The last writes stand: each point holds a value some machine of its pair wrote.
  for (int32_t point : {1, 2}) {
    const double value = points.value(point).value;
    EXPECT_EQ(int(value / 1e9 - 1) % 2, point - 1) << point;
  }
}

}  // namespace
