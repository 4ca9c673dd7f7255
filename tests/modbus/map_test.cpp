// SPDX-License-Identifier: MIT
// The Modbus map reader: what it accepts, and that each bad line is refused
// with its line number and reason.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "modbus_map.h"

namespace sicvm::modbus {
namespace {

// Points 1..4; index 5 is deleted (no row); ID 30 is carried by 3 and 4.
constexpr const char *kPoints =
    "index,id,type,mode,value,status,name\n"
    "1,10,LREAL,0,1.5,0,LEVEL\n"
    "2,20,BOOL,0,0,0,PUMP\n"
    "3,30,INT,0,7,0,COUNT\n"
    "4,30,DINT,0,8,0,COPY\n"
    "6,60,REAL,0,2,0,LAST\n";

struct PointsDeleter {
  void operator()(PointDb *db) const { PointDbClose(db); }
};

std::unique_ptr<PointDb, PointsDeleter> points() {
  char error[512];
  PointDb *db = PointDbLoadText("points.csv", kPoints, uint32_t(strlen(kPoints)), nullptr, error, sizeof error);
  EXPECT_NE(db, nullptr) << error;
  return std::unique_ptr<PointDb, PointsDeleter>(db);
}

TEST(ModbusMap, ReadsPointsByNameOrIdAndEveryColumn) {
  auto db = points();
  ModbusMap map;
  std::string errors;
  ASSERT_TRUE(ModbusMap::parse("map.csv",
                               "# plant map\n"
                               "Point, Table, Address, Type, Access, Word_Order\n"
                               "\n"
                               "LEVEL,input,0,float64,ro,swapped   # trailing comment\n"
                               "30,holding,10,int32,rw\n"
                               "PUMP,coil,65535,bool,RW,\n"
                               "10,holding,12,float32,rw,normal\n",
                               db.get(), map, errors))
      << errors;
  ASSERT_EQ(map.mappings().size(), 4u);
  const Mapping &level = map.mappings()[0], &count = map.mappings()[1], &pump = map.mappings()[2];
  EXPECT_EQ(level.pointIndex, 1);
  EXPECT_EQ(level.line, 4);
  EXPECT_TRUE(level.swapped);
  EXPECT_FALSE(level.writable);
  EXPECT_EQ(level.end(), 4u);
  EXPECT_EQ(count.pointIndex, 3);  // the lower of the two records of ID 30
  EXPECT_EQ(count.pointType, POINT_TYPE_INT);
  EXPECT_TRUE(count.writable);
  EXPECT_EQ(pump.address, 65535);
  EXPECT_EQ(map.extent(Table::COIL), 65536u);
  EXPECT_EQ(map.extent(Table::HOLDING), 14u);
  // Lookup by address: inside a value, in the gap between two, past the end.
  EXPECT_EQ(map.find(Table::INPUT, 3), 0);
  EXPECT_EQ(map.find(Table::HOLDING, 11), 1);
  EXPECT_EQ(map.find(Table::HOLDING, 13), 3);
  EXPECT_EQ(map.find(Table::HOLDING, 9), -1);
  EXPECT_EQ(map.find(Table::HOLDING, 14), -1);
  EXPECT_EQ(map.find(Table::DISCRETE, 0), -1);
}

TEST(ModbusMap, RefusesEachBadLineWithItsNumberAndReason) {
  struct Case {
    const char *lines;  // after a five-column header on line 1
    const char *error;
  } cases[] = {
      {"NOPE,holding,0,int16,ro", "map.csv:2: no point 'NOPE' in the points file"},
      {"50,holding,0,int16,ro", "map.csv:2: no point '50'"},
      {"5,holding,0,int16,ro", "map.csv:2: no point '5'"},  // index 5 is deleted and ID 5 unknown
      {",holding,0,int16,ro", "map.csv:2: no point given"},
      {"LEVEL,register,0,int16,ro", "map.csv:2: unknown table 'register'"},
      {"LEVEL,holding,65536,int16,ro", "address '65536' is not a number from 0 to 65535"},
      {"LEVEL,holding,-1,int16,ro", "address '-1'"},
      {"LEVEL,holding,0x10,int16,ro", "address '0x10'"},
      {"LEVEL,holding,65535,int32,ro", "map.csv:2: int32 at address 65535 runs past address 65535"},
      {"LEVEL,holding,65533,float64,ro", "float64 at address 65533 runs past"},
      {"LEVEL,holding,0,bool,ro", "type bool does not fit a holding"},
      {"PUMP,coil,0,int16,ro", "type int16 does not fit a coil"},
      {"LEVEL,input,0,int64,ro", "unknown type 'int64'"},
      {"LEVEL,input,0,int16,rw", "input registers are read-only: access must be ro"},
      {"PUMP,discrete,0,bool,rw", "discrete inputs are read-only"},
      {"LEVEL,holding,0,int16,w", "access 'w' is neither ro nor rw"},
      {"LEVEL,holding,0,int16", "map.csv:2: expected 5 fields, found 4"},
      {"LEVEL,holding,0,int16,ro,swapped", "expected 5 fields, found 6"},  // no word_order column
      {"LEVEL,holding,0,float32,ro\nCOUNT,holding,1,int16,rw", "map.csv:3: holding address 1 is already taken by line 2"},
      {"LEVEL,holding,0,float64,ro\nCOUNT,holding,1,int16,rw\nPUMP,holding,2,int16,rw",
       "map.csv:4: holding address 2 is already taken by line 2"},
  };
  auto db = points();
  for (const Case &c : cases) {
    ModbusMap map;
    std::string errors;
    std::string text = std::string("point,table,address,type,access\n") + c.lines + "\n";
    EXPECT_FALSE(ModbusMap::parse("map.csv", text, db.get(), map, errors)) << c.lines;
    EXPECT_NE(errors.find(c.error), std::string::npos) << c.lines << "\n  gave: " << errors;
    EXPECT_TRUE(map.mappings().empty());
  }
}

TEST(ModbusMap, RefusesHeadersWordOrdersAndListsEveryFault) {
  auto db = points();
  std::string errors;
  ModbusMap map;
  EXPECT_FALSE(ModbusMap::parse("m.csv", "point,table,address,type\nLEVEL,input,0,int16\n", db.get(), map, errors));
  EXPECT_NE(errors.find("m.csv:1: expected the header point,table,address,type,access"), std::string::npos);
  EXPECT_FALSE(ModbusMap::parse("m.csv", "# only a comment\n", db.get(), map, errors));
  EXPECT_NE(errors.find("m.csv:1: no header line"), std::string::npos);
  const char *orders =
      "point,table,address,type,access,word_order\n"
      "LEVEL,holding,0,float32,ro,backwards\n"
      "COUNT,holding,4,int16,ro,swapped\n";
  EXPECT_FALSE(ModbusMap::parse("m.csv", orders, db.get(), map, errors));
  EXPECT_NE(errors.find("m.csv:2: word order 'backwards' is neither normal nor swapped"), std::string::npos);
  EXPECT_NE(errors.find("m.csv:3: word order applies to 32- and 64-bit types only"), std::string::npos);
  // 25 bad lines: 20 listed, the rest counted.
  std::string many = "point,table,address,type,access\n";
  for (int i = 0; i < 25; ++i) many += "NOPE,holding," + std::to_string(i) + ",int16,ro\n";
  EXPECT_FALSE(ModbusMap::parse("m.csv", many, db.get(), map, errors));
  EXPECT_NE(errors.find("m.csv:21: no point"), std::string::npos);
  EXPECT_EQ(errors.find("m.csv:22: no point"), std::string::npos);
  EXPECT_NE(errors.find("m.csv: 5 more errors"), std::string::npos);
  EXPECT_FALSE(ModbusMap::load("/nonexistent/map.csv", db.get(), map, errors));
  EXPECT_EQ(errors, "/nonexistent/map.csv: cannot read the Modbus map");
}

}  // namespace
}  // namespace sicvm::modbus
