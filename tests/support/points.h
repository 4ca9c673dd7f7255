// SPDX-License-Identifier: MIT
// A host point database for tests: the tables come from hostrt's points file
// reader (anonymous shared memory) and are handed to machines through
// VmHostLocation tokens, as a host does it.
#pragma once

#include <cstdint>
#include <string>

#include "builder/image_builder.h"
#include "hostrt/points.h"
#include "sicvm/image.h"

namespace sicvm::test {

class TestPoints {
 public:
  // `rows` are the points file's lines after its header
  // ("index,id,type,mode,value,status"); the test fails when they are refused.
  explicit TestPoints(const std::string &rows);
  ~TestPoints();
  TestPoints(const TestPoints &) = delete;
  TestPoints &operator=(const TestPoints &) = delete;

  bool ok() const { return db_ != nullptr; }
  // Stores the tables and the record count into the machine's host fields.
  void attach(VmMachine *machine) const;
  int32_t count() const;
  PointConfigRecord &config(int32_t index) const;
  PointValueRecord &value(int32_t index) const;

 private:
  PointDb *db_ = nullptr;
  uint32_t configToken_ = 0;
  uint32_t valuesToken_ = 0;
};

// A program of one data segment and one nop: a machine to hang tables on.
build::ImageBuilder minimalProgram();

}  // namespace sicvm::test
