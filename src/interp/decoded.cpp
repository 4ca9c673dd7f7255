// SPDX-License-Identifier: MIT
// Building the decoded form of a machine's code, and the registry that
// keeps the forms of the machines set up in this process.
#include "interp/decoded.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <mutex>
#include <strings.h>
#include <unordered_map>
#include <utility>

#include "hostrt/sys.h"
#include "interp/call_fields.h"
#include "interp/fast_ops.h"
#include "sicvm/vm.h"

namespace sicvm::interp {
namespace {

template <size_t... Codes>
constexpr std::array<fast::Use, VM_COMMAND_CODES> usesOf(std::index_sequence<Codes...>) {
  return {fast::useOf<Codes>()...};
}
constexpr std::array<fast::Use, VM_COMMAND_CODES> kUses = usesOf(std::make_index_sequence<VM_COMMAND_CODES>{});

// SICVM_DECODE set to 0 or off runs every machine in the step loop alone.
bool decodingEnabled() {
  const char *value = std::getenv("SICVM_DECODE");
  return value == nullptr || (std::strcmp(value, "0") != 0 && strcasecmp(value, "off") != 0);
}

// Byte ranges [begin, end) of the image.
struct Range {
  uint64_t begin, end;
};

// What the decoded form caches (code, segment table, data segments, array
// records) must not lie under anything a program can write.
class Overlaps {
 public:
  void keep(uint64_t offset, uint64_t length) {
    if (length != 0) kept_.push_back({offset, offset + length});
  }
  void written(uint64_t offset, uint64_t length) {
    if (length != 0) written_.push_back({offset, offset + length});
  }
  bool any() {
    std::sort(kept_.begin(), kept_.end(), [](Range a, Range b) { return a.begin < b.begin; });
    // Running maximum of the ends, so that one binary search per written
    // range finds whether any kept range reaches into it.
    std::vector<uint64_t> reach(kept_.size());
    uint64_t end = 0;
    for (size_t i = 0; i < kept_.size(); ++i) reach[i] = end = std::max(end, kept_[i].end);
    for (const Range &w : written_) {
      // Kept ranges that begin before w ends; the last of them reaches furthest.
      auto it = std::lower_bound(kept_.begin(), kept_.end(), w.end, [](Range k, uint64_t e) { return k.begin < e; });
      if (it != kept_.begin() && reach[size_t(it - kept_.begin()) - 1] > w.begin) return true;
    }
    return false;
  }

 private:
  std::vector<Range> kept_, written_;
};

// Operand w (0 SRC1, 1 SRC2, 2 DST) of a command as the decoded loop uses it; false when the
// step loop must run the command (a var that does not resolve, a segment
// index other than 0 and 1, a written DST that is not a var).
bool decodeOperand(const RunContext &ctx, const VmCommand &cmd, unsigned w, bool written,
                   uint32_t &out, uint8_t &local) {
  const VmCell &operand = w == 0 ? cmd.src1 : w == 1 ? cmd.src2 : cmd.dst;
  const uint8_t kind = w == 0 ? cmd.src1Kind : w == 1 ? cmd.src2Kind : cmd.dstKind;
  if (kind != VM_KIND_VAR) {
    if (written) return false;
    out = ctx.image.offsetOf(&operand);
    return true;
  }
  const uint32_t s = operand.v.w[0], n = operand.v.w[1];
  if (s == 1) {
    out = n;
    local |= uint8_t(1u << w);
    return true;
  }
  const VmCell *cell = s == 0 ? ctx.varCell(0, n) : nullptr;
  if (cell == nullptr) return false;
  out = ctx.image.offsetOf(cell);
  return true;
}

// set_ds (x: var 0 of its segment slot, as an operand, y: the offset), a
// call inside the code (its target and return address) and ret; false for
// the other forms.
bool decodeSubroutine(const RunContext &ctx, const VmCommand &cmd, uint32_t i, uint32_t code, FastEntry &e,
                      uint32_t &target) {
  if (code == op("set_ds")) {
    const uint32_t s = cmd.src1.v.w[0];
    e.y = cmd.src2.v.w[0];
    if (s == 1) {
      e.x = 0;
      e.local = kLocalX;
      return true;
    }
    const VmCell *var0 = s == 0 ? ctx.varCell(0, 0) : nullptr;
    if (var0 == nullptr) return false;
    e.x = ctx.image.offsetOf(var0);
    return true;
  }
  if (code == op("call")) {
    const uint32_t callClass = call_fields::callClass(cmd);
    target = call_fields::target(cmd);
    e.y = i + 1;
    return (callClass == VM_CALL_CODE || callClass == VM_CALL_CODE_ALT) && target < ctx.commandCount;
  }
  return true;  // ret
}

// push_const (x: its SRC1, whatever its kind, as the step loop pushes the
// record's value field), and push_vars and pop_vars of one var of the
// global segment that resolves (x: its cell), pushing only a plain var
// (classes 1 to 3); false for the other forms.
bool decodeStack(const RunContext &ctx, const VmCommand &cmd, uint32_t code, FastEntry &e) {
  if (code == op("push_const")) {
    e.x = ctx.image.offsetOf(&cmd.src1);
    return true;
  }
  if (cmd.src1Kind != VM_KIND_VAR || cmd.src1.v.w[0] != 0 || cmd.src2.v.w[0] != 1) return false;
  const VmVarRecord *record = ctx.varRecord(0, cmd.src1.v.w[1]);
  const VmCell *cell = record ? ctx.cellAt(record->cell) : nullptr;
  if (cell == nullptr) return false;
  const unsigned typeClass = record->classByte & VM_CLASS_MASK;
  if (code == op("push_vars") && (typeClass < 1 || typeClass > 3)) return false;
  e.x = ctx.image.offsetOf(cell);
  return true;
}

// The entry of command i, without its handler and jump, and its jump
// target (kFinished for none); false when the step loop must run it.
bool decodeEntry(const RunContext &ctx, uint32_t i, FastEntry &e, uint32_t &target) {
  const VmCommand &cmd = ctx.code[i];
  if (static_cast<int32_t>(cmd.code) < 0) return false;
  const uint32_t code = cmd.code & 0xFFFFu;
  if (code >= VM_COMMAND_CODES || !kUses[code].handled) return false;
  if (code == op("set_ds") || code == op("call") || code == op("ret")) return decodeSubroutine(ctx, cmd, i, code, e, target);
  if (code == op("push_const") || code == op("push_vars") || code == op("pop_vars")) return decodeStack(ctx, cmd, code, e);
  const fast::Use use = kUses[code];
  if (use.x && !decodeOperand(ctx, cmd, 0, false, e.x, e.local)) return false;
  if (use.y && !decodeOperand(ctx, cmd, 1, false, e.y, e.local)) return false;
  if (use.d && !decodeOperand(ctx, cmd, 2, true, e.d, e.local)) return false;
  if (use.target != 0) {
    target = use.target == 1 ? cmd.src1.v.w[0] : cmd.src2.v.w[0];
    // A jump out of the code runs in the step loop, which stops at the next step.
    if (target >= ctx.commandCount) return false;
  }
  return true;
}

std::unique_ptr<DecodedCode> build(const Image &image) {
  RunContext ctx;
  if (!ctx.open(image) || ctx.segment[0].location == 0) return nullptr;
  const VmMachine &m = *ctx.machine;
  const VmHeader &h = *image.header();
  auto form = std::make_unique<DecodedCode>();
  form->base = ctx.base;
  form->extent = image.extent();
  form->machine = ctx.machine;
  form->code = m.code;
  form->commandCount = ctx.commandCount;
  form->globalSegment = ctx.segment[0].location;

  Overlaps overlaps;
  overlaps.keep(m.code, uint64_t(ctx.commandCount) * VM_COMMAND_SIZE);
  overlaps.keep(m.segmentTable, uint64_t(ctx.segmentCount) * 4);
  overlaps.keep(m.arrays, uint64_t(ctx.arrayCount) * VM_ARRAY_RECORD_SIZE);
  overlaps.written(h.segmentVarsOffset, uint64_t(h.segmentVarCount) * VM_CELL_SIZE);
  if (ctx.arrayCount != 0) overlaps.written(h.arrayVarsOffset, uint64_t(h.arrayVarCount) * VM_CELL_SIZE);
  overlaps.written(m.paramStack, uint64_t(ctx.paramStackSize) * VM_CELL_SIZE);
  overlaps.written(m.callStack, uint64_t(ctx.callStackSize) * VM_CALL_ENTRY_SIZE);
  overlaps.written(m.stateBlock, VM_STATE_SIZE);
  for (uint32_t j = 0; j < ctx.arrayCount; ++j) {
    const VmArrayRecord *array = image.arrayRecord(j);
    if (array != nullptr && image.arrayCells(array, array->elementCount) != nullptr)
      overlaps.written(array->firstCell, uint64_t(array->elementCount) * VM_CELL_SIZE);
  }

  const uint32_t global = ctx.segment[0].location;
  overlaps.keep(global, 4 + uint64_t(image.varCount(global)) * VM_VAR_RECORD_SIZE);
  // Every data segment's var records and the cells they locate.
  std::vector<uint32_t> first;
  for (uint32_t k = 0; k < ctx.segmentCount; ++k) {
    SegmentForm segment;
    segment.number = k;
    segment.location = image.segmentLocation(k);
    segment.slot = ctx.slotFor(segment.location);
    first.push_back(uint32_t(form->cells.size()));
    if (segment.location != 0) {
      overlaps.keep(segment.location, 4 + uint64_t(image.varCount(segment.location)) * VM_VAR_RECORD_SIZE);
      for (const VmVarRecord *record; (record = image.varRecord(segment.location, segment.vars)) != nullptr;
           ++segment.vars) {
        if (image.varCell(record) == nullptr) break;
        const uint32_t cell = record->cell;  // records may lie unaligned: copy, never bind
        form->cells.push_back(cell);
        overlaps.written(cell, VM_CELL_SIZE);
      }
    }
    form->segments.push_back(segment);
  }
  // `cells` is complete: now its addresses hold.
  for (uint32_t k = 0; k < ctx.segmentCount; ++k) form->segments[k].cells = form->cells.data() + first[k];
  if (overlaps.any()) return nullptr;

  const FastHandlers &handlers = *runDecoded(nullptr, nullptr);
  form->entries.resize(size_t(ctx.commandCount) + 1);
  std::vector<bool> fast(ctx.commandCount, false);
  for (uint32_t i = 0; i < ctx.commandCount; ++i) {
    FastEntry &e = form->entries[i];
    uint32_t target = kFinished;
    if (!decodeEntry(ctx, i, e, target)) {
      e = FastEntry{};
      e.handler = handlers.slow;
      continue;
    }
    if (target != kFinished) e.jump = form->entries.data() + target;
    fast[i] = true;
    const uint32_t code = ctx.code[i].code & 0xFFFFu;
    e.handler = (e.local != 0 ? handlers.mixed : handlers.direct)[code];
  }
  form->entries[ctx.commandCount].handler = handlers.slow;

  // Pairs that the first command's entry runs both of (the second keeps
  // its own entry, for jumps that land on it): a compare and the
  // conditional jump after it, and a set_ds and the call after it.
  for (uint32_t i = 0; i + 1 < ctx.commandCount; ++i) {
    if (!fast[i] || !fast[i + 1]) continue;
    const uint32_t c = ctx.code[i].code & 0xFFFFu, j = ctx.code[i + 1].code & 0xFFFFu;
    FastEntry &e = form->entries[i];
    const FastEntry &second = form->entries[i + 1];
    if (c >= op("cmd_bool") && c <= op("cmd_lreal") && j >= op("jmp_eq") && j <= op("jmp_ge")) {
      e.handler = handlers.fused[(c - op("cmd_bool")) * 12 + (j - op("jmp_eq")) * 2 + (e.local != 0)];
    } else if (c == op("set_ds") && j == op("call")) {
      e.d = second.y;
      e.handler = handlers.setDsCall[e.local != 0];
    } else {
      continue;
    }
    e.jump = second.jump;
  }
  return form;
}

struct Registry {
  std::mutex mutex;
  std::unordered_map<const VmMachine *, std::shared_ptr<const DecodedCode>> forms;
};

// Never destroyed: a machine may still run while the process unloads the library.
Registry &registry() {
  static Registry *instance = new Registry;
  return *instance;
}

}  // namespace

void decodeMachine(VmMachine *machine) noexcept {
  forgetMachine(machine);
  Image image = Image::of(machine);
  if (!image.ok() || !decodingEnabled()) return;
  try {
    std::shared_ptr<const DecodedCode> form = build(image);
    if (form == nullptr) return;
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.forms[machine] = std::move(form);
  } catch (const std::bad_alloc &) {
    // Without memory for the form the machine runs in the step loop.
  }
}

void forgetImage(const void *base, uint64_t size) noexcept {
  const auto *begin = static_cast<const uint8_t *>(base);
  Registry &r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  for (auto it = r.forms.begin(); it != r.forms.end();) {
    const DecodedCode &form = *it->second;
    if (form.base < begin + size && begin < form.base + form.extent) {
      it = r.forms.erase(it);
    } else {
      ++it;
    }
  }
}

bool forgetMachine(const VmMachine *machine) noexcept {
  Registry &r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.forms.erase(machine) != 0;
}

std::shared_ptr<const DecodedCode> decodedFor(const RunContext &ctx) noexcept {
  std::shared_ptr<const DecodedCode> form;
  {
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.forms.find(ctx.machine);
    if (it == r.forms.end()) return nullptr;
    form = it->second;
  }
  if (form->base != ctx.base || form->extent != ctx.image.extent() || form->code != ctx.machine->code ||
      form->commandCount != ctx.commandCount || form->globalSegment != ctx.segment[0].location)
    return nullptr;
  return form;
}

bool runsDecoded(VmMachine *machine) noexcept {
  RunContext ctx;
  return ctx.open(Image::of(machine)) && decodedFor(ctx) != nullptr;
}

}  // namespace sicvm::interp

extern "C" SICVM_API int32_t VmReleaseMachine(VmMachine *machine) {
  if (machine == nullptr) {
    _winseterrno(22);
    return -1;
  }
  sicvm::interp::forgetMachine(machine);
  return 0;
}
