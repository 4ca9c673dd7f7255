// SPDX-License-Identifier: MIT
// The Structured Text compiler: one PROGRAM ... END_PROGRAM source to one
// SIC image, built through the image builder.
//
// The image: data segment 0 holds the program's vars (in declaration
// order, after the two base vars) and the compiler's temporaries; when the
// program has function block instances, data segment 1 holds their cells
// and the code runs with it as the local segment:
//
//     set_ds 1; call @main; ret
//     main: load_points; <the body>; save_points; ret
//
// Without instances the code is the body between load_points and
// save_points, then ret. Arrays are the image's arrays, in declaration
// order. Constants (VAR CONSTANT) take no storage: their values are put
// into the commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "stc/diagnostics.h"
#include "symbols/symbols.h"

namespace sicvm::stc {

// Where a name of the program ended up in the image.
struct Symbol {
  std::string name;     // as declared
  uint32_t segment = 0; // data segment number
  uint32_t var = 0;     // var number in the segment, or array number for an array
  uint8_t type = 0;     // value type code
  bool array = false;
};

struct Compilation {
  std::vector<uint8_t> image;         // empty when there are errors
  std::vector<Diagnostic> diagnostics;  // errors and warnings in source order
  std::vector<std::string> rendered;    // each diagnostic with its source line and caret
  std::vector<Symbol> symbols;
  // The same names as a symbol file's table for `image`: the vars of
  // segment 0 and the arrays under their declared names, and each cell of a
  // function block instance as INSTANCE_CELL ("pump_timer_ET", state cells
  // too) in data segment 1, named "blocks".
  symbols::SymbolTable symbolTable;
  size_t errors = 0;
  size_t statements = 0;  // statements compiled
  bool ok() const { return errors == 0 && !image.empty(); }
  const Symbol *symbol(std::string_view name) const;
};

// Compiles a whole source; `file` names it in diagnostics.
Compilation compile(std::string_view source, const std::string &file);

}  // namespace sicvm::stc
