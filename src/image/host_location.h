// SPDX-License-Identifier: MIT
// Registry of host addresses that machines refer to by 32-bit tokens.
//
// A machine keeps the host's point tables and host record as tokens
// (`pointConfig`, `pointValues`, `hostRecord`), because its fields are 32
// bits wide and its image may be copied or mapped anywhere. Token t names
// slot t - 1 of a fixed process-wide table; 0 names nothing.
#pragma once

#include <cstdint>

namespace sicvm {

// The address behind a token, or null for 0, an unused slot or a token out of range.
void *hostAddress(uint32_t token) noexcept;

template <class T>
T *hostAddressAs(uint32_t token) noexcept {
  return static_cast<T *>(hostAddress(token));
}

}  // namespace sicvm
