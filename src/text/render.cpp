// SPDX-License-Identifier: MIT
// Text rendering exports: commands, mnemonics, typed values, code, var and
// array addresses.
//
// Each export writes into the caller's buffer or, without one, into a static
// buffer of its own (overwritten by the next call of the same export). Texts
// are written with the limits of the static buffer sizes, so a caller's buffer
// of that size can never overflow; the last byte of a limited buffer is
// always set to NUL.
#include <cstdint>

#include "hostrt/datetime.h"
#include "hostrt/fmt.h"
#include "hostrt/sys.h"
#include "interp/command_table.h"
#include "sicvm/text.h"
#include "text/listing.h"
#include "text/text_buffer.h"

namespace sicvm::text {
namespace {

enum { kOperandTextSize = 64, kTimeTextSize = 48, kDtTextSize = 48 };

// Keeps the host error number as it was: the date and time helpers set it
// for values they cannot format, and rendering reports no errors.
class KeepHostErrno {
 public:
  KeepHostErrno() : saved_(_wingeterrno()) {}
  ~KeepHostErrno() { _winseterrno(saved_); }

 private:
  int saved_;
};

// "-" for a negative duration, then each non-zero field of days, hours,
// minutes, seconds and milliseconds with its unit and a '_' between them;
// "0s" when nothing was written at all.
void timeText(double ms, TextBuffer &out) {
  TmDurationRecord record{};
  {
    KeepHostErrno keep;
    TmDecodeTime(ms, &record);
  }
  if (ms < 0.0) out.put('-');
  const int32_t fields[] = {record.days, record.hours, record.minutes, record.seconds,
                            record.milliseconds};
  const char *units[] = {"d_", "h_", "m_", "s_", "ms_"};
  for (int i = 0; i < 5; ++i)
    if (fields[i] != 0) out.format("%d%s", fields[i], units[i]);
  if (out.length() > 0 && out.text()[out.length() - 1] == '_') out.drop();
  if (out.length() == 0) out.put("0s");
}

// The date and time in the host's pattern "yyyy/mm/dd-hh:mm:ss" with '-' as
// the date separator and ':' as the time separator. A value the host cannot
// format (not finite, far out of range) gives an empty text.
void dtText(double dt, char (&buffer)[kDtTextSize]) {
  KeepHostErrno keep;
  unsigned char locale[FMT_LOCALE_INFO_SIZE] = {};
  FmtGetLocaleInfo(locale);
  locale[1] = '-';
  locale[2] = ':';
  buffer[0] = '\0';
  FmtDateTimeToStrEx(buffer, kDtTextSize, "yyyy/mm/dd-hh:mm:ss", dt, locale);
  buffer[kDtTextSize - 1] = '\0';
}

void valueText(const VmCell &cell, int32_t type, TextBuffer &out) {
  const VmValue &v = cell.v;
  switch (type) {
    case VM_TYPE_BOOL: out.format("BOOL#%d", v.b); break;
    case VM_TYPE_DINT: out.format("DINT#%d", v.i32); break;
    case VM_TYPE_LREAL: out.format("LREAL#%g", v.f64); break;
    case VM_TYPE_INT: out.format("INT#%d", v.i16); break;
    case VM_TYPE_REAL: out.format("REAL#%g", static_cast<double>(v.f32)); break;
    case VM_TYPE_TIME: {
      char time[kTimeTextSize];
      TextBuffer text(time, sizeof time);
      timeText(v.f64, text);
      out.format("T#%s", time);
      break;
    }
    case VM_TYPE_DT: {
      char dt[kDtTextSize];
      dtText(v.f64, dt);
      out.format("DT#%s", dt);
      break;
    }
    default: out.format("TYPE%d#%08X%08X", type, v.w[0], v.w[1]); break;
  }
}

// The listing's style: constants and addresses exactly as the exports print them.
struct ListingStyle {
  void mnemonic(uint32_t codeWord, TextBuffer &out) {
    char name[VM_OPCODE_TEXT_SIZE];
    out.put(VmOpCodeToStr(codeWord, name));
  }
  void constant(const VmCell &cell, int type, TextBuffer &out) {
    char text[kOperandTextSize];
    out.put(VmValueToStr(&cell, type, text));
  }
  void varAddress(uint32_t segment, uint32_t var, TextBuffer &out) {
    char text[kOperandTextSize];
    out.put(VmVarAddrToStr(segment, var, text));
  }
  void arrayAddress(uint32_t segment, uint32_t array, TextBuffer &out) {
    char text[kOperandTextSize];
    out.put(VmArrayAddrToStr(segment, array, text));
  }
  void codeAddress(uint32_t address, TextBuffer &out) {
    char text[VM_ADDR_TEXT_SIZE];
    out.put(VmAddrToStr(address, text));
  }
};

}  // namespace
}  // namespace sicvm::text

using sicvm::text::TextBuffer;

extern "C" {

SICVM_API char *VmOpCodeToStr(uint32_t code, char *buffer) {
  static char own[VM_OPCODE_TEXT_SIZE];
  char *text = buffer ? buffer : own;
  TextBuffer out(text, VM_OPCODE_TEXT_SIZE);
  uint32_t low = code & 0xFFFFu;
  if (low >= VM_COMMAND_CODES)
    out.format("%u", low);
  else
    out.put(sicvm::kCommands[low].mnemonic);
  return text;
}

SICVM_API char *VmAddrToStr(uint32_t address, char *buffer) {
  static char own[VM_ADDR_TEXT_SIZE];
  char *text = buffer ? buffer : own;
  TextBuffer out(text, VM_ADDR_TEXT_SIZE);
  out.format("%05u", address);
  text[VM_ADDR_TEXT_SIZE - 1] = '\0';
  return text;
}

SICVM_API char *VmVarAddrToStr(uint32_t segment, uint32_t var, char *buffer) {
  static char own[VM_VAR_ADDR_TEXT_SIZE];
  char *text = buffer ? buffer : own;
  TextBuffer out(text, VM_VAR_ADDR_TEXT_SIZE);
  out.format("vars[%u:%05u]", segment, var);
  text[VM_VAR_ADDR_TEXT_SIZE - 1] = '\0';
  return text;
}

SICVM_API char *VmArrayAddrToStr(uint32_t segment, uint32_t array, char *buffer) {
  static char own[VM_ARRAY_ADDR_TEXT_SIZE];
  char *text = buffer ? buffer : own;
  char base[VM_VAR_ADDR_TEXT_SIZE];
  TextBuffer out(text, VM_ARRAY_ADDR_TEXT_SIZE);
  out.format("arrays[%s+%u]", VmVarAddrToStr(segment, 1, base), array);
  text[VM_ARRAY_ADDR_TEXT_SIZE - 1] = '\0';
  return text;
}

SICVM_API char *VmValueToStr(const VmCell *cell, int32_t type, char *buffer) {
  static char own[VM_VALUE_TEXT_SIZE];
  char *text = buffer ? buffer : own;
  TextBuffer out(text, VM_VALUE_TEXT_SIZE);
  if (cell) sicvm::text::valueText(*cell, type, out);
  return text;
}

SICVM_API char *VmCmdToStr(const VmCommand *command, char *buffer) {
  static char own[VM_CMD_TEXT_SIZE];
  char *text = buffer ? buffer : own;
  TextBuffer out(text, VM_CMD_TEXT_SIZE);
  if (command) {
    sicvm::text::ListingStyle style;
    sicvm::text::renderCommand(*command, out, style);
  }
  text[VM_CMD_TEXT_SIZE - 1] = '\0';
  return text;
}

}  // extern "C"
