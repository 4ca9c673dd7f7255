// SPDX-License-Identifier: MIT
// The compiler's types and conversion rules (see types.h).
#include "stc/types.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "interp/command_table.h"

namespace sicvm::stc {

const char *typeName(uint8_t t) {
  static const char *names[] = {"?", "BOOL", "DINT", "LREAL", "INT", "REAL", "TIME", "DT", "integer", "real", "nothing"};
  return t <= kVoid ? names[t] : "?";
}
const char *suffix(uint8_t t) {
  static const char *names[] = {"", "bool", "dint", "lreal", "int", "real", "time", "dt"};
  return t <= DT ? names[t] : "";
}
int typeOfName(std::string_view key) {
  for (uint8_t t = 1; t <= DT; ++t)
    if (key == typeName(t)) return t;
  if (key == "DATE_AND_TIME") return DT;
  return -1;
}

bool widens(uint8_t from, uint8_t to) {
  if (from == to) return true;
  if (from == INT) return to == DINT || to == REAL || to == LREAL;
  if (from == DINT || from == REAL) return to == LREAL;
  return false;
}

uint8_t common(uint8_t a, uint8_t b) {
  if (widens(a, b)) return b;
  if (widens(b, a)) return a;
  return LREAL;  // DINT with REAL
}

// The command code of a mnemonic, or -1 (a map over the command table: the
// generator looks up a mnemonic for almost every command it emits).
int code(const std::string &mnemonic) {
  static const std::unordered_map<std::string, int> codes = [] {
    std::unordered_map<std::string, int> m;
    for (const CommandInfo &info : kCommands)
      if (info.mnemonic[0]) m.emplace(info.mnemonic, info.code);
    return m;
  }();
  auto it = codes.find(mnemonic);
  return it == codes.end() ? -1 : it->second;
}
int code(const char *family, uint8_t t) { return code(std::string(family) + "_" + suffix(t)); }

Conversions::Conversions() {
  for (auto &row : direct) std::fill(std::begin(row), std::end(row), -1);
  for (auto &row : truncating) std::fill(std::begin(row), std::end(row), -1);
  for (const CommandInfo &info : kCommands) {
    if (info.family != Family::CONVERT) continue;
    std::string m = info.mnemonic;
    for (uint8_t a = 1; a <= DT; ++a)
      for (uint8_t b = 1; b <= DT; ++b) {
        if (m == std::string(suffix(a)) + "_to_" + suffix(b)) direct[a][b] = info.code;
        if (m == std::string(suffix(a)) + "_trunc_" + suffix(b)) truncating[a][b] = info.code;
      }
  }
}

std::vector<int> Conversions::path(uint8_t a, uint8_t b, bool trunc) const {
  if (a == b) return {};
  int last = trunc ? truncating[a][b] : direct[a][b];
  if (last >= 0) return {last};
  if (a != LREAL && b != LREAL && direct[a][LREAL] >= 0) {
    int second = trunc ? truncating[LREAL][b] : direct[LREAL][b];
    if (second >= 0) return {direct[a][LREAL], second};
  }
  return {};
}

const Conversions &conversions() {
  static const Conversions c;
  return c;
}

Value typed(uint8_t t, double x) {
  switch (t) {
    case BOOL: return Value::boolean(x != 0);
    case INT: return Value::int16(static_cast<int16_t>(x));
    case DINT: return Value::dint(static_cast<int32_t>(x));
    case REAL: return Value::real(static_cast<float>(x));
    case TIME: return Value::time(x);
    case DT: return Value::dt(x);
    default: return Value::lreal(x);
  }
}

double numberOf(const Value &c) {
  return c.type == BOOL ? c.v.b : c.type == INT ? c.v.i16 : c.type == DINT ? c.v.i32 : c.type == REAL ? c.v.f32 : c.v.f64;
}

Value convertConstant(const Value &c, uint8_t to) {
  if (c.type == to) return c;
  double x = numberOf(c);
  if (to == INT || to == DINT) {
    x = std::round(x);
    if (to == INT) return Value::int16(static_cast<int16_t>(static_cast<int64_t>(x)));
    return Value::dint(static_cast<int32_t>(static_cast<int64_t>(x)));
  }
  return typed(to, x);
}

Value zero(uint8_t t) { return typed(t, 0); }

bool fits(const Expr &e, uint8_t t) {
  double x = e.negative ? -static_cast<double>(e.integer) : static_cast<double>(e.integer);
  if (t == INT) return x >= -32768 && x <= 32767;
  if (t == DINT) return x >= -2147483648.0 && x <= 2147483647.0;
  return true;
}

const char *opText(Op op) {
  static const char *texts[] = {"-", "NOT", "+", "-", "*", "/", "MOD", "**", "=", "<>", "<", "<=", ">", ">=", "AND", "OR", "XOR"};
  return texts[static_cast<int>(op)];
}

// The result type of a binary node with concrete operand types, or kError (no message).
uint8_t resultOf(Op op, uint8_t a, uint8_t b) {
  if (a == kError || b == kError) return kError;
  if (isCompare(op)) {
    return (isNum(a) && isNum(b)) || a == b ? BOOL : kError;
  }
  switch (op) {
    case Op::AND:
    case Op::OR:
    case Op::XOR:
      if (a == BOOL && b == BOOL) return BOOL;
      if (isInt(a) && isInt(b)) return common(a, b);
      return kError;
    case Op::ADD:
      if (isNum(a) && isNum(b)) return common(a, b);
      if (a == TIME && b == TIME) return TIME;
      if (a == DT && b == TIME) return DT;
      return kError;
    case Op::SUB:
      if (isNum(a) && isNum(b)) return common(a, b);
      if (a == TIME && b == TIME) return TIME;
      if (a == DT && b == TIME) return DT;
      if (a == DT && b == DT) return TIME;
      return kError;
    case Op::MUL:
      if (isNum(a) && isNum(b)) return common(a, b);
      if ((a == TIME && isNum(b)) || (isNum(a) && b == TIME)) return TIME;
      return kError;
    case Op::DIV:
      if (isNum(a) && isNum(b)) return common(a, b);
      if (a == TIME && isNum(b)) return TIME;
      return kError;
    case Op::MOD:
      if (isInt(a) && isInt(b)) return common(a, b);
      return kError;
    case Op::POW: {
      if (!isNum(a) || !isNum(b)) return kError;
      uint8_t c = common(a, b);
      return c == INT || c == REAL ? REAL : LREAL;
    }
    default: return kError;
  }
}

// The type an untyped literal takes beside an operand of type `other`.
uint8_t literalTarget(const Expr &lit, uint8_t other, Op op) {
  if (other == TIME || other == DT) return op == Op::MUL || op == Op::DIV ? (lit.type == kAnyInt ? DINT : LREAL) : other;
  if (lit.type == kAnyInt) {
    if (isInt(other)) return fits(lit, other) ? other : DINT;
    return other;  // REAL, LREAL
  }
  if (other == INT || other == REAL) return REAL;
  return LREAL;
}

// X_TO_Y and X_TRUNC_Y: (X, Y, truncating).
std::optional<std::tuple<uint8_t, uint8_t, bool>> conversionName(const std::string &name) {
  for (const char *sep : {"_TO_", "_TRUNC_"}) {
    size_t at = name.find(sep);
    if (at == std::string::npos) continue;
    int a = typeOfName(name.substr(0, at)), b = typeOfName(name.substr(at + std::strlen(sep)));
    if (a > 0 && b > 0) return std::make_tuple(static_cast<uint8_t>(a), static_cast<uint8_t>(b), sep[1] == 'T' && sep[2] == 'R');
  }
  return std::nullopt;
}

}  // namespace sicvm::stc
