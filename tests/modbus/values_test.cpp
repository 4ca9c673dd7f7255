// SPDX-License-Identifier: MIT
// Point values as registers. The expected words of the floating-point rows
// are the published IEEE 754 encodings of those numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "modbus_values.h"

namespace sicvm::modbus {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Case {
  double value;
  ValueType type;
  bool swapped;
  std::vector<uint16_t> words;  // in address order
  double readBack;              // what the words decode to
};

const Case kCases[] = {
    {2.5, ValueType::INT16, false, {3}, 3},                 // halves away from zero
    {-2.5, ValueType::INT16, false, {0xFFFD}, -3},
    {2.4999, ValueType::INT16, false, {2}, 2},
    {40000, ValueType::INT16, false, {0x7FFF}, 32767},      // saturated, not wrapped
    {-1e300, ValueType::INT16, false, {0x8000}, -32768},
    {kNaN, ValueType::INT16, false, {0}, 0},
    {-1, ValueType::UINT16, false, {0}, 0},
    {65535.4, ValueType::UINT16, false, {0xFFFF}, 65535},
    {kInf, ValueType::UINT16, false, {0xFFFF}, 65535},
    {-123456, ValueType::INT32, false, {0xFFFE, 0x1DC0}, -123456},
    {-123456, ValueType::INT32, true, {0x1DC0, 0xFFFE}, -123456},
    {3e9, ValueType::INT32, false, {0x7FFF, 0xFFFF}, 2147483647},
    {-kInf, ValueType::INT32, false, {0x8000, 0x0000}, -2147483648.0},
    {3e9, ValueType::UINT32, false, {0xB2D0, 0x5E00}, 3e9},
    {5e9, ValueType::UINT32, false, {0xFFFF, 0xFFFF}, 4294967295.0},
    {-0.4, ValueType::UINT32, false, {0, 0}, 0},
    {1.0, ValueType::FLOAT32, false, {0x3F80, 0x0000}, 1.0},
    {-2.5, ValueType::FLOAT32, false, {0xC020, 0x0000}, -2.5},
    {0.1, ValueType::FLOAT32, false, {0x3DCC, 0xCCCD}, double(0.1f)},
    {0.1, ValueType::FLOAT32, true, {0xCCCD, 0x3DCC}, double(0.1f)},
    {1e39, ValueType::FLOAT32, false, {0x7F80, 0x0000}, kInf},  // past single range
    {1.0, ValueType::FLOAT64, false, {0x3FF0, 0, 0, 0}, 1.0},
    {0.1, ValueType::FLOAT64, false, {0x3FB9, 0x9999, 0x9999, 0x999A}, 0.1},
    {0.1, ValueType::FLOAT64, true, {0x999A, 0x9999, 0x9999, 0x3FB9}, 0.1},
    {-kInf, ValueType::FLOAT64, false, {0xFFF0, 0, 0, 0}, -kInf},
    {0.5, ValueType::BOOL, false, {1}, 1},
    {kNaN, ValueType::BOOL, false, {0}, 0},
    {-0.0, ValueType::BOOL, false, {0}, 0},
};

TEST(ModbusValues, EncodesSaturatesAndDecodesEachType) {
  for (const Case &c : kCases) {
    SCOPED_TRACE(testing::Message() << c.value << " as type " << int(c.type) << (c.swapped ? " swapped" : ""));
    ASSERT_EQ(c.words.size(), size_t(widthOf(c.type)));
    std::vector<uint16_t> words(c.words.size(), 0xAAAA);
    encodeWords(c.value, c.type, c.swapped, words.data());
    EXPECT_EQ(words, c.words);
    EXPECT_EQ(decodeWords(c.words.data(), c.type, c.swapped), c.readBack);
  }
  EXPECT_EQ(encodeBit(-3), 1);
  EXPECT_EQ(encodeBit(0), 0);
  EXPECT_EQ(encodeBit(kNaN), 0);
  uint16_t nan[2] = {0x7FC0, 0};
  EXPECT_TRUE(std::isnan(decodeWords(nan, ValueType::FLOAT32, false)));
}

}  // namespace
}  // namespace sicvm::modbus
