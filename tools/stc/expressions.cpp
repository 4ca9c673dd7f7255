// SPDX-License-Identifier: MIT
// Code of expressions: their values as operands, conversions, and branches
// on conditions.
#include "stc/compiler_impl.h"

#include <string>

#include "interp/command_table.h"

namespace sicvm::stc {
namespace {

const char *compareSuffix(Op op) {
  switch (op) {
    case Op::EQ: return "eq";
    case Op::NE: return "ne";
    case Op::LT: return "lt";
    case Op::LE: return "le";
    case Op::GT: return "gt";
    default: return "ge";
  }
}

Op negate(Op op) {
  switch (op) {
    case Op::EQ: return Op::NE;
    case Op::NE: return Op::EQ;
    case Op::LT: return Op::GE;
    case Op::LE: return Op::GT;
    case Op::GT: return Op::LE;
    default: return Op::LT;
  }
}

bool hasCall(const Expr &e) {
  if (e.kind == Expr::CALL) return true;
  for (auto &o : e.operands)
    if (hasCall(*o)) return true;
  return false;
}

}  // namespace

// The value of a checked expression, as an operand of its own type.
Operand Compiler::value(Expr &e) {
  if (isLiteralKind(e.type)) settle(e, kError);
  if (isLiteral(e)) return constOperand(literal(e));
  switch (e.kind) {
    case Expr::NAME: {
      VarInfo &v = vars_[e.key];
      if (v.constant) return constOperand(convertConstant(v.value, e.type));
      return Operand::var(0, v.number);
    }
    case Expr::MEMBER: {
      VarInfo *v = nullptr;
      const BlockCell *cell = memberCell(e, &v);
      return Operand::var(1, v->number + static_cast<uint32_t>(cell - v->block->cells.data()));
    }
    default: {
      Operand t = temp(e.type);
      into(e, t, e.type);
      return t;
    }
  }
}

// The value of `e` converted to type `to`.
Operand Compiler::valueAs(Expr &e, uint8_t to) {
  if (isLiteralKind(e.type)) settle(e, to);
  if (auto c = literalValue(e)) return constOperand(convertConstant(*c, to));
  Operand v = value(e);
  if (e.type == to) return v;
  Operand t = temp(to);
  convert(v, e.type, t, to);
  return t;
}

void Compiler::convert(const Operand &src, uint8_t from, const Operand &dst, uint8_t to) {
  convertBy(conversions().path(from, to), src, dst);
}

// Each command of the chain converts into an LREAL temporary, the last one into `dst`.
void Compiler::convertBy(const std::vector<int> &chain, const Operand &src, const Operand &dst) {
  Operand at = src;
  for (size_t k = 0; k < chain.size(); ++k) {
    Operand next = k + 1 == chain.size() ? dst : temp(LREAL);
    emit(chain[k], at, Operand::none(), next);
    at = next;
  }
}

// Computes `e` into the variable operand `dst` of type `to`.
void Compiler::into(Expr &e, const Operand &dst, uint8_t to) {
  if (isLiteralKind(e.type)) settle(e, to);
  if (e.type != to && e.type != kVoid) {
    if (auto c = literalValue(e)) {
      emit(op("mov"), constOperand(convertConstant(*c, to)), Operand::none(), dst);
      return;
    }
    Operand v = value(e);
    convert(v, e.type, dst, to);
    return;
  }
  switch (e.kind) {
    case Expr::UNARY: unaryInto(e, dst); return;
    case Expr::BINARY: binaryInto(e, dst); return;
    case Expr::CALL: callInto(e, dst); return;
    case Expr::INDEX: {
      VarInfo &v = vars_[e.operands[0]->key];
      emit(op("aget"), Operand::array(0, v.number), index(*e.operands[1], v), dst);
      return;
    }
    default: {
      Operand v = value(e);
      if (!sameOperand(v, dst)) emit(op("mov"), v, Operand::none(), dst);
    }
  }
}

Operand Compiler::index(Expr &ix, const VarInfo &v) {
  if (auto c = literalValue(ix)) {
    Value d = convertConstant(*c, DINT);
    return constOperand(Value::dint(static_cast<int32_t>(static_cast<int64_t>(d.v.i32) - v.low)));
  }
  Operand i = valueAs(ix, DINT);
  if (v.low == 0) return i;
  Operand t = temp(DINT);
  emit(op("sub_dint"), i, constOperand(Value::dint(static_cast<int32_t>(v.low))), t);
  return t;
}

void Compiler::unaryInto(Expr &e, const Operand &dst) {
  Operand a = valueAs(*e.operands[0], e.type);
  emit(code(e.op == Op::NEG ? "neg" : "not", e.type), a, Operand::none(), dst);
}

// cmd_T of a comparison node's operands.
void Compiler::compare(Expr &e) {
  Expr &l = *e.operands[0], &r = *e.operands[1];
  uint8_t t = l.type == r.type ? l.type : common(l.type, r.type);
  emit(code("cmd", t), valueAs(l, t), valueAs(r, t));
}

void Compiler::binaryInto(Expr &e, const Operand &dst) {
  Expr &l = *e.operands[0], &r = *e.operands[1];
  if (isCompare(e.op)) {
    compare(e);
    emit(code(std::string("test_") + compareSuffix(e.op)), Operand::none(), Operand::none(), dst);
    return;
  }
  uint8_t t = e.type, a = l.type, b = r.type;
  std::string mnemonic;
  Operand x, y;
  static const char *names[] = {"", "", "add", "sub", "mul", "div", "mod", "expt", "", "", "", "", "", "", "and", "or", "xor"};
  const char *name = names[static_cast<int>(e.op)];
  if (t == TIME || t == DT || a == DT) {
    if (e.op == Op::MUL && b == TIME) {  // number * TIME
      x = valueAs(r, TIME);
      y = value(l);
      mnemonic = std::string("mul_time_") + suffix(a);
    } else {
      x = value(l);
      y = value(r);
      if (e.op == Op::MUL || e.op == Op::DIV) mnemonic = std::string(name) + "_time_" + suffix(b);
      else if (a == DT && b == TIME) mnemonic = std::string(name) + "_dt_time";
      else mnemonic = std::string(name) + "_" + suffix(a);
    }
  } else {
    uint8_t work = t;
    x = valueAs(l, work);
    y = valueAs(r, work);
    mnemonic = std::string(name) + "_" + suffix(work);
  }
  emit(code(mnemonic), x, y, dst);
}

// Jumps to `label` when `e` (a checked BOOL) is `when`.
void Compiler::branch(Expr &e, bool when, size_t label) {
  if (e.kind == Expr::BINARY && isCompare(e.op)) {
    compare(e);
    Op o = when ? e.op : negate(e.op);
    jump(code(std::string("jmp_") + compareSuffix(o)), label);
    return;
  }
  if (e.kind == Expr::UNARY && e.op == Op::NOT && e.type == BOOL) {
    branch(*e.operands[0], !when, label);
    return;
  }
  bool pure = !hasCall(e);
  if (pure && e.kind == Expr::BINARY && e.type == BOOL && (e.op == Op::AND || e.op == Op::OR)) {
    // Short circuit: no calls, so nothing can tell the difference.
    bool both = e.op == Op::AND;
    if (both != when) {  // AND jumping on FALSE, OR jumping on TRUE: either operand decides
      branch(*e.operands[0], when, label);
      branch(*e.operands[1], when, label);
    } else {  // AND jumping on TRUE, OR jumping on FALSE: both must agree
      size_t skip = newLabel();
      branch(*e.operands[0], !when, skip);
      branch(*e.operands[1], when, label);
      place(skip);
    }
    return;
  }
  Operand v = value(e);
  jump(when ? op("if_eq") : op("if_ne"), label, v);
}

}  // namespace sicvm::stc
