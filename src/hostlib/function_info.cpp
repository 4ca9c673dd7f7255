// SPDX-License-Identifier: MIT
// VmGetLibraryFunction: the rows of the two function libraries' tables.
#include "hostlib/hostlib.h"
#include "hostrt/sys.h"
#include "sicvm/library.h"
#include "sicvm/vm.h"
#include "stdlib/stdlib.h"

SICVM_API int32_t VmGetLibraryFunction(int32_t callClass, int32_t index, VmFunctionInfo *info) {
  std::span<const sicvm::lib::Row> table;
  if (callClass == VM_CALL_STANDARD) table = sicvm::stdlib::table();
  else if (callClass == VM_CALL_HOST) table = sicvm::hostlib::table();
  if (table.empty() || index < 0 || info == nullptr) {
    _winseterrno(22);
    return -1;
  }
  if (static_cast<size_t>(index) >= table.size()) return 0;
  const sicvm::lib::Row &row = table[static_cast<size_t>(index)];
  *info = VmFunctionInfo{row.number, row.name, row.minInputs, row.maxInputs, row.outputs, row.cells,
                         static_cast<uint8_t>(row.run != nullptr || row.handOn != nullptr), row.valueType, {}, row.signature};
  return 1;
}
