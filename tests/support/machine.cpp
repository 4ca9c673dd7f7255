// SPDX-License-Identifier: MIT
#include "support/machine.h"

namespace sicvm::test {

TestMachine::TestMachine(const build::ImageBuilder &builder) : image_{builder.build()} { init(); }

TestMachine::TestMachine(std::vector<uint8_t> bytes) : image_{std::move(bytes)} { init(); }

void TestMachine::init() { result_ = VmInitMachine(image_.data(), image_.size(), &machine_); }

const VmStateBlock &TestMachine::state() {
  return *reinterpret_cast<const VmStateBlock *>(image_.data() + image_.header().stateOffset);
}

VmCell &TestMachine::cell(uint32_t segment, uint32_t number) {
  return *reinterpret_cast<VmCell *>(image_.data() + image_.varRecord(segment, number).cell);
}

VmCell &TestMachine::arrayCell(uint32_t array, uint32_t index) {
  return *reinterpret_cast<VmCell *>(image_.data() + image_.arrayRecord(array).firstCell +
                                     uint64_t(index) * VM_CELL_SIZE);
}

}  // namespace sicvm::test
