// SPDX-License-Identifier: MIT
// The changes between two states of equal size as runs of bytes, the body
// of a DELTA message: per run u32 offset, u32 length, then the new bytes.
// Unchanged stretches shorter than a run head (8 bytes) are sent along
// instead of starting a new run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sicvm::standby {

// Appends the runs that turn `before` into `after` to `out`; returns their
// count.
uint32_t encodeDelta(const uint8_t *before, const uint8_t *after, size_t size, std::vector<uint8_t> &out);

// Applies `runCount` runs from `runs` (`length` bytes) to `state` (`size`
// bytes). All runs are checked first (inside the state, the bytes exactly
// used up); on any fault nothing is written and `error` says what was wrong.
bool applyDelta(uint8_t *state, size_t size, const uint8_t *runs, size_t length, uint32_t runCount,
                std::string &error);

}  // namespace sicvm::standby
