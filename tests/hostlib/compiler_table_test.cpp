// SPDX-License-Identifier: MIT
// The signatures in the libraries' tables, and the compiler's view of the
// libraries (tools/stc/library.cpp) against them: the host functions come
// from the host table, and every standard function and block the compiler
// calls has the number, counts, cell names and types the library declares.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

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

// Every parameter of every row has a name (shown by `sicvm help functions`),
// an identifier of its own within the row's inputs, outputs and state cells.
TEST(CompilerTable, EveryParameterIsNamed) {
  for (int32_t callClass : {VM_CALL_STANDARD, VM_CALL_HOST}) {
    VmFunctionInfo f;
    for (int32_t i = 0; VmGetLibraryFunction(callClass, i, &f) == 1; ++i) {
      stc::Signature sig;
      ASSERT_TRUE(stc::signatureOf(f, sig)) << f.number;
      std::set<std::string> seen;
      for (const auto *list : {&sig.inputs, &sig.outputs, &sig.state})
        for (const stc::SignatureItem &item : *list) {
          EXPECT_TRUE(!item.name.empty() && std::isalpha(static_cast<unsigned char>(item.name[0])) &&
                      std::all_of(item.name.begin(), item.name.end(),
                                  [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }))
              << f.number << " " << f.name << ": '" << item.name << "' in " << f.signature;
          EXPECT_TRUE(seen.insert(item.name).second) << f.number << " " << f.name << " names " << item.name << " twice";
        }
    }
  }
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
  // GasFlowrate by name is the short result.
  const stc::HostFunction *flow = stc::findHostFunction("GASFLOWRATE");
  ASSERT_NE(flow, nullptr);
  EXPECT_EQ(flow->number, 6105);
}

// The compiler picks a typed family's variant by the type of its values, and
// knows which families take a selector.
TEST(CompilerTable, TypedFamiliesPickTheirVariantByType) {
  struct Typed {
    const char *name;
    int32_t dintNumber, realNumber;
    uint8_t minInputs, maxInputs, selectorType;  // 0: no selector
  } typed[] = {{"SEL", 1042, 1043, 3, 3, VM_TYPE_BOOL},
               {"MAX", 1052, 1053, 2, 32, 0},
               {"MIN", 1062, 1063, 2, 32, 0},
               {"LIMIT", 1072, 1073, 3, 3, 0},
               {"MUX", 1082, 1083, 2, 32, VM_TYPE_DINT}};
  for (const Typed &t : typed) {
    const stc::StandardFunction *f = stc::findStandardFunction(t.name);
    ASSERT_NE(f, nullptr) << t.name;
    EXPECT_EQ(stc::standardNumber(*f, VM_TYPE_DINT), t.dintNumber) << t.name;
    EXPECT_EQ(stc::standardNumber(*f, VM_TYPE_REAL), t.realNumber) << t.name;
    EXPECT_EQ(stc::standardNumber(*f, VM_TYPE_BOOL), t.dintNumber - 2) << t.name;
    EXPECT_EQ(stc::standardNumber(*f, VM_TYPE_DT), t.dintNumber + 4) << t.name;
    EXPECT_EQ(f->minInputs, t.minInputs) << t.name;
    EXPECT_EQ(f->maxInputs, t.maxInputs) << t.name;
    EXPECT_EQ(f->selector, t.selectorType ? 1 : 0) << t.name;
    if (t.selectorType) {
      EXPECT_EQ(f->selectorType, t.selectorType) << t.name;
    }
  }
}
