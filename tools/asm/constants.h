// SPDX-License-Identifier: MIT
// Typed constants of the assembly language: reading them (the listing's
// forms, plus full-precision and raw forms) and writing them exactly.
//
//   BOOL#1  BOOL#200  TRUE  FALSE       the value byte (0 to 255)
//   INT#-2  INT#0xFFFF                  16-bit
//   DINT#70000  DINT#0xFFFFFFFF         32-bit
//   REAL#0.5  REAL#-1e+30  REAL#inf     single precision, read as written (not via double)
//   LREAL#0.1  LREAL#nan                double precision
//   T#1d_2h_3m_4s_5ms  T#1.5s  T#-250ms  T#0s  T#-   durations in milliseconds;
//                                       components may have fractions, '_' is optional
//   DT#2024-03-05-07:08:09  DT#2024-03-05-07:08:09.250  date and time (UTC)
//   DT#45356.25                         a DT as its day count, exactly
//   TYPE9#0000000100000002              any type code, then the value's two
//                                       32-bit words in hex (the listing's
//                                       form for types it does not know)
#pragma once

#include <cstdint>
#include <string>

#include "asm/cursor.h"
#include "sicvm/image.h"

namespace sicvm::assembly {

struct Constant {
  uint16_t type = 0;  // the type code (a cell's type byte holds its low 8 bits)
  VmValue value{};   // the 8 value bytes; bytes a type does not use are 0
};

// True when a typed constant (a type prefix with '#', TRUE or FALSE) starts here.
bool atTypedConstant(Cursor &cursor);

// Reads a typed constant at the cursor; *raw (when given) tells whether it
// was written in the TYPEn# raw form.
Constant readTypedConstant(Cursor &cursor, bool *raw = nullptr);

// Reads a value of `type`: a typed constant of that type (or a TYPEn# raw
// form), or a bare number for BOOL, INT, DINT, REAL and LREAL.
Constant readValue(Cursor &cursor, int type);

// The name of a value type ("DINT"), or "TYPE<n>" for other codes.
std::string typeName(int type);
// The name with its article: "a DINT", "an INT", "an LREAL".
std::string aType(int type);
// The code of a type name, or -1. Accepts TYPE<n> for any n up to 65535.
int typeCode(std::string_view name);

// Text that readTypedConstant reads back to the same type byte and 8 value
// bytes, as readable as the value allows.
std::string exactConstant(int type, const VmValue &value);

// The shortest decimal text that reads back to exactly this double (this float).
std::string shortestDouble(double value);
std::string shortestFloat(float value);

}  // namespace sicvm::assembly
