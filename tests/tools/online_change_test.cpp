// SPDX-License-Identifier: MIT
// Online change (`sicvm run --reload`): what is carried between two compiled
// programs, a switch driven cycle by cycle in the process, and running
// `sicvm run` processes whose image is rebuilt under them.
#include <cstring>
#include <regex>

#include <gtest/gtest.h>

#include "runner/online_change.h"
#include "runner/state_carry.h"
#include "stc/compiler.h"
#include "tools/tool_process.h"

using namespace tooltest;
using sicvm::runner::CarryPlan;
using sicvm::runner::StateLayout;

namespace {

sicvm::stc::Compilation compiled(const std::string &source) {
  sicvm::stc::Compilation c = sicvm::stc::compile(source, "test.st");
  EXPECT_TRUE(c.ok()) << (c.rendered.empty() ? "" : c.rendered[0]);
  return c;
}

std::string program(const std::string &vars, const std::string &body) {
  return "PROGRAM P\nVAR\n" + vars + "END_VAR\n" + body + "END_PROGRAM\n";
}

// Writes IMAGE and its symbol file as `sicvm build` does: each through a
// temporary file and a rename.
void install(const std::string &image, const std::vector<uint8_t> &bytes, const std::string &symbolText) {
  write(image + ".new", std::string(bytes.begin(), bytes.end()));
  ASSERT_EQ(std::rename((image + ".new").c_str(), image.c_str()), 0);
  std::string sym = image.substr(0, image.size() - 4) + ".sym";
  write(sym + ".new", symbolText);
  ASSERT_EQ(std::rename((sym + ".new").c_str(), sym.c_str()), 0);
}

const StateLayout::Item *item(const StateLayout &layout, const std::string &name) {
  for (const auto &i : layout.items)
    if (i.name == name) return &i;
  return nullptr;
}

int32_t dintOf(const std::vector<uint8_t> &image, const StateLayout &layout, const std::string &name) {
  const StateLayout::Item *i = item(layout, name);
  EXPECT_NE(i, nullptr) << name;
  int32_t v = 0;
  if (i) std::memcpy(&v, image.data() + i->offset + 4, 4);
  return v;
}

double f64Of(const std::vector<uint8_t> &image, const StateLayout &layout, const std::string &name, uint32_t cell = 0) {
  const StateLayout::Item *i = item(layout, name);
  EXPECT_NE(i, nullptr) << name;
  double v = 0;
  if (i) std::memcpy(&v, image.data() + i->offset + cell * VM_CELL_SIZE + 4, 8);
  return v;
}

std::string joined(const std::vector<std::string> &names) {
  std::string out;
  for (const std::string &n : names) out += (out.empty() ? "" : ",") + n;
  return out;
}

}  // namespace

// What a pair of programs keeps, adds, drops and changes; the expected
// lists are read off the declarations.
TEST(OnlineChangePlan, ItemsAreMatchedByNameAndType) {
  struct Case {
    const char *what, *before, *after, *kept, *added, *dropped, *changed;
  };
  const Case cases[] = {
      {"one var more, one less", "a : DINT; b : INT;\n", "a : DINT; c : BOOL;\n", "a", "c", "b", ""},
      {"a type changes", "a : DINT; b : INT;\n", "a : DINT; b : DINT;\n", "a", "", "", "b (INT -> DINT)"},
      {"an array grows", "s : ARRAY [1..3] OF INT;\n", "s : ARRAY [1..4] OF INT;\n", "", "", "",
       "s (ARRAY[3] OF INT -> ARRAY[4] OF INT)"},
      {"a var becomes an array", "s : LREAL;\n", "s : ARRAY [0..1] OF LREAL;\n", "", "", "",
       "s (LREAL -> ARRAY[2] OF LREAL)"},
      {"vars move, arrays renumber", "a : INT; s : ARRAY [0..1] OF INT; u : ARRAY [0..2] OF DT; b : TIME;\n",
       "b : TIME; x : REAL; u : ARRAY [0..2] OF DT; a : INT;\n", "a,b,u", "x", "s", ""},
      {"an instance is inserted before another", "c : CTU;\n",
       "r : R_TRIG; c : CTU;\n", "blocks.c_CU,blocks.c_CV,blocks.c_M,blocks.c_PV,blocks.c_Q,blocks.c_R,blocks.c_UPPER",
       "blocks.r_CLK,blocks.r_M,blocks.r_Q", "", ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    auto before = compiled(program(c.before, ""));
    auto after = compiled(program(c.after, ""));
    StateLayout from, to;
    std::string error;
    ASSERT_TRUE(sicvm::runner::readLayout(before.image, before.symbolTable, from, error)) << error;
    ASSERT_TRUE(sicvm::runner::readLayout(after.image, after.symbolTable, to, error)) << error;
    CarryPlan plan = sicvm::runner::planCarry(from, to);
    EXPECT_EQ(joined(plan.kept), c.kept);
    EXPECT_EQ(joined(plan.added), c.added);
    EXPECT_EQ(joined(plan.dropped), c.dropped);
    EXPECT_EQ(joined(plan.changed), c.changed);
    EXPECT_EQ(plan.copies.size(), plan.kept.size());
  }
}

// A switch driven between cycles in this process, so that the cycles on
// either side are counted exactly: a CTU_DINT and a TON whose instance moves
// in the blocks segment (another instance is inserted before them), a DINT
// counted in other steps, an array whose cells are carried, a var that is
// new and one whose type changed.
TEST(OnlineChangeSwitch, CountersTimersAndArraysGoOnFromTheirValues) {
  const std::string v1 = program(
      "n : DINT; k : INT := 5; hist : ARRAY [0..2] OF LREAL; c : CTU_DINT; t : TON;\n",
      "n := n + 1; k := k + 1; hist[n MOD 3] := DINT_TO_LREAL(n) * 1.5;\n"
      "c(CU := NOT c.CU, PV := 1000); t(IN := TRUE, PT := T#1h);\n");
  const std::string v2 = program(
      "r : R_TRIG; n : DINT; fresh : DINT := 40; k : DINT := 9; hist : ARRAY [0..2] OF LREAL; c : CTU_DINT;"
      " t : TON;\n",
      "n := n + 10; fresh := fresh + 1; k := k + 1; r(CLK := TRUE); hist[0] := hist[0];\n"
      "c(CU := NOT c.CU, PV := 1000); t(IN := TRUE, PT := T#1h);\n");
  auto first = compiled(v1), second = compiled(v2);
  ASSERT_TRUE(first.ok() && second.ok());
  std::string image = temp("online_switch.sic");
  install(image, first.image, sicvm::symbols::writeSymbols(first.symbolTable));

  sicvm::runner::Session session(first.image);
  std::string error;
  ASSERT_EQ(session.setUp({}, error), sicvm::runner::SetUpResult::OK) << error;
  std::atomic<bool> hangup{false};
  sicvm::runner::OnlineChange online(session, {image, temp("online_switch.sym")}, {}, first.symbolTable, hangup, 10);
  ASSERT_TRUE(online.watching());
  for (int i = 0; i < 7; ++i) ASSERT_FALSE(session.runCycle().fatal());
  EXPECT_FALSE(online.switchIfReady(session));  // nothing was replaced

  install(image, second.image, sicvm::symbols::writeSymbols(second.symbolTable));
  // Cycles go on while the replacement is prepared; at most 5 s of them.
  int before = 7;
  bool switched = false;
  uint32_t clock = 0;
  int32_t cycles = 0;
  for (int i = 0; i < 500 && !switched; ++i) {
    clock = session.machine()->lastClock;
    cycles = session.machine()->cycleCount;
    switched = online.switchIfReady(session);
    if (!switched) {
      ASSERT_FALSE(session.runCycle().fatal());
      ++before;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ASSERT_TRUE(switched);
  // The timers' clock goes on from the last update of the first program
  // (not from the replacement's set-up), and so does the cycle count.
  EXPECT_EQ(session.machine()->lastClock, clock);
  EXPECT_EQ(session.machine()->cycleCount, cycles);
  EXPECT_EQ(cycles, before);
  StateLayout layout;
  ASSERT_TRUE(sicvm::runner::readLayout(session.image(), second.symbolTable, layout, error)) << error;
  // Carried as the last cycle of the first program left them.
  EXPECT_EQ(dintOf(session.image(), layout, "n"), before);
  int32_t hist = before % 3;
  EXPECT_EQ(f64Of(session.image(), layout, "hist", hist), before * 1.5);
  double elapsed = f64Of(session.image(), layout, "blocks.t_ET");
  EXPECT_GT(elapsed, 0.0);
  for (int i = 0; i < 3; ++i) ASSERT_FALSE(session.runCycle().fatal());
  EXPECT_EQ(dintOf(session.image(), layout, "n"), before + 30);
  EXPECT_EQ(dintOf(session.image(), layout, "fresh"), 43);  // new: from its initial value
  EXPECT_EQ(dintOf(session.image(), layout, "k"), 12);      // INT -> DINT: not carried
  // CU alternates, so CV counts every second cycle of both programs.
  EXPECT_EQ(dintOf(session.image(), layout, "blocks.c_CV"), (before + 3 + 1) / 2);
  EXPECT_GE(f64Of(session.image(), layout, "blocks.t_ET"), elapsed);  // the timer did not restart
}

namespace {

// A counter program: COUNT goes up by STEP each cycle and is written to
// point 1001; EXTRA is a var of this version only. COUNT starts from
// `initial`, so a count that was not carried shows as a jump.
std::string counterSource(int step, const std::string &extra, int initial) {
  return "PROGRAM COUNTER\nVAR\n  count AT %PQ1001 : DINT := " + std::to_string(initial) + ";\n  " + extra +
         " : INT;\nEND_VAR\ncount := count + " + std::to_string(step) + ";\n" + extra + " := " + extra +
         " + 1;\nEND_PROGRAM\n";
}

// The values of `count` each cycle, from the --watch table's change lines.
std::vector<int64_t> counts(const std::string &output) {
  std::vector<int64_t> out;
  static const std::regex change(R"(count +DINT#(-?\d+) +-> DINT#(-?\d+))");
  for (auto it = std::sregex_iterator(output.begin(), output.end(), change); it != std::sregex_iterator(); ++it)
    out.push_back(std::stoll((*it)[2]));
  return out;
}

struct Files {
  std::string dir = temp("online_") + std::to_string(getpid());
  std::string image = dir + "/counter.sic", st1 = dir + "/v1.st", st2 = dir + "/v2.st", points = dir + "/p.csv";
  Files() {
    std::filesystem::create_directories(dir);
    write(st1, counterSource(1, "gone", 0));
    write(st2, counterSource(10, "added", 1000000));
    write(points, "index,id,type,mode,value,status,name\n1,1001,DINT,0,0,0,COUNT\n");
  }
  ~Files() { std::filesystem::remove_all(dir); }
};

}  // namespace

// The user's path: the program is rebuilt over the running image, then three
// broken replacements are refused while it goes on, then a good one is taken.
TEST(OnlineChangeRun, ARebuiltProgramGoesOnAndBrokenOnesAreRefused) {
  Files f;
  ASSERT_EQ(tooltest::sicvm("build " + f.st1 + " -o " + f.image).status, 0);
  Background run({"run", f.image, "--reload", "--watch", "--log-level", "5", "--period", "20", "--cycles", "1500",
                  "--nvram", "none"},
                 f.dir + "/run.out");
  auto logged = [&](const std::string &text) {
    return eventually([&] { return run.output().find(text) != std::string::npos; });
  };
  ASSERT_TRUE(logged("cycle 5:")) << run.output();
  ASSERT_EQ(tooltest::sicvm("build " + f.st2 + " -o " + f.image).status, 0);
  ASSERT_TRUE(logged("[5] online change: 1 kept, 1 new, 1 dropped, 0 changed")) << run.output();

  // Not an image; an image that fails the code verifier (its symbol file
  // rewritten to match); an image whose symbol file is another image's.
  std::string built = readAll(f.image);
  std::vector<uint8_t> good(built.begin(), built.end());
  std::string symbols = readAll(f.dir + "/counter.sym");
  write(f.dir + "/junk", "not an image");
  ASSERT_EQ(std::rename((f.dir + "/junk").c_str(), f.image.c_str()), 0);
  ASSERT_TRUE(logged("counter.sic: image: ")) << run.output();

  std::vector<uint8_t> bad = good;
  const VmHeader &h = *reinterpret_cast<const VmHeader *>(bad.data());
  uint32_t unknown = 0x7FFF;
  std::memcpy(bad.data() + h.codeOffset, &unknown, 4);
  sicvm::symbols::SymbolTable table;
  std::string error;
  ASSERT_TRUE(sicvm::symbols::readSymbols(symbols, "counter.sym", table, error)) << error;
  table.imageHash = sicvm::symbols::imageHash(bad.data(), bad.size());
  install(f.image, bad, sicvm::symbols::writeSymbols(table));
  ASSERT_TRUE(logged("counter.sic: verify: verification failed: code")) << run.output();

  ASSERT_EQ(tooltest::sicvm("build " + f.st1 + " -o " + f.dir + "/other.sic").status, 0);
  std::filesystem::copy_file(f.dir + "/other.sic", f.image, std::filesystem::copy_options::overwrite_existing);
  ASSERT_TRUE(logged("counter.sym was written for other image bytes; the running program goes on"))
      << run.output();

  // A good replacement is still taken: the first version again, back to steps of 1.
  ASSERT_EQ(tooltest::sicvm("build " + f.st1 + " -o " + f.image).status, 0);
  const std::string changed = "[5] online change: 1 kept, 1 new, 1 dropped, 0 changed";
  ASSERT_TRUE(eventually([&] {
    std::string out = run.output();
    size_t second = out.rfind(changed);
    return second != out.find(changed) && out.find("cycle", second + changed.size()) != std::string::npos;
  })) << run.output();
  std::string output = run.output();
  EXPECT_EQ(run.stop(SIGTERM), 0);

  // The count never restarts or jumps: steps of 1, then of 10, then of 1.
  std::vector<int64_t> seen = counts(output);
  ASSERT_GT(seen.size(), 10u);
  std::vector<int64_t> steps;
  for (size_t i = 1; i < seen.size(); ++i) {
    int64_t step = seen[i] - seen[i - 1];
    EXPECT_TRUE(step == 1 || step == 10) << "from " << seen[i - 1] << " to " << seen[i];
    if (steps.empty() || steps.back() != step) steps.push_back(step);
  }
  EXPECT_EQ(steps, (std::vector<int64_t>{1, 10, 1}));
  EXPECT_EQ(output.find("cycle 1500:"), std::string::npos);  // stopped by the test, not by --cycles
}

// Under --shm the point tables stay the same across a change: `sicvm points`
// keeps reading them and sees the count go on.
TEST(OnlineChangeRun, PointsWatchedFromOutsideGoOnAcrossTheChange) {
  Files f;
  std::string shm = "sicvm_online_" + std::to_string(getpid());
  ASSERT_EQ(tooltest::sicvm("build " + f.st1 + " -o " + f.image).status, 0);
  Background run({"run", f.image, "--reload", "--log-level", "5", "--points", f.points, "--shm", shm, "--period",
                  "20", "--cycles", "1500", "--nvram", "none"},
                 f.dir + "/run.out");
  auto value = [&]() -> int64_t {
    Result r = tooltest::sicvm("points list " + shm);
    std::smatch m;
    static const std::regex row(R"(1001\s+COUNT\s+DINT\s+(-?\d+))");
    return std::regex_search(r.out, m, row) ? std::stoll(m[1]) : -1;
  };
  ASSERT_TRUE(eventually([&] { return value() >= 5; })) << run.output() << tooltest::sicvm("points list " + shm).out;
  int64_t before = value();
  ASSERT_EQ(tooltest::sicvm("build " + f.st2 + " -o " + f.image).status, 0);
  ASSERT_TRUE(eventually([&] { return run.output().find("online change: 1 kept") != std::string::npos; }))
      << run.output();
  int64_t at = value();
  ASSERT_TRUE(eventually([&] { return value() >= at + 30; }));
  int64_t later = value();
  EXPECT_EQ(run.stop(SIGTERM), 0);
  // Every cycle after the switch adds 10, so the two readings differ by a
  // multiple of 10; a count that was not carried would be above 1000000.
  EXPECT_GE(at, before);
  EXPECT_LT(later, 1000000);
  EXPECT_EQ((later - at) % 10, 0) << at << " " << later;
}

// SIGHUP tries the files as they are: the same program again keeps all it
// has. Without a symbol file of the image, --reload is refused at start.
TEST(OnlineChangeRun, HangupReloadsAtOnceAndAMissingSymbolFileIsRefused) {
  Files f;
  ASSERT_EQ(tooltest::sicvm("build " + f.st1 + " -o " + f.image).status, 0);
  {
    Background run({"run", f.image, "--reload", "--log-level", "5", "--period", "20", "--cycles", "1500", "--nvram",
                    "none"},
                   f.dir + "/run.out");
    ASSERT_TRUE(eventually([&] { return run.output().find("cycle 3:") != std::string::npos; })) << run.output();
    kill(run.pid(), SIGHUP);
    ASSERT_TRUE(eventually([&] {
      return run.output().find("[5] online change: 2 kept, 0 new, 0 dropped, 0 changed") != std::string::npos;
    })) << run.output();
    EXPECT_EQ(run.stop(SIGTERM), 0);
  }
  std::filesystem::remove(f.dir + "/counter.sym");
  Result r = tooltest::sicvm("run " + f.image + " --reload --cycles 1 --nvram none");
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("--reload needs the symbol file of the image: cannot read " + f.dir + "/counter.sym"),
            std::string::npos)
      << r.out;
}
