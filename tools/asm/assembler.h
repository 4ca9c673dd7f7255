// SPDX-License-Identifier: MIT
// The assembler: turns assembly source into a SIC image.
//
// Command lines use the listing's syntax (a line copied from `sicvm list`
// assembles to the same command), extended with names, labels and key=value
// fields for the bytes a listing line does not show. Directives declare the
// header, data segments, vars, arrays and raw image bytes. The language is
// described in README.md ("Assembly language").
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sicvm/image.h"
#include "symbols/symbols.h"

namespace sicvm::assembly {

struct Diagnostic {
  std::string file;
  size_t line = 0;    // 1-based; 0 for the file as a whole
  size_t column = 0;  // 1-based; 0 for the line as a whole
  std::string message;
  bool warning = false;  // the image is written all the same
  // "FILE:LINE:COLUMN: error: MESSAGE" ("warning:" for a warning)
  std::string text() const;
};

struct Assembly {
  std::vector<uint8_t> image;        // empty when there are errors
  std::vector<Diagnostic> errors;    // in source order, at most kMaxErrors
  std::vector<Diagnostic> warnings;  // what assembles but is likely a mistake
  symbols::SymbolTable symbols;      // the source's names, for the image above
  bool ok() const { return errors.empty(); }
};

inline constexpr size_t kMaxErrors = 50;

// The value type a command writes into its DST: a conversion's target type
// (dint_to_lreal: LREAL), BOOL for the test commands, the operand type of the
// arithmetic, bit and logic commands (TIME for sub_dt); 0 when the command
// table does not fix it.
int resultTypeOf(uint32_t codeWord);

// Assembles a whole source; `file` names it in diagnostics.
Assembly assemble(std::string_view source, const std::string &file);

// Assembles one command line that uses no names or labels (numeric
// addresses only). Returns false with a message on a syntax error.
bool assembleCommand(std::string_view line, VmCommand &command, std::string &error);

// The key=value fields of a command line: every byte of the record can be
// given this way. `slot` is 0 (SRC1), 1 (SRC2), 2 (DST) for operand fields.
enum class Field : uint8_t { CODE, RESERVED, KIND, HEAD, WORD1, WORD2, CALL_TYPE, CALL_CLASS, FIRST, NIN, NOUT };

struct CommandKey {
  const char *name;
  Field field;
  uint8_t slot;
  uint32_t max;       // largest value accepted
  bool callOnly;      // only for `call` lines
};

// In the order the disassembler writes them: call fields first, then the raw ones.
inline constexpr CommandKey kCommandKeys[] = {
    {"type", Field::CALL_TYPE, 0, 0xFF, true},
    {"class", Field::CALL_CLASS, 0, 0xFF00, true},
    {"first", Field::FIRST, 1, 0xFF, true},
    {"nin", Field::NIN, 1, 0xFF, true},
    {"nout", Field::NOUT, 1, 0xFF, true},
    {"code", Field::CODE, 0, 0xFFFFFFFFu, false},
    {"reserved", Field::RESERVED, 0, 0xFF, false},
    {"src1.kind", Field::KIND, 0, 0xFF, false},
    {"src1.head", Field::HEAD, 0, 0xFFFFFFFFu, false},
    {"src1.w1", Field::WORD1, 0, 0xFFFFFFFFu, false},
    {"src1.w2", Field::WORD2, 0, 0xFFFFFFFFu, false},
    {"src2.kind", Field::KIND, 1, 0xFF, false},
    {"src2.head", Field::HEAD, 1, 0xFFFFFFFFu, false},
    {"src2.w1", Field::WORD1, 1, 0xFFFFFFFFu, false},
    {"src2.w2", Field::WORD2, 1, 0xFFFFFFFFu, false},
    {"dst.kind", Field::KIND, 2, 0xFF, false},
    {"dst.head", Field::HEAD, 2, 0xFFFFFFFFu, false},
    {"dst.w1", Field::WORD1, 2, 0xFFFFFFFFu, false},
    {"dst.w2", Field::WORD2, 2, 0xFFFFFFFFu, false},
};

uint32_t getField(const VmCommand &command, const CommandKey &key);
void setField(VmCommand &command, const CommandKey &key, uint32_t value);

}  // namespace sicvm::assembly
