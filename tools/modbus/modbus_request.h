// SPDX-License-Identifier: MIT
// The check every Modbus TCP request passes before the server answers it:
// the frame's header and length, the function, the count, the addresses
// against the map, and for writes the values against the points' types.
//
// A frame is one whole request as it came off the connection: the 7-byte
// MBAP header (transaction, protocol 0, length of what follows, unit) and
// the PDU (function code and data). Any unit is accepted.
//
// Verdicts, checked in this order:
//   DROP       the frame is not a request one can answer: shorter than a
//              header and a function code, longer than 260 bytes, protocol
//              not 0, or a length field or byte count that disagrees with
//              the bytes received. The connection is closed, since the
//              stream can no longer be framed.
//   EXCEPTION  1 illegal function: a function other than 1-6, 15 and 16,
//              or a write function when the server is read-only;
//              then 3 illegal data value: a count of 0 or over the
//              function's limit (2000 bits, 125 registers read; 1968 bits,
//              123 registers written), a byte count that does not match the
//              count, or a single-coil value other than 0x0000 and 0xFF00;
//              then 2 illegal data address: an address that no mapping of
//              the function's table covers anywhere in the range, a write
//              to a read-only mapping, or a write that covers only part of
//              a value of several registers;
//              last 3 again when a written value is one that the point's
//              type cannot hold (as `sicvm points set` refuses it: BOOL 0
//              or 1, DINT and INT whole numbers in range, REAL in single
//              range, all finite); nothing of such a request is written.
//   SERVE      the request may be answered as it stands; for writes,
//              `writes` holds the point values it sets, in request order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "modbus_map.h"

namespace sicvm::modbus {

inline constexpr size_t kHeaderSize = 7;      // MBAP header
inline constexpr size_t kMaxFrameSize = 260;  // header and the largest PDU (253)

enum class Verdict : uint8_t { SERVE, EXCEPTION, DROP };

struct PointWrite {
  int32_t pointIndex;
  double value;
};

struct CheckedRequest {
  Verdict verdict = Verdict::DROP;
  uint8_t function = 0;
  uint8_t exception = 0;  // the exception code when verdict is EXCEPTION
  Table table = Table::HOLDING;
  uint16_t address = 0, count = 0;
  std::vector<PointWrite> writes;  // reused from request to request
};

// Checks `frame` (`length` bytes) against `map`; `readOnly` refuses every
// write function.
void checkRequest(const ModbusMap &map, const uint8_t *frame, size_t length, bool readOnly, CheckedRequest &out);

// For a frame whose first `length` bytes were read by a reader that knows
// only the served functions: how many more bytes its header announces
// when its function is not one of them (so that it can be read whole and
// refused with exception 1); 0 otherwise, also when the header announces
// fewer bytes or more than fit a frame.
size_t unreadBytes(const uint8_t *frame, size_t length);

}  // namespace sicvm::modbus
