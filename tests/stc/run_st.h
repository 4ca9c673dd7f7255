// SPDX-License-Identifier: MIT
// Compiles a Structured Text program, sets it up as a host does (the three
// verifiers included) and runs cycles; reads the program's vars by name.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "builder/image_builder.h"
#include "runner/session.h"
#include "stc/compiler.h"

namespace sicvm::test {

class StProgram {
 public:
  explicit StProgram(const std::string &source, int32_t commandLimit = 1000000) {
    compilation_ = stc::compile(source, "test.st");
    if (!compilation_.ok()) {
      std::string all;
      for (const std::string &d : compilation_.rendered) all += d + "\n";
      ADD_FAILURE() << "does not compile:\n" << all;
      return;
    }
    session_ = std::make_unique<runner::Session>(compilation_.image);
    runner::SessionOptions options;
    options.commandLimit = commandLimit;
    std::string message;
    verified_ = session_->setUp(options, message) == runner::SetUpResult::OK;
    EXPECT_TRUE(verified_) << message;
  }

  bool ok() const { return verified_; }
  const stc::Compilation &compilation() const { return compilation_; }

  // One cycle; it must complete without a fatal error.
  runner::CycleResult cycle() {
    runner::CycleResult r = session_->runCycle();
    EXPECT_EQ(r.runStatus, uint32_t(VM_CYCLE_COMPLETE)) << "error " << r.error << " at " << r.address;
    return r;
  }

  // The value cell of a var of segment 0 or 1, by name.
  VmCell cell(const std::string &name, uint32_t offset = 0) const {
    const stc::Symbol *s = compilation_.symbol(name);
    VmCell c{};
    if (!s) {
      ADD_FAILURE() << "no symbol " << name;
      return c;
    }
    build::ImageBytes bytes{session_->image()};
    uint32_t at = s->array ? bytes.arrayRecord(s->var).firstCell + offset * VM_CELL_SIZE
                           : bytes.varRecord(s->segment, s->var + offset).cell;
    std::memcpy(&c, session_->image().data() + at, sizeof c);
    return c;
  }

  // A var's value as a double, read by its type.
  double value(const std::string &name, uint32_t offset = 0) const {
    const stc::Symbol *s = compilation_.symbol(name);
    VmCell c = cell(name, offset);
    switch (s ? s->type : 0) {
      case VM_TYPE_BOOL: return c.v.b;
      case VM_TYPE_INT: return c.v.i16;
      case VM_TYPE_DINT: return c.v.i32;
      case VM_TYPE_REAL: return c.v.f32;
      default: return c.v.f64;
    }
  }

 private:
  stc::Compilation compilation_;
  std::unique_ptr<runner::Session> session_;
  bool verified_ = false;
};

}  // namespace sicvm::test
