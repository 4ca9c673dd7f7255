// SPDX-License-Identifier: MIT
// The walk over one program: parse, declare, generate; then the image, its
// symbols and the diagnostics.
#include "stc/compiler.h"

#include <algorithm>
#include <cctype>

#include "stc/compiler_impl.h"

namespace sicvm::stc {

Compilation Compiler::run() {
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
    out.symbolTable = symbolTable(out.image);
  }
  return out;
}

symbols::SymbolTable Compiler::symbolTable(const std::vector<uint8_t> &image) const {
  symbols::SymbolTable table;
  table.imageSize = static_cast<uint32_t>(image.size());
  table.imageHash = symbols::imageHash(image.data(), image.size());
  for (const auto &[key, v] : vars_) {
    if (v.constant || !symbols::validName(v.name)) continue;
    if (v.block) {
      table.segments[1] = "blocks";
      for (size_t k = 0; k < v.block->cells.size(); ++k) {
        std::string cell = v.block->cells[k].name;
        if (cell[0] == ' ') cell.erase(0, 1);  // a state cell: named after its role
        std::string name = v.name + "_" + cell;
        if (symbols::validName(name)) table.vars[{1, v.number + static_cast<uint32_t>(k)}] = name;
      }
    } else if (v.array) {
      table.arrays[v.number] = v.name;
    } else {
      table.vars[{0, v.number}] = v.name;
    }
  }
  return table;
}

void Compiler::warnUnused() {
  for (const auto &[key, v] : vars_)
    if (!v.used && !v.bound) diag_.warning(v.loc, "'" + v.name + "' is declared but never used");
}

const Symbol *Compilation::symbol(std::string_view name) const {
  for (const Symbol &s : symbols)
    if (s.name.size() == name.size() &&
        std::equal(s.name.begin(), s.name.end(), name.begin(), [](char a, char b) { return std::toupper(a) == std::toupper(b); }))
      return &s;
  return nullptr;
}

Compilation compile(std::string_view source, const std::string &file) { return Compiler(source, file).run(); }

}  // namespace sicvm::stc
