// SPDX-License-Identifier: MIT
// The tokens of Structured Text. Keywords and names are case-insensitive:
// a name token carries its text upper-cased in `key` and as written in
// `text`. Comments are (* ... *), /* ... */ and // to the end of the line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "stc/diagnostics.h"

namespace sicvm::stc {

enum class Tok : uint8_t {
  END,       // end of the source
  NAME,      // a name or keyword (see key)
  INTEGER,   // 123, 1_000, 16#FF, 2#1010, 8#17
  REAL,      // 1.5, 1.0E-3
  TYPED,     // a typed literal's prefix: INT#, REAL#, BOOL#, ... (key = the type name)
  DURATION,  // T#1h2m, TIME#5s (text = the whole literal)
  DATETIME,  // DT#2024-03-05-07:08:09, DATE_AND_TIME#... (text = the whole literal)
  DIRECT,    // %PV1001 (text without the '%')
  ASSIGN,    // :=
  OUTPUT,    // =>
  EQ, NE, LT, LE, GT, GE,
  PLUS, MINUS, STAR, SLASH, POWER, AMP,
  LPAREN, RPAREN, LBRACKET, RBRACKET, COMMA, SEMI, COLON, DOT, RANGE,
  BAD,       // a character that starts no token
};

struct Token {
  Tok kind = Tok::END;
  Loc loc;
  std::string text;  // as written
  std::string key;   // NAME and TYPED: upper-cased
  uint64_t integer = 0;
  double real = 0;
  bool overflow = false;  // INTEGER beyond 64 bits
};

// Splits a whole source into tokens; lexical errors go to `diag` and the
// scan goes on, so every error of the file is reported.
std::vector<Token> tokenize(std::string_view source, Diagnostics &diag);

// How a token is shown in messages: 'text', or "end of file".
std::string describe(const Token &token);

}  // namespace sicvm::stc
