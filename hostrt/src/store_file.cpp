// SPDX-License-Identifier: MIT
// The point store file: checking, creating and opening it, and the three
// point operations as single SQL statements (each its own durable commit).
#include "store_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

namespace hostrt::store {
namespace {

constexpr int kBusyTimeoutMs = 5000;

// A store is built in "NAME.new-XXXXXX" (mkstemp's six characters), which
// SQLite accompanies with "-journal", "-wal" and "-shm" files. Its creator
// holds an exclusive flock on it from right after mkstemp until it is gone.
constexpr std::string_view kTempInfix = ".new-";
constexpr size_t kTempRandom = 6;
constexpr std::string_view kCompanions[] = {"-journal", "-wal", "-shm"};
// A temporary file younger than this is never removed: it may be in the
// moment between its creation and its creator's lock.
constexpr time_t kTempGraceSeconds = 2;

// Built once in a temporary file, then moved into place, so the store path
// never holds a half-made store.
const char kSchema[] =
    "PRAGMA application_id = 1398165078;"  // DBOPER_APPLICATION_ID
    "PRAGMA user_version = 1;"             // DBOPER_FORMAT_VERSION
    "BEGIN;"
    "CREATE TABLE point_store ("
    "  idx INTEGER PRIMARY KEY CHECK (idx > 0),"
    "  point_id INTEGER,"
    "  status INTEGER CHECK (status BETWEEN 0 AND 4294967295),"
    "  value_bits INTEGER);"
    "CREATE TRIGGER point_store_tidy AFTER UPDATE ON point_store"
    "  WHEN NEW.status IS NULL AND NEW.value_bits IS NULL"
    "  BEGIN DELETE FROM point_store WHERE idx = NEW.idx; END;"
    "COMMIT;";
static_assert(DBOPER_APPLICATION_ID == 1398165078 && DBOPER_FORMAT_VERSION == 1,
              "the schema text carries the application ID and the format version");

const char kRead[] = "SELECT status, value_bits FROM point_store WHERE idx = ?1";
// A part that is not selected is bound as NULL and keeps its stored value.
const char kWrite[] =
    "INSERT INTO point_store (idx, point_id, status, value_bits) VALUES (?1, ?2, ?3, ?4)"
    " ON CONFLICT (idx) DO UPDATE SET point_id = coalesce(excluded.point_id, point_id),"
    " status = coalesce(excluded.status, status),"
    " value_bits = coalesce(excluded.value_bits, value_bits)";
// Touches the row only when a selected part is stored, so the change count
// says whether anything was removed; the trigger drops rows left empty.
const char kClear[] =
    "UPDATE point_store SET"
    " status = CASE WHEN ?2 & 1 THEN NULL ELSE status END,"
    " value_bits = CASE WHEN ?2 & 2 THEN NULL ELSE value_bits END"
    " WHERE idx = ?1 AND ((?2 & 1 AND status IS NOT NULL) OR (?2 & 2 AND value_bits IS NOT NULL))";

enum class FileKind { Missing, Empty, Store, Refused };

uint32_t bigEndian32(const unsigned char *bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

std::string withErrno(const std::string &path, const char *what, int code) {
  return path + ": " + what + ": " + std::strerror(code);
}

// Looks at the file with plain reads only, so a file that is refused is
// never touched by SQLite (which could add journal files or recover it).
FileKind inspect(const std::string &path, Failure &failure) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return FileKind::Missing;
    failure = {errno, withErrno(path, "cannot open the store", errno)};
    return FileKind::Refused;
  }
  struct stat info {};
  unsigned char header[100];
  ssize_t got = 0;
  int code = 0;
  if (fstat(fd, &info) != 0) {
    code = errno;
  } else if (S_ISREG(info.st_mode) && info.st_size > 0) {
    got = pread(fd, header, sizeof header, 0);
    if (got < 0) code = errno;
  }
  ::close(fd);
  if (code != 0) {
    failure = {code, withErrno(path, "cannot read the store", code)};
    return FileKind::Refused;
  }
  if (!S_ISREG(info.st_mode)) {
    failure = {EINVAL, path + ": not a regular file; refused"};
    return FileKind::Refused;
  }
  if (info.st_size == 0) return FileKind::Empty;
  if (got < static_cast<ssize_t>(sizeof header) || std::memcmp(header, "SQLite format 3", 16) != 0) {
    failure = {EBADMSG, path + ": not an SQLite database, so not a point store; refused"};
    return FileKind::Refused;
  }
  uint32_t version = bigEndian32(header + 60);
  uint32_t application = bigEndian32(header + 68);
  char text[160];
  if (application != DBOPER_APPLICATION_ID) {
    std::snprintf(text, sizeof text,
                  ": an SQLite database of another application (application ID 0x%08X), not a "
                  "point store; refused",
                  application);
    failure = {ENOTSUP, path + text};
    return FileKind::Refused;
  }
  if (version == 0 || version > DBOPER_FORMAT_VERSION) {
    std::snprintf(text, sizeof text, ": point store format %u %s; refused", version,
                  version == 0 ? "is not valid (damaged store)" : "is newer than this program's (1)");
    failure = {version == 0 ? EBADMSG : ENOTSUP, path + text};
    return FileKind::Refused;
  }
  return FileKind::Store;
}

std::string folderOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

void syncFolderOf(const std::string &path) {
  const std::string folder = folderOf(path);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  ::close(fd);
}

// Removes what creators of the store at `path` that died left behind: each
// "NAME.new-XXXXXX" that no process holds locked and that is older than the
// grace time, with its companions, and companions whose temporary file is
// gone. A creator that is alive holds its lock, so its files stay. Best
// effort: a file that cannot be inspected or removed is left as it is.
void removeStaleTemporaries(const std::string &path) {
  const std::string folder = folderOf(path);
  const size_t slash = path.rfind('/');
  const std::string prefix = (slash == std::string::npos ? path : path.substr(slash + 1)) + std::string(kTempInfix);
  DIR *dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> temporaries, companions;
  while (const dirent *entry = readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (!name.starts_with(prefix) || name.size() < prefix.size() + kTempRandom) continue;
    const std::string_view tail = name.substr(prefix.size() + kTempRandom);
    if (tail.empty())
      temporaries.emplace_back(name);
    else
      for (std::string_view companion : kCompanions)
        if (tail == companion) companions.emplace_back(name);
  }
  closedir(dir);
  const time_t now = time(nullptr);
  for (const std::string &name : temporaries) {
    const std::string temp = folder + "/" + name;
    int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) continue;
    struct stat info {};
    const bool stale = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                       now - info.st_mtime >= kTempGraceSeconds && flock(fd, LOCK_EX | LOCK_NB) == 0;
    // Unlinked while locked, so no creator can have taken it in between.
    if (stale) {
      unlink(temp.c_str());
      for (std::string_view companion : kCompanions) unlink((temp + std::string(companion)).c_str());
    }
    ::close(fd);
  }
  for (const std::string &name : companions) {
    const std::string companion = folder + "/" + name;
    const std::string temp = companion.substr(0, folder.size() + 1 + prefix.size() + kTempRandom);
    struct stat info {};
    if (lstat(temp.c_str(), &info) != 0 && errno == ENOENT && lstat(companion.c_str(), &info) == 0 &&
        S_ISREG(info.st_mode) && now - info.st_mtime >= kTempGraceSeconds)
      unlink(companion.c_str());
  }
}

// Makes a new empty store at `path`. An empty file there is replaced; when
// another process creates the store first, its store is kept.
bool create(const std::string &path, bool replaceEmpty, Failure &failure) {
  std::vector<char> temp(path.begin(), path.end());
  for (char c : std::string_view(".new-XXXXXX")) temp.push_back(c);
  temp.push_back('\0');
  const int lockFd = mkstemp(temp.data());
  if (lockFd < 0) {
    failure = {errno, withErrno(path, "cannot create the store", errno)};
    return false;
  }
  // Held until the temporary file is gone: others see it is being made.
  flock(lockFd, LOCK_EX);
  fchmod(lockFd, 0644);
  const std::string tempPath = temp.data();
  int fd = -1;

  sqlite3 *db = nullptr;
  int rc = sqlite3_open_v2(tempPath.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  char *sqlError = nullptr;
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, kSchema, nullptr, nullptr, &sqlError);
  if (rc == SQLITE_OK) rc = sqlite3_exec(db, "PRAGMA journal_mode = WAL", nullptr, nullptr, &sqlError);
  std::string detail = sqlError != nullptr ? sqlError : db != nullptr ? sqlite3_errmsg(db) : "out of memory";
  int systemCode = db != nullptr ? sqlite3_system_errno(db) : 0;
  sqlite3_free(sqlError);
  if (sqlite3_close(db) != SQLITE_OK && rc == SQLITE_OK) rc = SQLITE_IOERR;

  int code = 0;
  if (rc != SQLITE_OK) {
    code = (rc & 0xff) == SQLITE_FULL || systemCode == ENOSPC ? ENOSPC : EIO;
  } else {
    fd = ::open(tempPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) code = errno;
    if (fd >= 0) ::close(fd);
    if (code == 0) {
      int moved = replaceEmpty ? rename(tempPath.c_str(), path.c_str())
                               : link(tempPath.c_str(), path.c_str());
      if (moved != 0 && errno != EEXIST) code = errno;
    }
    detail = code != 0 ? std::strerror(code) : "";
  }
  unlink(tempPath.c_str());
  ::close(lockFd);
  if (code != 0) {
    failure = {code, path + ": cannot create the store: " + detail};
    return false;
  }
  syncFolderOf(path);
  return true;
}

int errnoOf(int rc, int systemCode) {
  switch (rc & 0xff) {
    case SQLITE_FULL: return ENOSPC;
    case SQLITE_IOERR: return systemCode == ENOSPC ? ENOSPC : EIO;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return EBADMSG;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return EBUSY;
    case SQLITE_READONLY: return EROFS;
    case SQLITE_PERM:
    case SQLITE_AUTH: return EACCES;
    case SQLITE_CANTOPEN: return systemCode != 0 ? systemCode : ENOENT;
    case SQLITE_NOMEM: return ENOMEM;
    default: return EIO;
  }
}

// Runs a pragma and returns its first result as text ("" when none).
int pragmaText(sqlite3 *db, const char *sql, std::string &text) {
  sqlite3_stmt *statement = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(statement);
    if (rc == SQLITE_ROW) {
      const unsigned char *column = sqlite3_column_text(statement, 0);
      text = column != nullptr ? reinterpret_cast<const char *>(column) : "";
      rc = SQLITE_OK;
    } else if (rc == SQLITE_DONE) {
      text.clear();
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(statement);
  return rc;
}

// Resets a statement when the call ends, whichever way it ends.
struct StatementUse {
  sqlite3_stmt *statement;
  ~StatementUse() {
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
  }
};

}  // namespace

std::unique_ptr<StoreFile> StoreFile::open(const std::string &path, Failure &failure) {
  if (path.empty()) {
    failure = {EINVAL, "no store path given"};
    return nullptr;
  }
  removeStaleTemporaries(path);
  FileKind kind = inspect(path, failure);
  if (kind == FileKind::Missing || kind == FileKind::Empty) {
    if (!create(path, kind == FileKind::Empty, failure)) return nullptr;
    kind = inspect(path, failure);
  }
  if (kind != FileKind::Store) return nullptr;
  std::unique_ptr<StoreFile> store(new StoreFile(path));
  if (!store->start(failure)) return nullptr;
  return store;
}

bool StoreFile::start(Failure &failure) {
  int rc = sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (db_ == nullptr) {
    failure = {ENOMEM, path_ + ": out of memory"};
    return false;
  }
  if (rc != SQLITE_OK) {
    failure = sqlFailure(rc, "cannot open the store");
    return false;
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  if (sqlite3_db_readonly(db_, "main") == 1) {
    failure = {EROFS, path_ + ": the store file is read-only; refused"};
    return false;
  }
  std::string text;
  rc = pragmaText(db_, "PRAGMA quick_check", text);
  if ((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) {
    failure = {EBADMSG, path_ + ": the store is damaged (" + sqlite3_errmsg(db_) + "); refused"};
    return false;
  }
  if (rc != SQLITE_OK) {
    failure = sqlFailure(rc, "cannot check the store");
    return false;
  }
  if (text != "ok") {
    // The check lists its findings on several lines; the message keeps the
    // first few on one line.
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at))
      text.replace(at, 1, "; ");
    if (text.size() > 200) text = text.substr(0, 200) + "...";
    failure = {EBADMSG, path_ + ": the store is damaged (" + text + "); refused"};
    return false;
  }
  rc = pragmaText(db_, "PRAGMA journal_mode = WAL", text);
  if (rc == SQLITE_OK && text != "wal") {
    failure = {EIO, path_ + ": cannot use write-ahead logging (journal mode " + text + ")"};
    return false;
  }
  if (rc == SQLITE_OK) rc = sqlite3_exec(db_, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    failure = sqlFailure(rc, "cannot set up the store");
    return false;
  }
  for (auto [sql, statement] : {std::pair{kRead, &read_}, {kWrite, &write_}, {kClear, &clear_}}) {
    rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, statement, nullptr);
    if (rc != SQLITE_OK) {
      // A store of our application and version always has this table.
      failure = {EBADMSG, path_ + ": the store's point table is missing or damaged (" +
                              sqlite3_errmsg(db_) + "); refused"};
      return false;
    }
  }
  return true;
}

StoreFile::~StoreFile() {
  sqlite3_finalize(read_);
  sqlite3_finalize(write_);
  sqlite3_finalize(clear_);
  sqlite3_close(db_);
}

Failure StoreFile::sqlFailure(int rc, const std::string &what) const {
  return {errnoOf(rc, sqlite3_system_errno(db_)), path_ + ": " + what + ": " + sqlite3_errmsg(db_)};
}

int32_t StoreFile::read(int32_t index, DboperRecord &record, Failure &failure) {
  std::lock_guard lock(mutex_);
  StatementUse use{read_};
  record = DboperRecord{};
  sqlite3_bind_int(read_, 1, index);
  int rc = sqlite3_step(read_);
  if (rc == SQLITE_DONE) return 0;
  if (rc != SQLITE_ROW) {
    failure = sqlFailure(rc, "cannot read point " + std::to_string(index));
    return -1;
  }
  if (sqlite3_column_type(read_, 0) != SQLITE_NULL) {
    record.flags |= DBOPER_HAS_STATUS;
    record.status = static_cast<uint32_t>(sqlite3_column_int64(read_, 0));
  }
  if (sqlite3_column_type(read_, 1) != SQLITE_NULL) {
    record.flags |= DBOPER_HAS_VALUE;
    int64_t bits = sqlite3_column_int64(read_, 1);
    std::memcpy(&record.value, &bits, sizeof bits);
  }
  return record.flags;
}

int32_t StoreFile::write(int32_t index, int32_t selector, std::optional<int32_t> pointId,
                         uint32_t status, double value, Failure &failure) {
  std::lock_guard lock(mutex_);
  StatementUse use{write_};
  sqlite3_bind_int(write_, 1, index);
  if (pointId) sqlite3_bind_int(write_, 2, *pointId);
  if (selector & DBOPER_SELECT_STATUS) sqlite3_bind_int64(write_, 3, status);
  if (selector & DBOPER_SELECT_VALUE) {
    int64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    sqlite3_bind_int64(write_, 4, bits);
  }
  int rc = sqlite3_step(write_);
  if (rc != SQLITE_DONE) {
    failure = sqlFailure(rc, "cannot write point " + std::to_string(index));
    return -1;
  }
  return 1;
}

int32_t StoreFile::clear(int32_t index, int32_t selector, Failure &failure) {
  std::lock_guard lock(mutex_);
  StatementUse use{clear_};
  sqlite3_bind_int(clear_, 1, index);
  sqlite3_bind_int(clear_, 2, selector);
  int rc = sqlite3_step(clear_);
  if (rc != SQLITE_DONE) {
    failure = sqlFailure(rc, "cannot clear point " + std::to_string(index));
    return -1;
  }
  return sqlite3_changes(db_) > 0 ? 1 : 0;
}

}  // namespace hostrt::store
