// SPDX-License-Identifier: MIT
// Program messages: the log lines about one program, and the one path by
// which the library records an error and reports it.
#pragma once

#include <cstdint>

#include "foundation/messages.h"
#include "hostrt/log.h"
#include "image/image.h"

namespace sicvm {

// True when a message of `level` would be emitted; asked before formatting.
inline bool logEnabled(int level) { return LogGetLevel() >= level; }

// Logs "Program \"<name>\" (<number>)" followed by the formatted rest, when
// the level allows it.
void logProgram(const Image &image, int level, const char *format, ...)
    __attribute__((format(printf, 3, 4)));

// Records an error in the machine's error record (the last error wins).
// Returns the previous code; -1 when the machine's record is not reachable.
int32_t recordError(const Image &image, int32_t code, uint32_t address, uint32_t arg1,
                    uint32_t arg2);

namespace detail {
// The reports below, after their arguments have been checked against the
// message and converted to the types its conversions read.
void raise(const Image &image, const MessageText &message, uint32_t address, uint32_t arg1,
           uint32_t arg2, ...);
void raiseForVar(const Image &image, const MessageText &message, uint32_t address, uint32_t arg1,
                 uint32_t arg2, uint32_t segment, uint32_t var, ...);
void raiseForArray(const Image &image, const MessageText &message, uint32_t address, uint32_t arg1,
                   uint32_t arg2, uint32_t array, ...);
}  // namespace detail

// Records `message` with (address, arg1, arg2) and logs it at its level with
// the prefix "Program \"%s\" (%d) error %d at addr %05d: " (address printed),
// followed by the message text formatted with `args`: exactly the arguments
// the text takes, each of the kind its conversion reads (checked when this
// compiles; see messages.h).
template <class... Want, class... Given>
void raise(const Image &image, const Message<Want...> &message, uint32_t address, uint32_t arg1,
           uint32_t arg2, Given... args) {
  Message<Want...>::template checkArguments<Given...>();
  detail::raise(image, message, address, arg1, arg2, static_cast<Want>(args)...);
}

// The same for the var prefixes: "... error %d of var %d:%05d: " (OfVar) or
// "... error %d at var %d:%05d: " (AtVar), with segment and var numbers.
template <class... Want, class... Given>
void raiseForVar(const Image &image, const Message<Want...> &message, uint32_t address, uint32_t arg1,
                 uint32_t arg2, uint32_t segment, uint32_t var, Given... args) {
  Message<Want...>::template checkArguments<Given...>();
  detail::raiseForVar(image, message, address, arg1, arg2, segment, var, static_cast<Want>(args)...);
}

// The same for the array prefix "... error %d of array %d: ".
template <class... Want, class... Given>
void raiseForArray(const Image &image, const Message<Want...> &message, uint32_t address, uint32_t arg1,
                   uint32_t arg2, uint32_t array, Given... args) {
  Message<Want...>::template checkArguments<Given...>();
  detail::raiseForArray(image, message, address, arg1, arg2, array, static_cast<Want>(args)...);
}

}  // namespace sicvm
