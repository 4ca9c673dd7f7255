// docs/reference.md is what `sicvm help reference` generates from the
// library's tables: a change to a table without regenerating it fails here.
#include <gtest/gtest.h>

#include "tools/tool_process.h"

using namespace tooltest;

TEST(Reference, TheCheckedInReferenceIsTheGeneratedOne) {
  Result generated = sicvm("help reference");
  ASSERT_EQ(generated.status, 0);
  const std::string checkedIn = readAll(kExamples + "/../docs/reference.md");
  EXPECT_TRUE(generated.out == checkedIn)
      << "docs/reference.md is stale: regenerate it with\n  ./build/tools/sicvm/sicvm help reference > docs/reference.md";
  // Every command of the table is there with its operands, and every library function.
  for (const char *line : {"| 32 | `add_dint` | `DST:DINT,SRC1:DINT,SRC2:DINT` | DST := SRC1 + SRC2 |",
                           "| 46 | `sub_dt` | `DST:TIME,SRC1:DT,SRC2:DT` |", "| `@stdlib.4531` | TON | - | 2 | 2 | 3 |",
                           "| `@stdlib.1052` | MAX | DINT | 2..32 | 1 | 0 | yes |",
                           "| 201 | `set_ds` | `vars[S:00000]+K \\| SEGMENT` |"})
    EXPECT_NE(generated.out.find(line), std::string::npos) << line;
  EXPECT_EQ(sicvm("help nonsense").status, 1);
}
