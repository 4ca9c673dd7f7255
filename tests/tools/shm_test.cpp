// SPDX-License-Identifier: MIT
// Runs that publish their point tables (--shm): a restart after the runner
// was killed, and a second run refused while the first goes on.
#include <gtest/gtest.h>

#include "tools/tool_process.h"

using namespace tooltest;

namespace {

struct ShmRun {
  std::string name = "sicvm_test_" + std::to_string(getpid());
  std::string path = "/dev/shm/" + name;
  std::string image = temp("shm_tank.sic");
  ShmRun() { std::remove(path.c_str()); }
  ~ShmRun() { std::remove(path.c_str()); }
  std::vector<std::string> arguments(const std::string &shm) const {
    return {"run", image, "--points", kExamples + "/tank.csv", "--shm", shm, "--period", "20", "--nvram", "none"};
  }
};

}  // namespace

TEST(Shm, ARunKilledHardIsReclaimedOnRestartAndALiveOneIsNot) {
  ShmRun run;
  ASSERT_EQ(sicvm("asm " + kExamples + "/tank.asm -o " + run.image).status, 0);
  {
    Background first(run.arguments("/" + run.name), temp("shm_first.out"));
    ASSERT_TRUE(eventually([&] { return first.output().find("cycle 2:") != std::string::npos; })) << first.output();
    // While the first run goes on, the name is refused with its owner's PID.
    Result refused = sicvm("run " + run.image + " --points " + kExamples + "/tank.csv --shm " + run.name +
                           " --cycles 1 --nvram none");
    EXPECT_EQ(refused.status, 2) << refused.out;
    EXPECT_NE(refused.out.find("in use by process " + std::to_string(first.pid())), std::string::npos)
        << refused.out;
    EXPECT_EQ(first.stop(SIGKILL), -1);
  }
  ASSERT_TRUE(exists(run.path));  // left behind by the killed run
  // The name without its slash is the same object; the restart reclaims it and says so.
  Result restart = sicvm("run " + run.image + " --points " + kExamples + "/tank.csv --shm " + run.name +
                         " --cycles 2 --period 0 --nvram none");
  EXPECT_EQ(restart.status, 0) << restart.out;
  EXPECT_NE(restart.out.find("reclaimed shared memory object '/" + run.name + "'"), std::string::npos)
      << restart.out;
  EXPECT_NE(restart.out.find("which no longer runs"), std::string::npos) << restart.out;
  EXPECT_NE(restart.out.find("cycle 2:"), std::string::npos) << restart.out;
  EXPECT_FALSE(exists(run.path));  // an orderly end removes the name
}

TEST(Shm, AnObjectThatIsNoPointDatabaseIsLeftAlone) {
  ShmRun run;
  ASSERT_EQ(sicvm("asm " + kExamples + "/tank.asm -o " + run.image).status, 0);
  write(run.path, "someone else's data");
  Result r = sicvm("run " + run.image + " --points " + kExamples + "/tank.csv --shm " + run.name +
                   " --cycles 1 --nvram none");
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_NE(r.out.find("is not a point database"), std::string::npos) << r.out;
  EXPECT_EQ(readAll(run.path), "someone else's data");
}
