// Texts of a cycle's outcome: its run status and its error record.
#pragma once

#include <cstdint>
#include <string>

#include "runner/session.h"

namespace sicvm::tool {

// "cycle complete", "end marker", "stopped by an error", ...
const char *statusText(uint32_t status);

// "no error", or "error 8 at 00001 (8, 0)": code, address and the two detail words.
std::string errorText(const runner::CycleResult &r);

}  // namespace sicvm::tool
