// The point exports over a host point database: argument checks, the null
// point, value conversion by point type, the status rules and field access.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "points/point_access.h"
#include "sicvm/points.h"
#include "support/machine.h"
#include "support/points.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

ImageBuilder smallProgram() {
  ImageBuilder b;
  b.segment();
  b.command(0);
  return b;
}

class PointAccess : public ::testing::Test {
 protected:
  // Points 1..4: LREAL, DINT, INT (status mode 3), BOOL; 5 REAL with bit 31;
  // 6 is deleted (own index 0).
  test::TestPoints points{
      "1,1001,LREAL,0,1.5,0x10\n"
      "2,1002,DINT,0,-7,0\n"
      "3,1003,INT,3,4,0\n"
      "4,1004,BOOL,0,1,0\n"
      "5,1005,REAL,0,2,0x80000000\n"
      "7,1007,LREAL,0,0,0\n"};
  test::TestMachine m{smallProgram()};

  void SetUp() override {
    ASSERT_TRUE(points.ok());
    ASSERT_TRUE(m.ok());
    points.attach(m.get());
  }
};

// Every function refuses a null machine, an index outside 0..count-1 and a
// missing table it needs, with error number 22, before point 0 is special.
TEST_F(PointAccess, ArgumentChecksComeFirst) {
  double d = 0;
  uint32_t u = 0;
  using Call = std::function<int32_t(VmMachine *, int32_t)>;
  const struct {
    const char *name;
    Call call;
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
  const int32_t n = points.count();
  for (const auto &f : functions) {
    for (int32_t index : {-1, n, INT32_MIN}) {
      _winseterrno(0);
      EXPECT_EQ(f.call(m.get(), index), -1) << f.name << " index " << index;
      EXPECT_EQ(_wingeterrno(), 22) << f.name;
    }
    _winseterrno(0);
    EXPECT_EQ(f.call(nullptr, 0), -1) << f.name;
    EXPECT_EQ(_wingeterrno(), 22) << f.name;
    // Without the tables it needs even point 0 is refused; with only the
    // other table missing it is not.
    for (bool dropConfig : {true, false}) {
      points.attach(m.get());
      (dropConfig ? m->pointConfig : m->pointValues) = 0;
      bool needed = dropConfig ? f.needsConfig : f.needsValues;
      _winseterrno(0);
      int32_t result = f.call(m.get(), 0);
      EXPECT_EQ(result == -1, needed) << f.name << (dropConfig ? " without config" : " without values");
      if (needed) {
        EXPECT_EQ(_wingeterrno(), 22) << f.name;
      }
    }
    points.attach(m.get());
  }
  // Result places are checked as well.
  _winseterrno(0);
  EXPECT_EQ(VmGetPointValue(m.get(), 1, nullptr), -1);
  EXPECT_EQ(VmGetPointStatus(m.get(), 1, nullptr), -1);
  EXPECT_EQ(VmGetPointFieldValue(m.get(), 1, 44, nullptr), -1);
  EXPECT_EQ(_wingeterrno(), 22);
}

TEST_F(PointAccess, NullPointReadsZeroAndIgnoresWrites) {
  points.value(0).value = 9.0;
  points.value(0).status = 0x11;
  double d = 5.0;
  uint32_t u = 5;
  EXPECT_EQ(VmGetPointValue(m.get(), 0, &d), 0);
  EXPECT_EQ(d, 0.0);
  EXPECT_EQ(VmGetPointStatus(m.get(), 0, &u), 0);
  EXPECT_EQ(u, 0u);
  d = 5.0;
  EXPECT_EQ(VmGetPointFieldValue(m.get(), 0, 44, &d), 0);
  EXPECT_EQ(d, 0.0);
  EXPECT_EQ(VmSetPointValue(m.get(), 0, 3.0), 0);
  EXPECT_EQ(VmSetPointStatus(m.get(), 0, 0xFF), 0);
  EXPECT_EQ(VmSetPointFieldValue(m.get(), 0, 43, 1.0), 0);
  EXPECT_EQ(points.value(0).value, 9.0);
  EXPECT_EQ(points.value(0).status, 0x11u);
  EXPECT_EQ(PointStatusChanges(&points.value(0)), 0u);
  // The host is still asked for point 0's field, and its failure is passed on.
  EXPECT_EQ(VmGetPointFieldValue(m.get(), 0, 99, &d), -1);
}

TEST_F(PointAccess, ValueWritesConvertByPointType) {
  const struct {
    int32_t index;
    double in, stored;
  } cases[] = {
      {1, 2.75, 2.75},          // LREAL unchanged
      {2, 2.5, 3.0},            // DINT: fround, halves away from zero
      {2, -2.5, -3.0},
      {2, 4294967297.0, 1.0},   // DINT wraps to 32 bits
      {3, 70000.0, 4464.0},     // INT wraps to 16 bits
      {3, 40000.0, -25536.0},
      {4, 0.3, 1.0},            // BOOL: not zero by fiszero
      {4, 1e-13, 0.0},
      {4, -2.0, 1.0},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(VmSetPointValue(m.get(), c.index, c.in), 1) << c.in;
    EXPECT_EQ(points.value(c.index).value, c.stored) << "point " << c.index << " value " << c.in;
  }
  // REAL: rounded to single precision and widened back. Point 5 forbids
  // value writes, so lift bit 31 first.
  EXPECT_EQ(VmSetPointValue(m.get(), 5, 0.1), 0);
  EXPECT_EQ(points.value(5).value, 2.0);
  points.value(5).status = 0;
  EXPECT_EQ(VmSetPointFieldValue(m.get(), 5, 44, 0.1), 1);
  EXPECT_EQ(points.value(5).value, static_cast<double>(0.1f));
  // An unknown type code is kept as LREAL.
  points.config(1).valueType = 9;
  EXPECT_EQ(VmSetPointValue(m.get(), 1, 0.1), 1);
  EXPECT_EQ(points.value(1).value, 0.1);
}

TEST_F(PointAccess, StatusWritesKeepTheProtectedBits) {
  const struct {
    int32_t mode;
    uint32_t old, given, stored;
  } cases[] = {
      {0, 0, 0xFFFFFFFF, 0x003F0F0F},           // bit 18 rises; 0xF0F0 already clear
      {3, 0, 0xFFFFFFFF, 0x003F0F0F},           // wide mask, then bit 18 clears 0xF0F0
      {3, 0x00040000, 0xFFFFFFFF, 0x003FFFFF},  // bit 18 was set already: nothing cleared
      {3, 0x00040000, 0x0000F0F0, 0x0000F0F0},  // bit 18 falls
      {0, 0xFFC0F0F0, 0, 0xFFC0F0F0},           // protected bits keep their values
      {0, 0x80000000, 0x00000101, 0x80000101},
      {0, 0x0000F000, 0x00040000, 0x00040000},  // bit 18 rises: even protected 0xF0F0 bits clear
  };
  for (const auto &c : cases) {
    points.config(3).statusMode = c.mode;
    points.value(3).status = c.old;
    uint32_t before = PointStatusChanges(&points.value(3));
    EXPECT_EQ(VmSetPointStatus(m.get(), 3, c.given), 1);
    EXPECT_EQ(points.value(3).status, c.stored) << std::hex << c.old << " " << c.given;
    EXPECT_EQ(PointStatusChanges(&points.value(3)), before + 1) << "the host is told";
  }
}

TEST_F(PointAccess, FieldAccess) {
  double d = 0;
  EXPECT_EQ(VmGetPointFieldValue(m.get(), 1, 44, &d), 1);
  EXPECT_EQ(d, 1.5);
  EXPECT_EQ(VmGetPointFieldValue(m.get(), 1, 43, &d), 1);
  EXPECT_EQ(d, 16.0);
  EXPECT_EQ(VmGetPointFieldValue(m.get(), 2, 1, &d), 1);  // the host's point ID field
  EXPECT_EQ(d, 1002.0);
  EXPECT_EQ(VmGetPointFieldValue(m.get(), 1, 99, &d), -1);

  const struct {
    int32_t field;
    double value;
    int32_t result;
    uint32_t status;
  } writes[] = {
      {43, 5.9, 1, 5},             // truncated toward zero
      {43, 4294967295.0, 1, 0x003F0F0F},
      {43, -1.0, 1, 0x003F0F0F},
      {12, 1.0, -1, 0x003F0F0F},   // only 43 and 44 are writable
      {45, 1.0, -1, 0x003F0F0F},
  };
  points.value(2).status = 0;
  for (const auto &w : writes) {
    _winseterrno(0);
    EXPECT_EQ(VmSetPointFieldValue(m.get(), 2, w.field, w.value), w.result) << w.field << " " << w.value;
    EXPECT_EQ(points.value(2).status, w.status) << w.field << " " << w.value;
    if (w.result == -1) {
      EXPECT_EQ(_wingeterrno(), 22);
    }
  }
  // Field 44 honours bit 31.
  EXPECT_EQ(VmSetPointFieldValue(m.get(), 5, 44, 8.0), 0);
}

TEST_F(PointAccess, IdentityShowsDeletedPoints) {
  EXPECT_EQ(PointIdentity(m.get(), 1), 1);
  EXPECT_EQ(PointIdentity(m.get(), 6), 0);
  EXPECT_EQ(PointIdentity(m.get(), 0), 0);
  points.config(7).ownIndex = 3;
  EXPECT_EQ(PointIdentity(m.get(), 7), 3);
}

}  // namespace
