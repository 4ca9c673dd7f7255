// SPDX-License-Identifier: MIT
// Random mutation of SIC images, for tests that feed set-up and the
// interpreter with arbitrary bytes. Deterministic for a given seed.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace sicvm::test {

class Mutator {
 public:
  explicit Mutator(uint32_t seed) : rng_(seed) {}

  // Applies 1 to 4 mutations: header fields set to values near the block
  // boundaries, words of segments, arrays or commands overwritten, random
  // bytes flipped, or the image cut short.
  void mutate(std::vector<uint8_t> &image);

  uint32_t below(uint32_t bound) { return bound == 0 ? 0 : std::uniform_int_distribution<uint32_t>(0, bound - 1)(rng_); }
  // A value likely to sit on a boundary: 0, 1, 215, 216, size +- small, all ones, or random.
  uint32_t interesting(uint32_t size);

 private:
  std::mt19937 rng_;
};

// Runs `body` on a heap copy of `image` of exactly its size, so that a
// sanitizer sees any access beyond the end.
template <class F>
void withExactCopy(const std::vector<uint8_t> &image, F body) {
  std::vector<uint8_t> copy(image);
  copy.shrink_to_fit();
  body(copy);
}

}  // namespace sicvm::test
