// SPDX-License-Identifier: MIT
/* The host runtime library: everything the sicvm library relies on from its host. */
#ifndef HOSTRT_HOSTRT_H
#define HOSTRT_HOSTRT_H

#include "hostrt/datetime.h"
#include "hostrt/fmt.h"
#include "hostrt/log.h"
#include "hostrt/numbers.h"
#include "hostrt/points.h"
#include "hostrt/store.h"
#include "hostrt/sys.h"

#endif
