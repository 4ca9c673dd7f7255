// Load and unload notifications of libsicvm.so.
#include <cstdlib>
#include <ctime>

#include "hostrt/log.h"

namespace {

// When the process loads the library: seed the random generator used by the
// random functions and open the host log.
__attribute__((constructor)) void libraryLoaded() {
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  LogInit(100, 3);
}

// When the process unloads the library: close the host log.
__attribute__((destructor)) void libraryUnloaded() { LogDone(); }

}  // namespace
