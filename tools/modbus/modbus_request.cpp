// SPDX-License-Identifier: MIT
#include "modbus_request.h"

#include "hostrt/points.h"
#include "modbus_values.h"

namespace sicvm::modbus {
namespace {

enum : uint8_t {
  READ_COILS = 1,
  READ_DISCRETE = 2,
  READ_HOLDING = 3,
  READ_INPUT = 4,
  WRITE_COIL = 5,
  WRITE_REGISTER = 6,
  WRITE_COILS = 15,
  WRITE_REGISTERS = 16
};

enum : uint8_t { ILLEGAL_FUNCTION = 1, ILLEGAL_ADDRESS = 2, ILLEGAL_VALUE = 3 };

struct FunctionRow {
  uint8_t code;
  Table table;
  bool write;
  uint16_t maxCount;  // 1 for the single writes
};
constexpr FunctionRow kFunctions[] = {
    {READ_COILS, Table::COIL, false, 2000},     {READ_DISCRETE, Table::DISCRETE, false, 2000},
    {READ_HOLDING, Table::HOLDING, false, 125}, {READ_INPUT, Table::INPUT, false, 125},
    {WRITE_COIL, Table::COIL, true, 1},         {WRITE_REGISTER, Table::HOLDING, true, 1},
    {WRITE_COILS, Table::COIL, true, 1968},     {WRITE_REGISTERS, Table::HOLDING, true, 123}};

const FunctionRow *functionRow(uint8_t code) {
  for (const FunctionRow &row : kFunctions)
    if (row.code == code) return &row;
  return nullptr;
}

uint16_t word(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }

// Whether the header's length field agrees with the frame's size.
bool framed(const uint8_t *frame, size_t length) {
  return length > kHeaderSize && length <= kMaxFrameSize && word(frame + 2) == 0 &&
         size_t(word(frame + 4)) == length - 6;
}

}  // namespace

size_t unreadBytes(const uint8_t *frame, size_t length) {
  if (length <= kHeaderSize || functionRow(frame[kHeaderSize])) return 0;
  size_t whole = 6 + size_t(word(frame + 4));
  return whole > length && whole <= kMaxFrameSize ? whole - length : 0;
}

void checkRequest(const ModbusMap &map, const uint8_t *frame, size_t length, bool readOnly, CheckedRequest &out) {
  out.writes.clear();
  out.exception = 0;
  out.verdict = Verdict::DROP;
  if (!framed(frame, length)) return;
  const uint8_t *pdu = frame + kHeaderSize;
  size_t pduLength = length - kHeaderSize;
  out.function = pdu[0];
  auto refuse = [&out](uint8_t code) {
    out.verdict = Verdict::EXCEPTION;
    out.exception = code;
  };

  const FunctionRow *f = functionRow(pdu[0]);
  if (!f) return refuse(ILLEGAL_FUNCTION);
  bool single = f->maxCount == 1;
  bool multipleWrite = f->write && !single;
  // Function code, address and count or value; the multiple writes add a
  // byte count and their data.
  if (pduLength < 5 || (!multipleWrite && pduLength != 5) || (multipleWrite && pduLength != 6u + pdu[5])) return;
  if (f->write && readOnly) return refuse(ILLEGAL_FUNCTION);

  uint32_t address = word(pdu + 1);
  uint32_t count = single ? 1 : word(pdu + 3);
  if (count < 1 || count > f->maxCount) return refuse(ILLEGAL_VALUE);
  if (f->code == WRITE_COIL && word(pdu + 3) != 0xFF00 && word(pdu + 3) != 0x0000) return refuse(ILLEGAL_VALUE);
  bool bits = f->table == Table::COIL || f->table == Table::DISCRETE;
  if (multipleWrite && pdu[5] != (bits ? (count + 7) / 8 : 2 * count)) return refuse(ILLEGAL_VALUE);
  out.table = f->table;
  out.address = uint16_t(address);
  out.count = uint16_t(count);

  // Every address of the range covered; a write only of writable mappings,
  // each whole.
  uint32_t end = address + count;
  for (uint32_t at = address; at < end;) {
    int32_t i = map.find(f->table, at);
    if (i < 0) return refuse(ILLEGAL_ADDRESS);
    const Mapping &m = map.mappings()[i];
    if (f->write && (!m.writable || m.address < at || m.end() > end)) return refuse(ILLEGAL_ADDRESS);
    at = m.end();
  }

  if (f->write) {
    const uint8_t *data = f->code == WRITE_COIL || f->code == WRITE_REGISTER ? pdu + 3 : pdu + 6;
    for (uint32_t at = address; at < end;) {
      const Mapping &m = map.mappings()[map.find(f->table, at)];
      uint32_t offset = at - address;
      double value;
      if (f->code == WRITE_COIL) {
        value = data[0] == 0xFF ? 1.0 : 0.0;
      } else if (bits) {
        value = (data[offset / 8] >> (offset % 8)) & 1 ? 1.0 : 0.0;
      } else {
        uint16_t words[4];
        for (int k = 0; k < widthOf(m.type); ++k) words[k] = word(data + 2 * (offset + uint32_t(k)));
        value = decodeWords(words, m.type, m.swapped);
      }
      char reason[128];
      if (PointDbFitValue(m.pointType, &value, reason, sizeof reason) != 0) {
        out.writes.clear();
        return refuse(ILLEGAL_VALUE);
      }
      out.writes.push_back({m.pointIndex, value});
      at = m.end();
    }
  }
  out.verdict = Verdict::SERVE;
}

}  // namespace sicvm::modbus
