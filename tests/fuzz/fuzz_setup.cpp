// SPDX-License-Identifier: MIT
// libFuzzer target for set-up: the input is a list of patches applied to a
// valid image (6 bytes each: a 16-bit offset and a 32-bit word written
// there; one trailing byte cuts the image short), so that the fuzzer starts
// deep inside set-up instead of at the label check. Then VmInitMachine,
// VmResetMachine and the error record run over the exact-size result.
// Build with the preset `fuzz`; run ./build-fuzz/tests/fuzz/fuzz_setup.
#include <cstdint>
#include <cstring>
#include <vector>

#include "builder/image_builder.h"
#include "sicvm/vm.h"

using namespace sicvm::build;

namespace {

std::vector<uint8_t> templateImage() {
  ImageBuilder b;
  b.gap(1).replication(3);
  uint32_t s0 = b.segment();
  b.var(s0, Var(Value::lreal(1.5)));
  b.segment(1, 1);
  b.array(Array{VM_TYPE_INT, 2, 3, 2, {}, 0});
  b.command(0);
  b.command(220);
  return b.build();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const std::vector<uint8_t> base = (VmSetLogLevel(0), templateImage());
  std::vector<uint8_t> image(base);
  size_t i = 0;
  for (; i + 6 <= size; i += 6) {
    uint16_t offset;
    uint32_t word;
    std::memcpy(&offset, data + i, 2);
    std::memcpy(&word, data + i + 2, 4);
    if (offset + 4u <= image.size()) std::memcpy(image.data() + offset, &word, 4);
  }
  if (i < size) image.resize(image.size() - data[i] % 64);
  image.shrink_to_fit();
  VmMachine *machine = nullptr;
  if (VmInitMachine(image.data(), static_cast<uint32_t>(image.size()), &machine) == 0) {
    VmSetLastError(machine, 101, 0, 0, 0);
    VmResetMachine(machine);
  }
  return 0;
}
