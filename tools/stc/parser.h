// SPDX-License-Identifier: MIT
// The parser: tokens to a Program. Syntax errors are reported to the
// diagnostics; after an error the parser skips to the end of the statement
// or declaration and goes on, so one run reports every error of the file.
#pragma once

#include <vector>

#include "stc/ast.h"
#include "stc/lexer.h"

namespace sicvm::stc {

// Parses PROGRAM ... END_PROGRAM; returns false when nothing usable was found.
bool parse(const std::vector<Token> &tokens, Diagnostics &diag, Program &program);

}  // namespace sicvm::stc
