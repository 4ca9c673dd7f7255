// SPDX-License-Identifier: MIT
#include "support/mutate.h"

#include <cstring>

#include "sicvm/image.h"

namespace sicvm::test {

uint32_t Mutator::interesting(uint32_t size) {
  switch (below(10)) {
    case 0: return 0;
    case 1: return below(8);
    case 2: return 215 + below(3);
    case 3: return size - below(16);
    case 4: return size + below(16);
    case 5: return 0xFFFFFFFFu - below(4);
    case 6: return 0x80000000u + below(4);
    case 7: return below(size + 1);
    case 8: return 1u << below(32);
    default: return static_cast<uint32_t>(rng_());
  }
}

void Mutator::mutate(std::vector<uint8_t> &image) {
  const uint32_t size = static_cast<uint32_t>(image.size());
  auto putWord = [&](uint32_t offset, uint32_t value) {
    if (uint64_t(offset) + 4 <= image.size()) std::memcpy(image.data() + offset, &value, 4);
  };
  const VmHeader header = *reinterpret_cast<const VmHeader *>(image.data());
  int count = 1 + static_cast<int>(below(4));
  for (int i = 0; i < count; ++i) {
    // Each random draw is a statement of its own, so that every compiler
    // draws in the same order and a seed means the same images everywhere.
    uint32_t kind = below(7);
    if (kind <= 1) {  // a header field (offsets and counts, 124..199)
      uint32_t at = 124 + 4 * below(19);
      putWord(at, interesting(size));
    } else if (kind <= 4) {  // a word of the data segments, the array records or the code
      const uint32_t bases[] = {header.segmentsOffset, header.arraysOffset, header.codeOffset};
      const uint32_t spans[] = {64, 22, 88};
      uint32_t at = bases[kind - 2] + 4 * below(spans[kind - 2]);
      uint32_t value = below(3) == 0 ? interesting(size) : below(kind == 4 ? 300 : 8);
      putWord(at, value);
    } else if (kind == 5) {  // a random bit anywhere
      uint32_t at = below(size);
      image[at] ^= static_cast<uint8_t>(1u << below(8));
    } else {  // cut the image short
      image.resize(image.size() - below(static_cast<uint32_t>(image.size()) / 8 + 1));
    }
  }
}

}  // namespace sicvm::test
