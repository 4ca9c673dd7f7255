// SPDX-License-Identifier: MIT
// What makes a file no SIC image at all, in words a user can act on, and
// text from files made safe for a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sicvm::runner {

// "" when the file has the size, label and format version of an image
// (set-up's log then says what else is wrong); otherwise why it is none:
// "the file is empty", "the file has 7 bytes; an image has at least 336
// (header and machine block)", "it starts with \"PK\\x03\\x04\", an image with
// \"SIC4\"", "image format version 263; this library reads version 406".
std::string imageProblem(const std::vector<uint8_t> &bytes);

// The bytes with everything but printable ASCII written as an escape
// (\n, \t, \\, \xNN), so that no byte from a file reaches a terminal
// as a control sequence.
std::string escaped(std::string_view bytes);

}  // namespace sicvm::runner
