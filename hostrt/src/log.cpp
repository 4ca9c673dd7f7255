// SPDX-License-Identifier: MIT
// Host log: level filter, output devices and the per-thread context name.
#include "hostrt/log.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

#include "hostrt/sys.h"

namespace {

std::atomic<int> g_level{LOG_DEFAULT_LEVEL};
std::atomic<int> g_maxLevel{100};
std::atomic<int> g_device{LOG_DEVICE_STDERR};
std::atomic<LogProc> g_proc{nullptr};
thread_local char t_context[32];

int levelFromEnvironment() {
  const char *text = std::getenv("SICVM_LOG_LEVEL");
  if (text == nullptr || *text == '\0') return LOG_DEFAULT_LEVEL;
  char *end = nullptr;
  errno = 0;
  long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 0 || value > 1000) return LOG_DEFAULT_LEVEL;
  return static_cast<int>(value);
}

int clampLevel(int level) {
  int cap = g_maxLevel.load(std::memory_order_relaxed);
  if (level < 0) return 0;
  return level > cap ? cap : level;
}

// One write() per message keeps lines from different threads apart.
void writeAll(const char *text, size_t length) {
  while (length > 0) {
    ssize_t n = ::write(STDERR_FILENO, text, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    text += n;
    length -= static_cast<size_t>(n);
  }
}

void emitPrefixed(int level, const char *text, size_t length) {
  char line[LOG_MESSAGE_MAX + 96];
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  localtime_r(&now.tv_sec, &parts);
  int head = std::snprintf(line, sizeof line, "%04d-%02d-%02d %02d:%02d:%02d.%03ld [%d]%s%s ",
                           parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                           parts.tm_min, parts.tm_sec, now.tv_nsec / 1000000L, level,
                           t_context[0] != '\0' ? " " : "", t_context);
  size_t used = head > 0 ? static_cast<size_t>(head) : 0;
  size_t room = sizeof line - used - 2;
  if (length > room) length = room;
  std::memcpy(line + used, text, length);
  used += length;
  if (used == 0 || line[used - 1] != '\n') line[used++] = '\n';
  writeAll(line, used);
}

}  // namespace

extern "C" {

int LogInit(int maxLevel, int device) {
  g_maxLevel.store(maxLevel < 0 ? 0 : maxLevel, std::memory_order_relaxed);
  g_level.store(clampLevel(levelFromEnvironment()), std::memory_order_relaxed);
  if (device == LOG_DEVICE_NONE || device == LOG_DEVICE_STDERR_RAW || device == LOG_DEVICE_STDERR)
    g_device.store(device, std::memory_order_relaxed);
  return 0;
}

int LogDone(void) {
  g_device.store(LOG_DEVICE_NONE, std::memory_order_relaxed);
  g_proc.store(nullptr, std::memory_order_relaxed);
  return 0;
}

int LogGetLevel(void) { return g_level.load(std::memory_order_relaxed); }

int LogSetLevel(int level) {
  return g_level.exchange(clampLevel(level), std::memory_order_relaxed);
}

int LogSetDevice(int device, LogProc proc) {
  switch (device) {
    case LOG_DEVICE_NONE:
    case LOG_DEVICE_STDERR_RAW:
    case LOG_DEVICE_STDERR:
      return g_device.exchange(device);
    case LOG_DEVICE_CALLBACK:
      if (proc == nullptr) return g_device.exchange(LOG_DEVICE_STDERR);
      g_proc.store(proc);
      return g_device.exchange(LOG_DEVICE_CALLBACK);
    default:
      _winseterrno(22);
      return -1;
  }
}

int LogSetContext(const char *name) {
  if (name == nullptr) {
    t_context[0] = '\0';
  } else {
    std::strncpy(t_context, name, sizeof t_context - 1);
    t_context[sizeof t_context - 1] = '\0';
  }
  return 0;
}

int LogPrintf(int level, const char *format, ...) {
  if (level > g_level.load(std::memory_order_relaxed)) return 0;
  int device = g_device.load(std::memory_order_acquire);
  if (device == LOG_DEVICE_NONE) return 0;
  char text[LOG_MESSAGE_MAX];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return 0;
  size_t length = static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
  switch (device) {
    case LOG_DEVICE_STDERR_RAW:
      writeAll(text, length);
      break;
    case LOG_DEVICE_STDERR:
      emitPrefixed(level, text, length);
      break;
    case LOG_DEVICE_CALLBACK: {
      LogProc proc = g_proc.load(std::memory_order_acquire);
      if (proc != nullptr) proc(level, text);
      break;
    }
    default:
      return 0;
  }
  return static_cast<int>(length);
}

}  // extern "C"
