// SPDX-License-Identifier: MIT
// Version of the library, as the build configured it.
#include "sicvm/version.h"

extern "C" SICVM_API const char *VmGetVersion(uint32_t *major, uint32_t *minor, uint32_t *patch) {
  if (major) *major = SICVM_VERSION_MAJOR;
  if (minor) *minor = SICVM_VERSION_MINOR;
  if (patch) *patch = SICVM_VERSION_PATCH;
  return SICVM_VERSION_STRING;
}
