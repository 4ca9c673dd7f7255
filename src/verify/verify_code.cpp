// SPDX-License-Identifier: MIT
// VmVerifyCode: static checks of every command before the first run.
//
// The rule applied to a command is the Check column of its row in the
// command table (interp/commands.def); there is no second list of commands
// here. Codes whose row is UNKNOWN, and codes above the table, are reported
// as unknown commands. That includes 178, 246, 252, 258, 266, 275 and 278:
// they sit among real commands but name none, and the interpreter would stop
// on them, so the verifier refuses them before the program runs.
//
// Each command is checked until its first failure, which is recorded,
// logged and counted; the only exception is `call`, whose class is still
// checked after a bad call type, so one `call` can count two errors. The
// verifier changes nothing in the image but the error record.
#include "foundation/report.h"
#include "hostrt/sys.h"
#include "interp/call_fields.h"
#include "interp/command_table.h"
#include "interp/decoded.h"
#include "interp/library_classes.h"
#include "sicvm/vm.h"

namespace sicvm {
namespace {

// Commands before this code_version use an older command set.
constexpr int32_t kCommandSetVersion = 403;

enum Operand : int { kSrc1, kSrc2, kDst };
constexpr const char *kOperandNames[] = {"SRC1", "SRC2", "DST"};

// The operand kinds a check accepts: one, or either of two.
struct Kinds {
  uint8_t first;
  uint8_t second = 0;
};
constexpr Kinds kConst{VM_KIND_CONST};
constexpr Kinds kVar{VM_KIND_VAR};
constexpr Kinds kArray{VM_KIND_ARRAY};
constexpr Kinds kConstOrVar{VM_KIND_CONST, VM_KIND_VAR};
constexpr Kinds kVarOrArray{VM_KIND_VAR, VM_KIND_ARRAY};

class CodeVerifier {
 public:
  explicit CodeVerifier(const Image &image) : image_(image) {}

  // Checks command i; failures are recorded and counted.
  void verify(uint32_t i, const VmCommand &command);
  int32_t errors() const { return errors_; }

 private:
  uint8_t kindOf(Operand which) const {
    return which == kSrc1 ? cmd_->src1Kind : which == kSrc2 ? cmd_->src2Kind : cmd_->dstKind;
  }
  bool kind(Operand which, Kinds kinds);
  bool positiveCount(const Message<int> &message);
  bool globalOrLocal(const char *what);
  void outdatedNotice();
  void verifyCall();
  void unknown();

  // Records and logs one failure at the current command.
  template <class... Want, class... Args>
  bool fail(const Message<Want...> &message, uint32_t arg1, Args... args) {
    raise(image_, message, index_, arg1, 0, args...);
    ++errors_;
    return false;
  }

  const Image &image_;
  int32_t errors_ = 0;
  uint32_t index_ = 0;
  const VmCommand *cmd_ = nullptr;
};

bool CodeVerifier::kind(Operand which, Kinds kinds) {
  uint8_t found = kindOf(which);
  if (found == kinds.first || (kinds.second != 0 && found == kinds.second)) return true;
  int found8 = static_cast<int8_t>(found);
  int code = static_cast<int32_t>(cmd_->code);
  const char *name = kOperandNames[which];
  if (kinds.second == 0)
    return fail(msg::kOperandKind, static_cast<uint32_t>(found8), code, name, found8, int(kinds.first));
  return fail(msg::kOperandKind2, static_cast<uint32_t>(found8), code, name, found8, int(kinds.first),
              int(kinds.second));
}

// The count in SRC2 word 1, read as signed, must be above 0.
bool CodeVerifier::positiveCount(const Message<int> &message) {
  int32_t count = cmd_->src2.v.i32;
  return count > 0 || fail(message, static_cast<uint32_t>(count), count);
}

// SRC1 word 1 must name the global (0) or the local (1) segment.
bool CodeVerifier::globalOrLocal(const char *what) {
  uint32_t index = cmd_->src1.v.w[0];
  return index <= 1 || fail(msg::kDsNotGlobalOrLocal, index, what, static_cast<int>(index));
}

// Not an error: nothing is recorded or counted.
void CodeVerifier::outdatedNotice() {
  int32_t version = cmd_->src1.v.i32;
  if (version < kCommandSetVersion)
    logProgram(image_, kLevelOutdated, " command set is outdated (found %d, required %d)", version,
               kCommandSetVersion);
}

void CodeVerifier::verifyCall() {
  uint32_t callType = call_fields::callType(*cmd_);
  uint32_t callClass = call_fields::callClass(*cmd_);
  if (callType != 1 && callType != 2)
    fail(msg::kUnknownCallTypeByte, callType, static_cast<unsigned>(callType));

  uint32_t function = call_fields::target(*cmd_);
  if (callClass == VM_CALL_CODE || callClass == VM_CALL_CODE_ALT) {
    uint32_t count = image_.header()->commandCount;
    if (function < 1 || function >= count)
      fail(msg::kInvalidCallAddress, function, static_cast<int>(function));
    return;
  }
  const LibraryClass *library = libraryClass(callClass);
  if (library == nullptr) {
    fail(msg::kUnknownCallClass, callClass, static_cast<unsigned>(callClass));
    return;
  }
  int32_t nin = call_fields::inputs(*cmd_);
  int32_t nout = call_fields::outputs(*cmd_);
  int32_t result = library->entry(0, static_cast<int32_t>(function), nullptr, 0, 0, nin, nout,
                                  image_.machine());
  if (result == 0) return;
  const char *why = result == 1 ? "is unknown" : result == 2 ? "param count mismatch" : "unexpected error";
  raise(image_, msg::kLibraryCheck, index_, function, static_cast<uint32_t>(result), library->name,
        static_cast<int>(function), why, result);
  ++errors_;
}

void CodeVerifier::unknown() {
  uint32_t code = cmd_->code & 0xFFFFu;
  fail(msg::kUnknownCommand, code, static_cast<int>(code));
}

void CodeVerifier::verify(uint32_t i, const VmCommand &command) {
  index_ = i;
  cmd_ = &command;
  const CommandInfo *info = commandInfo(command.code);
  if (info == nullptr) {
    unknown();
    return;
  }
  switch (info->check) {
    case Check::UNKNOWN:
      unknown();
      break;
    case Check::NO_CHECK:
      break;
    case Check::CODE_VERSION:
      if (kind(kSrc1, kConst)) outdatedNotice();
      break;
    case Check::MOV:
      kind(kSrc1, kConstOrVar) && kind(kDst, kVar);
      break;
    case Check::PUSH_CONST:
      kind(kSrc1, kConst);
      break;
    case Check::PUSH_VARS:
      kind(kSrc1, kVar) && kind(kSrc2, kConst) && positiveCount(msg::kInvalidPushCount);
      break;
    case Check::POP_VARS:
      kind(kSrc1, kVar) && kind(kSrc2, kConst) && positiveCount(msg::kInvalidPopCount);
      break;
    case Check::PUSH_EMPTY:
      kind(kSrc2, kConst) && positiveCount(msg::kInvalidPushEmptyCount);
      break;
    case Check::AGET:
      kind(kSrc1, kArray) && kind(kSrc2, kConstOrVar) && kind(kDst, kVar);
      break;
    case Check::APUT:
      kind(kDst, kArray) && kind(kSrc1, kConstOrVar) && kind(kSrc2, kVar);
      break;
    case Check::ACOPY:
      kind(kSrc1, kArray) && kind(kDst, kArray);
      break;
    case Check::ACOPY_ABS:
      kind(kSrc1, kConstOrVar) && kind(kDst, kArray);
      break;
    case Check::BINARY:
      kind(kSrc1, kConstOrVar) && kind(kSrc2, kConstOrVar) && kind(kDst, kVar);
      break;
    case Check::UNARY:
      kind(kSrc1, kConstOrVar) && kind(kDst, kVar);
      break;
    case Check::COMPARE:
      kind(kSrc1, kConstOrVar) && kind(kSrc2, kConstOrVar);
      break;
    case Check::TEST:
      kind(kDst, kVar);
      break;
    case Check::JUMP:
      kind(kSrc1, kConst);
      break;
    case Check::IF:
      kind(kSrc1, kConstOrVar) && kind(kSrc2, kConst);
      break;
    case Check::SET_DS:
      kind(kSrc1, kConstOrVar) && globalOrLocal("Set") && kind(kSrc2, kConstOrVar);
      break;
    case Check::LOAD_POINTS:
      kind(kSrc1, kConst) && globalOrLocal("Load direct vars");
      break;
    case Check::SAVE_POINTS:
      kind(kSrc1, kConst) && globalOrLocal("Save direct vars");
      break;
    case Check::CALL:
      if (kind(kSrc1, kConst) && kind(kSrc2, kConst)) verifyCall();
      break;
    case Check::TIMER:
      kind(kSrc1, kVarOrArray) && kind(kDst, kVar) &&
          (cmd_->src1Kind != VM_KIND_ARRAY || kind(kSrc2, kConstOrVar));
      break;
  }
}

}  // namespace

}  // namespace sicvm

using sicvm::Image;

extern "C" SICVM_API int32_t VmVerifyCode(VmMachine *machine) {
  Image image = Image::of(machine);
  if (!image.ok()) return -1;
  const VmCommand *code = image.at<VmCommand>(machine->code, image.header()->commandCount);
  if (code == nullptr) {
    _winseterrno(22);
    return -1;
  }
  sicvm::CodeVerifier verifier(image);
  for (uint32_t i = 0; i < image.header()->commandCount; ++i) verifier.verify(i, code[i]);
  // Decoded again, so that a host that changed the code since set-up runs what it verified.
  sicvm::interp::decodeMachine(machine);
  if (verifier.errors() != 0) {
    sicvm::logProgram(image, sicvm::kLevelInfo, ": Code verification failed, found %d errors\n",
                      verifier.errors());
    return -1;
  }
  sicvm::logProgram(image, sicvm::kLevelInfo, ": Code verification successful\n");
  return 0;
}
