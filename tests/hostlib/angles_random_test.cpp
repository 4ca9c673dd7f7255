// SPDX-License-Identifier: MIT
// Angle conversions against bit patterns computed separately (exact rational products rounded
// to single precision by hand, and Python's double arithmetic), and the random functions: the
// generator's sequence, the grid k/32767 with both ends, the single rounding of Random32, and
// draws from four threads that together take exactly the next numbers of the sequence.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "hostlib/host_call.h"
#include "hostlib/random.h"

using namespace sicvm;
using namespace sicvm::build;
using namespace sicvm::test;

namespace {

uint32_t realBits(const VmCell &cell) { return cell.v.w[0]; }
uint64_t lrealBits(const VmCell &cell) { return uint64_t(cell.v.w[1]) << 32 | cell.v.w[0]; }
double asDouble(uint64_t bits) {
  double d;
  std::memcpy(&d, &bits, 8);
  return d;
}

TEST(HostAngles, RealFunctionsRoundTheSingleProductOnce) {
  // Input, RadToDeg32, DegToRad32. The rows after the first fourteen are inputs where a product
  // with the double-precision factor would round to a different REAL.
  const struct { uint32_t x, degrees, radians; } cases[] = {
      {0x00000000u, 0x00000000u, 0x00000000u},
      {0x80000000u, 0x80000000u, 0x80000000u},
      {0x3F800000u, 0x42652EE1u, 0x3C8EFA35u},
      {0xBF800000u, 0xC2652EE1u, 0xBC8EFA35u},
      {0x40490FDBu, 0x43340000u, 0x3D60969Du},
      {0x43340000u, 0x462124F6u, 0x40490FDBu},
      {0xC2B40000u, 0xC5A124F6u, 0xBFC90FDBu},
      {0x43B40000u, 0x46A124F6u, 0x40C90FDBu},
      {0x3A83126Fu, 0x3D6AAEFCu, 0x379268A9u},
      {0x00010000u, 0x00394BB8u, 0x00000478u},
      {0x7F7FFFFFu, 0x7F800000u, 0x7C8EFA34u},
      {0x7F800000u, 0x7F800000u, 0x7F800000u},
      {0xFF800000u, 0xFF800000u, 0xFF800000u},
      {0x3F000000u, 0x41E52EE1u, 0x3C0EFA35u},
      {0x7E96BA87u, 0x7F800000u, 0x7BA85D90u},
      {0x8E835961u, 0x916B2E03u, 0x8B92B7E9u},
      {0x377E6FF8u, 0x3A63C8C1u, 0x348E1ACAu},
      {0xB17361DAu, 0xB459E31Au, 0xAE87EE27u},
      {0x5B804CD5u, 0x5E65B872u, 0x588F5007u},
      {0x76191B38u, 0x79091163u, 0x732B057Bu},
      {0xF960CDCDu, 0xFC494143u, 0xF67B1BBEu},
      {0x2C9DEFD8u, 0x2F8D6478u, 0x29B06ACDu},
  };
  TestMachine m(minimalProgram());
  for (const auto &k : cases) {
    const Value x = Value::raw(VM_TYPE_REAL, k.x, 0);
    EXPECT_EQ(realBits(callHost(m.get(), 6141, {x}, {VM_TYPE_REAL})[0]), k.degrees) << std::hex << k.x;
    EXPECT_EQ(realBits(callHost(m.get(), 6143, {x}, {VM_TYPE_REAL})[0]), k.radians) << std::hex << k.x;
  }
  EXPECT_TRUE(std::isnan(callHost(m.get(), 6141, {Value::real(NAN)}, {VM_TYPE_REAL})[0].v.f32));
}

TEST(HostAngles, LrealFunctions) {
  const struct { uint64_t x, degrees, radians; } cases[] = {
      {0x0000000000000000u, 0x0000000000000000u, 0x0000000000000000u},
      {0x8000000000000000u, 0x8000000000000000u, 0x8000000000000000u},
      {0x3FF0000000000000u, 0x404CA5DC1A63C1F8u, 0x3F91DF46A2529D39u},
      {0xBFF0000000000000u, 0xC04CA5DC1A63C1F8u, 0xBF91DF46A2529D39u},
      {0x400921FB54442D18u, 0x4066800000000000u, 0x3FAC12D39C144C9Du},
      {0x4066800000000000u, 0x40C4249EC28E2462u, 0x400921FB54442D18u},
      {0xC056800000000000u, 0xC0B4249EC28E2462u, 0xBFF921FB54442D18u},
      {0x01A56E1FC2F8F359u, 0x02032F6F0525CD6Bu, 0x0147F00F350A8DDDu},
      {0x7FEE42D130773B76u, 0x7FF0000000000000u, 0x7F90E6A38F33136Du},
      {0x3FBF9ADD3739635Fu, 0x401C4B5177B82CF2u, 0x3F61A6CA7E04D58Bu},
      {0x00000000000007E8u, 0x000000000001C4FFu, 0x0000000000000023u},
  };
  TestMachine m(minimalProgram());
  for (const auto &k : cases) {
    const Value x = Value::lreal(asDouble(k.x));
    EXPECT_EQ(lrealBits(callHost(m.get(), 6142, {x}, {VM_TYPE_LREAL})[0]), k.degrees) << std::hex << k.x;
    EXPECT_EQ(lrealBits(callHost(m.get(), 6144, {x}, {VM_TYPE_LREAL})[0]), k.radians) << std::hex << k.x;
  }
}

// The number r behind a result, and a check that a Random32 result is the REAL nearest to
// r / 32767: the distances of it and of its two neighbours are exact in double precision.
int32_t numberOf(double v) { return int32_t(std::lround(v * 32767.0)); }
bool nearestReal(float f, int32_t r) {
  auto distance = [r](float g) { return std::fabs(double(g) * 32767.0 - r); };
  return distance(f) < distance(std::nextafter(f, -1.0f)) && distance(f) < distance(std::nextafter(f, 2.0f));
}

// Draws through the dispatcher: Random32 when `real`, else Random64; returns r.
int32_t draw(TestMachine &m, bool real) {
  const VmCell out = callHost(m.get(), real ? 6161 : 6162, {}, {uint8_t(real ? VM_TYPE_REAL : VM_TYPE_LREAL)})[0];
  if (!real) {
    const int32_t r = numberOf(out.v.f64);
    EXPECT_EQ(out.v.f64, r / 32767.0) << "on the grid";
    return r;
  }
  const float f = out.v.f32;
  const int32_t r = numberOf(f);
  EXPECT_TRUE(nearestReal(f, r)) << "Random32 " << f << " for " << r;
  return r;
}

TEST(HostRandom, BothFunctionsDrawFromTheOneSequence) {
  TestMachine m(minimalProgram());
  // The example generator of the C standard, from seed 12345 (computed separately).
  const int32_t expected[] = {21468, 9988, 22117, 3498, 16927, 16045, 19741, 12122};
  hostlib::seedRandom(12345);
  for (size_t i = 0; i < std::size(expected); ++i) EXPECT_EQ(draw(m, i % 2 == 0), expected[i]) << i;
}

TEST(HostRandom, ResultsLieOnTheGridAndReachBothEnds) {
  TestMachine m(minimalProgram());
  hostlib::seedRandom(7);
  int32_t low[2] = {32767, 32767}, high[2] = {0, 0};
  for (int i = 0; i < 300000; ++i) {
    const int real = i % 2;
    const int32_t r = draw(m, real);
    ASSERT_TRUE(r >= 0 && r <= 32767) << r;
    low[real] = std::min(low[real], r);
    high[real] = std::max(high[real], r);
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_EQ(low[0] + low[1], 0);
  EXPECT_EQ(high[0] + high[1], 2 * 32767);
}

// Four machines on four threads: no draw is lost or taken twice, so the numbers drawn are,
// as a multiset, the next 4 x N numbers of the sequence. Run under ThreadSanitizer too.
TEST(HostRandom, FourThreadsShareTheSequenceWithoutRaces) {
  constexpr int kThreads = 4, kDraws = 20000;
  constexpr uint32_t kSeed = 99;
  std::vector<std::unique_ptr<TestMachine>> machines;
  for (int t = 0; t < kThreads; ++t) machines.push_back(std::make_unique<TestMachine>(minimalProgram()));
  std::vector<std::vector<int32_t>> drawn(kThreads);
  hostlib::seedRandom(kSeed);
  {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back([&, t] {
        for (int i = 0; i < kDraws; ++i) drawn[size_t(t)].push_back(draw(*machines[size_t(t)], (i + t) % 2 == 0));
      });
    for (std::thread &thread : threads) thread.join();
  }
  std::vector<int32_t> all, expected;
  for (const auto &d : drawn) all.insert(all.end(), d.begin(), d.end());
  uint32_t state = kSeed;
  for (int i = 0; i < kThreads * kDraws; ++i) {
    state = state * 1103515245u + 12345u;
    expected.push_back(int32_t(state >> 16 & 0x7FFF));
  }
  std::sort(all.begin(), all.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_TRUE(all == expected);
}

}  // namespace
