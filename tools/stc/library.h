// What the compiler knows about the libraries a program calls: the
// standard functions and function blocks by name, and the host library's
// functions with their parameter types. Numbers and counts agree with the
// libraries' own tables (a test compares them row by row).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace sicvm::stc {

// A typed standard function: SEL, MAX, MIN, LIMIT, MUX. Its seven numbers
// follow `first` in the type order BOOL, INT, DINT, REAL, LREAL, TIME, DT.
struct StandardFunction {
  const char *name;
  int32_t first;
  uint8_t minInputs, maxInputs;
  uint8_t selector;  // 1: input 0 is a selector (SEL's BOOL G, MUX's DINT K), not a value
  uint8_t selectorType;
};

// The number of a typed standard function for a value type, or -1.
int32_t standardNumber(const StandardFunction &f, uint8_t type);

const StandardFunction *findStandardFunction(std::string_view upperName);

// A DINT function of three DINT inputs: INC_RANGE, DEC_RANGE.
struct RangeFunction {
  const char *name;
  int32_t number;
};
const RangeFunction *findRangeFunction(std::string_view upperName);

// A function block: its cells in frame order (inputs, outputs, state).
struct BlockCell {
  const char *name;  // upper case; state cells have names no program can write
  uint8_t type;
  double init;       // initial value (the counters' limits)
};
struct FunctionBlock {
  const char *name;
  int32_t number;
  uint8_t inputs, outputs;
  std::vector<BlockCell> cells;
};
const FunctionBlock *findFunctionBlock(std::string_view upperName);
const std::vector<FunctionBlock> &functionBlocks();

// A host library function with its parameter types (value type codes).
struct HostFunction {
  const char *name;
  int32_t number;
  std::vector<uint8_t> inputs, outputs;
};
const HostFunction *findHostFunction(std::string_view upperName);
const std::vector<HostFunction> &hostFunctions();

}  // namespace sicvm::stc
