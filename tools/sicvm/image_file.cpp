// SPDX-License-Identifier: MIT
#include "image_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

#include "options.h"

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

namespace {

std::string directoryOf(const std::string &path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool writeAll(int fd, const void *data, size_t size) {
  const char *p = static_cast<const char *>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

mode_t modeFor(const std::string &path) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) return info.st_mode & 07777;
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

}  // namespace

bool writeFile(const std::string &path, const void *data, size_t size, std::string &error) {
  std::string temporary = path + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0) {
    error = directoryOf(path) + ": cannot create a temporary file: " + std::strerror(errno);
    return false;
  }
  bool ok = writeAll(fd, data, size) && fchmod(fd, modeFor(path)) == 0 && fsync(fd) == 0;
  int code = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    code = errno;
  }
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    ok = false;
    code = errno;
  }
  if (!ok) {
    error = path + ": " + std::strerror(code) + " (the file was left as it was)";
    unlink(temporary.c_str());
    return false;
  }
  // The rename itself reaches the disk with the directory.
  int dir = open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

bool sameFile(const std::string &a, const std::string &b) {
  struct stat x {}, y {};
  return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}

bool checkNotInput(const std::string &input, const std::string &output, const char *what, std::string &error) {
  if (!sameFile(input, output)) return true;
  error = "the output " + output + " is the " + what + " " + input + " itself; nothing was written (choose another output file)";
  return false;
}

bool checkImageOutputs(const std::string &input, const std::string &image, const char *what, std::string &symbolPath,
                       std::string &error) {
  symbolPath = withExtension(image, ".sym");
  if (symbolPath == image) {
    error = "the image " + image + " would be overwritten by its own symbol file; name it .sic";
    return false;
  }
  return checkNotInput(input, image, what, error) && checkNotInput(input, symbolPath, what, error);
}

}  // namespace sicvm::tool
