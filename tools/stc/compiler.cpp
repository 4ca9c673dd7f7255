// Type checking and code generation in one walk over the syntax tree.
//
// Types: the value type codes of the machine, plus two kinds for literals
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
#include "stc/compiler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <unordered_map>

#include "asm/constants.h"
#include "asm/cursor.h"
#include "builder/image_builder.h"
#include "interp/command_table.h"
#include "sicvm/vm.h"
#include "stc/library.h"
#include "stc/parser.h"

namespace sicvm::stc {
namespace {

using build::Operand;
using build::Value;

// Type kinds beyond the value type codes 1 to 7.
constexpr uint8_t kError = 0, kAnyInt = 8, kAnyReal = 9, kVoid = 10;
constexpr uint8_t BOOL = VM_TYPE_BOOL, DINT = VM_TYPE_DINT, LREAL = VM_TYPE_LREAL, INT = VM_TYPE_INT,
                  REAL = VM_TYPE_REAL, TIME = VM_TYPE_TIME, DT = VM_TYPE_DT;

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

bool isInt(uint8_t t) { return t == INT || t == DINT || t == kAnyInt; }
bool isReal(uint8_t t) { return t == REAL || t == LREAL || t == kAnyReal; }
bool isNum(uint8_t t) { return isInt(t) || isReal(t); }
bool isLiteralKind(uint8_t t) { return t == kAnyInt || t == kAnyReal; }

// INT -> DINT, REAL, LREAL; DINT -> LREAL; REAL -> LREAL.
bool widens(uint8_t from, uint8_t to) {
  if (from == to) return true;
  if (from == INT) return to == DINT || to == REAL || to == LREAL;
  if (from == DINT || from == REAL) return to == LREAL;
  return false;
}

// The common type of two concrete numeric types.
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

// The conversion commands as a graph over the value types.
struct Conversions {
  int direct[8][8];      // command code or -1
  int truncating[8][8];  // X_trunc_Y, or -1
  Conversions() {
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
  // The chain of commands from a to b: direct, or through LREAL.
  std::vector<int> path(uint8_t a, uint8_t b, bool trunc = false) const {
    if (a == b) return {};
    int last = trunc ? truncating[a][b] : direct[a][b];
    if (last >= 0) return {last};
    if (a != LREAL && b != LREAL && direct[a][LREAL] >= 0) {
      int second = trunc ? truncating[LREAL][b] : direct[LREAL][b];
      if (second >= 0) return {direct[a][LREAL], second};
    }
    return {};
  }
};
const Conversions &conversions() {
  static const Conversions c;
  return c;
}

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

class Compiler {
 public:
  Compiler(std::string_view source, const std::string &file) : source_(source), diag_(source, file) {}

  Compilation run() {
    Compilation out;
    std::vector<Token> tokens = tokenize(source_, diag_);
    Program program;
    if (parse(tokens, diag_, program)) {
      builder_.name(program.name.empty() ? "PROGRAM" : program.name.substr(0, 91));
      builder_.callStack(8).paramStack(64);
      global_ = builder_.segment(0, 0);
      declare(program);
      generate(program);
      if (diag_.errorCount() == 0) warnUnused();
    }
    out.errors = diag_.errorCount();
    out.diagnostics = diag_.sorted();
    for (const Diagnostic &d : out.diagnostics) out.rendered.push_back(diag_.render(d));
    out.statements = statements_;
    if (out.errors == 0) {
      out.image = builder_.build();
      for (const auto &[key, v] : vars_) {
        if (v.constant) continue;
        if (v.block) {
          out.symbols.push_back({v.name, 1, v.number, 0, false});
        } else {
          out.symbols.push_back({v.name, 0, v.number, v.type, v.array});
        }
      }
    }
    return out;
  }

 private:
  // ---------------------------------------------------------------- declarations

  void declare(Program &p) {
    for (VarDecl &d : p.vars) {
      if (diag_.full()) return;
      if (vars_.count(d.key)) {
        diag_.error(d.loc, "'" + d.name + "' is already declared (at line " +
                               std::to_string(vars_[d.key].loc.line) + ")");
        continue;
      }
      VarInfo v;
      v.name = d.name;
      v.loc = d.loc;
      if (const FunctionBlock *fb = findFunctionBlock(d.type.key); fb && !d.type.array) {
        declareBlock(d, v, *fb);
        continue;
      }
      int t = typeOfName(d.type.key);
      if (t < 0) {
        diag_.error(d.type.loc, "unknown type '" + d.type.name + "'");
        v.type = kError;  // later uses of the name stay quiet
        vars_[d.key] = v;
        continue;
      }
      v.type = static_cast<uint8_t>(t);
      if (d.type.array) {
        declareArray(d, v);
        continue;
      }
      if (d.listInit) diag_.error(d.loc, "'" + d.name + "' is not an array; its initial value is one value");
      Value init = zero(v.type);
      if (d.init) {
        if (auto c = constant(*d.init, v.type)) init = *c;
      } else if (d.section == Section::CONSTANT) {
        diag_.error(d.loc, "constant '" + d.name + "' needs a value");
      }
      if (d.section == Section::CONSTANT) {
        if (d.binding.present) diag_.error(d.binding.loc, "a constant cannot be bound to a point");
        v.constant = true;
        v.value = init;
        v.used = true;
        vars_[d.key] = v;
        continue;
      }
      build::Var var(init);
      if (d.binding.present) bind(d, var);
      v.bound = d.binding.present;
      v.number = builder_.var(global_, var);
      vars_[d.key] = v;
    }
  }

  void declareBlock(VarDecl &d, VarInfo &v, const FunctionBlock &fb) {
    if (d.binding.present) diag_.error(d.binding.loc, "a function block instance cannot be bound to a point");
    if (d.init || d.listInit) diag_.error(d.loc, "a function block instance takes no initial value");
    if (d.section == Section::CONSTANT) diag_.error(d.loc, "a function block instance cannot be a constant");
    if (!blocks_) blocks_ = builder_.segment(0, 0);
    v.block = &fb;
    v.number = builder_.varCount(*blocks_);
    if (v.number > 255 - fb.cells.size()) {
      diag_.error(d.loc, "too many function block instances (their cells must fit in 255 vars)");
      return;
    }
    for (const BlockCell &cell : fb.cells) builder_.var(*blocks_, typed(cell.type, cell.init));
    vars_[d.key] = v;
  }

  void declareArray(VarDecl &d, VarInfo &v) {
    auto low = constant(*d.type.low, DINT), high = constant(*d.type.high, DINT);
    if (!low || !high) return;
    v.array = true;
    v.low = low->v.i32;
    v.count = static_cast<int64_t>(high->v.i32) - v.low + 1;
    if (v.count < 1 || v.count > 65536) {
      diag_.error(d.type.loc, "array bounds [" + std::to_string(low->v.i32) + ".." + std::to_string(high->v.i32) +
                                  "] must hold 1 to 65536 elements");
      return;
    }
    if (d.binding.present) diag_.error(d.binding.loc, "an array cannot be bound to a point");
    if (d.section == Section::CONSTANT) diag_.error(d.loc, "constant arrays are not supported");
    build::Array a;
    a.type = v.type;
    a.elementCount = static_cast<uint32_t>(v.count);
    if (d.init && !d.listInit) diag_.error(d.init->loc, "an array's initial value is a list: [a, b, ...]");
    if (static_cast<int64_t>(d.inits.size()) > v.count)
      diag_.error(d.inits[v.count]->loc, "more initial values than the array's " + std::to_string(v.count) +
                                              " elements");
    for (auto &e : d.inits)
      if (auto c = constant(*e, v.type)) a.init.push_back(*c);
    v.number = builder_.array(a);
    vars_[d.key] = v;
  }

  // %PV, %PI, %PQ: the value (field 44) read and written, read only, written
  // only; %PS, %PSI, %PSQ: the status (field 43) likewise. The point ID follows.
  void bind(VarDecl &d, build::Var &var) {
    struct Form {
      const char *prefix;
      bool load, save;
      int8_t field;
    };
    static const Form forms[] = {{"PSI", true, false, 43}, {"PSQ", false, true, 43}, {"PS", true, true, 43},
                                 {"PV", true, true, 44},   {"PI", true, false, 44},  {"PQ", false, true, 44}};
    std::string text;
    for (char c : d.binding.text) text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const Form &f : forms) {
      size_t n = std::strlen(f.prefix);
      if (text.compare(0, n, f.prefix) != 0) continue;
      std::string digits = text.substr(n);
      if (digits.empty() || digits.size() > 10 || !std::all_of(digits.begin(), digits.end(), ::isdigit)) break;
      long long id = std::stoll(digits);
      if (id < 1 || id > std::numeric_limits<int32_t>::max()) break;
      var.load = f.load;
      var.save = f.save;
      var.pointField = f.field;
      var.pointId = static_cast<int32_t>(id);
      return;
    }
    diag_.error(d.binding.loc, "bad point address '%" + d.binding.text +
                                   "': expected %PV, %PI, %PQ, %PS, %PSI or %PSQ and a point ID from 1");
  }

  static Value zero(uint8_t t) { return typed(t, 0); }
  static Value typed(uint8_t t, double x) {
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

  // ---------------------------------------------------------------- constants

  // The value of a literal (or a constant's name) as type `want`, or an error.
  std::optional<Value> constant(Expr &e, uint8_t want) {
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
  std::optional<Value> literalValue(const Expr &e) {
    switch (e.kind) {
      case Expr::INTEGER:
      case Expr::REAL:
      case Expr::BOOL:
      case Expr::DURATION:
      case Expr::DATETIME:
      case Expr::TYPED: return literal(e);
      case Expr::NAME: {
        auto it = vars_.find(e.key);
        if (it != vars_.end() && it->second.constant) return it->second.value;
        return std::nullopt;
      }
      default: return std::nullopt;
    }
  }

  static double numberOf(const Value &c) {
    return c.type == BOOL ? c.v.b : c.type == INT ? c.v.i16 : c.type == DINT ? c.v.i32 : c.type == REAL ? c.v.f32 : c.v.f64;
  }

  static Value convertConstant(const Value &c, uint8_t to) {
    if (c.type == to) return c;
    double x = numberOf(c);
    if (to == INT || to == DINT) {
      x = std::round(x);
      if (to == INT) return Value::int16(static_cast<int16_t>(static_cast<int64_t>(x)));
      return Value::dint(static_cast<int32_t>(static_cast<int64_t>(x)));
    }
    return typed(to, x);
  }

  // A literal node's value at the type the checker settled.
  Value literal(const Expr &e) {
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

  // ---------------------------------------------------------------- type checking

  // Integer literal ranges.
  static bool fits(const Expr &e, uint8_t t) {
    double x = e.negative ? -static_cast<double>(e.integer) : static_cast<double>(e.integer);
    if (t == INT) return x >= -32768 && x <= 32767;
    if (t == DINT) return x >= -2147483648.0 && x <= 2147483647.0;
    return true;
  }

  // Gives an untyped literal (or a tree of them) the type `t`.
  uint8_t settle(Expr &e, uint8_t t) {
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
    return e.type = resultOf(e, e.operands[0]->type, e.operands[1]->type);
  }

  // The type of `e`; `hint` is the type the context wants (kError: none).
  uint8_t check(Expr &e, uint8_t hint = kError) {
    e.type = checkNode(e, hint);
    return e.type;
  }

  uint8_t checkNode(Expr &e, uint8_t hint) {
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

  uint8_t timeLiteral(Expr &e) {
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

  VarInfo *lookup(const Expr &e) {
    auto it = vars_.find(e.key);
    if (it == vars_.end()) {
      diag_.error(e.loc, "'" + e.text + "' is not declared");
      return nullptr;
    }
    it->second.used = true;
    return &it->second;
  }

  uint8_t checkName(Expr &e) {
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

  uint8_t checkIndex(Expr &e) {
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
  const BlockCell *memberCell(Expr &e, VarInfo **instance) {
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

  uint8_t checkMember(Expr &e) {
    VarInfo *v = nullptr;
    const BlockCell *c = memberCell(e, &v);
    return c ? c->type : kError;
  }

  uint8_t checkUnary(Expr &e, uint8_t hint) {
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

  static const char *opText(Op op) {
    static const char *texts[] = {"-", "NOT", "+", "-", "*", "/", "MOD", "**", "=", "<>", "<", "<=", ">", ">=", "AND", "OR", "XOR"};
    return texts[static_cast<int>(op)];
  }
  static bool isCompare(Op op) { return op >= Op::EQ && op <= Op::GE; }

  // The result type of a binary node with concrete operand types, or kError (no message).
  static uint8_t resultOf(const Expr &e, uint8_t a, uint8_t b) {
    if (a == kError || b == kError) return kError;
    Op op = e.op;
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

  uint8_t checkBinary(Expr &e, uint8_t hint) {
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
    uint8_t t = resultOf(e, a, b);
    if (t == kError)
      diag_.error(e.loc, std::string("'") + opText(e.op) + "' cannot combine " + typeName(a) + " and " + typeName(b));
    return t;
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

  // Checks that a value of type `from` may go where `to` is wanted; warns
  // about implicit narrowing. `e` is the value (for the place and literals).
  bool assignable(Expr &e, uint8_t from, uint8_t to) {
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

  // ---- calls

  struct CallPlan {
    enum Kind { NONE, STANDARD, RANGE, COMMAND, CONVERT, HOST, MOVE } kind = NONE;
    int32_t number = 0;
    std::vector<uint8_t> inputs;   // the parameter types
    std::vector<uint8_t> outputs;  // the result types
    std::vector<int> commands;     // COMMAND: one code; CONVERT: the chain
  };
  std::map<const Expr *, CallPlan> plans_;

  uint8_t checkArgs(Expr &e, const std::vector<uint8_t> &types, size_t outputs = 0) {
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

  bool isWritable(Expr &target) {
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

  uint8_t checkCall(Expr &e, uint8_t hint) {
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
      plan.inputs = {DINT, DINT, DINT};
      plan.outputs = {DINT};
      if (checkArgs(e, plan.inputs) == kError) return kError;
      result = DINT;
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

  // X_TO_Y and X_TRUNC_Y: (X, Y, truncating).
  static std::optional<std::tuple<uint8_t, uint8_t, bool>> conversionName(const std::string &name) {
    for (const char *sep : {"_TO_", "_TRUNC_"}) {
      size_t at = name.find(sep);
      if (at == std::string::npos) continue;
      int a = typeOfName(name.substr(0, at)), b = typeOfName(name.substr(at + std::strlen(sep)));
      if (a > 0 && b > 0) return std::make_tuple(static_cast<uint8_t>(a), static_cast<uint8_t>(b), sep[1] == 'T' && sep[2] == 'R');
    }
    return std::nullopt;
  }

  // ABS, SQRT, LN, LOG, EXP, SIN ... ATAN, EXPT (one command of the type),
  // SHL, SHR, ROL, ROR. Returns the command code, 0 when the name is none
  // of these, -1 after an error; `result` receives the type.
  int mathCommand(Expr &e, uint8_t hint, uint8_t &result) {
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

  // ---------------------------------------------------------------- code

  uint32_t emit(int codeValue, const Operand &s1 = Operand::none(), const Operand &s2 = Operand::none(),
                const Operand &d = Operand::none()) {
    if (codeValue < 0) {  // a combination the checker let through without a command: never emit it
      diag_.error(statementLoc_, "internal error: no machine command for an operation of this statement");
      return builder_.here();
    }
    // A constant moved or pushed carries its type in SRC2 for listings.
    if ((codeValue == op("mov") || codeValue == op("push_const")) && s1.kind == 1)
      return builder_.command(static_cast<uint32_t>(codeValue), s1, num(s1.cell.type), d);
    return builder_.command(static_cast<uint32_t>(codeValue), s1, s2, d);
  }
  static Operand num(uint32_t w1, uint32_t w2 = 0) { return Operand::words(1, w1, w2); }

  size_t newLabel() {
    labels_.emplace_back();
    return labels_.size() - 1;
  }
  void place(size_t label) {
    Label &l = labels_[label];
    l.address = builder_.here();
    for (auto [address, slot] : l.fixups) target(address, slot, static_cast<uint32_t>(l.address));
  }
  void target(uint32_t address, int slot, uint32_t to) {
    build::Command &c = builder_.at(address);
    (slot == 0 ? c.src1 : c.src2).cell.v.w[0] = to;
  }
  // A jump (jmp, jmp_xx) or if_eq / if_ne to a label.
  void jump(int codeValue, size_t label, const Operand &condition = Operand::none()) {
    bool isIf = codeValue == op("if_eq") || codeValue == op("if_ne");
    uint32_t at = isIf ? emit(codeValue, condition, num(0)) : emit(codeValue, num(0));
    int slot = isIf ? 1 : 0;
    if (labels_[label].address >= 0) target(at, slot, static_cast<uint32_t>(labels_[label].address));
    else labels_[label].fixups.push_back({at, slot});
  }

  Operand temp(uint8_t t) {
    std::vector<uint32_t> &pool = temps_[t];
    if (inUse_[t] == pool.size()) pool.push_back(builder_.var(global_, zero(t)));
    return Operand::var(0, pool[inUse_[t]++]);
  }
  static bool isVarOperand(const Operand &o) { return o.kind == 2; }
  static bool sameOperand(const Operand &a, const Operand &b) {
    return a.kind == b.kind && a.cell.v.w[0] == b.cell.v.w[0] && a.cell.v.w[1] == b.cell.v.w[1];
  }

  Operand constOperand(const Value &v) { return Operand::constant(v); }

  // The value of a checked expression, as an operand of its own type.
  Operand value(Expr &e) {
    if (isLiteralKind(e.type)) settle(e, kError);
    switch (e.kind) {
      case Expr::INTEGER:
      case Expr::REAL:
      case Expr::BOOL:
      case Expr::DURATION:
      case Expr::DATETIME:
      case Expr::TYPED: return constOperand(literal(e));
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
  Operand valueAs(Expr &e, uint8_t to) {
    if (isLiteralKind(e.type)) settle(e, to);
    if (auto c = literalValue(e)) return constOperand(convertConstant(*c, to));
    Operand v = value(e);
    if (e.type == to) return v;
    Operand t = temp(to);
    convert(v, e.type, t, to);
    return t;
  }

  void convert(const Operand &src, uint8_t from, const Operand &dst, uint8_t to, bool trunc = false) {
    std::vector<int> chain = conversions().path(from, to, trunc);
    Operand at = src;
    for (size_t k = 0; k < chain.size(); ++k) {
      Operand next = k + 1 == chain.size() ? dst : temp(LREAL);
      emit(chain[k], at, Operand::none(), next);
      at = next;
    }
  }

  // Computes `e` into the variable operand `dst` of type `to`.
  void into(Expr &e, const Operand &dst, uint8_t to) {
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

  Operand index(Expr &ix, const VarInfo &v) {
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

  void unaryInto(Expr &e, const Operand &dst) {
    Operand a = valueAs(*e.operands[0], e.type);
    emit(code(e.op == Op::NEG ? "neg" : "not", e.type), a, Operand::none(), dst);
  }

  static const char *compareSuffix(Op op) {
    switch (op) {
      case Op::EQ: return "eq";
      case Op::NE: return "ne";
      case Op::LT: return "lt";
      case Op::LE: return "le";
      case Op::GT: return "gt";
      default: return "ge";
    }
  }
  static Op negate(Op op) {
    switch (op) {
      case Op::EQ: return Op::NE;
      case Op::NE: return Op::EQ;
      case Op::LT: return Op::GE;
      case Op::LE: return Op::GT;
      case Op::GT: return Op::LE;
      default: return Op::LT;
    }
  }

  // cmd_T of a comparison node's operands.
  void compare(Expr &e) {
    Expr &l = *e.operands[0], &r = *e.operands[1];
    uint8_t t = l.type == r.type ? l.type : common(l.type, r.type);
    emit(code("cmd", t), valueAs(l, t), valueAs(r, t));
  }

  void binaryInto(Expr &e, const Operand &dst) {
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

  void push(const Operand &o) {
    if (isVarOperand(o)) emit(op("push_vars"), o, num(1));
    else emit(op("push_const"), o);
  }

  // A library call with its arguments on the param stack; the outputs go to
  // `outs` (none: discarded).
  void libraryCall(Expr &e, const CallPlan &plan, uint32_t callClass, const std::vector<Operand> &outs) {
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

  void callInto(Expr &e, const Operand &dst) {
    const CallPlan &plan = plans_[&e];
    switch (plan.kind) {
      case CallPlan::STANDARD:
      case CallPlan::RANGE: libraryCall(e, plan, VM_CALL_STANDARD, {dst}); return;
      case CallPlan::HOST: hostCall(e, plan, dst); return;
      case CallPlan::CONVERT: {
        Operand v = valueAs(*e.args[0].value, plan.inputs[0]);
        Operand at = v;
        for (size_t k = 0; k < plan.commands.size(); ++k) {
          Operand next = k + 1 == plan.commands.size() ? dst : temp(LREAL);
          emit(plan.commands[k], at, Operand::none(), next);
          at = next;
        }
        if (plan.commands.empty()) emit(op("mov"), v, Operand::none(), dst);
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
  void hostCall(Expr &e, const CallPlan &plan, const Operand &dst) {
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

  // ---- conditions

  // Jumps to `label` when `e` (a checked BOOL) is `when`.
  void branch(Expr &e, bool when, size_t label) {
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

  static bool hasCall(const Expr &e) {
    if (e.kind == Expr::CALL) return true;
    for (auto &o : e.operands)
      if (hasCall(*o)) return true;
    return false;
  }

  // ---------------------------------------------------------------- statements

  void generate(Program &p) {
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

  void statementsOf(Block &block) {
    for (auto &s : block) {
      if (diag_.full()) return;
      auto saved = inUse_;
      statement(*s);
      inUse_ = saved;
    }
  }

  void statement(Stmt &s) {
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

  void loop(Block &body, size_t exitLabel) {
    loops_.push_back({exitLabel});
    statementsOf(body);
    loops_.pop_back();
  }

  bool condition(Expr &e) {
    uint8_t t = check(e, BOOL);
    if (t == kError) return false;
    if (t != BOOL) {
      diag_.error(e.loc, std::string("a condition is BOOL, not ") + typeName(t));
      return false;
    }
    return true;
  }

  // Stores the operand `v` of type `from` into a target expression.
  void store(Expr &target, const Operand &v, uint8_t from) {
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

  void assign(Stmt &s) {
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

  void callStatement(Expr &call) {
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

  void blockCall(Expr &call, VarInfo &v) {
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

  void ifStatement(Stmt &s) {
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

  void caseStatement(Stmt &s) {
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

  void forStatement(Stmt &s) {
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

  void warnUnused() {
    for (const auto &[key, v] : vars_)
      if (!v.used && !v.bound) diag_.warning(v.loc, "'" + v.name + "' is declared but never used");
  }

  std::string_view source_;
  Diagnostics diag_;
  build::ImageBuilder builder_;
  uint32_t global_ = 0;
  std::optional<uint32_t> blocks_;
  std::map<std::string, VarInfo> vars_;
  std::vector<Label> labels_;
  std::vector<Loop> loops_;
  size_t endLabel_ = 0;
  std::vector<uint32_t> temps_[8];
  std::array<size_t, 8> inUse_{};
  size_t statements_ = 0;
  Loc statementLoc_;
};

}  // namespace

const Symbol *Compilation::symbol(std::string_view name) const {
  for (const Symbol &s : symbols)
    if (s.name.size() == name.size() &&
        std::equal(s.name.begin(), s.name.end(), name.begin(), [](char a, char b) { return std::toupper(a) == std::toupper(b); }))
      return &s;
  return nullptr;
}

Compilation compile(std::string_view source, const std::string &file) { return Compiler(source, file).run(); }

}  // namespace sicvm::stc
