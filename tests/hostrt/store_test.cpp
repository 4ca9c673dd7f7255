// SPDX-License-Identifier: MIT
// Non-volatile point store: round trips, argument errors, refusal of files
// that are not stores, and durability of every write that returned.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "hostrt/points.h"
#include "hostrt/store.h"
#include "hostrt/sys.h"

namespace {

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char templ[] = "/tmp/sicvm-store-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    dir_ = templ;
    path_ = dir_ + "/points.db";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::set<std::string> listDir() const {
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir_)) names.insert(entry.path().filename());
    return names;
  }
  std::string dir_;
  std::string path_;
};

int32_t writePoint(uint32_t h, int32_t index, int32_t selector, uint32_t status, double value,
                   int32_t pointId = 0) {
  PointConfigRecord config{};
  config.pointId = pointId;
  PointValueRecord record{0, 0, value, status, {}};
  return DboperWritePoint(h, index, selector, pointId != 0 ? &config : nullptr, &record);
}

// The whole 20-byte record a read fills in, spare bytes included.
DboperRecord expected(uint8_t flags, uint32_t status, double value) { return {{}, flags, {}, status, value}; }

bool readsBack(uint32_t h, int32_t index, const DboperRecord &want) {
  DboperRecord got;
  std::memset(&got, 0xEE, sizeof got);
  return DboperRead(h, index, &got) == want.flags && std::memcmp(&got, &want, sizeof got) == 0;
}

std::string sqlText(const std::string &path, const char *sql) {
  sqlite3 *db = nullptr;
  std::string text = "(failed)";
  sqlite3_stmt *statement = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
      sqlite3_step(statement) == SQLITE_ROW)
    text = reinterpret_cast<const char *>(sqlite3_column_text(statement, 0));
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return text;
}

TEST_F(StoreTest, WritesAndClearsPerSelectorAndSurviveReopening) {
  const double nan = std::nan("0x5");
  struct Write {
    int32_t selector;
    uint32_t status;
    double value;
  };
  struct Case { std::vector<Write> writes; DboperRecord record; } cases[] = {
      {{}, expected(0, 0, 0.0)},
      {{{1, 0xFFFFFFFF, 9.0}}, expected(1, 0xFFFFFFFF, 0.0)},
      {{{3, 7, -0.0}}, expected(3, 7, -0.0)},
      {{{3, 1, 1.0}, {1, 5, 8.0}}, expected(3, 5, 1.0)},  // unselected parts keep their values
      {{{3, 1, 1.0}, {2, 5, 8.0}}, expected(3, 1, 8.0)},
      {{{2, 0, 1e308}, {2, 0, nan}}, expected(2, 0, nan)},
  };
  std::ofstream(path_).close();  // an empty file is made a store too
  uint32_t h = DboperOpen(path_.c_str());
  ASSERT_NE(h, 0u) << DboperLastMessage();
  for (int32_t i = 0; i < static_cast<int32_t>(std::size(cases)); ++i)
    for (const Write &w : cases[i].writes)
      ASSERT_EQ(writePoint(h, i + 1, w.selector, w.status, w.value, 1000 + i), 1) << DboperLastMessage();
  for (int pass = 0; pass < 2; ++pass) {
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(cases)); ++i)
      EXPECT_TRUE(readsBack(h, i + 1, cases[i].record)) << "case " << i << " pass " << pass;
    ASSERT_EQ(DboperClose(h), 0);
    h = DboperOpen(path_.c_str());
    ASSERT_NE(h, 0u) << DboperLastMessage();
  }
  // Clearing: only the selected parts, and 0 when nothing of that kind is left.
  EXPECT_EQ(DboperClearPoint(h, 4, 1), 1);
  EXPECT_EQ(DboperClearPoint(h, 4, 1), 0);
  EXPECT_TRUE(readsBack(h, 4, expected(2, 0, 1.0)));
  EXPECT_EQ(DboperClearPoint(h, 4, 3), 1);
  DboperClose(h);
  EXPECT_EQ(listDir(), std::set<std::string>{"points.db"}) << "no temporary file stays";
  EXPECT_EQ(sqlText(path_, "SELECT point_id FROM point_store WHERE idx = 3"), "1002");
  EXPECT_EQ(sqlText(path_, "SELECT count(*) FROM point_store WHERE idx = 4"), "0") << "empty rows are removed";
  EXPECT_EQ(sqlText(path_, "PRAGMA journal_mode"), "wal");
}

TEST_F(StoreTest, RefusesBadArgumentsAndStaleHandles) {
  uint32_t h = DboperOpen(path_.c_str());
  ASSERT_EQ(DboperClose(h), 0);
  uint32_t again = DboperOpen(path_.c_str());
  ASSERT_NE(again, 0u);
  EXPECT_NE(again, h) << "a closed handle is never handed out again";
  DboperRecord record{};
  const std::string stale = "store handle " + std::to_string(h) + " is not open";
  struct Case { std::function<int32_t()> call; int code; std::string message; } cases[] = {
      {[&] { return DboperRead(h, 1, &record); }, EBADF, stale},
      {[&] { return DboperRead(again, 0, &record); }, EINVAL,
       path_ + ": cannot read point 0: index out of range (1 to 2147483647)"},
      {[&] { return DboperClearPoint(again, 1, 4); }, EINVAL,
       path_ + ": selector 4 is not 1 (status), 2 (value) or 3 (both)"},
      {[&] { return DboperWritePoint(again, 1, 2, nullptr, nullptr); }, EINVAL,
       path_ + ": no value record to write point 1 from"},
      {[&] { return static_cast<int32_t>(DboperOpen(nullptr)) - 1; }, EINVAL, "no store path given"},
  };
  for (const Case &c : cases) {
    _winseterrno(0);
    EXPECT_EQ(c.call(), -1) << c.message;
    EXPECT_EQ(_wingeterrno(), c.code) << c.message;
    EXPECT_EQ(DboperLastMessage(), c.message);
  }
  EXPECT_TRUE(readsBack(again, 1, expected(0, 0, 0.0))) << "the refused calls stored nothing";
  DboperClose(again);
}

void runSql(const std::string &path, const char *sql) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

void writeBytes(const std::string &path, const std::string &bytes, off_t offset = 0) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

void makeStore(const std::string &path) { DboperClose(DboperOpen(path.c_str())); }

std::string fileBytes(const std::string &path) {
  if (!std::filesystem::is_regular_file(path)) return "(not a file)";
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Files that are not stores of ours are refused and left byte for byte as
// they were, with no journal files added beside them.
TEST_F(StoreTest, RefusesFilesThatAreNotStoresAndLeavesThemUntouched) {
  struct Case {
    std::function<void(const std::string &)> make;
    int code;
    std::string message;  // after "PATH: "
  } cases[] = {
      {[](const std::string &p) { writeBytes(p, std::string(4096, 'x')); }, EBADMSG,
       "not an SQLite database, so not a point store; refused"},
      {[](const std::string &p) {
         runSql(p, "PRAGMA journal_mode=WAL; PRAGMA application_id=7; CREATE TABLE t(x); INSERT INTO t VALUES(1);");
       },
       ENOTSUP, "an SQLite database of another application (application ID 0x00000007), not a point store; refused"},
      {[](const std::string &p) {
         makeStore(p);
         runSql(p, "PRAGMA user_version = 2;");
       },
       ENOTSUP, "point store format 2 is newer than this program's (1); refused"},
      {[](const std::string &p) {
         makeStore(p);
         runSql(p,
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600)"
                " INSERT INTO point_store(idx, status) SELECT i, i FROM n;");
         writeBytes(p, std::string(4096, '\x5a'), 4096);
       },
       EBADMSG, "the store is damaged ("},
      {[](const std::string &p) { std::filesystem::create_directory(p); }, EINVAL, "not a regular file; refused"},
  };
  for (const Case &c : cases) {
    c.make(path_);
    const std::set<std::string> before = listDir();
    const std::string bytes = fileBytes(path_);
    _winseterrno(0);
    EXPECT_EQ(DboperOpen(path_.c_str()), 0u) << c.message;
    EXPECT_EQ(_wingeterrno(), c.code) << c.message;
    const std::string message = DboperLastMessage();
    EXPECT_EQ(message.substr(0, path_.size() + 2 + c.message.size()), path_ + ": " + c.message);
    EXPECT_TRUE(message.ends_with("; refused")) << message;
    EXPECT_EQ(fileBytes(path_), bytes) << c.message;
    EXPECT_EQ(listDir(), before) << c.message;
    std::filesystem::remove_all(path_);
  }
  const std::string nowhere = dir_ + "/missing/points.db";
  EXPECT_EQ(DboperOpen(nowhere.c_str()), 0u);
  EXPECT_EQ(_wingeterrno(), ENOENT);
  EXPECT_EQ(DboperLastMessage(), nowhere + ": cannot create the store: No such file or directory");
}

TEST_F(StoreTest, HandleTableIsBounded) {
  std::vector<uint32_t> handles;
  for (int i = 0; i < DBOPER_MAX_STORES; ++i) handles.push_back(DboperOpen(path_.c_str()));
  EXPECT_EQ(DboperOpen(path_.c_str()), 0u);
  EXPECT_EQ(_wingeterrno(), EMFILE);
  EXPECT_EQ(DboperLastMessage(), path_ + ": cannot open the store: 64 stores are open already");
  for (uint32_t h : handles) EXPECT_EQ(DboperClose(h), 0);
}

// The writer child's k-th write: even k store a value, odd k a status.
constexpr int32_t kCrashPoints = 37;
int32_t crashIndex(uint32_t k) { return static_cast<int32_t>(k % kCrashPoints) + 1; }

[[noreturn]] void crashWriter(const std::string &path, int report) {
  uint32_t h = DboperOpen(path.c_str());
  if (h == 0) _exit(2);
  for (uint32_t k = 0; k < 1000000; ++k) {
    int32_t r = k % 2 == 0 ? writePoint(h, crashIndex(k), DBOPER_SELECT_VALUE, 0, k + 0.25)
                           : writePoint(h, crashIndex(k), DBOPER_SELECT_STATUS, k, 0.0);
    if (r != 1 || write(report, &k, sizeof k) != sizeof k) _exit(3);
  }
  _exit(4);
}

// A child writes in a loop and reports each write that returned; it is
// killed at a moment drawn from a fixed seed. Every reported write must be
// in the store afterwards, and write number `reported` (under way when the
// child died) may or may not be.
TEST_F(StoreTest, EveryReturnedWriteSurvivesAKilledProcess) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 3; ++round) {
    const std::string path = dir_ + "/crash" + std::to_string(round) + ".db";
    const uint32_t killAfter = std::uniform_int_distribution<uint32_t>(20, 250)(random);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      crashWriter(path, fds[1]);
    }
    close(fds[1]);
    uint32_t reported = 0, k = 0;
    while (read(fds[0], &k, sizeof k) == sizeof k) {
      ASSERT_EQ(k, reported);
      if (++reported == killAfter) kill(child, SIGKILL);
    }
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "writer exit " << WEXITSTATUS(status);
    ASSERT_GE(reported, killAfter);

    std::vector<DboperRecord> done(kCrashPoints + 1, expected(0, 0, 0.0)), maybe;
    for (uint32_t w = 0; w <= reported; ++w) {
      if (w == reported) maybe = done;
      DboperRecord &e = done[static_cast<size_t>(crashIndex(w))];
      e.flags |= w % 2 == 0 ? DBOPER_HAS_VALUE : DBOPER_HAS_STATUS;
      if (w % 2 == 0)
        e.value = w + 0.25;
      else
        e.status = w;
    }
    uint32_t h = DboperOpen(path.c_str());
    ASSERT_NE(h, 0u) << DboperLastMessage();
    for (int32_t p = 1; p <= kCrashPoints; ++p)
      EXPECT_TRUE(readsBack(h, p, maybe[static_cast<size_t>(p)]) || readsBack(h, p, done[static_cast<size_t>(p)]))
          << "round " << round << " point " << p << " after " << reported << " reported writes";
    DboperClose(h);
    EXPECT_EQ(sqlText(path, "PRAGMA integrity_check"), "ok");
  }
}

// What creators that died left behind ("NAME.new-XXXXXX" and SQLite's
// companions of it) goes at the next open of the same store; a temporary
// file that a live creator (here a child process) holds locked, one younger
// than the grace time, and the files of other stores or of other shapes stay.
TEST_F(StoreTest, OpenRemovesWhatDeadCreatorsLeftBehind) {
  auto make = [&](const std::string &name, bool old) {
    const std::string file = dir_ + "/" + name;
    std::ofstream(file) << "x";
    if (old) {
      const timespec times[2] = {{0, UTIME_OMIT}, {time(nullptr) - 60, 0}};
      utimensat(AT_FDCWD, file.c_str(), times, 0);
    }
  };
  const std::set<std::string> stale = {"points.db.new-A1b2C3", "points.db.new-A1b2C3-journal",
                                       "points.db.new-A1b2C3-wal", "points.db.new-Zz9Zz9-shm"};
  const std::set<std::string> kept = {"points.db.new-Live00", "points.db.new-Fresh0", "points.db.new-Seven77",
                                      "points.db.new-Odd000-other", "other.db.new-A1b2C3"};
  for (const std::string &name : stale) make(name, true);
  for (const std::string &name : kept) make(name, name != "points.db.new-Fresh0");

  // A live creator in another process holds its temporary file locked.
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const std::string live = dir_ + "/points.db.new-Live00";
  pid_t creator = fork();
  ASSERT_GE(creator, 0);
  if (creator == 0) {
    int fd = open(live.c_str(), O_RDWR);
    char byte = flock(fd, LOCK_EX) == 0 ? 1 : 0;
    (void)!write(ready[1], &byte, 1);
    pause();
    _exit(0);
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 1);

  uint32_t h = DboperOpen(path_.c_str());
  ASSERT_NE(h, 0u) << DboperLastMessage();
  DboperClose(h);
  std::set<std::string> names = listDir();
  for (const std::string &name : stale) EXPECT_EQ(names.count(name), 0u) << name;
  for (const std::string &name : kept) EXPECT_EQ(names.count(name), 1u) << name;

  // Once its creator has been killed, the next open removes it too.
  kill(creator, SIGKILL);
  waitpid(creator, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  h = DboperOpen(path_.c_str());
  ASSERT_NE(h, 0u) << DboperLastMessage();
  DboperClose(h);
  names = listDir();
  EXPECT_EQ(names.count("points.db.new-Live00"), 0u);
  EXPECT_EQ(names.count("points.db.new-Fresh0"), 1u);
}

}  // namespace
