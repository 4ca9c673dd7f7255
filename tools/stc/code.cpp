// SPDX-License-Identifier: MIT
// Emitting commands: jumps to labels placed later, and temporaries.
#include "stc/compiler_impl.h"

#include "interp/command_table.h"

namespace sicvm::stc {

uint32_t Compiler::emit(int codeValue, const Operand &s1, const Operand &s2, const Operand &d) {
  if (codeValue < 0) {  // a combination the checker let through without a command: never emit it
    diag_.error(statementLoc_, "internal error: no machine command for an operation of this statement");
    return builder_.here();
  }
  // A constant moved or pushed carries its type in SRC2 for listings.
  if ((codeValue == op("mov") || codeValue == op("push_const")) && s1.kind == 1)
    return builder_.command(static_cast<uint32_t>(codeValue), s1, num(s1.cell.type), d);
  return builder_.command(static_cast<uint32_t>(codeValue), s1, s2, d);
}

size_t Compiler::newLabel() {
  labels_.emplace_back();
  return labels_.size() - 1;
}

void Compiler::place(size_t label) {
  Label &l = labels_[label];
  l.address = builder_.here();
  for (auto [address, slot] : l.fixups) target(address, slot, static_cast<uint32_t>(l.address));
}

void Compiler::target(uint32_t address, int slot, uint32_t to) {
  build::Command &c = builder_.at(address);
  (slot == 0 ? c.src1 : c.src2).cell.v.w[0] = to;
}

// A jump (jmp, jmp_xx) or if_eq / if_ne to a label.
void Compiler::jump(int codeValue, size_t label, const Operand &condition) {
  bool isIf = codeValue == op("if_eq") || codeValue == op("if_ne");
  uint32_t at = isIf ? emit(codeValue, condition, num(0)) : emit(codeValue, num(0));
  int slot = isIf ? 1 : 0;
  if (labels_[label].address >= 0) target(at, slot, static_cast<uint32_t>(labels_[label].address));
  else labels_[label].fixups.push_back({at, slot});
}

Operand Compiler::temp(uint8_t t) {
  std::vector<uint32_t> &pool = temps_[t];
  if (inUse_[t] == pool.size()) pool.push_back(builder_.var(global_, zero(t)));
  return Operand::var(0, pool[inUse_[t]++]);
}

bool Compiler::sameOperand(const Operand &a, const Operand &b) {
  return a.kind == b.kind && a.cell.v.w[0] == b.cell.v.w[0] && a.cell.v.w[1] == b.cell.v.w[1];
}

}  // namespace sicvm::stc
