// SPDX-License-Identifier: MIT
// What the compiler knows about the libraries a program calls: the
// standard functions and function blocks by name, and the host library's
// functions with their parameter types. All of it is read from the
// libraries' own tables (VmGetLibraryFunction and the signatures there), so
// the compiler calls exactly what the library and the verifier accept.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sicvm::stc {

// A typed standard function: SEL, MAX, MIN, LIMIT, MUX, with one number for
// each value type.
struct StandardFunction {
  const char *name;
  int32_t numbers[8];  // by value type code; -1 where there is no variant
  uint8_t minInputs, maxInputs;
  uint8_t selector;  // 1: input 0 is a selector (SEL's BOOL G, MUX's DINT K), not a value
  uint8_t selectorType;
};

// The number of a typed standard function for a value type, or -1.
int32_t standardNumber(const StandardFunction &f, uint8_t type);

const StandardFunction *findStandardFunction(std::string_view upperName);

// A function of fixed parameter types (value type codes): a host library
// function, or a standard one that is not typed (INC_RANGE, DEC_RANGE).
struct FixedFunction {
  const char *name;
  int32_t number;
  std::vector<uint8_t> inputs, outputs;
};
using HostFunction = FixedFunction;
using RangeFunction = FixedFunction;

// The standard functions of fixed types; a name given to several numbers
// calls the first.
const RangeFunction *findRangeFunction(std::string_view upperName);

// A function block: its cells in frame order (inputs, outputs, state).
struct BlockCell {
  std::string name;  // upper case; state cells have a leading blank, a name no program can write
  uint8_t type;
  double init;       // initial value (the counters' limits)
};
struct FunctionBlock {
  std::string name;  // the table's name; a second variant of a name gets "_" and its counting type (CTU_DINT)
  int32_t number;
  uint8_t inputs, outputs;
  std::vector<BlockCell> cells;
};
const FunctionBlock *findFunctionBlock(std::string_view upperName);
const std::vector<FunctionBlock> &functionBlocks();

// The host library's functions; GasFlowrate calls its first number (6105,
// the short result).
const HostFunction *findHostFunction(std::string_view upperName);
const std::vector<HostFunction> &hostFunctions();

}  // namespace sicvm::stc
