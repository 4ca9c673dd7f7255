// SPDX-License-Identifier: MIT
// The signatures of library functions as the libraries' tables give them
// (VmFunctionInfo.signature): the types, and names where the table has them,
// of the inputs, the outputs and a function block's state cells.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sicvm/library.h"

namespace sicvm::stc {

struct SignatureItem {
  std::string name;     // "" when the table gives none
  uint8_t type = 0;     // value type code
  bool repeats = false; // the last input of a variable count: repeated up to the most inputs
  bool any = false;     // written ANY: the type of the row's variant
};

struct Signature {
  std::vector<SignatureItem> inputs, outputs, state;
  bool block = false;  // a function block: its cells are inputs, outputs and state
};

// Parses `text` with ANY standing for `valueType`; false for text that is
// not a signature (or ANY without a value type).
bool parseSignature(const char *text, uint8_t valueType, Signature &out);

// The signature of a library row; false when it has none or it does not parse.
bool signatureOf(const VmFunctionInfo &f, Signature &out);

// "BOOL", "LREAL", ... for a value type code; "?" for another.
const char *typeText(uint8_t type);

}  // namespace sicvm::stc
