// SPDX-License-Identifier: MIT
#include "support/points.h"

#include <gtest/gtest.h>

#include "sicvm/vm.h"

namespace sicvm::test {

TestPoints::TestPoints(const std::string &rows) {
  const std::string text = "index,id,type,mode,value,status\n" + rows;
  char error[512] = "";
  db_ = PointDbLoadText("test.csv", text.data(), static_cast<uint32_t>(text.size()), nullptr, error,
                        sizeof error);
  EXPECT_NE(db_, nullptr) << error;
  if (db_ == nullptr) return;
  configToken_ = VmHostLocation(PointDbConfig(db_));
  valuesToken_ = VmHostLocation(PointDbValues(db_));
}

TestPoints::~TestPoints() {
  VmReleaseHostLocation(configToken_);
  VmReleaseHostLocation(valuesToken_);
  if (db_) PointDbClose(db_);
}

void TestPoints::attach(VmMachine *machine) const {
  machine->pointCount = count();
  machine->pointConfig = configToken_;
  machine->pointValues = valuesToken_;
}

int32_t TestPoints::count() const { return PointDbCount(db_); }
PointConfigRecord &TestPoints::config(int32_t index) const { return PointDbConfig(db_)[index]; }
PointValueRecord &TestPoints::value(int32_t index) const { return PointDbValues(db_)[index]; }

build::ImageBuilder minimalProgram() {
  build::ImageBuilder b;
  b.segment();
  b.command(0);
  return b;
}

}  // namespace sicvm::test
