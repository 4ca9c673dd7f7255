// SPDX-License-Identifier: MIT
// Registry of host addresses.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "hostrt/sys.h"
#include "image/host_location.h"
#include "sicvm/vm.h"

using namespace sicvm;

namespace {

TEST(HostLocation, NullIsTokenZeroAndTokensAreStable) {
  EXPECT_EQ(VmHostLocation(nullptr), 0u);
  EXPECT_EQ(hostAddress(0), nullptr);
  int a = 0, b = 0;
  uint32_t ta = VmHostLocation(&a);
  uint32_t tb = VmHostLocation(&b);
  EXPECT_NE(ta, 0u);
  EXPECT_NE(ta, tb);
  EXPECT_EQ(VmHostLocation(&a), ta);
  EXPECT_EQ(hostAddress(ta), &a);
  EXPECT_EQ(hostAddress(tb), &b);
  // Two references to a: the first release keeps it.
  VmReleaseHostLocation(ta);
  EXPECT_EQ(hostAddress(ta), &a);
  VmReleaseHostLocation(ta);
  EXPECT_EQ(hostAddress(ta), nullptr);
  VmReleaseHostLocation(tb);
  EXPECT_EQ(hostAddress(VM_HOST_LOCATIONS + 1), nullptr);
}

TEST(HostLocation, FullRegistryRefusesWithErrorNumber28) {
  std::vector<char> storage(VM_HOST_LOCATIONS + 1);
  std::vector<uint32_t> tokens;
  uint32_t token = 0;
  for (char &c : storage) {
    _winseterrno(0);
    token = VmHostLocation(&c);
    if (token == 0) break;
    tokens.push_back(token);
  }
  EXPECT_EQ(token, 0u);
  EXPECT_EQ(_wingeterrno(), 28);
  EXPECT_LE(tokens.size(), size_t(VM_HOST_LOCATIONS));
  for (uint32_t t : tokens) VmReleaseHostLocation(t);
  EXPECT_NE(VmHostLocation(&storage.back()), 0u);
  VmReleaseHostLocation(VmHostLocation(&storage.back()));
  VmReleaseHostLocation(VmHostLocation(&storage.back()));
}

TEST(HostLocation, ThreadsRegisteringTheSameAddressShareOneToken) {
  static int shared = 0;
  std::vector<uint32_t> seen(8);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] {
      for (int k = 0; k < 1000; ++k) {
        uint32_t t = VmHostLocation(&shared);
        seen[i] = t;
        VmReleaseHostLocation(t);
      }
      seen[i] = VmHostLocation(&shared);
    });
  for (auto &t : threads) t.join();
  for (uint32_t t : seen) EXPECT_EQ(t, seen[0]);
  EXPECT_EQ(hostAddress(seen[0]), &shared);
  for (size_t i = 0; i < seen.size(); ++i) VmReleaseHostLocation(seen[0]);
  EXPECT_EQ(hostAddress(seen[0]), nullptr);
}

}  // namespace
