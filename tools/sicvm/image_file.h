// Reading and writing image files for the command-line tool.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sicvm::tool {

// Reads a whole file; on failure returns false with a message naming the file.
bool readFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &error);

}  // namespace sicvm::tool
