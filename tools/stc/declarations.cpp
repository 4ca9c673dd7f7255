// SPDX-License-Identifier: MIT
// Declarations: vars, constants, arrays and function block instances take
// their places in the image; bound vars get their point links.
#include "stc/compiler_impl.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

namespace sicvm::stc {

void Compiler::declare(Program &p) {
  for (VarDecl &d : p.vars) {
    if (diag_.full()) return;
    if (vars_.count(d.key)) {
      diag_.error(d.loc, "'" + d.name + "' is already declared (at line " +
                             std::to_string(vars_[d.key].loc.line) + ")");
      continue;
    }
    VarInfo v;
    v.name = d.name;
    v.loc = d.loc;
    if (const FunctionBlock *fb = findFunctionBlock(d.type.key); fb && !d.type.array) {
      declareBlock(d, v, *fb);
      continue;
    }
    int t = typeOfName(d.type.key);
    if (t < 0) {
      diag_.error(d.type.loc, "unknown type '" + d.type.name + "'");
      v.type = kError;  // later uses of the name stay quiet
      vars_[d.key] = v;
      continue;
    }
    v.type = static_cast<uint8_t>(t);
    if (d.type.array) {
      declareArray(d, v);
      continue;
    }
    if (d.listInit) diag_.error(d.loc, "'" + d.name + "' is not an array; its initial value is one value");
    Value init = zero(v.type);
    if (d.init) {
      if (auto c = constant(*d.init, v.type)) init = *c;
    } else if (d.section == Section::CONSTANT) {
      diag_.error(d.loc, "constant '" + d.name + "' needs a value");
    }
    if (d.section == Section::CONSTANT) {
      if (d.binding.present) diag_.error(d.binding.loc, "a constant cannot be bound to a point");
      v.constant = true;
      v.value = init;
      v.used = true;
      vars_[d.key] = v;
      continue;
    }
    build::Var var(init);
    if (d.binding.present) bind(d, var);
    v.bound = d.binding.present;
    v.number = builder_.var(global_, var);
    vars_[d.key] = v;
  }
}

void Compiler::declareBlock(VarDecl &d, VarInfo &v, const FunctionBlock &fb) {
  if (d.binding.present) diag_.error(d.binding.loc, "a function block instance cannot be bound to a point");
  if (d.init || d.listInit) diag_.error(d.loc, "a function block instance takes no initial value");
  if (d.section == Section::CONSTANT) diag_.error(d.loc, "a function block instance cannot be a constant");
  if (!blocks_) blocks_ = builder_.segment(0, 0);
  v.block = &fb;
  v.number = builder_.varCount(*blocks_);
  if (v.number > 255 - fb.cells.size()) {
    diag_.error(d.loc, "too many function block instances (their cells must fit in 255 vars)");
    return;
  }
  for (const BlockCell &cell : fb.cells) builder_.var(*blocks_, typed(cell.type, cell.init));
  vars_[d.key] = v;
}

void Compiler::declareArray(VarDecl &d, VarInfo &v) {
  auto low = constant(*d.type.low, DINT), high = constant(*d.type.high, DINT);
  if (!low || !high) return;
  v.array = true;
  v.low = low->v.i32;
  v.count = static_cast<int64_t>(high->v.i32) - v.low + 1;
  if (v.count < 1 || v.count > 65536) {
    diag_.error(d.type.loc, "array bounds [" + std::to_string(low->v.i32) + ".." + std::to_string(high->v.i32) +
                                "] must hold 1 to 65536 elements");
    return;
  }
  if (d.binding.present) diag_.error(d.binding.loc, "an array cannot be bound to a point");
  if (d.section == Section::CONSTANT) diag_.error(d.loc, "constant arrays are not supported");
  build::Array a;
  a.type = v.type;
  a.elementCount = static_cast<uint32_t>(v.count);
  if (d.init && !d.listInit) diag_.error(d.init->loc, "an array's initial value is a list: [a, b, ...]");
  if (static_cast<int64_t>(d.inits.size()) > v.count)
    diag_.error(d.inits[v.count]->loc, "more initial values than the array's " + std::to_string(v.count) +
                                            " elements");
  for (auto &e : d.inits)
    if (auto c = constant(*e, v.type)) a.init.push_back(*c);
  v.number = builder_.array(a);
  vars_[d.key] = v;
}

// %PV, %PI, %PQ: the value (field 44) read and written, read only, written
// only; %PS, %PSI, %PSQ: the status (field 43) likewise. The point ID follows.
void Compiler::bind(VarDecl &d, build::Var &var) {
  struct Form {
    const char *prefix;
    bool load, save;
    int8_t field;
  };
  static const Form forms[] = {{"PSI", true, false, 43}, {"PSQ", false, true, 43}, {"PS", true, true, 43},
                               {"PV", true, true, 44},   {"PI", true, false, 44},  {"PQ", false, true, 44}};
  std::string text;
  for (char c : d.binding.text) text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const Form &f : forms) {
    size_t n = std::strlen(f.prefix);
    if (text.compare(0, n, f.prefix) != 0) continue;
    std::string digits = text.substr(n);
    if (digits.empty() || digits.size() > 10 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) break;
    long long id = std::stoll(digits);
    if (id < 1 || id > std::numeric_limits<int32_t>::max()) break;
    var.load = f.load;
    var.save = f.save;
    var.pointField = f.field;
    var.pointId = static_cast<int32_t>(id);
    return;
  }
  diag_.error(d.binding.loc, "bad point address '%" + d.binding.text +
                                 "': expected %PV, %PI, %PQ, %PS, %PSI or %PSQ and a point ID from 1");
}

}  // namespace sicvm::stc
