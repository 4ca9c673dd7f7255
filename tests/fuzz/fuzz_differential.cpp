// SPDX-License-Identifier: MIT
// libFuzzer target: the decoded form against the step loop on the program
// that the input's bytes choose (see differential.h); a difference aborts.
#include <cstdio>
#include <cstdlib>

#include "differential.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string why = sicvm::differential::compare(data, size);
  if (!why.empty()) {
    std::fprintf(stderr, "decoded form and step loop differ: %s\n", why.c_str());
    std::abort();
  }
  return 0;
}
