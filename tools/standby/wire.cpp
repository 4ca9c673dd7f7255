// SPDX-License-Identifier: MIT
#include "standby/wire.h"

#include <array>
#include <bit>
#include <cstring>

namespace sicvm::standby {

static_assert(std::endian::native == std::endian::little, "the wire format is read in place as little-endian");

namespace {

constexpr std::array<uint32_t, 256> makeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[i] = c;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = makeCrcTable();

bool knownType(uint16_t type) { return type >= 1 && type <= 6; }

}  // namespace

const char *messageName(MessageType type) {
  switch (type) {
    case MessageType::HELLO: return "HELLO";
    case MessageType::WELCOME: return "WELCOME";
    case MessageType::REFUSE: return "REFUSE";
    case MessageType::FULL: return "FULL";
    case MessageType::DELTA: return "DELTA";
    case MessageType::ACK: return "ACK";
  }
  return "unknown";
}

uint32_t crc32(const uint8_t *bytes, size_t size, uint32_t crc) {
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void put32(std::vector<uint8_t> &out, uint32_t value) {
  uint8_t b[4];
  std::memcpy(b, &value, 4);
  out.insert(out.end(), b, b + 4);
}

void put64(std::vector<uint8_t> &out, uint64_t value) {
  uint8_t b[8];
  std::memcpy(b, &value, 8);
  out.insert(out.end(), b, b + 8);
}

uint32_t get32(const uint8_t *at) {
  uint32_t v;
  std::memcpy(&v, at, 4);
  return v;
}

uint64_t get64(const uint8_t *at) {
  uint64_t v;
  std::memcpy(&v, at, 8);
  return v;
}

void appendFrame(std::vector<uint8_t> &out, MessageType type, const uint8_t *payload, size_t size) {
  size_t head = out.size();
  put32(out, kWireMagic);
  uint32_t versionAndType = uint32_t(kWireVersion) | uint32_t(type) << 16;
  put32(out, versionAndType);
  put32(out, static_cast<uint32_t>(size));
  uint32_t crc = crc32(out.data() + head, 12);
  crc = crc32(payload, size, crc);
  put32(out, crc);
  out.insert(out.end(), payload, payload + size);
}

void FrameReader::feed(const uint8_t *bytes, size_t size) {
  if (start_ > 0 && start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  buffer_.insert(buffer_.end(), bytes, bytes + size);
}

FrameReader::Result FrameReader::next(Frame &frame, std::string &error) {
  size_t have = buffer_.size() - start_;
  const uint8_t *head = buffer_.data() + start_;
  // Refuse a wrong magic as soon as its first bytes differ.
  uint8_t magic[4];
  std::memcpy(magic, &kWireMagic, 4);
  for (size_t i = 0; i < have && i < 4; ++i)
    if (head[i] != magic[i]) {
      error = "not a standby message (bad magic)";
      return Result::BAD;
    }
  if (have < kHeadSize) return Result::MORE;
  uint16_t version = static_cast<uint16_t>(get32(head + 4) & 0xFFFF);
  uint16_t type = static_cast<uint16_t>(get32(head + 4) >> 16);
  uint32_t length = get32(head + 8);
  if (version != kWireVersion) {
    error = "protocol version " + std::to_string(version) + ", this side speaks " + std::to_string(kWireVersion);
    return Result::BAD;
  }
  if (!knownType(type)) {
    error = "unknown message type " + std::to_string(type);
    return Result::BAD;
  }
  if (length > maxPayload_) {
    error = std::string("a ") + messageName(MessageType(type)) + " message of " + std::to_string(length) +
            " bytes, more than the " + std::to_string(maxPayload_) + " this side accepts";
    return Result::BAD;
  }
  if (have < kHeadSize + length) return Result::MORE;
  uint32_t crc = crc32(head, 12);
  crc = crc32(head + kHeadSize, length, crc);
  if (crc != get32(head + 12)) {
    error = std::string("a ") + messageName(MessageType(type)) + " message with a wrong checksum";
    return Result::BAD;
  }
  frame.type = MessageType(type);
  frame.payload.assign(head + kHeadSize, head + kHeadSize + length);
  start_ += kHeadSize + length;
  if (start_ == buffer_.size()) {
    buffer_.clear();
    start_ = 0;
  }
  return Result::FRAME;
}

std::string FrameReader::cutOff() const {
  size_t have = buffer_.size() - start_;
  if (have == 0) return "";
  if (have < kHeadSize) return "a message cut off inside its head (" + std::to_string(have) + " bytes)";
  const uint8_t *head = buffer_.data() + start_;
  uint16_t type = static_cast<uint16_t>(get32(head + 4) >> 16);
  return std::string("a ") + messageName(MessageType(type)) + " message cut off after " + std::to_string(have) +
         " of " + std::to_string(kHeadSize + get32(head + 8)) + " bytes";
}

}  // namespace sicvm::standby
