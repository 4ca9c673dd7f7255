// SPDX-License-Identifier: MIT
// The log exports: thin forwarders to the host log.
#include "hostrt/log.h"
#include "sicvm/vm.h"

extern "C" {

SICVM_API int32_t VmSetLogProc(VmLogProc proc) { return LogSetDevice(LOG_DEVICE_CALLBACK, proc); }

SICVM_API int32_t VmSetLogContext(const char *name) { return LogSetContext(name); }

SICVM_API int32_t VmGetLogLevel(void) { return LogGetLevel(); }

SICVM_API int32_t VmSetLogLevel(int32_t level) { return LogSetLevel(level); }

}  // extern "C"
