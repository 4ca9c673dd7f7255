// SPDX-License-Identifier: MIT
// Registry of host addresses: VmHostLocation, VmReleaseHostLocation.
//
// Registration and release take a mutex; lookups (on every point access) are
// one atomic load. Each registration counts a reference, so two machines that
// share a table may release their tokens independently.
#include "image/host_location.h"

#include <atomic>
#include <mutex>

#include "hostrt/sys.h"
#include "sicvm/vm.h"

namespace sicvm {
namespace {

struct Slot {
  std::atomic<void *> address{nullptr};
  uint32_t references = 0;  // guarded by g_mutex
};

Slot g_slots[VM_HOST_LOCATIONS];
std::mutex g_mutex;

}  // namespace

void *hostAddress(uint32_t token) noexcept {
  if (token == 0 || token > VM_HOST_LOCATIONS) return nullptr;
  return g_slots[token - 1].address.load(std::memory_order_acquire);
}

}  // namespace sicvm

extern "C" {

SICVM_API uint32_t VmHostLocation(const void *address) {
  using sicvm::g_slots;
  if (address == nullptr) return 0;
  void *target = const_cast<void *>(address);
  std::lock_guard<std::mutex> lock(sicvm::g_mutex);
  uint32_t freeSlot = VM_HOST_LOCATIONS;
  for (uint32_t i = 0; i < VM_HOST_LOCATIONS; ++i) {
    void *held = g_slots[i].address.load(std::memory_order_relaxed);
    if (held == target) {
      ++g_slots[i].references;
      return i + 1;
    }
    if (held == nullptr && freeSlot == VM_HOST_LOCATIONS) freeSlot = i;
  }
  if (freeSlot == VM_HOST_LOCATIONS) {
    _winseterrno(28);
    return 0;
  }
  g_slots[freeSlot].references = 1;
  g_slots[freeSlot].address.store(target, std::memory_order_release);
  return freeSlot + 1;
}

SICVM_API void VmReleaseHostLocation(uint32_t token) {
  using sicvm::g_slots;
  if (token == 0 || token > VM_HOST_LOCATIONS) return;
  std::lock_guard<std::mutex> lock(sicvm::g_mutex);
  sicvm::Slot &slot = g_slots[token - 1];
  if (slot.references == 0) return;
  if (--slot.references == 0) slot.address.store(nullptr, std::memory_order_release);
}

}  // extern "C"
