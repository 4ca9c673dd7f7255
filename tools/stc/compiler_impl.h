// SPDX-License-Identifier: MIT
// The compiler's state over one program: type checking and code generation
// in one walk over the syntax tree. The members are defined by concept:
//   compiler.cpp      the walk's driver, the symbols and the unused-var warnings
//   declarations.cpp  vars, constants, arrays, block instances, point bindings
//   literals.cpp      literal values and untyped literals taking their type
//   type_check.cpp    the types of names, operators and assignments
//   calls.cpp         calls of functions, host functions and function blocks
//   code.cpp          commands, labels and temporaries
//   expressions.cpp   expression values, conversions and branches
//   statements.cpp    statements
// The type rules themselves are in types.h.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "builder/image_builder.h"
#include "stc/ast.h"
#include "stc/compiler.h"
#include "stc/diagnostics.h"
#include "stc/library.h"
#include "stc/parser.h"
#include "stc/types.h"

namespace sicvm::stc {

using build::Operand;

struct VarInfo {
  std::string name;
  Loc loc;
  uint8_t type = 0;
  bool array = false;
  int64_t low = 0, count = 0;
  uint32_t number = 0;  // var number in segment 0, array number, or first cell in segment 1
  bool constant = false;
  Value value;          // a constant's value
  const FunctionBlock *block = nullptr;
  bool bound = false;
  bool used = false;
};

struct Label {
  int64_t address = -1;
  std::vector<std::pair<uint32_t, int>> fixups;  // (command address, operand slot 0 = SRC1, 1 = SRC2)
};

struct Loop {
  size_t exitLabel;
};

// How a checked call is made.
struct CallPlan {
  enum Kind { NONE, STANDARD, RANGE, COMMAND, CONVERT, HOST, MOVE } kind = NONE;
  int32_t number = 0;
  std::vector<uint8_t> inputs;   // the parameter types
  std::vector<uint8_t> outputs;  // the result types
  std::vector<int> commands;     // COMMAND: one code; CONVERT: the chain
};

class Compiler {
 public:
  Compiler(std::string_view source, const std::string &file) : source_(source), diag_(source, file) {}

  Compilation run();

 private:
  symbols::SymbolTable symbolTable(const std::vector<uint8_t> &image) const;
  void warnUnused();

  // declarations.cpp
  void declare(Program &p);
  void declareBlock(VarDecl &d, VarInfo &v, const FunctionBlock &fb);
  void declareArray(VarDecl &d, VarInfo &v);
  void bind(VarDecl &d, build::Var &var);

  // literals.cpp
  std::optional<Value> constant(Expr &e, uint8_t want);
  std::optional<Value> literalValue(const Expr &e);
  Value literal(const Expr &e);
  uint8_t settle(Expr &e, uint8_t t);
  uint8_t timeLiteral(Expr &e);

  // type_check.cpp
  uint8_t check(Expr &e, uint8_t hint = kError);
  uint8_t checkNode(Expr &e, uint8_t hint);
  VarInfo *lookup(const Expr &e);
  uint8_t checkName(Expr &e);
  uint8_t checkIndex(Expr &e);
  const BlockCell *memberCell(Expr &e, VarInfo **instance);
  uint8_t checkMember(Expr &e);
  uint8_t checkUnary(Expr &e, uint8_t hint);
  uint8_t checkBinary(Expr &e, uint8_t hint);
  bool assignable(Expr &e, uint8_t from, uint8_t to);
  bool isWritable(Expr &target);

  // calls.cpp
  uint8_t checkArgs(Expr &e, const std::vector<uint8_t> &types, size_t outputs = 0);
  uint8_t checkCall(Expr &e, uint8_t hint);
  int mathCommand(Expr &e, uint8_t hint, uint8_t &result);
  void push(const Operand &o);
  void libraryCall(Expr &e, const CallPlan &plan, uint32_t callClass, const std::vector<Operand> &outs);
  void callInto(Expr &e, const Operand &dst);
  void hostCall(Expr &e, const CallPlan &plan, const Operand &dst);
  void callStatement(Expr &call);
  void blockCall(Expr &call, VarInfo &v);

  // code.cpp
  uint32_t emit(int codeValue, const Operand &s1 = Operand::none(), const Operand &s2 = Operand::none(),
                const Operand &d = Operand::none());
  static Operand num(uint32_t w1, uint32_t w2 = 0) { return Operand::words(1, w1, w2); }
  static Operand constOperand(const Value &v) { return Operand::constant(v); }
  static bool isVarOperand(const Operand &o) { return o.kind == 2; }
  static bool sameOperand(const Operand &a, const Operand &b);
  size_t newLabel();
  void place(size_t label);
  void target(uint32_t address, int slot, uint32_t to);
  void jump(int codeValue, size_t label, const Operand &condition = Operand::none());
  Operand temp(uint8_t t);

  // expressions.cpp
  Operand value(Expr &e);
  Operand valueAs(Expr &e, uint8_t to);
  void convert(const Operand &src, uint8_t from, const Operand &dst, uint8_t to);
  void convertBy(const std::vector<int> &chain, const Operand &src, const Operand &dst);
  void into(Expr &e, const Operand &dst, uint8_t to);
  Operand index(Expr &ix, const VarInfo &v);
  void unaryInto(Expr &e, const Operand &dst);
  void compare(Expr &e);
  void binaryInto(Expr &e, const Operand &dst);
  void branch(Expr &e, bool when, size_t label);

  // statements.cpp
  void generate(Program &p);
  void statementsOf(Block &block);
  void statement(Stmt &s);
  void loop(Block &body, size_t exitLabel);
  bool condition(Expr &e);
  void store(Expr &target, const Operand &v, uint8_t from);
  void assign(Stmt &s);
  void ifStatement(Stmt &s);
  void caseStatement(Stmt &s);
  void forStatement(Stmt &s);

  std::string_view source_;
  Diagnostics diag_;
  build::ImageBuilder builder_;
  uint32_t global_ = 0;
  std::optional<uint32_t> blocks_;
  std::map<std::string, VarInfo> vars_;
  std::map<const Expr *, CallPlan> plans_;
  std::vector<Label> labels_;
  std::vector<Loop> loops_;
  size_t endLabel_ = 0;
  std::vector<uint32_t> temps_[8];
  std::array<size_t, 8> inUse_{};
  size_t statements_ = 0;
  Loc statementLoc_;
};

}  // namespace sicvm::stc
