// SPDX-License-Identifier: MIT
// Scopes and frames: name lookup through the chain of scopes, the layout of
// user functions and function blocks, their instances' data segments, the
// code of their bodies, and the refusal of recursive calls.
//
// Calling convention. Each FUNCTION has one data segment; each instance of a
// FUNCTION_BLOCK has one, followed by those of its nested instances (so an
// instance of a block whose layout holds nested instances takes a fixed run
// of segments, and a nested instance lies at a fixed offset from its
// parent). Var 0 of such a segment holds its own segment number, so the
// code of a block reaches the segment of a nested instance with
// `set_ds 1, offset`; the program and every call of a function use
// `set_ds 0, segment` (var 0 of data segment 0 is 0). The segment's cells:
// var 0 and 1, the inputs, the outputs (a function's result var right after
// them), the other vars in declaration order (a standard block's cells
// among them, called with the local segment as their frame), then the
// temporaries of its code.
//
// A call pushes the input values on the param stack, selects the callee's
// segment and calls its code; the code pops them into its inputs
// (`pop_vars` onto the last input), runs its body, pushes its outputs (and a
// function's result, last) and returns; the caller pops them. A FUNCTION's
// omitted inputs are pushed as their declared initial values, and its other
// vars start from their initial values on every call. A FUNCTION_BLOCK
// instance keeps, in the declaring frame, interface cells with the last
// values of its inputs and outputs: a call stores the given inputs there and
// pushes all of them (so omitted inputs keep their previous values),
// `inst.out` and `inst.in` read them, and `inst.in := x` sets an input for
// the next call. Its VAR and outputs keep their values between calls; its
// VAR_TEMP start from their initial values on every call.
#include "stc/compiler_impl.h"

#include <algorithm>
#include <functional>

#include "interp/command_table.h"
#include "sicvm/vm.h"

namespace sicvm::stc {

VarInfo *Compiler::find(const std::string &key) {
  for (Scope *s = scope_; s; s = s->parent)
    if (auto it = s->vars.find(key); it != s->vars.end()) return &it->second;
  return nullptr;
}

Pou *Compiler::findPou(const std::string &key) {
  auto it = pous_.find(key);
  return it == pous_.end() ? nullptr : it->second.get();
}

void Compiler::registerPous(Unit &unit) {
  for (Program &p : unit.pous) {
    if (p.kind == PouKind::PROGRAM || p.key.empty()) continue;
    std::string builtin = findFunctionBlock(p.key) || findStandardFunction(p.key) || findRangeFunction(p.key) ||
                                  findHostFunction(p.key) || conversionName(p.key) || p.key == "MOVE"
                              ? "a library name"
                              : typeOfName(p.key) >= 0 ? "a type name" : "";
    if (!builtin.empty()) {
      diag_.error(p.loc, "'" + p.name + "' is " + builtin + "; choose another name");
      continue;
    }
    if (Pou *earlier = findPou(p.key)) {
      diag_.error(p.loc, "'" + p.name + "' is already declared (at line " + std::to_string(earlier->ast->loc.line) + ")");
      continue;
    }
    auto pou = std::make_unique<Pou>();
    pou->ast = &p;
    pou->entry = newLabel();
    pous_[p.key] = std::move(pou);
  }
}

// The frame of a function or block: its members' cells and scope. A block
// laid out while it is being laid out contains itself: its state stays 1.
void Compiler::layOut(Pou &pou) {
  if (pou.state != 0) return;
  pou.state = 1;
  Scope *savedScope = scope_;
  Frame *savedFrame = frame_;
  pou.scope.parent = &globals_;
  pou.frame.segmentIndex = 1;
  pou.frame.cells = &pou.cells;
  pou.frame.pou = &pou;
  scope_ = &pou.scope;
  frame_ = &pou.frame;
  pou.cells = {build::Var(Value::dint(0)), build::Var(Value::dint(0))};
  // Inputs first, then outputs (and a function's result), then the rest.
  std::vector<VarDecl> inputs, outputs, rest;
  for (VarDecl &d : pou.ast->vars)
    (d.section == Section::INPUT ? inputs : d.section == Section::OUTPUT ? outputs : rest).push_back(std::move(d));
  declare(inputs);
  pou.firstOutput = static_cast<uint32_t>(pou.cells.size());
  declare(outputs);
  if (pou.isFunction()) {
    int t = typeOfName(pou.ast->result.key);
    if (t < 0) {
      diag_.error(pou.ast->result.loc, "unknown type '" + pou.ast->result.name + "' (a function returns an elementary type)");
    } else {
      VarInfo r;
      r.name = pou.ast->name;
      r.loc = pou.ast->loc;
      r.type = pou.result = static_cast<uint8_t>(t);
      r.segment = 1;
      r.used = true;
      r.section = Section::OUTPUT;
      r.number = newCell(zero(r.type));
      pou.scope.vars[pou.ast->key] = r;
    }
  }
  declare(rest);
  // The declarations stay with the unit: move them back in frame order.
  pou.ast->vars.clear();
  for (auto *part : {&inputs, &outputs, &rest})
    for (VarDecl &d : *part) pou.ast->vars.push_back(std::move(d));
  if (pou.isFunction()) pou.segment = allocateInstance(pou);
  scope_ = savedScope;
  frame_ = savedFrame;
  pou.state = 2;
}

uint32_t Compiler::newCell(const build::Var &cell) {
  if (frame_->cells) {
    frame_->cells->push_back(cell);
    return static_cast<uint32_t>(frame_->cells->size() - 1);
  }
  return builder_.var(global_, cell);
}

// The run of empty data segments of one instance; each segment's var 0 is
// its own number.
uint32_t Compiler::allocateInstance(Pou &pou) {
  uint32_t first = builder_.segmentCount();
  for (uint32_t k = 0; k < pou.segments; ++k) builder_.segment(static_cast<int32_t>(first + k), 0);
  return first;
}

// Writes a unit's cells (after var 0 and 1) into an instance's segments,
// once its code and temporaries are known.
void Compiler::fillInstance(Pou &pou, uint32_t segment) {
  for (size_t k = 2; k < pou.cells.size(); ++k) builder_.var(segment, pou.cells[k]);
  for (auto [offset, nested] : pou.nested) fillInstance(*nested, segment + offset);
}

void Compiler::generatePou(Pou &pou) {
  scope_ = &pou.scope;
  frame_ = &pou.frame;
  size_t declared = pou.cells.size();
  place(pou.entry);
  uint32_t in = static_cast<uint32_t>(pou.inputs.size());
  if (in) emit(op("pop_vars"), Operand::var(1, pou.firstInput + in - 1), num(in));
  // A function's vars and a block's VAR_TEMP start from their initial values on every call.
  for (const auto &[key, v] : pou.scope.vars) {
    if (v.constant || v.block || v.section == Section::INPUT || v.type == kError) continue;
    if (!pou.isFunction() && v.section != Section::TEMP) continue;
    if (v.number >= declared) continue;
    emit(op("mov"), constOperand(pou.cells[v.number].init), Operand::none(), v.operand());
  }
  frame_->endLabel = newLabel();
  statementsOf(pou.ast->body);
  place(frame_->endLabel);
  uint32_t out = static_cast<uint32_t>(pou.outputs.size()) + (pou.isFunction() ? 1 : 0);
  if (out) emit(op("push_vars"), Operand::var(1, pou.firstOutput), num(out));
  emit(op("ret"));
  scope_ = &programScope_;
  frame_ = &programFrame_;
}

// Functions and blocks are not reentrant (one frame each): a call that
// leads back to its caller is refused.
void Compiler::checkRecursion() {
  std::map<Pou *, int> state;  // 1 on the path, 2 done
  std::function<void(Pou *)> visit = [&](Pou *p) {
    state[p] = 1;
    for (auto &[callee, loc] : p->calls) {
      if (state[callee] == 1) {
        diag_.error(loc, "recursive call of '" + callee->ast->name +
                             "' (a function or function block cannot call itself, directly or through others)");
      } else if (state[callee] == 0) {
        visit(callee);
      }
    }
    state[p] = 2;
  };
  for (auto &[key, p] : pous_)
    if (state[p.get()] == 0) visit(p.get());
}

}  // namespace sicvm::stc
