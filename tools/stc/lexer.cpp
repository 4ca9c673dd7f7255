// SPDX-License-Identifier: MIT
// The scanner of Structured Text.
#include "stc/lexer.h"

#include <cctype>
#include <cstdlib>

namespace sicvm::stc {
namespace {

bool isNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) || c == '_'; }
bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::string upper(std::string_view s) {
  std::string out(s);
  for (char &c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// Prefixes of typed numeric literals.
bool isTypePrefix(const std::string &key) {
  return key == "BOOL" || key == "INT" || key == "DINT" || key == "REAL" || key == "LREAL" ||
         key == "SINT" || key == "LINT" || key == "UINT" || key == "UDINT";
}

class Lexer {
 public:
  Lexer(std::string_view src, Diagnostics &diag) : s_(src), diag_(diag) {}

  std::vector<Token> run() {
    std::vector<Token> out;
    for (;;) {
      skipSpaceAndComments();
      Token t;
      t.loc = loc();
      if (i_ >= s_.size()) {
        out.push_back(t);
        return out;
      }
      scan(t);
      out.push_back(std::move(t));
    }
  }

 private:
  Loc loc() const { return {line_, i_ - lineStart_ + 1}; }
  char at(size_t k = 0) const { return i_ + k < s_.size() ? s_[i_ + k] : '\0'; }
  void advance(size_t n = 1) {
    for (size_t k = 0; k < n && i_ < s_.size(); ++k) {
      if (s_[i_] == '\n') {
        ++line_;
        lineStart_ = i_ + 1;
      }
      ++i_;
    }
  }

  void skipSpaceAndComments() {
    for (;;) {
      while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) advance();
      if (at() == '(' && at(1) == '*') {
        blockComment("*)");
      } else if (at() == '/' && at(1) == '*') {
        blockComment("*/");
      } else if (at() == '/' && at(1) == '/') {
        while (i_ < s_.size() && s_[i_] != '\n') advance();
      } else {
        return;
      }
    }
  }

  void blockComment(std::string_view close) {
    Loc start = loc();
    advance(2);
    while (i_ < s_.size() && s_.substr(i_, 2) != close) advance();
    if (i_ >= s_.size()) {
      diag_.error(start, "comment is not closed (missing '" + std::string(close) + "')");
      return;
    }
    advance(2);
  }

  void scan(Token &t) {
    size_t start = i_;
    char c = at();
    if (isNameStart(c)) {
      while (isNameChar(at())) advance();
      t.text = std::string(s_.substr(start, i_ - start));
      t.key = upper(t.text);
      t.kind = Tok::NAME;
      if (at() == '#') literalAfterPrefix(t, start);
      return;
    }
    if (std::isdigit(static_cast<unsigned char>(c))) {
      number(t, start);
      return;
    }
    if (c == '%') {
      advance();
      while (isNameChar(at()) || at() == '.') advance();
      t.kind = Tok::DIRECT;
      t.text = std::string(s_.substr(start + 1, i_ - start - 1));
      return;
    }
    struct Op {
      const char *text;
      Tok kind;
    };
    static const Op ops[] = {{":=", Tok::ASSIGN}, {"=>", Tok::OUTPUT}, {"<>", Tok::NE}, {"<=", Tok::LE},
                             {">=", Tok::GE},     {"**", Tok::POWER},  {"..", Tok::RANGE}, {"=", Tok::EQ},
                             {"<", Tok::LT},      {">", Tok::GT},      {"+", Tok::PLUS},  {"-", Tok::MINUS},
                             {"*", Tok::STAR},    {"/", Tok::SLASH},   {"&", Tok::AMP},   {"(", Tok::LPAREN},
                             {")", Tok::RPAREN},  {"[", Tok::LBRACKET}, {"]", Tok::RBRACKET},
                             {",", Tok::COMMA},   {";", Tok::SEMI},    {":", Tok::COLON}, {".", Tok::DOT}};
    for (const Op &op : ops) {
      std::string_view text(op.text);
      if (s_.substr(i_, text.size()) == text) {
        advance(text.size());
        t.kind = op.kind;
        t.text = std::string(text);
        return;
      }
    }
    advance();
    t.kind = Tok::BAD;
    t.text = std::string(1, c);
    diag_.error(t.loc, "unexpected character '" + t.text + "'");
  }

  // NAME '#' ...: a duration, a date and time, or a typed number.
  void literalAfterPrefix(Token &t, size_t start) {
    const std::string &key = t.key;
    if (key == "T" || key == "TIME" || key == "DT" || key == "DATE_AND_TIME") {
      advance();  // '#'
      bool dt = key == "DT" || key == "DATE_AND_TIME";
      if (at() == '-') advance();
      while (isNameChar(at()) || at() == '.' || (dt && (at() == '-' || at() == ':'))) advance();
      t.kind = dt ? Tok::DATETIME : Tok::DURATION;
      t.text = std::string(s_.substr(start, i_ - start));
      return;
    }
    if (isTypePrefix(key)) {
      advance();
      t.kind = Tok::TYPED;
      t.text = key + "#";
    }
    // Any other NAME# is left as a name; the parser reports the '#'.
  }

  void number(Token &t, size_t start) {
    while (std::isdigit(static_cast<unsigned char>(at())) || at() == '_') advance();
    if (at() == '#') {  // based integer
      std::string baseText;
      for (size_t k = start; k < i_; ++k)
        if (s_[k] != '_') baseText += s_[k];
      int base = std::atoi(baseText.c_str());
      advance();
      size_t digits = i_;
      uint64_t value = 0;
      bool overflow = false, bad = false;
      while (isNameChar(at())) {
        char d = at();
        advance();
        if (d == '_') continue;
        int v = std::isdigit(static_cast<unsigned char>(d)) ? d - '0'
                : std::isalpha(static_cast<unsigned char>(d)) ? std::toupper(static_cast<unsigned char>(d)) - 'A' + 10
                                                               : 99;
        if (v >= base) bad = true;
        if (value > (UINT64_MAX - static_cast<uint64_t>(v)) / static_cast<uint64_t>(base ? base : 1)) overflow = true;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(v);
      }
      t.kind = Tok::INTEGER;
      t.text = std::string(s_.substr(start, i_ - start));
      t.integer = value;
      t.overflow = overflow;
      if (base != 2 && base != 8 && base != 16)
        diag_.error(t.loc, "integer base must be 2, 8 or 16, not " + baseText);
      else if (bad || i_ == digits)
        diag_.error(t.loc, "'" + t.text + "' is not a base-" + baseText + " integer");
      return;
    }
    bool real = false;
    if (at() == '.' && std::isdigit(static_cast<unsigned char>(at(1)))) {
      real = true;
      advance();
      while (std::isdigit(static_cast<unsigned char>(at())) || at() == '_') advance();
    }
    if ((at() == 'e' || at() == 'E') &&
        (std::isdigit(static_cast<unsigned char>(at(1))) ||
         ((at(1) == '+' || at(1) == '-') && std::isdigit(static_cast<unsigned char>(at(2)))))) {
      real = true;
      advance(2);
      while (std::isdigit(static_cast<unsigned char>(at()))) advance();
    }
    t.text = std::string(s_.substr(start, i_ - start));
    std::string clean;
    for (char ch : t.text)
      if (ch != '_') clean += ch;
    if (real) {
      t.kind = Tok::REAL;
      t.real = std::strtod(clean.c_str(), nullptr);
    } else {
      t.kind = Tok::INTEGER;
      uint64_t value = 0;
      for (char ch : clean) {
        uint64_t d = static_cast<uint64_t>(ch - '0');
        if (value > (UINT64_MAX - d) / 10) t.overflow = true;
        value = value * 10 + d;
      }
      t.integer = value;
    }
    if (isNameStart(at())) {
      Loc l = loc();
      while (isNameChar(at())) advance();
      diag_.error(l, "unexpected letters after the number '" + t.text + "'");
    }
  }

  std::string_view s_;
  Diagnostics &diag_;
  size_t i_ = 0;
  size_t line_ = 1;
  size_t lineStart_ = 0;
};

}  // namespace

std::vector<Token> tokenize(std::string_view source, Diagnostics &diag) { return Lexer(source, diag).run(); }

std::string describe(const Token &token) {
  if (token.kind == Tok::END) return "end of file";
  return "'" + token.text + "'";
}

}  // namespace sicvm::stc
