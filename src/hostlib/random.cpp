// SPDX-License-Identifier: MIT
// The process-wide pseudo-random generator and the random functions of the
// host library (6161 Random32, 6162 Random64): the next number of the
// sequence divided by 32767, so results lie on the grid k/32767 from 0.0 to
// 1.0 inclusive.
#include "hostlib/random.h"

#include <atomic>

#include "hostlib/functions.h"

namespace sicvm::hostlib {
namespace {

std::atomic<uint32_t> g_state{1};

constexpr uint32_t step(uint32_t state) { return state * 1103515245u + 12345u; }

}  // namespace

void seedRandom(uint32_t seed) noexcept { g_state.store(seed, std::memory_order_relaxed); }

int32_t nextRandom() noexcept {
  uint32_t state = g_state.load(std::memory_order_relaxed);
  while (!g_state.compare_exchange_weak(state, step(state), std::memory_order_relaxed)) {
  }
  return int32_t((step(state) >> 16) & uint32_t(kRandomMax));
}

// The quotient of two floats rounded once: r and 32767 are exact in single
// precision, and float division rounds the exact quotient.
int32_t random32(const lib::Call &call) {
  call.setReal(0, float(nextRandom()) / float(kRandomMax));
  return 0;
}

int32_t random64(const lib::Call &call) {
  call.setDouble(0, double(nextRandom()) / double(kRandomMax));
  return 0;
}

}  // namespace sicvm::hostlib
