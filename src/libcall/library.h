// SPDX-License-Identifier: MIT
// The library call contract shared by the standard and the host function
// libraries: result codes, the view of one call's parameter cells, the row
// that registers a function, and the dispatcher that both libraries run over
// their own table of rows.
//
// A library is one sorted table of rows {number, name, inputs, outputs,
// cells, function}. The same table answers the interpreter (execute mode)
// and the code verifier (check mode), so the two can never disagree about
// which numbers exist and what they take.
#pragma once

#include <cstdint>
#include <span>

#include "foundation/messages.h"
#include "image/image.h"
#include "sicvm/vm.h"

namespace sicvm::lib {

// Results of a library call.
enum Result : int32_t {
  kDone = 0,           // accepted (check mode) or done (execute mode)
  kUnknown = 1,        // no function has this number
  kCountMismatch = 2,  // input or output count differs, or the frame is too small
  // The function is in the table (so check mode accepts it) but its family
  // is not part of this build yet; executing it stops the run with error 128.
  kNotAvailable = 3,
  // Execute mode without a usable machine or frame: nothing can be done.
  kNoMachine = 4,
  kException = 5,  // the external procedure faulted or threw
};

// One executing call: the parameter cells (parameter 0 first), the counts
// and the machine. Cells are packed image records, so references to them are
// fine at any address; values are read and written at their type's width.
class Call {
 public:
  Call(VmCell *params, int32_t nin, int32_t nout, VmMachine *machine, const Image &image) noexcept
      : params_(params), nin_(nin), nout_(nout), machine_(machine), image_(image) {}

  VmCell &cell(int32_t i) const noexcept { return params_[i]; }
  int32_t inputs() const noexcept { return nin_; }
  int32_t outputs() const noexcept { return nout_; }
  // The first output cell: the cell right after the last input.
  VmCell &out(int32_t j = 0) const noexcept { return params_[nin_ + j]; }
  VmMachine *machine() const noexcept { return machine_; }
  const Image &image() const noexcept { return image_; }

  bool getBool(int32_t i) const noexcept { return params_[i].v.b != 0; }
  int16_t getInt(int32_t i) const noexcept { return params_[i].v.i16; }
  int32_t getDint(int32_t i) const noexcept { return params_[i].v.i32; }
  float getReal(int32_t i) const noexcept { return params_[i].v.f32; }
  double getDouble(int32_t i) const noexcept { return params_[i].v.f64; }

  void setBool(int32_t i, bool value) const noexcept { params_[i].v.b = value ? 1 : 0; }
  void setInt(int32_t i, int16_t value) const noexcept { params_[i].v.i16 = value; }
  void setDint(int32_t i, int32_t value) const noexcept { params_[i].v.i32 = value; }
  void setReal(int32_t i, float value) const noexcept { params_[i].v.f32 = value; }
  void setDouble(int32_t i, double value) const noexcept { params_[i].v.f64 = value; }

  // Records a run-time error at the calling command (the machine's pc) with
  // both detail words 0, and logs it at the message's level.
  void fail(const Message<> &message) const noexcept;

 private:
  VmCell *params_;
  int32_t nin_;
  int32_t nout_;
  VmMachine *machine_;
  const Image &image_;
};

using Function = int32_t (*)(const Call &call);

// A function that checks its own counts and takes the frame as one address:
// (execute flag, function number, address of parameter 0, inputs, outputs).
using HandOn = int32_t (*)(int32_t execute, int32_t function, VmCell *frame, int32_t nin,
                           int32_t nout);

// One registered function number.
struct Row {
  int32_t number;
  const char *name;
  uint8_t minInputs;  // fixed input count, or the least of a variable one
  uint8_t maxInputs;  // equal to minInputs unless the input count varies
  uint8_t outputs;
  // Cells the function uses from parameter 0 on, state cells included; 0
  // when it uses only its parameters. Checked when executing.
  uint8_t cells;
  Function run;           // null: the function's family is not in this build
  HandOn handOn = nullptr;  // set: the call is handed on unchecked
  // The value type (VM_TYPE_*) of a typed family's variant (SEL of DINT, ...):
  // the type of its values and its result; 0 for the other functions.
  uint8_t valueType = 0;
  // The types of the inputs and outputs, and a block's cell layout, in the
  // text VmFunctionInfo.signature documents ("DINT, LREAL -> BOOL").
  const char *signature = nullptr;
};

// The dispatcher of a library over its table (sorted by number):
//  1. an unknown number gives kUnknown; a hand-on row goes to its HandOn
//     in both modes (after the execute checks of step 4 for frame and room);
//  2. the input count, then the output count, must match: else kCountMismatch;
//  3. check mode (mode 0) returns kDone without touching frame or machine;
//  4. execute mode needs a machine over a prepared image and a frame (else
//     kNoMachine), first >= 0 and count - first at least the cells the
//     function uses (its parameters, or its row's cells when more): else
//     kCountMismatch with nothing written;
//  5. a row without a function gives kNotAvailable; otherwise the function
//     runs and its result is returned.
int32_t dispatch(std::span<const Row> table, int32_t mode, int32_t function, VmCell *frame,
                 int32_t count, int32_t first, int32_t nin, int32_t nout, VmMachine *machine);

// The row of a number, or null.
const Row *findRow(std::span<const Row> table, int32_t number) noexcept;

// True when the rows are sorted by number without duplicates.
constexpr bool sortedByNumber(std::span<const Row> table) {
  for (size_t i = 1; i < table.size(); ++i)
    if (table[i - 1].number >= table[i].number) return false;
  return true;
}

}  // namespace sicvm::lib
