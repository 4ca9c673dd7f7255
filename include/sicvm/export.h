// SPDX-License-Identifier: MIT
/* Linkage macros of the sicvm public headers. */
#ifndef SICVM_EXPORT_H
#define SICVM_EXPORT_H

/* Marks a function exported from libsicvm.so; everything else is hidden. */
#define SICVM_API __attribute__((visibility("default")))

/* Image records have no padding and may sit at any byte offset. */
#define SICVM_PACKED __attribute__((packed))

#ifdef __cplusplus
#define SICVM_BEGIN_DECLS extern "C" {
#define SICVM_END_DECLS }
#define SICVM_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define SICVM_BEGIN_DECLS
#define SICVM_END_DECLS
#define SICVM_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

#endif
