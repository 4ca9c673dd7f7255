// SPDX-License-Identifier: MIT
// One field of a host point record read or written as one relaxed atomic
// access. The point tables are shared with the host and with machines on
// other threads, and take no lock: each access of a 4- or 8-byte field is a
// single load or store, so a reader never sees half of a write, and a status
// merge is one atomic read-modify-write, so two writers never lose each
// other's bits. Relaxed order is all that is promised: the tables carry no
// ordering between fields (the host is told of status writes separately).
//
// Records are packed (28-byte value records put every other value at a
// 4-byte boundary), so the address is tested: a field at its natural
// alignment goes through std::atomic_ref; a 4-aligned 8-byte value through
// the compiler's atomic builtins on its address, which on x86-64 is the same
// single 8-byte move, indivisible as long as the field does not straddle a
// 64-byte cache line (README, "The host must").
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace sicvm::points {

// The address of the field at `offset` of a packed record (taking a packed
// member's address directly would claim an alignment it may not have).
template <class Record>
void *field(Record &record, size_t offset) noexcept {
  return reinterpret_cast<char *>(&record) + offset;
}

template <class T>
using FieldBits = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;

template <class T>
T loadField(const void *field) noexcept {
  static_assert((sizeof(T) == 4 || sizeof(T) == 8) && std::is_trivially_copyable_v<T>);
  using Bits = FieldBits<T>;
  auto *bits = const_cast<Bits *>(static_cast<const Bits *>(field));
  if (reinterpret_cast<uintptr_t>(field) % std::atomic_ref<Bits>::required_alignment == 0)
    return std::bit_cast<T>(std::atomic_ref<Bits>(*bits).load(std::memory_order_relaxed));
  return std::bit_cast<T>(__atomic_load_n(bits, __ATOMIC_RELAXED));
}

template <class T>
void storeField(void *field, T value) noexcept {
  static_assert((sizeof(T) == 4 || sizeof(T) == 8) && std::is_trivially_copyable_v<T>);
  using Bits = FieldBits<T>;
  auto *bits = static_cast<Bits *>(field);
  if (reinterpret_cast<uintptr_t>(field) % std::atomic_ref<Bits>::required_alignment == 0)
    std::atomic_ref<Bits>(*bits).store(std::bit_cast<Bits>(value), std::memory_order_relaxed);
  else
    __atomic_store_n(bits, std::bit_cast<Bits>(value), __ATOMIC_RELAXED);
}

// Replaces a 32-bit field by f(old) in one atomic step; returns the new value.
template <class F>
uint32_t updateField(void *field, F f) noexcept {
  auto *bits = static_cast<uint32_t *>(field);
  uint32_t old = __atomic_load_n(bits, __ATOMIC_RELAXED), next;
  do {
    next = f(old);
  } while (!__atomic_compare_exchange_n(bits, &old, next, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED));
  return next;
}

}  // namespace sicvm::points
