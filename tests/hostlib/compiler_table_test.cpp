// The signatures in the libraries' tables, and the compiler's view of the
// libraries (tools/stc/library.cpp) against them: the host functions come
// from the host table, and every standard function and block the compiler
// calls has the number, counts, cell names and types the library declares.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hostlib/hostlib.h"
#include "stc/library.h"
#include "stc/signature.h"
#include "stdlib/stdlib.h"

using namespace sicvm;

// Every row of both libraries has a signature that parses and whose counts
// are the row's: the inputs (a repeated last input exactly when the count
// varies), the outputs, and a block's cells when the row counts them.
TEST(CompilerTable, EverySignatureAgreesWithItsRow) {
  for (int32_t callClass : {VM_CALL_STANDARD, VM_CALL_HOST}) {
    VmFunctionInfo f;
    int32_t i = 0;
    for (; VmGetLibraryFunction(callClass, i, &f) == 1; ++i) {
      stc::Signature sig;
      ASSERT_TRUE(stc::signatureOf(f, sig)) << f.number << " " << (f.signature ? f.signature : "(none)");
      const bool varies = f.minInputs != f.maxInputs;
      if (varies) {
        EXPECT_LE(sig.inputs.size(), f.minInputs) << f.number;
      } else {
        EXPECT_EQ(sig.inputs.size(), f.minInputs) << f.number;
      }
      EXPECT_EQ(!sig.inputs.empty() && sig.inputs.back().repeats, varies) << f.number;
      EXPECT_EQ(sig.outputs.size(), f.outputs) << f.number;
      const size_t cells = sig.inputs.size() + sig.outputs.size() + sig.state.size();
      if (!varies) {
        EXPECT_EQ(cells, f.cells ? f.cells : size_t(f.minInputs + f.outputs)) << f.number;
      }
      if (f.valueType) {
        EXPECT_EQ(sig.outputs[0].type, f.valueType) << f.number;
      }
    }
    EXPECT_GT(i, 20);
  }
  stc::Signature sig;
  for (const char *bad : {"DINT", "DINT -> FLOAT", "0*DINT -> BOOL", "DINT..., BOOL -> BOOL", "-> BOOL...", "ANY -> ANY"})
    EXPECT_FALSE(stc::parseSignature(bad, 0, sig)) << bad;
}

TEST(CompilerTable, HostFunctionsMatchTheHostLibrary) {
  size_t known = 0;
  for (const lib::Row &row : hostlib::table()) {
    std::string upper;
    for (const char *c = row.name; *c; ++c) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
    const stc::HostFunction *f = stc::findHostFunction(upper);
    ASSERT_NE(f, nullptr) << row.name;
    EXPECT_STREQ(f->name, row.name);
    if (f->number != row.number) continue;  // the second number of GasFlowrate
    EXPECT_EQ(f->inputs.size(), row.minInputs) << row.name;
    EXPECT_EQ(f->outputs.size(), row.outputs) << row.name;
    ++known;
  }
  EXPECT_EQ(known, stc::hostFunctions().size());
  // Types as the function descriptions give them, by way of the compiler's view.
  const stc::HostFunction *unpack = stc::findHostFunction("DTUNPACK");
  ASSERT_NE(unpack, nullptr);
  EXPECT_EQ(unpack->inputs, std::vector<uint8_t>{VM_TYPE_DT});
  EXPECT_EQ(unpack->outputs, (std::vector<uint8_t>{VM_TYPE_BOOL, VM_TYPE_DINT, VM_TYPE_DINT, VM_TYPE_DINT, VM_TYPE_DINT,
                                                   VM_TYPE_DINT, VM_TYPE_DINT, VM_TYPE_DINT}));
  const stc::HostFunction *flow = stc::findHostFunction("GASFLOWRATE");
  ASSERT_NE(flow, nullptr);
  EXPECT_EQ(flow->number, 6105);
  EXPECT_EQ(flow->inputs.size(), 22u);
  EXPECT_EQ(flow->inputs[11], VM_TYPE_BOOL);
  EXPECT_EQ(flow->inputs[13], VM_TYPE_DINT);
  EXPECT_EQ(flow->inputs[21], VM_TYPE_DINT);
}

TEST(CompilerTable, StandardFunctionsAndBlocksMatchTheStandardLibrary) {
  for (const char *name : {"SEL", "MAX", "MIN", "LIMIT", "MUX"}) {
    const stc::StandardFunction *f = stc::findStandardFunction(name);
    ASSERT_NE(f, nullptr);
    for (uint8_t type = VM_TYPE_BOOL; type <= VM_TYPE_DT; ++type) {
      const lib::Row *row = lib::findRow(stdlib::table(), stc::standardNumber(*f, type));
      ASSERT_NE(row, nullptr) << name << " " << int(type);
      EXPECT_STREQ(row->name, name);
      EXPECT_EQ(row->minInputs, f->minInputs);
      EXPECT_EQ(row->maxInputs, f->maxInputs);
    }
  }
  for (const char *name : {"INC_RANGE", "DEC_RANGE"}) {
    const lib::Row *row = lib::findRow(stdlib::table(), stc::findRangeFunction(name)->number);
    ASSERT_NE(row, nullptr);
    EXPECT_STREQ(row->name, name);
  }
  for (const stc::FunctionBlock &fb : stc::functionBlocks()) {
    const lib::Row *row = lib::findRow(stdlib::table(), fb.number);
    ASSERT_NE(row, nullptr) << fb.name;
    EXPECT_EQ(std::string(fb.name).rfind(row->name, 0), 0u) << fb.name << " is " << row->name;
    EXPECT_EQ(fb.inputs, row->minInputs) << fb.name;
    EXPECT_EQ(fb.outputs, row->outputs) << fb.name;
    EXPECT_EQ(fb.cells.size(), row->cells ? row->cells : size_t(fb.inputs + fb.outputs)) << fb.name;
    // The compiler's cell names and types are the table's layout.
    stc::Signature sig;
    ASSERT_TRUE(stc::parseSignature(row->signature, row->valueType, sig)) << fb.name;
    ASSERT_TRUE(sig.block) << fb.name;
    std::vector<stc::SignatureItem> layout = sig.inputs;
    layout.insert(layout.end(), sig.outputs.begin(), sig.outputs.end());
    layout.insert(layout.end(), sig.state.begin(), sig.state.end());
    ASSERT_EQ(layout.size(), fb.cells.size()) << fb.name;
    for (size_t k = 0; k < layout.size(); ++k) {
      std::string name = fb.cells[k].name;
      EXPECT_EQ(name.substr(name[0] == ' ' ? 1 : 0), layout[k].name) << fb.name << " cell " << k;
      EXPECT_EQ(fb.cells[k].type, layout[k].type) << fb.name << " cell " << k;
    }
  }
}
