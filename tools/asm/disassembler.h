// SPDX-License-Identifier: MIT
// The disassembler: writes assembly source for an image, such that the
// assembler turns the source back into the very same bytes.
//
// Declarations and commands are written in the assembly language with exact
// constants; command bytes a listing line does not show become key=value
// fields; block offsets that differ from the assembler's own layout become
// .place and .size lines; every remaining byte that the declarations do not
// reproduce (reserved header bytes, machine and stack contents, replication
// data, gaps) becomes a .patch line. The result is checked by assembling it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sicvm/image.h"
#include "symbols/symbols.h"

namespace sicvm::assembly {

// One command as an exact source line (without address), with fields for
// the bytes its listing text does not show.
std::string disassembleCommand(const VmCommand &command);

// Source for the whole image; `origin` is named in the leading comment.
// False with a message when the image's structure cannot be read or (an
// internal fault) the source does not reproduce the image.
//
// With `names` (a symbol file of this image), segments, vars, arrays and
// labels are declared with their names and code addresses are written as
// labels. Names that would not assemble back to the same bytes (a name the
// assembler reads as a keyword, a clash) make it fall back to numbers;
// *namesUsed tells which it wrote.
bool disassemble(const std::vector<uint8_t> &bytes, const std::string &origin, std::string &source,
                 std::string &error, const symbols::SymbolTable *names = nullptr, bool *namesUsed = nullptr);

}  // namespace sicvm::assembly
