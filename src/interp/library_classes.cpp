// SPDX-License-Identifier: MIT
// The call classes served by function libraries.
#include "interp/library_classes.h"

#include "hostlib/hostlib.h"
#include "interp/external_call.h"
#include "stdlib/stdlib.h"

namespace sicvm {
namespace {

constexpr LibraryClass kClasses[] = {
    {VM_CALL_STANDARD, "Standard", &stdlib::dispatch},
    {VM_CALL_HOST, "Velmora", &hostlib::dispatch},
    {VM_CALL_EXTERNAL, "External", &callExternal},
};

}  // namespace

const LibraryClass *libraryClass(uint32_t callClass) noexcept {
  for (const LibraryClass &c : kClasses)
    if (c.callClass == callClass) return &c;
  return nullptr;
}

}  // namespace sicvm
