// SPDX-License-Identifier: MIT
// libFuzzer target for the Modbus server's request check: the input's first
// byte chooses the mode (bit 0: a read-only server; bit 1: the rest is a map
// file instead of a frame), the rest is a request frame as it came off a
// connection, checked against a map of every table and type, or map text
// read against the same points. Every SERVE verdict is then held to what
// the server relies on before libmodbus answers: the range lies in the map
// and each write names a mapped point.
// Build with the preset `fuzz`; run ./build-fuzz/tests/fuzz/fuzz_modbus_request.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "modbus_request.h"

using namespace sicvm::modbus;

namespace {

constexpr const char *kPoints =
    "index,id,type,mode,value,status,name\n"
    "1,10,LREAL,0,0,0,LEVEL\n"
    "2,20,BOOL,0,0,0,PUMP\n"
    "3,30,INT,0,0,0,COUNT\n"
    "4,40,DINT,0,0,0,TOTAL\n"
    "5,50,REAL,0,0,0,RATE\n";

constexpr const char *kMap =
    "point,table,address,type,access,word_order\n"
    "PUMP,coil,0,bool,rw\nPUMP,coil,1,bool,ro\nPUMP,coil,9,bool,rw\nPUMP,coil,65535,bool,rw\n"
    "PUMP,discrete,0,bool,ro\n"
    "LEVEL,input,0,float64,ro\nCOUNT,input,4,int16,ro\n"
    "COUNT,holding,0,int16,rw\nTOTAL,holding,1,int32,rw\nTOTAL,holding,3,uint32,rw,swapped\n"
    "RATE,holding,5,float32,rw\nLEVEL,holding,7,float64,rw,swapped\nPUMP,holding,11,uint16,rw\n"
    "LEVEL,holding,12,int16,ro\nLEVEL,holding,65532,float64,rw\n";

struct Fixture {
  PointDb *points = nullptr;
  ModbusMap map;
  Fixture() {
    char error[256];
    points = PointDbLoadText("points.csv", kPoints, uint32_t(strlen(kPoints)), nullptr, error, sizeof error);
    std::string errors;
    if (!points || !ModbusMap::parse("map.csv", kMap, points, map, errors)) std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static Fixture f;
  if (size < 1) return 0;
  uint8_t mode = data[0];
  ++data, --size;
  if (mode & 2) {
    ModbusMap map;
    std::string errors;
    ModbusMap::parse("fuzz.csv", std::string(reinterpret_cast<const char *>(data), size), f.points, map, errors);
    return 0;
  }
  // The server reads at most a frame, plus what an unserved function announces.
  uint8_t frame[kMaxFrameSize];
  size_t length = size < kMaxFrameSize ? size : kMaxFrameSize;
  memcpy(frame, data, length);
  if (unreadBytes(frame, length) + length > kMaxFrameSize) std::abort();
  CheckedRequest checked;
  checkRequest(f.map, frame, length, mode & 1, checked);
  if (checked.verdict != Verdict::SERVE) {
    if (!checked.writes.empty()) std::abort();
    return 0;
  }
  for (uint32_t at = checked.address; at < uint32_t(checked.address) + checked.count; ++at)
    if (f.map.find(checked.table, at) < 0) std::abort();
  for (const PointWrite &w : checked.writes)
    if (w.pointIndex < 1 || w.pointIndex >= PointDbCount(f.points) || (mode & 1)) std::abort();
  return 0;
}
