// SPDX-License-Identifier: MIT
// Point database: points file reader, shared tables across processes, field reads.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include "hostrt/points.h"
#include "hostrt/sys.h"

namespace {

// Fields of the packed records may be misaligned, so the checks below
// compare copies (double{...}) instead of binding references to them.
const char kHeader[] = "index,id,type,mode,value,status\n";

// A shared-memory name of this test process, removed when the test ends
// even after a failed assertion.
struct ObjectName {
  std::string name;
  ObjectName() {
    static int serial = 0;
    name = "/sicvm-test-points-" + std::to_string(getpid()) + "-" + std::to_string(++serial);
  }
  ~ObjectName() { shm_unlink(name.c_str()); }
  const char *c_str() const { return name.c_str(); }
};

struct Loaded {
  PointDb *db = nullptr;
  std::string error;
  int errnum = 0;
};

Loaded load(const std::string &text, const char *shmName = nullptr) {
  Loaded result;
  char error[4096] = "untouched";
  _winseterrno(0);
  result.db = PointDbLoadText("pts.csv", text.data(), static_cast<uint32_t>(text.size()), shmName,
                              error, sizeof error);
  result.error = error;
  result.errnum = _wingeterrno();
  return result;
}

bool objectExists(const std::string &name) {
  int fd = shm_open(name.c_str(), O_RDONLY, 0);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

TEST(PointDb, ReadsAGoodFile) {
  Loaded r = load(
      "# plant points\r\n"
      "\n"
      "Index, ID, Type, Mode, Value, Status, Name\r\n"
      "0, 0, LREAL, 0, 5, 0, the null point\n"
      "1, 1001, lreal, 0, -12.5, 0x80000001, TT-101 outlet\n"
      "   # a comment between rows\n"
      "2,1002,2,3,-7,17,\n"
      "4,1001,REAL,0,0.1,0,duplicate id");
  ASSERT_NE(r.db, nullptr) << r.error;
  ASSERT_EQ(PointDbCount(r.db), 5);
  const PointConfigRecord *c = PointDbConfig(r.db);
  const PointValueRecord *v = PointDbValues(r.db);
  // A row for index 0 is kept, but the null point never gets an own index.
  EXPECT_EQ(c[0].ownIndex, 0);
  EXPECT_EQ(double{v[0].value}, 5.0);
  EXPECT_EQ(c[1].valueType, POINT_TYPE_LREAL);
  EXPECT_STREQ(c[1].name, "TT-101 outlet");
  EXPECT_EQ(uint32_t{v[1].status}, 0x80000001u);
  EXPECT_EQ(c[2].statusMode, 3);
  EXPECT_EQ(c[2].valueType, POINT_TYPE_DINT);
  EXPECT_EQ(double{v[2].value}, -7.0);
  // Index 3 has no row: a deleted point with nothing in it.
  EXPECT_EQ(c[3].ownIndex + c[3].pointId, 0);
  EXPECT_EQ(double{v[4].value}, static_cast<double>(0.1f));
  PointDbClose(r.db);
  Loaded empty = load(kHeader);
  EXPECT_EQ(PointDbCount(empty.db), 1) << "the null point always exists";
  PointDbClose(empty.db);
}

// Every bad line is reported as FILE:LINE: reason, and nothing is created.
TEST(PointDb, RejectsBadFilesWithFileAndLine) {
  const std::string head = std::string(kHeader) + "1,1001,LREAL,0,0,0\n";
  struct Case { std::string text; std::string error; } cases[] = {
      {head + "1,1002,DINT,0,0,0\n", "pts.csv:3: duplicate index 1 (also on line 2)"},
      {head + "0,1002,DINT,0,0,0\n", "pts.csv:3: index 0 follows index 1; rows must be in ascending index order"},
      {head + "x,1002,DINT,0,0,0\n", "pts.csv:3: bad index 'x'"},
      {head + "1000000,7,DINT,0,0,0\n", "pts.csv:3: index 1000000 is out of range (0 to 999999)"},
      {head + "2,0,DINT,0,0,0\n", "pts.csv:3: point ID 0 is not allowed (it means no point)"},
      {head + "2,1002,6,0,0,0\n",
       "pts.csv:3: unknown value type '6' (expected BOOL, DINT, LREAL, INT, REAL or 1 to 5)"},
      {head + "2,1002,LREAL,0,nan,0\n", "pts.csv:3: value 'nan' is not a finite number"},
      {head + "2,1002,DINT,0,2.5,0\n", "pts.csv:3: value '2.5' is not a whole number in the DINT range"},
      {head + "2,1002,INT,0,32768,0\n", "pts.csv:3: value '32768' is not a whole number in the INT range"},
      {head + "2,1002,BOOL,0,2,0\n", "pts.csv:3: value '2' is not 0 or 1 (BOOL)"},
      {head + "2,1002,REAL,0,1e39,0\n", "pts.csv:3: value '1e39' is outside the REAL range"},
      {head + "2,1002,DINT,0,0\n", "pts.csv:3: expected 6 fields, found 5"},
      {"# only a comment\n\n", "pts.csv: no header line (index,id,type,mode,value,status[,name])"},
      {"index,id,type,value,mode,status\n",
       "pts.csv:1: header must be 'index,id,type,mode,value,status[,name]', found 'index,id,type,value,mode,status'"},
      {"index,id,type,mode,value,status,name\n1,1,DINT,0,0,0," + std::string(64, 'n') + "\n",
       "pts.csv:2: name is longer than 63 bytes"},
  };
  for (const Case &c : cases) {
    ObjectName name;
    Loaded r = load(c.text, name.c_str());
    EXPECT_EQ(r.db, nullptr) << c.error;
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.errnum, EINVAL) << c.error;
    EXPECT_FALSE(objectExists(name.name)) << c.error;
  }
  // At most 20 lines are listed, then a count of the rest.
  std::string text = kHeader, expected;
  const std::string why = ": value '0.5' is not a whole number in the DINT range\n";
  for (int i = 0; i < 23; ++i) {
    text += "1,1,DINT,0,0.5,0\n";
    if (i < 20) expected += "pts.csv:" + std::to_string(i + 2) + why;
  }
  EXPECT_EQ(load(text).error, expected + "pts.csv: 3 more errors");
}

TEST(PointDb, NeverReusesAnExistingObjectNameAndReportsAMissingFile) {
  ObjectName name;
  Loaded first = load(std::string(kHeader) + "1,1001,LREAL,0,42,0\n", name.c_str());
  ASSERT_NE(first.db, nullptr) << first.error;
  Loaded second = load(std::string(kHeader) + "1,2001,LREAL,0,7,0\n", name.c_str());
  EXPECT_EQ(second.db, nullptr);
  EXPECT_EQ(second.errnum, EEXIST);
  EXPECT_EQ(second.error, "shared memory object '" + name.name +
                              "': already exists (PointDbReclaim removes it once its owner has gone)");
  EXPECT_EQ(double{PointDbValues(first.db)[1].value}, 42.0);
  PointDbClose(first.db);
  char error[256] = "";
  EXPECT_EQ(PointDbLoad("/nonexistent/points.csv", nullptr, error, sizeof error), nullptr);
  EXPECT_STREQ(error, "/nonexistent/points.csv: cannot read: No such file or directory");
  EXPECT_EQ(_wingeterrno(), ENOENT);
}

TEST(PointDb, AttachRefusesObjectsThatAreNotCompleteTables) {
  struct Case { size_t size; PointDbHeader header; const char *problem; } cases[] = {
      {16, {}, " is not a point database (16 bytes)"},
      {4096, {}, " is not a point database, or its tables are still being filled"},
      {4096, {POINTDB_MAGIC, 9, 1, 64, 64, 576, 604, 0, 0, 0, {}}, " has point database version 9, expected 2"},
      {4096, {POINTDB_MAGIC, 2, 1000, 64, 64, 576, 604, 0, 0, 0, {}}, " has a damaged point database header"},
  };
  for (const Case &c : cases) {
    ObjectName name;
    int fd = shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(c.size)), 0);
    if (c.size >= sizeof c.header) {
      ASSERT_EQ(pwrite(fd, &c.header, sizeof c.header, 0), 64);
    }
    close(fd);
    char error[256] = "";
    EXPECT_EQ(PointDbAttach(name.c_str(), error, sizeof error), nullptr);
    EXPECT_EQ(std::string(error), "shared memory object '" + name.name + "'" + c.problem);
    EXPECT_EQ(_wingeterrno(), EBADMSG);
  }
}

// A forked child maps the tables by name, sees what the parent loaded, and
// the parent sees the child's writes, including the status-change counter.
TEST(PointDb, TwoProcessesShareTheTables) {
  ObjectName name;
  Loaded r = load(std::string(kHeader) + "1,1001,LREAL,0,1.5,0\n2,1002,DINT,0,0,0\n", name.c_str());
  ASSERT_NE(r.db, nullptr) << r.error;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char error[256];
    PointDb *db = PointDbAttach(name.c_str(), error, sizeof error);
    if (db == nullptr || PointDbCount(db) != 3 || PointDbValues(db)[1].value != 1.5) _exit(2);
    PointValueRecord *v = PointDbValues(db);
    v[2].value = 77.0;
    v[2].status = 0x00040001;
    _exit(ShmUpdateStatFalse(&PointDbConfig(db)[2], &v[2]) == 0 ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const PointValueRecord *v = PointDbValues(r.db);
  EXPECT_EQ(PointStatusChanges(&v[2]), 1u);
  EXPECT_EQ(uint32_t{v[2].status}, 0x00040001u);
  EXPECT_EQ(double{v[2].value}, 77.0);
  PointDbClose(r.db);
}

TEST(ShmFields, ReadsEveryDocumentedField) {
  Loaded r = load(std::string(kHeader) + "1,-1001,INT,3,-300,0x80000002\n");
  ASSERT_NE(r.db, nullptr) << r.error;
  const PointConfigRecord *c = &PointDbConfig(r.db)[1];
  PointValueRecord *v = &PointDbValues(r.db)[1];
  SysSetManualClock(123456);
  ASSERT_EQ(ShmUpdateStatFalse(c, v) + ShmUpdateStatFalse(c, v), 0);
  SysUseRealClock();
  struct Case { int32_t field; double expected; } cases[] = {
      {SHM_FIELD_POINT_ID, -1001.0},   {SHM_FIELD_VALUE_TYPE, 4.0},
      {SHM_FIELD_STATUS_MODE, 3.0},    {SHM_FIELD_OWN_INDEX, 1.0},
      {SHM_FIELD_STATUS_CHANGES, 2.0}, {SHM_FIELD_STATUS_CHANGED_AT, 123456.0},
      {SHM_FIELD_STATUS, 2147483650.0}, {SHM_FIELD_VALUE, -300.0},
  };
  for (const Case &k : cases) {
    double out = -1.0;
    EXPECT_EQ(ShmGetPointFieldValue(c, v, k.field, &out), 0) << k.field;
    EXPECT_EQ(out, k.expected) << k.field;
  }
  for (int32_t field : {0, 5, 40, 45}) {
    double out = 9.0;
    EXPECT_EQ(ShmGetPointFieldValue(c, v, field, &out), -1) << field;
    EXPECT_EQ(out, 9.0) << field;
  }
  EXPECT_EQ(ShmUpdateStatFalse(c, reinterpret_cast<char *>(v) + 2), -1) << "misaligned";
  EXPECT_EQ(PointStatusChanges(v), 2u);
  PointDbClose(r.db);
}

}  // namespace

// A force holds its value through PointDbApplyForces until released; only
// real points can be forced.
TEST(PointDb, ForcesAreAppliedUntilReleased) {
  Loaded r = load(std::string(kHeader) + "1,1001,LREAL,0,1.5,0\n2,1002,INT,0,7,0\n");
  ASSERT_NE(r.db, nullptr) << r.error;
  double held = 0;
  EXPECT_EQ(PointDbForcedValue(r.db, 1, &held), 0);
  ASSERT_EQ(PointDbForce(r.db, 1, 42.25), 0);
  PointDbValues(r.db)[1].value = 3.0;  // what a program saved
  EXPECT_EQ(PointDbApplyForces(r.db), 1);
  EXPECT_EQ(double{PointDbValues(r.db)[1].value}, 42.25);
  EXPECT_EQ(double{PointDbValues(r.db)[2].value}, 7.0);
  EXPECT_EQ(PointDbForcedValue(r.db, 1, &held), 1);
  EXPECT_EQ(held, 42.25);
  ASSERT_EQ(PointDbUnforce(r.db, 1), 0);
  PointDbValues(r.db)[1].value = 3.0;
  EXPECT_EQ(PointDbApplyForces(r.db), 0);
  EXPECT_EQ(double{PointDbValues(r.db)[1].value}, 3.0);
  for (int32_t index : {0, -1, 3}) {
    EXPECT_EQ(PointDbForce(r.db, index, 1.0), -1) << index;
    EXPECT_EQ(_wingeterrno(), EINVAL);
  }
  PointDbClose(r.db);
}

TEST(PointDb, FitValueKeepsWhatThePointsFileKeeps) {
  struct Case {
    int32_t type;
    double value, fitted;
    bool ok;
  } cases[] = {
      {POINT_TYPE_BOOL, 1, 1, true},   {POINT_TYPE_BOOL, 2, 0, false},     {POINT_TYPE_INT, 32767, 32767, true},
      {POINT_TYPE_INT, 32768, 0, false}, {POINT_TYPE_DINT, 2.5, 0, false}, {POINT_TYPE_REAL, 0.1, double(0.1f), true},
      {POINT_TYPE_REAL, 1e39, 0, false}, {POINT_TYPE_LREAL, 1e300, 1e300, true},
  };
  for (const Case &c : cases) {
    double value = c.value;
    char error[128] = "";
    EXPECT_EQ(PointDbFitValue(c.type, &value, error, sizeof error), c.ok ? 0 : -1) << c.type << " " << c.value;
    if (c.ok) EXPECT_EQ(value, c.fitted);
    else EXPECT_NE(std::string(error), "");
  }
}

// Nothing to reclaim: no object. An object of a process that runs (this one) stays.
TEST(PointDb, ReclaimRemovesOnlyWhatNobodyOwns) {
  ObjectName name;
  char message[256] = "";
  EXPECT_EQ(PointDbReclaim(name.c_str(), message, sizeof message), 0);
  Loaded r = load(std::string(kHeader) + "1,1001,LREAL,0,1.5,0\n", name.c_str());
  ASSERT_NE(r.db, nullptr) << r.error;
  EXPECT_EQ(PointDbInfo(r.db)->ownerPid, getpid());
  EXPECT_EQ(PointDbReclaim(name.c_str(), message, sizeof message), -1);
  EXPECT_EQ(_wingeterrno(), EBUSY);
  EXPECT_NE(std::string(message).find("in use by process " + std::to_string(getpid())), std::string::npos) << message;
  EXPECT_TRUE(objectExists(name.name));
  PointDbClose(r.db);
}
