// SPDX-License-Identifier: MIT
// The hot-standby wire protocol: framed, versioned, checksummed messages
// between a primary runner and its standby over one TCP connection.
//
// Frame (all integers little-endian):
//   0   u32  magic      0x59425353, the bytes "SSBY"
//   4   u16  version    kWireVersion; a frame of another version is refused
//   6   u16  type       MessageType
//   8   u32  length     payload bytes that follow the 16-byte head
//   12  u32  crc        CRC-32 (IEEE 802.3, as zlib computes it) of head bytes
//                       0..11 followed by the payload
// A receiver checks magic, version, type and length as soon as the head is
// in, so garbage is refused before anything more is read, and checks the CRC
// once the whole payload is in. Nothing of a frame is used before all of it
// has passed.
//
// Messages (payload layouts):
//   HELLO    primary -> standby, first frame of a connection:
//            u64 image hash (FNV-1a of the image file), u32 image size,
//            u32 state size, u32 period ms
//   WELCOME  standby -> primary, the answer to a HELLO it accepts:
//            u64 image hash, u32 state size, u32 takeover-after ms
//   REFUSE   either way, then the sender closes: UTF-8 reason, at most
//            kMaxReason bytes
//   FULL     primary -> standby: u64 seq, u32 clock age, u32 0, then the whole
//            state (state size bytes)
//   DELTA    primary -> standby: u64 seq, u64 base seq, u32 clock age,
//            u32 run count, then per run u32 offset, u32 length and the bytes;
//            applies only to the state of `base seq`
//   ACK      standby -> primary: u64 seq of the state it has applied
// `seq` is the primary's cycle number after which the state was taken;
// `clock age` the milliseconds between the primary's last timer update and
// the moment the state was taken.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sicvm::standby {

inline constexpr uint32_t kWireMagic = 0x59425353;
inline constexpr uint16_t kWireVersion = 1;
inline constexpr size_t kHeadSize = 16;
inline constexpr uint32_t kMaxPayload = 64u << 20;  // no frame is larger
inline constexpr size_t kMaxReason = 1000;

enum class MessageType : uint16_t { HELLO = 1, WELCOME = 2, REFUSE = 3, FULL = 4, DELTA = 5, ACK = 6 };

const char *messageName(MessageType type);

// CRC-32 of `size` bytes, continuing from `crc` (0 to start).
uint32_t crc32(const uint8_t *bytes, size_t size, uint32_t crc = 0);

struct Frame {
  MessageType type{};
  std::vector<uint8_t> payload;
};

// Appends one frame holding `payload` to `out`.
void appendFrame(std::vector<uint8_t> &out, MessageType type, const uint8_t *payload, size_t size);

// Collects the bytes of a connection and cuts them into frames.
class FrameReader {
 public:
  enum class Result { FRAME, MORE, BAD };
  // `maxPayload` bounds the frames this side accepts.
  explicit FrameReader(uint32_t maxPayload = kMaxPayload) : maxPayload_(maxPayload) {}
  void setMaxPayload(uint32_t maxPayload) { maxPayload_ = maxPayload; }
  void feed(const uint8_t *bytes, size_t size);
  // FRAME: the next whole frame is in `frame`; MORE: it is not complete yet;
  // BAD: the bytes are no frame of this protocol, `error` says why. After BAD
  // the connection is to be dropped.
  Result next(Frame &frame, std::string &error);
  // Bytes received that are not yet part of a returned frame.
  size_t pending() const { return buffer_.size() - start_; }
  // For a connection that ended: "" when it ended between frames, else what
  // was cut off ("a FULL message cut off after 20 of 116 bytes").
  std::string cutOff() const;

 private:
  std::vector<uint8_t> buffer_;
  size_t start_ = 0;
  uint32_t maxPayload_;
};

// Little-endian field writers and readers for the payloads.
void put32(std::vector<uint8_t> &out, uint32_t value);
void put64(std::vector<uint8_t> &out, uint64_t value);
uint32_t get32(const uint8_t *at);
uint64_t get64(const uint8_t *at);

}  // namespace sicvm::standby
