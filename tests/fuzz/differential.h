// SPDX-License-Identifier: MIT
// Differential runs of the interpreter: a program made from a string of
// choices runs for a few cycles on two copies of its image, one with the
// decoded form and one with the step loop alone (its form released), and
// every result, log line and image byte must be the same after each cycle.
//
// The programs mix the commands the decoded loop runs itself (arithmetic,
// bits, comparisons, conversions, mov, tests, jumps) with the ones it hands
// to the step loop (set_ds, calls inside the code, ret, the param stack,
// arrays, math functions, unknown codes, end markers), and their operands
// with the cases that make a command fail: zero divisors, negative shift
// counts, conversions out of range, special floating-point values, var
// numbers beyond their segment, missing local segments, jumps out of the
// code, constants as destinations, the command limit. Unknown codes may
// also be point and timer commands; the host clock is set by hand so that
// both runs of a cycle see the same time.
//
// Used by the libFuzzer target fuzz_differential and by the interpreter
// test Differential.RandomPrograms (which can also run for a given time).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "interp/command_table.h"
#include "sicvm/vm.h"

namespace sicvm::differential {

// Choices read from a byte string; 0 once it is used up.
class Choices {
 public:
  Choices(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}
  uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
  uint32_t word() {
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w = w << 8 | byte();
    return w;
  }
  // A number below n (n > 0).
  uint32_t below(uint32_t n) { return (n <= 256 ? byte() : (uint32_t(byte()) << 8 | byte())) % n; }
  bool percent(uint32_t p) { return below(100) < p; }

 private:
  const uint8_t *p_, *end_;
};

inline constexpr uint8_t kTypes[] = {VM_TYPE_BOOL, VM_TYPE_DINT, VM_TYPE_LREAL, VM_TYPE_INT,
                                     VM_TYPE_REAL, VM_TYPE_TIME, VM_TYPE_DT};

// A value of `type`, often one of the values at the edges.
inline build::Value valueOf(Choices &in, uint8_t type) {
  using build::Value;
  static const double kDoubles[] = {0.0, -0.0, 1.0, -1.0, 0.5, -2.5, 32767.6, -32768.0, 2147483648.0, 1e39,
                                    -1e300, std::numeric_limits<double>::infinity(),
                                    std::numeric_limits<double>::quiet_NaN(), 3.0, 7.0, 1e-310};
  static const int32_t kInts[] = {0, 1, -1, 2, 7, -7, 15, 16, 31, 33, 32767, -32768, 65536, 70000,
                                  2147483647, -2147483647 - 1};
  const bool edge = in.percent(60);
  const double d = edge ? kDoubles[in.below(16)] : double(int32_t(in.word())) / double(1 + in.below(1000));
  const int32_t i = edge ? kInts[in.below(16)] : int32_t(in.word());
  switch (type) {
    case VM_TYPE_BOOL: return Value::boolean(in.below(3) != 0);
    case VM_TYPE_DINT: return Value::dint(i);
    case VM_TYPE_INT: return Value::int16(int16_t(i));
    case VM_TYPE_REAL: return Value::real(float(d));
    case VM_TYPE_LREAL: return Value::lreal(d);
    case VM_TYPE_TIME: return Value::time(d);
    default: return Value::dt(d);
  }
}

// The program: a global segment, two local segments, two arrays, and code.
class ProgramMaker {
 public:
  explicit ProgramMaker(Choices &in) : in_(in) {}

  build::ImageBuilder make() {
    build::ImageBuilder b;
    b.commandLimit(int32_t(200 + in_.below(3000)));
    b.callStack(2 + in_.below(6));
    b.paramStack(2 + in_.below(12));
    for (int k = 0; k < 3; ++k) {
      const uint32_t s = b.segment(0, 0);
      types_[k] = {VM_TYPE_DINT, VM_TYPE_DINT};
      const uint32_t vars = (k == 0 ? 8 : 3) + in_.below(6);
      for (uint32_t n = 0; n < vars; ++n) {
        const uint8_t type = kTypes[in_.below(7)];
        b.var(s, build::Var(valueOf(in_, type)));
        types_[k].push_back(type);
      }
    }
    for (int a = 0; a < 2; ++a) b.array(build::Array{VM_TYPE_DINT, 1, 1 + in_.below(4), 1, {}, 0});
    count_ = 4 + in_.below(40);
    if (in_.percent(50)) {
      structured(b);
    } else {
      for (uint32_t i = 0; i < count_; ++i) command(b);
    }
    return b;
  }

 private:
  // A var of `type` when there is one (usually), in the global segment or
  // in the local one the program probably selected.
  build::Operand var(uint8_t type) {
    const uint32_t s = in_.percent(70) ? 0 : 1;
    const std::vector<uint8_t> &types = types_[s == 0 ? 0 : 1 + in_.below(2)];
    if (in_.percent(3)) return build::Operand::var(s + (in_.percent(50) ? 2 : 0), uint32_t(types.size()) - 1 + in_.below(3));
    uint32_t n = 2 + in_.below(uint32_t(types.size()) - 2);
    for (uint32_t tries = 0; tries < types.size() && types[n] != type && type != 0; ++tries)
      n = 2 + (n - 1) % (uint32_t(types.size()) - 2);
    return build::Operand::var(s, n);
  }
  build::Operand source(uint8_t type) {
    if (type == 0) type = kTypes[in_.below(7)];
    const uint32_t r = in_.below(100);
    if (r < 60) return var(type);
    if (r < 92) return build::c(valueOf(in_, type));
    if (r < 96) return var(kTypes[in_.below(7)]);
    return build::Operand::array(0, in_.below(3));
  }
  build::Operand destination(uint8_t type) {
    if (in_.percent(2)) return build::c(valueOf(in_, VM_TYPE_LREAL));  // written into the code
    return var(type != 0 ? type : kTypes[in_.below(7)]);
  }
  uint32_t target() { return in_.percent(95) ? in_.below(count_ + 1) : in_.word(); }

  void command(build::ImageBuilder &b) {
    using build::num;
    using build::Operand;
    const uint32_t r = in_.below(100);
    if (r < 55) {  // a computing command or mov / test
      static const std::vector<uint16_t> kComputing = computingCodes();
      const uint16_t code = kComputing[in_.below(uint32_t(kComputing.size()))];
      const CommandInfo &info = kCommands[code];
      const bool unary = (code >= op("neg_int") && code <= op("abs_time")) || code == op("not_bool") || code == op("not_int") ||
                         code == op("not_dint") || info.family == Family::CONVERT || code == op("mov");
      const bool noDst = info.family == Family::COMPARE;
      const bool testOnly = code >= op("test_eq") && code <= op("test_ge");
      b.command(code, testOnly ? Operand::none() : source(info.src1Type),
                unary || testOnly ? Operand::none() : source(info.src2Type),
                noDst ? Operand::none() : destination(testOnly ? uint8_t(VM_TYPE_BOOL) : info.src1Type));
    } else if (r < 72) {  // jumps
      const uint32_t code = op("jmp") + in_.below(9);  // jmp .. jmp_ge, if_eq, if_ne
      if (code >= op("if_eq")) b.command(code, source(VM_TYPE_BOOL), num(target()));
      else b.command(code, num(target()));
    } else if (r < 84) {  // subroutines: set_ds, a call inside the code, ret
      const uint32_t k = in_.below(10);
      auto call = [&] {
        b.command(op("call"), Operand::words(VM_KIND_CONST, in_.percent(95) ? in_.below(count_) + 1 : in_.word(),
                                             VM_CALL_CODE | 1));
      };
      if (k < 4) b.command(op("set_ds"), num(in_.percent(90) ? 0 : 1), num(in_.below(4)));
      if (k < 2 || (k >= 4 && k < 6)) call();  // usually right after its set_ds
      if (k >= 6) b.command(op("ret"));
    } else if (r < 96) {  // other commands of the step loop
      const uint32_t k = in_.below(8);
      if (k == 0) b.command(op("push_const"), build::c(valueOf(in_, VM_TYPE_DINT)));
      else if (k == 1) b.command(op("push_vars"), var(0), num(1 + in_.below(3)));
      else if (k == 2) b.command(op("pop_vars"), var(0), num(1 + in_.below(3)));
      else if (k == 3) b.command(op("aget"), Operand::array(0, in_.below(3)), source(VM_TYPE_DINT), var(VM_TYPE_DINT));
      else if (k == 4) b.command(op("aput"), source(VM_TYPE_DINT), source(VM_TYPE_DINT), Operand::array(0, in_.below(3)));
      else if (k == 5) b.command(op("sqrt_lreal") + in_.below(27), source(0), Operand::none(), destination(0));
      else if (k == 6) b.command(op("mod_real") + in_.below(2), source(0), source(0), destination(0));
      else b.command(op("nop"));
    } else if (r < 98) {
      b.command(uint32_t(in_.below(2) ? 0x80000000u : 0u) | in_.below(300));  // end marker or any code
    } else {
      b.command(op("ret"));
    }
  }
  // A main part and three subroutines, each a run of commands in which
  // set_ds + call pairs call the subroutines (nested, and now and then
  // recursive until the call stack overflows), each ending with ret.
  void structured(build::ImageBuilder &b) {
    using build::num;
    std::vector<uint32_t> starts(4, 0), lengths(4);
    for (uint32_t &n : lengths) n = 3 + in_.below(8);
    for (size_t p = 1; p < 4; ++p) starts[p] = starts[p - 1] + lengths[p - 1] + 1;
    count_ = starts[3] + lengths[3] + 1;
    for (size_t p = 0; p < 4; ++p) {
      for (uint32_t i = 0; i < lengths[p]; ++i) {
        const uint32_t r = in_.below(10);
        if (r < 3 && i + 1 < lengths[p]) {
          b.command(op("set_ds"), num(0), num(1 + in_.below(in_.percent(95) ? 2 : 4)));
          const size_t callee = 1 + in_.below(3);
          b.command(op("call"), build::Operand::words(VM_KIND_CONST, starts[callee], VM_CALL_CODE | 1));
          ++i;
        } else {
          command(b);
        }
      }
      b.command(op("ret"));
    }
  }

  static std::vector<uint16_t> computingCodes() {
    std::vector<uint16_t> codes;
    for (const CommandInfo &info : kCommands) {
      const Family f = info.family;
      if (f == Family::ARITH || f == Family::BITS || f == Family::COMPARE || f == Family::CONVERT ||
          info.code == op("mov") || (info.code >= op("test_eq") && info.code <= op("test_ge")))
        codes.push_back(info.code);
    }
    return codes;
  }

  Choices &in_;
  std::vector<uint8_t> types_[3];
  uint32_t count_ = 0;
};

// The log lines of the current run.
inline std::string &logText() {
  static std::string text;
  return text;
}
inline void captureLog(int level, const char *text) {
  logText() += std::to_string(level) + ": " + text;
}

// One machine over its own copy of the image.
struct Copy {
  std::vector<uint8_t> image;
  VmMachine *machine = nullptr;
  bool ok = false;
  Copy(const std::vector<uint8_t> &bytes, bool decoded) : image(bytes) {
    ok = VmInitMachine(image.data(), uint32_t(image.size()), &machine) == 0;
    if (!ok) return;
    VmVerifyCode(machine);
    if (!decoded) VmReleaseMachine(machine);
  }
};

// Runs the program of `data` both ways; "" when everything agreed, else what differed.
inline std::string compare(const uint8_t *data, size_t size) {
  Choices in(data, size);
  const std::vector<uint8_t> bytes = ProgramMaker(in).make().build();
  const int32_t level = VmGetLogLevel();
  VmSetLogLevel(10);
  VmSetLogProc(captureLog);
  std::string why;
  {
    logText().clear();
    Copy fast(bytes, true);
    Copy slow(bytes, false);
    if (fast.ok != slow.ok) why = "set-up differs";
    for (int cycle = 0; why.empty() && fast.ok && cycle < 4; ++cycle) {
      const uint32_t between = cycle == 0 ? 0 : in.below(4);
      int32_t results[2];
      std::string logs[2];
      Copy *copies[2] = {&fast, &slow};
      for (int k = 0; k < 2; ++k) {
        logText().clear();
        SysSetManualClock(1000u * uint32_t(cycle + 1));  // the same time for both runs of a cycle
        if (between == 0 || between == 1) VmResetMachine(copies[k]->machine);
        if (between == 2) VmClearLastError(copies[k]->machine);
        results[k] = VmRunProgram(copies[k]->machine, 0, 0);
        logs[k] = logText();
      }
      if (results[0] != results[1])
        why = "cycle " + std::to_string(cycle) + ": result " + std::to_string(results[0]) + " vs " + std::to_string(results[1]);
      else if (logs[0] != logs[1])
        why = "cycle " + std::to_string(cycle) + ": log\n" + logs[0] + "--- vs ---\n" + logs[1];
      else if (std::memcmp(fast.image.data(), slow.image.data(), bytes.size()) != 0) {
        size_t at = 0;
        while (fast.image[at] == slow.image[at]) ++at;
        why = "cycle " + std::to_string(cycle) + ": image byte " + std::to_string(at) + " differs";
      }
    }
    VmReleaseMachine(fast.machine);
  }
  VmSetLogProc(nullptr);
  VmSetLogLevel(level);
  SysUseRealClock();
  return why;
}

}  // namespace sicvm::differential
