// SPDX-License-Identifier: MIT
// The host library's point functions over live, deleted and out-of-range
// points, in the shared tables and in a real store file, with and without a
// store: outputs, error records and the exact log lines at levels 14 and 15.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "hostlib/host_call.h"
#include "hostrt/store.h"

using namespace sicvm;
using namespace sicvm::build;
using namespace sicvm::test;

namespace {

constexpr uint32_t kAt = 7;  // the calling command

struct Case {
  int32_t function;
  std::vector<Value> inputs;
  std::vector<Value> outputs;
  Record record;        // the error recorded (code 0: none)
  std::string error;    // its message, logged at level 10
  std::string trace;    // the level 15 line after "Program \"TEST\" (1): "
};

class PointFunctions : public ::testing::Test {
 protected:
  // Point 1 LREAL, 2 DINT, 3 deleted (no row), 4 BOOL refusing value writes; 5 points.
  TestPoints points{"1,1001,LREAL,0,1.5,0x10\n2,1002,DINT,0,-7,0\n4,1004,BOOL,0,1,0x80000000\n"};
  TestMachine m{minimalProgram()};
  std::string path = ::testing::TempDir() + "hostlib_points_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + std::to_string(getpid()) +
                     ".db";
  void SetUp() override {
    ASSERT_TRUE(points.ok() && m.ok());
    points.attach(m.get());
    m->pc = kAt;
    std::remove(path.c_str());
  }
  void TearDown() override { std::remove(path.c_str()); }

  // Runs each case at log levels 14 and 15 and checks everything it names.
  void check(const std::vector<Case> &cases) {
    for (const Case &k : cases) {
      for (int level : {14, 15}) {
        SCOPED_TRACE(::testing::Message() << "case " << &k - cases.data() << " (" << k.function << ") at level "
                                          << level);
        std::vector<uint8_t> types;
        for (const Value &v : k.outputs) types.push_back(v.type);
        VmClearLastError(m.get());
        LogCapture log(level);
        const std::vector<VmCell> out = callHost(m.get(), k.function, k.inputs, types);
        for (size_t i = 0; i < out.size(); ++i) EXPECT_TRUE(holds(out[i], k.outputs[i])) << "output " << i;
        EXPECT_EQ(recordOf(m), k.record);
        std::vector<std::string> lines;
        if (!k.error.empty()) lines.push_back(errorLine(k.record.code, kAt, k.error));
        if (level >= 15) lines.push_back("Program \"TEST\" (1): " + k.trace);
        std::vector<std::string> logged;  // the program's lines (the store logs its own failures)
        for (const std::string &text : log.texts())
          if (text.starts_with("Program ")) logged.push_back(text);
        EXPECT_EQ(logged, lines);
      }
    }
  }
};

const Value kTrue = Value::boolean(true), kFalse = Value::boolean(false);
Value d(int32_t i) { return Value::dint(i); }
Value lr(double x) { return Value::lreal(x); }
Record rec(int32_t code, int32_t arg1, int32_t arg2) { return {code, kAt, uint32_t(arg1), uint32_t(arg2)}; }

TEST_F(PointFunctions, SharedMemory) {
  check({
      {6031, {d(1), d(44)}, {lr(1.5)}, {}, "", "Read point 1 field 44 value 1.5 from SHM - SUCCESS"},
      {6031, {d(1), d(43)}, {lr(16)}, {}, "", "Read point 1 field 43 value 16 from SHM - SUCCESS"},
      {6031, {d(-1), d(44)}, {lr(0)}, rec(4, -1, 0), "Invalid point no (-1)",
       "Read point -1 field 44 value 0 from SHM - ERROR"},
      {6031, {d(5), d(44)}, {lr(0)}, rec(4, 5, 0), "Invalid point no (5)",
       "Read point 5 field 44 value 0 from SHM - ERROR"},
      {6031, {d(1), d(99)}, {lr(0)}, rec(5, 1, 99), "Invalid point field (99)",
       "Read point 1 field 99 value 0 from SHM - ERROR"},
      {6031, {d(3), d(43)}, {lr(0)}, rec(6, 3, 43), "Access to a deleted point (3)",
       "Read point 3 field 43 value 0 from SHM - SUCCESS"},
      {6033, {d(1)}, {lr(1.5)}, {}, "", "Read point 1 value 1.5 from SHM - SUCCESS"},
      {6033, {d(0)}, {lr(0)}, {}, "", "Read point 0 value 0 from SHM - SUCCESS"},
      {6033, {d(-1)}, {lr(0)}, rec(4, -1, 0), "Invalid point no (-1)", "Read point -1 value 0 from SHM - ERROR"},
      {6033, {d(3)}, {lr(0)}, rec(6, 3, 44), "Access to a deleted point (3)",
       "Read point 3 value 0 from SHM - SUCCESS"},
      {6034, {d(1)}, {d(16)}, {}, "", "Read point 1 status 0x00000010 from SHM - SUCCESS"},
      {6034, {d(4)}, {d(INT32_MIN)}, {}, "", "Read point 4 status 0x80000000 from SHM - SUCCESS"},
      {6034, {d(5)}, {d(0)}, rec(4, 5, 0), "Invalid point no (5)", "Read point 5 status 0x00000000 from SHM - ERROR"},
      {6034, {d(3)}, {d(0)}, rec(6, 3, 43), "Access to a deleted point (3)",
       "Read point 3 status 0x00000000 from SHM - SUCCESS"},
      {6035, {d(2), lr(2.5)}, {kTrue}, {}, "", "Write point 2 value 2.5 to SHM - SUCCESS"},
      {6035, {d(4), lr(0)}, {kTrue}, {}, "", "Write point 4 value 0 to SHM - SUCCESS"},  // refused, not invalid
      {6035, {d(3), lr(8)}, {kTrue}, rec(6, 3, 44), "Access to a deleted point (3)",
       "Write point 3 value 8 to SHM - SUCCESS"},
      {6035, {d(-1), lr(1)}, {kFalse}, rec(4, -1, 0), "Invalid point no (-1)",
       "Write point -1 value 1 to SHM - ERROR"},
      {6036, {d(1), d(5)}, {kTrue}, {}, "", "Write point 1 status 0x00000005 to SHM - SUCCESS"},
      {6036, {d(3), d(-1)}, {kTrue}, rec(6, 3, 43), "Access to a deleted point (3)",
       "Write point 3 status 0xFFFFFFFF to SHM - SUCCESS"},
      {6036, {d(5), d(1)}, {kFalse}, rec(4, 5, 0), "Invalid point no (5)",
       "Write point 5 status 0x00000001 to SHM - ERROR"},
  });
  EXPECT_EQ(double(points.value(2).value), 3.0) << "a DINT point rounds 2.5";
  EXPECT_EQ(double(points.value(4).value), 1.0) << "bit 31 refused the write";
  EXPECT_EQ(points.value(1).status, 0x15u);
}

// Cases run in order on one store: each read sees what the writes before it left.
TEST_F(PointFunctions, Store) {
  m->storeHandle = DboperOpen(path.c_str());
  ASSERT_NE(m->storeHandle, 0u) << DboperLastMessage();
  check({
      {6040, {d(1)}, {kFalse, lr(0)}, rec(9, 1, 0), "NVRAM has no VALUE for point 1",
       "Read point 1 value 0 from NVRAM - ERROR"},
      {6042, {d(1), lr(2.5)}, {kTrue}, {}, "", "Write point 1 value 2.5 to NVRAM - SUCCESS"},
      {6040, {d(1)}, {kTrue, lr(2.5)}, {}, "", "Read point 1 value 2.5 from NVRAM - SUCCESS"},
      {6041, {d(1)}, {kFalse, d(0)}, rec(9, 1, 1), "NVRAM has no STATUS for point 1",
       "Read point 1 status 0x00000000 from NVRAM - ERROR"},
      {6043, {d(1), d(0x1234)}, {kTrue}, {}, "", "Write point 1 status 0x00001234 to NVRAM - SUCCESS"},
      {6041, {d(1)}, {kTrue, d(0x1234)}, {}, "", "Read point 1 status 0x00001234 from NVRAM - SUCCESS"},
      {6040, {d(1)}, {kTrue, lr(2.5)}, {}, "", "Read point 1 value 2.5 from NVRAM - SUCCESS"},
      {6044, {d(1)}, {kTrue}, {}, "", "Clear point 1 value in NVRAM - SUCCESS"},
      {6040, {d(1)}, {kFalse, lr(0)}, rec(9, 1, 0), "NVRAM has no VALUE for point 1",
       "Read point 1 value 0 from NVRAM - ERROR"},
      {6045, {d(1)}, {kTrue}, {}, "", "Clear point 1 status in NVRAM - SUCCESS"},
      {6041, {d(1)}, {kFalse, d(0)}, rec(9, 1, 1), "NVRAM has no STATUS for point 1",
       "Read point 1 status 0x00000000 from NVRAM - ERROR"},
      // Deleted and out-of-range points; point 0 is never stored.
      {6042, {d(3), lr(-1)}, {kTrue}, rec(6, 3, 44), "Access to a deleted point (3)",
       "Write point 3 value -1 to NVRAM - SUCCESS"},
      {6043, {d(3), d(2)}, {kTrue}, rec(6, 3, 43), "Access to a deleted point (3)",
       "Write point 3 status 0x00000002 to NVRAM - SUCCESS"},
      {6041, {d(3)}, {kTrue, d(2)}, rec(6, 3, 43), "Access to a deleted point (3)",
       "Read point 3 status 0x00000002 from NVRAM - SUCCESS"},
      {6045, {d(3)}, {kTrue}, rec(6, 3, 43), "Access to a deleted point (3)", "Clear point 3 status in NVRAM - SUCCESS"},
      {6042, {d(-1), lr(1)}, {kFalse}, rec(4, -1, 0), "Invalid point no (-1)",
       "Write point -1 value 1 to NVRAM - ERROR"},
      {6040, {d(5)}, {kFalse, lr(0)}, rec(4, 5, 0), "Invalid point no (5)", "Read point 5 value 0 from NVRAM - ERROR"},
      {6044, {d(5)}, {kFalse}, rec(4, 5, 0), "Invalid point no (5)", "Clear point 5 value in NVRAM - ERROR"},
      {6042, {d(0), lr(4)}, {kTrue}, {}, "", "Write point 0 value 4 to NVRAM - SUCCESS"},
      {6044, {d(0)}, {kTrue}, {}, "", "Clear point 0 value in NVRAM - SUCCESS"},
      {6040, {d(0)}, {kFalse, lr(0)}, rec(9, 0, 0), "NVRAM has no VALUE for point 0",
       "Read point 0 value 0 from NVRAM - ERROR"},
  });
  DboperRecord stored{};
  EXPECT_EQ(DboperRead(m->storeHandle, 3, &stored), DBOPER_HAS_VALUE) << "the status was cleared";
  EXPECT_EQ(double(stored.value), -1.0);
  // A store call that fails: the store's error number is recorded (9: the handle is closed).
  DboperClose(m->storeHandle);
  check({
      {6040, {d(1)}, {kFalse, lr(0)}, rec(7, 1, 9), "NVRAM error (9)", "Read point 1 value 0 from NVRAM - ERROR"},
      {6043, {d(2), d(1)}, {kFalse}, rec(7, 2, 9), "NVRAM error (9)",
       "Write point 2 status 0x00000001 to NVRAM - ERROR"},
      {6045, {d(1)}, {kFalse}, rec(7, 1, 9), "NVRAM error (9)", "Clear point 1 status in NVRAM - ERROR"},
  });
}

// Without a store, writes and clears are accepted and ignored; reads find nothing.
TEST_F(PointFunctions, NoStore) {
  m->storeHandle = 0;
  check({
      {6042, {d(1), lr(1)}, {kTrue}, {}, "", "Write point 1 value 1 to NVRAM - SUCCESS"},
      {6044, {d(1)}, {kTrue}, {}, "", "Clear point 1 value in NVRAM - SUCCESS"},
      {6041, {d(1)}, {kFalse, d(0)}, rec(9, 1, 1), "NVRAM has no STATUS for point 1",
       "Read point 1 status 0x00000000 from NVRAM - ERROR"},
  });
}

}  // namespace
