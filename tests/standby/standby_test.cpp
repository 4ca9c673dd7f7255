// SPDX-License-Identifier: MIT
// The primary and the standby in one process over 127.0.0.1: states arrive
// whole and in order, a lost standby is brought back with a full state, and
// bad input on the standby's port is refused, logged, and applies nothing.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "asm/assembler.h"
#include "runner/session.h"
#include "standby/primary.h"
#include "standby/standby.h"

using namespace sicvm;
using namespace sicvm::standby;

namespace {

constexpr const char *kProgram = R"(
.program HS 1
.segment globals
.var a    DINT point=5001 save
.var b    DINT
.var t    TIME flags=1
.array w  DINT[3]
        load_points GDS
        add_dint a, a, 1
        add_dint b, b, 2
        aput w[DINT#2], a
        save_points GDS
        ret
)";

struct Log {
  std::mutex mutex;
  std::vector<std::string> lines;
  LogFunction function() {
    return [this](const std::string &line) {
      std::lock_guard<std::mutex> lock(mutex);
      lines.push_back(line);
    };
  }
  bool has(const std::string &part) {
    std::lock_guard<std::mutex> lock(mutex);
    for (const std::string &l : lines)
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  std::string all() {
    std::lock_guard<std::mutex> lock(mutex);
    std::string s;
    for (const std::string &l : lines) s += l + "\n";
    return s;
  }
};

class HotStandbyTest : public testing::Test {
 protected:
  void SetUp() override {
    assembly::Assembly a = assembly::assemble(kProgram, "hs.asm");
    ASSERT_TRUE(a.errors.empty()) << a.errors[0].text();
    image_ = a.image;
    identity_ = {0x1234567890ABCDEFull, uint32_t(image_.size())};
    // One file per test: ctest runs the tests of this fixture in parallel.
    points_ = testing::TempDir() + "/hs_points_" + testing::UnitTest::GetInstance()->current_test_info()->name() + ".csv";
    std::ofstream(points_) << "index,id,type,mode,value,status\n1,5001,DINT,0,-7,0\n";
  }
  std::unique_ptr<runner::Session> session() {
    auto s = std::make_unique<runner::Session>(image_);
    runner::SessionOptions options;
    options.pointsFile = points_;
    std::string error;
    EXPECT_EQ(s->setUp(options, error), runner::SetUpResult::OK) << error;
    return s;
  }
  std::unique_ptr<Standby> standby(const runner::Session &s, Log &log, uint16_t port = 0) {
    auto sb = std::make_unique<Standby>(s, identity_, 100, log.function());
    std::string error;
    EXPECT_TRUE(sb->listen({"127.0.0.1", port}, error)) << error;
    return sb;
  }
  static std::vector<uint8_t> state(const runner::Session &s) {
    StateMap map(s);
    std::vector<uint8_t> bytes(map.size());
    map.gather(bytes.data());
    return bytes;
  }
  // Serves the standby until `done` holds, for at most `rounds` × 10 ms.
  template <class Done>
  static bool serveUntil(Standby &sb, Done done, int rounds = 300) {
    for (int i = 0; i < rounds && !done(); ++i) sb.serve(10);
    return done();
  }
  static int32_t pointValue(const runner::Session &s) { return int32_t(PointDbValues(s.points())[1].value); }

  std::vector<uint8_t> image_;
  ImageIdentity identity_;
  std::string points_;
};

TEST_F(HotStandbyTest, StandbyHoldsEachCompletedCycleAndTakesOverFromIt) {
  auto ps = session(), ss = session();
  Log plog, slog;
  auto sb = standby(*ss, slog);
  Primary primary(*ps, {"127.0.0.1", sb->port()}, identity_, 10, plog.function());
  for (uint64_t cycle = 1; cycle <= 6; ++cycle) {
    ps->runCycle();
    primary.afterCycle(cycle);
    ASSERT_TRUE(serveUntil(*sb, [&] { return sb->appliedSeq() == cycle; })) << slog.all() << plog.all();
    // The image part equals the primary's; the standby's own point is untouched.
    std::vector<uint8_t> p = state(*ps), s = state(*ss);
    ASSERT_EQ(p.size(), s.size());
    EXPECT_TRUE(std::equal(p.begin(), p.end() - 12, s.begin())) << "cycle " << cycle;
    EXPECT_EQ(pointValue(*ss), -7);
    EXPECT_EQ(pointValue(*ps), int32_t(cycle));
  }
  EXPECT_TRUE(slog.has("synchronised with the primary 127.0.0.1:"));
  ASSERT_TRUE(serveUntil(*sb, [&] { return primary.counters().acked == 6; })) << plog.all();
  Primary::Counters c = primary.counters();
  EXPECT_EQ(c.fulls, 1u);
  EXPECT_EQ(c.states + c.replaced, 6u);
  // Silent now: the standby takes over after 100 ms, with the output point.
  EXPECT_TRUE(serveUntil(*sb, [] { return false; }, 5) == false);
  ASSERT_TRUE(serveUntil(*sb, [&] { return sb->serve(0); }, 50));
  sb->takeOver();
  EXPECT_EQ(pointValue(*ss), 6);
  EXPECT_TRUE(slog.has("taking over from seq 6"));
  ss->runCycle();
  std::vector<uint8_t> after = state(*ss);
  int32_t a;
  std::memcpy(&a, after.data() + 2 * 12 + 4, 4);
  EXPECT_EQ(a, 7);
}

TEST_F(HotStandbyTest, LostStandbyComesBackWithAFullState) {
  auto ps = session(), ss = session();
  Log plog, slog;
  auto sb = standby(*ss, slog);
  uint16_t port = sb->port();
  Primary primary(*ps, {"127.0.0.1", port}, identity_, 10, plog.function());
  uint64_t cycle = 0;
  ps->runCycle();
  primary.afterCycle(++cycle);
  ASSERT_TRUE(serveUntil(*sb, [&] { return primary.counters().acked == 1; })) << plog.all();
  sb.reset();  // the standby is gone
  for (int i = 0; i < 100 && !plog.has("lost:"); ++i) {
    ps->runCycle();
    primary.afterCycle(++cycle);
    usleep(10000);
  }
  ASSERT_TRUE(plog.has("standby 127.0.0.1:" + std::to_string(port) + " lost: ")) << plog.all();
  auto ss2 = session();
  Log slog2;
  sb = standby(*ss2, slog2, port);
  ASSERT_TRUE(serveUntil(*sb, [&] {
    ps->runCycle();
    primary.afterCycle(++cycle);
    return sb->synchronised();
  })) << plog.all() << slog2.all();
  ps->runCycle();
  primary.afterCycle(++cycle);
  ASSERT_TRUE(serveUntil(*sb, [&] { return sb->appliedSeq() == cycle; })) << slog2.all();
  EXPECT_EQ(primary.counters().fulls, 2u);
  std::vector<uint8_t> p = state(*ps), s = state(*ss2);
  EXPECT_TRUE(std::equal(p.begin(), p.end() - 12, s.begin()));
}

// A client that connects to the standby and sends bytes as they are.
struct Client {
  int fd = -1;
  explicit Client(uint16_t port) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
  }
  ~Client() { close(fd); }
  void send(const std::vector<uint8_t> &b) { ASSERT_EQ(::send(fd, b.data(), b.size(), MSG_NOSIGNAL), ssize_t(b.size())); }
  // Everything the standby sent until it closed (or 2 s passed).
  std::string received() {
    std::string s;
    char buffer[4096];
    ssize_t n;
    while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) s.append(buffer, size_t(n));
    return s;
  }
};

std::vector<uint8_t> hello(uint64_t hash, uint32_t imageSize, uint32_t stateSize) {
  std::vector<uint8_t> body, frame;
  put64(body, hash);
  put32(body, imageSize);
  put32(body, stateSize);
  put32(body, 10);
  appendFrame(frame, MessageType::HELLO, body.data(), body.size());
  return frame;
}

std::vector<uint8_t> full(uint64_t seq, const std::vector<uint8_t> &state) {
  std::vector<uint8_t> body, frame;
  put64(body, seq);
  put32(body, 0);
  put32(body, 0);
  body.insert(body.end(), state.begin(), state.end());
  appendFrame(frame, MessageType::FULL, body.data(), body.size());
  return frame;
}

std::vector<uint8_t> delta(uint64_t seq, uint64_t base, uint32_t offset, uint32_t n) {
  std::vector<uint8_t> body, frame;
  put64(body, seq);
  put64(body, base);
  put32(body, 0);
  put32(body, 1);
  put32(body, offset);
  put32(body, n);
  body.insert(body.end(), n, 0x11);
  appendFrame(frame, MessageType::DELTA, body.data(), body.size());
  return frame;
}

std::vector<uint8_t> join(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(HotStandbyTest, BadInputIsRefusedAndAppliesNothing) {
  auto ss = session();
  std::vector<uint8_t> held = state(*ss), other = held;
  other[2 * 12 + 4] = 41;  // a = 41
  uint32_t size = uint32_t(held.size()), imageSize = identity_.size;
  uint64_t hash = identity_.hash;
  std::vector<uint8_t> good = hello(hash, imageSize, size), fullFrame = full(5, other);
  std::vector<uint8_t> flipped = join(good, fullFrame);
  flipped.back() ^= 1;
  std::vector<uint8_t> version = good;
  version[4] = 2;
  struct Case {
    const char *name;
    std::vector<uint8_t> bytes;
    const char *log;    // in the standby's log line
    const char *reply;  // in what the client gets back ("" = nothing)
  } cases[] = {
      {"garbage", {'G', 'E', 'T', ' ', '/', '\r', '\n'}, "not a standby message (bad magic)", ""},
      {"other version", version, "protocol version 2", ""},
      {"another image", hello(hash ^ 1, imageSize, size), "refused: another image", "another image: the primary runs"},
      {"another size", hello(hash, imageSize + 4, size), "refused: another image", "another image"},
      {"other links", hello(hash, imageSize, size + 12), "refused: the state differs", "the state differs"},
      {"state first", fullFrame, "a FULL message where a HELLO belongs", ""},
      {"truncated", join(good, std::vector<uint8_t>(fullFrame.begin(), fullFrame.end() - 10)),
       "the connection ended inside a FULL message cut off after", ""},
      {"checksum", flipped, "a FULL message with a wrong checksum", ""},
      {"wrong state size", join(good, full(5, std::vector<uint8_t>(held.begin(), held.end() - 1))), "a FULL state of",
       ""},
      {"delta first", join(good, delta(6, 5, 0, 4)), "while the state held is none", ""},
  };
  for (const Case &c : cases) {
    Log log;
    auto sb = standby(*ss, log);
    Client client(sb->port());
    client.send(c.bytes);
    shutdown(client.fd, SHUT_WR);
    ASSERT_TRUE(serveUntil(*sb, [&] { return log.has("dropped the connection"); })) << c.name << "\n" << log.all();
    EXPECT_TRUE(log.has(c.log)) << c.name << "\n" << log.all();
    EXPECT_TRUE(log.has("nothing of it applied")) << c.name;
    std::string reply = client.received();
    EXPECT_NE(reply.find(c.reply), std::string::npos) << c.name << ": " << reply;
    EXPECT_EQ(sb->applied(), 0u) << c.name;
    EXPECT_FALSE(sb->synchronised()) << c.name;
    EXPECT_EQ(state(*ss), held) << c.name;
  }

  // A good state is applied and acknowledged; a delta outside the state
  // that follows it leaves that state as it was.
  Log log;
  auto sb = standby(*ss, log);
  Client client(sb->port());
  client.send(join(good, join(fullFrame, delta(6, 5, size - 2, 4))));
  shutdown(client.fd, SHUT_WR);
  ASSERT_TRUE(serveUntil(*sb, [&] { return log.has("dropped the connection"); })) << log.all();
  EXPECT_TRUE(log.has("run 0 (" + std::to_string(size - 2) + ", 4 bytes) lies outside")) << log.all();
  EXPECT_EQ(sb->appliedSeq(), 5u);
  EXPECT_EQ(state(*ss), other);
  std::string reply = client.received();
  std::vector<uint8_t> ack, seq;
  put64(seq, 5);
  appendFrame(ack, MessageType::ACK, seq.data(), seq.size());
  EXPECT_NE(reply.find(std::string(ack.begin(), ack.end())), std::string::npos);
}

TEST_F(HotStandbyTest, SecondPrimaryIsRefused) {
  auto ss = session();
  Log log;
  auto sb = standby(*ss, log);
  Client first(sb->port()), second(sb->port());
  first.send(hello(identity_.hash, identity_.size, uint32_t(state(*ss).size())));
  ASSERT_TRUE(serveUntil(*sb, [&] { return log.has("primary 127.0.0.1:"); }));
  second.send(hello(identity_.hash, identity_.size, uint32_t(state(*ss).size())));
  ASSERT_TRUE(serveUntil(*sb, [&] { return log.has("refused: another primary is connected"); })) << log.all();
  EXPECT_NE(second.received().find("another primary is connected"), std::string::npos);
}

}  // namespace
