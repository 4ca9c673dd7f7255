// SPDX-License-Identifier: MIT
// Frames for calling the gas functions in tests: cells with their types and
// a recognisable head, outputs filled with a pattern the call must replace.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "sicvm/gas.h"
#include "sicvm/image.h"

namespace sicvm::test {

using GasFunction = int32_t (*)(int32_t, int32_t, void *, int32_t, int32_t);

struct GasSignature {
  const char *name;
  GasFunction function;
  int32_t inputs;
};

inline const GasSignature *gasSignature(const std::string &name) {
  static const GasSignature kAll[] = {
      {"GasK_NX19", &GasK_NX19, 5},           {"GasK_GERG91", &GasK_GERG91, 5},
      {"GasFlowrate_DA", &GasFlowrate_DA, 14}, {"GasFlowrate_DF", &GasFlowrate_DF, 14},
      {"GasFlowrate_DT", &GasFlowrate_DT, 14}, {"GasFlowrate", &GasFlowrate, 22},
  };
  for (const GasSignature &s : kAll)
    if (name == s.name) return &s;
  return nullptr;
}

// Type of a cell of GasFlowrate's frame (the other functions take LREALs and
// give a DINT code first).
inline uint8_t gasCellType(const std::string &name, int cell, int inputs) {
  if (cell == inputs) return VM_TYPE_DINT;  // result code
  if (name != "GasFlowrate") return VM_TYPE_LREAL;
  if (cell == 11 || cell == 19) return VM_TYPE_BOOL;
  if (cell == 13 || cell == 21 || cell == inputs + 18) return VM_TYPE_DINT;
  return VM_TYPE_LREAL;
}

// A frame of `inputs` + `outputs` cells (plus `spare` more); every head is
// {type, 0x5A, 0xA5, 0x3C} and every output value field 0xEE bytes.
inline std::vector<VmCell> gasFrame(const std::string &name, const std::vector<double> &values,
                                    int outputs, int spare = 0) {
  const int inputs = int(values.size());
  std::vector<VmCell> frame(size_t(inputs + outputs + spare));
  for (int i = 0; i < int(frame.size()); ++i) {
    VmCell &c = frame[size_t(i)];
    c.type = gasCellType(name, i, inputs);
    c.flags = 0x5A;
    c.spare[0] = 0xA5;
    c.spare[1] = 0x3C;
    std::memset(c.v.bytes, 0xEE, sizeof c.v.bytes);
    if (i >= inputs) continue;
    if (c.type == VM_TYPE_LREAL) c.v.f64 = values[size_t(i)];
    else if (c.type == VM_TYPE_DINT) c.v.i32 = int32_t(values[size_t(i)]);
    else c.v.b = values[size_t(i)] != 0;
  }
  return frame;
}

}  // namespace sicvm::test
