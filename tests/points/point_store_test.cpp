// The point store exports over a real store file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

#include "builder/image_builder.h"
#include "hostrt/store.h"
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

class PointStore : public ::testing::Test {
 protected:
  test::TestPoints points{test::TestPoints::sequence(4)};
  test::TestMachine m{smallProgram()};
  // One file per test and process: ctest runs tests side by side.
  std::string path = ::testing::TempDir() + "point_store_" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
                     std::to_string(getpid()) + ".db";
  uint32_t store = 0;

  void SetUp() override {
    ASSERT_TRUE(points.ok() && m.ok());
    points.attach(m.get());
    std::remove(path.c_str());
    store = DboperOpen(path.c_str());
    ASSERT_NE(store, 0u) << DboperLastMessage();
    m->storeHandle = store;
  }
  void TearDown() override {
    DboperClose(store);
    std::remove(path.c_str());
  }
};

TEST_F(PointStore, WritesReadsAndClearsEachPart) {
  uint32_t status = 0;
  double value = 0;
  EXPECT_EQ(VmReadDboperPoint(m.get(), 2, &status, &value), 0);  // nothing stored yet
  EXPECT_EQ(VmWriteDboperPoint(m.get(), 2, VM_STORE_STATUS, 0x55, 99.0), 1);
  EXPECT_EQ(VmReadDboperPoint(m.get(), 2, &status, nullptr), VM_STORE_STATUS);
  EXPECT_EQ(status, 0x55u);
  EXPECT_EQ(VmWriteDboperPoint(m.get(), 2, VM_STORE_VALUE, 0, -4.25), 1);
  EXPECT_EQ(VmReadDboperPoint(m.get(), 2, nullptr, &value), VM_STORE_STATUS | VM_STORE_VALUE);
  EXPECT_EQ(value, -4.25);
  // The status written with the value selector did not replace the stored one.
  EXPECT_EQ(VmReadDboperPoint(m.get(), 2, &status, &value), 3);
  EXPECT_EQ(status, 0x55u);
  // Both places null still report what is stored.
  EXPECT_EQ(VmReadDboperPoint(m.get(), 2, nullptr, nullptr), 3);

  EXPECT_EQ(ClearDboperPoint(m.get(), 2, VM_STORE_STATUS), 1);
  EXPECT_EQ(ClearDboperPoint(m.get(), 2, VM_STORE_STATUS), 0);
  EXPECT_EQ(VmReadDboperPoint(m.get(), 2, &status, &value), VM_STORE_VALUE);
  EXPECT_EQ(value, -4.25);
}

TEST_F(PointStore, NullPointAndNoStoreDoNothing) {
  uint32_t status = 7;
  EXPECT_EQ(VmWriteDboperPoint(m.get(), 0, VM_STORE_VALUE, 0, 1.0), 0);
  EXPECT_EQ(ClearDboperPoint(m.get(), 0, VM_STORE_VALUE), 0);
  EXPECT_EQ(VmReadDboperPoint(m.get(), 0, &status, nullptr), 0);
  EXPECT_EQ(status, 7u);
  m->storeHandle = 0;
  EXPECT_EQ(VmWriteDboperPoint(m.get(), 1, VM_STORE_VALUE, 0, 1.0), 0);
  EXPECT_EQ(ClearDboperPoint(m.get(), 1, VM_STORE_VALUE), 0);
  EXPECT_EQ(VmReadDboperPoint(m.get(), 1, &status, nullptr), 0);
  m->storeHandle = store;
  EXPECT_EQ(VmReadDboperPoint(m.get(), 1, &status, nullptr), 0) << "point 1 was never written";
}

TEST_F(PointStore, ArgumentChecks) {
  const int32_t n = points.count();
  const struct {
    const char *name;
    int32_t result;
  } refused[] = {
      {"write index -1", VmWriteDboperPoint(m.get(), -1, 1, 0, 0)},
      {"write index count", VmWriteDboperPoint(m.get(), n, 1, 0, 0)},
      {"write null machine", VmWriteDboperPoint(nullptr, 1, 1, 0, 0)},
      {"clear index count", ClearDboperPoint(m.get(), n, 1)},
      {"clear index -1", ClearDboperPoint(m.get(), -1, 1)},
      {"clear null machine", ClearDboperPoint(nullptr, 1, 1)},
      {"read null machine", VmReadDboperPoint(nullptr, 1, nullptr, nullptr)},
  };
  for (const auto &r : refused) EXPECT_EQ(r.result, -1) << r.name;
  _winseterrno(0);
  m->pointConfig = 0;
  EXPECT_EQ(VmWriteDboperPoint(m.get(), 0, 1, 0, 0), -1) << "no configuration table";
  EXPECT_EQ(_wingeterrno(), 22);
  // Reads and clears do not need the configuration table.
  EXPECT_EQ(ClearDboperPoint(m.get(), 1, 1), 0);
  // Reads leave the index to the store: beyond pointCount is not refused here.
  EXPECT_EQ(VmReadDboperPoint(m.get(), n + 5, nullptr, nullptr), 0);
}

TEST_F(PointStore, StoreFailuresPassThrough) {
  DboperClose(store);
  uint32_t status = 7;
  _winseterrno(0);
  EXPECT_EQ(VmReadDboperPoint(m.get(), 1, &status, nullptr), -1);
  EXPECT_EQ(_wingeterrno(), 9) << "the store's own error number";
  EXPECT_EQ(status, 7u);
  EXPECT_EQ(VmWriteDboperPoint(m.get(), 1, 2, 0, 1.0), -1);
  EXPECT_EQ(ClearDboperPoint(m.get(), 1, 2), -1);
  store = DboperOpen(path.c_str());
}

}  // namespace
