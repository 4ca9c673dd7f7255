// SPDX-License-Identifier: MIT
// Literals: their values, and untyped literals taking the type their context
// asks for.
#include "stc/compiler_impl.h"

#include <cctype>

#include "asm/constants.h"
#include "asm/cursor.h"

namespace sicvm::stc {

// The value of a literal (or a constant's name) as type `want`, or an error.
std::optional<Value> Compiler::constant(Expr &e, uint8_t want) {
  uint8_t t = check(e, want);
  if (t == kError) return std::nullopt;
  std::optional<Value> c = literalValue(e);
  if (!c) {
    diag_.error(e.loc, "expected a constant value");
    return std::nullopt;
  }
  if (!assignable(e, c->type, want)) return std::nullopt;
  return convertConstant(*c, want);
}

// The value of a literal expression, settled to its type; none for others.
std::optional<Value> Compiler::literalValue(const Expr &e) {
  if (isLiteral(e)) return literal(e);
  if (e.kind == Expr::NAME) {
    auto it = vars_.find(e.key);
    if (it != vars_.end() && it->second.constant) return it->second.value;
  }
  return std::nullopt;
}

// A literal node's value at the type the checker settled.
Value Compiler::literal(const Expr &e) {
  uint8_t t = e.type;
  switch (e.kind) {
    case Expr::BOOL: return Value::boolean(e.integer != 0);
    case Expr::INTEGER: {
      double x = e.negative ? -static_cast<double>(e.integer) : static_cast<double>(e.integer);
      int64_t i = e.negative ? -static_cast<int64_t>(e.integer) : static_cast<int64_t>(e.integer);
      if (t == INT) return Value::int16(static_cast<int16_t>(i));
      if (t == DINT) return Value::dint(static_cast<int32_t>(i));
      return typed(t == kAnyInt ? LREAL : t, x);
    }
    case Expr::REAL: return typed(t == kAnyReal ? LREAL : t, e.negative ? -e.real : e.real);
    case Expr::TYPED: return literal(*e.operands[0]);
    case Expr::DURATION:
    case Expr::DATETIME: return typed(t, e.real);
    default: return zero(t);
  }
}

// Gives an untyped literal (or a tree of them) the type `t`.
uint8_t Compiler::settle(Expr &e, uint8_t t) {
  if (!isLiteralKind(e.type)) return e.type;
  if (e.kind == Expr::INTEGER) {
    if (isInt(t) && !isLiteralKind(t)) {
      if (!fits(e, t)) {
        diag_.error(e.loc, "integer '" + std::string(e.negative ? "-" : "") + std::to_string(e.integer) +
                               "' does not fit in " + typeName(t));
        return e.type = kError;
      }
      return e.type = t;
    }
    if (isReal(t) && !isLiteralKind(t)) return e.type = t;
    return e.type = fits(e, DINT) ? DINT : LREAL;
  }
  if (e.kind == Expr::REAL) return e.type = (t == REAL || t == LREAL) ? t : LREAL;
  // A unary or binary node of literals: settle its operands, then itself.
  // NOT of literals stays an integer (bitwise) even beside a real number.
  if (e.kind == Expr::UNARY && e.op == Op::NOT && !isInt(t)) t = DINT;
  for (auto &o : e.operands) settle(*o, t);
  if (e.kind == Expr::UNARY) return e.type = e.operands[0]->type;
  return e.type = resultOf(e.op, e.operands[0]->type, e.operands[1]->type);
}

uint8_t Compiler::timeLiteral(Expr &e) {
  std::string text = e.text;
  size_t hash = text.find('#');
  std::string prefix = text.substr(0, hash);
  for (char &c : prefix) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  bool dt = e.kind == Expr::DATETIME;
  std::string normal = (dt ? "DT" : "T") + text.substr(hash);
  try {
    assembly::Cursor cursor(normal);
    assembly::Constant c = assembly::readTypedConstant(cursor);
    if (!cursor.atEnd()) cursor.expected("the end of the literal");
    e.real = c.value.f64;
    return dt ? DT : TIME;
  } catch (const assembly::SyntaxError &) {
    diag_.error(e.loc, dt ? "bad date and time '" + text + "': expected DT#YYYY-MM-DD-hh:mm:ss"
                          : "bad duration '" + text + "': expected T# and components such as 1d2h3m4s5ms");
    return kError;
  }
}

}  // namespace sicvm::stc
