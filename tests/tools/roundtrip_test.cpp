// The disassembler reproduces images byte for byte: generated programs over
// every command code and operand kind, odd layouts, images with random bytes
// that set-up still accepts, and the example sources.
#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "asm/assembler.h"
#include "asm/disassembler.h"
#include "builder/image_builder.h"
#include "interp/command_table.h"
#include "sicvm/vm.h"

using namespace sicvm;
using namespace sicvm::assembly;
using namespace sicvm::build;

namespace {

bool setUpAccepts(std::vector<uint8_t> bytes) {
  VmMachine *machine = nullptr;
  return VmInitMachine(bytes.data(), static_cast<uint32_t>(bytes.size()), &machine) == 0;
}

// Disassembles, reassembles and compares.
void expectRoundTrip(const std::vector<uint8_t> &image, const std::string &what) {
  std::string source, error;
  ASSERT_TRUE(disassemble(image, what, source, error)) << what << ": " << error;
  Assembly back = assemble(source, what);
  ASSERT_TRUE(back.ok()) << what << ": " << back.errors[0].text() << "\n" << source;
  EXPECT_TRUE(back.image == image) << what << "\n" << source;
}

Operand randomOperand(std::mt19937 &rng) {
  static const uint8_t kinds[] = {0, 1, 1, 2, 2, 3, 4, 9, 255};
  Operand o;
  o.kind = kinds[rng() % sizeof kinds];
  o.cell.v.w[0] = rng() % 3 == 0 ? static_cast<uint32_t>(rng()) : rng() % 8;
  o.cell.v.w[1] = rng() % 3 == 0 ? static_cast<uint32_t>(rng()) : rng() % 8;
  if (rng() % 4 == 0) o.cell.v.f64 = std::ldexp(static_cast<double>(rng()), static_cast<int>(rng() % 80) - 40);
  if (rng() % 3 == 0) o.cell.type = static_cast<uint8_t>(rng() % 9);
  if (rng() % 8 == 0) o.cell.flags = static_cast<uint8_t>(rng());
  if (rng() % 16 == 0) o.cell.spare[1] = static_cast<uint8_t>(rng());
  return o;
}

ImageBuilder baseProgram() {
  ImageBuilder b;
  b.name("GEN").number(3);
  uint32_t g0 = b.segment();
  b.var(g0, Var(Value::lreal(0.5)));
  b.var(g0, Var(Value::time(2500)));
  uint32_t s1 = b.segment(0, 1);
  b.var(s1, Var(Value::boolean(true)));
  Array a;
  a.type = VM_TYPE_REAL;
  a.elementCount = 3;
  a.init = {Value::real(1.25f), Value::real(-2.0f)};
  b.array(a);
  return b;
}

}  // namespace

TEST(RoundTrip, EveryCommandCodeWithAssortedOperands) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 4; ++round) {
    ImageBuilder b = baseProgram();
    for (uint32_t code = 0; code < VM_COMMAND_CODES; ++code) {
      Command cmd;
      cmd.code = code;
      if (round == 1) cmd.code |= (rng() % 2 ? 0x80000000u : 0u) | ((rng() % 4) << 16);
      cmd.src1 = randomOperand(rng);
      cmd.src2 = randomOperand(rng);
      cmd.dst = randomOperand(rng);
      if (round == 2) cmd.reserved = static_cast<uint8_t>(rng());
      if (round == 3 && code == op("call")) cmd.src1.cell.v.w[1] = 0x100u << (rng() % 6) | (rng() % 4);
      b.command(cmd);
    }
    b.end();
    b.command(0x80000000u | 300);
    std::vector<uint8_t> image = b.build();
    ASSERT_TRUE(setUpAccepts(image));
    expectRoundTrip(image, "generated round " + std::to_string(round));
  }
}

TEST(RoundTrip, WellFormedCommandsNeedNoRawFields) {
  // Commands as the assembler writes them come back as plain lines.
  const char *lines[] = {
      "add_int          vars[1:00003],vars[1:00001],INT#5",
      "mov              LREAL#0.1,vars[0:00002]",
      "aget             vars[0:00007],arrays[vars[0:00001]+2][DINT#3]",
      "call             @stdlib.4531 type=2 first=5 nin=2 nout=2",
      "call             @00012",
      "timer_start      vars[0:00005],arrays[vars[0:00001]+1][DINT#2]",
      "if_ne            vars[0:00001],@00003",
      "set_ds           vars[0:00000]+2",
      "load_points      GDS",
      "end",
  };
  for (const char *line : lines) {
    VmCommand record{};
    std::string error;
    ASSERT_TRUE(assembleCommand(line, record, error)) << line << ": " << error;
    EXPECT_EQ(disassembleCommand(record), line);
  }
}

TEST(RoundTrip, OddLayoutsAndHeaderBytes) {
  struct Case {
    const char *what;
    void (*shape)(ImageBuilder &);
    void (*poke)(ImageBytes &);
  } cases[] = {
      {"unaligned gaps", [](ImageBuilder &b) { b.gap(3); }, nullptr},
      {"blocks in another order",
       [](ImageBuilder &b) {
         b.place(Block::Code, 4000).place(Block::Machine, 3000).tail(17);
       },
       nullptr},
      {"replication data and reserved header bytes",
       [](ImageBuilder &b) { b.replication(40); },
       [](ImageBytes &img) {
         img.header().reserved8[3] = 7;
         img.header().reserved200[15] = 1;
         img.bytes[img.header().replicationOffset + 5] = 0xAB;
         img.machine().pointCount = 12;
       }},
      {"compiler counts that set-up repairs",
       [](ImageBuilder &b) { b.compilerSegmentVarCount(99).compilerArrayVarCount(1); }, nullptr},
      {"var and array record bytes",
       nullptr,
       [](ImageBytes &img) {
         img.varRecord(0, 2).classByte |= 0xC0;
         img.varRecord(1, 0).cell = 1234;
         img.arrayRecord(0).reserved16[2] = 9;
         img.bytes[img.header().arrayVarsOffset + 12 + 1] = 1;  // cell flags of element 1
       }},
  };
  for (const Case &c : cases) {
    ImageBuilder b = baseProgram();
    b.command(op("ret"));
    if (c.shape) c.shape(b);
    ImageBytes img{b.build()};
    if (c.poke) c.poke(img);
    ASSERT_TRUE(setUpAccepts(img.bytes)) << c.what;
    expectRoundTrip(img.bytes, c.what);
  }
}

TEST(RoundTrip, ImagesWithRandomBytesThatSetUpAccepts) {
  ImageBuilder b = baseProgram();
  b.command(op("add_lreal"), g(2), c(Value::lreal(1.0)), g(2));
  b.command(op("ret"));
  const std::vector<uint8_t> original = b.build();
  std::mt19937 rng(99);
  int accepted = 0;
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> image = original;
    for (int k = 0; k < 8; ++k) image[VM_HEADER_SIZE + rng() % (image.size() - VM_HEADER_SIZE)] = static_cast<uint8_t>(rng());
    if (!setUpAccepts(image)) continue;
    ++accepted;
    expectRoundTrip(image, "mutation " + std::to_string(i));
  }
  EXPECT_GT(accepted, 100);
}

TEST(RoundTrip, ExampleSources) {
  DIR *dir = opendir(SICVM_EXAMPLES);
  ASSERT_NE(dir, nullptr);
  int examples = 0;
  while (dirent *entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() < 5 || name.substr(name.size() - 4) != ".asm") continue;
    std::ifstream in(std::string(SICVM_EXAMPLES) + "/" + name);
    std::stringstream text;
    text << in.rdbuf();
    Assembly a = assemble(text.str(), name);
    ASSERT_TRUE(a.ok()) << a.errors[0].text();
    ASSERT_TRUE(setUpAccepts(a.image)) << name;
    expectRoundTrip(a.image, name);
    ++examples;
  }
  closedir(dir);
  EXPECT_GE(examples, 4);
}
