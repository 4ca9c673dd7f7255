// SPDX-License-Identifier: MIT
// Declarations: vars, constants, arrays and function block instances take
// their places in the image; bound vars get their point links.
#include "stc/compiler_impl.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

namespace sicvm::stc {

// Declares vars into the current scope, their cells into the current
// frame: data segment 0 for the program, the unit's cells for a function or
// function block.
void Compiler::declare(std::vector<VarDecl> &vars) {
  Pou *unit = frame_->pou;
  for (VarDecl &d : vars) {
    if (diag_.full()) return;
    Scope &into = d.section == Section::GLOBAL && !unit ? globals_ : *scope_;
    VarInfo *earlier = into.vars.count(d.key) ? &into.vars[d.key] : nullptr;
    if (!unit && !earlier) earlier = globals_.vars.count(d.key) ? &globals_.vars[d.key] : nullptr;
    if (earlier) {
      diag_.error(d.loc, "'" + d.name + "' is already declared (at line " + std::to_string(earlier->loc.line) + ")");
      continue;
    }
    if (unit && unit->isFunction() && d.key == unit->ast->key) {
      diag_.error(d.loc, "'" + d.name + "' is the function's result; it is not declared again");
      continue;
    }
    VarInfo v;
    v.name = d.name;
    v.loc = d.loc;
    v.section = d.section;
    v.segment = frame_->segmentIndex;
    if (d.section == Section::IN_OUT) {
      diag_.error(d.loc, unit ? "VAR_IN_OUT is not supported yet" : "VAR_IN_OUT belongs to functions and function blocks");
      continue;
    }
    if (unit && d.section == Section::GLOBAL) {
      diag_.error(d.loc, "VAR_GLOBAL belongs to the PROGRAM");
      continue;
    }
    if (unit && d.binding.present) {
      diag_.error(d.binding.loc, "only the PROGRAM's vars can be bound to points");
      continue;
    }
    bool member = unit && (d.section == Section::INPUT || d.section == Section::OUTPUT);
    const FunctionBlock *fb = findFunctionBlock(d.type.key);
    Pou *user = findPou(d.type.key);
    if (user && user->isFunction()) user = nullptr;
    if ((fb || user) && !d.type.array) {
      if (member || (unit && unit->isFunction())) {
        diag_.error(d.type.loc, std::string(member ? "an input or output" : "a FUNCTION's var") +
                                    " cannot be a function block instance");
        continue;
      }
      if (fb) declareBlock(d, v, *fb);
      else declareInstance(d, v, *user);
      continue;
    }
    if ((fb || user) && d.type.array) {
      diag_.error(d.type.loc, "arrays of function block instances are not supported yet");
      continue;
    }
    int t = typeOfName(d.type.key);
    if (t < 0) {
      diag_.error(d.type.loc, "unknown type '" + d.type.name + "'");
      v.type = kError;  // later uses of the name stay quiet
      into.vars[d.key] = v;
      continue;
    }
    v.type = static_cast<uint8_t>(t);
    if (d.type.array) {
      if (unit) {
        diag_.error(d.type.loc, "arrays inside a FUNCTION or FUNCTION_BLOCK are not supported yet");
        continue;
      }
      declareArray(d, v, into);
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
      into.vars[d.key] = v;
      continue;
    }
    build::Var var(init);
    if (d.binding.present) bind(d, var);
    v.bound = d.binding.present;
    v.number = newCell(var);
    into.vars[d.key] = v;
    if (member) (d.section == Section::INPUT ? unit->inputs : unit->outputs).push_back(d.key);
  }
}

// A standard block's cells: in the program they are the data segment
// "blocks", in a function block they are cells of its own frame; either
// way the block runs on the local segment.
void Compiler::declareBlock(VarDecl &d, VarInfo &v, const FunctionBlock &fb) {
  if (d.binding.present) diag_.error(d.binding.loc, "a function block instance cannot be bound to a point");
  if (d.init || d.listInit) diag_.error(d.loc, "a function block instance takes no initial value");
  if (d.section == Section::CONSTANT) diag_.error(d.loc, "a function block instance cannot be a constant");
  v.block = &fb;
  v.segment = 1;
  if (frame_->cells) {
    v.number = static_cast<uint32_t>(frame_->cells->size());
  } else {
    if (!blocks_) blocks_ = builder_.segment(0, 0);
    v.number = builder_.varCount(*blocks_);
  }
  if (v.number > 255 - fb.cells.size()) {
    diag_.error(d.loc, "too many function block instances (their cells must fit in 255 vars)");
    return;
  }
  for (const BlockCell &cell : fb.cells) {
    if (frame_->cells) frame_->cells->push_back(typed(cell.type, cell.init));
    else builder_.var(*blocks_, typed(cell.type, cell.init));
  }
  scope_->vars[d.key] = v;
}

// An instance of a user function block: its interface cells (a copy of its
// inputs and outputs) in the declaring frame, its state in data segments of
// its own.
void Compiler::declareInstance(VarDecl &d, VarInfo &v, Pou &pou) {
  if (d.binding.present) diag_.error(d.binding.loc, "a function block instance cannot be bound to a point");
  if (d.init || d.listInit) diag_.error(d.loc, "a function block instance takes no initial value");
  if (d.section == Section::CONSTANT) diag_.error(d.loc, "a function block instance cannot be a constant");
  layOut(pou);
  if (pou.state != 2) {
    diag_.error(d.type.loc, "function block " + pou.ast->name + " contains an instance of itself");
    return;
  }
  v.pou = &pou;
  v.number = static_cast<uint32_t>(-1);
  for (const auto *keys : {&pou.inputs, &pou.outputs})
    for (const std::string &key : *keys) {
      uint32_t n = newCell(pou.cells[pou.scope.vars[key].number]);
      if (v.number == static_cast<uint32_t>(-1)) v.number = n;
    }
  if (frame_->pou) {
    Pou &parent = *frame_->pou;
    v.instance = parent.segments;
    parent.segments += pou.segments;
    parent.nested.push_back({v.instance, &pou});
    parent.nestedNames.push_back({v.name, v.instance});
  } else {
    v.instance = allocateInstance(pou);
    instances_.push_back({v.instance, &pou});
  }
  scope_->vars[d.key] = v;
}

void Compiler::declareArray(VarDecl &d, VarInfo &v, Scope &into) {
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
  into.vars[d.key] = v;
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
