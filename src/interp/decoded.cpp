// SPDX-License-Identifier: MIT
// Building the decoded form of a machine's code, and the registry that
// keeps the forms of the machines set up in this process.
#include "interp/decoded.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <iterator>
#include <list>
#include <map>
#include <mutex>
#include <strings.h>
#include <utility>

#include "hostrt/sys.h"
#include "interp/call_fields.h"
#include "interp/fast_ops.h"
#include "interp/library_classes.h"
#include "image/var_walk.h"
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

// A call of a standard or host library function whose counts match its row
// and that the row can run: its form, added to the form's calls (x: its
// index); false for the other calls, which the step loop runs.
bool decodeLibraryCall(const VmCommand &cmd, FastEntry &e, DecodedCode &form) {
  if ((cmd.code & 0xFFFFu) != op("call") || static_cast<int32_t>(cmd.code) < 0) return false;
  const uint32_t callClass = call_fields::callClass(cmd);
  const LibraryClass *library = libraryClass(callClass);
  const lib::Row *row = libraryRow(callClass, int32_t(call_fields::target(cmd)));
  if (library == nullptr || row == nullptr || (row->run == nullptr && row->handOn == nullptr)) return false;
  LibraryCallForm c;
  c.row = row;
  c.library = library->name;
  c.function = call_fields::target(cmd);
  c.nin = call_fields::inputs(cmd);
  c.nout = call_fields::outputs(cmd);
  // A gas row checks its own counts, the others are checked here.
  if (row->handOn == nullptr && (c.nin < row->minInputs || c.nin > row->maxInputs || c.nout != row->outputs))
    return false;
  c.onStack = call_fields::callType(cmd) == 1;
  c.first = c.onStack ? 0 : call_fields::first(cmd);
  c.need = std::max<uint32_t>(uint32_t(c.nin) + c.nout, row->cells);
  e = FastEntry{};
  e.x = uint32_t(form.calls.size());
  form.calls.push_back(c);
  return true;
}

// The lists that load_points and save_points of the global segment walk,
// and the timers a load advances, in the order of the walks over the records.
void findLinks(const Image &image, DecodedCode &form) {
  forEachSegmentVar(image, [&](uint32_t k, uint32_t i, const VmVarRecord &record) {
    const VmCell *cell = image.varCell(&record);
    if (cell == nullptr) return;
    const points::LinkedVar var{image.offsetOf(&record), image.offsetOf(cell), k, i, record.type, record.pointField};
    if ((record.classByte & VM_CLASS_MASK) == 1) {
      if (record.classByte & VM_VAR_LOAD) form.loads.push_back(var);
      if (record.classByte & VM_VAR_SAVE) form.saves.push_back(var);
    }
    if (record.type == VM_TYPE_TIME) form.timers.push_back({var.cell, k, i});
  });
  for (uint32_t j = 0; j < image.header()->arrayCount; ++j) {
    const VmArrayRecord *record = image.arrayRecord(j);
    if (record == nullptr || record->type != VM_TYPE_TIME) continue;
    const uint32_t count = record->elementCount;
    const VmCell *cells = image.arrayCells(record, count);
    if (cells != nullptr) form.timerArrays.push_back({image.offsetOf(cells), count, j});
  }
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
      const VmCommand &cmd = ctx.code[i];
      const uint32_t code = cmd.code & 0xFFFFu;
      const bool global = static_cast<int32_t>(cmd.code) >= 0 && cmd.src1.v.w[0] == 0;
      e = FastEntry{};
      if (decodeLibraryCall(cmd, e, *form))
        e.handler = handlers.library;
      else if (global && code == op("load_points"))
        e.handler = handlers.loadPoints;
      else if (global && code == op("save_points"))
        e.handler = handlers.savePoints;
      else
        e.handler = handlers.slow;
      continue;
    }
    if (target != kFinished) e.jump = form->entries.data() + target;
    fast[i] = true;
    const uint32_t code = ctx.code[i].code & 0xFFFFu;
    e.handler = (e.local != 0 ? handlers.mixed : handlers.direct)[code];
  }
  form->entries[ctx.commandCount].handler = handlers.slow;
  findLinks(image, *form);

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

// The forms of the machines set up in this process, ordered by the machine's
// address. The images of the registered forms never overlap (a form is
// registered only after the forms of every image it overlaps are dropped), and
// each machine lies inside its image, so in address order the images are in
// order too: the forms over a range of memory are found from the first machine
// at or after its start and the one before it, in logarithmic time.
//
// A host may set up images, free their memory and never release the machines
// (nothing obliges it to), so the registry keeps forms within a budget of
// memory: past it, the forms least recently run (or registered) are dropped.
// A machine whose form was dropped runs in the step loop, with the same
// results, until it is set up or verified again; a run never builds a form,
// so it allocates nothing.
struct Registry {
  struct Entry {
    std::shared_ptr<const DecodedCode> form;
    uint64_t bytes;
    std::list<const VmMachine *>::iterator recent;  // its place in `byUse`
  };
  std::mutex mutex;
  std::map<const VmMachine *, Entry> forms;
  std::list<const VmMachine *> byUse;  // most recently run first
  uint64_t bytes = 0;
  uint64_t budget = kDefaultFormBudget;

  void erase(std::map<const VmMachine *, Entry>::iterator it) {
    bytes -= it->second.bytes;
    byUse.erase(it->second.recent);
    forms.erase(it);
  }
  // Drops the forms whose images overlap [begin, end).
  void eraseOverlapping(const uint8_t *begin, const uint8_t *end) {
    auto it = forms.lower_bound(reinterpret_cast<const VmMachine *>(begin));
    if (it != forms.begin()) --it;
    while (it != forms.end()) {
      const DecodedCode &form = *it->second.form;
      if (form.base >= end) break;
      auto next = std::next(it);
      if (form.base + form.extent > begin) erase(it);
      it = next;
    }
  }
  void trim() {
    while (bytes > budget && !byUse.empty()) erase(forms.find(byUse.back()));
  }
};

// Never destroyed: a machine may still run while the process unloads the library.
Registry &registry() {
  static Registry *instance = new Registry;
  return *instance;
}

// What a form costs the registry: its tables and the bookkeeping around it.
uint64_t footprint(const DecodedCode &form) {
  return sizeof(DecodedCode) + form.entries.capacity() * sizeof(FastEntry) +
         form.segments.capacity() * sizeof(SegmentForm) + form.cells.capacity() * sizeof(uint32_t) +
         kFormOverhead;
}

}  // namespace

void decodeMachine(VmMachine *machine) noexcept {
  forgetMachine(machine);
  Image image = Image::of(machine);
  if (!image.ok() || !decodingEnabled()) return;
  try {
    std::shared_ptr<const DecodedCode> form = build(image);
    if (form == nullptr) return;
    const uint64_t bytes = footprint(*form);
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (bytes > r.budget) return;  // larger than the whole budget: the step loop runs it
    r.eraseOverlapping(form->base, form->base + form->extent);
    r.byUse.push_front(machine);
    try {
      r.forms.emplace(machine, Registry::Entry{std::move(form), bytes, r.byUse.begin()});
    } catch (...) {
      r.byUse.pop_front();
      throw;
    }
    r.bytes += bytes;
    r.trim();
  } catch (const std::bad_alloc &) {
    // Without memory for the form the machine runs in the step loop.
  }
}

void forgetImage(const void *base, uint64_t size) noexcept {
  const auto *begin = static_cast<const uint8_t *>(base);
  Registry &r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.eraseOverlapping(begin, begin + size);
}

bool forgetMachine(const VmMachine *machine) noexcept {
  Registry &r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.forms.find(machine);
  if (it == r.forms.end()) return false;
  r.erase(it);
  return true;
}

void setFormBudget(uint64_t bytes) noexcept {
  Registry &r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.budget = bytes;
  r.trim();
}

FormUse formUse() noexcept {
  Registry &r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return {r.forms.size(), r.bytes, r.budget};
}

std::shared_ptr<const DecodedCode> decodedFor(const RunContext &ctx) noexcept {
  std::shared_ptr<const DecodedCode> form;
  {
    Registry &r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.forms.find(ctx.machine);
    if (it == r.forms.end()) return nullptr;
    form = it->second.form;
    r.byUse.splice(r.byUse.begin(), r.byUse, it->second.recent);
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
