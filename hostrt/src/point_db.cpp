// SPDX-License-Identifier: MIT
// The point database object: the shared memory that holds the two point
// tables, created from a points file or attached by name.
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "hostrt/points.h"
#include "hostrt/sys.h"
#include "point_db_csv.h"
#include "point_owner.h"

struct PointDb {
  void *base = nullptr;
  size_t size = 0;
};

namespace {

using hostrt::points::PointsFile;

constexpr uint64_t kHeaderSize = sizeof(PointDbHeader);
constexpr uint64_t kTableAlign = 64;

struct Layout {
  uint64_t configOffset;
  uint64_t valueOffset;
  uint64_t totalSize;
};

Layout layoutFor(int32_t count) {
  uint64_t n = static_cast<uint64_t>(count);
  uint64_t configEnd = kHeaderSize + n * sizeof(PointConfigRecord);
  uint64_t valueOffset = (configEnd + kTableAlign - 1) / kTableAlign * kTableAlign;
  return {kHeaderSize, valueOffset, valueOffset + n * sizeof(PointValueRecord)};
}

PointDb *fail(char *error, uint32_t errorSize, int code, const std::string &message) {
  if (error != nullptr && errorSize > 0) std::snprintf(error, errorSize, "%s", message.c_str());
  _winseterrno(code);
  return nullptr;
}

std::string systemError(int code) { return std::strerror(code); }

// A POSIX shared-memory name: "/" followed by 1 to 254 characters, none of them "/".
bool validObjectName(const char *name) {
  size_t length = std::strlen(name);
  return length >= 2 && length <= 255 && name[0] == '/' && std::strchr(name + 1, '/') == nullptr;
}

// The magic word opens the object, whose start is page aligned; it is
// reached as a plain word so that atomic access sees its real alignment.
uint32_t *magicWord(void *base) { return static_cast<uint32_t *>(base); }
static_assert(offsetof(PointDbHeader, magic) == 0, "the magic word opens the header");

PointDbHeader *headerOf(const PointDb *db) { return static_cast<PointDbHeader *>(db->base); }

template <typename T>
T *tableAt(const PointDb *db, uint64_t offset) {
  return reinterpret_cast<T *>(static_cast<char *>(db->base) + offset);
}

// Fills freshly zeroed memory with the tables of `file`; the magic goes in last.
void fillTables(void *base, const PointsFile &file) {
  Layout layout = layoutFor(file.count);
  auto *header = static_cast<PointDbHeader *>(base);
  header->ownerPid = static_cast<int32_t>(getpid());
  header->ownerStart = hostrt::points::processStart(header->ownerPid);
  header->version = POINTDB_VERSION;
  header->pointCount = file.count;
  header->headerSize = static_cast<uint32_t>(kHeaderSize);
  header->configOffset = layout.configOffset;
  header->valueOffset = layout.valueOffset;
  header->totalSize = layout.totalSize;
  auto *config = reinterpret_cast<PointConfigRecord *>(static_cast<char *>(base) + layout.configOffset);
  auto *values = reinterpret_cast<PointValueRecord *>(static_cast<char *>(base) + layout.valueOffset);
  for (const auto &row : file.rows) {
    PointConfigRecord &c = config[row.index];
    c.ownIndex = row.index;
    c.pointId = row.id;
    c.statusMode = row.mode;
    c.valueType = row.type;
    std::memcpy(c.name, row.name.data(), row.name.size());
    PointValueRecord &v = values[row.index];
    v.value = row.value;
    v.status = row.status;
  }
  __atomic_store_n(magicWord(base), static_cast<uint32_t>(POINTDB_MAGIC), __ATOMIC_RELEASE);
}

// Fills the new mapping and wraps it in a handle; on failure undoes the
// mapping and the object's name, so nothing is left behind.
PointDb *finishTables(void *base, const PointsFile &file, const char *name, char *error,
                      uint32_t errorSize) {
  size_t size = layoutFor(file.count).totalSize;
  PointDb *db = new (std::nothrow) PointDb{base, size};
  if (db == nullptr) {
    munmap(base, size);
    if (name != nullptr) shm_unlink(name);
    return fail(error, errorSize, ENOMEM, "out of memory");
  }
  fillTables(base, file);
  return db;
}

PointDb *createAnonymous(const PointsFile &file, char *error, uint32_t errorSize) {
  Layout layout = layoutFor(file.count);
  void *base = mmap(nullptr, layout.totalSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) {
    int code = errno;
    return fail(error, errorSize, code == ENOMEM ? ENOSPC : code,
                "cannot map " + std::to_string(layout.totalSize) + " bytes for " +
                    std::to_string(file.count) + " points: " + systemError(code));
  }
  return finishTables(base, file, nullptr, error, errorSize);
}

PointDb *createNamed(const char *name, const PointsFile &file, char *error, uint32_t errorSize) {
  Layout layout = layoutFor(file.count);
  int fd = shm_open(name, O_RDWR | O_CREAT | O_EXCL, 0660);
  if (fd < 0) {
    int code = errno;
    std::string why = code == EEXIST ? std::string("already exists (PointDbReclaim removes it once its owner has gone)")
                                     : systemError(code);
    return fail(error, errorSize, code, "shared memory object '" + std::string(name) + "': " + why);
  }
  // Reserving the pages now turns a full /dev/shm into an error here instead
  // of a bus error on some later write.
  int code = posix_fallocate(fd, 0, static_cast<off_t>(layout.totalSize));
  void *base = MAP_FAILED;
  if (code == 0) {
    base = mmap(nullptr, layout.totalSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) code = errno;
  }
  close(fd);
  if (code != 0) {
    shm_unlink(name);
    return fail(error, errorSize, code == ENOMEM ? ENOSPC : code,
                "shared memory object '" + std::string(name) + "': no room for " +
                    std::to_string(file.count) + " points (" + std::to_string(layout.totalSize) +
                    " bytes): " + systemError(code));
  }
  return finishTables(base, file, name, error, errorSize);
}

PointDb *loadText(const char *source, std::string_view text, const char *shmName, char *error,
                  uint32_t errorSize) {
  if (shmName != nullptr && !validObjectName(shmName))
    return fail(error, errorSize, EINVAL,
                "shared memory name '" + std::string(shmName) +
                    "' must be '/' followed by 1 to 254 characters without '/'");
  PointsFile file;
  std::string problems;
  if (!hostrt::points::parsePointsText(source, text, file, problems))
    return fail(error, errorSize, EINVAL, problems);
  return shmName != nullptr ? createNamed(shmName, file, error, errorSize)
                            : createAnonymous(file, error, errorSize);
}

bool readWholeFile(const char *path, std::string &text, int &code) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    code = errno;
    return false;
  }
  char buffer[65536];
  while (true) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      code = n < 0 ? errno : 0;
      break;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  return code == 0;
}

}  // namespace

extern "C" {

PointDb *PointDbLoad(const char *path, const char *shmName, char *error, uint32_t errorSize) {
  if (path == nullptr) return fail(error, errorSize, EINVAL, "no points file given");
  try {
    std::string text;
    int code = 0;
    if (!readWholeFile(path, text, code))
      return fail(error, errorSize, code, std::string(path) + ": cannot read: " + systemError(code));
    return loadText(path, text, shmName, error, errorSize);
  } catch (const std::bad_alloc &) {
    return fail(error, errorSize, ENOMEM, std::string(path) + ": out of memory");
  }
}

PointDb *PointDbLoadText(const char *source, const char *text, uint32_t length, const char *shmName,
                         char *error, uint32_t errorSize) {
  if (text == nullptr && length > 0) return fail(error, errorSize, EINVAL, "no points text given");
  const char *name = source != nullptr ? source : "(points)";
  try {
    return loadText(name, std::string_view(text != nullptr ? text : "", length), shmName, error,
                    errorSize);
  } catch (const std::bad_alloc &) {
    return fail(error, errorSize, ENOMEM, std::string(name) + ": out of memory");
  }
}

PointDb *PointDbAttach(const char *shmName, char *error, uint32_t errorSize) {
  if (shmName == nullptr) return fail(error, errorSize, EINVAL, "no shared memory name given");
  const std::string label = "shared memory object '" + std::string(shmName) + "'";
  int fd = shm_open(shmName, O_RDWR, 0);
  if (fd < 0) {
    int code = errno;
    return fail(error, errorSize, code, label + ": " + systemError(code));
  }
  struct stat info {};
  void *base = MAP_FAILED;
  int code = 0;
  if (fstat(fd, &info) != 0) {
    code = errno;
  } else if (static_cast<uint64_t>(info.st_size) >= kHeaderSize) {
    base = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) code = errno;
  }
  close(fd);
  if (code != 0) return fail(error, errorSize, code, label + ": " + systemError(code));
  if (base == MAP_FAILED)
    return fail(error, errorSize, EBADMSG,
                label + " is not a point database (" + std::to_string(info.st_size) + " bytes)");

  PointDb probe{base, static_cast<size_t>(info.st_size)};
  const PointDbHeader *header = headerOf(&probe);
  std::string problem;
  if (__atomic_load_n(magicWord(base), __ATOMIC_ACQUIRE) != POINTDB_MAGIC) {
    problem = " is not a point database, or its tables are still being filled";
  } else if (header->version != POINTDB_VERSION) {
    problem = " has point database version " + std::to_string(header->version) + ", expected " +
              std::to_string(POINTDB_VERSION);
  } else {
    int32_t count = header->pointCount;
    Layout layout = layoutFor(count > 0 ? count : 1);
    if (count < 1 || count > POINTDB_MAX_INDEX + 1 || header->headerSize != kHeaderSize ||
        header->configOffset != layout.configOffset || header->valueOffset != layout.valueOffset ||
        header->totalSize != layout.totalSize || layout.totalSize > probe.size)
      problem = " has a damaged point database header";
  }
  if (!problem.empty()) {
    munmap(base, probe.size);
    return fail(error, errorSize, EBADMSG, label + problem);
  }
  PointDb *db = new (std::nothrow) PointDb(probe);
  if (db == nullptr) {
    munmap(base, probe.size);
    return fail(error, errorSize, ENOMEM, label + ": out of memory");
  }
  return db;
}

PointConfigRecord *PointDbConfig(const PointDb *db) {
  return db != nullptr ? tableAt<PointConfigRecord>(db, headerOf(db)->configOffset) : nullptr;
}

PointValueRecord *PointDbValues(const PointDb *db) {
  return db != nullptr ? tableAt<PointValueRecord>(db, headerOf(db)->valueOffset) : nullptr;
}

const PointDbHeader *PointDbInfo(const PointDb *db) { return db != nullptr ? headerOf(db) : nullptr; }

int32_t PointDbCount(const PointDb *db) { return db != nullptr ? headerOf(db)->pointCount : 0; }

int32_t PointDbClose(PointDb *db) {
  if (db == nullptr) {
    _winseterrno(EINVAL);
    return -1;
  }
  munmap(db->base, db->size);
  delete db;
  return 0;
}

int32_t PointDbUnlink(const char *shmName) {
  if (shmName == nullptr) {
    _winseterrno(EINVAL);
    return -1;
  }
  if (shm_unlink(shmName) != 0) {
    _winseterrno(errno);
    return -1;
  }
  return 0;
}

}  // extern "C"
