// SPDX-License-Identifier: MIT
/* Export and linkage macros of the host runtime library (hostrt). */
#ifndef HOSTRT_API_H
#define HOSTRT_API_H

#define HOSTRT_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define HOSTRT_BEGIN_DECLS extern "C" {
#define HOSTRT_END_DECLS }
#else
#define HOSTRT_BEGIN_DECLS
#define HOSTRT_END_DECLS
#endif

#endif
