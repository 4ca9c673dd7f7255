// SPDX-License-Identifier: MIT
// Reading command lines: the operands of every listing shape, names,
// labels, call targets and key=value fields, into command records. The
// assembler reads each command line with readCommand once every declaration
// and label is known; assembleCommand reads lines without names.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>

#include "asm/cursor.h"
#include "sicvm/image.h"

namespace sicvm::assembly {

// What command lines may refer to by name. Empty for lines that use numbers only.
struct Names {
  struct VarRef {
    uint32_t segment;  // data segment number
    uint32_t var;
  };
  std::map<std::string, uint32_t> segments;           // name -> segment number
  std::map<std::string, VarRef> vars;                 // "name" (segment 0) and "segment.name"
  std::map<std::string, uint32_t> arrays;             // name -> absolute array number
  std::map<std::string, uint32_t> labels;             // name -> code address
  std::map<std::pair<uint32_t, uint32_t>, int> types; // (segment number, var) -> value type, for typed vars
  // Names whose declarations failed: their uses are not errors of their own.
  std::set<std::string> failed;
  int32_t baseSegment = 0;  // var 0 of segment 0: base of set_ds offsets
  int32_t baseArray = 0;    // var 1 of segment 0: base of global array operands
};

// A whole command line after any address and labels; throws SyntaxError.
VmCommand readCommand(Cursor &c, const Names &names);

// After "arrays[": vars[S:00001]+R]
void readArrayAddress(Cursor &c, uint32_t &segment, uint32_t &relative);

}  // namespace sicvm::assembly
