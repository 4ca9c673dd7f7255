// SPDX-License-Identifier: MIT
/* sicvm: runs compiled IEC 61131-3 control programs (SIC images) in a host. */
#ifndef SICVM_SICVM_H
#define SICVM_SICVM_H

#include "sicvm/convert.h"
#include "sicvm/datetime.h"
#include "sicvm/gas.h"
#include "sicvm/image.h"
#include "sicvm/library.h"
#include "sicvm/points.h"
#include "sicvm/text.h"
#include "sicvm/version.h"
#include "sicvm/vm.h"

#endif
