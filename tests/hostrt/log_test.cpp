// SPDX-License-Identifier: MIT
// Host log devices and levels, the error number, the clock and the rounding helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "hostrt/log.h"
#include "hostrt/numbers.h"
#include "hostrt/sys.h"

namespace {

std::vector<std::pair<int, std::string>> g_seen;
void remember(int level, const char *text) { g_seen.emplace_back(level, text); }

TEST(Log, CallbackDeviceReceivesExactlyTheEmittedMessages) {
  g_seen.clear();
  LogSetLevel(10);
  _winseterrno(0);
  EXPECT_EQ(LogSetDevice(5, nullptr), -1);
  EXPECT_EQ(_wingeterrno(), 22);
  LogSetDevice(LOG_DEVICE_CALLBACK, remember);
  EXPECT_EQ(LogPrintf(10, "a %d %s", 1, "b"), 5);
  EXPECT_EQ(LogPrintf(11, "filtered\n"), 0);
  EXPECT_EQ(LogPrintf(10, "%s", std::string(5000, 'x').c_str()), LOG_MESSAGE_MAX - 1) << "cut, not overrun";
  EXPECT_EQ(LogSetDevice(LOG_DEVICE_NONE, nullptr), LOG_DEVICE_CALLBACK);
  EXPECT_EQ(LogPrintf(4, "discarded\n"), 0);
  LogSetLevel(0);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0], std::make_pair(10, std::string("a 1 b")));
  EXPECT_EQ(g_seen[1].second, std::string(LOG_MESSAGE_MAX - 1, 'x'));
  EXPECT_EQ(LogSetDevice(LOG_DEVICE_CALLBACK, nullptr), LOG_DEVICE_NONE);
  EXPECT_EQ(LogSetDevice(LOG_DEVICE_NONE, nullptr), LOG_DEVICE_STDERR) << "no callback: standard error";
}

TEST(Log, LevelIsClampedAndStartsFromTheEnvironment) {
  for (auto [text, level] : {std::pair{"12", 12}, {"loud", LOG_DEFAULT_LEVEL}, {"30", 20}}) {
    setenv("SICVM_LOG_LEVEL", text, 1);
    LogInit(20, LOG_DEVICE_NONE);
    EXPECT_EQ(LogGetLevel(), level) << text;
  }
  unsetenv("SICVM_LOG_LEVEL");
  LogInit(100, LOG_DEVICE_NONE);
  EXPECT_EQ(LogGetLevel(), LOG_DEFAULT_LEVEL);
  LogSetLevel(-3);
  EXPECT_EQ(LogGetLevel(), 0);
}

TEST(Sys, ErrorNumberIsPerThreadAndTheManualClockWraps) {
  _winseterrno(7);
  int other = -1;
  std::thread([&] { other = _wingeterrno(); _winseterrno(9); }).join();
  EXPECT_EQ(other, 0);
  EXPECT_EQ(_wingeterrno(), 7);
  SysSetManualClock(0xFFFFFFF0u);
  SysAdvanceManualClock(0x20);
  EXPECT_EQ(SysGetClockCounter(), 0x10u);
  SysUseRealClock();
}

TEST(Numbers, RoundingFamiliesAndZeroTolerance) {
  struct Case { double x, round, trunc, frac, bankers; } cases[] = {
      {2.5, 3, 2, 0.5, 2},
      {-2.5, -3, -2, -0.5, -2},
      {3.5, 4, 3, 0.5, 4},
      {-2.7, -3, -2, -0.7, -3},
      {0.49999999999999994, 0, 0, 0.49999999999999994, 0},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(fround(c.x), c.round) << c.x;
    EXPECT_EQ(ftrunc(c.x), c.trunc) << c.x;
    EXPECT_NEAR(ffrac(c.x), c.frac, 1e-15) << c.x;
    EXPECT_EQ(roundb(c.x), c.bankers) << c.x;
  }
  EXPECT_TRUE(std::signbit(ffrac(-INFINITY)) && ffrac(-INFINITY) == 0.0);
  const double t = HOSTRT_ZERO_TOLERANCE;
  for (double zero : {-0.0, t * 0.999, -t * 0.999, 4.9e-324}) EXPECT_TRUE(fiszero(zero)) << zero;
  for (double other : {t, -t, double(NAN), double(INFINITY)}) EXPECT_FALSE(fiszero(other)) << other;
}

}  // namespace
