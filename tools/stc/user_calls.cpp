// SPDX-License-Identifier: MIT
// Calls of user functions and function block instances, and the members of
// instances (`inst.out`); the calling convention is described in scopes.cpp.
#include "stc/compiler_impl.h"

#include <algorithm>

#include "interp/command_table.h"
#include "sicvm/vm.h"

namespace sicvm::stc {

// `inst.name` where inst is an instance of a user block: the member
// (an input or output) and, through `instance`, the instance. Null, and
// `instance` untouched, when the base is no such instance.
VarInfo *Compiler::userMember(Expr &e, VarInfo **instance) {
  Expr &base = *e.operands[0];
  if (base.kind != Expr::NAME) return nullptr;
  VarInfo *v = find(base.key);
  if (!v || !v->pou) return nullptr;
  v->used = true;
  *instance = v;
  auto it = v->pou->scope.vars.find(e.key);
  if (it == v->pou->scope.vars.end() ||
      (it->second.section != Section::INPUT && it->second.section != Section::OUTPUT) || it->second.constant) {
    diag_.error(e.loc, v->pou->ast->name + " has no input or output '" + e.text + "'");
    return nullptr;
  }
  return &it->second;
}

// Arguments of a function: positional in the order of its inputs, or
// formal (`IN := x` for inputs, `OUT => y` for outputs); not both.
uint8_t Compiler::checkUserCall(Expr &e, Pou &pou, CallPlan &plan) {
  if (pou.result == kVoid) return kError;  // its result type was wrong: reported there
  plan.kind = CallPlan::USER;
  plan.pou = &pou;
  plan.args.assign(pou.inputs.size(), nullptr);
  plan.outArgs.assign(pou.outputs.size(), nullptr);
  bool ok = true, formal = !e.args.empty() && !e.args[0].name.empty();
  for (size_t k = 0; k < e.args.size(); ++k) {
    Arg &a = e.args[k];
    if (a.name.empty() == formal) {
      diag_.error(a.value->loc, "the arguments of " + pou.ast->name + " are either all formal (name := value) or all positional");
      return kError;
    }
    size_t slot = k;
    const std::vector<std::string> &names = a.output ? pou.outputs : pou.inputs;
    if (formal) {
      slot = std::find(names.begin(), names.end(), a.name) - names.begin();
      if (slot == names.size()) {
        diag_.error(a.nameLoc, pou.ast->name + " has no " + (a.output ? "output '" : "input '") + a.name + "'");
        ok = false;
        continue;
      }
      if ((a.output ? plan.outArgs[slot] : plan.args[slot]) != nullptr) {
        diag_.error(a.nameLoc, "'" + a.name + "' is given twice");
        ok = false;
        continue;
      }
    } else if (slot >= names.size()) {
      diag_.error(e.loc, e.text + " takes " + std::to_string(names.size()) + " argument" +
                             (names.size() == 1 ? "" : "s") + ", not " + std::to_string(e.args.size()));
      return kError;
    }
    const VarInfo &member = pou.scope.vars[names[slot]];
    if (a.output) {
      if (!isWritable(*a.value)) {
        ok = false;
        continue;
      }
      if (!assignable(*a.value, member.type, a.value->type)) ok = false;
      plan.outArgs[slot] = a.value.get();
    } else {
      uint8_t t = check(*a.value, member.type);
      if (!assignable(*a.value, t, member.type)) ok = false;
      plan.args[slot] = a.value.get();
    }
  }
  return ok ? pou.result : kError;
}

// set_ds to the callee's segment, then the call of its code.
void Compiler::callCode(Pou &pou, uint32_t segmentIndex, uint32_t segment, Loc at) {
  if (frame_->pou) frame_->pou->calls.push_back({&pou, at});
  emit(op("set_ds"), Operand::var(segmentIndex, 0), num(segment));
  uint32_t call = emit(op("call"), num(0, VM_CALL_CODE | 1u), num(0));
  if (labels_[pou.entry].address >= 0) target(call, 0, static_cast<uint32_t>(labels_[pou.entry].address));
  else labels_[pou.entry].fixups.push_back({call, 0});
}

void Compiler::userCall(Expr &e, const CallPlan &plan, const Operand &dst) {
  Pou &pou = *plan.pou;
  // All argument values first, then the pushes: a call inside an argument
  // finds the param stack as it was.
  std::vector<Operand> values;
  for (size_t k = 0; k < plan.args.size(); ++k) {
    const VarInfo &member = pou.scope.vars[pou.inputs[k]];
    values.push_back(plan.args[k] ? valueAs(*plan.args[k], member.type)
                                  : constOperand(pou.cells[member.number].init));
  }
  for (const Operand &v : values) push(v);
  callCode(pou, 0, pou.segment, e.loc);
  emit(op("pop_vars"), isVarOperand(dst) ? dst : temp(pou.result), num(1));
  for (size_t k = pou.outputs.size(); k-- > 0;) {
    uint8_t t = pou.scope.vars[pou.outputs[k]].type;
    Operand out = temp(t);
    emit(op("pop_vars"), out, num(1));
    if (plan.outArgs[k]) store(*plan.outArgs[k], out, t);
  }
}

// inst(IN := x, OUT => y): the given inputs into the interface cells, all
// of them pushed, the instance's code called, the outputs popped into the
// interface cells and stored to their targets.
void Compiler::userBlockCall(Expr &call, VarInfo &v) {
  Pou &pou = *v.pou;
  bool ok = true;
  std::vector<std::pair<Expr *, const VarInfo *>> inputs, outputs;
  for (Arg &a : call.args) {
    if (a.name.empty()) {
      diag_.error(a.value->loc, "arguments of function block " + pou.ast->name + " are written with names: " +
                                    (pou.inputs.empty() ? std::string("IN") : pou.scope.vars[pou.inputs[0]].name) + " := ...");
      ok = false;
      continue;
    }
    auto it = pou.scope.vars.find(a.name);
    Section wanted = a.output ? Section::OUTPUT : Section::INPUT;
    if (it == pou.scope.vars.end() || it->second.section != wanted || it->second.constant) {
      diag_.error(a.nameLoc, pou.ast->name + " has no " + (a.output ? "output '" : "input '") + a.name + "'");
      ok = false;
      continue;
    }
    const VarInfo &member = it->second;
    if (a.output) {
      if (!isWritable(*a.value)) {
        ok = false;
        continue;
      }
      if (!assignable(*a.value, member.type, a.value->type)) ok = false;
      outputs.push_back({a.value.get(), &member});
    } else {
      uint8_t t = check(*a.value, member.type);
      if (!assignable(*a.value, t, member.type)) ok = false;
      inputs.push_back({a.value.get(), &member});
    }
  }
  if (!ok) return;
  auto cell = [&](const VarInfo &member) { return Operand::var(v.segment, v.number + member.number - pou.firstInput); };
  for (auto [value, member] : inputs) into(*value, cell(*member), member->type);
  uint32_t in = static_cast<uint32_t>(pou.inputs.size()), out = static_cast<uint32_t>(pou.outputs.size());
  if (in) emit(op("push_vars"), Operand::var(v.segment, v.number), num(in));
  // The program reaches an instance's segment by its number, a block its
  // nested instance's by the offset from its own.
  callCode(pou, frame_->pou ? 1 : 0, v.instance, call.loc);
  if (out) emit(op("pop_vars"), Operand::var(v.segment, v.number + in + out - 1), num(out));
  for (auto [target, member] : outputs) store(*target, cell(*member), member->type);
}

}  // namespace sicvm::stc
