// SPDX-License-Identifier: MIT
// Program messages and error reports.
#include "foundation/report.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

namespace sicvm {
namespace {

// Formats the program prefix, then `head` (already formatted), then the
// message text with its arguments, and logs the whole line once. Writing the
// log must not disturb errno, which carries math errors in errno mode.
void emit(const Image &image, int level, const char *head, const char *format, va_list args) {
  int savedErrno = errno;
  char text[LOG_MESSAGE_MAX];
  std::vsnprintf(text, sizeof text, format, args);
  char name[VM_PROGRAM_NAME_SIZE];
  LogPrintf(level, "Program \"%s\" (%d)%s%s", image.programName(name), image.programNumber(), head,
            text);
  errno = savedErrno;
}

}  // namespace

void logProgram(const Image &image, int level, const char *format, ...) {
  if (!logEnabled(level)) return;
  va_list args;
  va_start(args, format);
  emit(image, level, "", format, args);
  va_end(args);
}

int32_t recordError(const Image &image, int32_t code, uint32_t address, uint32_t arg1,
                    uint32_t arg2) {
  Word *flags = image.statusFlags();
  SignedWord *codeWord = image.errorCode();
  Word *addressWord = image.errorAddress();
  Word *arg1Word = image.errorArg1();
  Word *arg2Word = image.errorArg2();
  if (!flags || !codeWord || !addressWord || !arg1Word || !arg2Word) return -1;
  int32_t previous = *codeWord;
  *flags |= VM_STATUS_ERROR;
  *codeWord = code;
  *addressWord = address;
  *arg1Word = arg1;
  *arg2Word = arg2;
  return previous;
}

namespace detail {

void raise(const Image &image, const MessageText &message, uint32_t address, uint32_t arg1,
           uint32_t arg2, ...) {
  recordError(image, message.code, address, arg1, arg2);
  if (!logEnabled(message.level)) return;
  char head[64];
  std::snprintf(head, sizeof head, " error %d at addr %05d: ", message.code,
                static_cast<int>(address));
  va_list args;
  va_start(args, arg2);
  emit(image, message.level, head, message.text, args);
  va_end(args);
}

void raiseForVar(const Image &image, const MessageText &message, uint32_t address, uint32_t arg1,
                 uint32_t arg2, uint32_t segment, uint32_t var, ...) {
  recordError(image, message.code, address, arg1, arg2);
  if (!logEnabled(message.level)) return;
  char head[64];
  std::snprintf(head, sizeof head, " error %d %s var %d:%05d: ", message.code,
                message.prefix == Prefix::OfVar ? "of" : "at", static_cast<int>(segment),
                static_cast<int>(var));
  va_list args;
  va_start(args, var);
  emit(image, message.level, head, message.text, args);
  va_end(args);
}

void raiseForArray(const Image &image, const MessageText &message, uint32_t address, uint32_t arg1,
                   uint32_t arg2, uint32_t array, ...) {
  recordError(image, message.code, address, arg1, arg2);
  if (!logEnabled(message.level)) return;
  char head[48];
  std::snprintf(head, sizeof head, " error %d of array %d: ", message.code, static_cast<int>(array));
  va_list args;
  va_start(args, array);
  emit(image, message.level, head, message.text, args);
  va_end(args);
}

}  // namespace detail
}  // namespace sicvm
