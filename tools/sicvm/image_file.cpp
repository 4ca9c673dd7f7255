#include "image_file.h"

#include <cerrno>
#include <cstdio>
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

namespace sicvm::tool {

bool writeFile(const std::string &path, const void *data, size_t size, std::string &error) {
  std::string temporary = path + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = temporary + ": " + std::strerror(errno);
      return false;
    }
    out.write(static_cast<const char *>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) {
      error = temporary + ": write error";
      std::remove(temporary.c_str());
      return false;
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    error = path + ": " + std::strerror(errno);
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace sicvm::tool
