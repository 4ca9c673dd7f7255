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

// Points: 1 ID 11; 2 ID 12; 3 deleted; 4 ID 11 again (a later copy);
// 5 ID 15. Record 0 carries ID 99 (a null point never matches).
const char *kPoints =
    "0,99,LREAL,0,0,0\n"
    "1,11,LREAL,0,1,0\n"
    "2,12,DINT,0,2,0\n"
    "4,11,LREAL,0,4,0\n"
    "5,15,LREAL,0,5,0\n";

Var linked(int32_t pointId, int32_t pointIndex = 0) {
  Var v(Value::lreal(0));
  v.pointId = pointId;
  v.pointIndex = pointIndex;
  return v;
}

// Segment 0: vars 2..6 link IDs 11, 12, 13 (record 3 deleted, never
// existed under that ID), 15 and 99; var 7 has ID 0 but a stale index.
// Segment 1: var 2 links ID 12.
ImageBuilder linkProgram() {
  ImageBuilder b;
  uint32_t g = b.segment();
  for (int32_t id : {11, 12, 13, 15, 99}) b.var(g, linked(id));
  b.var(g, linked(0, 4));
  uint32_t s = b.segment(1);
  b.var(s, linked(12));
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
  int32_t index(uint32_t segment, uint32_t var) { return m.image().varRecord(segment, var).pointIndex; }
};

TEST_F(Links, InitLinksEachVarToTheFirstLiveRecordWithItsId) {
  test::LogCapture log(10);
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  const struct {
    uint32_t segment, var;
    int32_t index;
  } expected[] = {
      {0, 2, 1},  // ID 11: records 1 and 4, the lower wins
      {0, 3, 2},
      {0, 4, 0},  // ID 13: nowhere
      {0, 5, 5},
      {0, 6, 0},  // ID 99: only on record 0, which never matches
      {0, 7, 0},  // no ID: the stale index is cleared
      {1, 2, 2},
  };
  for (const auto &e : expected) EXPECT_EQ(index(e.segment, e.var), e.index) << e.segment << ":" << e.var;
  EXPECT_EQ(m.state().statusFlags & (VM_STATUS_LINKS | VM_STATUS_LINK_DROPPED),
            uint32_t(VM_STATUS_LINKS | VM_STATUS_LINK_DROPPED));
  EXPECT_EQ(log.texts(),
            (std::vector<std::string>{
                "Program \"TEST\" (1): Variable 0:00004 point ID 13 deleted, link deleted\n",
                "Program \"TEST\" (1): Variable 0:00006 point ID 99 deleted, link deleted\n",
                "Program \"TEST\" (1): Data segment 0 point links (3) init successful\n",
                "Program \"TEST\" (1): Data segment 1 point links (1) init successful\n"}));
  EXPECT_EQ(log.at(5).size(), 2u);

  log.clear();
  EXPECT_EQ(VmInitVarLinks(m.get()), 0);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{
                             "Program \"TEST\" (1): Data segment points links already initialized\n"}));
}

TEST_F(Links, DeletedRecordsNeverMatch) {
  points.config(1).ownIndex = 0;  // the first copy of ID 11 goes
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  EXPECT_EQ(index(0, 2), 4);
}

TEST_F(Links, WithoutTablesLinksWaitForThem) {
  test::LogCapture log(10);
  m.image().varRecord(0, 2).pointIndex = 7;
  m->pointValues = 0;
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{"Program \"TEST\" (1): No external points specified, "
                                                   "variables links will be disabled\n"}));
  EXPECT_EQ(index(0, 2), 7) << "indexes stay as the image holds them";
  EXPECT_EQ(m.state().statusFlags & VM_STATUS_LINKS, 0u);
  points.attach(m.get());
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  EXPECT_EQ(index(0, 2), 1);
}

TEST_F(Links, UpdateDropsLinksWhosePointHasGone) {
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  auto &state = const_cast<VmStateBlock &>(m.state());
  state.statusFlags &= ~uint32_t(VM_STATUS_LINK_DROPPED);
  // Var 0:2 -> point 1 deleted; 0:3 -> point 2 now carries another ID;
  // 0:5 -> index beyond the table; 1:2 -> negative index; 0:4 -> no link.
  points.config(1).ownIndex = 0;
  points.config(2).pointId = 77;
  m.image().varRecord(0, 5).pointIndex = points.count();
  m.image().varRecord(1, 2).pointIndex = -3;
  test::LogCapture log(5);
  ASSERT_EQ(VmUpdateVarLinks(m.get()), 0);
  EXPECT_EQ(log.texts(),
            (std::vector<std::string>{
                "Program \"TEST\" (1): Variable 0:00002 point ID 11 deleted, link deleted\n",
                "Program \"TEST\" (1): Variable 0:00003 point ID 12 deleted, link deleted\n",
                "Program \"TEST\" (1): Variable 0:00005 point ID 15 deleted, link deleted\n",
                "Program \"TEST\" (1): Variable 1:00002 point ID 12 deleted, link deleted\n"}));
  for (auto [s, v] : {std::pair{0u, 2u}, {0u, 3u}, {0u, 5u}, {1u, 2u}}) EXPECT_EQ(index(s, v), 0);
  EXPECT_TRUE(state.statusFlags & VM_STATUS_LINK_DROPPED);
  // Point 1 was deleted but ID 11 still lives at 4: the update does not relink.
  log.clear();
  ASSERT_EQ(VmUpdateVarLinks(m.get()), 0);
  EXPECT_EQ(index(0, 2), 0);
  EXPECT_TRUE(log.texts().empty());
}

TEST_F(Links, UpdateKeepsLiveLinksAndNeedsOnlyTheConfiguration) {
  ASSERT_EQ(VmInitVarLinks(m.get()), 0);
  m->pointValues = 0;
  ASSERT_EQ(VmUpdateVarLinks(m.get()), 0);
  EXPECT_EQ(index(0, 2), 1);
  EXPECT_EQ(index(1, 2), 2);
  m->pointConfig = 0;
  points.config(1).ownIndex = 0;
  ASSERT_EQ(VmUpdateVarLinks(m.get()), 0);
  EXPECT_EQ(index(0, 2), 1) << "without a configuration table nothing is checked";
}

TEST_F(Links, HostTypesMarkTheMachineOnce) {
  test::LogCapture log(10);
  EXPECT_EQ(VmInitHostTypes(m.get()), 0);
  EXPECT_EQ(VmInitHostTypes(m.get()), 0);
  EXPECT_TRUE(m.state().statusFlags & VM_STATUS_HOST_TYPES);
  EXPECT_EQ(log.texts(), (std::vector<std::string>{"Program \"TEST\" (1): Host types init successful\n",
                                                   "Program \"TEST\" (1): Host types already initialized\n"}));
}

TEST(SetUpSteps, NullMachineGivesErrorNumber22) {
  for (auto step : {VmInitHostTypes, VmInitTimers, VmInitVarLinks, VmUpdateVarLinks}) {
    _winseterrno(0);
    EXPECT_EQ(step(nullptr), -1);
    EXPECT_EQ(_wingeterrno(), 22);
  }
}

}  // namespace
