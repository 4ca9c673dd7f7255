// SPDX-License-Identifier: MIT
// The parser: tokens to a Unit of programs, functions and function blocks. Syntax errors are reported to the
// diagnostics; after an error the parser skips to the end of the statement
// or declaration and goes on, so one run reports every error of the file.
#pragma once

#include <vector>

#include "stc/ast.h"
#include "stc/lexer.h"

namespace sicvm::stc {

// Parses the PROGRAM, FUNCTION and FUNCTION_BLOCK units of a source;
// returns false when nothing usable was found.
bool parse(const std::vector<Token> &tokens, Diagnostics &diag, Unit &unit);

}  // namespace sicvm::stc
