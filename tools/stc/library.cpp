// SPDX-License-Identifier: MIT
// The library functions and function blocks that programs call by name, read
// once from the libraries' tables.
#include "stc/library.h"

#include <cctype>
#include <string>
#include <utility>

#include "sicvm/image.h"
#include "sicvm/library.h"
#include "sicvm/vm.h"
#include "stc/signature.h"

namespace sicvm::stc {
namespace {

// The rows of a library's table with their signatures.
struct Entry {
  VmFunctionInfo info;
  Signature signature;
};
std::vector<Entry> entries(int32_t callClass) {
  std::vector<Entry> out;
  VmFunctionInfo f;
  for (int32_t i = 0; VmGetLibraryFunction(callClass, i, &f) == 1; ++i) {
    Entry e{f, {}};
    if (signatureOf(f, e.signature)) out.push_back(std::move(e));
  }
  return out;
}

FixedFunction fixedFunction(const Entry &e) {
  FixedFunction function{e.info.name, e.info.number, {}, {}};
  for (const SignatureItem &item : e.signature.inputs) function.inputs.push_back(item.type);
  for (const SignatureItem &item : e.signature.outputs) function.outputs.push_back(item.type);
  return function;
}

// The typed families (rows with a value type), one entry per name.
std::vector<StandardFunction> makeStandard() {
  std::vector<StandardFunction> out;
  for (const Entry &e : entries(VM_CALL_STANDARD)) {
    if (e.info.valueType == 0 || e.info.valueType >= 8 || e.signature.block || e.signature.inputs.empty()) continue;
    if (out.empty() || std::string_view(out.back().name) != e.info.name) {
      StandardFunction f{e.info.name, {-1, -1, -1, -1, -1, -1, -1, -1}, e.info.minInputs, e.info.maxInputs, 0, 0};
      // An input 0 of a type of its own, whatever the variant's, selects.
      if (!e.signature.inputs[0].any) {
        f.selector = 1;
        f.selectorType = e.signature.inputs[0].type;
      }
      out.push_back(f);
    }
    out.back().numbers[e.info.valueType] = e.info.number;
  }
  return out;
}

// The standard functions of fixed types: neither typed nor blocks.
std::vector<FixedFunction> makeRange() {
  std::vector<FixedFunction> out;
  for (const Entry &e : entries(VM_CALL_STANDARD))
    if (e.info.valueType == 0 && !e.signature.block &&
        (out.empty() || std::string_view(out.back().name) != e.info.name))
      out.push_back(fixedFunction(e));
  return out;
}

// The blocks. A counter's limit cell starts at its type's end of the range
// (UPPER at the largest value, LOWER at the smallest), so that it never
// limits a count the program can reach; every other cell starts at 0.
std::vector<FunctionBlock> makeBlocks() {
  std::vector<FunctionBlock> out;
  for (const Entry &e : entries(VM_CALL_STANDARD)) {
    if (!e.signature.block) continue;
    FunctionBlock block{e.info.name, e.info.number, static_cast<uint8_t>(e.signature.inputs.size()),
                        static_cast<uint8_t>(e.signature.outputs.size()), {}};
    for (const auto *list : {&e.signature.inputs, &e.signature.outputs, &e.signature.state}) {
      const bool state = list == &e.signature.state;
      for (const SignatureItem &item : *list) {
        const bool dint = item.type == VM_TYPE_DINT;
        double init = 0;
        if (state && item.name == "UPPER") init = dint ? 2147483647.0 : 32767.0;
        if (state && item.name == "LOWER") init = dint ? -2147483648.0 : -32768.0;
        block.cells.push_back({(state ? " " : "") + item.name, item.type, init});
      }
    }
    // A second variant of a name (the DINT counters) is named after the
    // type of its first cell that differs from the first variant's.
    for (const FunctionBlock &earlier : out)
      if (earlier.name == block.name && earlier.cells.size() == block.cells.size()) {
        for (size_t k = 0; k < block.cells.size(); ++k)
          if (block.cells[k].type != earlier.cells[k].type) {
            block.name += std::string("_") + typeText(block.cells[k].type);
            break;
          }
        break;
      }
    out.push_back(std::move(block));
  }
  return out;
}

// The host library's functions as its table describes them. A name given
// to several numbers (GasFlowrate: 6105 short, 6106 full result) calls the
// first of them.
std::vector<HostFunction> makeHost() {
  std::vector<HostFunction> out;
  for (const Entry &e : entries(VM_CALL_HOST))
    if (!e.signature.block && (out.empty() || std::string_view(out.back().name) != e.info.name))
      out.push_back(fixedFunction(e));
  return out;
}

bool sameName(const char *name, std::string_view upper) {
  size_t k = 0;
  for (; name[k] && k < upper.size(); ++k)
    if (std::toupper(static_cast<unsigned char>(name[k])) != upper[k]) return false;
  return name[k] == '\0' && k == upper.size();
}

}  // namespace

int32_t standardNumber(const StandardFunction &f, uint8_t type) { return type < 8 ? f.numbers[type] : -1; }

const StandardFunction *findStandardFunction(std::string_view upperName) {
  static const std::vector<StandardFunction> functions = makeStandard();
  for (const StandardFunction &f : functions)
    if (sameName(f.name, upperName)) return &f;
  return nullptr;
}

const RangeFunction *findRangeFunction(std::string_view upperName) {
  static const std::vector<FixedFunction> functions = makeRange();
  for (const FixedFunction &f : functions)
    if (sameName(f.name, upperName)) return &f;
  return nullptr;
}

const std::vector<FunctionBlock> &functionBlocks() {
  static const std::vector<FunctionBlock> blocks = makeBlocks();
  return blocks;
}

const FunctionBlock *findFunctionBlock(std::string_view upperName) {
  for (const FunctionBlock &b : functionBlocks())
    if (sameName(b.name.c_str(), upperName)) return &b;
  return nullptr;
}

const std::vector<HostFunction> &hostFunctions() {
  static const std::vector<HostFunction> functions = makeHost();
  return functions;
}

const HostFunction *findHostFunction(std::string_view upperName) {
  for (const HostFunction &f : hostFunctions())
    if (sameName(f.name, upperName)) return &f;
  return nullptr;
}

}  // namespace sicvm::stc
