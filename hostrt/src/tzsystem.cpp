// SPDX-License-Identifier: MIT
// The system's time zone: the TZ environment variable or a TZif zone file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "hostrt/datetime.h"
#include "hostrt/sys.h"
#include "tzrule.h"

namespace {

constexpr const char *kSystemZoneFile = "/etc/localtime";
constexpr const char *kDefaultZoneDir = "/usr/share/zoneinfo";
// Real zone files are a few kilobytes; anything far larger is not one.
constexpr size_t kMaxZoneFileSize = 1u << 20;

bool readFile(const std::string &path, std::string &data) {
  FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  data.clear();
  char chunk[4096];
  size_t n = 0;
  bool ok = true;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    data.append(chunk, n);
    if (data.size() > kMaxZoneFileSize) {
      ok = false;
      break;
    }
  }
  if (std::ferror(file)) ok = false;
  std::fclose(file);
  return ok;
}

uint64_t bigEndian32(const std::string &data, size_t at) {
  uint64_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<unsigned char>(data[at + i]);
  return value;
}

// Size of a TZif data block that follows a 44-byte header at `at`, for
// transition times of timeSize bytes; 0 when the header is not there.
uint64_t tzifBlockSize(const std::string &data, size_t at, uint64_t timeSize) {
  constexpr size_t kHeaderSize = 44;
  if (data.size() < at + kHeaderSize || data.compare(at, 4, "TZif") != 0) return 0;
  const uint64_t isUtcCount = bigEndian32(data, at + 20);
  const uint64_t isStdCount = bigEndian32(data, at + 24);
  const uint64_t leapCount = bigEndian32(data, at + 28);
  const uint64_t timeCount = bigEndian32(data, at + 32);
  const uint64_t typeCount = bigEndian32(data, at + 36);
  const uint64_t charCount = bigEndian32(data, at + 40);
  // Each count is below 2^32, so the sum cannot overflow 64 bits.
  return kHeaderSize + timeCount * (timeSize + 1) + typeCount * 6 + charCount +
         leapCount * (timeSize + 4) + isStdCount + isUtcCount;
}

// The footer rule of a TZif file of version 2 or later: the text between the
// two newlines after the 64-bit data block.
bool tzifFooter(const std::string &data, std::string &footer) {
  if (data.size() < 5 || data.compare(0, 4, "TZif") != 0 || data[4] < '2') return false;
  const uint64_t first = tzifBlockSize(data, 0, 4);
  if (first == 0 || first > data.size()) return false;
  const uint64_t second = tzifBlockSize(data, first, 8);
  if (second == 0 || first + second >= data.size()) return false;
  const size_t start = first + second;
  if (data[start] != '\n') return false;
  const size_t end = data.find('\n', start + 1);
  if (end == std::string::npos) return false;
  footer.assign(data, start + 1, end - start - 1);
  return true;
}

bool zoneFromFile(const std::string &path, TzZoneRecord &zone) {
  std::string data;
  std::string footer;
  if (!readFile(path, data) || !tzifFooter(data, footer) || footer.empty()) return false;
  return hostrt::detail::parseTzRule(footer.c_str(), zone);
}

bool isUtcName(const char *name) {
  for (const char *utc : {"UTC", "GMT", "Etc/UTC", "Etc/GMT"})
    if (std::strcmp(name, utc) == 0) return true;
  return false;
}

bool zoneFromTzValue(const char *value, TzZoneRecord &zone) {
  if (*value == ':') ++value;
  if (*value == '\0' || isUtcName(value)) return true;  // zone is already zeroed: UTC
  if (hostrt::detail::parseTzRule(value, zone)) return true;
  if (*value == '/') return zoneFromFile(value, zone);
  if (std::strstr(value, "..") != nullptr) return false;
  const char *dir = std::getenv("TZDIR");
  std::string path = dir != nullptr && *dir != '\0' ? dir : kDefaultZoneDir;
  path += '/';
  path += value;
  return zoneFromFile(path, zone);
}

// Fills zone from a TZ value (or, with none, from the system zone file).
int32_t loadZone(const char *tz, TzZoneRecord *zone) {
  if (zone == nullptr) {
    _winseterrno(22);
    return -1;
  }
  std::memset(zone, 0, sizeof *zone);
  bool ok = false;
  try {
    ok = tz != nullptr ? zoneFromTzValue(tz, *zone) : zoneFromFile(kSystemZoneFile, *zone);
  } catch (const std::bad_alloc &) {
    ok = false;
  }
  if (!ok) {
    std::memset(zone, 0, sizeof *zone);
    _winseterrno(22);
    return -1;
  }
  return 0;
}

}  // namespace

extern "C" {

int32_t TzGetSystemTimeZone(TzZoneRecord *zone) { return loadZone(std::getenv("TZ"), zone); }

int32_t TzLoadTimeZone(const char *text, TzZoneRecord *zone) {
  if (text == nullptr) {
    if (zone != nullptr) std::memset(zone, 0, sizeof *zone);
    _winseterrno(22);
    return -1;
  }
  return loadZone(text, zone);
}

}  // extern "C"
