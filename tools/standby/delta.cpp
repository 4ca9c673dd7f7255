// SPDX-License-Identifier: MIT
#include "standby/delta.h"

#include <cstring>

#include "standby/wire.h"

namespace sicvm::standby {

namespace {
constexpr size_t kRunHead = 8;
}

uint32_t encodeDelta(const uint8_t *before, const uint8_t *after, size_t size, std::vector<uint8_t> &out) {
  uint32_t runs = 0;
  size_t i = 0;
  while (i < size) {
    if (before[i] == after[i]) {
      ++i;
      continue;
    }
    size_t start = i, end = i + 1;  // end: one past the last changed byte so far
    // Extend while another change follows within a run head's distance.
    for (;;) {
      size_t next = end;
      for (size_t j = end; j < size && j < end + kRunHead; ++j)
        if (before[j] != after[j]) next = j + 1;
      if (next == end) break;
      end = next;
    }
    put32(out, static_cast<uint32_t>(start));
    put32(out, static_cast<uint32_t>(end - start));
    out.insert(out.end(), after + start, after + end);
    ++runs;
    i = end;
  }
  return runs;
}

bool applyDelta(uint8_t *state, size_t size, const uint8_t *runs, size_t length, uint32_t runCount,
                std::string &error) {
  size_t at = 0;
  for (uint32_t r = 0; r < runCount; ++r) {
    if (length - at < kRunHead) {
      error = "run " + std::to_string(r) + " of " + std::to_string(runCount) + " is cut off";
      return false;
    }
    uint64_t offset = get32(runs + at), n = get32(runs + at + 4);
    if (n == 0 || offset + n > size || length - at - kRunHead < n) {
      error = "run " + std::to_string(r) + " (" + std::to_string(offset) + ", " + std::to_string(n) +
              " bytes) lies outside the state of " + std::to_string(size) + " bytes or the message";
      return false;
    }
    at += kRunHead + n;
  }
  if (at != length) {
    error = std::to_string(length - at) + " bytes after the last run";
    return false;
  }
  for (at = 0; at < length;) {
    uint32_t offset = get32(runs + at), n = get32(runs + at + 4);
    std::memcpy(state + offset, runs + at + kRunHead, n);
    at += kRunHead + n;
  }
  return true;
}

}  // namespace sicvm::standby
