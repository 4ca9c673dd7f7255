// SPDX-License-Identifier: MIT
// Load and unload notifications of libsicvm.so.
#include <ctime>

#include "hostlib/random.h"
#include "hostrt/log.h"

namespace {

// When the process loads the library: seed the random generator of the host
// library's random functions with the time in seconds, and open the host log.
__attribute__((constructor)) void libraryLoaded() {
  sicvm::hostlib::seedRandom(static_cast<uint32_t>(std::time(nullptr)));
  LogInit(100, 3);
}

// When the process unloads the library: close the host log.
__attribute__((destructor)) void libraryUnloaded() { LogDone(); }

}  // namespace
