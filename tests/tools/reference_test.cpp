// SPDX-License-Identifier: MIT
// doc/reference.md is what `sicvm help reference` generates from the
// library's tables: a change to a table without regenerating it fails here.
#include <gtest/gtest.h>

#include "tools/tool_process.h"

using namespace tooltest;

TEST(Reference, TheCheckedInReferenceIsTheGeneratedOne) {
  Result generated = sicvm("help reference");
  ASSERT_EQ(generated.status, 0);
  const std::string checkedIn = readAll(kExamples + "/../doc/reference.md");
  EXPECT_TRUE(generated.out == checkedIn)
      << "doc/reference.md is stale: regenerate it with\n  ./build/tools/sicvm/sicvm help reference > doc/reference.md";
  EXPECT_EQ(sicvm("help nonsense").status, 1);
}
