// The point store exports over a real store file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "hostrt/store.h"
#include "hostrt/sys.h"
#include "points/point_access.h"
#include "sicvm/points.h"
#include "support/machine.h"
#include "support/points.h"

using namespace sicvm;

namespace {

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

TEST_F(PointStore, WritesReadsAndClearsEachPart) {
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
}

TEST_F(PointStore, ArgumentChecksAndStoreFailures) {
  const int32_t n = points.count();
  for (int32_t result : {VmWriteDboperPoint(m.get(), -1, 1, 0, 0), VmWriteDboperPoint(m.get(), n, 1, 0, 0),
                         VmWriteDboperPoint(nullptr, 1, 1, 0, 0), ClearDboperPoint(m.get(), n, 1),
                         ClearDboperPoint(nullptr, 1, 1), VmReadDboperPoint(nullptr, 1, nullptr, nullptr)})
    EXPECT_EQ(result, -1);
  EXPECT_EQ(VmReadDboperPoint(m.get(), n + 5, nullptr, nullptr), 0) << "reads leave the index to the store";
  m->pointConfig = 0;
  EXPECT_EQ(VmWriteDboperPoint(m.get(), 0, 1, 0, 0), -1) << "writes need the configuration";
  DboperClose(m->storeHandle);
  _winseterrno(0);
  uint32_t status = 7;
  EXPECT_EQ(VmReadDboperPoint(m.get(), 1, &status, nullptr), -1);
  EXPECT_EQ(_wingeterrno(), 9) << "the store's own error number";
  EXPECT_EQ(status, 7u);
  EXPECT_EQ(ClearDboperPoint(m.get(), 1, 2), -1);
}

}  // namespace
