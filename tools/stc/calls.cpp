// SPDX-License-Identifier: MIT
// Calls: checking the calls of standard, range, host and conversion functions
// and of the commands written as functions, and generating them and the
// calls of function block instances.
#include "stc/compiler_impl.h"

#include <algorithm>
#include <cctype>
#include <iterator>

#include "interp/command_table.h"
#include "sicvm/vm.h"

namespace sicvm::stc {

uint8_t Compiler::checkArgs(Expr &e, const std::vector<uint8_t> &types, size_t outputs) {
  if (e.args.size() != types.size() && e.args.size() != types.size() + outputs) {
    diag_.error(e.loc, e.text + " takes " + std::to_string(types.size()) + " argument" +
                           (types.size() == 1 ? "" : "s") + ", not " + std::to_string(e.args.size()));
    return kError;
  }
  bool ok = true;
  for (size_t k = 0; k < e.args.size(); ++k) {
    Arg &a = e.args[k];
    if (!a.name.empty()) {
      diag_.error(a.nameLoc, "arguments of " + e.text + " are written without names");
      ok = false;
      continue;
    }
    if (k >= types.size()) {
      if (!isWritable(*a.value)) ok = false;
      continue;
    }
    uint8_t t = check(*a.value, types[k]);
    if (!assignable(*a.value, t, types[k])) ok = false;
  }
  return ok ? kVoid : kError;
}

uint8_t Compiler::checkCall(Expr &e, uint8_t hint) {
  const std::string &name = e.key;
  CallPlan plan;
  uint8_t result = kError;
  if (vars_.count(name) && vars_[name].block) {
    diag_.error(e.loc, "a function block call is a statement of its own: " + e.text + "(...);");
    return kError;
  }
  for (auto &a : e.args)
    if (a.output) {
      diag_.error(a.nameLoc, "'=>' belongs to function block calls");
      return kError;
    }
  if (const StandardFunction *f = findStandardFunction(name)) {
    size_t n = e.args.size();
    if (n < f->minInputs || n > f->maxInputs) {
      diag_.error(e.loc, e.text + " takes " + (f->minInputs == f->maxInputs ? std::to_string(f->minInputs)
                                                                             : std::to_string(f->minInputs) + " to " + std::to_string(f->maxInputs)) +
                             " arguments, not " + std::to_string(n));
      return kError;
    }
    // The value type: the common type of the value arguments.
    uint8_t t = kError;
    bool any = false;
    for (size_t k = f->selector; k < n; ++k) {
      uint8_t a = check(*e.args[k].value);
      if (a == kError) return kError;
      if (isLiteralKind(a)) continue;
      t = !any ? a : (a == t ? t : (isNum(a) && isNum(t) ? common(a, t) : kError));
      if (t == kError) {
        diag_.error(e.args[k].value->loc, e.text + " needs arguments of one type, not " + typeName(a) + " and others");
        return kError;
      }
      any = true;
    }
    if (!any) t = hint != kError && isNum(hint) ? hint : settle(*e.args[f->selector].value, kError);
    plan.kind = CallPlan::STANDARD;
    plan.number = standardNumber(*f, t);
    if (f->selector) plan.inputs.push_back(f->selectorType);
    for (size_t k = f->selector; k < n; ++k) plan.inputs.push_back(t);
    plan.outputs = {t};
    if (f->selector) {
      uint8_t s = check(*e.args[0].value, f->selectorType);
      if (!assignable(*e.args[0].value, s, f->selectorType)) return kError;
    }
    for (size_t k = f->selector; k < n; ++k)
      if (!assignable(*e.args[k].value, e.args[k].value->type, t)) return kError;
    result = t;
  } else if (const RangeFunction *f = findRangeFunction(name)) {
    plan.kind = CallPlan::RANGE;
    plan.number = f->number;
    plan.inputs = f->inputs;
    plan.outputs = f->outputs;
    if (checkArgs(e, plan.inputs) == kError) return kError;
    result = plan.outputs.empty() ? kVoid : plan.outputs[0];
  } else if (const HostFunction *f = findHostFunction(name)) {
    plan.kind = CallPlan::HOST;
    plan.number = f->number;
    plan.inputs = f->inputs;
    plan.outputs = f->outputs;
    if (checkArgs(e, plan.inputs, plan.outputs.size()) == kError) return kError;
    result = plan.outputs.empty() ? kVoid : plan.outputs[0];
  } else if (auto conv = conversionName(name)) {
    auto [from, to, trunc] = *conv;
    plan.kind = CallPlan::CONVERT;
    plan.commands = conversions().path(from, to, trunc);
    if (plan.commands.empty() && from != to) {
      diag_.error(e.loc, "there is no conversion " + e.text);
      return kError;
    }
    plan.inputs = {from};
    plan.outputs = {to};
    if (checkArgs(e, plan.inputs) == kError) return kError;
    result = to;
  } else if (name == "MOVE") {
    if (e.args.size() != 1) {
      diag_.error(e.loc, "MOVE takes 1 argument");
      return kError;
    }
    result = check(*e.args[0].value, hint);
    if (isLiteralKind(result)) result = settle(*e.args[0].value, hint);
    plan.kind = CallPlan::MOVE;
  } else if (int c = mathCommand(e, hint, result); c != 0) {
    if (c < 0) return kError;
    plan.kind = CallPlan::COMMAND;
    plan.commands = {c};
    plan.inputs.assign(e.args.size(), result);
    plan.outputs = {result};
  } else {
    diag_.error(e.loc, "unknown function '" + e.text + "'");
    return kError;
  }
  plans_[&e] = plan;
  return result;
}

// ABS, SQRT, LN, LOG, EXP, SIN ... ATAN, EXPT (one command of the type),
// SHL, SHR, ROL, ROR. Returns the command code, 0 when the name is none
// of these, -1 after an error; `result` receives the type.
int Compiler::mathCommand(Expr &e, uint8_t hint, uint8_t &result) {
  static const char *unary[] = {"ABS", "SQRT", "LN", "LOG", "EXP", "SIN", "COS", "TAN", "ASIN", "ACOS", "ATAN"};
  static const char *binary[] = {"EXPT", "SHL", "SHR", "ROL", "ROR"};
  std::string lower;
  bool isUnary = std::any_of(std::begin(unary), std::end(unary), [&](const char *n) { return e.key == n; });
  bool isBinary = std::any_of(std::begin(binary), std::end(binary), [&](const char *n) { return e.key == n; });
  if (!isUnary && !isBinary) return 0;
  for (char c : e.key) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t n = isUnary ? 1 : 2;
  if (e.args.size() != n) {
    diag_.error(e.loc, e.text + " takes " + std::to_string(n) + " argument" + (n == 1 ? "" : "s"));
    return -1;
  }
  for (auto &a : e.args)
    if (!a.name.empty()) {
      diag_.error(a.nameLoc, "arguments of " + e.text + " are written without names");
      return -1;
    }
  uint8_t t = check(*e.args[0].value, hint);
  if (t == kError) return -1;
  if (isLiteralKind(t)) t = settle(*e.args[0].value, hint != kError && isNum(hint) ? hint : kError);
  // Real functions of an integer work on REAL (INT) or LREAL (DINT).
  bool realOnly = lower != "abs" && lower != "shl" && lower != "shr" && lower != "rol" && lower != "ror";
  uint8_t work = realOnly && t == INT ? REAL : realOnly && t == DINT ? LREAL : t;
  int c = code(lower.c_str(), work);
  if (c < 0) {
    diag_.error(e.args[0].value->loc, e.text + " does not take " + typeName(t));
    return -1;
  }
  if (!assignable(*e.args[0].value, t, work)) return -1;
  if (n == 2) {
    uint8_t s = check(*e.args[1].value, work);
    if (!assignable(*e.args[1].value, s, work)) return -1;
  }
  result = work;
  return c;
}

void Compiler::push(const Operand &o) {
  if (isVarOperand(o)) emit(op("push_vars"), o, num(1));
  else emit(op("push_const"), o);
}

// A library call with its arguments on the param stack; the outputs go to
// `outs` (none: discarded).
void Compiler::libraryCall(Expr &e, const CallPlan &plan, uint32_t callClass, const std::vector<Operand> &outs) {
  // All arguments first, then the pushes: a call inside an argument then
  // never has the outer call's arguments beneath it on the param stack.
  std::vector<Operand> args;
  for (size_t k = 0; k < plan.inputs.size(); ++k) args.push_back(valueAs(*e.args[k].value, plan.inputs[k]));
  for (const Operand &a : args) push(a);
  uint32_t counts = static_cast<uint32_t>(plan.inputs.size() << 8) | static_cast<uint32_t>(plan.outputs.size() << 16);
  emit(op("call"), num(static_cast<uint32_t>(plan.number), callClass | 1u), num(counts));
  for (size_t k = plan.outputs.size(); k-- > 0;) {
    Operand dst = k < outs.size() ? outs[k] : temp(plan.outputs[k]);
    emit(op("pop_vars"), dst, num(1));
  }
}

void Compiler::callInto(Expr &e, const Operand &dst) {
  const CallPlan &plan = plans_[&e];
  switch (plan.kind) {
    case CallPlan::STANDARD:
    case CallPlan::RANGE: libraryCall(e, plan, VM_CALL_STANDARD, {dst}); return;
    case CallPlan::HOST: hostCall(e, plan, dst); return;
    case CallPlan::CONVERT: {
      Operand v = valueAs(*e.args[0].value, plan.inputs[0]);
      if (plan.commands.empty()) emit(op("mov"), v, Operand::none(), dst);
      else convertBy(plan.commands, v, dst);
      return;
    }
    case CallPlan::MOVE: into(*e.args[0].value, dst, e.type); return;
    case CallPlan::COMMAND: {
      Operand a = valueAs(*e.args[0].value, plan.inputs[0]);
      Operand b = e.args.size() > 1 ? valueAs(*e.args[1].value, plan.inputs[1]) : Operand::none();
      emit(plan.commands[0], a, b, dst);
      return;
    }
    case CallPlan::NONE: return;
  }
}

// Host calls: the first output is the value; with as many extra
// arguments as outputs, those receive the outputs.
void Compiler::hostCall(Expr &e, const CallPlan &plan, const Operand &dst) {
  std::vector<Operand> outs;
  std::vector<std::pair<Expr *, uint8_t>> stores;
  bool explicitOuts = e.args.size() > plan.inputs.size();
  for (size_t k = 0; k < plan.outputs.size(); ++k) {
    if (explicitOuts) {
      Expr &target = *e.args[plan.inputs.size() + k].value;
      if (target.kind == Expr::NAME && target.type == plan.outputs[k]) {
        outs.push_back(Operand::var(0, vars_[target.key].number));
      } else {
        outs.push_back(temp(plan.outputs[k]));
        stores.push_back({&target, static_cast<uint8_t>(k)});
      }
    } else {
      outs.push_back(k == 0 && dst.kind == 2 ? dst : temp(plan.outputs[k]));
    }
  }
  libraryCall(e, plan, VM_CALL_HOST, outs);
  for (auto [target, k] : stores) store(*target, outs[k], plan.outputs[k]);
  // Used as a value as well: the first output.
  if (explicitOuts && dst.kind == 2) emit(op("mov"), outs[0], Operand::none(), dst);
}

void Compiler::callStatement(Expr &call) {
  auto it = vars_.find(call.key);
  if (it != vars_.end() && it->second.block) {
    it->second.used = true;
    blockCall(call, it->second);
    return;
  }
  uint8_t t = check(call);
  if (t == kError) return;
  const CallPlan &plan = plans_[&call];
  if (plan.kind == CallPlan::HOST) {
    hostCall(call, plan, Operand::none());
    return;
  }
  diag_.warning(call.loc, "the result of " + call.text + " is not used");
  Operand dummy = temp(t);
  into(call, dummy, t);
}

void Compiler::blockCall(Expr &call, VarInfo &v) {
  const FunctionBlock &fb = *v.block;
  std::vector<std::pair<Expr *, const BlockCell *>> outputs;
  bool ok = true;
  std::vector<std::pair<Expr *, uint32_t>> inputs;
  for (Arg &a : call.args) {
    if (a.name.empty()) {
      diag_.error(a.value->loc, std::string("arguments of function block ") + fb.name + " are written with names: " +
                                    fb.cells[0].name + " := ...");
      ok = false;
      continue;
    }
    const BlockCell *cell = nullptr;
    for (size_t k = 0; k < fb.cells.size(); ++k)
      if (fb.cells[k].name[0] != ' ' && a.name == fb.cells[k].name) cell = &fb.cells[k];
    size_t k = cell ? static_cast<size_t>(cell - fb.cells.data()) : 0;
    if (!cell || (a.output ? k < fb.inputs : k >= fb.inputs)) {
      diag_.error(a.nameLoc, std::string(fb.name) + " has no " + (a.output ? "output '" : "input '") + a.name + "'");
      ok = false;
      continue;
    }
    if (a.output) {
      if (!isWritable(*a.value)) {
        ok = false;
        continue;
      }
      if (!assignable(*a.value, cell->type, a.value->type)) ok = false;
      outputs.push_back({a.value.get(), cell});
    } else {
      uint8_t t = check(*a.value, cell->type);
      if (!assignable(*a.value, t, cell->type)) ok = false;
      inputs.push_back({a.value.get(), static_cast<uint32_t>(k)});
    }
  }
  if (!ok) return;
  for (auto [value, k] : inputs) into(*value, Operand::var(1, v.number + k), fb.cells[k].type);
  uint32_t counts = v.number | static_cast<uint32_t>(fb.inputs << 8) | static_cast<uint32_t>(fb.outputs << 16);
  emit(op("call"), num(static_cast<uint32_t>(fb.number), VM_CALL_STANDARD | 2u), num(counts));
  for (auto [target, cell] : outputs)
    store(*target, Operand::var(1, v.number + static_cast<uint32_t>(cell - fb.cells.data())), cell->type);
}

}  // namespace sicvm::stc
