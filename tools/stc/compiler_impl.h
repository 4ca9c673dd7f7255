// SPDX-License-Identifier: MIT
// The compiler's state over one source: type checking and code generation
// in one walk over the syntax tree of each unit. The members are defined by
// concept:
//   compiler.cpp      the walk's driver, the symbols and the unused-var warnings
//   scopes.cpp        scopes, frames and the layout of user functions and blocks
//   declarations.cpp  vars, constants, arrays, block instances, point bindings
//   user_calls.cpp    calls of user functions and function block instances
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
#include <memory>
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

struct Pou;

// A name of a scope and where its value lives: `segment` is the operand's
// segment index (0 the global segment, 1 the local one: the frame of the
// function or instance whose code runs), `number` the var number in it, the
// array number, or the first cell of a standard block instance (always in
// the local segment).
struct VarInfo {
  std::string name;
  Loc loc;
  uint8_t type = 0;
  bool array = false;
  int64_t low = 0, count = 0;
  uint32_t segment = 0;
  uint32_t number = 0;
  bool constant = false;
  Value value;          // a constant's value
  const FunctionBlock *block = nullptr;
  // An instance of a user function block: `number` is its first interface
  // cell in the declaring frame (the inputs, then the outputs) and
  // `instance` its first data segment: absolute in the program, relative to
  // the declaring instance's segment inside a function block.
  Pou *pou = nullptr;
  uint32_t instance = 0;
  bool bound = false;
  bool used = false;
  Section section = Section::VAR;
  Operand operand() const { return Operand::var(segment, number); }
};

// Names, chained to the enclosing scope: the global scope (VAR_GLOBAL)
// holds the program's scope and those of the functions and blocks.
struct Scope {
  std::map<std::string, VarInfo> vars;
  Scope *parent = nullptr;
};

// The storage of the code being generated: the program's (data segment 0,
// with its temporaries) or that of a function or block (a row of cells that
// becomes each instance's data segment, addressed as the local segment).
struct Frame {
  uint32_t segmentIndex = 0;          // operand segment index of the frame's cells
  std::vector<build::Var> *cells = nullptr;  // a user unit's cells; null: data segment 0
  std::vector<uint32_t> temps[8];
  std::array<size_t, 8> inUse{};
  size_t endLabel = 0;
  Pou *pou = nullptr;  // the unit whose code this is; null for the program
};

// A user FUNCTION or FUNCTION_BLOCK.
struct Pou {
  Program *ast = nullptr;
  int state = 0;  // 0 not laid out, 1 being laid out, 2 laid out
  Scope scope;
  Frame frame;
  std::vector<build::Var> cells;   // var 0 and 1, then the members in frame order, then temporaries
  std::vector<std::string> inputs, outputs;  // member keys in frame order
  uint32_t firstInput = 2, firstOutput = 2;
  uint8_t result = kVoid;          // FUNCTION: the result type; its var follows the outputs
  uint32_t segments = 1;           // data segments of one instance, nested instances included
  uint32_t segment = 0;            // FUNCTION: its data segment
  std::vector<std::pair<uint32_t, Pou *>> nested;  // (relative segment, type) of nested instances
  std::vector<std::pair<std::string, uint32_t>> nestedNames;  // member names of the nested instances
  size_t entry = 0;                // label of the code
  std::vector<std::pair<Pou *, Loc>> calls;  // the units its code calls
  bool isFunction() const { return ast->kind == PouKind::FUNCTION; }
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
  enum Kind { NONE, STANDARD, RANGE, COMMAND, CONVERT, HOST, MOVE, USER } kind = NONE;
  Pou *pou = nullptr;             // USER: the function
  std::vector<Expr *> args;       // USER: the value of each input (null: its initial value)
  std::vector<Expr *> outArgs;    // USER: the target of each output (null: none)
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
  void nameInstance(symbols::SymbolTable &table, const Pou &pou, uint32_t segment, const std::string &prefix) const;
  void nameCells(symbols::SymbolTable &table, uint32_t segment, const VarInfo &v) const;
  void nameInterface(symbols::SymbolTable &table, const VarInfo &v, uint32_t segment = 0) const;
  void symbolsOf(std::vector<Symbol> &out, const Pou &pou, uint32_t segment, const std::string &prefix) const;
  void warnUnused();

  // scopes.cpp
  VarInfo *find(const std::string &key);
  // A declared name; code of a statement with errors may still ask for an
  // undeclared one, which gets a placeholder (no image is written then).
  VarInfo &var(const std::string &key) {
    VarInfo *v = find(key);
    return v ? *v : (undeclared_ = VarInfo{});
  }
  Pou *findPou(const std::string &key);
  void registerPous(Unit &unit);
  void layOut(Pou &pou);
  uint32_t newCell(const build::Var &cell);
  uint32_t allocateInstance(Pou &pou);
  void fillInstance(Pou &pou, uint32_t segment);
  void generatePou(Pou &pou);
  void checkRecursion();

  // declarations.cpp
  void declare(std::vector<VarDecl> &vars);
  void declareInstance(VarDecl &d, VarInfo &v, Pou &pou);
  void declareBlock(VarDecl &d, VarInfo &v, const FunctionBlock &fb);
  void declareArray(VarDecl &d, VarInfo &v, Scope &into);
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

  // user_calls.cpp
  uint8_t checkUserCall(Expr &e, Pou &pou, CallPlan &plan);
  void userCall(Expr &e, const CallPlan &plan, const Operand &dst);
  void userBlockCall(Expr &call, VarInfo &v);
  void callCode(Pou &pou, uint32_t segmentIndex, uint32_t segment, Loc at);
  VarInfo *userMember(Expr &e, VarInfo **instance);

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
  void body(Block &block);
  void statementsOf(Block &block);
  void statement(Stmt &s);
  void loop(Block &body, size_t exitLabel);
  bool condition(Expr &e);
  void store(Expr &target, const Operand &v, uint8_t from);
  void storeElement(Expr &target, Operand v);
  void assign(Stmt &s);
  void ifStatement(Stmt &s);
  void caseStatement(Stmt &s);
  void forStatement(Stmt &s);

  std::string_view source_;
  Diagnostics diag_;
  build::ImageBuilder builder_;
  uint32_t global_ = 0;
  std::optional<uint32_t> blocks_;
  VarInfo undeclared_;
  Scope globals_;                  // VAR_GLOBAL
  Scope programScope_;             // the program's other vars
  Scope *scope_ = &programScope_;  // the scope of the code being compiled
  Frame programFrame_;
  Frame *frame_ = &programFrame_;
  std::map<std::string, std::unique_ptr<Pou>> pous_;
  std::vector<std::pair<uint32_t, Pou *>> instances_;  // (first segment, type) of the program's instances
  std::map<const Expr *, CallPlan> plans_;
  std::vector<Label> labels_;
  std::vector<Loop> loops_;
  size_t statements_ = 0;
  Loc statementLoc_;
};

}  // namespace sicvm::stc
