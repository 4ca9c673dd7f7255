// SPDX-License-Identifier: MIT
// Calling one host library function directly on a parameter frame: the
// inputs, then fresh output cells (filled with kFill) of the given types.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "hostlib/hostlib.h"
#include "support/cells.h"

namespace sicvm::test {

// Executes `function` and expects result 0; returns the output cells.
inline std::vector<VmCell> callHost(VmMachine *machine, int32_t function, const std::vector<build::Value> &inputs,
                                    const std::vector<uint8_t> &outputs) {
  std::vector<VmCell> frame;
  for (const build::Value &value : inputs) frame.push_back(cellOf(value));
  for (uint8_t type : outputs) frame.push_back(outputOf(type));
  const int32_t nin = int32_t(inputs.size()), nout = int32_t(outputs.size());
  EXPECT_EQ(hostlib::dispatch(1, function, frame.data(), nin + nout, 0, nin, nout, machine), 0) << function;
  return std::vector<VmCell>(frame.begin() + nin, frame.end());
}

}  // namespace sicvm::test
