// CONVERT family: the type conversions (codes 241 to 280).
//
// PLACEHOLDER, to be replaced by the conversion commands' own implementation:
// until then every command of this family is refused as an unknown command
// (fatal error 107), so that a program using it stops visibly instead of
// running on with wrong results. run.cpp dispatches every CONVERT row of
// commands.def to exec<Code> below; the replacement keeps that signature and
// works through the API described in run_context.h.
#pragma once

#include "interp/command_table.h"
#include "interp/operand.h"

namespace sicvm::interp::convert {

template <uint16_t Code>
inline void exec(RunContext &ctx, VmCommand &) {
  static_assert(kCommands[Code].family == Family::CONVERT);
  ctx.raise(msg::kUnknownCommand, Code, 0, int(Code));  // placeholder: not implemented yet
}

}  // namespace sicvm::interp::convert
