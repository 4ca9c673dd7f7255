// VmInitHostTypes, VmInitVarLinks and VmUpdateVarLinks over a host point
// database.
#include <gtest/gtest.h>

#include "builder/image_builder.h"
#include "hostrt/sys.h"
#include "sicvm/vm.h"
#include "support/log_capture.h"
#include "support/machine.h"
#include "support/points.h"

using namespace sicvm;
using namespace sicvm::build;

namespace {

// Records 1 and 4 carry ID 11, 2 ID 12, 5 ID 15; 3 is deleted; the null
// record 0 carries ID 99 (and never matches).
const char *kPoints = "0,99,LREAL,0,0,0\n1,11,LREAL,0,1,0\n2,12,DINT,0,2,0\n4,11,LREAL,0,4,0\n5,15,LREAL,0,5,0\n";

// Segment 0: vars 2..6 link IDs 11, 12, 13, 15, 99; var 7 has no ID but a
// stale index. Segment 1: var 2 links ID 12.
ImageBuilder linkProgram() {
  ImageBuilder b;
  auto linked = [](int32_t id, int32_t index = 0) {
    Var v(Value::lreal(0));
    v.pointId = id;
    v.pointIndex = index;
    return v;
  };
  uint32_t g0 = b.segment();
  for (int32_t id : {11, 12, 13, 15, 99}) b.var(g0, linked(id));
  b.var(g0, linked(0, 4));
  b.var(b.segment(1), linked(12));
  b.command(0);
  return b;
}

class Links : public ::testing::Test {
 protected:
  test::TestPoints points{kPoints};
  test::TestMachine m{linkProgram()};
  void SetUp() override {
    ASSERT_TRUE(points.ok() && m.ok());
    points.attach(m.get());
  }
  VmVarRecord &record(uint32_t segment, uint32_t var) { return m.image().varRecord(segment, var); }
  int32_t index(uint32_t segment, uint32_t var) { return record(segment, var).pointIndex; }
  std::string dropped(const char *var, int id) {
    return std::string("Program \"TEST\" (1): Variable ") + var + " point ID " + std::to_string(id) +
           " deleted, link deleted\n";
  }
};

TEST_F(Links, InitLinksEachVarToTheFirstLiveRecordWithItsId) {
  points.config(1).ownIndex = 0;  // deleted: ID 11 now lives only at 4
  test::LogCapture log(10);
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  const int32_t expected[] = {4, 2, 0, 5, 0, 0};
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(index(0, 2 + i), expected[i]) << "var " << 2 + i;
  EXPECT_EQ(index(1, 2), 2);
  EXPECT_EQ(m.state().statusFlags & 0x202u, 0x202u);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             dropped("0:00004", 13), dropped("0:00006", 99),
                             "Program \"TEST\" (1): Data segment 0 point links (3) init successful\n",
                             "Program \"TEST\" (1): Data segment 1 point links (1) init successful\n",
                             "Program \"TEST\" (1): Data segment points links already initialized\n"}));
  EXPECT_EQ(log.at(5).size(), 3u);
}

TEST_F(Links, WithoutTablesLinksWaitForThem) {
  record(0, 2).pointIndex = 7;
  m->pointValues = 0;
  test::LogCapture log(10);
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             "Program \"TEST\" (1): No external points specified, variables links will be disabled\n"}));
  EXPECT_EQ(index(0, 2), 7) << "indexes stay as the image holds them";
  points.attach(m.get());
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  EXPECT_EQ(index(0, 2), 1) << "the first of two records with ID 11";
}

TEST_F(Links, UpdateDropsLinksWhosePointHasGone) {
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  const_cast<VmStateBlock &>(m.state()).statusFlags = 0;
  points.config(1).ownIndex = 0;    // 0:2 -> deleted record
  points.config(2).pointId = 77;    // 0:3 -> another point now
  record(0, 5).pointIndex = points.count();  // beyond the table
  record(1, 2).pointIndex = -3;              // negative
  m->pointValues = 0;               // not needed
  test::LogCapture log(5);
  ASSERT_EQ(VmUpdateVarLinks(m.get()), 0);
  ASSERT_EQ(VmUpdateVarLinks(m.get()), 0);  // dropped links stay dropped, no relinking
  EXPECT_EQ(log.texts(), (std::vector<std::string>{dropped("0:00002", 11), dropped("0:00003", 12),
                                                   dropped("0:00005", 15), dropped("1:00002", 12)}));
  for (auto [s, v] : {std::pair{0u, 2u}, {0u, 3u}, {0u, 5u}, {1u, 2u}}) EXPECT_EQ(index(s, v), 0);
  EXPECT_EQ(m.state().statusFlags, uint32_t(VM_STATUS_LINK_DROPPED));
  record(0, 2).pointIndex = 1;
  m->pointConfig = 0;
  ASSERT_EQ(VmUpdateVarLinks(m.get()), 0);
  EXPECT_EQ(index(0, 2), 1) << "without a configuration table nothing is checked";
}

TEST_F(Links, HostTypesAndNullMachines) {
  test::LogCapture log(10);
  EXPECT_EQ(VmInitHostTypes(m.get()) + VmInitHostTypes(m.get()), 0);
  EXPECT_TRUE(m.state().statusFlags & VM_STATUS_HOST_TYPES);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{"Program \"TEST\" (1): Host types init successful\n",
                                                   "Program \"TEST\" (1): Host types already initialized\n"}));
  for (auto step : {VmInitHostTypes, VmInitTimers, VmInitVarLinks, VmUpdateVarLinks}) {
    _winseterrno(0);
    EXPECT_EQ(step(nullptr), -1);
    EXPECT_EQ(_wingeterrno(), 22);
  }
}

}  // namespace
