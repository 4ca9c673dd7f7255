// SPDX-License-Identifier: MIT
// The commands of the decoded form that run out of line: library calls of
// the standard and the host library, and load_points and save_points of the
// global segment. The decoded loop calls them with the machine and the run
// context as the step loop would have left them before the command (pc,
// command count, comparison flags, call depth, local segment written back),
// and they end the step as the step loop would: the math error word is
// cleared before and read after the command (a math error is error 2 at the
// pc the command left), and a fatal error recorded by the command ends the
// decoded loop without counting it.
#pragma once

#include "interp/decoded.h"
#include "interp/fast_ops.h"

namespace sicvm::interp::fast {

// kSlow (nothing done) when the step loop must run the call: no room on the
// param stack, too few inputs on it, no local segment frame or one with too
// few cells. Otherwise the function runs as the library's dispatcher would
// run it, without looking its row up or checking its counts again.
[[gnu::noinline]] Go callLibrary(RunContext &ctx, const LibraryCallForm &call);

// load_points (load true) or save_points over the form's lists.
[[gnu::noinline]] Go movePoints(RunContext &ctx, const DecodedCode &form, bool load);

}  // namespace sicvm::interp::fast
