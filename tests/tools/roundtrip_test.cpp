// SPDX-License-Identifier: MIT
// The disassembler reproduces images byte for byte: generated programs over
// every command code and operand kind, odd layouts and header bytes, and the
// example sources (as plain lines).
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

// Disassembles, reassembles and compares; returns the source.
std::string expectRoundTrip(const std::vector<uint8_t> &image, const std::string &what) {
  std::string source, error;
  EXPECT_TRUE(disassemble(image, what, source, error)) << what << ": " << error;
  Assembly back = assemble(source, what);
  EXPECT_TRUE(back.ok()) << what << ": " << (back.ok() ? "" : back.errors[0].text()) << "\n" << source;
  EXPECT_TRUE(back.image == image) << what << "\n" << source;
  return source;
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
  b.array(Array{VM_TYPE_REAL, 1, 3, 1, {Value::real(1.25f), Value::real(-2.0f)}, 0});
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

TEST(RoundTrip, OddLayoutsAndHeaderBytes) {
  struct Case { const char *what; void (*shape)(ImageBuilder &); void (*poke)(ImageBytes &); } cases[] = {
      {"blocks in another order, unaligned",
       [](ImageBuilder &b) { b.gap(3).place(Block::Code, 4001).place(Block::Machine, 3001).tail(17); }, nullptr},
      {"replication data and reserved header bytes",
       [](ImageBuilder &b) { b.replication(40); },
       [](ImageBytes &img) {
         img.header().reserved8[3] = 7;
         img.header().reserved200[15] = 1;
         img.bytes[img.header().replicationOffset + 5] = 0xAB;
         img.machine().pointCount = 12;
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
    // Commands as the assembler writes them come back as plain lines, without raw fields.
    const std::string source = expectRoundTrip(a.image, name);
    for (const CommandKey &key : kCommandKeys)
      EXPECT_TRUE(key.callOnly || source.find(std::string(" ") + key.name + "=") == std::string::npos) << key.name;
    ++examples;
  }
  closedir(dir);
  EXPECT_GE(examples, 4);
}
