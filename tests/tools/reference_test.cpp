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
  // Every command of the table is there with its operands, and every library function with its
  // types and a block's cells.
  for (const char *line : {"| 32 | `add_dint` | `DST:DINT,SRC1:DINT,SRC2:DINT` | DST := SRC1 + SRC2 |",
                           "| 46 | `sub_dt` | `DST:TIME,SRC1:DT,SRC2:DT` |", "| `@stdlib.4531` | TON | IN BOOL, PT TIME | Q BOOL, ET TIME | 0 IN BOOL, 1 PT TIME, 2 Q BOOL, 3 ET TIME, "
                           "4 PRESET TIME, 5 ACCUMULATOR TIME, 6 M BOOL | yes |",
                           "| `@stdlib.1052` | MAX | IN DINT repeated (2 to 32 inputs in all) | OUT DINT |  | yes |",
                           "| `@stdlib.4523` | CTD | CD BOOL, LD BOOL, PV DINT | Q BOOL, CV DINT | 0 CD BOOL, 1 LD BOOL, "
                           "2 PV DINT, 3 Q BOOL, 4 CV DINT, 5 LOWER DINT, 6 M BOOL | yes |",
                           "| `@vellib.6052` | DtUnpack | DATE_TIME DT | DST BOOL, YEAR DINT, MONTH DINT, DAY DINT, HOUR DINT, "
                           "MINUTE DINT, SECOND DINT, MILLISECOND DINT |  | yes |",
                           "| `@vellib.6110` | GetBit16 | VALUE INT, BIT DINT | SET BOOL |  | yes |",
                           "| 201 | `set_ds` | `vars[S:00000]+K \\| SEGMENT` |"})
    EXPECT_NE(generated.out.find(line), std::string::npos) << line;
  EXPECT_EQ(sicvm("help nonsense").status, 1);
}
