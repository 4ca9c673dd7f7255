// SPDX-License-Identifier: MIT
// The syntax tree of one Structured Text program, as the parser builds it
// and the code generator reads it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "stc/diagnostics.h"

namespace sicvm::stc {

// Operators of unary and binary expressions.
enum class Op : int { NEG, NOT, ADD, SUB, MUL, DIV, MOD, POW, EQ, NE, LT, LE, GT, GE, AND, OR, XOR };

struct Expr;
using ExprPtr = std::unique_ptr<Expr>;

// One argument of a call: positional (name empty) or formal (IN := x, Q => y).
struct Arg {
  std::string name;  // upper-cased formal name, or empty
  Loc nameLoc;
  bool output = false;  // written with '=>'
  ExprPtr value;
};

struct Expr {
  enum Kind { INTEGER, REAL, BOOL, DURATION, DATETIME, TYPED, NAME, INDEX, MEMBER, UNARY, BINARY, CALL } kind;
  Loc loc;
  std::string text;  // NAME, MEMBER and CALL: the name as written; literals: their text
  std::string key;   // upper-cased name; TYPED: the type name
  uint64_t integer = 0;  // INTEGER (magnitude), BOOL (0 or 1)
  double real = 0;       // REAL; DURATION in ms; DATETIME in days
  bool negative = false; // a literal written with a leading '-'
  Op op = Op::ADD;       // UNARY and BINARY
  std::vector<ExprPtr> operands;  // UNARY 1, BINARY 2, INDEX (array, index), MEMBER (object), TYPED (value)
  std::vector<Arg> args;          // CALL
  uint8_t type = 0;  // set by the type checker: a value type code, or one of the kinds in types.h
};

// A literal: a number, TRUE or FALSE, a duration, a date and time, or a typed literal.
inline bool isLiteral(const Expr &e) {
  switch (e.kind) {
    case Expr::INTEGER:
    case Expr::REAL:
    case Expr::BOOL:
    case Expr::DURATION:
    case Expr::DATETIME:
    case Expr::TYPED: return true;
    default: return false;
  }
}

struct Stmt;
using Block = std::vector<std::unique_ptr<Stmt>>;

struct CaseLabel {
  ExprPtr low, high;  // high null for a single value
};
struct CaseArm {
  std::vector<CaseLabel> labels;
  Block body;
};
struct IfArm {
  ExprPtr condition;
  Block body;
};

struct Stmt {
  enum Kind { ASSIGN, CALL, IF, CASE, FOR, WHILE, REPEAT, EXIT, RETURN } kind;
  Loc loc;
  ExprPtr target;  // ASSIGN: the target; FOR: the control variable (a NAME)
  ExprPtr value;   // ASSIGN: the value; CALL: the call; CASE: the selector; FOR: the start;
                   // WHILE and REPEAT: the condition
  ExprPtr to, by;  // FOR
  std::vector<IfArm> arms;       // IF and ELSIF
  std::vector<CaseArm> cases;    // CASE
  Block body;                    // FOR, WHILE, REPEAT, and the ELSE of IF and CASE
  bool hasElse = false;
};

// The binding of a var to a process point: AT %PV1001, %PI, %PQ, %PS...
struct Binding {
  bool present = false;
  Loc loc;
  std::string text;  // as written, without '%'
};

struct TypeSpec {
  Loc loc;
  std::string name;  // as written
  std::string key;   // upper-cased element or block type
  bool array = false;
  ExprPtr low, high;
};

enum class Section { VAR, GLOBAL, CONSTANT, RETAIN };

struct VarDecl {
  std::string name;
  std::string key;
  Loc loc;
  Section section = Section::VAR;
  Binding binding;
  TypeSpec type;
  ExprPtr init;                 // a single initial value
  std::vector<ExprPtr> inits;   // an array's [a, b, c]
  bool listInit = false;
};

struct Program {
  std::string name;
  Loc loc;
  std::vector<VarDecl> vars;
  Block body;
};

}  // namespace sicvm::stc
