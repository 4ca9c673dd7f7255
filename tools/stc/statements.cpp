// SPDX-License-Identifier: MIT
// Code of statements.
#include "stc/compiler_impl.h"

#include <algorithm>
#include <string>

#include "interp/command_table.h"
#include "sicvm/vm.h"

namespace sicvm::stc {

void Compiler::generate(Program &p) {
  size_t mainLabel = newLabel();
  if (blocks_) {
    emit(op("set_ds"), Operand::var(0, 0), num(*blocks_));
    uint32_t at = emit(op("call"), num(0, VM_CALL_CODE | 1u), num(0));
    labels_[mainLabel].fixups.push_back({at, 0});
    emit(op("ret"));
    place(mainLabel);
  }
  endLabel_ = newLabel();
  emit(op("load_points"), num(0));
  statementsOf(p.body);
  place(endLabel_);
  emit(op("save_points"), num(0));
  emit(op("ret"));
}

void Compiler::statementsOf(Block &block) {
  for (auto &s : block) {
    if (diag_.full()) return;
    auto saved = inUse_;
    statement(*s);
    inUse_ = saved;
  }
}

void Compiler::statement(Stmt &s) {
  ++statements_;
  statementLoc_ = s.loc;
  switch (s.kind) {
    case Stmt::ASSIGN: assign(s); break;
    case Stmt::CALL: callStatement(*s.value); break;
    case Stmt::IF: ifStatement(s); break;
    case Stmt::CASE: caseStatement(s); break;
    case Stmt::FOR: forStatement(s); break;
    case Stmt::WHILE: {
      size_t top = newLabel(), end = newLabel();
      place(top);
      if (condition(*s.value)) branch(*s.value, false, end);
      loop(s.body, end);
      jump(op("jmp"), top);
      place(end);
      break;
    }
    case Stmt::REPEAT: {
      size_t top = newLabel(), end = newLabel();
      place(top);
      loop(s.body, end);
      if (condition(*s.value)) branch(*s.value, false, top);
      place(end);
      break;
    }
    case Stmt::EXIT:
      if (loops_.empty()) diag_.error(s.loc, "EXIT outside of a loop");
      else jump(op("jmp"), loops_.back().exitLabel);
      break;
    case Stmt::RETURN: jump(op("jmp"), endLabel_); break;
  }
}

void Compiler::loop(Block &body, size_t exitLabel) {
  loops_.push_back({exitLabel});
  statementsOf(body);
  loops_.pop_back();
}

bool Compiler::condition(Expr &e) {
  uint8_t t = check(e, BOOL);
  if (t == kError) return false;
  if (t != BOOL) {
    diag_.error(e.loc, std::string("a condition is BOOL, not ") + typeName(t));
    return false;
  }
  return true;
}

// Stores the operand `v` of type `from` into a target expression.
void Compiler::store(Expr &target, const Operand &v, uint8_t from) {
  if (target.kind == Expr::INDEX) {
    VarInfo &a = vars_[target.operands[0]->key];
    Operand x = v;
    if (from != a.type) {
      x = temp(a.type);
      convert(v, from, x, a.type);
    }
    emit(op("aput"), index(*target.operands[1], a), x, Operand::array(0, a.number));
    return;
  }
  Operand dst = Operand::var(0, vars_[target.key].number);
  if (from == target.type) emit(op("mov"), v, Operand::none(), dst);
  else convert(v, from, dst, target.type);
}

void Compiler::assign(Stmt &s) {
  Expr &target = *s.target;
  if (target.kind == Expr::MEMBER) {
    diag_.error(target.loc, "function block inputs are set in its call: instance(" + target.text + " := ...)");
    return;
  }
  if (!isWritable(target)) {
    check(*s.value);
    return;
  }
  uint8_t want = target.type;
  uint8_t t = check(*s.value, want);
  if (t == kVoid) {
    diag_.error(s.value->loc, s.value->text + " gives no value");
    return;
  }
  if (!assignable(*s.value, t, want)) return;
  if (target.kind == Expr::INDEX) {
    VarInfo &a = vars_[target.operands[0]->key];
    Operand v = valueAs(*s.value, a.type);
    emit(op("aput"), index(*target.operands[1], a), v, Operand::array(0, a.number));
    return;
  }
  into(*s.value, Operand::var(0, vars_[target.key].number), want);
}

void Compiler::ifStatement(Stmt &s) {
  size_t end = newLabel();
  for (size_t k = 0; k < s.arms.size(); ++k) {
    IfArm &arm = s.arms[k];
    size_t next = newLabel();
    bool last = k + 1 == s.arms.size() && !s.hasElse;
    if (condition(*arm.condition)) branch(*arm.condition, false, last ? end : next);
    statementsOf(arm.body);
    if (!last) jump(op("jmp"), end);
    place(next);
  }
  if (s.hasElse) statementsOf(s.body);
  place(end);
}

void Compiler::caseStatement(Stmt &s) {
  uint8_t t = check(*s.value, DINT);
  if (t == kError) return;
  if (!isInt(t)) {
    diag_.error(s.value->loc, std::string("a CASE selector is an integer, not ") + typeName(t));
    return;
  }
  if (isLiteralKind(t)) t = settle(*s.value, DINT);
  Operand sel = value(*s.value);
  std::vector<size_t> bodies;
  std::vector<std::pair<int64_t, int64_t>> seen;
  for (CaseArm &arm : s.cases) {
    size_t body = newLabel();
    bodies.push_back(body);
    for (CaseLabel &label : arm.labels) {
      auto low = constant(*label.low, t);
      auto high = label.high ? constant(*label.high, t) : low;
      if (!low || !high) continue;
      int64_t lo = t == INT ? low->v.i16 : low->v.i32, hi = t == INT ? high->v.i16 : high->v.i32;
      if (lo > hi) {
        diag_.error(label.low->loc, "empty case range " + std::to_string(lo) + ".." + std::to_string(hi));
        continue;
      }
      for (auto [a, b] : seen)
        if (lo <= b && a <= hi) {
          diag_.error(label.low->loc, "case value " + std::to_string(std::max(lo, a)) + " appears twice");
          break;
        }
      seen.push_back({lo, hi});
      int cmd = code("cmd", t);
      if (lo == hi) {
        emit(cmd, sel, constOperand(*low));
        jump(op("jmp_eq"), body);
      } else {
        size_t skip = newLabel();
        emit(cmd, sel, constOperand(*low));
        jump(op("jmp_lt"), skip);
        emit(cmd, sel, constOperand(*high));
        jump(op("jmp_le"), body);
        place(skip);
      }
    }
  }
  size_t end = newLabel();
  if (s.hasElse) statementsOf(s.body);
  jump(op("jmp"), end);
  for (size_t k = 0; k < s.cases.size(); ++k) {
    place(bodies[k]);
    statementsOf(s.cases[k].body);
    if (k + 1 < s.cases.size()) jump(op("jmp"), end);
  }
  place(end);
}

void Compiler::forStatement(Stmt &s) {
  Expr &var = *s.target;
  VarInfo *v = lookup(var);
  if (!v) return;
  if (v->constant || v->array || v->block || !isInt(v->type)) {
    diag_.error(var.loc, "a FOR loop counts with an INT or DINT variable");
    return;
  }
  var.type = v->type;
  uint8_t t = v->type;
  Expr *parts[] = {s.value.get(), s.to.get(), s.by.get()};
  for (Expr *p : parts) {
    if (!p) continue;
    uint8_t pt = check(*p, t);
    if (!assignable(*p, pt, t)) return;
  }
  Operand counter = Operand::var(0, v->number);
  into(*s.value, counter, t);
  // The end and the step are evaluated once, before the first round.
  Operand end = literalValue(*s.to) ? valueAs(*s.to, t) : temp(t);
  if (!literalValue(*s.to)) into(*s.to, end, t);
  std::optional<Value> stepConst = s.by ? literalValue(*s.by) : std::optional<Value>(typed(t, 1));
  if (stepConst) stepConst = convertConstant(*stepConst, t);
  Operand step = stepConst ? constOperand(*stepConst) : temp(t);
  if (!stepConst) into(*s.by, step, t);
  size_t top = newLabel(), exit = newLabel(), body = newLabel();
  int cmd = code("cmd", t);
  place(top);
  if (stepConst) {
    int64_t k = t == INT ? stepConst->v.i16 : stepConst->v.i32;
    if (k == 0) diag_.error(s.by->loc, "a FOR step of 0 never ends");
    emit(cmd, counter, end);
    jump(k > 0 ? op("jmp_gt") : op("jmp_lt"), exit);
  } else {
    size_t down = newLabel();
    emit(cmd, step, constOperand(zero(t)));
    jump(op("jmp_lt"), down);
    emit(cmd, counter, end);
    jump(op("jmp_gt"), exit);
    jump(op("jmp"), body);
    place(down);
    emit(cmd, counter, end);
    jump(op("jmp_lt"), exit);
  }
  place(body);
  loop(s.body, exit);
  emit(code("add", t), counter, step, counter);
  jump(op("jmp"), top);
  place(exit);
}

}  // namespace sicvm::stc
