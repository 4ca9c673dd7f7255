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
  Unit unit;
  Program *program = nullptr;
  if (parse(tokens, diag_, unit)) {
    for (Program &p : unit.pous) {
      if (p.kind != PouKind::PROGRAM) continue;
      if (program) diag_.error(p.loc, "one PROGRAM per build (the first is at line " + std::to_string(program->loc.line) + ")");
      else program = &p;
    }
    if (!program) diag_.error(unit.pous[0].loc, "a build needs a PROGRAM; this source has only functions and function blocks");
  }
  if (program) {
    builder_.name(program->name.empty() ? "PROGRAM" : program->name.substr(0, 91));
    global_ = builder_.segment(0, 0);
    programScope_.parent = &globals_;
    registerPous(unit);
    for (auto &[key, pou] : pous_) layOut(*pou);
    declare(program->vars);
    generate(*program);
    for (auto &[key, pou] : pous_)
      if (pou->state == 2) generatePou(*pou);
    checkRecursion();
    // The stacks: a frame per unit on a call chain, and the largest row of
    // values a call pushes.
    uint32_t params = 0;
    for (auto &[key, pou] : pous_)
      params = std::max<uint32_t>(params, static_cast<uint32_t>(std::max(pou->inputs.size(), pou->outputs.size() + 1)));
    builder_.callStack(8 + static_cast<uint32_t>(pous_.size())).paramStack(64 + params);
    for (auto [segment, pou] : instances_) fillInstance(*pou, segment);
    for (auto &[key, pou] : pous_)
      if (pou->isFunction() && pou->state == 2) fillInstance(*pou, pou->segment);
    if (diag_.errorCount() == 0) warnUnused();
  }
  out.errors = diag_.errorCount();
  out.diagnostics = diag_.sorted();
  for (const Diagnostic &d : out.diagnostics) out.rendered.push_back(diag_.render(d));
  out.statements = statements_;
  if (out.errors == 0) {
    out.image = builder_.build();
    for (const Scope *scope : {&globals_, &programScope_})
      for (const auto &[key, v] : scope->vars) {
        if (v.constant) continue;
        if (v.block) out.symbols.push_back({v.name, 1, v.number, 0, false});
        else if (v.pou) symbolsOf(out.symbols, *v.pou, v.instance, v.name);
        else out.symbols.push_back({v.name, 0, v.number, v.type, v.array});
      }
    out.symbolTable = symbolTable(out.image);
  }
  return out;
}

// The members of an instance at `segment` as PREFIX.MEMBER, nested
// instances' as PREFIX.INNER.MEMBER.
void Compiler::symbolsOf(std::vector<Symbol> &out, const Pou &pou, uint32_t segment, const std::string &prefix) const {
  for (const auto &[key, m] : pou.scope.vars) {
    if (m.constant || m.type == kError) continue;
    if (m.block) out.push_back({prefix + "." + m.name, segment, m.number, 0, false});
    else if (!m.pou) out.push_back({prefix + "." + m.name, segment, m.number, m.type, false});
  }
  for (size_t k = 0; k < pou.nested.size(); ++k)
    symbolsOf(out, *pou.nested[k].second, segment + pou.nested[k].first, prefix + "." + pou.nestedNames[k].first);
}

symbols::SymbolTable Compiler::symbolTable(const std::vector<uint8_t> &image) const {
  symbols::SymbolTable table;
  table.imageSize = static_cast<uint32_t>(image.size());
  table.imageHash = symbols::imageHash(image.data(), image.size());
  for (const Scope *scope : {&globals_, &programScope_})
    for (const auto &[key, v] : scope->vars) {
      if (v.constant || !symbols::validName(v.name)) continue;
      if (v.block) {
        table.segments[1] = "blocks";
        nameCells(table, 1, v);
      } else if (v.pou) {
        nameInterface(table, v);
        nameInstance(table, *v.pou, v.instance, v.name);
      } else if (v.array) {
        table.arrays[v.number] = v.name;
      } else {
        table.vars[{0, v.number}] = v.name;
      }
    }
  for (const auto &[key, pou] : pous_) {
    if (pou->state != 2) continue;
    if (labels_[pou->entry].address >= 0 && symbols::validName(pou->ast->name))
      table.labels.emplace(static_cast<uint32_t>(labels_[pou->entry].address), pou->ast->name);
    if (pou->isFunction()) nameInstance(table, *pou, pou->segment, pou->ast->name);
  }
  return table;
}

// A standard block's cells as INSTANCE_CELL ("pump_timer_ET", state cells too).
void Compiler::nameCells(symbols::SymbolTable &table, uint32_t segment, const VarInfo &v) const {
  for (size_t k = 0; k < v.block->cells.size(); ++k) {
    std::string cell = v.block->cells[k].name;
    if (cell[0] == ' ') cell.erase(0, 1);  // a state cell: named after its role
    std::string name = v.name + "_" + cell;
    if (symbols::validName(name)) table.vars[{segment, v.number + static_cast<uint32_t>(k)}] = name;
  }
}

// The interface cells of a user block instance, in the segment that
// declares it (`segment`, 0 for the program): INSTANCE_MEMBER.
void Compiler::nameInterface(symbols::SymbolTable &table, const VarInfo &v, uint32_t segment) const {
  const Pou &pou = *v.pou;
  uint32_t k = 0;
  for (const auto *keys : {&pou.inputs, &pou.outputs})
    for (const std::string &key : *keys) {
      std::string name = v.name + "_" + pou.scope.vars.at(key).name;
      if (symbols::validName(name)) table.vars[{segment, v.number + k}] = name;
      ++k;
    }
}

// An instance's segment is named after the instance (nested ones as
// OUTER_INNER), its vars after the members, so that tools show "valve.open".
void Compiler::nameInstance(symbols::SymbolTable &table, const Pou &pou, uint32_t segment, const std::string &prefix) const {
  if (!symbols::validName(prefix)) return;
  table.segments[segment] = prefix;
  for (const auto &[key, m] : pou.scope.vars) {
    if (m.constant || !symbols::validName(m.name)) continue;
    if (m.block) nameCells(table, segment, m);
    else if (m.pou) nameInterface(table, m, segment);
    else table.vars[{segment, m.number}] = m.name;
  }
  for (size_t k = 0; k < pou.nested.size(); ++k)
    nameInstance(table, *pou.nested[k].second, segment + pou.nested[k].first, prefix + "_" + pou.nestedNames[k].first);
}

void Compiler::warnUnused() {
  std::vector<const Scope *> scopes = {&globals_, &programScope_};
  for (const auto &[key, pou] : pous_) scopes.push_back(&pou->scope);
  for (const Scope *scope : scopes)
    for (const auto &[key, v] : scope->vars)
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
