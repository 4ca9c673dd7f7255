// SPDX-License-Identifier: MIT
// A machine over a built image, for tests that run set-up and beyond.
#pragma once

#include <cstdint>
#include <vector>

#include "builder/image_builder.h"
#include "sicvm/vm.h"

namespace sicvm::test {

class TestMachine {
 public:
  // Builds the image and runs VmInitMachine; ok() tells whether it succeeded.
  explicit TestMachine(const build::ImageBuilder &builder);
  explicit TestMachine(std::vector<uint8_t> bytes);

  bool ok() const { return result_ == 0; }
  int32_t initResult() const { return result_; }
  VmMachine *operator->() const { return machine_; }
  VmMachine *get() const { return machine_; }
  build::ImageBytes &image() { return image_; }

  const VmStateBlock &state();
  VmCell &globalCell(uint32_t var) { return cell(0, var); }
  // The value cell of var `number` of data segment `segment` (after set-up).
  VmCell &cell(uint32_t segment, uint32_t number);
  VmCell &arrayCell(uint32_t array, uint32_t index);

 private:
  void init();

  build::ImageBytes image_;
  VmMachine *machine_ = nullptr;
  int32_t result_ = -1;
};

}  // namespace sicvm::test
