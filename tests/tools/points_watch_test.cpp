// SPDX-License-Identifier: MIT
// `sicvm points` on a program that runs in another process: a force holds
// for several cycles over what the program saves and is then released; a
// set writes once; a bad value writes nothing.
#include <gtest/gtest.h>

#include <sstream>

#include "tools/tool_process.h"

using namespace tooltest;

namespace {

// The value column of point ID `id` in `sicvm points list`, and whether it is forced.
struct Shown {
  std::string value;
  bool forced = false;
};

Shown shown(const std::string &table, const std::string &id) {
  std::istringstream lines(table);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string index, pointId, name, type, value;
    if (words >> index >> pointId >> name >> type >> value && pointId == id)
      return {value, line.find("FORCED") != std::string::npos};
  }
  return {};
}

}  // namespace

TEST(PointsCommand, AForceHoldsOverTheProgramUntilReleased) {
  const std::string name = "sicvm_points_" + std::to_string(getpid()), image = temp("points_tank.sic");
  ASSERT_EQ(sicvm("asm " + kExamples + "/tank.asm -o " + image).status, 0);
  Background run({"run", image, "--points", kExamples + "/tank.csv", "--shm", name, "--period", "10", "--nvram",
                  "none"},
                 temp("points_run.out"));
  ASSERT_TRUE(eventually([&] { return run.output().find("cycle 2:") != std::string::npos; })) << run.output();

  // TANK.LEVEL (1001) is computed and saved by the program every cycle.
  ASSERT_EQ(sicvm("points force " + name + " 1001=77").status, 0);
  for (int look = 0; look < 3; ++look) {
    const size_t cycles = run.output().size();
    ASSERT_TRUE(eventually([&] { return run.output().size() > cycles + 100; }));  // a few more cycles ran
    Result list = sicvm("points list /" + name);
    ASSERT_EQ(list.status, 0) << list.out;
    EXPECT_EQ(shown(list.out, "1001").value, "77") << list.out;
    EXPECT_TRUE(shown(list.out, "1001").forced) << list.out;
  }
  Result watch = sicvm("points watch " + name + " 1001 --count 2 --interval 20");
  EXPECT_EQ(watch.status, 0);
  EXPECT_NE(watch.out.find("FORCED 77"), std::string::npos) << watch.out;
  EXPECT_EQ(watch.out.find("TANK.LOW"), std::string::npos) << watch.out;  // only the points asked for

  ASSERT_EQ(sicvm("points unforce " + name + " 1001").status, 0);
  EXPECT_TRUE(eventually([&] { return shown(sicvm("points list " + name).out, "1001").value != "77"; }));
  EXPECT_FALSE(shown(sicvm("points list " + name).out, "1001").forced);

  // TANK.LOW (1003) is only read by the program: a set stays.
  EXPECT_EQ(sicvm("points set " + name + " 1003=35.5").status, 0);
  EXPECT_EQ(shown(sicvm("points list " + name).out, "1003").value, "35.5");
  // A value the point cannot hold, or an unknown ID, writes nothing at all.
  for (const char *bad : {" 1003=36 1002=2", " 1003=36 9999=1", " 1003=36 1003=x"}) {
    Result r = sicvm("points set " + name + bad);
    EXPECT_EQ(r.status, 1) << bad;
    EXPECT_EQ(shown(sicvm("points list " + name).out, "1003").value, "35.5") << bad;
  }
  EXPECT_EQ(run.stop(SIGTERM), 0);
  EXPECT_EQ(sicvm("points list " + name).status, 1);  // gone with its run
}
