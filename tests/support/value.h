// SPDX-License-Identifier: MIT
// Copies a field of a packed image record, so that an assertion compares the
// value instead of binding a reference to a field that may be misaligned.
#pragma once

namespace sicvm::test {

template <class T>
T value(T field) {
  return field;
}

}  // namespace sicvm::test
