// SPDX-License-Identifier: MIT
// Ownership of named point databases: a creator that is killed leaves its
// object behind; PointDbReclaim removes it once nobody owns it.
#include "point_owner.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hostrt/points.h"
#include "hostrt/sys.h"

namespace hostrt::points {

uint64_t processStart(int32_t pid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  FILE *file = std::fopen(path, "r");
  if (file == nullptr) return 0;
  char text[1024] = {};
  size_t n = std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  text[n] = '\0';
  // The command name in parentheses may hold blanks: count fields after its ')'.
  const char *p = std::strrchr(text, ')');
  if (p == nullptr) return 0;
  int field = 2;
  for (; *p != '\0' && field < 22; ++p)
    if (*p == ' ') ++field;
  return field == 22 ? std::strtoull(p, nullptr, 10) : 0;
}

bool processRuns(int32_t pid, uint64_t start) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno != EPERM) return false;
  uint64_t now = processStart(pid);
  return start == 0 || now == 0 || now == start;
}

}  // namespace hostrt::points

namespace {

int32_t answer(int32_t result, int code, char *message, uint32_t size, const std::string &text) {
  if (message != nullptr && size > 0) std::snprintf(message, size, "%s", text.c_str());
  if (code != 0) _winseterrno(code);
  return result;
}

}  // namespace

extern "C" int32_t PointDbReclaim(const char *shmName, char *message, uint32_t messageSize) {
  if (shmName == nullptr) return answer(-1, EINVAL, message, messageSize, "no shared memory name given");
  const std::string label = "shared memory object '" + std::string(shmName) + "'";
  int fd = shm_open(shmName, O_RDONLY, 0);
  if (fd < 0) {
    int code = errno;
    if (code == ENOENT) return answer(0, 0, message, messageSize, label + " does not exist");
    return answer(-1, code, message, messageSize, label + ": " + std::strerror(code));
  }
  PointDbHeader header{};
  ssize_t n = pread(fd, &header, sizeof header, 0);
  close(fd);
  if (n != static_cast<ssize_t>(sizeof header) || header.ownerPid <= 0)
    return answer(-1, EBADMSG, message, messageSize,
                  label + " already exists and is not a point database with an owner; remove /dev/shm" +
                      std::string(shmName) + " if nothing uses it");
  const std::string owner = "process " + std::to_string(header.ownerPid);
  if (hostrt::points::processRuns(header.ownerPid, header.ownerStart))
    return answer(-1, EBUSY, message, messageSize, label + " already exists and is in use by " + owner);
  if (shm_unlink(shmName) != 0 && errno != ENOENT) {
    int code = errno;
    return answer(-1, code, message, messageSize,
                  label + " was left by " + owner + ", which no longer runs, but cannot be removed: " +
                      std::strerror(code));
  }
  return answer(1, 0, message, messageSize,
                "reclaimed " + label + " left by " + owner + ", which no longer runs");
}
