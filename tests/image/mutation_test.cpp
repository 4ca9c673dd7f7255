// SPDX-License-Identifier: MIT
// Set-up over thousands of randomly broken images: it must never touch
// memory outside [image, image + size), and whatever it accepts must have
// every location inside the image. Run it in the sanitizer build to catch
// stray accesses.
#include <gtest/gtest.h>

#include <cstring>

#include "builder/image_builder.h"
#include "support/mutate.h"
#include "sicvm/vm.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

std::vector<uint8_t> seedImage(uint32_t gap) {
  ImageBuilder b;
  b.gap(gap).replication(4);
  b.var(b.segment(), Var(Value::lreal(1.5)));
  b.var(b.segment(1, 1), Var(Value::dint(3)));
  b.array(Array{VM_TYPE_INT, 1, 3, 1, {}, 0});
  b.array(Array{VM_TYPE_TIME, 2, 2, 2, {}, 1});
  b.command(10, Operand::var(0, 2), Operand::none(), Operand::var(0, 2));
  b.command(220);
  return b.build();
}

// Every location set-up wrote lies inside the image.
void expectLocationsInside(const std::vector<uint8_t> &image, const VmMachine *m) {
  const auto *h = reinterpret_cast<const VmHeader *>(image.data());
  auto inside = [&](uint64_t offset, uint64_t length) { return offset >= 216 && offset + length <= image.size(); };
  auto word = [&](uint64_t offset) {
    uint32_t w;
    std::memcpy(&w, image.data() + offset, 4);
    return w;
  };
  EXPECT_TRUE(inside(m->callStack, uint64_t(h->callStackSize) * 8));
  EXPECT_TRUE(inside(m->paramStack, uint64_t(h->paramStackSize) * 12));
  EXPECT_TRUE(inside(m->code, uint64_t(h->commandCount) * 44));
  EXPECT_TRUE(inside(m->statusFlagsRef, 24));
  EXPECT_TRUE(inside(m->globalSegment, 4));
  for (uint32_t k = 0; k < h->segmentCount; ++k) {
    const uint32_t segment = word(m->segmentTable + 4 * k);
    ASSERT_TRUE(inside(segment, 4));
    const uint32_t n = word(segment);
    ASSERT_TRUE(inside(segment, 4 + uint64_t(n) * 16));
    for (uint32_t i = 0; i < n; ++i) EXPECT_TRUE(inside(word(segment + 4 + 16 * i + 12), 12));
  }
  for (uint32_t j = 0; j < h->arrayCount; ++j) {
    const auto *a = reinterpret_cast<const VmArrayRecord *>(image.data() + m->arrays + 44 * j);
    EXPECT_TRUE(inside(a->firstCell, uint64_t(a->elementCount) * a->elementSize * 12));
  }
}

TEST(SetUpMutation, NeverLeavesTheImageAndAcceptsOnlyConsistentImages) {
  VmSetLogLevel(0);
  test::Mutator mutator(20261205);
  const std::vector<uint8_t> seeds[] = {seedImage(0), seedImage(1), seedImage(3)};
  int accepted = 0, refused = 0;
  for (int round = 0; round < 6000; ++round) {
    std::vector<uint8_t> image = seeds[round % 3];
    mutator.mutate(image);
    test::withExactCopy(image, [&](std::vector<uint8_t> &copy) {
      VmMachine *m = nullptr;
      const int32_t result = VmInitMachine(copy.data(), static_cast<uint32_t>(copy.size()), &m);
      auto *p = reinterpret_cast<uint8_t *>(m);
      ASSERT_TRUE(m == nullptr || (p >= copy.data() + 216 && p + VM_MACHINE_SIZE <= copy.data() + copy.size()));
      if (result != 0) {
        ++refused;
        return;
      }
      ++accepted;
      expectLocationsInside(copy, m);
      // The exports that work on a prepared machine stay inside it too.
      EXPECT_EQ(VmSetLastError(m, 101, 1, 2, 3) + VmResetMachine(m) + VmGetLastError(m, nullptr, nullptr, nullptr), 0);
    });
  }
  // The mutations must exercise both outcomes to mean anything.
  EXPECT_GT(accepted, 300);
  EXPECT_GT(refused, 3000);
}

}  // namespace
