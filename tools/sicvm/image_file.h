// Reading and writing files for the command-line tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sicvm::tool {

// Reads a whole file; on failure returns false with a message naming the file.
bool readFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &error);

// Writes a whole file through a temporary file beside it and a rename, so the
// file is either written completely or left as it was.
bool writeFile(const std::string &path, const void *data, size_t size, std::string &error);

}  // namespace sicvm::tool
