// SPDX-License-Identifier: MIT
// Recursive descent over the tokens, with the operator precedence of
// Structured Text, loosest first: OR; XOR; AND and &; = and <>;
// < > <= >=; + and -; * / MOD; **; unary - and NOT; calls, indexes, members.
#include "stc/parser.h"

#include <string>
#include <unordered_set>

namespace sicvm::stc {
namespace {

struct ParseError {};

// Keywords that end a statement list.
bool endsBlock(const Token &t) {
  static const std::unordered_set<std::string> keys = {"END_IF",   "ELSIF",      "ELSE",      "END_CASE",
                                                       "END_FOR",  "END_WHILE",  "UNTIL",     "END_REPEAT",
                                                       "END_PROGRAM", "END_VAR", "VAR",       "VAR_GLOBAL"};
  return t.kind == Tok::END || (t.kind == Tok::NAME && keys.count(t.key));
}

bool isReserved(const std::string &key) {
  static const std::unordered_set<std::string> keys = {
      "IF",     "THEN",        "ELSIF",  "ELSE",       "END_IF",  "CASE",     "OF",    "END_CASE", "FOR",
      "TO",     "BY",          "DO",     "END_FOR",    "WHILE",   "END_WHILE", "REPEAT", "UNTIL",   "END_REPEAT",
      "EXIT",   "RETURN",      "PROGRAM", "END_PROGRAM", "VAR",   "VAR_GLOBAL", "END_VAR", "CONSTANT", "RETAIN",
      "AT",     "ARRAY",       "AND",    "OR",         "XOR",     "NOT",      "MOD",   "TRUE",     "FALSE"};
  return keys.count(key) != 0;
}

class Parser {
 public:
  Parser(const std::vector<Token> &tokens, Diagnostics &diag) : t_(tokens), diag_(diag) {}

  bool program(Program &p) {
    if (!isKey("PROGRAM")) {
      diag_.error(cur().loc, "expected 'PROGRAM', found " + describe(cur()));
      return false;
    }
    p.loc = cur().loc;
    next();
    if (cur().kind == Tok::NAME && !isReserved(cur().key)) {
      p.name = cur().text;
      next();
    } else {
      diag_.error(cur().loc, "expected the program's name, found " + describe(cur()));
    }
    while (isKey("VAR") || isKey("VAR_GLOBAL")) varBlock(p);
    p.body = block();
    while (!isKey("END_PROGRAM") && cur().kind != Tok::END) {
      // A stray block end (END_IF without IF, a VAR block after the body): report and skip.
      diag_.error(cur().loc, "unexpected " + describe(cur()) + (isKey("VAR") || isKey("VAR_GLOBAL")
                                                                    ? " (declarations come before the statements)"
                                                                    : ""));
      next();
      Block more = block();
      for (auto &s : more) p.body.push_back(std::move(s));
    }
    if (!isKey("END_PROGRAM")) {
      diag_.error(cur().loc, "expected 'END_PROGRAM', found " + describe(cur()));
    } else {
      next();
      if (cur().kind != Tok::END)
        diag_.error(cur().loc, "expected end of file after 'END_PROGRAM' (one program per file), found " +
                                   describe(cur()));
    }
    return true;
  }

 private:
  const Token &cur() const { return t_[i_]; }
  const Token &peek(size_t k = 1) const { return t_[i_ + k < t_.size() ? i_ + k : t_.size() - 1]; }
  void next() {
    if (i_ + 1 < t_.size()) ++i_;
  }
  bool isKey(const char *key) const { return cur().kind == Tok::NAME && cur().key == key; }
  bool accept(Tok kind) {
    if (cur().kind != kind) return false;
    next();
    return true;
  }
  bool acceptKey(const char *key) {
    if (!isKey(key)) return false;
    next();
    return true;
  }
  [[noreturn]] void fail(const std::string &what) {
    diag_.error(cur().loc, "expected " + what + ", found " + describe(cur()));
    throw ParseError{};
  }
  void expect(Tok kind, const char *what) {
    if (!accept(kind)) fail(what);
  }
  void expectKey(const char *key) {
    if (!acceptKey(key)) fail(std::string("'") + key + "'");
  }
  // Skips to just after the next ';' or to a keyword that ends a block.
  void recover() {
    while (cur().kind != Tok::END && cur().kind != Tok::SEMI && !endsBlock(cur())) next();
    accept(Tok::SEMI);
  }

  // ---- declarations ----

  void varBlock(Program &p) {
    Section section = isKey("VAR_GLOBAL") ? Section::GLOBAL : Section::VAR;
    next();
    if (acceptKey("CONSTANT")) section = Section::CONSTANT;
    else if (acceptKey("RETAIN")) section = Section::RETAIN;
    while (!isKey("END_VAR") && !endsBlock(cur()) && !diag_.full()) {
      try {
        declaration(p, section);
      } catch (const ParseError &) {
        while (cur().kind != Tok::END && cur().kind != Tok::SEMI && !isKey("END_VAR") && !endsBlock(cur())) next();
        accept(Tok::SEMI);
      }
    }
    if (!acceptKey("END_VAR")) diag_.error(cur().loc, "expected 'END_VAR', found " + describe(cur()));
  }

  std::string name(const char *what) {
    if (cur().kind != Tok::NAME || isReserved(cur().key)) fail(what);
    std::string text = cur().text;
    next();
    return text;
  }

  void declaration(Program &p, Section section) {
    std::vector<std::pair<std::string, Loc>> names;
    do {
      Loc loc = cur().loc;
      names.emplace_back(name("a variable name"), loc);
    } while (accept(Tok::COMMA));
    Binding binding;
    if (acceptKey("AT")) {
      if (cur().kind != Tok::DIRECT) fail("a point address such as %PV1001");
      binding.present = true;
      binding.loc = cur().loc;
      binding.text = cur().text;
      next();
    }
    expect(Tok::COLON, "':'");
    TypeSpec type;
    type.loc = cur().loc;
    if (acceptKey("ARRAY")) {
      type.array = true;
      expect(Tok::LBRACKET, "'['");
      type.low = expression();
      expect(Tok::RANGE, "'..'");
      type.high = expression();
      expect(Tok::RBRACKET, "']'");
      expectKey("OF");
      type.loc = cur().loc;
    }
    type.name = name("a type name");
    type.key = t_[i_ - 1].key;
    ExprPtr init;
    std::vector<ExprPtr> inits;
    bool list = false;
    if (accept(Tok::ASSIGN)) {
      if (accept(Tok::LBRACKET)) {
        list = true;
        do inits.push_back(expression());
        while (accept(Tok::COMMA));
        expect(Tok::RBRACKET, "']'");
      } else {
        init = expression();
      }
    }
    expect(Tok::SEMI, "';'");
    for (size_t k = 0; k < names.size(); ++k) {
      VarDecl d;
      d.name = names[k].first;
      d.key = upperName(d.name);
      d.loc = names[k].second;
      d.section = section;
      d.binding = binding;
      d.type.loc = type.loc;
      d.type.name = type.name;
      d.type.key = type.key;
      d.type.array = type.array;
      if (type.array) {
        d.type.low = clone(*type.low);
        d.type.high = clone(*type.high);
      }
      if (init) d.init = clone(*init);
      d.listInit = list;
      for (auto &e : inits) d.inits.push_back(clone(*e));
      p.vars.push_back(std::move(d));
    }
  }

  static std::string upperName(const std::string &s) {
    std::string out = s;
    for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
  }

  static ExprPtr clone(const Expr &e) {
    auto c = std::make_unique<Expr>();
    c->kind = e.kind;
    c->loc = e.loc;
    c->text = e.text;
    c->key = e.key;
    c->integer = e.integer;
    c->real = e.real;
    c->negative = e.negative;
    c->op = e.op;
    for (auto &o : e.operands) c->operands.push_back(clone(*o));
    for (auto &a : e.args) c->args.push_back({a.name, a.nameLoc, a.output, clone(*a.value)});
    return c;
  }

  // ---- statements ----

  Block block() {
    Block out;
    while (!endsBlock(cur()) && !diag_.full()) {
      if (atCaseLabel()) break;
      if (accept(Tok::SEMI)) continue;
      size_t before = i_;
      try {
        out.push_back(statement());
      } catch (const ParseError &) {
        recover();
        if (i_ == before) next();
      }
    }
    return out;
  }

  // Inside a CASE: a label (a number, a signed number, or a name followed by
  // ',', ':' or '..') starts the next arm.
  bool atCaseLabel() const {
    if (caseDepth_ == 0) return false;
    const Token &t = cur();
    if (t.kind == Tok::INTEGER || t.kind == Tok::TYPED) return true;
    if (t.kind == Tok::MINUS && peek().kind == Tok::INTEGER) return true;
    if (t.kind == Tok::NAME && !isReserved(t.key))
      return peek().kind == Tok::COLON || peek().kind == Tok::COMMA || peek().kind == Tok::RANGE;
    return false;
  }

  std::unique_ptr<Stmt> statement() {
    Nest nest(*this);
    auto s = std::make_unique<Stmt>();
    s->loc = cur().loc;
    if (acceptKey("IF")) {
      do {
        IfArm arm;
        arm.condition = expression();
        expectKey("THEN");
        arm.body = block();
        s->arms.push_back(std::move(arm));
      } while (acceptKey("ELSIF"));
      if (acceptKey("ELSE")) {
        s->hasElse = true;
        s->body = block();
      }
      expectKey("END_IF");
      s->kind = Stmt::IF;
    } else if (acceptKey("CASE")) {
      s->kind = Stmt::CASE;
      s->value = expression();
      expectKey("OF");
      ++caseDepth_;
      while (atCaseLabel()) {
        CaseArm arm;
        do {
          CaseLabel label;
          label.low = expression();
          if (accept(Tok::RANGE)) label.high = expression();
          arm.labels.push_back(std::move(label));
        } while (accept(Tok::COMMA));
        if (!accept(Tok::COLON)) {
          --caseDepth_;
          fail("':' after the case label");
        }
        arm.body = block();
        s->cases.push_back(std::move(arm));
      }
      --caseDepth_;
      if (acceptKey("ELSE")) {
        s->hasElse = true;
        int saved = caseDepth_;
        caseDepth_ = 0;
        s->body = block();
        caseDepth_ = saved;
      }
      expectKey("END_CASE");
    } else if (acceptKey("FOR")) {
      s->kind = Stmt::FOR;
      auto v = std::make_unique<Expr>();
      v->kind = Expr::NAME;
      v->loc = cur().loc;
      v->text = name("the control variable");
      v->key = upperName(v->text);
      s->target = std::move(v);
      expect(Tok::ASSIGN, "':='");
      s->value = expression();
      expectKey("TO");
      s->to = expression();
      if (acceptKey("BY")) s->by = expression();
      expectKey("DO");
      s->body = loopBody();
      expectKey("END_FOR");
    } else if (acceptKey("WHILE")) {
      s->kind = Stmt::WHILE;
      s->value = expression();
      expectKey("DO");
      s->body = loopBody();
      expectKey("END_WHILE");
    } else if (acceptKey("REPEAT")) {
      s->kind = Stmt::REPEAT;
      s->body = loopBody();
      expectKey("UNTIL");
      s->value = expression();
      expectKey("END_REPEAT");
    } else if (acceptKey("EXIT")) {
      s->kind = Stmt::EXIT;
    } else if (acceptKey("RETURN")) {
      s->kind = Stmt::RETURN;
    } else {
      if (cur().kind != Tok::NAME || isReserved(cur().key)) fail("a statement");
      ExprPtr e = postfix();
      if (accept(Tok::ASSIGN)) {
        s->kind = Stmt::ASSIGN;
        s->target = std::move(e);
        s->value = expression();
      } else if (e->kind == Expr::CALL) {
        s->kind = Stmt::CALL;
        s->value = std::move(e);
      } else {
        fail("':='");
      }
    }
    expect(Tok::SEMI, "';'");
    return s;
  }

  Block loopBody() {
    int saved = caseDepth_;
    caseDepth_ = 0;
    Block b = block();
    caseDepth_ = saved;
    return b;
  }

  // ---- expressions ----

  ExprPtr binary(ExprPtr left, Op op, ExprPtr right, Loc loc) {
    auto e = std::make_unique<Expr>();
    e->kind = Expr::BINARY;
    e->loc = loc;
    e->op = op;
    e->operands.push_back(std::move(left));
    e->operands.push_back(std::move(right));
    return e;
  }

  // The binary operator at the cursor on precedence level n (0 loosest), if any.
  bool opAt(int n, Op &op) const {
    struct Entry {
      int level;
      Tok tok;
      const char *keyword;
      Op op;
    };
    static const Entry table[] = {
        {0, Tok::BAD, "OR", Op::OR},    {1, Tok::BAD, "XOR", Op::XOR},  {2, Tok::AMP, nullptr, Op::AND},
        {2, Tok::BAD, "AND", Op::AND},  {3, Tok::EQ, nullptr, Op::EQ},  {3, Tok::NE, nullptr, Op::NE},
        {4, Tok::LT, nullptr, Op::LT},  {4, Tok::LE, nullptr, Op::LE},  {4, Tok::GT, nullptr, Op::GT},
        {4, Tok::GE, nullptr, Op::GE},  {5, Tok::PLUS, nullptr, Op::ADD}, {5, Tok::MINUS, nullptr, Op::SUB},
        {6, Tok::STAR, nullptr, Op::MUL}, {6, Tok::SLASH, nullptr, Op::DIV}, {6, Tok::BAD, "MOD", Op::MOD},
        {7, Tok::POWER, nullptr, Op::POW},
    };
    for (const Entry &e : table)
      if (e.level == n && (e.keyword ? cur().kind == Tok::NAME && cur().key == e.keyword : cur().kind == e.tok)) {
        op = e.op;
        return true;
      }
    return false;
  }

  // Nesting deeper than this is reported rather than followed, so that no
  // source can exhaust the stack of the parser or of the code generator.
  static constexpr int kMaxNesting = 200;
  struct Nest {
    Parser &p;
    explicit Nest(Parser &parser) : p(parser) {
      if (++p.depth_ > kMaxNesting) {
        --p.depth_;
        p.fail("less deeply nested code (at most " + std::to_string(kMaxNesting) + " levels)");
      }
    }
    ~Nest() { --p.depth_; }
  };

  ExprPtr expression() {
    Nest nest(*this);
    return level(0);
  }

  ExprPtr level(int n) {
    if (n == kLevels) return unary();
    ExprPtr left = level(n + 1);
    // A chain a + b + c ... nests to the left as deeply as it is long.
    int chain = 0;
    for (Op op; opAt(n, op);) {
      if (++chain + depth_ > kMaxNesting)
        fail("at most " + std::to_string(kMaxNesting) + " operators in a row (split the expression)");
      Loc loc = cur().loc;
      next();
      left = binary(std::move(left), op, level(n + 1), loc);
    }
    return left;
  }

  ExprPtr unary() {
    Nest nest(*this);
    Loc loc = cur().loc;
    if (accept(Tok::MINUS)) {
      // A negative number literal is one literal, so -32768 is an INT.
      if (cur().kind == Tok::INTEGER || cur().kind == Tok::REAL) {
        ExprPtr lit = primary();
        lit->negative = !lit->negative;
        lit->loc = loc;
        return postfixOf(std::move(lit));
      }
      return unaryOf(Op::NEG, unary(), loc);
    }
    if (accept(Tok::PLUS)) return unary();
    if (acceptKey("NOT")) return unaryOf(Op::NOT, unary(), loc);
    return postfix();
  }

  ExprPtr unaryOf(Op op, ExprPtr operand, Loc loc) {
    auto e = std::make_unique<Expr>();
    e->kind = Expr::UNARY;
    e->loc = loc;
    e->op = op;
    e->operands.push_back(std::move(operand));
    return e;
  }

  ExprPtr postfix() { return postfixOf(primary()); }

  ExprPtr postfixOf(ExprPtr e) {
    for (int chain = 0;; ++chain) {
      if (chain + depth_ > kMaxNesting) fail("less deeply nested code (at most " + std::to_string(kMaxNesting) + " levels)");
      Loc loc = cur().loc;
      if (cur().kind == Tok::LPAREN && e->kind == Expr::NAME) {
        next();
        e->kind = Expr::CALL;
        if (!accept(Tok::RPAREN)) {
          do e->args.push_back(argument());
          while (accept(Tok::COMMA));
          expect(Tok::RPAREN, "')' or ','");
        }
      } else if (accept(Tok::LBRACKET)) {
        auto ix = std::make_unique<Expr>();
        ix->kind = Expr::INDEX;
        ix->loc = loc;
        ix->operands.push_back(std::move(e));
        ix->operands.push_back(expression());
        expect(Tok::RBRACKET, "']'");
        e = std::move(ix);
      } else if (accept(Tok::DOT)) {
        auto m = std::make_unique<Expr>();
        m->kind = Expr::MEMBER;
        m->loc = cur().loc;
        m->text = name("a member name");
        m->key = upperName(m->text);
        m->operands.push_back(std::move(e));
        e = std::move(m);
      } else {
        return e;
      }
    }
  }

  Arg argument() {
    Arg a;
    if (cur().kind == Tok::NAME && (peek().kind == Tok::ASSIGN || peek().kind == Tok::OUTPUT)) {
      a.name = cur().key;
      a.nameLoc = cur().loc;
      next();
      a.output = cur().kind == Tok::OUTPUT;
      next();
    }
    a.value = expression();
    return a;
  }

  ExprPtr primary() {
    const Token &t = cur();
    auto e = std::make_unique<Expr>();
    e->loc = t.loc;
    e->text = t.text;
    switch (t.kind) {
      case Tok::INTEGER:
        if (t.overflow) diag_.error(t.loc, "integer '" + t.text + "' is too large");
        e->kind = Expr::INTEGER;
        e->integer = t.integer;
        next();
        return e;
      case Tok::REAL:
        e->kind = Expr::REAL;
        e->real = t.real;
        next();
        return e;
      case Tok::DURATION:
        e->kind = Expr::DURATION;
        next();
        return e;
      case Tok::DATETIME:
        e->kind = Expr::DATETIME;
        next();
        return e;
      case Tok::TYPED: {
        e->kind = Expr::TYPED;
        e->key = t.key;
        next();
        Loc at = cur().loc;
        bool neg = accept(Tok::MINUS);
        if (cur().kind != Tok::INTEGER && cur().kind != Tok::REAL && !isKey("TRUE") && !isKey("FALSE"))
          fail("a number after '" + e->text + "'");
        ExprPtr value = primary();
        value->negative = neg;
        value->loc = at;
        e->operands.push_back(std::move(value));
        return e;
      }
      case Tok::LPAREN: {
        next();
        ExprPtr inner = expression();
        expect(Tok::RPAREN, "')'");
        return inner;
      }
      case Tok::NAME:
        if (t.key == "TRUE" || t.key == "FALSE") {
          e->kind = Expr::BOOL;
          e->integer = t.key == "TRUE";
          next();
          return e;
        }
        if (isReserved(t.key)) fail("an expression");
        if (peek().kind == Tok::BAD && peek().text == "#") {
          diag_.error(t.loc, "unknown literal type '" + t.text + "#'");
        }
        e->kind = Expr::NAME;
        e->key = t.key;
        next();
        return e;
      default:
        fail("an expression");
    }
  }

  static constexpr int kLevels = 8;

 private:
  const std::vector<Token> &t_;
  Diagnostics &diag_;
  size_t i_ = 0;
  int caseDepth_ = 0;
  int depth_ = 0;
};

}  // namespace

bool parse(const std::vector<Token> &tokens, Diagnostics &diag, Program &program) {
  return Parser(tokens, diag).program(program);
}

}  // namespace sicvm::stc
