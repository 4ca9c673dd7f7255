// SPDX-License-Identifier: MIT
// The compiler's types and the conversion rules between them.
//
// Types are the value type codes of the machine, plus two kinds for literals
// written without a type (an integer or a real number): such a literal takes
// the type its context asks for (the other operand, the assignment's
// target), and INT, DINT or LREAL when nothing asks.
//
// Implicit conversions: INT to DINT, REAL and LREAL; DINT to LREAL; REAL to
// LREAL. Between two different operand types the result is the smaller type
// both convert to (DINT with REAL gives LREAL). Assignments and arguments
// also convert the other way between numeric types, with a warning about
// the narrowing; BOOL, TIME and DT convert only explicitly (BOOL_TO_INT,
// TIME_TO_LREAL, ...). Every X_TO_Y and X_TRUNC_Y function is a conversion
// command of the machine, or a chain of them through LREAL when the machine
// has no direct one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "builder/image_builder.h"
#include "sicvm/image.h"
#include "stc/ast.h"

namespace sicvm::stc {

using build::Value;

// Type kinds beyond the value type codes 1 to 7.
constexpr uint8_t kError = 0, kAnyInt = 8, kAnyReal = 9, kVoid = 10;
constexpr uint8_t BOOL = VM_TYPE_BOOL, DINT = VM_TYPE_DINT, LREAL = VM_TYPE_LREAL, INT = VM_TYPE_INT,
                  REAL = VM_TYPE_REAL, TIME = VM_TYPE_TIME, DT = VM_TYPE_DT;

// "BOOL" ... "DT", "integer", "real", "nothing"; "?" for another.
const char *typeName(uint8_t t);
// The mnemonics' suffix of a value type: "bool" ... "dt".
const char *suffix(uint8_t t);
// The value type of an IEC type name (DATE_AND_TIME too), or -1.
int typeOfName(std::string_view key);

inline bool isInt(uint8_t t) { return t == INT || t == DINT || t == kAnyInt; }
inline bool isReal(uint8_t t) { return t == REAL || t == LREAL || t == kAnyReal; }
inline bool isNum(uint8_t t) { return isInt(t) || isReal(t); }
inline bool isLiteralKind(uint8_t t) { return t == kAnyInt || t == kAnyReal; }
inline bool isCompare(Op op) { return op >= Op::EQ && op <= Op::GE; }

// INT -> DINT, REAL, LREAL; DINT -> LREAL; REAL -> LREAL.
bool widens(uint8_t from, uint8_t to);
// The common type of two concrete numeric types.
uint8_t common(uint8_t a, uint8_t b);
// The result type of a binary operator on concrete operand types, or kError.
uint8_t resultOf(Op op, uint8_t a, uint8_t b);
// The type an untyped literal takes beside an operand of type `other`.
uint8_t literalTarget(const Expr &lit, uint8_t other, Op op);
// Whether an integer literal's value lies in INT's or DINT's range.
bool fits(const Expr &e, uint8_t t);
// The operator as written in the source.
const char *opText(Op op);

// The command code of a mnemonic, or -1; of FAMILY_T for a value type.
int code(const std::string &mnemonic);
int code(const char *family, uint8_t t);

// The conversion commands as a graph over the value types.
struct Conversions {
  int direct[8][8];      // command code or -1
  int truncating[8][8];  // X_trunc_Y, or -1
  Conversions();
  // The chain of commands from a to b: direct, or through LREAL.
  std::vector<int> path(uint8_t a, uint8_t b, bool trunc = false) const;
};
const Conversions &conversions();
// X_TO_Y and X_TRUNC_Y: (X, Y, truncating).
std::optional<std::tuple<uint8_t, uint8_t, bool>> conversionName(const std::string &name);

// Constant values: x as a value of type t (0 for zero), a value as a
// double, and a constant converted as the conversion commands would
// (integers round to nearest).
Value typed(uint8_t t, double x);
Value zero(uint8_t t);
double numberOf(const Value &c);
Value convertConstant(const Value &c, uint8_t to);

}  // namespace sicvm::stc
