// SPDX-License-Identifier: MIT
// Type checking of expressions: names, indexes, block members, operators,
// and whether a value may go where a type is wanted.
#include "stc/compiler_impl.h"

#include <string>

namespace sicvm::stc {

// The type of `e`; `hint` is the type the context wants (kError: none).
uint8_t Compiler::check(Expr &e, uint8_t hint) {
  e.type = checkNode(e, hint);
  return e.type;
}

uint8_t Compiler::checkNode(Expr &e, uint8_t hint) {
  switch (e.kind) {
    case Expr::INTEGER: {
      e.type = kAnyInt;
      if (hint != kError && isNum(hint) && !isLiteralKind(hint) && (!isInt(hint) || fits(e, hint)))
        return settle(e, hint);
      return kAnyInt;
    }
    case Expr::REAL:
      e.type = kAnyReal;
      if (hint == REAL || hint == LREAL) return hint;
      return kAnyReal;
    case Expr::BOOL: return BOOL;
    case Expr::DURATION:
    case Expr::DATETIME: return timeLiteral(e);
    case Expr::TYPED: {
      int t = typeOfName(e.key);
      if (t < 0 || t == TIME || t == DT) {
        diag_.error(e.loc, "typed literals of " + e.key + " are not supported");
        return kError;
      }
      Expr &v = *e.operands[0];
      if (v.kind == Expr::BOOL) {
        v.type = BOOL;
        if (t != BOOL) diag_.error(e.loc, std::string("TRUE and FALSE are BOOL values, not ") + typeName(static_cast<uint8_t>(t)));
        return static_cast<uint8_t>(t);
      }
      if (t == BOOL) {
        if (v.kind != Expr::INTEGER || v.negative || v.integer > 1) {
          diag_.error(e.loc, "a BOOL literal is 0, 1, TRUE or FALSE");
          return kError;
        }
        v.type = BOOL;
        v.kind = Expr::BOOL;
        return BOOL;
      }
      if (v.kind == Expr::REAL && isInt(static_cast<uint8_t>(t))) {
        diag_.error(e.loc, std::string("a real number is not ") + (t == INT ? "an " : "a ") + typeName(static_cast<uint8_t>(t)));
        return kError;
      }
      check(v);
      uint8_t s = settle(v, static_cast<uint8_t>(t));
      return s == kError ? kError : static_cast<uint8_t>(t);
    }
    case Expr::NAME: return checkName(e);
    case Expr::INDEX: return checkIndex(e);
    case Expr::MEMBER: return checkMember(e);
    case Expr::UNARY: return checkUnary(e, hint);
    case Expr::BINARY: return checkBinary(e, hint);
    case Expr::CALL: return checkCall(e, hint);
  }
  return kError;
}

VarInfo *Compiler::lookup(const Expr &e) {
  auto it = vars_.find(e.key);
  if (it == vars_.end()) {
    diag_.error(e.loc, "'" + e.text + "' is not declared");
    return nullptr;
  }
  it->second.used = true;
  return &it->second;
}

uint8_t Compiler::checkName(Expr &e) {
  VarInfo *v = lookup(e);
  if (!v || v->type == kError) return kError;
  if (v->array) {
    diag_.error(e.loc, "array '" + v->name + "' needs an index: " + v->name + "[i]");
    return kError;
  }
  if (v->block) {
    diag_.error(e.loc, "function block '" + v->name + "' is not a value; use one of its outputs (" + v->name + ".Q)");
    return kError;
  }
  return v->type;
}

uint8_t Compiler::checkIndex(Expr &e) {
  Expr &base = *e.operands[0];
  if (base.kind != Expr::NAME) {
    diag_.error(e.loc, "only a declared array can be indexed");
    return kError;
  }
  auto it = vars_.find(base.key);
  if (it == vars_.end()) {
    diag_.error(base.loc, "'" + base.text + "' is not declared");
    return kError;
  }
  it->second.used = true;
  if (!it->second.array) {
    diag_.error(e.loc, "'" + base.text + "' is not an array");
    return kError;
  }
  uint8_t t = check(*e.operands[1], DINT);
  if (t != kError && !isInt(t)) {
    diag_.error(e.operands[1]->loc, std::string("an array index is an integer, not ") + typeName(t));
    return kError;
  }
  settle(*e.operands[1], DINT);
  return it->second.type;
}

// instance.OUTPUT or instance.INPUT.
const BlockCell *Compiler::memberCell(Expr &e, VarInfo **instance) {
  Expr &base = *e.operands[0];
  if (base.kind != Expr::NAME) {
    diag_.error(e.loc, "'.' follows a function block instance");
    return nullptr;
  }
  VarInfo *v = lookup(base);
  if (!v) return nullptr;
  if (!v->block) {
    diag_.error(e.loc, "'" + v->name + "' is not a function block instance");
    return nullptr;
  }
  for (const BlockCell &c : v->block->cells)
    if (c.name[0] != ' ' && e.key == c.name) {
      *instance = v;
      return &c;
    }
  diag_.error(e.loc, std::string(v->block->name) + " has no input or output '" + e.text + "'");
  return nullptr;
}

uint8_t Compiler::checkMember(Expr &e) {
  VarInfo *v = nullptr;
  const BlockCell *c = memberCell(e, &v);
  return c ? c->type : kError;
}

uint8_t Compiler::checkUnary(Expr &e, uint8_t hint) {
  uint8_t t = check(*e.operands[0], hint);
  if (t == kError) return kError;
  if (e.op == Op::NEG) {
    if (isNum(t) || t == TIME) return t;
    diag_.error(e.loc, std::string("'-' needs a number or a TIME, not ") + typeName(t));
    return kError;
  }
  if (t == BOOL || isInt(t)) return t;
  diag_.error(e.loc, std::string("NOT needs a BOOL or an integer, not ") + typeName(t));
  return kError;
}

uint8_t Compiler::checkBinary(Expr &e, uint8_t hint) {
  Expr &l = *e.operands[0], &r = *e.operands[1];
  bool compare = isCompare(e.op);
  // The operands are typed on their own first: an untyped literal takes the
  // other operand's type, and only two literals take the context's.
  uint8_t a = check(l), b = check(r);
  if (a == kError || b == kError) return kError;
  // An untyped literal takes the other side's type.
  bool la = isLiteralKind(a), lb = isLiteralKind(b);
  if (la && lb) {
    if (!compare && e.op != Op::POW && hint != kError && isNum(hint)) {
      a = settle(l, hint);
      b = settle(r, hint);
    } else {
      uint8_t t = (a == kAnyReal || b == kAnyReal) ? LREAL : kError;
      a = settle(l, t == kError ? (fits(l, DINT) && fits(r, DINT) ? DINT : LREAL) : t);
      b = settle(r, t == kError ? a : t);
      if (a != b && a != kError && b != kError) a = settle(l, b);
    }
  } else if (la) {
    a = settle(l, literalTarget(l, b, e.op));
  } else if (lb) {
    b = settle(r, literalTarget(r, a, e.op));
  }
  if (a == kError || b == kError) return kError;
  uint8_t t = resultOf(e.op, a, b);
  if (t == kError)
    diag_.error(e.loc, std::string("'") + opText(e.op) + "' cannot combine " + typeName(a) + " and " + typeName(b));
  return t;
}

// Checks that a value of type `from` may go where `to` is wanted; warns
// about implicit narrowing. `e` is the value (for the place and literals).
bool Compiler::assignable(Expr &e, uint8_t from, uint8_t to) {
  if (from == kError || to == kError) return false;
  if (isLiteralKind(from)) from = settle(e, to);
  if (from == kError) return false;
  if (from == to || widens(from, to)) return true;
  if (isNum(from) && isNum(to)) {
    // A constant whose value the target type holds exactly converts quietly.
    if (auto c = literalValue(e); c && numberOf(convertConstant(*c, to)) == numberOf(*c)) return true;
    diag_.warning(e.loc, std::string("implicit conversion from ") + typeName(from) + " to " + typeName(to) +
                             " may lose data (write " + typeName(from) + "_TO_" + typeName(to) + ")");
    return true;
  }
  std::string fix = conversions().path(from, to).empty() ? ""
                                                             : std::string(" (write ") + typeName(from) + "_TO_" + typeName(to) + ")";
  diag_.error(e.loc, std::string("cannot use ") + typeName(from) + " as " + typeName(to) + fix);
  return false;
}

bool Compiler::isWritable(Expr &target) {
  if (target.kind == Expr::NAME) {
    auto it = vars_.find(target.key);
    if (it != vars_.end() && it->second.constant) {
      diag_.error(target.loc, "cannot assign to constant '" + it->second.name + "'");
      return false;
    }
    return check(target) != kError;
  }
  if (target.kind == Expr::INDEX) return check(target) != kError;
  diag_.error(target.loc, "expected a variable or an array element to assign to");
  return false;
}

}  // namespace sicvm::stc
