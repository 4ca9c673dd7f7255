// Non-volatile point store: round trips, argument errors, refusal of files
// that are not stores, and durability of every write that returned.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <signal.h>
#include <sqlite3.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
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
  void TearDown() override {
    for (const std::string &name : listDir()) unlink((dir_ + "/" + name).c_str());
    rmdir(dir_.c_str());
  }

  std::set<std::string> listDir() const {
    std::set<std::string> names;
    DIR *d = opendir(dir_.c_str());
    while (dirent *entry = d != nullptr ? readdir(d) : nullptr)
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        names.insert(entry->d_name);
    if (d != nullptr) closedir(d);
    return names;
  }

  std::string dir_;
  std::string path_;
};

int32_t writePoint(uint32_t h, int32_t index, int32_t selector, uint32_t status, double value,
                   int32_t pointId = 0) {
  PointConfigRecord config{};
  config.ownIndex = index;
  config.pointId = pointId;
  PointValueRecord record{};
  record.status = status;
  record.value = value;
  return DboperWritePoint(h, index, selector, pointId != 0 ? &config : nullptr, &record);
}

// A read record's fields, copied out of the packed record so they can be
// compared by reference; `zeros` tells whether the spare bytes were zeroed.
struct Stored {
  int32_t result;
  uint8_t flags;
  uint32_t status;
  double value;
  bool zeros;
};

Stored readPoint(uint32_t h, int32_t index) {
  DboperRecord record;
  std::memset(&record, 0xEE, sizeof record);
  int32_t result = DboperRead(h, index, &record);
  bool zeros = (record.reserved0[0] | record.reserved0[1] | record.reserved3[0] | record.reserved3[1] |
                record.reserved3[2] | record.reserved3[3] | record.reserved3[4]) == 0;
  return {result, record.flags, record.status, record.value, zeros};
}

uint64_t bitsOf(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
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

std::string fileBytes(const std::string &path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return "(not a file)";
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(StoreTest, WritesReadBackPerSelectorAndSurviveReopening) {
  const double nan = std::nan("0x5");
  struct Write {
    int32_t selector;
    uint32_t status;
    double value;
  };
  struct Case {
    std::vector<Write> writes;
    uint8_t flags;
    uint32_t status;
    double value;
  } cases[] = {
      {{}, 0, 0, 0.0},
      {{{1, 0xFFFFFFFF, 9.0}}, DBOPER_HAS_STATUS, 0xFFFFFFFF, 0.0},
      {{{2, 7, 2.5}}, DBOPER_HAS_VALUE, 0, 2.5},
      {{{3, 7, -0.0}}, DBOPER_HAS_STATUS | DBOPER_HAS_VALUE, 7, -0.0},
      {{{1, 1, 1.0}, {2, 2, 2.0}}, DBOPER_HAS_STATUS | DBOPER_HAS_VALUE, 1, 2.0},
      {{{3, 1, 1.0}, {1, 5, 8.0}}, DBOPER_HAS_STATUS | DBOPER_HAS_VALUE, 5, 1.0},
      {{{3, 1, 1.0}, {2, 5, 8.0}}, DBOPER_HAS_STATUS | DBOPER_HAS_VALUE, 1, 8.0},
      {{{2, 0, 1e308}, {2, 0, nan}}, DBOPER_HAS_VALUE, 0, nan},
  };
  uint32_t h = DboperOpen(path_.c_str());
  ASSERT_NE(h, 0u) << DboperLastMessage();
  for (int32_t i = 0; i < static_cast<int32_t>(std::size(cases)); ++i)
    for (const Write &w : cases[i].writes)
      ASSERT_EQ(writePoint(h, i + 1, w.selector, w.status, w.value, 1000 + i), 1) << DboperLastMessage();

  for (int pass = 0; pass < 2; ++pass) {
    for (int32_t i = 0; i < static_cast<int32_t>(std::size(cases)); ++i) {
      Stored r = readPoint(h, i + 1);
      EXPECT_EQ(r.result, cases[i].flags) << "case " << i << " pass " << pass;
      EXPECT_EQ(r.flags, cases[i].flags) << "case " << i;
      EXPECT_EQ(r.status, cases[i].status) << "case " << i;
      EXPECT_EQ(bitsOf(r.value), bitsOf(cases[i].value)) << "case " << i;
      EXPECT_TRUE(r.zeros) << "case " << i;
    }
    ASSERT_EQ(DboperClose(h), 0);
    h = DboperOpen(path_.c_str());
    ASSERT_NE(h, 0u) << DboperLastMessage();
  }
  DboperClose(h);
  EXPECT_EQ(sqlText(path_, "SELECT point_id FROM point_store WHERE idx = 3"), "1002");
  EXPECT_EQ(sqlText(path_, "PRAGMA journal_mode"), "wal");
}

TEST_F(StoreTest, ClearRemovesOnlyTheSelectedParts) {
  struct Case {
    int32_t selector;
    int32_t result;
    uint8_t flagsAfter;
  } steps[] = {
      {1, 1, DBOPER_HAS_VALUE}, {1, 0, DBOPER_HAS_VALUE}, {2, 1, 0}, {3, 0, 0},
  };
  uint32_t h = DboperOpen(path_.c_str());
  ASSERT_NE(h, 0u) << DboperLastMessage();
  ASSERT_EQ(writePoint(h, 4, 3, 11, 4.5), 1);
  for (const Case &step : steps) {
    EXPECT_EQ(DboperClearPoint(h, 4, step.selector), step.result) << step.selector;
    Stored r = readPoint(h, 4);
    EXPECT_EQ(r.flags, step.flagsAfter) << step.selector;
    if (r.flags & DBOPER_HAS_VALUE) {
      EXPECT_EQ(r.value, 4.5);
    }
  }
  ASSERT_EQ(writePoint(h, 5, 3, 1, 1.0), 1);
  EXPECT_EQ(DboperClearPoint(h, 5, 3), 1);
  DboperClose(h);
  EXPECT_EQ(sqlText(path_, "SELECT count(*) FROM point_store"), "0");
}

TEST_F(StoreTest, RefusesBadArgumentsAndStaleHandles) {
  uint32_t h = DboperOpen(path_.c_str());
  ASSERT_NE(h, 0u) << DboperLastMessage();
  ASSERT_EQ(DboperClose(h), 0);
  uint32_t again = DboperOpen(path_.c_str());
  ASSERT_NE(again, 0u);
  EXPECT_NE(again, h);
  PointValueRecord value{};
  DboperRecord record{};
  const std::string stale = "store handle " + std::to_string(h) + " is not open";
  struct Case {
    const char *what;
    std::function<int32_t()> call;
    int code;
    std::string message;
  } cases[] = {
      {"stale handle", [&] { return DboperRead(h, 1, &record); }, EBADF, stale},
      {"handle 0", [&] { return DboperWritePoint(0, 1, 1, nullptr, &value); }, EBADF,
       "store handle 0 is not open"},
      {"index 0", [&] { return DboperRead(again, 0, &record); }, EINVAL,
       path_ + ": cannot read point 0: index out of range (1 to 2147483647)"},
      {"index -1", [&] { return DboperClearPoint(again, -1, 1); }, EINVAL,
       path_ + ": cannot clear point -1: index out of range (1 to 2147483647)"},
      {"selector 0", [&] { return DboperWritePoint(again, 1, 0, nullptr, &value); }, EINVAL,
       path_ + ": selector 0 is not 1 (status), 2 (value) or 3 (both)"},
      {"selector 4", [&] { return DboperClearPoint(again, 1, 4); }, EINVAL,
       path_ + ": selector 4 is not 1 (status), 2 (value) or 3 (both)"},
      {"no value record", [&] { return DboperWritePoint(again, 1, 2, nullptr, nullptr); }, EINVAL,
       path_ + ": no value record to write point 1 from"},
      {"no read record", [&] { return DboperRead(again, 1, nullptr); }, EINVAL,
       path_ + ": no record to read point 1 into"},
      {"close twice", [&] { return DboperClose(h); }, EBADF, stale},
      {"no path", [&] { return static_cast<int32_t>(DboperOpen(nullptr)) - 1; }, EINVAL,
       "no store path given"},
  };
  for (const Case &c : cases) {
    _winseterrno(0);
    EXPECT_EQ(c.call(), -1) << c.what;
    EXPECT_EQ(_wingeterrno(), c.code) << c.what;
    EXPECT_EQ(DboperLastMessage(), c.message) << c.what;
  }
  EXPECT_EQ(readPoint(again, 1).flags, 0) << "nothing was stored by the refused calls";
  DboperClose(again);
}

void runSql(const std::string &path, const char *sql) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char *error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

void writeBytes(const std::string &path, const std::string &bytes, off_t offset = 0) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()));
  close(fd);
}

void makeStore(const std::string &path) {
  uint32_t h = DboperOpen(path.c_str());
  ASSERT_NE(h, 0u) << DboperLastMessage();
  DboperClose(h);
}

// Files that are not stores of ours are refused and left byte for byte as
// they were, with no journal files added beside them.
TEST_F(StoreTest, RefusesFilesThatAreNotStoresAndLeavesThemUntouched) {
  const std::string refused = "; refused";
  struct Case {
    const char *what;
    std::function<void(const std::string &)> make;
    int code;
    std::string message;  // after "PATH: "
  } cases[] = {
      {"text file", [](const std::string &p) { writeBytes(p, std::string(4096, 'x')); }, EBADMSG,
       "not an SQLite database, so not a point store" + refused},
      {"short file", [](const std::string &p) { writeBytes(p, "SQLite format 3"); }, EBADMSG,
       "not an SQLite database, so not a point store" + refused},
      {"foreign database",
       [](const std::string &p) {
         runSql(p, "PRAGMA journal_mode=WAL; PRAGMA application_id=7; CREATE TABLE t(x); INSERT INTO t VALUES(1);");
       },
       ENOTSUP,
       "an SQLite database of another application (application ID 0x00000007), not a point store" + refused},
      {"newer store",
       [](const std::string &p) {
         makeStore(p);
         runSql(p, "PRAGMA user_version = 2;");
       },
       ENOTSUP, "point store format 2 is newer than this program's (1)" + refused},
      {"damaged store",
       [](const std::string &p) {
         makeStore(p);
         runSql(p,
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 600)"
                " INSERT INTO point_store(idx, status) SELECT i, i FROM n;");
         writeBytes(p, std::string(4096, '\x5a'), 4096);
       },
       EBADMSG, "the store is damaged ("},
      {"folder", [](const std::string &p) { mkdir(p.c_str(), 0755); }, EINVAL,
       "not a regular file" + refused},
  };
  for (const Case &c : cases) {
    c.make(path_);
    const std::set<std::string> before = listDir();
    const std::string bytes = fileBytes(path_);
    _winseterrno(0);
    EXPECT_EQ(DboperOpen(path_.c_str()), 0u) << c.what;
    EXPECT_EQ(_wingeterrno(), c.code) << c.what;
    std::string message = DboperLastMessage();
    EXPECT_EQ(message.substr(0, path_.size() + 2 + c.message.size()), path_ + ": " + c.message) << c.what;
    EXPECT_TRUE(message.ends_with(refused)) << message;
    EXPECT_EQ(fileBytes(path_), bytes) << c.what;
    EXPECT_EQ(listDir(), before) << c.what;
    unlink(path_.c_str());
    rmdir(path_.c_str());
  }

  const std::string nowhere = dir_ + "/missing/points.db";
  EXPECT_EQ(DboperOpen(nowhere.c_str()), 0u);
  EXPECT_EQ(_wingeterrno(), ENOENT);
  EXPECT_EQ(DboperLastMessage(), nowhere + ": cannot create the store: No such file or directory");
}

TEST_F(StoreTest, AnEmptyFileBecomesAStoreAndNoTemporaryFileStays) {
  writeBytes(path_, "");
  uint32_t h = DboperOpen(path_.c_str());
  ASSERT_NE(h, 0u) << DboperLastMessage();
  EXPECT_EQ(writePoint(h, 9, 2, 0, 3.0), 1);
  EXPECT_EQ(readPoint(h, 9).value, 3.0);
  DboperClose(h);
  EXPECT_EQ(listDir(), std::set<std::string>{"points.db"});
  EXPECT_EQ(sqlText(path_, "PRAGMA application_id"), std::to_string(DBOPER_APPLICATION_ID));
}

TEST_F(StoreTest, HandleTableIsBoundedAndSharedByThreads) {
  std::vector<uint32_t> handles;
  for (int i = 0; i < DBOPER_MAX_STORES; ++i) {
    handles.push_back(DboperOpen(path_.c_str()));
    ASSERT_NE(handles.back(), 0u) << DboperLastMessage();
  }
  EXPECT_EQ(std::set<uint32_t>(handles.begin(), handles.end()).size(), handles.size());
  EXPECT_EQ(DboperOpen(path_.c_str()), 0u);
  EXPECT_EQ(_wingeterrno(), EMFILE);
  EXPECT_EQ(DboperLastMessage(), path_ + ": cannot open the store: 64 stores are open already");

  // Four threads write at once, two through each of two handles.
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([h = handles[t % 2], t] {
      for (int i = 1; i <= 10; ++i) writePoint(h, t * 100 + i, 3, static_cast<uint32_t>(t), i + 0.5);
    });
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < 4; ++t)
    for (int i = 1; i <= 10; ++i) {
      Stored r = readPoint(handles[63], t * 100 + i);
      EXPECT_EQ(r.flags, 3) << t << " " << i;
      EXPECT_EQ(r.status, static_cast<uint32_t>(t));
      EXPECT_EQ(r.value, i + 0.5);
    }
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

    struct Expected {
      uint8_t flags = 0;
      uint32_t status = 0;
      double value = 0.0;
    };
    std::vector<Expected> done(kCrashPoints + 1), maybe;
    for (uint32_t w = 0; w <= reported; ++w) {
      if (w == reported) maybe = done;
      Expected &e = done[static_cast<size_t>(crashIndex(w))];
      if (w % 2 == 0) {
        e.flags |= DBOPER_HAS_VALUE;
        e.value = w + 0.25;
      } else {
        e.flags |= DBOPER_HAS_STATUS;
        e.status = w;
      }
    }
    uint32_t h = DboperOpen(path.c_str());
    ASSERT_NE(h, 0u) << DboperLastMessage();
    for (int32_t p = 1; p <= kCrashPoints; ++p) {
      Stored r = readPoint(h, p);
      auto matches = [&r](const Expected &e) {
        return r.flags == e.flags && r.status == e.status && r.value == e.value;
      };
      EXPECT_TRUE(matches(maybe[static_cast<size_t>(p)]) || matches(done[static_cast<size_t>(p)]))
          << "round " << round << " point " << p << " after " << reported << " reported writes";
    }
    DboperClose(h);
    EXPECT_EQ(sqlText(path, "PRAGMA integrity_check"), "ok");
  }
}

}  // namespace
