// SPDX-License-Identifier: MIT
// The request check: every frame a client may send gets the verdict and
// exception code that a Modbus server owes it, and a write yields the point
// values it sets.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "modbus_request.h"

namespace sicvm::modbus {
namespace {

constexpr const char *kPoints =
    "index,id,type,mode,value,status,name\n"
    "1,10,LREAL,0,0,0,LEVEL\n"
    "2,20,BOOL,0,0,0,PUMP\n"
    "3,30,INT,0,0,0,COUNT\n";

constexpr const char *kMap =
    "point,table,address,type,access,word_order\n"
    "PUMP,coil,0,bool,rw\n"
    "PUMP,coil,1,bool,ro\n"
    "PUMP,coil,5,bool,rw\n"
    "PUMP,discrete,0,bool,ro\n"
    "LEVEL,input,0,float32,ro\n"
    "COUNT,holding,0,int16,rw\n"
    "LEVEL,holding,1,float32,rw\n"
    "LEVEL,holding,4,int16,ro\n"
    "LEVEL,holding,10,float64,rw,swapped\n"
    "PUMP,holding,20,int16,rw\n";

std::vector<uint8_t> frame(std::vector<uint8_t> pdu, int lengthError = 0, uint8_t protocol = 0) {
  size_t length = pdu.size() + 1 + size_t(lengthError);
  std::vector<uint8_t> header = {0x12, 0x34, 0, protocol, uint8_t(length >> 8), uint8_t(length), 0xF7};
  pdu.insert(pdu.begin(), header.begin(), header.end());
  return pdu;
}

class ModbusRequest : public testing::Test {
 protected:
  void SetUp() override {
    char error[512];
    db_ = PointDbLoadText("points.csv", kPoints, uint32_t(strlen(kPoints)), nullptr, error, sizeof error);
    ASSERT_NE(db_, nullptr) << error;
    std::string errors;
    ASSERT_TRUE(ModbusMap::parse("map.csv", kMap, db_, map_, errors)) << errors;
  }
  void TearDown() override { PointDbClose(db_); }

  CheckedRequest check(const std::vector<uint8_t> &f, bool readOnly = false) {
    CheckedRequest out;
    checkRequest(map_, f.data(), f.size(), readOnly, out);
    return out;
  }

  PointDb *db_ = nullptr;
  ModbusMap map_;
};

constexpr uint8_t SERVE = 0, DROP = 0xFF;  // else the exception code

TEST_F(ModbusRequest, GivesEachFrameItsVerdict) {
  struct Case {
    const char *what;
    std::vector<uint8_t> frame;
    uint8_t expected;
  } cases[] = {
      {"header only", {0x12, 0x34, 0, 0, 0, 1, 0xF7}, DROP},
      {"protocol 1", frame({3, 0, 0, 0, 1}, 0, 1), DROP},
      {"length field one too long", frame({3, 0, 0, 0, 1}, 1), DROP},
      {"length field one too short", frame({3, 0, 0, 0, 1}, -1), DROP},
      {"read without its count", frame({3, 0, 0, 0}), DROP},
      {"read with a byte too many", frame({3, 0, 0, 0, 1, 0}), DROP},
      {"write multiple without data", frame({16, 0, 0, 0, 1, 2}), DROP},
      {"unknown function", frame({0x2B, 0x0E, 1, 0}), 1},
      {"exception flag as function", frame({0x83, 0, 0, 0, 1}), 1},
      {"read/write registers (not served)", frame({0x17, 0, 0, 0, 1, 0, 0, 0, 1, 2, 0, 0}), 1},
      {"read 0 registers", frame({3, 0, 0, 0, 0}), 3},
      {"read 126 registers", frame({3, 0, 0, 0, 126}), 3},
      {"read 125 registers over gaps", frame({3, 0, 0, 0, 125}), 2},
      {"read holding 0..2", frame({3, 0, 0, 0, 3}), SERVE},
      {"read holding 0..3 (3 unmapped)", frame({3, 0, 0, 0, 4}), 2},
      {"read the low word of a float32", frame({3, 0, 2, 0, 1}), SERVE},
      {"read unmapped holding 9", frame({3, 0, 9, 0, 1}), 2},
      {"read input 0..1", frame({4, 0, 0, 0, 2}), SERVE},
      {"read input past 65535", frame({4, 0xFF, 0xFF, 0, 2}), 2},
      {"read coils 0..1", frame({1, 0, 0, 0, 2}), SERVE},
      {"read 2001 coils", frame({1, 0, 0, 0x07, 0xD1}), 3},
      {"read coils 0..2 (2 unmapped)", frame({1, 0, 0, 0, 3}), 2},
      {"read discrete 0", frame({2, 0, 0, 0, 1}), SERVE},
      {"read discrete 0 as a coil-less table", frame({2, 0, 1, 0, 1}), 2},
      {"write coil 0 on", frame({5, 0, 0, 0xFF, 0}), SERVE},
      {"write read-only coil 1", frame({5, 0, 1, 0xFF, 0}), 2},
      {"write coil with value 0x1234", frame({5, 0, 0, 0x12, 0x34}), 3},
      {"write unmapped coil 2", frame({5, 0, 2, 0, 0}), 2},
      {"write register 0", frame({6, 0, 0, 0xFF, 0xF9}), SERVE},
      {"write one word of a float32", frame({6, 0, 1, 0, 0}), 2},
      {"write read-only register 4", frame({6, 0, 4, 0, 1}), 2},
      {"write 2 to a BOOL point", frame({6, 0, 20, 0, 2}), 3},
      {"write float32 2.5 at 1", frame({16, 0, 1, 0, 2, 4, 0x40, 0x20, 0, 0}), SERVE},
      {"write float32 NaN", frame({16, 0, 1, 0, 2, 4, 0x7F, 0xC0, 0, 0}), 3},
      {"write from the middle of a float32", frame({16, 0, 2, 0, 2, 4, 0, 0, 0, 0}), 2},
      {"write half a float32", frame({16, 0, 1, 0, 1, 2, 0, 0}), 2},
      {"write registers, byte count 3 for 2", frame({16, 0, 1, 0, 2, 3, 0, 0, 0}), 3},
      {"write 124 registers", frame({16, 0, 0, 0, 124, 248}), DROP},  // 248 data bytes announced, none sent
      {"write coils 0 and 1 (1 read-only)", frame({15, 0, 0, 0, 2, 1, 3}), 2},
      {"write coil 5", frame({15, 0, 5, 0, 1, 1, 1}), SERVE},
      {"write coils, byte count 2 for 1", frame({15, 0, 5, 0, 1, 2, 1, 0}), 3},
  };
  for (const Case &c : cases) {
    CheckedRequest r = check(c.frame);
    uint8_t got = r.verdict == Verdict::SERVE ? SERVE : r.verdict == Verdict::DROP ? DROP : r.exception;
    EXPECT_EQ(int(got), int(c.expected)) << c.what;
    if (r.verdict != Verdict::SERVE) {
      EXPECT_TRUE(r.writes.empty()) << c.what;
    }
  }
  // 1969 coils, with the byte count of that many (247 bytes of data).
  std::vector<uint8_t> coils = {15, 0, 0, 0x07, 0xB1, 247};
  coils.resize(coils.size() + 247);
  EXPECT_EQ(check(frame(coils)).exception, 3);
}

TEST_F(ModbusRequest, WritesCarryThePointValuesInOrder) {
  CheckedRequest r = check(frame({16, 0, 0, 0, 3, 6, 0xFF, 0xF9, 0x40, 0x20, 0, 0}));
  ASSERT_EQ(r.verdict, Verdict::SERVE);
  ASSERT_EQ(r.writes.size(), 2u);
  EXPECT_EQ(r.writes[0].pointIndex, 3);
  EXPECT_EQ(r.writes[0].value, -7);
  EXPECT_EQ(r.writes[1].pointIndex, 1);
  EXPECT_EQ(r.writes[1].value, 2.5);
  // float64 swapped: the words of 0.1 (3FB9 9999 9999 999A) low word first.
  r = check(frame({16, 0, 10, 0, 4, 8, 0x99, 0x9A, 0x99, 0x99, 0x99, 0x99, 0x3F, 0xB9}));
  ASSERT_EQ(r.writes.size(), 1u);
  EXPECT_EQ(r.writes[0].value, 0.1);
  r = check(frame({15, 0, 5, 0, 1, 1, 0xFE}));  // bit 0 clear: off
  ASSERT_EQ(r.writes.size(), 1u);
  EXPECT_EQ(r.writes[0].value, 0.0);
  r = check(frame({5, 0, 0, 0xFF, 0}));
  ASSERT_EQ(r.writes.size(), 1u);
  EXPECT_EQ(r.writes[0].pointIndex, 2);
  EXPECT_EQ(r.writes[0].value, 1.0);
}

TEST_F(ModbusRequest, ReadOnlyRefusesEveryWriteFunction) {
  EXPECT_EQ(check(frame({3, 0, 0, 0, 3}), true).verdict, Verdict::SERVE);
  for (auto pdu : std::vector<std::vector<uint8_t>>{{5, 0, 0, 0xFF, 0},
                                                     {6, 0, 0, 0, 1},
                                                     {15, 0, 5, 0, 1, 1, 1},
                                                     {16, 0, 1, 0, 2, 4, 0, 0, 0, 0},
                                                     {6, 0, 9, 0, 1}}) {  // even an unmapped one
    CheckedRequest r = check(frame(pdu), true);
    EXPECT_EQ(r.verdict, Verdict::EXCEPTION);
    EXPECT_EQ(r.exception, 1);
  }
}

TEST_F(ModbusRequest, CountsTheBytesOfAFunctionItDoesNotServe) {
  // Of read device identification (0x2B, 4 bytes after the unit) a reader
  // that knows only the served functions takes the function code.
  std::vector<uint8_t> f = frame({0x2B, 0x0E, 1, 0});
  EXPECT_EQ(unreadBytes(f.data(), 8), 3u);
  EXPECT_EQ(unreadBytes(f.data(), f.size()), 0u);
  std::vector<uint8_t> read = frame({3, 0, 0, 0, 1}, 5);
  EXPECT_EQ(unreadBytes(read.data(), read.size()), 0u);  // a served function is read by its shape
  std::vector<uint8_t> huge = frame({0x2B}, 300);
  EXPECT_EQ(unreadBytes(huge.data(), huge.size()), 0u);  // more than a frame holds
}

}  // namespace
}  // namespace sicvm::modbus
