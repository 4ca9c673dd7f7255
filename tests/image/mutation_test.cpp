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

std::vector<std::vector<uint8_t>> seedImages() {
  std::vector<std::vector<uint8_t>> seeds;
  for (uint32_t gap : {0u, 1u, 3u}) {
    ImageBuilder b;
    b.gap(gap).replication(4);
    uint32_t s0 = b.segment();
    b.var(s0, Var(Value::lreal(1.5)));
    uint32_t s1 = b.segment(1, 1);
    b.var(s1, Var(Value::dint(3)));
    b.array(Array{VM_TYPE_INT, 1, 3, 1, {}, 0});
    b.array(Array{VM_TYPE_TIME, 2, 2, 2, {}, 1});
    b.command(10, Operand::var(0, 2), Operand::none(), Operand::var(0, 2));
    b.command(220);
    seeds.push_back(b.build());
  }
  return seeds;
}

// Every location set-up wrote lies inside the image.
void expectLocationsInside(const std::vector<uint8_t> &image, const VmMachine *m) {
  const auto *h = reinterpret_cast<const VmHeader *>(image.data());
  const uint64_t size = image.size();
  auto inside = [&](uint64_t offset, uint64_t length) { return offset >= 216 && offset + length <= size; };
  ASSERT_TRUE(inside(m->image, VM_MACHINE_SIZE));
  EXPECT_TRUE(inside(m->callStack, uint64_t(h->callStackSize) * 8));
  EXPECT_TRUE(inside(m->paramStack, uint64_t(h->paramStackSize) * 12));
  EXPECT_TRUE(inside(m->code, uint64_t(h->commandCount) * 44));
  EXPECT_TRUE(inside(m->statusFlagsRef, 24));
  EXPECT_TRUE(inside(m->globalSegment, 4));
  for (uint32_t k = 0; k < h->segmentCount; ++k) {
    uint32_t segment;
    std::memcpy(&segment, image.data() + m->segmentTable + 4 * k, 4);
    ASSERT_TRUE(inside(segment, 4));
    uint32_t n;
    std::memcpy(&n, image.data() + segment, 4);
    ASSERT_TRUE(inside(segment, 4 + uint64_t(n) * 16));
    for (uint32_t i = 0; i < n; ++i) {
      const auto *record = reinterpret_cast<const VmVarRecord *>(image.data() + segment + 4 + 16 * i);
      EXPECT_TRUE(inside(record->cell, 12));
    }
  }
  for (uint32_t j = 0; j < h->arrayCount; ++j) {
    const auto *a = reinterpret_cast<const VmArrayRecord *>(image.data() + m->arrays + 44 * j);
    EXPECT_TRUE(inside(a->firstCell, uint64_t(a->elementCount) * a->elementSize * 12));
  }
}

TEST(SetUpMutation, NeverLeavesTheImageAndAcceptsOnlyConsistentImages) {
  VmSetLogLevel(0);
  test::Mutator mutator(20261205);
  const auto seeds = seedImages();
  int accepted = 0, refused = 0;
  for (int round = 0; round < 6000; ++round) {
    std::vector<uint8_t> image = seeds[round % seeds.size()];
    mutator.mutate(image);
    if (image.size() < 4) continue;
    test::withExactCopy(image, [&](std::vector<uint8_t> &copy) {
      VmMachine *m = nullptr;
      int32_t result = VmInitMachine(copy.data(), static_cast<uint32_t>(copy.size()), &m);
      ASSERT_TRUE(result == 0 || result == -1);
      if (m != nullptr) {
        auto *p = reinterpret_cast<uint8_t *>(m);
        ASSERT_TRUE(p >= copy.data() + 216 && p + VM_MACHINE_SIZE <= copy.data() + copy.size());
      }
      if (result != 0) {
        ++refused;
        return;
      }
      ++accepted;
      expectLocationsInside(copy, m);
      // The exports that work on a prepared machine stay inside it too.
      EXPECT_EQ(VmSetLastError(m, 101, 1, 2, 3), 0);
      EXPECT_EQ(VmResetMachine(m), 0);
      EXPECT_EQ(VmGetLastError(m, nullptr, nullptr, nullptr), 0);
    });
  }
  // The mutations must exercise both outcomes to mean anything.
  EXPECT_GT(accepted, 300);
  EXPECT_GT(refused, 3000);
}

}  // namespace
