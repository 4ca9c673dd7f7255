// SPDX-License-Identifier: MIT
// Reading and writing files for the command-line tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sicvm::tool {

// Reads a whole file; on failure returns false with a message naming the file.
bool readFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &error);

// Writes a whole file through a fresh temporary file beside it (flushed to
// disk) and a rename, so the file is either written completely or left as it
// was. An existing file keeps its permissions; a new one gets 0666 less the
// umask.
bool writeFile(const std::string &path, const void *data, size_t size, std::string &error);

// True when both paths name the same existing file (same device and inode),
// whatever their spelling: "x.sic", "./x.sic", a hard or symbolic link.
bool sameFile(const std::string &a, const std::string &b);

// Refuses to write `output` over `input`: false with a message when both are
// the same file. `what` names the input in the message ("source", "image").
bool checkNotInput(const std::string &input, const std::string &output, const char *what, std::string &error);

// The symbol file written beside `image` (IMAGE with the extension .sym) by
// a command that reads `input`: false with a message when the image itself
// ends in .sym or either output is the input.
bool checkImageOutputs(const std::string &input, const std::string &image, const char *what, std::string &symbolPath,
                       std::string &error);

}  // namespace sicvm::tool
