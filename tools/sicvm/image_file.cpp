#include "image_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>

namespace sicvm::tool {

bool readFile(const std::string &path, std::vector<uint8_t> &bytes, std::string &error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  std::streamoff length = in.tellg();
  if (length < 0 || uint64_t(length) > std::numeric_limits<uint32_t>::max()) {
    error = path + ": not a readable image (size)";
    return false;
  }
  in.seekg(0);
  bytes.resize(static_cast<size_t>(length));
  if (length > 0 && !in.read(reinterpret_cast<char *>(bytes.data()), length)) {
    error = path + ": read error";
    return false;
  }
  return true;
}

}  // namespace sicvm::tool
