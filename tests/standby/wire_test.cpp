// SPDX-License-Identifier: MIT
// The hot-standby wire format: checksums against published values, frames
// cut at every byte and refused when they are no frames, and deltas that
// rebuild the newer state or are refused whole.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "standby/delta.h"
#include "standby/wire.h"

using namespace sicvm::standby;

namespace {

std::vector<uint8_t> bytesOf(const std::string &s) { return {s.begin(), s.end()}; }

TEST(StandbyWire, Crc32MatchesPublishedCheckValues) {
  struct Case {
    const char *text;
    uint32_t crc;
  } cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},  // the CRC-32 check value
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case &c : cases) {
    std::vector<uint8_t> b = bytesOf(c.text);
    EXPECT_EQ(crc32(b.data(), b.size()), c.crc) << c.text;
    // Continued in two pieces it gives the same.
    size_t half = b.size() / 2;
    EXPECT_EQ(crc32(b.data() + half, b.size() - half, crc32(b.data(), half)), c.crc) << c.text;
  }
}

TEST(StandbyWire, FramesSurviveAnySplitOfTheStream) {
  std::vector<uint8_t> stream, big(3000);
  for (size_t i = 0; i < big.size(); ++i) big[i] = uint8_t(i * 7);
  appendFrame(stream, MessageType::ACK, big.data(), 8);
  appendFrame(stream, MessageType::FULL, big.data(), big.size());
  appendFrame(stream, MessageType::REFUSE, nullptr, 0);
  for (size_t cut : {size_t(1), size_t(5), size_t(16), size_t(17), size_t(1000), stream.size()}) {
    FrameReader reader;
    std::vector<Frame> frames;
    std::string error;
    for (size_t at = 0; at < stream.size(); at += cut) {
      reader.feed(stream.data() + at, std::min(cut, stream.size() - at));
      Frame f;
      FrameReader::Result r;
      while ((r = reader.next(f, error)) == FrameReader::Result::FRAME) frames.push_back(f);
      ASSERT_EQ(r, FrameReader::Result::MORE) << error;
    }
    ASSERT_EQ(frames.size(), 3u) << "pieces of " << cut;
    EXPECT_EQ(frames[0].type, MessageType::ACK);
    EXPECT_EQ(frames[1].payload, big);
    EXPECT_TRUE(frames[2].payload.empty());
    EXPECT_EQ(reader.cutOff(), "");
  }
}

TEST(StandbyWire, RefusesWhatIsNoFrame) {
  std::vector<uint8_t> good;
  uint8_t payload[40] = {1, 2, 3};
  appendFrame(good, MessageType::FULL, payload, sizeof payload);
  struct Case {
    const char *name;
    size_t at;  // byte to change (SIZE_MAX: none)
    uint8_t value;
    uint32_t maxPayload;
    const char *error;
  } cases[] = {
      {"text", 0, 'G', kMaxPayload, "bad magic"},
      {"version", 4, 2, kMaxPayload, "protocol version 2, this side speaks 1"},
      {"type", 6, 9, kMaxPayload, "unknown message type 9"},
      {"length", 11, 0x10, kMaxPayload, "more than the"},
      {"limit", SIZE_MAX, 0, 39, "a FULL message of 40 bytes, more than the 39 this side accepts"},
      {"payload", 30, 0xFF, kMaxPayload, "a FULL message with a wrong checksum"},
      {"checksum", 12, 0x00, kMaxPayload, "wrong checksum"},
  };
  for (const Case &c : cases) {
    std::vector<uint8_t> bytes = good;
    if (c.at != SIZE_MAX) bytes[c.at] = c.value == bytes[c.at] ? uint8_t(c.value + 1) : c.value;
    FrameReader reader(c.maxPayload);
    reader.feed(bytes.data(), bytes.size());
    Frame f;
    std::string error;
    EXPECT_EQ(reader.next(f, error), FrameReader::Result::BAD) << c.name;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
  }
  // A head that is not yet whole is refused as soon as its magic is wrong.
  FrameReader reader;
  reader.feed(bytesOf("SX").data(), 2);
  Frame f;
  std::string error;
  EXPECT_EQ(reader.next(f, error), FrameReader::Result::BAD);
  // A frame cut off says what it was.
  FrameReader cut;
  cut.feed(good.data(), 30);
  EXPECT_EQ(cut.next(f, error), FrameReader::Result::MORE);
  EXPECT_EQ(cut.cutOff(), "a FULL message cut off after 30 of 56 bytes");
}

TEST(StandbyWire, DeltaRebuildsTheNewerState) {
  std::mt19937 random(2026);
  struct Case {
    size_t size;
    int changes;   // bytes changed at random places
    bool cluster;  // changes close together
  } cases[] = {{1, 1, false}, {64, 0, false}, {64, 1, false}, {64, 64, false}, {500, 7, true},
               {500, 30, false}, {4096, 200, true}, {9, 2, false}};
  for (const Case &c : cases) {
    for (int trial = 0; trial < 20; ++trial) {
      std::vector<uint8_t> before(c.size), after;
      for (uint8_t &b : before) b = uint8_t(random());
      after = before;
      size_t centre = random() % c.size;
      for (int k = 0; k < c.changes; ++k) {
        size_t at = c.cluster ? (centre + random() % 24) % c.size : random() % c.size;
        after[at] = uint8_t(after[at] + 1 + random() % 255);
      }
      std::vector<uint8_t> runs;
      uint32_t count = encodeDelta(before.data(), after.data(), c.size, runs);
      std::vector<uint8_t> state = before;
      std::string error;
      ASSERT_TRUE(applyDelta(state.data(), state.size(), runs.data(), runs.size(), count, error)) << error;
      EXPECT_EQ(state, after) << "size " << c.size << ", " << c.changes << " changes";
      if (before == after) {
        EXPECT_EQ(count, 0u);
      }
      // No run carries more than 8 unchanged bytes in a row.
      size_t at = 0;
      for (uint32_t r = 0; r < count; ++r) {
        uint32_t offset = get32(runs.data() + at), n = get32(runs.data() + at + 4);
        EXPECT_NE(before[offset], after[offset]);
        EXPECT_NE(before[offset + n - 1], after[offset + n - 1]);
        at += 8 + n;
      }
    }
  }
}

TEST(StandbyWire, BadDeltaChangesNothing) {
  std::vector<uint8_t> state(32, 0xAA);
  auto run = [](uint32_t offset, uint32_t n) {
    std::vector<uint8_t> r;
    put32(r, offset);
    put32(r, n);
    r.insert(r.end(), n, 0x55);
    return r;
  };
  std::vector<uint8_t> good = run(0, 4), outside = run(30, 4), empty = run(3, 0);
  struct Case {
    const char *name;
    std::vector<uint8_t> runs;
    uint32_t count;
    const char *error;
  } cases[] = {
      {"outside", [&] { auto r = good; r.insert(r.end(), outside.begin(), outside.end()); return r; }(), 2,
       "run 1 (30, 4 bytes) lies outside"},
      {"empty run", empty, 1, "run 0 (3, 0 bytes)"},
      {"cut off", std::vector<uint8_t>(good.begin(), good.end() - 1), 1, "lies outside the state of 32 bytes or the message"},
      {"head cut off", std::vector<uint8_t>(good.begin(), good.begin() + 5), 1, "run 0 of 1 is cut off"},
      {"more runs said", good, 2, "run 1 of 2 is cut off"},
      {"bytes left", [&] { auto r = good; r.push_back(0); return r; }(), 1, "1 bytes after the last run"},
  };
  for (const Case &c : cases) {
    std::vector<uint8_t> s = state;
    std::string error;
    EXPECT_FALSE(applyDelta(s.data(), s.size(), c.runs.data(), c.runs.size(), c.count, error)) << c.name;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(s, state) << c.name;
  }
}

}  // namespace
