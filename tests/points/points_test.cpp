// SPDX-License-Identifier: MIT
// The point exports over a host point database: argument checks before the
// null point, value conversion by point type, the writable status bits and
// the bit-18 rule, field access; the point store exports over a real store file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "hostrt/store.h"
#include "hostrt/sys.h"
#include "points/point_access.h"
#include "sicvm/points.h"
#include "support/machine.h"
#include "support/points.h"

using namespace sicvm;

namespace {

class PointAccess : public ::testing::Test {
 protected:
  // 1 LREAL, 2 DINT, 3 INT, 4 BOOL, 5 REAL with bit 31 set; 6 deleted.
  test::TestPoints points{
      "1,1001,LREAL,0,1.5,0x10\n2,1002,DINT,0,-7,0\n3,1003,INT,3,4,0\n4,1004,BOOL,0,1,0\n"
      "5,1005,REAL,0,2,0x80000000\n7,1007,LREAL,0,0,0\n"};
  test::TestMachine m{test::minimalProgram()};
  void SetUp() override {
    ASSERT_TRUE(points.ok() && m.ok());
    points.attach(m.get());
  }
};

TEST_F(PointAccess, ArgumentChecksComeBeforeThePointZeroRule) {
  double d;
  uint32_t u;
  const struct {
    const char *name;
    std::function<int32_t(VmMachine *, int32_t)> call;
    bool needsConfig, needsValues;
  } functions[] = {
      {"GetValue", [&](VmMachine *x, int32_t i) { return VmGetPointValue(x, i, &d); }, false, true},
      {"GetStatus", [&](VmMachine *x, int32_t i) { return VmGetPointStatus(x, i, &u); }, false, true},
      {"SetValue", [](VmMachine *x, int32_t i) { return VmSetPointValue(x, i, 1.0); }, true, true},
      {"SetStatus", [](VmMachine *x, int32_t i) { return VmSetPointStatus(x, i, 1); }, true, true},
      {"GetField", [&](VmMachine *x, int32_t i) { return VmGetPointFieldValue(x, i, 44, &d); }, true, true},
      {"SetField", [](VmMachine *x, int32_t i) { return VmSetPointFieldValue(x, i, 44, 1.0); }, true, true},
      {"Identity", [](VmMachine *x, int32_t i) { return PointIdentity(x, i); }, true, false},
  };
  for (const auto &f : functions) {
    // Null machine, indexes outside the table, and each table the function needs.
    const struct {
      VmMachine *machine;
      int32_t index;
      uint32_t VmMachine::*dropped;
      bool refused;
    } calls[] = {{nullptr, 1, nullptr, true},           {m.get(), -1, nullptr, true},
                 {m.get(), points.count(), nullptr, true}, {m.get(), 0, nullptr, false},
                 {m.get(), 0, &VmMachine::pointConfig, f.needsConfig},
                 {m.get(), 0, &VmMachine::pointValues, f.needsValues}};
    for (const auto &c : calls) {
      points.attach(m.get());
      if (c.dropped) m.get()->*c.dropped = 0;
      _winseterrno(0);
      const int32_t result = f.call(c.machine, c.index);
      EXPECT_EQ(result, c.refused ? -1 : 0) << f.name << " index " << c.index;
      EXPECT_EQ(_wingeterrno(), c.refused ? 22 : 0) << f.name << " index " << c.index;
    }
  }
  EXPECT_EQ(VmGetPointValue(m.get(), 1, nullptr), -1);
  EXPECT_EQ(VmGetPointFieldValue(m.get(), 1, 44, nullptr), -1);
}

TEST_F(PointAccess, PointZeroReadsZeroAndIgnoresWrites) {
  points.value(0).value = 9.0;
  points.value(0).status = 0x11;
  double d = 5.0, f = 5.0;
  uint32_t u = 5;
  EXPECT_EQ(VmGetPointValue(m.get(), 0, &d) + VmGetPointStatus(m.get(), 0, &u), 0);
  EXPECT_EQ(VmGetPointFieldValue(m.get(), 0, 44, &f) + VmSetPointValue(m.get(), 0, 3.0), 0);
  EXPECT_EQ(VmSetPointStatus(m.get(), 0, 0xFF), 0);
  EXPECT_TRUE(d == 0.0 && f == 0.0 && u == 0u);
  EXPECT_TRUE(points.value(0).value == 9.0 && points.value(0).status == 0x11u) << "writes are ignored";
  EXPECT_EQ(VmGetPointFieldValue(m.get(), 0, 99, &d), -1) << "the host's refusal is passed on";
}

TEST_F(PointAccess, ValueWritesConvertByPointType) {
  points.value(5).status = 0;
  const struct { int32_t index; double in, stored; } cases[] = {
      {1, 2.75, 2.75}, {2, -2.5, -3.0},  {2, 4294967297.0, 1.0}, {3, 40000.0, -25536.0},
      {4, 0.3, 1.0},   {4, 1e-13, 0.0}, {5, 0.1, double(0.1f)}};
  for (const auto &c : cases) {
    EXPECT_EQ(VmSetPointValue(m.get(), c.index, c.in), 1);
    EXPECT_EQ(double(points.value(c.index).value), c.stored) << "point " << c.index << " value " << c.in;
  }
  points.value(5).status = 0x80000000u;
  EXPECT_EQ(VmSetPointFieldValue(m.get(), 5, 44, 8.0), 0) << "bit 31 refuses value writes";
  EXPECT_EQ(double(points.value(5).value), double(0.1f));
}

TEST_F(PointAccess, StatusWritesKeepTheProtectedBits) {
  const struct { int32_t mode; uint32_t old, given, stored; } cases[] = {
      {0, 0, 0xFFFFFFFF, 0x003F0F0F},           // bit 18 rises; 0xF0F0 already clear
      {3, 0, 0xFFFFFFFF, 0x003F0F0F},           // wide mask, then bit 18 clears 0xF0F0
      {3, 0x00040000, 0xFFFFFFFF, 0x003FFFFF},  // bit 18 was set already
      {0, 0xFFC0F0F0, 0, 0xFFC0F0F0},           // protected bits keep their values
      {0, 0x0000F000, 0x00040000, 0x00040000},  // bit 18 rises: even protected 0xF0F0 bits clear
  };
  for (const auto &c : cases) {
    points.config(3).statusMode = c.mode;
    points.value(3).status = c.old;
    const uint32_t notices = PointStatusChanges(&points.value(3));
    EXPECT_EQ(VmSetPointStatus(m.get(), 3, c.given), 1);
    EXPECT_EQ(points.value(3).status, c.stored) << std::hex << c.old << " " << c.given;
    EXPECT_EQ(PointStatusChanges(&points.value(3)), notices + 1) << "the host is told";
  }
}

TEST_F(PointAccess, FieldsAndIdentity) {
  double d = 0;
  EXPECT_EQ(VmGetPointFieldValue(m.get(), 1, 43, &d), 1);
  EXPECT_EQ(d, 16.0);
  const struct { int32_t field; double value; int32_t result; uint32_t status; } writes[] = {
      {43, 5.9, 1, 5}, {43, 4294967295.0, 1, 0x003F0F0F}, {43, -1.0, 1, 0x003F0F0F},
      {12, 1.0, -1, 0x003F0F0F}, {45, 1.0, -1, 0x003F0F0F}};
  for (const auto &w : writes) {
    EXPECT_EQ(VmSetPointFieldValue(m.get(), 2, w.field, w.value), w.result) << w.field << " " << w.value;
    EXPECT_EQ(points.value(2).status, w.status) << w.field << " " << w.value;
  }
  EXPECT_EQ(PointIdentity(m.get(), 1), 1);
  EXPECT_EQ(PointIdentity(m.get(), 6), 0) << "deleted";
}

class PointStore : public ::testing::Test {
 protected:
  test::TestPoints points{"1,1001,LREAL,0,1,0\n2,1002,LREAL,0,2,0\n3,1003,LREAL,0,3,0\n"};
  test::TestMachine m{test::minimalProgram()};
  // One file per test and process: ctest runs tests side by side.
  std::string path = ::testing::TempDir() + "store_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                     std::to_string(getpid()) + ".db";
  void SetUp() override {
    ASSERT_TRUE(points.ok() && m.ok());
    points.attach(m.get());
    m->storeHandle = DboperOpen(path.c_str());
    ASSERT_NE(m->storeHandle, 0u) << DboperLastMessage();
  }
  void TearDown() override {
    DboperClose(m->storeHandle);
    std::remove(path.c_str());
  }
};

TEST_F(PointStore, WritesReadsAndClearsEachPartAndChecksItsArguments) {
  uint32_t status = 0;
  double value = 0;
  EXPECT_EQ(VmWriteDboperPoint(m.get(), 2, VM_STORE_STATUS, 0x55, 99.0), 1);
  EXPECT_EQ(VmWriteDboperPoint(m.get(), 2, VM_STORE_VALUE, 0, -4.25), 1);
  EXPECT_EQ(VmReadDboperPoint(m.get(), 2, &status, &value), 3);
  EXPECT_EQ(status, 0x55u) << "the value write kept the stored status";
  EXPECT_EQ(value, -4.25);
  EXPECT_EQ(VmReadDboperPoint(m.get(), 2, nullptr, nullptr), 3);
  EXPECT_EQ(ClearDboperPoint(m.get(), 2, VM_STORE_STATUS), 1);
  EXPECT_EQ(VmReadDboperPoint(m.get(), 2, &status, nullptr), VM_STORE_VALUE);
  // Point 0 and a machine without a store do nothing.
  EXPECT_EQ(VmWriteDboperPoint(m.get(), 0, 2, 0, 1.0) + ClearDboperPoint(m.get(), 0, 2), 0);
  const uint32_t handle = m->storeHandle;
  m->storeHandle = 0;
  EXPECT_EQ(VmReadDboperPoint(m.get(), 2, &status, &value) + VmWriteDboperPoint(m.get(), 1, 2, 0, 1.0), 0);
  m->storeHandle = handle;
  const int32_t n = points.count();
  for (int32_t result : {VmWriteDboperPoint(m.get(), -1, 1, 0, 0), VmWriteDboperPoint(m.get(), n, 1, 0, 0),
                         ClearDboperPoint(m.get(), n, 1)})
    EXPECT_EQ(result, -1);
  EXPECT_EQ(VmReadDboperPoint(m.get(), n + 5, nullptr, nullptr), 0) << "reads leave the index to the store";
  m->pointConfig = 0;
  EXPECT_EQ(VmWriteDboperPoint(m.get(), 0, 1, 0, 0), -1) << "writes need the configuration";
  DboperClose(m->storeHandle);
  _winseterrno(0);
  status = 7;
  EXPECT_EQ(VmReadDboperPoint(m.get(), 1, &status, nullptr), -1);
  EXPECT_EQ(_wingeterrno(), 9) << "the store's own error number";
  EXPECT_EQ(status, 7u);
  EXPECT_EQ(ClearDboperPoint(m.get(), 1, 2), -1);
}

}  // namespace
