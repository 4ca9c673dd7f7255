// SPDX-License-Identifier: MIT
// The pseudo-random generator behind the random functions of the host
// library (6161, 6162).
//
// One generator serves the whole process: every machine, on every thread,
// draws from the same sequence, and concurrent draws interleave. Its state
// is one atomic 32-bit word advanced by compare-and-swap, so draws from
// several threads never race, never repeat a step and never lose one: N
// draws from any threads together take exactly the next N numbers of the
// sequence. The library seeds it once, when the process loads it, with the
// current calendar time in seconds; nothing else seeds it except tests.
//
// The sequence is the linear congruential generator that the C standard
// gives as its example rand(): state = state * 1103515245 + 12345, result =
// bits 16 to 30 of the new state, a number from 0 to 32767. It is the
// library's own, so a host that calls the C runtime's rand() or srand()
// neither disturbs the programs' sequence nor is disturbed by it. Before
// seeding, the state is 1.
#pragma once

#include <cstdint>

namespace sicvm::hostlib {

inline constexpr int32_t kRandomMax = 32767;

// Restarts the sequence from `seed`.
void seedRandom(uint32_t seed) noexcept;

// The next number of the sequence, 0 to kRandomMax.
int32_t nextRandom() noexcept;

}  // namespace sicvm::hostlib
