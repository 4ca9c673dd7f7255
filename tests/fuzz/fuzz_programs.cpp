// SPDX-License-Identifier: MIT
// libFuzzer target for whole programs. The input drives a generator of
// well-formed images (the image builder: data segments with typed vars,
// point links and array references, arrays, and commands of every code with
// operand kinds biased towards what the verifier accepts, library calls of
// every class with real function numbers), sometimes with blocks placed at
// odd offsets and words patched over the result. Each image is set up over
// an exact-size heap copy, verified, linked to a small point database and,
// verified or not, run for a few cycles (sometimes one command at a time).
//
// After every cycle the target checks what no program may change: the
// header, the Machine Block's set-up locations and host fields, the Data
// Segment Table, the data segments, the Arrays Block, the host's point
// configuration table and, for a verified program, its code; that the
// stacks' depths lie within them; and that the cycle ran at most
// commandLimit + 1 commands. A violation aborts with a message. At exit the
// target prints how many images it made, set up, verified and ran.
//
// Build with the preset `fuzz` (see README), then for example
//   ./build-fuzz/tests/fuzz/fuzz_programs -max_total_time=3600 -timeout=10
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "hostlib/hostlib.h"
#include "hostrt/points.h"
#include "interp/command_table.h"
#include "sicvm/vm.h"
#include "stdlib/stdlib.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

struct Stats {
  unsigned long long images = 0, accepted = 0, verified = 0, cycles = 0, commands = 0;
} g_stats;

void report() {
  std::fprintf(stderr, "fuzz_programs: %llu images, %llu set up, %llu verified, %llu cycles, %llu commands\n",
               g_stats.images, g_stats.accepted, g_stats.verified, g_stats.cycles, g_stats.commands);
}

[[noreturn]] void finding(const char *what) {
  std::fprintf(stderr, "fuzz_programs: FINDING: %s\n", what);
  report();
  std::abort();
}

// The host's point database: five points, built once.
struct Host {
  PointDb *db = nullptr;
  uint32_t config = 0, values = 0;
  int32_t count = 0;
};
const Host &host() {
  static const Host h = [] {
    Host made;
    const std::string text =
        "index,id,type,mode,value,status\n"
        "1,1001,1,0,1,0\n2,1002,2,0,42,0\n3,1003,3,0,2.5,0\n4,1004,4,3,7,0\n5,1005,5,0,0.25,0\n";
    char error[256] = "";
    made.db = PointDbLoadText("fuzz.csv", text.data(), uint32_t(text.size()), nullptr, error, sizeof error);
    if (made.db == nullptr) finding(error);
    made.config = VmHostLocation(PointDbConfig(made.db));
    made.values = VmHostLocation(PointDbValues(made.db));
    made.count = PointDbCount(made.db);
    return made;
  }();
  return h;
}

// A well-behaved external procedure: writes its outputs when the frame holds them.
int32_t externalProc(int32_t mode, int32_t function, VmCell *frame, int32_t count, int32_t first, int32_t nin,
                     int32_t nout, VmMachine *) {
  if (mode == 0 || frame == nullptr) return function % 3 == 0 ? 1 : 0;
  if (first < 0 || nin < 0 || nout < 0 || first + nin + nout > count) return 2;
  for (int32_t j = 0; j < nout; ++j) frame[first + nin + j].v.f64 = function + j;
  return 0;
}

// The kinds the verifier accepts for SRC1, SRC2 and DST under a check (0: any).
struct Wanted {
  uint8_t src1, src2, dst;
};
Wanted wanted(Check check) {
  constexpr uint8_t C = VM_KIND_CONST, V = VM_KIND_VAR, A = VM_KIND_ARRAY;
  switch (check) {
    case Check::CODE_VERSION: case Check::PUSH_CONST: case Check::JUMP:
    case Check::LOAD_POINTS: case Check::SAVE_POINTS: return {C, 0, 0};
    case Check::MOV: case Check::UNARY: return {V, 0, V};
    case Check::PUSH_VARS: case Check::POP_VARS: return {V, C, 0};
    case Check::PUSH_EMPTY: return {0, C, 0};
    case Check::AGET: return {A, C, V};
    case Check::APUT: return {C, V, A};
    case Check::ACOPY: return {A, 0, A};
    case Check::ACOPY_ABS: return {C, 0, A};
    case Check::BINARY: return {V, V, V};
    case Check::COMPARE: return {V, C, 0};
    case Check::TEST: return {0, 0, V};
    case Check::IF: return {V, C, 0};
    case Check::SET_DS: return {C, C, 0};
    case Check::CALL: return {C, C, 0};
    case Check::TIMER: return {V, C, V};
    default: return {0, 0, 0};
  }
}

class Generator {
 public:
  explicit Generator(FuzzedDataProvider &in) : in_(in) {}

  ImageBuilder build();

 private:
  uint32_t small(uint32_t most) { return in_.ConsumeIntegralInRange<uint32_t>(0, most); }
  uint8_t type() { return uint8_t(1 + small(6)); }
  // Mostly small numbers, sometimes any word.
  uint32_t word(uint32_t most) { return in_.ConsumeBool() ? small(most) : in_.ConsumeIntegral<uint32_t>(); }
  Value value(uint8_t t);
  Var var();
  Operand operand(uint8_t kind, uint8_t constType);
  Command command(uint32_t count);
  Command call(uint32_t count);

  FuzzedDataProvider &in_;
  uint32_t segments_ = 1;
};

Value Generator::value(uint8_t t) {
  const int32_t n = in_.ConsumeIntegralInRange<int32_t>(-3, 12);
  switch (in_.ConsumeIntegralInRange<int>(0, 9) == 0 ? 0 : t) {
    case VM_TYPE_BOOL: return Value::boolean(n & 1);
    case VM_TYPE_DINT: return Value::dint(n);
    case VM_TYPE_LREAL: return Value::lreal(n * 0.5);
    case VM_TYPE_INT: return Value::int16(int16_t(n));
    case VM_TYPE_REAL: return Value::real(float(n) * 0.25f);
    case VM_TYPE_TIME: return Value::time(n * 100.0);
    case VM_TYPE_DT: return Value::dt(45000.0 + n);
    default: return Value::raw(t, in_.ConsumeIntegral<uint32_t>(), in_.ConsumeIntegral<uint32_t>());
  }
}

Var Generator::var() {
  const uint8_t t = type();
  Var v(value(t));
  const int shape = in_.ConsumeIntegralInRange<int>(0, 9);
  if (shape == 0) {
    v.typeClass = VM_CLASS_ARRAY_REF;  // an array reference: segment index, relative array number
    v.init = Value::raw(t, small(2), word(3));
  } else if (shape == 1) {
    v.typeClass = uint8_t(small(15));
  }
  if (in_.ConsumeIntegralInRange<int>(0, 3) == 0) {
    v.pointId = in_.ConsumeBool() ? int32_t(1001 + small(5)) : in_.ConsumeIntegral<int32_t>();
    v.load = in_.ConsumeBool();
    v.save = in_.ConsumeBool();
    v.pointField = in_.ConsumeBool() ? 44 : in_.ConsumeBool() ? 43 : in_.ConsumeIntegral<int8_t>();
  }
  if (t == VM_TYPE_TIME) v.cellFlags = uint8_t(small(1));
  return v;
}

Operand Generator::operand(uint8_t kind, uint8_t constType) {
  if (kind == 0 || in_.ConsumeIntegralInRange<int>(0, 15) == 0) kind = uint8_t(small(6));
  switch (kind) {
    case VM_KIND_CONST: {
      Operand o = Operand::constant(value(constType != 0 ? constType : type()));
      if (in_.ConsumeBool()) o.cell.v.w[0] = small(8);  // counts, targets, segment numbers
      return o;
    }
    case VM_KIND_VAR: return Operand::var(word(1), word(7));
    case VM_KIND_ARRAY: return Operand::array(word(1), word(3));
    default: return Operand::words(kind, word(8), word(8));
  }
}

Command Generator::call(uint32_t count) {
  static const uint32_t kClasses[] = {VM_CALL_STANDARD, VM_CALL_CODE, VM_CALL_CODE_ALT, VM_CALL_HOST,
                                      VM_CALL_EXTERNAL};
  const uint32_t callClass = in_.ConsumeIntegralInRange<int>(0, 15) == 0 ? small(0xFF) << 8 : kClasses[small(4)];
  const uint32_t callType = in_.ConsumeIntegralInRange<int>(0, 7) == 0 ? small(255) : 1 + small(1);
  uint32_t function = small(count + 1), nin = small(4), nout = small(2);
  const std::span<const lib::Row> rows = callClass == VM_CALL_STANDARD ? stdlib::table()
                                         : callClass == VM_CALL_HOST    ? hostlib::table()
                                                                        : std::span<const lib::Row>();
  if (!rows.empty()) {
    const lib::Row &row = rows[small(uint32_t(rows.size() - 1))];
    function = uint32_t(row.number);
    nin = in_.ConsumeIntegralInRange<uint32_t>(row.minInputs, row.maxInputs);
    nout = row.outputs;
  }
  if (in_.ConsumeIntegralInRange<int>(0, 7) == 0) nin = small(40), nout = small(20);
  Command c;
  c.code = op("call");
  c.src1 = Operand::words(VM_KIND_CONST, function, callClass | callType);
  c.src2 = Operand::words(VM_KIND_CONST, small(8) | nin << 8 | nout << 16);
  return c;
}

Command Generator::command(uint32_t count) {
  const int pick = in_.ConsumeIntegralInRange<int>(0, 31);
  if (pick == 0) return Command{0x80000000u | small(0xFFFF), {}, {}, {}, 0};  // an end marker
  if (pick == 1) return call(count);
  uint32_t code = small(VM_COMMAND_CODES - 1);
  if (pick == 2) code = in_.ConsumeIntegral<uint16_t>();
  const CommandInfo *info = commandInfo(code);
  const Wanted w = wanted(info ? info->check : Check::UNKNOWN);
  if (info && info->check == Check::CALL) return call(count);
  Command c;
  c.code = code;
  c.src1 = operand(w.src1, info ? info->src1Type : 0);
  c.src2 = operand(w.src2, info ? info->src2Type : 0);
  c.dst = operand(w.dst, 0);
  if (info && info->check == Check::JUMP) c.src1.cell.v.w[0] = small(count + 1);
  if (info && info->check == Check::IF) c.src2.cell.v.w[0] = small(count + 1);
  return c;
}

ImageBuilder Generator::build() {
  ImageBuilder b;
  b.callStack(1 + small(6)).paramStack(1 + small(12)).replication(small(3) * 4).gap(small(3));
  segments_ = 1 + small(3);
  for (uint32_t k = 0; k < segments_; ++k) {
    uint32_t s;
    if (in_.ConsumeIntegralInRange<int>(0, 7) == 0) {
      std::vector<Var> vars(1 + small(3));
      for (Var &v : vars) v = var();
      s = b.rawSegment(vars);
    } else {
      s = b.segment(int32_t(small(segments_)), int32_t(small(2)));
    }
    for (uint32_t i = small(5); i > 0; --i) b.var(s, var());
  }
  for (uint32_t j = small(3); j > 0; --j) {
    Array a;
    a.type = type();
    a.elementSize = 1 + small(2);
    a.elementCount = 1 + small(4);
    a.dimensions = 1 + small(2);
    a.cellFlags = a.type == VM_TYPE_TIME ? uint8_t(small(1)) : 0;
    for (uint32_t x = small(a.elementSize * a.elementCount); x > 0; --x) a.init.push_back(value(uint8_t(a.type)));
    b.array(a);
  }
  const uint32_t count = 1 + small(23);
  for (uint32_t i = 0; i < count; ++i) b.command(command(count));
  if (in_.ConsumeBool()) b.end();
  // Now and then a block at an odd place: set-up must refuse what overlaps.
  if (in_.ConsumeIntegralInRange<int>(0, 7) == 0) {
    const Layout lay = b.layout();
    b.place(static_cast<Block>(small(kBlockCount - 1)), VM_HEADER_SIZE + small(lay.size - VM_HEADER_SIZE + 64));
  }
  return b;
}

// A snapshot of bytes that must not change, and the check that they did not.
struct Kept {
  const char *what;
  const uint8_t *at;
  std::vector<uint8_t> bytes;
  Kept(const char *name, const void *p, size_t n)
      : what(name), at(static_cast<const uint8_t *>(p)), bytes(at, at + n) {}
  void check() const {
    if (!bytes.empty() && std::memcmp(at, bytes.data(), bytes.size()) != 0) finding(what);
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  VmSetLogLevel(0);
  VmSetExternalProc(externalProc);
  host();
  std::atexit(report);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<uint8_t> image = Generator(in).build().build();
  // Byte mutations of the well-formed image.
  for (uint32_t n = in.ConsumeIntegralInRange<uint32_t>(0, 7); n > 4; --n) {
    const uint32_t offset = in.ConsumeIntegralInRange<uint32_t>(0, uint32_t(image.size() - 4));
    const uint32_t word = in.ConsumeIntegral<uint32_t>();
    std::memcpy(image.data() + offset, &word, 4);
  }
  image.shrink_to_fit();  // exact size: a sanitizer sees any access past the end
  ++g_stats.images;

  VmMachine *m = nullptr;
  if (VmInitMachine(image.data(), uint32_t(image.size()), &m) != 0) {
    if (m != nullptr && (VmRunProgram(m, 0, 0) != -1 || VmVerifyCode(m) != -1 || VmUpdateVarLinks(m) != -1))
      finding("an export used the machine of a refused image");
    return 0;
  }
  ++g_stats.accepted;
  const Host &h = host();
  m->commandLimit = in.ConsumeIntegralInRange<int32_t>(-1, 400);
  m->pointCount = h.count;
  m->pointConfig = h.config;
  m->pointValues = h.values;
  m->storeHandle = 0;
  m->hostRecord = 0;
  const bool codeOk = VmVerifyCode(m) == 0;
  const bool varsOk = VmVerifyVars(m) == 0;
  const bool verified = codeOk && varsOk && VmVerifyArrays(m) == 0;
  if (verified) ++g_stats.verified;
  VmInitHostTypes(m);
  VmInitTimers(m);
  VmInitVarLinks(m);
  VmUpdateVarLinks(m);  // drops links the image's own point indices claimed

  const VmHeader header = *reinterpret_cast<const VmHeader *>(image.data());
  const uint8_t *base = image.data();
  std::vector<Kept> kept;
  kept.emplace_back("header changed", base, VM_HEADER_SIZE);
  const uint8_t *machine = reinterpret_cast<const uint8_t *>(m);
  kept.emplace_back("machine locations or host fields changed", machine + offsetof(VmMachine, callStack),
                    VM_MACHINE_SIZE - offsetof(VmMachine, callStack));
  kept.emplace_back("command limit changed", machine, 4);
  kept.emplace_back("point configuration table changed", PointDbConfig(h.db),
                    sizeof(PointConfigRecord) * size_t(h.count));
  kept.emplace_back("data segment table changed", base + header.segmentTableOffset, header.segmentCount * 4u);
  kept.emplace_back("data segments changed", base + header.segmentsOffset,
                    header.segmentCount * 4u + header.segmentVarCount * size_t(VM_VAR_RECORD_SIZE));
  kept.emplace_back("arrays block changed", base + header.arraysOffset,
                    header.arrayCount * size_t(VM_ARRAY_RECORD_SIZE));
  if (verified)
    kept.emplace_back("verified code changed", base + header.codeOffset,
                      header.commandCount * size_t(VM_COMMAND_SIZE));

  const int64_t limit = m->commandLimit;
  for (uint32_t cycle = in.ConsumeIntegralInRange<uint32_t>(1, verified ? 4 : 2); cycle > 0; --cycle) {
    VmUpdateVarLinks(m);
    VmResetMachine(m);
    int32_t run = 0;
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
      // One command at a time; every call runs at most one.
      for (int64_t calls = 0; calls <= limit + 2; ++calls) {
        const int32_t before = m->commandsRun;
        run = VmRunProgram(m, VM_RUN_SINGLE_STEP, 0);
        if (run - before > 1) finding("a single step ran more than one command");
        uint32_t status = 0;
        std::memcpy(&status, base + header.stateOffset + 20, 4);
        if (status != VM_RUNNING) break;
      }
    } else {
      run = VmRunProgram(m, 0, 0);
    }
    ++g_stats.cycles;
    g_stats.commands += uint64_t(run > 0 ? run : 0);
    if (run < 0) finding("a run of a set-up machine was refused");
    if (run > limit + 1) finding("a cycle ran more commands than its limit allows");
    if (m->callDepth > header.callStackSize || m->paramDepth > header.paramStackSize)
      finding("a stack depth lies beyond its stack");
    for (const Kept &k : kept) k.check();
  }
  return 0;
}
