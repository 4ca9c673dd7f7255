// Host log devices, levels and the clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "hostrt/log.h"
#include "hostrt/sys.h"

namespace {

std::vector<std::pair<int, std::string>> g_seen;
void remember(int level, const char *text) { g_seen.emplace_back(level, text); }

TEST(Log, CallbackDeviceReceivesExactlyTheEmittedMessages) {
  g_seen.clear();
  int previousLevel = LogSetLevel(10);
  LogSetDevice(LOG_DEVICE_CALLBACK, remember);
  EXPECT_EQ(LogPrintf(10, "a %d %s", 1, "b"), 5);
  EXPECT_EQ(LogPrintf(11, "filtered\n"), 0);
  EXPECT_EQ(LogPrintf(4, "fatal\n"), 6);
  EXPECT_EQ(LogSetDevice(LOG_DEVICE_NONE, nullptr), LOG_DEVICE_CALLBACK);
  EXPECT_EQ(LogPrintf(4, "discarded\n"), 0);
  LogSetLevel(previousLevel);
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0], std::make_pair(10, std::string("a 1 b")));
  EXPECT_EQ(g_seen[1], std::make_pair(4, std::string("fatal\n")));
}

TEST(Log, UnknownDeviceIsRefusedAndNullCallbackFallsBackToStderr) {
  _winseterrno(0);
  EXPECT_EQ(LogSetDevice(5, nullptr), -1);
  EXPECT_EQ(_wingeterrno(), 22);
  LogSetDevice(LOG_DEVICE_CALLBACK, remember);
  EXPECT_EQ(LogSetDevice(LOG_DEVICE_CALLBACK, nullptr), LOG_DEVICE_CALLBACK);
  EXPECT_EQ(LogSetDevice(LOG_DEVICE_NONE, nullptr), LOG_DEVICE_STDERR);
}

TEST(Log, LevelIsClampedAndStartsFromTheEnvironment) {
  setenv("SICVM_LOG_LEVEL", "12", 1);
  LogInit(20, LOG_DEVICE_NONE);
  EXPECT_EQ(LogGetLevel(), 12);
  EXPECT_EQ(LogSetLevel(50), 12);
  EXPECT_EQ(LogGetLevel(), 20);
  EXPECT_EQ(LogSetLevel(-3), 20);
  EXPECT_EQ(LogGetLevel(), 0);
  setenv("SICVM_LOG_LEVEL", "loud", 1);
  LogInit(100, LOG_DEVICE_NONE);
  EXPECT_EQ(LogGetLevel(), LOG_DEFAULT_LEVEL);
  unsetenv("SICVM_LOG_LEVEL");
  LogInit(100, LOG_DEVICE_NONE);
  EXPECT_EQ(LogGetLevel(), LOG_DEFAULT_LEVEL);
  LogSetLevel(0);
}

TEST(Log, LongMessagesAreCutNotOverrun) {
  g_seen.clear();
  LogSetLevel(10);
  LogSetDevice(LOG_DEVICE_CALLBACK, remember);
  std::string big(5000, 'x');
  EXPECT_EQ(LogPrintf(10, "%s", big.c_str()), LOG_MESSAGE_MAX - 1);
  LogSetDevice(LOG_DEVICE_NONE, nullptr);
  LogSetLevel(0);
  ASSERT_EQ(g_seen.size(), 1u);
  EXPECT_EQ(g_seen[0].second.size(), size_t(LOG_MESSAGE_MAX - 1));
}

TEST(ErrorNumber, IsPerThread) {
  _winseterrno(7);
  int other = -1;
  std::thread([&] { other = _wingeterrno(); _winseterrno(9); }).join();
  EXPECT_EQ(other, 0);
  EXPECT_EQ(_wingeterrno(), 7);
}

TEST(Clock, ManualClockMovesOnlyWhenToldAndWraps) {
  SysSetManualClock(0xFFFFFFF0u);
  EXPECT_EQ(SysGetClockCounter(), 0xFFFFFFF0u);
  SysAdvanceManualClock(0x20);
  EXPECT_EQ(SysGetClockCounter(), 0x10u);
  SysUseRealClock();
  uint32_t a = SysGetClockCounter();
  uint32_t b = SysGetClockCounter();
  EXPECT_LE(uint32_t(b - a), 1000u);  // monotonic: never a step back (which would wrap to a huge distance)
}

}  // namespace
