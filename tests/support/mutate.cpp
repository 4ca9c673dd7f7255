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
    switch (below(7)) {
      case 0:
      case 1:  // a header field (offsets and counts, 124..199)
        putWord(124 + 4 * below(19), interesting(size));
        break;
      case 2:  // a word of the data segments (counts, records)
        putWord(header.segmentsOffset + 4 * below(64), below(3) == 0 ? interesting(size) : below(8));
        break;
      case 3:  // a word of the array records
        putWord(header.arraysOffset + 4 * below(22), below(3) == 0 ? interesting(size) : below(8));
        break;
      case 4:  // a word of the code
        putWord(header.codeOffset + 4 * below(11 * 8), below(2) == 0 ? interesting(size) : below(300));
        break;
      case 5:  // a random byte anywhere
        image[below(size)] ^= static_cast<uint8_t>(1u << below(8));
        break;
      default:  // cut the image short
        image.resize(image.size() - below(static_cast<uint32_t>(image.size()) / 8 + 1));
        break;
    }
  }
}

}  // namespace sicvm::test
